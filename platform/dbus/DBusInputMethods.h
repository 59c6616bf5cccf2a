// The input methods of a Linux desktop that can be switched off over D-Bus: fcitx5 (its controller on
// the session bus, acting on the focused input context) and ibus (its own bus, global engine).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/InputMethodControl.h"

namespace varnel {

class DBusInputMethods : public InputMethodControl {
  public:
    // keysCameBack, when given, tells whether the keys of the typing just ended have all come back to
    // the window from the session's XIM server (the keyboard waited for them); where it cannot say so,
    // keys still on that way are given a fixed time before the input method is switched back on.
    explicit DBusInputMethods(std::function<bool()> keysCameBack = {});
    ~DBusInputMethods() override;

    Result<bool> suspend() override;
    Status restore() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
