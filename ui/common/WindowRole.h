// What kind of window a screen reader is told a window of ours is. Qt reports every plain top-level
// QWidget as a bare client area (AT-SPI "filler"); a screen reader then neither announces it as a
// window nor offers it in its window list.
#pragma once

#include <QAccessible>
#include <QWidget>

namespace varnel {

// The window is reported as role (QAccessible::Window, a frame; QAccessible::Dialog). Call it before
// anything asks for the window's accessible interface, which Qt keeps once made: in the constructor.
void SetWindowRole(QWidget& window, QAccessible::Role role);

}  // namespace varnel
