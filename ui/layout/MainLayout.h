// The main window's layout in twips, relative to the client area.
#pragma once

#include "core/MainWindowGeometry.h"  // the window's own size and place

namespace varnel::layout {

constexpr int TopRowTop = 70;
constexpr int ButtonSize = 375;
constexpr int ZOrderButtonLeft[3] = {0, 120, 480};  // [1] always on top, [2] behind all others
constexpr int ConversionButtonLeft = 960;           // the first; the others follow 360 apart
constexpr int ConversionButtonStep = 360;
constexpr int SettingsButtonLeft = 3240;

constexpr int RuleX1 = 3720;
constexpr int RuleX2 = 120;
constexpr int RuleY = 480;

constexpr int SlotRowTop(int i) {
    return 120 + 480 * i;
}
constexpr int CopyButtonLeft = 120;
constexpr int SendButtonLeft = 480;
constexpr int SlotLeft = 960;
constexpr int SlotWidth = 2655;
constexpr int SlotHeight = 375;
constexpr int Slot5Width = 2685;
constexpr int Slot5Height = 405;

constexpr int TimerIntervalMs = 200;

}  // namespace varnel::layout
