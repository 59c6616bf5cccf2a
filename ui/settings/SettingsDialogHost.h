// Owns the settings dialog for the main window: creates it at the settings button's first press,
// brings it to the front at later presses while it is open, and destroys it after it closed, so that
// every opening starts from the current settings.
#pragma once

#include <QObject>
#include <memory>

#include "core/AppContext.h"
#include "editing/SettingsDialogRules.h"
#include "ui/settings/SettingsDialog.h"

namespace varnel {

class SettingsDialogHost : private settings::Dialog {
  public:
    explicit SettingsDialogHost(AppContext& ctx);
    ~SettingsDialogHost() override;
    SettingsDialogHost(const SettingsDialogHost&) = delete;
    SettingsDialogHost& operator=(const SettingsDialogHost&) = delete;

    // The main window's settings button.
    void OpenSettingsDialog();
    // The main window's unloading: closes an open dialog, running its close handling. Nothing
    // happens when no dialog is loaded or the dialog is closing already.
    void unload();
    // The loaded dialog (also while its close handling runs); null when there is none.
    SettingsDialog* dialog() const;

  private:
    bool isLoaded() const override;
    void load() override;
    void show() override;
    WindowHandle nativeHandle() override;
    void destroyClosed();

    AppContext& ctx_;
    std::unique_ptr<SettingsDialog> dialog_;
    QObject lifetime_;  // context of the deferred destruction; gone with the host
};

}  // namespace varnel
