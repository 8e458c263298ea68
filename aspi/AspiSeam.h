// Test-only overrides of the ASPI seam. Only tests (and the simulator's
// in-process binding) include this; the deliverables never change the seam.
#pragma once

#include "aspi/AspiLayer.h"

#include <cstdint>

namespace aspi {

// A null source restores the system tick count.
void SetTickCountSource(uint32_t (*source)());
// -1 restores the system's answer; 0 or 1 forces it.
void SetWindows95Or98Override(int value);
// A true flag makes CreateCompletionEvent fail.
void SetEventCreationFails(int fails);

// Makes these entry points the process's ASPI layer (both null: no layer;
// on Windows the layer the binding chose answers again).
void BindLayer(GetSupportInfoProc getSupportInfo, SendCommandProc sendCommand);

#ifdef _WIN32
struct DeviceCalls;
// Forgets the layer Windows chose; the next call chooses again, loading
// `library` instead of WNASPI32.DLL and, when it falls to the pass-through,
// using these device calls instead of the system's (null: the system's).
// The layer chosen before is kept alive: requests may still be in it.
void RebindLayer(const char* library, const DeviceCalls* calls);
#endif

namespace detail {
// What the overrides stand in front of: one definition per system.
uint32_t SystemTickCount();
int SystemIsWindows95Or98();
void* SystemCreateEvent();
} // namespace detail

} // namespace aspi
