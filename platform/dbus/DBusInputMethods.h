// The input methods of a Linux desktop that can be switched off over D-Bus: fcitx5 (its controller on
// the session bus, acting on the focused input context) and ibus (its own bus, global engine).
#pragma once

#include <memory>
#include <string>

#include "platform/InputMethodControl.h"

namespace varnel {

class DBusInputMethods : public InputMethodControl {
  public:
    DBusInputMethods();
    ~DBusInputMethods() override;

    Result<bool> suspend() override;
    Status restore() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
