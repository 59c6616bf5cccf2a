#include "platform/win32/Win32Clock.h"

#include <windows.h>

namespace varnel {

Win32Clock::Win32Clock() {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);  // never fails on Windows XP and later
    frequency_ = frequency.QuadPart;
}

std::chrono::steady_clock::time_point Win32Clock::now() const {
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    // Whole seconds and the rest apart, so that the product never overflows.
    const std::int64_t seconds = counter.QuadPart / frequency_;
    const std::int64_t rest = counter.QuadPart % frequency_;
    const auto since =
        std::chrono::seconds(seconds) + std::chrono::nanoseconds(rest * 1'000'000'000 / frequency_);
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(since));
}

}  // namespace varnel
