// Size hints that every window manager reads the same way.
#pragma once

#include <QSize>
#include <QWidget>
#include <QWindow>

namespace varnel {

// Under a scale factor Qt gives the window manager a base size of minus one scaled pixel (-2 at
// scale 2) with a resize step of one scaled pixel. Some managers (fluxbox) then make the window
// 65534 pixels wide and high. An explicit base size of 0, set before the window is first shown,
// keeps the hints sound; it changes nothing where no scale applies.
inline void KeepBaseSizeSound(QWidget& window) {
    window.winId();  // the native window, so that its size hints can be set before it is mapped
    if (QWindow* handle = window.windowHandle()) {
        handle->setBaseSize(QSize(0, 0));
    }
}

}  // namespace varnel
