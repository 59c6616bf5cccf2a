#include "ui/settings/SettingsDialogHost.h"

#include <QTimer>

#include "ui/common/SizeHints.h"

namespace varnel {

SettingsDialogHost::SettingsDialogHost(AppContext& ctx) : SettingsDialogHostBase(ctx) {}

SettingsDialogHost::~SettingsDialogHost() = default;

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
