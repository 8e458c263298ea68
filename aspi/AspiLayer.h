// The two ASPI entry points, bound to whichever ASPI layer this process uses.
//
// Windows: WNASPI32.DLL, loaded once per process, entry points taken by
// ordinal 1 and 2. Native: the layer a test bound through aspi/AspiSeam.h
// (the simulated drive bank). With no layer the support info reads as "no
// host adapters" and every request fails with SS_NO_ASPI.
#pragma once

#include <cstdint>

namespace aspi {

typedef uint32_t (*GetSupportInfoProc)();
typedef uint32_t (*SendCommandProc)(void* srb);

uint32_t GetASPI32SupportInfo();
uint32_t SendASPI32Command(void* srb);

// 1 when a layer is bound or was loaded, else 0.
int HasLayer();

} // namespace aspi
