#pragma once

#include <chrono>

namespace varnel {

// Monotonic time, for the bounds of waits that handlers run themselves.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::chrono::steady_clock::time_point now() const = 0;
};

class SteadyClock : public Clock {
  public:
    std::chrono::steady_clock::time_point now() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace varnel
