// The shared settings and trackers. They live in memory for one run; nothing is stored anywhere.
#pragma once

#include <cstdint>
#include <string>

#include "platform/WindowSystem.h"

namespace varnel {

constexpr std::int16_t SendByPaste = 0;
constexpr std::int16_t SendByKeystrokes = 1;

constexpr std::int16_t FirstSlot = 1;
constexpr std::int16_t LastSlot = 10;

// Process-wide settings and trackers. Numeric values start at 0; Form_Load gives them their start values.
struct AppState {
    std::int16_t ScreenWidthPixels = 0;
    std::int16_t SendMode = 0;
    std::int16_t CaptureEnabled = 0;
    std::int16_t RotationCount = 0;
    std::int16_t DisplayMode = 0;
    WindowHandle TargetWindow = 0;
    WindowHandle SavedTarget = 0;
};

// Members of the main window Form1.
struct Form1Members {
    WindowHandle OwnWindow = 0;
    std::int16_t ZOrderMode = 0;
    std::u16string LastClipboardText;
    std::int16_t RotationCursor = 0;
};

}  // namespace varnel
