#include "AspiPlatform.h"
#include "AspiPlatformState.h"

#include <windows.h>

namespace aspi {
namespace detail {

uint32_t SystemTickCount() {
    return GetTickCount();
}

int SystemIsWindows95Or98() {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info))
        return 0;
    return IsWindows95Or98Version(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

} // namespace detail

EventHandle CreateCompletionEvent() {
    if (detail::Overrides().eventFails.load())
        return nullptr;
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

void SignalCompletionEvent(EventHandle event) {
    if (event)
        SetEvent(static_cast<HANDLE>(event));
}

int WaitCompletionEvent(EventHandle event, uint32_t milliseconds) {
    if (!event)
        return 0;
    return WaitForSingleObject(static_cast<HANDLE>(event), milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

void ResetCompletionEvent(EventHandle event) {
    if (event)
        ResetEvent(static_cast<HANDLE>(event));
}

void CloseCompletionEvent(EventHandle event) {
    if (event)
        CloseHandle(static_cast<HANDLE>(event));
}

} // namespace aspi
