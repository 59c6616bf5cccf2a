// Owns the settings dialog for the main window: creates it at the settings button's first press,
// brings it to the front at later presses while it is open, and destroys it after it closed, so that
// every opening starts from the current settings.
#pragma once

#include <QObject>

#include "core/AppContext.h"
#include "ui/hosts/DialogHosts.h"
#include "ui/settings/SettingsDialog.h"

namespace varnel {

class SettingsDialogHost : public SettingsDialogHostBase<SettingsDialog> {
  public:
    explicit SettingsDialogHost(AppContext& ctx);
    ~SettingsDialogHost() override;

  private:
    void load() override;
    void show() override;
    WindowHandle nativeHandle() override;
    void destroyClosed();

    QObject lifetime_;  // context of the deferred destruction; gone with the host
};

}  // namespace varnel
