#pragma once

#include "core/AppState.h"
#include "core/AppWindows.h"
#include "platform/Platform.h"

namespace varnel {

// What every handler works on: the shared state, the main window's members, the main window itself
// and the platform services.
struct AppContext {
    AppState& state;
    MainWindowState& mainState;
    MainWindowView& mainWindow;
    Platform& platform;
};

}  // namespace varnel
