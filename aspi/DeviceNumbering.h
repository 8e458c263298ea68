// How our pass-through layer numbers the device objects a system has as ASPI
// host adapters and targets.
//
// The numbering depends only on the devices' SCSI addresses, never on which
// devices opened or on the order the system numbered them: two layers in one
// process or in two (the host and its plug-in each have one) give every
// drive the same adapter and target, and a saved adapter and target find the
// same drive after the system numbered its device objects anew.
//
// Every device object gets an adapter and target of its own, whatever its
// logical unit: the device channel names a drive by adapter and target alone.
#pragma once

#include "aspi/DeviceAddress.h"
#include "aspi/PassThroughRecords.h"

#include <cstdint>
#include <vector>

namespace aspi {

struct DevicePlace {
    int index;           // the device object's number (D: is 3, /dev/sgN is N)
    int addressed;       // 1 when the system gave the address
    ScsiAddress address; // when addressed
    int placed;          // 0: every adapter number is taken, out of reach
    uint8_t adapter, target;
};

enum : uint8_t {
    kAdapterLimit = 255, // an adapter number is a byte, and 255 marks none
};

// Each distinct (port, path) pair, in ascending order, and then the drives
// without an address (together) take one host adapter. On it the drives keep
// their own target ids where they can (lower logical units first), the others
// take the lowest free targets in address order, and those that find none go
// on further adapters after all the first ones, 8 to an adapter, in the same
// order. Places come back in adapter, target order, those out of reach last.
// Answers the adapter count.
int NumberDevices(std::vector<DevicePlace>& places);

} // namespace aspi
