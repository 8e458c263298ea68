// How our pass-through layer numbers the device objects a system has as ASPI
// host adapters and targets.
//
// The numbering depends only on the devices' SCSI addresses, never on which
// devices opened or on the order the system numbered them: two layers in one
// process or in two (the host and its plug-in each have one) give every
// drive the same adapter and target, and a saved adapter and target find the
// same drive after the system numbered its device objects anew.
#pragma once

#include "aspi/PassThroughRecords.h"

#include <cstdint>
#include <vector>

namespace aspi {

struct DevicePlace {
    int index;           // the device object's number (D: is 3, /dev/sgN is N)
    int addressed;       // 1 when the system gave the address
    ScsiAddress address; // when addressed
    int placed;          // 0: no free target on its adapter, out of reach
    uint8_t adapter, target, lun;
};

enum : uint8_t { kTargetsPerAdapter = 8 };

// Host adapters are the distinct (port, path) pairs in ascending order,
// targets the drives' target ids; a target id of 8 or more takes the lowest
// free target below 8 of its adapter; drives without an address share one
// adapter after all others, in device order. Places come back in adapter,
// target, lun order, those out of reach last. Answers the adapter count.
int NumberDevices(std::vector<DevicePlace>& places);

} // namespace aspi
