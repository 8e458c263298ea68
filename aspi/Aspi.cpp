// The system-independent half of the seam: the test overrides.
#include "AspiPlatform.h"
#include "AspiSeam.h"
#include "AspiSystem.h"

#include <atomic>

namespace aspi {
namespace {

std::atomic<uint32_t (*)()> tickSource{nullptr};
std::atomic<int> windows9x{-1};
std::atomic<bool> eventFails{false};

} // namespace

uint32_t TickCount() {
    if (uint32_t(*source)() = tickSource.load())
        return source();
    return detail::SystemTickCount();
}

int IsWindows95Or98() {
    int forced = windows9x.load();
    return forced >= 0 ? (forced ? 1 : 0) : detail::SystemIsWindows95Or98();
}

EventHandle CreateCompletionEvent() {
    return eventFails.load() ? nullptr : detail::SystemCreateEvent();
}

void SetTickCountSource(uint32_t (*source)()) {
    tickSource.store(source);
}

void SetWindows95Or98Override(int value) {
    windows9x.store(value);
}

void SetEventCreationFails(int fails) {
    eventFails.store(fails != 0);
}

} // namespace aspi
