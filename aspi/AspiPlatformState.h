// Test overrides of the platform seam and the per-system parts behind it.
#pragma once

#include <atomic>
#include <cstdint>

namespace aspi {
namespace detail {

struct PlatformOverrides {
    std::atomic<uint32_t (*)()> tickSource{nullptr};
    std::atomic<int> windows9x{-1};
    std::atomic<bool> eventFails{false};
};

PlatformOverrides& Overrides();
uint32_t SystemTickCount();
int SystemIsWindows95Or98();

} // namespace detail
} // namespace aspi
