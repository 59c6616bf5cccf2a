// The shared settings and trackers. They live in memory for one run; nothing is stored anywhere.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "base/SharedText.h"
#include "base/Slots.h"
#include "platform/WindowSystem.h"

namespace varnel {

// How a slot's send button delivers its text; the values are the settings dialog's option order.
enum SendMethod : std::int16_t {
    SendByPaste = 0,
    SendByKeystrokes = 1,
};

// The main window's preset heights; the values are the settings dialog's option order.
enum class DisplaySize : std::int16_t {
    FiveRows = 0,
    ButtonsOnly = 1,
    TenRows = 2,
};

// Process-wide settings and trackers. LoadMainWindow gives them their start values.
struct AppState {
    SendMethod SendMode = SendByPaste;
    bool CaptureEnabled = false;
    std::int16_t RotationCount = 0;
    DisplaySize DisplayMode = DisplaySize::FiveRows;
    WindowHandle TargetWindow = 0;
    WindowHandle SavedTarget = 0;
};

// Deliveries into the target window yield to the event pump while they wait for it. A send, copy or
// conversion clicked during such a wait is held here and runs when the running delivery is done, so
// that two deliveries never interleave their clipboard and key traffic.
struct DeliveryQueue {
    bool running = false;
    std::deque<std::function<void()>> pending;
    // A text is being typed; it stops at its next slice once stopTyping is set.
    bool typing = false;
    bool stopTyping = false;
    // The program is ending: whatever runs stops at its next yield and nothing more is delivered.
    bool shuttingDown = false;
};

// State of the main window.
struct MainWindowState {
    WindowHandle OwnWindow = 0;
    // The settings dialog's and the edit dialog's windows as they were when last opened: the only ones
    // of the program's own windows that may become TargetWindow. Notices, message boxes, the slot menu
    // and tooltips never do, nor does the main window.
    WindowHandle SettingsDialogWindow = 0;
    WindowHandle EditDialogWindow = 0;
    varnel::ZOrderMode ZOrderMode = varnel::ZOrderMode::NotTopmost;
    SharedText LastClipboardText;
    std::int16_t RotationCursor = 0;
    DeliveryQueue Deliveries;
    // The user has been told that a keystroke send was pasted because the target's input method
    // could not be switched off; that is said once a run.
    bool ToldPastedInsteadOfTyped = false;
    // The clipboard change count at which the clipboard's text was last found equal to
    // LastClipboardText; the tick need not read the text again until the count moves.
    std::uint64_t ClipboardCountMatched = 0;
    // How many clipboard texts the capture has stored into slots since the start.
    std::uint64_t CapturedTexts = 0;
    // TargetWindow and CapturedTexts as last shown to other programs; nothing shown yet when empty.
    std::optional<WindowHandle> ShownTarget;
    std::optional<std::uint64_t> ShownCaptures;
};

}  // namespace varnel
