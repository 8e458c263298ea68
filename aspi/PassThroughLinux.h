// The pass-through layer's device calls on Linux: the SCSI generic devices
// (/dev/sgN) whose device type is 5, found through sysfs, and SG_IO.
//
// A device's address is the H:C:T:L name sysfs gives it (host, channel, id,
// lun), which anyone may read, so every layer numbers the drives alike
// whatever it may open; once opened, SG_GET_SCSI_ID must tell the same
// address and type. Opening needs read and write access to /dev/sgN (group
// cdrom or disk, or root).
#pragma once

#include "aspi/PassThroughLayer.h"

namespace aspi {

// The system calls the device calls make, so that tests can stand in for the
// kernel. Each gets `context` back; failures answer -1 and set errno.
struct LinuxSystem {
    void* context;
    const char* sysfs; // "/sys"
    const char* dev;   // "/dev"
    int (*open)(void* context, const char* path, int flags);
    int (*ioctl)(void* context, int fd, unsigned long request, void* argument);
    int (*close)(void* context, int fd);
};

// The kernel's own calls, on /sys and /dev.
const LinuxSystem& RealLinuxSystem();

// Device calls over `system`, which must outlive them.
DeviceCalls LinuxDeviceCalls(const LinuxSystem* system);

} // namespace aspi
