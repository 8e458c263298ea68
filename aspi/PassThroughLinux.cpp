#include "aspi/PassThroughLinux.h"

#include "aspi/AspiSystem.h"
#include "aspi/BusType.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace aspi {
namespace {

constexpr int kMaxSgDevices = 4096;
constexpr const char kSgPrefix[] = "/dev/sg";

const LinuxSystem& System(void* context) {
    return *static_cast<const LinuxSystem*>(context);
}

std::string SgFolder(const LinuxSystem& system, int index) {
    return std::string(system.sysfs) + "/class/scsi_generic/sg" + std::to_string(index);
}

std::string SgDevice(const LinuxSystem& system, int index) {
    return std::string(system.dev) + "/sg" + std::to_string(index);
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// One past the highest sgN that sysfs lists.
int Count(void* context) {
    std::string folder = std::string(System(context).sysfs) + "/class/scsi_generic";
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        int index = DeviceIndex(entry->d_name, "sg");
        if (index >= 0 && index < kMaxSgDevices && index >= count)
            count = index + 1;
    }
    closedir(dir);
    return count;
}

// The device type sysfs gives sgN, or -1.
int DeviceType(const LinuxSystem& system, int index) {
    std::string path = SgFolder(system, index) + "/device/type";
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return -1;
    int type = -1;
    if (std::fscanf(file, "%d", &type) != 1)
        type = -1;
    std::fclose(file);
    return type;
}

// The H:C:T:L name of the SCSI device behind sgN. The address record holds
// bytes; larger numbers (a host after many hot-plugs) read as no address.
int SysfsAddress(const LinuxSystem& system, int index, ScsiAddress* address) {
    std::string device = RealPath(SgFolder(system, index) + "/device");
    const char* name = std::strrchr(device.c_str(), '/');
    unsigned host, channel, id, lun;
    char end;
    if (!name || std::sscanf(name + 1, "%u:%u:%u:%u%c", &host, &channel, &id, &lun, &end) != 4)
        return kProbeNoAddress;
    if (host > 255 || channel > 255 || id > 255 || lun > 255)
        return kProbeNoAddress;
    *address =
        ScsiAddress{sizeof(ScsiAddress), static_cast<uint8_t>(host), static_cast<uint8_t>(channel),
                    static_cast<uint8_t>(id), static_cast<uint8_t>(lun)};
    return kProbeAddressed;
}

// From where sysfs places the device and which driver runs its SCSI host.
int Bus(void* context, int index) {
    const LinuxSystem& system = System(context);
    ScsiAddress address{};
    std::string driver;
    if (SysfsAddress(system, index, &address) == kProbeAddressed) {
        std::string path = std::string(system.sysfs) + "/class/scsi_host/host" +
                           std::to_string(address.PortNumber) + "/proc_name";
        if (FILE* file = std::fopen(path.c_str(), "r")) {
            char name[64] = {};
            if (std::fscanf(file, "%63s", name) == 1)
                driver = name;
            std::fclose(file);
        }
    }
    std::string device = RealPath(SgFolder(system, index) + "/device");
    return static_cast<int>(BusFromSysfs(device.c_str(), driver.c_str()));
}

int Probe(void* context, int index, ScsiAddress* address) {
    const LinuxSystem& system = System(context);
    if (DeviceType(system, index) != DTYPE_CDROM)
        return kProbeMissing; // disks and others are never reached
    return SysfsAddress(system, index, address);
}

// The opened device must be the one sysfs described: sg numbers are given
// anew when devices come and go.
bool SameDevice(const LinuxSystem& system, int fd, int index) {
    sg_scsi_id id;
    std::memset(&id, 0, sizeof id);
    if (system.ioctl(system.context, fd, SG_GET_SCSI_ID, &id) != 0 || id.scsi_type != DTYPE_CDROM)
        return false;
    ScsiAddress address{};
    int probed = SysfsAddress(system, index, &address);
    return probed != kProbeAddressed ||
           (id.host_no == address.PortNumber && id.channel == address.PathId &&
            id.scsi_id == address.TargetId && id.lun == address.Lun);
}

// An opened sg device. `lost`: a command may still be in the kernel with
// our buffers, so nothing is written to or read from the device again.
struct SgHandle {
    int fd;
    std::atomic<int> cancelled;
    int lost;
};

void* Open(void* context, int index, int* result) {
    const LinuxSystem& system = System(context);
    int fd = system.open(system.context, SgDevice(system, index).c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        *result = errno == EACCES || errno == EPERM ? kOpenDenied : kOpenMissing;
        return nullptr;
    }
    if (!SameDevice(system, fd, index)) {
        system.close(system.context, fd);
        *result = kOpenMissing;
        return nullptr;
    }
    *result = kOpenDone;
    return new SgHandle{fd, {0}, 0};
}

int Direction(uint8_t dataIn) {
    return dataIn == PT_DATA_IN ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
}

void FillHeader(PassThroughRequest* request, sg_io_hdr_t& io) {
    PassThroughDirect& spt = request->spt;
    uint32_t room = spt.SenseInfoOffset < sizeof *request
                        ? static_cast<uint32_t>(sizeof *request - spt.SenseInfoOffset)
                        : 0;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.dxfer_direction = spt.DataTransferLength ? Direction(spt.DataIn) : SG_DXFER_NONE;
    io.cmd_len = spt.CdbLength < sizeof spt.Cdb ? spt.CdbLength : sizeof spt.Cdb;
    io.mx_sb_len =
        static_cast<unsigned char>(spt.SenseInfoLength < room ? spt.SenseInfoLength : room);
    io.dxfer_len = spt.DataTransferLength;
    io.dxferp = spt.DataBuffer;
    io.cmdp = spt.Cdb;
    io.sbp = reinterpret_cast<unsigned char*>(request) + spt.SenseInfoOffset;
    io.timeout = spt.TimeOutValue < UINT_MAX / 1000 ? spt.TimeOutValue * 1000 : UINT_MAX;
}

// Until the kernel answers the one command in flight: 1 with the answer in
// `io`, 0 when the device went away or the wait was cancelled.
int AwaitAnswer(const LinuxSystem& system, SgHandle& device, sg_io_hdr_t& io) {
    while (!device.cancelled.load()) {
        pollfd ready{device.fd, POLLIN, 0};
        int n = system.poll(system.context, &ready, 1, kSgPollSliceMs);
        if (n < 0 && errno != EINTR)
            return 0;
        if (n <= 0)
            continue; // interrupted, or not yet: the kernel's time-out ends it
        if (ready.revents & POLLIN) {
            ssize_t got = system.read(system.context, device.fd, &io, sizeof io);
            if (got == static_cast<ssize_t>(sizeof io))
                return 1;
            if (got < 0 && errno != EINTR && errno != EAGAIN)
                return 0;
        } else if (ready.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return 0; // the device is going away
        }
    }
    return 0;
}

int PassThrough(void* context, void* handle, PassThroughRequest* request) {
    const LinuxSystem& system = System(context);
    SgHandle& device = *static_cast<SgHandle*>(handle);
    if (device.lost)
        return 0;
    sg_io_hdr_t io;
    FillHeader(request, io);
    // Failed: nothing was queued. Never repeated, whatever errno says.
    if (system.write(system.context, device.fd, &io, sizeof io) < 0)
        return 0;
    if (!AwaitAnswer(system, device, io)) {
        device.lost = 1;
        return kPassThroughLost; // written: it may have reached the drive
    }
    int driver = io.driver_status & 0x0F; // 0x08: sense data follows, no fault
    if (io.host_status || (driver && driver != 0x08))
        return 0; // not reached, timed out or aborted by the system
    PassThroughDirect& spt = request->spt;
    spt.ScsiStatus = io.status;
    uint32_t resid = io.resid > 0 ? static_cast<uint32_t>(io.resid) : 0;
    spt.DataTransferLength = resid < io.dxfer_len ? io.dxfer_len - resid : 0;
    spt.SenseInfoLength = io.sb_len_wr;
    return 1;
}

void Cancel(void*, void* handle) {
    static_cast<SgHandle*>(handle)->cancelled.store(1);
}

// A command left in the kernel ends there: sg drops its answer once the
// device is closed and copies nothing into our memory any more.
void Close(void* context, void* handle) {
    const LinuxSystem& system = System(context);
    SgHandle* device = static_cast<SgHandle*>(handle);
    system.close(system.context, device->fd);
    delete device;
}

// /dev/sgN, or /dev/srN (or a link to either) through the SCSI device both
// names stand for.
int IndexOf(void* context, const char* path) {
    const LinuxSystem& system = System(context);
    std::string resolved = RealPath(path);
    std::string dev = RealPath(system.dev) + "/";
    if (resolved.compare(0, dev.size(), dev) != 0)
        return -1;
    std::string name = resolved.substr(dev.size());
    int index = DeviceIndex(name.c_str(), "sg");
    if (index >= 0)
        return index;
    if (DeviceIndex(name.c_str(), "sr") < 0)
        return -1;
    std::string device = RealPath(std::string(system.sysfs) + "/class/block/" + name + "/device");
    for (int i = 0, count = Count(context); !device.empty() && i < count; ++i)
        if (RealPath(SgFolder(system, i) + "/device") == device)
            return i;
    return -1;
}

// The group's name from /etc/group, where device groups live (read by hand:
// the name service of a statically linked program may not load).
std::string GroupName(gid_t gid) {
    FILE* file = std::fopen("/etc/group", "r");
    if (!file)
        return std::string();
    char line[1024];
    std::string name;
    while (name.empty() && std::fgets(line, sizeof line, file)) {
        char* first = std::strchr(line, ':');
        char* second = first ? std::strchr(first + 1, ':') : nullptr;
        if (second && std::strtoul(second + 1, nullptr, 10) == gid && second[1] != ':')
            name.assign(line, static_cast<size_t>(first - line));
    }
    std::fclose(file);
    return name;
}

void DeniedReason(void* context, int index, char* text, uint32_t size) {
    struct stat info;
    std::string group;
    if (stat(SgDevice(System(context), index).c_str(), &info) == 0 && info.st_gid != 0)
        group = GroupName(info.st_gid);
    if (!group.empty())
        std::snprintf(text, size,
                      "No access to %s%d (group %s): add the user to group %s, or run as root.",
                      kSgPrefix, index, group.c_str(), group.c_str());
    else
        std::snprintf(text, size, "No access to %s%d: run as root.", kSgPrefix, index);
}

void Name(void*, int index, char* text, uint32_t size) {
    NumberedName(kSgPrefix, index, text, size);
}

int SystemOpen(void*, const char* path, int flags) {
    return ::open(path, flags | O_CLOEXEC);
}

int SystemIoctl(void*, int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

ssize_t SystemWrite(void*, int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}

int SystemPoll(void*, pollfd* fds, nfds_t count, int milliseconds) {
    return ::poll(fds, count, milliseconds);
}

ssize_t SystemRead(void*, int fd, void* data, size_t size) {
    return ::read(fd, data, size);
}

int SystemClose(void*, int fd) {
    return ::close(fd);
}

const LinuxSystem kRealSystem = {nullptr,      "/sys",      "/dev",      &SystemOpen, &SystemIoctl,
                                 &SystemWrite, &SystemPoll, &SystemRead, &SystemClose};

} // namespace

const LinuxSystem& RealLinuxSystem() {
    return kRealSystem;
}

DeviceCalls LinuxDeviceCalls(const LinuxSystem* system) {
    DeviceCalls calls = {const_cast<LinuxSystem*>(system),
                         &Count,
                         &Probe,
                         &Open,
                         &PassThrough,
                         &Close,
                         &Cancel,
                         &IndexOf,
                         &DeniedReason,
                         &Name,
                         "host",
                         "channel",
                         &Bus};
    return calls;
}

const DeviceCalls* detail::SystemDeviceCalls() {
    static const DeviceCalls calls = LinuxDeviceCalls(&kRealSystem);
    return &calls;
}

} // namespace aspi
