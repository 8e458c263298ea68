// What the portable half of aspi/ asks of the system: one definition of each
// per system (AspiWin32.cpp, AspiNative.cpp).
#pragma once

#include "aspi/AspiLayer.h"

#include <cstdint>

namespace aspi {

struct DeviceCalls;

namespace detail {

uint32_t SystemTickCount();
int SystemIsWindows95Or98();
void* SystemCreateEvent();

// The value of an environment variable; 0 when it is unset or does not fit.
int ReadEnvironment(const char* name, char* value, uint32_t size);

// An installed ASPI library named `fileName` that this process should use
// (our simulated bank, or one that reports host adapters): 1 and its layer.
// 0 where there is none, or the system has no such libraries.
int LoadAspiLibrary(const char* fileName, const LayerOps** ops, void** self);

// The device calls of our pass-through layer on this system; null where it
// has none.
const DeviceCalls* SystemDeviceCalls();

} // namespace detail
} // namespace aspi
