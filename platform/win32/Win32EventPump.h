// The message pump of the user-interface thread on Windows.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "platform/EventPump.h"

namespace varnel {

class Win32EventPump : public EventPump {
  public:
    // Handles every message that is queued now (the dialogs' keyboard navigation included) and
    // returns. A WM_QUIT met on the way is put back, so that the outer loop still ends.
    void pumpOnce() override;

    // Runs until WM_QUIT and returns its exit code.
    int run();

    // Windows whose keyboard navigation (Tab, the arrows in option groups) IsDialogMessage does.
    // A window is removed before it is destroyed.
    static void addDialog(HWND window);
    static void removeDialog(HWND window);

    // Sees every message before it is dispatched (the program watches for presses that stop a typing).
    static void setWatcher(std::function<void(const MSG&)> watcher);

  private:
    static void dispatch(MSG& message);
    static std::vector<HWND>& dialogs();
};

}  // namespace varnel
