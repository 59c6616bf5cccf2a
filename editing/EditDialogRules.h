// The slot edit dialog: opening it on a slot's double-click, storing its text back with
// "Ｏ Ｋ", and closing it, whatever closes it, through the dialogs' close handler.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/AppContext.h"

namespace varnel {

// The edit dialog as its handlers see it. The dialog exists only while it is open: it is created at an
// opening and destroyed, with its caption, text and slot number, when it closes. The Qt dialog host
// implements this; tests fake it.
class EditDialogView {
  public:
    virtual ~EditDialogView() = default;

    // Whether the dialog exists (is open) now.
    virtual bool isLoaded() const = 0;
    // Creates the dialog, not yet visible. Only called while it is not loaded.
    virtual void load() = 0;
    // Shows the dialog modeless, with no owner window.
    virtual void show() = 0;
    // Restores the dialog if it is minimized, brings it to the front and makes it the active window.
    virtual void activate() = 0;
    // The dialog's top-level window; only called while it is loaded.
    virtual WindowHandle nativeHandle() = 0;

    virtual void setCaption(const std::u16string& caption) = 0;
    // The text of the dialog's text box, whole.
    virtual std::u16string text() const = 0;
    // The same as a shared string: the very one setText() gave while the text is unedited.
    virtual SharedText sharedText() const { return SharedText(text()); }
    // Gives the dialog's text box this text, shared.
    virtual void setText(SharedText text) = 0;
    // The number of the slot being edited; none while the dialog does not exist.
    virtual std::optional<std::int16_t> editedSlot() const = 0;
    virtual void setEditedSlot(std::int16_t slot) = 0;

    // Destroys the dialog at once, without any closing handling of its own.
    virtual void destroy() = 0;
};

// "テキストの編集（3）" for slot 3: the dialog's caption while it edits that slot.
std::u16string EditDialogCaption(std::int16_t slot);

// The handlers of the edit dialog and of the slots' double-click that opens it.
//
// Every close (Ｏ Ｋ, キャンセル, the close box, the main window's unload) goes through close(), which
// runs the dialogs' close handler (ReturnFocusFromDialog) exactly once and then destroys the dialog. The
// close handler yields to the event pump while it returns the focus; what arrives meanwhile is handled
// so that the dialog still closes once: another close request or a click on Ｏ Ｋ is ignored, and a
// double-click on a slot opens the dialog anew as soon as the running close is done.
class EditDialogHandlers {
  public:
    EditDialogHandlers(AppContext& ctx, EditDialogView& dialog) : ctx_(ctx), dialog_(dialog) {}

    // Opens the dialog for slot `index`, creating it on first use; an open dialog is refilled with the
    // chosen slot and brought to the front.
    void OpenEditDialog(std::int16_t index);
    // "Ｏ Ｋ": the slot being edited receives the dialog's whole text, then the dialog closes.
    void StoreEditedSlot();
    // "キャンセル": closes the dialog; the slot keeps its text.
    void CancelEdit();
    // Closes the dialog the way キャンセル does: the close box and everything else that closes it.
    // Nothing happens when it is not open.
    void close();
    // The main window's unload: closes the dialog, and no opening follows any more.
    void unload();

    bool closing() const { return closing_; }

  private:
    void FillEditDialog();

    AppContext& ctx_;
    EditDialogView& dialog_;
    bool closing_ = false;
    bool unloaded_ = false;
    std::optional<std::int16_t> pendingOpening_;
};

}  // namespace varnel
