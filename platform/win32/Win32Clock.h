// Monotonic time from the performance counter.
#pragma once

#include <cstdint>

#include "platform/Clock.h"

namespace varnel {

class Win32Clock : public Clock {
  public:
    Win32Clock();
    // Time points of this clock are only compared with each other.
    std::chrono::steady_clock::time_point now() const override;

  private:
    std::int64_t frequency_;
};

}  // namespace varnel
