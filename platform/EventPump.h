#pragma once

namespace varnel {

// The message pump of the user-interface thread.
class EventPump {
  public:
    virtual ~EventPump() = default;
    // Handles the events that are pending now, once, and returns.
    virtual void pumpOnce() = 0;
};

}  // namespace varnel
