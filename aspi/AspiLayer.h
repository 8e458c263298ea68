// The ASPI layer a process talks to, and the two ASPI entry points bound to it.
//
// A layer is a table of operations and the object they work on. The process
// uses one at a time: one that a program or test put in place with UseLayer,
// or else the system's choice, made once at the first call:
//   Windows: a WNASPI32.DLL from the program's folder or the system folder
//     that is our simulated drive bank, or any other that reports host
//     adapters; else our own layer over the SCSI pass-through (\\.\D:).
//   Linux: our own layer over the SCSI generic devices (/dev/sgN).
// With CORVANE_ASPI_REPORT naming a file, the choice is appended to it.
#pragma once

#include "aspi/BusType.h"

#include <cstdint>

namespace aspi {

#ifdef _WIN32
constexpr const char kLineEnd[] = "\r\n";
#else
constexpr const char kLineEnd[] = "\n";
#endif

// The name our simulated bank goes by, whichever way it is bound.
constexpr const char kSimulatedBankName[] = "simulated drive bank";

struct LayerOps {
    // "WNASPI32.DLL", "simulated drive bank", "SCSI pass-through", "none".
    const char* name;
    // 1 for our simulated drive bank, whatever else a test puts around it:
    // there is no real drive whose waits matter.
    int simulated;
    uint32_t (*getSupportInfo)(void* self);
    uint32_t (*sendCommand)(void* self, void* srb);
    // How long the submitter of this record waits for it (ASPI requests
    // carry no time-out). Null: the layer has no use for it.
    void (*setRequestTimeout)(void* self, const void* srb, uint32_t milliseconds);
    // Lines ending in kLineEnd: the layer and what it sees. Null: the name.
    void (*describe)(void* self, char* text, uint32_t size);
    // The adapter and target of a device path; 1 when found. Null: none.
    int (*findDevice)(void* self, const char* path, uint8_t* adapter, uint8_t* target);
    // The system's name of the drive at an adapter and target ("/dev/sg2",
    // "\\\\.\\D:"); 1 when it has one. Null: the layer names no drive.
    int (*deviceName)(void* self, uint8_t adapter, uint8_t target, char* text, uint32_t size);
    // The bus of the drive at an adapter and target, a BusType. Null: the
    // layer does not know.
    int (*deviceBus)(void* self, uint8_t adapter, uint8_t target);
};

// No layer: no host adapters, and every request fails with SS_NO_ASPI.
extern const LayerOps kNoLayer;

// From now on the process uses this layer on `self` (which must outlive
// the use); null: the system's choice.
void UseLayer(const LayerOps* ops, void* self = nullptr);

// The entry points of the layer in use.
uint32_t GetASPI32SupportInfo();
uint32_t SendASPI32Command(void* srb);

// 1 when the layer in use reports host adapters, else 0.
int HasLayer();

// Tells the layer in use how long the submitter of this record waits, so
// that a layer that can (our pass-through) gives up about when it does.
void SetRequestTimeout(const void* srb, uint32_t milliseconds);

// Which layer answers and, for the pass-through, which drive is where or why
// it sees none, for a troubleshooting user. At most kLayerTextSize bytes.
enum : uint32_t { kLayerTextSize = 4096 };
void DescribeLayer(char* text, uint32_t size);

// The adapter and target under which the layer in use serves a device path
// (Linux: /dev/sgN or /dev/srN, the same device whichever name; Windows:
// \\.\D:). 1 when found, else 0.
int FindDevice(const char* path, uint8_t* adapter, uint8_t* target);

// The system's name of the drive the layer in use serves at this adapter and
// target (Linux: /dev/sgN; Windows: \\.\D:), cut to `size`; 1 when it has one,
// else 0 and "" (the simulated bank, an installed WNASPI32.DLL).
int DeviceName(uint8_t adapter, uint8_t target, char* text, uint32_t size);

// The bus of the drive the layer in use serves at this adapter and target,
// as the system tells it; Unknown where it does not say.
BusType DeviceBus(uint8_t adapter, uint8_t target);

// 1 when the layer in use is our simulated drive bank.
int LayerIsSimulated();

} // namespace aspi
