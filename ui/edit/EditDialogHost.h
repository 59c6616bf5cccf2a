// Owns the edit dialog for the main window: creates the Qt dialog when a slot is double-clicked, connects its
// buttons and close box to the handlers, and destroys it when it closes.
#pragma once

#include <cstdint>
#include <memory>

#include "core/AppContext.h"
#include "editing/EditDialogRules.h"
#include "ui/edit/EditDialog.h"

namespace varnel {

class EditDialogHost : public EditDialogView {
  public:
    explicit EditDialogHost(AppContext& ctx);
    ~EditDialogHost() override;
    EditDialogHost(const EditDialogHost&) = delete;
    EditDialogHost& operator=(const EditDialogHost&) = delete;

    // A slot's double-click or F2 (SlotEdit::editRequested).
    void OpenEditDialog(std::int16_t index) { handlers_.OpenEditDialog(index); }
    // The main window's unload: an open dialog closes as with キャンセル.
    void unload() { handlers_.unload(); }
    // The open dialog; null while it is closed.
    EditDialog* dialog() const { return dialog_.get(); }
    EditDialogHandlers& handlers() { return handlers_; }

    // EditDialogView
    bool isLoaded() const override { return dialog_ != nullptr; }
    void load() override;
    void show() override;
    void activate() override;
    WindowHandle nativeHandle() override;
    void setCaption(const std::u16string& caption) override;
    std::u16string text() const override;
    SharedText sharedText() const override;
    void setText(SharedText text) override;
    std::optional<std::int16_t> editedSlot() const override;
    void setEditedSlot(std::int16_t slot) override;
    void destroy() override;

  private:
    AppContext& ctx_;
    EditDialogHandlers handlers_;
    std::unique_ptr<EditDialog> dialog_;
};

}  // namespace varnel
