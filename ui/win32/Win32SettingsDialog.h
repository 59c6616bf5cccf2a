// The settings dialog "Varnelの詳細設定" on Windows: a modeless, topmost dialog window with a fixed
// frame, laid out from ui/layout/SettingsLayout.h. It forwards its events to the rules in
// editing/SettingsDialogRules.h. A dialog lives for one opening: closing it by any means runs the close
// handling once, and the next opening creates a new one.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "core/AppContext.h"
#include "editing/SettingsDialogRules.h"
#include "ui/hosts/DialogHosts.h"

namespace varnel {

class Win32SettingsDialog : public settings::Controls {
  public:
    // Builds the dialog at its design position (moved onto the visible screen where needed) and
    // fills it from the state. Not shown yet. `owner` (a hidden window) keeps it out of the taskbar.
    Win32SettingsDialog(AppContext& ctx, HWND owner, std::function<void()> onClosed);
    ~Win32SettingsDialog() override;
    Win32SettingsDialog(const Win32SettingsDialog&) = delete;
    Win32SettingsDialog& operator=(const Win32SettingsDialog&) = delete;

    HWND window() const { return window_; }
    // A control by its id (ControlIds.h).
    HWND control(int id) const { return GetDlgItem(window_, id); }
    bool isClosing() const { return closing_; }
    bool isClosed() const { return closed_; }
    // Runs the close handling once (OK, Cancel, the close box, the main window's unloading) and
    // hides the dialog.
    void close();

    // settings::Controls
    bool sendModeSelected(SendMethod mode) const override;
    void selectSendMode(SendMethod mode) override;
    bool displaySizeSelected(DisplaySize size) const override;
    void selectDisplaySize(DisplaySize size) override;
    bool captureChecked() const override;
    void setCaptureChecked(bool checked) override;
    std::u16string rotationCountBoxText() const override;
    void setRotationCountBoxText(const std::u16string& text) override;
    void unload() override { close(); }

    LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    void createControls();
    void applyDpi(int dpi);
    void placeRotationLabel();
    void drawRotationLabel(const DRAWITEMSTRUCT& item);
    bool optionSelected(int firstId, int count, int index) const;
    void selectOption(int firstId, int count, int index);

    SettingsDialogHandlers handlers_;
    std::function<void()> onClosed_;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    HFONT comboFont_ = nullptr;
    int dpi_ = 96;
    bool closing_ = false;
    bool closed_ = false;
};

// Owns the settings dialog for the main window: creates it at the settings button's first press,
// brings it to the front at later presses while it is open, and destroys it after it closed, so that
// every opening starts from the current settings.
class Win32SettingsDialogHost : public SettingsDialogHostBase<Win32SettingsDialog> {
  public:
    explicit Win32SettingsDialogHost(AppContext& ctx) : SettingsDialogHostBase(ctx) {}
    ~Win32SettingsDialogHost() override;

    // Destroys a dialog that has closed (posted to the main window after a close).
    void reap();

  private:
    void load() override;
    void show() override;
    WindowHandle nativeHandle() override;

    std::vector<std::unique_ptr<Win32SettingsDialog>> closed_;
    HWND hiddenOwner_ = nullptr;
};

}  // namespace varnel
