#include "ui/edit/EditDialogHost.h"

#include "ui/common/SizeHints.h"
#include "ui/common/Text.h"

namespace varnel {

EditDialogHost::EditDialogHost(AppContext& ctx) : EditDialogHostBase(ctx) {}

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
