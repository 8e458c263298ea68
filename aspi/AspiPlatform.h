// What the command layer and the simulated drive bank need from the system:
// the per-command completion event that travels in SRB_PostProc, the tick
// count and whether this is Windows 95 or 98. Windows uses its own objects;
// the native build has small portable equivalents.
#pragma once

#include <cstdint>

namespace aspi {

typedef void* EventHandle;

// Unnamed, auto-reset, not signalled. Null when it cannot be created.
EventHandle CreateCompletionEvent();
void SignalCompletionEvent(EventHandle event);
// 1 when the event was signalled within the time, else 0.
int WaitCompletionEvent(EventHandle event, uint32_t milliseconds);
void ResetCompletionEvent(EventHandle event);
void CloseCompletionEvent(EventHandle event);

// Milliseconds since an arbitrary start, wrapping at 2^32.
uint32_t TickCount();

// 1 on Windows 95 (4.0) and 98 (4.10), where ASPI is polled: platform 1,
// major version at most 4, minor at most 10.
int IsWindows95Or98();
inline int IsWindows95Or98Version(uint32_t platformId, uint32_t major, uint32_t minor) {
    return (platformId == 1 && major <= 4 && minor <= 10) ? 1 : 0;
}

} // namespace aspi
