#include "editing/EditDialogRules.h"

#include <string>

#include "core/Startup.h"
#include "delivery/Delivery.h"

namespace varnel {

namespace {

std::u16string Decimal(std::int16_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string EditDialogCaption(std::int16_t slot) {
    return u"テキストの編集（" + Decimal(slot) + u"）";
}

void EditDialogHandlers::OpenEditDialog(std::int16_t index) {
    if (unloaded_) {
        return;
    }
    if (closing_) {
        // The dialog is on its way out; it opens again for this slot once it has gone.
        pendingOpening_ = index;
        return;
    }
    const bool open = dialog_.isLoaded();

    SaveTargetForDialog(ctx_.state, open ? std::optional(dialog_.nativeHandle()) : std::nullopt);

    // Show the dialog, creating it first when it does not exist. An open dialog is refilled and,
    // since it may be minimized or covered, also brought to the front and activated: the user has
    // just asked to edit a slot and should see the dialog that edits it.
    if (!open) {
        dialog_.load();
        dialog_.show();
        FillEditDialog();
    } else {
        dialog_.show();
        dialog_.activate();
    }
    ctx_.mainState.EditDialogWindow = dialog_.nativeHandle();  // the tick may make it the target

    // Caption, the slot's text, and the slot number.
    dialog_.setCaption(EditDialogCaption(index));
    dialog_.setText(ctx_.mainWindow.sharedText(index));
    dialog_.setEditedSlot(index);
}

void EditDialogHandlers::FillEditDialog() {
    // The dialog stays above every window that is not topmost. The window system is asked once the
    // dialog is shown: a request for a window that is not mapped yet may go unheard. (The Qt dialog
    // also asks for the topmost layer when it is created, so it is never shown below it.)
    SetZOrder(ctx_.platform.windows, dialog_.nativeHandle(), ZOrderMode::Topmost);
}

void EditDialogHandlers::StoreEditedSlot() {
    if (closing_ || !dialog_.isLoaded()) {
        return;
    }
    // Whatever the slot holds now (a capture may have written into it meanwhile) is replaced.
    if (const auto slot = dialog_.editedSlot()) {
        ctx_.mainWindow.setSharedText(*slot, dialog_.sharedText());
    }
    close();
}

void EditDialogHandlers::CancelEdit() {
    close();
}

void EditDialogHandlers::close() {
    if (closing_ || !dialog_.isLoaded()) {
        return;
    }
    closing_ = true;
    ReturnFocusFromDialog(ctx_);
    dialog_.destroy();
    closing_ = false;

    if (pendingOpening_) {
        const std::int16_t index = *pendingOpening_;
        pendingOpening_.reset();
        OpenEditDialog(index);
    }
}

void EditDialogHandlers::unload() {
    unloaded_ = true;
    pendingOpening_.reset();
    close();
}

}  // namespace varnel
