// The edit dialog's layout in twips, relative to its client area; shared by the Qt and the Win32
// front ends.
#pragma once

namespace varnel::edit_layout {

constexpr int ClientWidth = 4680;
constexpr int ClientHeight = 3345;
constexpr int TextLeft = 120, TextTop = 120, TextWidth = 4455, TextHeight = 2535;
constexpr int ButtonTop = 2760, ButtonWidth = 1575, ButtonHeight = 495;
constexpr int OkLeft = 480, CancelLeft = 2640;

}  // namespace varnel::edit_layout
