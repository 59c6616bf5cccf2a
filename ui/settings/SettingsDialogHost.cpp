#include "ui/settings/SettingsDialogHost.h"

#include <QTimer>

#include "ui/common/SizeHints.h"

namespace varnel {

SettingsDialogHost::SettingsDialogHost(AppContext& ctx) : ctx_(ctx) {}

SettingsDialogHost::~SettingsDialogHost() = default;

void SettingsDialogHost::OpenSettingsDialog() {
    varnel::OpenSettingsDialog(ctx_, *this);
}

void SettingsDialogHost::unload() {
    if (!dialog_ || dialog_->isClosing()) {
        return;
    }
    dialog_->close();
    // The close handling has run to its end; nothing of the dialog is on the stack any more.
    dialog_.reset();
}

SettingsDialog* SettingsDialogHost::dialog() const {
    return isLoaded() ? dialog_.get() : nullptr;
}

bool SettingsDialogHost::isLoaded() const {
    return dialog_ && !dialog_->isClosed();
}

void SettingsDialogHost::load() {
    dialog_ = std::make_unique<SettingsDialog>(ctx_);
    QObject::connect(dialog_.get(), &SettingsDialog::closed, &lifetime_, [this] {
        // Not while the dialog's own close is still unwinding: once the event loop is back.
        QTimer::singleShot(0, &lifetime_, [this] { destroyClosed(); });
    });
}

void SettingsDialogHost::show() {
    const bool shown = dialog_->isVisible();
    if (!shown) {
        KeepBaseSizeSound(*dialog_);
    }
    dialog_->show();
    if (shown) {
        dialog_->raise();
    }
}

WindowHandle SettingsDialogHost::nativeHandle() {
    return static_cast<WindowHandle>(dialog_->winId());
}

void SettingsDialogHost::destroyClosed() {
    if (dialog_ && dialog_->isClosed()) {
        dialog_.reset();
    }
}

}  // namespace varnel
