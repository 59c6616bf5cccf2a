// The role a window reports to screen readers for its client area, through the accessibility object
// the window hands out (MSAA's IAccessible, which UI Automation's MSAA bridge reads as well).
#pragma once

#include <windows.h>

#include <optional>

namespace varnel::win32ui {

enum class WindowRole {
    Frame,   // a main window
    Dialog,  // a dialog box
};

// For WM_GETOBJECT: when the request is for the window's client area, the system's own object for it
// with `role` as its role; everything else it answers as the system does.
// Nothing when the request is for another object or the object could not be made: the window
// procedure then leaves the message to DefWindowProc.
std::optional<LRESULT> ClientObjectWithRole(HWND window, WPARAM wParam, LPARAM lParam, WindowRole role);

}  // namespace varnel::win32ui
