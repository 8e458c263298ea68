// How a drive is named: by its address "A:T" (host adapter and target, as the
// device page and corvane scan show them) or by the path of its device,
// which the layer in use may serve (FindDevice).
#pragma once

#include <cstdint>

namespace aspi {

// Targets 0 to 7 on every host adapter.
constexpr uint8_t kTargetsPerAdapter = 8;
// Room for the longest address, "255:7".
constexpr uint32_t kAddressTextSize = 8;

// 1 when `text` is an address: decimal digits only, adapter 0-255, a colon,
// target 0-7; 0 for anything else, and nothing is stored.
int ParseAddress(const char* text, uint8_t* adapter, uint8_t* target);
// "A:T"; cut to size.
void AddressText(uint8_t adapter, uint8_t target, char* text, uint32_t size);
// 1 when `text` has the form of a device path: from a root ("/dev/sg1",
// "\\.\D:") or a bare drive letter ("D:"); 0 else, addresses included.
int IsDevicePath(const char* text);

} // namespace aspi
