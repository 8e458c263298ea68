// The records of the system's SCSI pass-through interface, mirrored so that
// the layer's logic builds and is tested on every system. The Win32 side
// checks them field by field against the system's own declarations.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aspi {

// DataIn of a pass-through.
enum : uint8_t {
    PT_DATA_OUT = 0,
    PT_DATA_IN = 1,
    PT_DATA_UNSPECIFIED = 2,
};

// Natural alignment, as the system declares them.
struct PassThroughDirect {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue; // seconds
    void* DataBuffer;
    uint32_t SenseInfoOffset; // from the start of the record
    uint8_t Cdb[16];
};

struct ScsiAddress {
    uint32_t Length;
    uint8_t PortNumber;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
};

enum : uint32_t { PT_SENSE_BYTES = 32 };

// One pass-through as it goes to the device: the record, its sense buffer
// right after it (SenseInfoOffset points there).
struct PassThroughRequest {
    PassThroughDirect spt;
    uint32_t filler; // keeps the sense buffer aligned, as callers of the ioctl do
    uint8_t sense[PT_SENSE_BYTES];
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PassThroughDirect) == 44, "pass-through record");
static_assert(offsetof(PassThroughDirect, DataBuffer) == 20, "data buffer");
static_assert(offsetof(PassThroughDirect, Cdb) == 28, "cdb");
#endif
static_assert(sizeof(ScsiAddress) == 8, "address record");

} // namespace aspi
