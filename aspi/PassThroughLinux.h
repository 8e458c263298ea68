// The pass-through layer's device calls on Linux: the SCSI generic devices
// (/dev/sgN) whose device type is 5, found through sysfs, and sg's
// asynchronous interface.
//
// A device's address is the H:C:T:L name sysfs gives it (host, channel, id,
// lun), which anyone may read, so every layer numbers the drives alike
// whatever it may open; once opened, SG_GET_SCSI_ID must tell the same
// address and type. Opening needs read and write access to /dev/sgN (group
// cdrom or disk, or root).
//
// A command is written to the device as an sg_io_hdr and its answer read
// back once poll says it is there. SG_IO is never used: a stop signal
// (Ctrl-Z, then fg) makes the kernel restart that ioctl, which sends the
// command a second time while the first still runs. A write is never
// repeated (sg queues a request whole or not at all, and never waits
// interruptibly there); an interrupted poll or read only waits again. The
// wait has no time-out of its own: the kernel ends the command at the
// sg_io_hdr's time-out and answers, and its buffers stay ours until then.
#pragma once

#include "aspi/PassThroughLayer.h"

#include <poll.h>
#include <sys/types.h>

namespace aspi {

// The system calls the device calls make, so that tests can stand in for the
// kernel. Each gets `context` back; failures answer -1 and set errno.
struct LinuxSystem {
    void* context;
    const char* sysfs; // "/sys"
    const char* dev;   // "/dev"
    int (*open)(void* context, const char* path, int flags);
    int (*ioctl)(void* context, int fd, unsigned long request, void* argument);
    ssize_t (*write)(void* context, int fd, const void* data, size_t size);
    int (*poll)(void* context, pollfd* fds, nfds_t count, int milliseconds);
    ssize_t (*read)(void* context, int fd, void* data, size_t size);
    int (*close)(void* context, int fd);
};

// How long one poll waits before the wait looks whether it was cancelled.
enum : int { kSgPollSliceMs = 200 };

// The kernel's own calls, on /sys and /dev.
const LinuxSystem& RealLinuxSystem();

// Device calls over `system`, which must outlive them.
DeviceCalls LinuxDeviceCalls(const LinuxSystem* system);

} // namespace aspi
