// The settings dialog without its widgets: how the combo box text becomes a rotation
// count, what FillSettingsDialog shows, what OK applies, what "全消去実行" clears, and how the settings
// button opens the dialog. The Qt dialog forwards every event here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/AppContext.h"

namespace varnel {

// The largest rotation count: there is no slot above the tenth.
constexpr std::int16_t MaxRotationCount = LastSlot;

// Reads text as a number the way the combo box text is read: blanks, tabs and line feeds are ignored
// wherever they stand; then either "&H"/"&O" (either case) and the hexadecimal or octal digits that
// follow, or the longest leading decimal number (optional sign, digits with at most one decimal
// point, optional exponent). Anything else reads as 0. May be infinite for an enormous text.
double ReadNumber(std::u16string_view text);

// Rounds to the nearest whole number, a value exactly halfway going to the even neighbour.
double RoundHalfToEven(double value);

// The rotation count for a combo box text: the number read, rounded half to even. A count above 10,
// or one that does not fit in 16 bits, becomes 10; 0 and negative counts stay as they are.
std::int16_t RotationCountFromText(std::u16string_view text);

// The combo box text FillSettingsDialog writes: one leading blank for 0 or more (" 1"), else the minus sign.
std::u16string RotationCountText(std::int16_t count);

// A rectangle in pixels.
struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};
// How far a window's frame reaches beyond its client area on each side, in pixels.
struct FrameMargins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Moves a window's client rectangle the least distance that puts it, frame included, inside the
// visible area. A window larger than the area keeps its caption on the screen (top-left aligned).
PixelRect KeepOnScreen(PixelRect client, FrameMargins frame, PixelRect area);

namespace settings {

// The dialog's controls as its handlers see them: an option button for each send mode and display
// size.
class Controls {
  public:
    virtual ~Controls() = default;
    virtual bool sendModeSelected(SendMethod mode) const = 0;
    // Selects the mode's button and clears the other; a mode out of range clears both.
    virtual void selectSendMode(SendMethod mode) = 0;
    virtual bool displaySizeSelected(DisplaySize size) const = 0;
    virtual void selectDisplaySize(DisplaySize size) = 0;
    // The capture check box is ticked.
    virtual bool captureChecked() const = 0;
    virtual void setCaptureChecked(bool checked) = 0;
    virtual std::u16string rotationCountBoxText() const = 0;
    virtual void setRotationCountBoxText(const std::u16string& text) = 0;
    // Closes the dialog; the close handling (CloseSettingsDialog) runs as part of it.
    virtual void unload() = 0;
};

// The dialog as the settings button sees it.
class Dialog {
  public:
    virtual ~Dialog() = default;
    // Loaded: created and not yet closed (a dialog in the middle of its close handling still is).
    virtual bool isLoaded() const = 0;
    // Creates the dialog; its FillSettingsDialog fills the controls from the state.
    virtual void load() = 0;
    // Shows the loaded dialog, or brings it to the front.
    virtual void show() = 0;
    virtual WindowHandle nativeHandle() = 0;
};

}  // namespace settings

// The handlers of one settings dialog, which forwards its events here.
class SettingsDialogHandlers {
  public:
    SettingsDialogHandlers(AppContext& ctx, settings::Controls& controls) : ctx_(ctx), controls_(controls) {}

    // Fills the controls from the shared state (send mode, display size, capture switch, rotation
    // count; the z-order follows the first showing).
    void FillSettingsDialog();
    // "決定": options, WindowSizeChange, capture switch, rotation count, slot colours, unload.
    void ApplySettings();
    // "キャンセル": unloads; nothing changes.
    void CancelSettings();
    // "全消去実行": empties all ten slots; settings, colours and the capture's trackers stay.
    void ClearAllSlots();
    // Closing by any means: back to the window that was the target when the dialog was opened.
    void CloseSettingsDialog();

  private:
    AppContext& ctx_;
    settings::Controls& controls_;
};

// The settings button of the main window: remembers the target, then opens the dialog (loading it and
// making it topmost) or brings the open one to the front.
void OpenSettingsDialog(AppContext& ctx, settings::Dialog& dialog);

}  // namespace varnel
