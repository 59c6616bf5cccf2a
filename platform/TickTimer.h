#pragma once

namespace varnel {

// The main window's 200 ms tick.
class TickTimer {
  public:
    virtual ~TickTimer() = default;
    virtual void setEnabled(bool on) = 0;
    virtual bool isEnabled() const = 0;
};

}  // namespace varnel
