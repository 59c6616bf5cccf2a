// The docked main window on Windows: the top row of buttons, the ten slot rows and the tick. Like
// its Qt sibling (ui/main/MainWindow) it builds the controls from the layout table and forwards every
// event to the behaviour; it holds no rules itself. Controls carry the ids of ControlIds.h.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "core/AppContext.h"
#include "core/AppWindows.h"
#include "editing/SlotMenu.h"
#include "platform/win32/Win32TickTimer.h"
#include "ui/win32/Win32EditDialog.h"
#include "ui/win32/Win32SettingsDialog.h"

namespace varnel {

class Win32SlotMenu;

class Win32MainWindow : public MainWindowView, public SecondaryWindows {
  public:
    // Creates the window (not shown yet) with its controls; the tick timer runs from here on.
    Win32MainWindow(AppState& state, MainWindowState& members);
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // Connects the behaviour to the platform services. Must come before load().
    void attach(Platform& platform);
    // Runs start-up (LoadMainWindow); the window shows itself during it. Fails when the named slot
    // file could not be loaded.
    Status load();
    AppContext& context() { return *context_; }
    Win32TickTimer& tickTimer() { return *timer_; }
    HWND window() const { return window_; }
    // A control by its id (ControlIds.h).
    HWND control(int id) const { return GetDlgItem(window_, id); }
    int dpi() const { return dpi_; }
    // Another application changed the clipboard (called on this window's thread).
    void clipboardChanged();
    // The open dialogs, else null.
    Win32EditDialog* editDialog() const { return editDialog_ ? editDialog_->dialog() : nullptr; }
    Win32SettingsDialog* settingsDialog() const { return settings_ ? settings_->dialog() : nullptr; }
    // Whether a slot shows only the beginning of its text (and is read-only meanwhile).
    bool slotShowsPart(int index) const { return validSlot(index) && slots_[index].showsPart; }

    // MainWindowView
    std::u16string text(std::int16_t index) const override;
    bool setText(std::int16_t index, const std::u16string& text) override;
    SharedText sharedText(std::int16_t index) const override;
    bool setSharedText(std::int16_t index, const SharedText& text) override;
    bool setBackground(std::int16_t index, SlotBackground colour) override;
    WindowHandle nativeHandle() override;
    void setLeft(double twips) override;
    void show() override;
    double outerWidthTwips() const override;
    double outerHeightTwips() const override;
    void setOuterWidthTwips(double twips) override;
    void setOuterHeightTwips(double twips) override;
    bool isMinimized() const override;
    void setSlotWidth(std::int16_t index, double twips) override;
    void reportKeyFailure(const std::string& why) override;
    void reportPastedInsteadOfTyped(const std::string& why) override;
    void reportClipboardFailure(const std::string& why) override;

    // SecondaryWindows
    void unloadSlotMenu() override;
    void unloadSettingsDialog() override;
    void unloadEditDialog() override;

    // The capture colour &HC0FFFF.
    static constexpr COLORREF CaptureColour = RGB(0xFF, 0xFF, 0xC0);
    // Posted to the main window: dialogs closed meanwhile are destroyed.
    static constexpr UINT ReapClosedDialogs = WM_APP + 1;
    // Posted to the main window: another application changed the clipboard.
    static constexpr UINT ClipboardChangedMessage = WM_APP + 2;

  private:
    struct Slot {
        HWND box = nullptr;
        SharedText exact;
        bool showsPart = false;
        bool setting = false;
        bool capture = false;
        double widthTwips = 0;
    };

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK slotProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleSlot(int index, UINT message, WPARAM wParam, LPARAM lParam);
    static bool validSlot(int index) { return index >= 1 && index <= 10; }
    void createControls();
    void applyDpi();
    void layoutControls();
    void showOnlyControlsInView();
    void onCommand(int id, int code);
    void onSlotPressed(int index, MouseButton button, POINT at);
    void onSlotEdited(int index);
    void close();
    // Shows a failure of a delivery in the one notice, headline first.
    void showFailure(const wchar_t* headline, const std::string& why);
    int px(double twips) const;
    double twips(double pixels) const;
    RECT clientRect() const;

    AppState& state_;
    MainWindowState& members_;
    HWND window_ = nullptr;
    HWND tooltips_ = nullptr;
    HWND notice_ = nullptr;
    int dpi_ = 96;
    std::unique_ptr<Win32TickTimer> timer_;
    std::array<Slot, 11> slots_{};
    HFONT slotFont_ = nullptr;
    std::array<HFONT, 3> captionFonts_{};  // 11.25, 12 and 14.25 points
    std::array<HBITMAP, 5> pictures_{};    // front, back, settings, copy, send
    HBRUSH captureBrush_ = nullptr;
    std::optional<AppContext> context_;
    std::unique_ptr<Win32SlotMenu> slotMenu_;
    std::optional<Win32EditDialogHost> editDialog_;
    std::optional<Win32SettingsDialogHost> settings_;
    bool unloaded_ = false;
};

}  // namespace varnel
