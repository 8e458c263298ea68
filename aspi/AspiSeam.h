// Test-only overrides of the ASPI seam. Only tests (and the simulator's
// in-process binding) include this; the deliverables never change the seam.
#pragma once

#include "aspi/AspiLayer.h"

#include <cstdint>

namespace aspi {

struct DeviceCalls;

// A null source restores the system tick count.
void SetTickCountSource(uint32_t (*source)());
// -1 restores the system's answer; 0 or 1 forces it.
void SetWindows95Or98Override(int value);
// A true flag makes CreateCompletionEvent fail.
void SetEventCreationFails(int fails);

typedef uint32_t (*GetSupportInfoProc)();
typedef uint32_t (*SendCommandProc)(void* srb);

// Makes these two entry points the process's ASPI layer ("bound by the
// test"); both null: no layer at all (kNoLayer).
void BindLayer(GetSupportInfoProc getSupportInfo, SendCommandProc sendCommand);

// Forgets the system's choice and makes it the layer in use again: the next
// call chooses anew, loading `library` instead of WNASPI32.DLL (Windows) and,
// when it falls to the pass-through, using these device calls instead of the
// system's (null: the system's). Layers chosen before are kept alive:
// requests may still be in them.
void RebindLayer(const char* library, const DeviceCalls* calls);

} // namespace aspi
