// ASPI for Win32 request records and constants.
//
// Real ASPI layers read these records, so on 32-bit Windows they follow the
// published layout byte for byte. In the native build pointers are 8 bytes
// wide and the records are ours alone (the simulator is the only layer), so
// only the fields before the first pointer keep their offsets there.
#pragma once

#include "aspi/AspiPlatform.h"

#include <cstddef>
#include <cstdint>

namespace aspi {

// Command codes (SRB_Cmd).
enum : uint8_t {
    SC_HA_INQUIRY = 0x00,
    SC_GET_DEV_TYPE = 0x01,
    SC_EXEC_SCSI_CMD = 0x02,
    SC_ABORT_SRB = 0x03,
    SC_RESET_DEV = 0x04,
};

// Request status values (SRB_Status and the low byte of call results).
enum : uint8_t {
    SS_PENDING = 0x00,
    SS_COMP = 0x01,
    SS_ABORTED = 0x02,
    SS_ABORT_FAIL = 0x03,
    SS_ERR = 0x04,
    SS_INVALID_CMD = 0x80,
    SS_INVALID_HA = 0x81,
    SS_NO_DEVICE = 0x82,
    SS_INVALID_SRB = 0xE0,
    SS_NO_ASPI = 0xE3,
    SS_ASPI_IS_BUSY = 0xE5,
    SS_BUFFER_TO_BIG = 0xE6,
    SS_NO_ADAPTERS = 0xE8,
};

// Request flags (SRB_Flags).
enum : uint8_t {
    SRB_POSTING = 0x01,
    SRB_ENABLE_RESIDUAL_COUNT = 0x04,
    SRB_DIR_IN = 0x08,
    SRB_DIR_OUT = 0x10,
    SRB_EVENT_NOTIFY = 0x40,
};

// Peripheral device types (SRB_DeviceType, byte 0 of an INQUIRY answer).
enum : uint8_t {
    DTYPE_CDROM = 0x05, // CD/DVD drive
};

// Target status of an execute request.
enum : uint8_t {
    STATUS_GOOD = 0x00,
    STATUS_CHKCOND = 0x02,
};

// Host adapter status of an execute request (SRB_HaStat).
enum : uint8_t {
    HASTAT_OK = 0x00,
    HASTAT_SEL_TO = 0x11,    // the device did not answer its selection
    HASTAT_DO_DU = 0x12,     // data overrun or underrun: more or less data than asked
    HASTAT_BUS_FREE = 0x13,  // the device went away during the command
    HASTAT_PHASE_ERR = 0x14, // the bus left a phase early: a transfer cut part-way
};

// Bytes of sense data an execute request asks for (SRB_SenseLen).
constexpr int SENSE_LEN = 14;

#pragma pack(push, 1)

struct SRB_Header {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    uint8_t HA_ManagerId[16];
    uint8_t HA_Identifier[16];
    uint8_t HA_Unique[16];
    uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint8_t SRB_DeviceType;
    uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc; // the completion event when SRB_EVENT_NOTIFY is set
    void* SRB_Rsvd2;
    uint8_t SRB_Rsvd3[16];
    uint8_t CDBByte[16];
    uint8_t SenseArea[SENSE_LEN + 2];
};

struct SRB_Abort {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

struct SRB_BusDeviceReset {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint8_t SRB_Rsvd1[12];
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    void* SRB_Rsvd2;
    uint8_t SRB_Rsvd3[32];
};

#pragma pack(pop)

// Offsets that hold in every build.
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 0x01, "status");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 0x02, "host adapter");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 0x03, "flags");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 0x08, "target");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 0x09, "lun");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 0x0C, "data length");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 0x10, "data pointer");
static_assert(offsetof(SRB_BusDeviceReset, SRB_HaStat) == 0x16, "reset host status");
static_assert(sizeof(SRB_HAInquiry) == 60, "host adapter inquiry");
static_assert(sizeof(SRB_GDEVBlock) == 12, "device type");

#if UINTPTR_MAX == 0xFFFFFFFFu
// The published ASPI for Win32 layout, read by real ASPI layers.
static_assert(sizeof(SRB_ExecSCSICmd) == 80, "execute request");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 0x14, "sense length");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 0x15, "cdb length");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 0x16, "host status");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 0x17, "target status");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 0x18, "post routine");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 0x1C, "reserved pointer");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd3) == 0x20, "reserved");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 0x30, "cdb");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 0x40, "sense area");
static_assert(sizeof(SRB_BusDeviceReset) == 64, "reset request");
static_assert(offsetof(SRB_BusDeviceReset, SRB_PostProc) == 0x18, "reset post routine");
static_assert(offsetof(SRB_BusDeviceReset, SRB_Rsvd3) == 0x20, "reset reserved");
static_assert(sizeof(SRB_Abort) == 12, "abort request");
#endif

// The status byte is written by the layer's completion thread and polled by
// the submitter: both sides go through these so the hand-over is ordered.
inline uint8_t LoadStatus(const uint8_t* status) {
    return __atomic_load_n(status, __ATOMIC_ACQUIRE);
}
inline void StoreStatus(uint8_t* status, uint8_t value) {
    __atomic_store_n(status, value, __ATOMIC_RELEASE);
}

// Sense data into an execute request, at most its sense area holds. A
// polling submitter stops on sense byte 0, so that byte goes in last.
inline void StoreSense(SRB_ExecSCSICmd* srb, const uint8_t* sense, size_t length) {
    size_t n = length < srb->SRB_SenseLen ? length : srb->SRB_SenseLen;
    n = n < sizeof srb->SenseArea ? n : sizeof srb->SenseArea;
    if (n == 0)
        return;
    for (size_t i = 1; i < n; ++i)
        srb->SenseArea[i] = sense[i];
    __atomic_store_n(&srb->SenseArea[0], sense[0], __ATOMIC_RELEASE);
}

// GetASPI32SupportInfo packs the status into bits 8-15 and the adapter count
// into bits 0-7.
inline uint8_t SupportStatus(uint32_t info) {
    return static_cast<uint8_t>((info >> 8) & 0xFF);
}
inline uint8_t SupportAdapterCount(uint32_t info) {
    return static_cast<uint8_t>(info & 0xFF);
}
inline uint32_t MakeSupportInfo(uint8_t status, uint8_t count) {
    return (static_cast<uint32_t>(status) << 8) | count;
}

// What a request meets when no layer is there: failed, never left pending.
inline uint32_t FailWithoutLayer(void* srb) {
    if (srb)
        StoreStatus(&static_cast<SRB_Header*>(srb)->SRB_Status, SS_NO_ASPI);
    return SS_NO_ASPI;
}

// A post routine as ASPI calls it, with the finished request.
typedef void (*PostRoutine)(void* srb);

// Ends an execute request: what the flags ask for is read before the status
// is stored, since after it the request is the submitter's again; then the
// event is signalled. Answers the post routine still to call (with the
// request), outside any lock of the layer, or null.
inline void* FinishRequest(SRB_ExecSCSICmd* srb, uint8_t status) {
    uint8_t flags = srb->SRB_Flags;
    void* post = srb->SRB_PostProc;
    StoreStatus(&srb->SRB_Status, status);
    if (flags & SRB_EVENT_NOTIFY) {
        SignalCompletionEvent(post);
        return nullptr;
    }
    return (flags & SRB_POSTING) ? post : nullptr;
}

// The checks of an execute request that need no drive: SS_PENDING when it
// may go on, else the status to refuse it with.
inline uint8_t CheckExecuteRequest(const SRB_ExecSCSICmd* srb, uint8_t adapterCount,
                                   uint32_t maxTransfer) {
    const uint8_t notifyBoth = SRB_POSTING | SRB_EVENT_NOTIFY;
    if (srb->SRB_HaId >= adapterCount)
        return SS_INVALID_HA;
    if ((srb->SRB_Flags & notifyBoth) == notifyBoth || srb->SRB_CDBLen == 0 ||
        srb->SRB_CDBLen > sizeof srb->CDBByte || (srb->SRB_BufLen && !srb->SRB_BufPointer))
        return SS_INVALID_SRB;
    if (srb->SRB_BufLen > maxTransfer)
        return SS_BUFFER_TO_BIG;
    return SS_PENDING;
}

} // namespace aspi
