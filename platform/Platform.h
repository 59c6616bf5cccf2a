#pragma once

#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/Codepage.h"
#include "platform/EventPump.h"
#include "platform/Files.h"
#include "platform/InputMethodControl.h"
#include "platform/Keyboard.h"
#include "platform/TickTimer.h"
#include "platform/WindowSystem.h"

namespace varnel {

// Every outside service the behaviour may use. The backends behind it are chosen when the program
// is put together (app/) or by a test.
struct Platform {
    WindowSystem& windows;
    Clipboard& clipboard;
    Keyboard& keyboard;
    EventPump& pump;
    TickTimer& timer;
    Files& files;
    Codepage& codepage;
    Clock& clock;
    // The focused window's input method, switched off while text is typed into it; none where the
    // system has no input method that composes typed keys.
    InputMethodControl* inputMethod = nullptr;
};

}  // namespace varnel
