// What the dialog hosts of every front end share: holding the dialog of the current opening and
// forwarding the handlers' questions to it. A host adds what its window system does differently
// (creating, showing, activating and destroying the window).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/AppContext.h"
#include "editing/EditDialogRules.h"
#include "editing/SettingsDialogRules.h"

namespace varnel {

// The edit dialog's host: DialogWindow has text(), sharedText(), setText(SharedText), editedSlot() and
// setEditedSlot(). The dialog exists while it is open.
template <class DialogWindow>
class EditDialogHostBase : public EditDialogView {
  public:
    explicit EditDialogHostBase(AppContext& ctx) : ctx_(ctx), handlers_(ctx, *this) {}
    EditDialogHostBase(const EditDialogHostBase&) = delete;
    EditDialogHostBase& operator=(const EditDialogHostBase&) = delete;

    // A slot's double-click or F2.
    void OpenEditDialog(std::int16_t index) { handlers_.OpenEditDialog(index); }
    // The main window's unload: an open dialog closes as with キャンセル.
    void unload() { handlers_.unload(); }
    // The open dialog; null while it is closed.
    DialogWindow* dialog() const { return dialog_.get(); }

    // EditDialogView
    bool isLoaded() const override { return dialog_ != nullptr; }
    std::u16string text() const override { return dialog_ ? dialog_->text() : std::u16string{}; }
    SharedText sharedText() const override { return dialog_ ? dialog_->sharedText() : SharedText{}; }
    void setText(SharedText text) override {
        if (dialog_) {
            dialog_->setText(std::move(text));
        }
    }
    std::optional<std::int16_t> editedSlot() const override {
        return dialog_ ? std::optional<std::int16_t>(dialog_->editedSlot()) : std::nullopt;
    }
    void setEditedSlot(std::int16_t slot) override {
        if (dialog_) {
            dialog_->setEditedSlot(slot);
        }
    }

  protected:
    AppContext& ctx_;
    EditDialogHandlers handlers_;
    std::unique_ptr<DialogWindow> dialog_;
};

// The settings dialog's host: DialogWindow has close(), isClosing() and isClosed(). A dialog that
// has closed stays with the host until the host destroys it.
template <class DialogWindow>
class SettingsDialogHostBase : private settings::Dialog {
  public:
    explicit SettingsDialogHostBase(AppContext& ctx) : ctx_(ctx) {}
    SettingsDialogHostBase(const SettingsDialogHostBase&) = delete;
    SettingsDialogHostBase& operator=(const SettingsDialogHostBase&) = delete;

    // The main window's settings button.
    void OpenSettingsDialog() { varnel::OpenSettingsDialog(ctx_, *this); }
    // The main window's unloading: closes an open dialog, running its close handling. Nothing
    // happens when no dialog is loaded or the dialog is closing already.
    void unload() {
        if (!dialog_ || dialog_->isClosing()) {
            return;
        }
        dialog_->close();
        // The close handling has run to its end; nothing of the dialog is on the stack any more.
        dialog_.reset();
    }
    // The loaded dialog (also while its close handling runs); null when there is none.
    DialogWindow* dialog() const { return isLoaded() ? dialog_.get() : nullptr; }

  protected:
    bool isLoaded() const override { return dialog_ && !dialog_->isClosed(); }

    AppContext& ctx_;
    std::unique_ptr<DialogWindow> dialog_;
};

}  // namespace varnel
