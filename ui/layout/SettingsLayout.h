// The settings dialog's layout in twips, shared by the Qt and the Win32 front ends.
#pragma once

namespace varnel {

// The layout in twips: client area, design position, and every control relative to its container.
namespace settings_layout {

constexpr int ClientWidth = 4350;
constexpr int ClientHeight = 6315;
constexpr int ClientLeft = 4965;  // client area's top-left corner on the screen
constexpr int ClientTop = 1845;

struct Box {
    int left, top, width, height;
};
constexpr Box VersionFrame{120, 120, 4095, 615};
constexpr Box VersionLabel{240, 270, 3615, 255};
constexpr Box SendModeFrame{120, 960, 4095, 1335};
constexpr Box SendModeOptions[2] = {{240, 240, 3735, 255}, {240, 600, 3735, 375}};
constexpr Box ImeLabel{360, 960, 3615, 255};
constexpr Box CaptureFrame{120, 2520, 4095, 735};
constexpr Box CaptureCheck{240, 240, 1095, 375};
constexpr Box RotationLabel{1560, 315, 2415, 255};
constexpr Box RotationCombo{2640, 240, 735, 345};
constexpr Box DisplayFrame{120, 3480, 4095, 975};
constexpr Box DisplaySizeOptions[3] = {{240, 240, 1695, 255}, {2160, 240, 1815, 255}, {240, 600, 1695, 255}};
constexpr Box ClearFrame{120, 4680, 4095, 735};
constexpr Box ClearAllButton{240, 240, 1455, 375};
constexpr Box OkButton{360, 5760, 1455, 375};
constexpr Box CancelButton{2520, 5760, 1455, 375};

constexpr double DialogPointSize = 9;
// Where a frame's caption breaks its top border, and the space between the combo box and the texts
// of the rotation label on either side of it.
constexpr int CaptionIndentTwips = 75;
constexpr int GapSpacingTwips = 45;
constexpr double ComboPointSize = 11.25;

}  // namespace settings_layout

}  // namespace varnel
