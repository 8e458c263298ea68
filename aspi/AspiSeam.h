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

#ifndef _WIN32
// Makes these entry points the process's ASPI layer (both null: no layer).
// Windows always uses WNASPI32.DLL.
void BindLayer(GetSupportInfoProc getSupportInfo, SendCommandProc sendCommand);
#endif

namespace detail {
// What the overrides stand in front of: one definition per system.
uint32_t SystemTickCount();
int SystemIsWindows95Or98();
void* SystemCreateEvent();
} // namespace detail

} // namespace aspi
