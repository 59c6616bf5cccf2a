#include "ui/edit/EditDialogHost.h"

#include "ui/common/SizeHints.h"
#include "ui/common/Text.h"

namespace varnel {

EditDialogHost::EditDialogHost(AppContext& ctx) : ctx_(ctx), handlers_(ctx, *this) {}

EditDialogHost::~EditDialogHost() = default;

void EditDialogHost::load() {
    dialog_ = std::make_unique<EditDialog>();
    EditDialog* dialog = dialog_.get();
    // The dialog is the context of every connection, so none outlives it.
    QObject::connect(dialog->okButton(), &QPushButton::clicked, dialog,
                     [this] { handlers_.StoreEditedSlot(); });
    QObject::connect(dialog->cancelButton(), &QPushButton::clicked, dialog,
                     [this] { handlers_.CancelEdit(); });
    QObject::connect(dialog, &EditDialog::closeRequested, dialog, [this] { handlers_.close(); });
}

void EditDialogHost::show() {
    if (dialog_) {
        if (!dialog_->isVisible()) {
            // Without it a tiling manager would tile the dialog; a failure leaves it to the manager.
            (void)ctx_.platform.windows.keepFloating(static_cast<WindowHandle>(dialog_->winId()));
            KeepBaseSizeSound(*dialog_);
        }
        dialog_->show();
    }
}

void EditDialogHost::activate() {
    if (!dialog_) {
        return;
    }
    if (dialog_->isMinimized()) {
        dialog_->setWindowState(dialog_->windowState() & ~Qt::WindowMinimized);
    }
    dialog_->raise();
    dialog_->activateWindow();
}

WindowHandle EditDialogHost::nativeHandle() {
    return dialog_ ? static_cast<WindowHandle>(dialog_->winId()) : 0;
}

void EditDialogHost::setCaption(const std::u16string& caption) {
    if (dialog_) {
        dialog_->setWindowTitle(ToQString(caption));
    }
}

std::u16string EditDialogHost::text() const {
    return dialog_ ? dialog_->text() : std::u16string{};
}

SharedText EditDialogHost::sharedText() const {
    return dialog_ ? dialog_->sharedText() : SharedText{};
}

void EditDialogHost::setText(SharedText text) {
    if (dialog_) {
        dialog_->setText(std::move(text));
    }
}

std::optional<std::int16_t> EditDialogHost::editedSlot() const {
    if (!dialog_) {
        return std::nullopt;
    }
    return dialog_->editedSlot();
}

void EditDialogHost::setEditedSlot(std::int16_t slot) {
    if (dialog_) {
        dialog_->setEditedSlot(slot);
    }
}

void EditDialogHost::destroy() {
    if (!dialog_) {
        return;
    }
    dialog_->hide();
    // A close may come from inside one of the dialog's own event handlers (a button's click, the close
    // box), so the widget is deleted once control is back in the event loop. It counts as closed from
    // now on.
    dialog_.release()->deleteLater();
}

}  // namespace varnel
