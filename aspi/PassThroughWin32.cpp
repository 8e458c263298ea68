// The pass-through layer's device calls on Windows: the drive letters of the
// CD/DVD drives (\\.\D:) and DeviceIoControl. Opening them for the
// pass-through needs administrator rights. Wine serves the pass-through and
// the address only on a drive letter whose device link names the Linux
// device (dosdevices/d:: -> /dev/sr0), not on its \\.\CdRomN objects.
#include "AspiSystem.h"
#include "BusType.h"
#include "PassThroughLayer.h"

#include <windows.h>

#include <ntddscsi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>

namespace aspi {

// The portable mirrors are the system's records, field for field.
#define SAME_FIELD(mirror, system, field)                                                          \
    static_assert(offsetof(mirror, field) == offsetof(system, field), #field)
static_assert(sizeof(PassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT), "pass-through size");
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, Length);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, ScsiStatus);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, PathId);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, TargetId);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, Lun);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, CdbLength);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, SenseInfoLength);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, DataIn);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, DataTransferLength);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, TimeOutValue);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, DataBuffer);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset);
SAME_FIELD(PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, Cdb);
static_assert(sizeof(ScsiAddress) == sizeof(SCSI_ADDRESS), "address size");
SAME_FIELD(ScsiAddress, SCSI_ADDRESS, Length);
SAME_FIELD(ScsiAddress, SCSI_ADDRESS, PortNumber);
SAME_FIELD(ScsiAddress, SCSI_ADDRESS, PathId);
SAME_FIELD(ScsiAddress, SCSI_ADDRESS, TargetId);
SAME_FIELD(ScsiAddress, SCSI_ADDRESS, Lun);
#undef SAME_FIELD
static_assert(PT_DATA_IN == SCSI_IOCTL_DATA_IN && PT_DATA_OUT == SCSI_IOCTL_DATA_OUT &&
                  PT_DATA_UNSPECIFIED == SCSI_IOCTL_DATA_UNSPECIFIED,
              "directions");

namespace {

enum : int { kDriveLetters = 26 };

int Count(void*) {
    return kDriveLetters;
}

HANDLE OpenObject(int index, DWORD access) {
    char name[16];
    DriveLetterName(index, name, sizeof name);
    return CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

// Only letters the system calls CD/DVD drives are looked at: a hard disk's
// letter is never opened. Opened without access to the medium, which any
// user may do; the address query needs no more.
int Probe(void*, int index, ScsiAddress* address) {
    if (index < 0 || index >= kDriveLetters)
        return kProbeMissing;
    const char root[] = {static_cast<char>('A' + index), ':', '\\', '\0'};
    if (GetDriveTypeA(root) != DRIVE_CDROM)
        return kProbeMissing;
    HANDLE device = OpenObject(index, 0);
    if (device == INVALID_HANDLE_VALUE)
        return kProbeMissing;
    SCSI_ADDRESS answer;
    ZeroMemory(&answer, sizeof answer);
    answer.Length = sizeof answer;
    DWORD returned = 0;
    BOOL known = DeviceIoControl(device, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &answer, sizeof answer,
                                 &returned, nullptr);
    CloseHandle(device);
    if (!known)
        return kProbeNoAddress;
    address->Length = answer.Length;
    address->PortNumber = answer.PortNumber;
    address->PathId = answer.PathId;
    address->TargetId = answer.TargetId;
    address->Lun = answer.Lun;
    return kProbeAddressed;
}

// The storage device property, which any user may ask for.
int Bus(void*, int index) {
    HANDLE device = OpenObject(index, 0);
    if (device == INVALID_HANDLE_VALUE)
        return static_cast<int>(BusType::Unknown);
    STORAGE_PROPERTY_QUERY query;
    ZeroMemory(&query, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    ZeroMemory(&descriptor, sizeof descriptor);
    DWORD returned = 0;
    // The descriptor's fixed part is enough: its strings are not wanted.
    BOOL known = DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                                 &descriptor, sizeof descriptor, &returned, nullptr);
    CloseHandle(device);
    if (!known || returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(DWORD))
        return static_cast<int>(BusType::Unknown);
    return static_cast<int>(BusFromStorageProperty(static_cast<uint32_t>(descriptor.BusType)));
}

void* OpenCdRom(void*, int index, int* result) {
    HANDLE device = OpenObject(index, GENERIC_READ | GENERIC_WRITE);
    if (device == INVALID_HANDLE_VALUE) {
        *result = GetLastError() == ERROR_ACCESS_DENIED ? kOpenDenied : kOpenMissing;
        return nullptr;
    }
    *result = kOpenDone;
    return device;
}

int PassThrough(void*, void* device, PassThroughRequest* request) {
    DWORD returned = 0;
    return DeviceIoControl(static_cast<HANDLE>(device), IOCTL_SCSI_PASS_THROUGH_DIRECT, request,
                           sizeof *request, request, sizeof *request, &returned, nullptr)
               ? 1
               : 0;
}

void CloseCdRom(void*, void* device) {
    CloseHandle(static_cast<HANDLE>(device));
}

int IndexOf(void*, const char* path) {
    return DriveLetterIndex(path);
}

void Name(void*, int index, char* text, uint32_t size) {
    DriveLetterName(index, text, size);
}

// No cancel: a pass-through ends at its own time-out.
const DeviceCalls kSystemCalls = {nullptr,     &Count,  &Probe,   &OpenCdRom, &PassThrough,
                                  &CloseCdRom, nullptr, &IndexOf, nullptr,    &Name,
                                  "port",      "path",  &Bus};

} // namespace

const DeviceCalls* detail::SystemDeviceCalls() {
    return &kSystemCalls;
}

} // namespace aspi
