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
constexpr Box Frame4{120, 120, 4095, 615};
constexpr Box Label3{240, 270, 3615, 255};
constexpr Box Frame1{120, 960, 4095, 1335};
constexpr Box Option1[2] = {{240, 240, 3735, 255}, {240, 600, 3735, 375}};
constexpr Box Label2{360, 960, 3615, 255};
constexpr Box Frame2{120, 2520, 4095, 735};
constexpr Box Check1{240, 240, 1095, 375};
constexpr Box Label1{1560, 315, 2415, 255};
constexpr Box Combo1{2640, 240, 735, 345};
constexpr Box Frame3{120, 3480, 4095, 975};
constexpr Box Option2[3] = {{240, 240, 1695, 255}, {2160, 240, 1815, 255}, {240, 600, 1695, 255}};
constexpr Box Frame5{120, 4680, 4095, 735};
constexpr Box Command3{240, 240, 1455, 375};
constexpr Box Command1{360, 5760, 1455, 375};
constexpr Box Command2{2520, 5760, 1455, 375};

constexpr double DialogPointSize = 9;
// Where a frame's caption breaks its top border, and the space between the combo box and the texts
// of Label1 on either side of it.
constexpr int CaptionIndentTwips = 75;
constexpr int GapSpacingTwips = 45;
constexpr double ComboPointSize = 11.25;

}  // namespace settings_layout

}  // namespace varnel
