#include "AspiPlatform.h"
#include "AspiPlatformState.h"

namespace aspi {
namespace detail {

PlatformOverrides& Overrides() {
    static PlatformOverrides overrides;
    return overrides;
}

} // namespace detail

int IsWindows95Or98Version(uint32_t platformId, uint32_t major, uint32_t minor) {
    return (platformId == 1 && major <= 4 && minor <= 10) ? 1 : 0;
}

uint32_t TickCount() {
    if (uint32_t(*source)() = detail::Overrides().tickSource.load())
        return source();
    return detail::SystemTickCount();
}

int IsWindows95Or98() {
    int forced = detail::Overrides().windows9x.load();
    return forced >= 0 ? (forced ? 1 : 0) : detail::SystemIsWindows95Or98();
}

void SetTickCountSource(uint32_t (*source)()) {
    detail::Overrides().tickSource.store(source);
}
void SetWindows95Or98Override(int value) {
    detail::Overrides().windows9x.store(value);
}
void SetEventCreationFails(int fails) {
    detail::Overrides().eventFails.store(fails != 0);
}

} // namespace aspi
