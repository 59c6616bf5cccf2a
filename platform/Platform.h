#pragma once

#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/Codepage.h"
#include "platform/EventPump.h"
#include "platform/Files.h"
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
};

}  // namespace varnel
