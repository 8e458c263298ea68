#include "FakeCdRoms.h"

#include "simulator/DriveBank.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#ifndef _WIN32
#include <cerrno>
#include <filesystem>
#include <fstream>
#endif

using namespace aspi;

FakeCdRoms::~FakeCdRoms() {
    Release();
}

void FakeCdRoms::Add(int index, uint8_t port, uint8_t path, uint8_t target, uint8_t lun,
                     const simulator::DriveConfig& config) {
    std::unique_ptr<Device> device(new Device());
    device->index = index;
    device->openResult = kOpenDone;
    device->addressed = 1;
    device->address = ScsiAddress{sizeof(ScsiAddress), port, path, target, lun};
    device->drive.reset(new simulator::VirtualDrive(config));
    std::lock_guard<std::mutex> lock(mutex);
    devices.push_back(std::move(device));
}

void FakeCdRoms::AddUnaddressed(int index, const simulator::DriveConfig& config) {
    Add(index, 0, 0, 0, 0, config);
    std::lock_guard<std::mutex> lock(mutex);
    devices.back()->addressed = 0;
}

void FakeCdRoms::AddDenied(int index) {
    std::unique_ptr<Device> device(new Device());
    device->index = index;
    device->openResult = kOpenDenied;
    device->addressed = 0;
    device->address = ScsiAddress{};
    std::lock_guard<std::mutex> lock(mutex);
    devices.push_back(std::move(device));
}

DeviceCalls FakeCdRoms::Calls() {
    return DeviceCalls{this,     &Count,  &Probe, &Open,  &PassThrough, &Close, nullptr,
                       &IndexOf, nullptr, &Name,  "port", "path",       nullptr};
}

FakeCdRoms::Device* FakeCdRoms::At(int index) {
    for (auto& device : devices)
        if (device->index == index)
            return device.get();
    return nullptr;
}

void FakeCdRoms::Refuse(int index) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Device* device = At(index))
        device->openResult = kOpenDenied;
}

void FakeCdRoms::Vanish(int index) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Device* device = At(index))
        device->gone = true;
    changed.notify_all();
}

void FakeCdRoms::Release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    changed.notify_all();
}

int FakeCdRoms::Held() {
    std::lock_guard<std::mutex> lock(mutex);
#ifndef _WIN32
    return held + static_cast<int>(std::count_if(sgRequests.begin(), sgRequests.end(),
                                                 [](const SgRequest& r) { return !r.done; }));
#else
    return held;
#endif
}

simulator::VirtualDrive* FakeCdRoms::Drive(int index) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* device = At(index);
    return device ? device->drive.get() : nullptr;
}

std::vector<FakeCdRoms::Seen> FakeCdRoms::Journal() {
    std::lock_guard<std::mutex> lock(mutex);
    return journal;
}

void* FakeCdRoms::Open(void* context, int index, int* result) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    std::lock_guard<std::mutex> lock(self.mutex);
    Device* device = self.At(index);
    *result = device ? device->openResult : kOpenMissing;
    return device && device->openResult == kOpenDone ? device : nullptr;
}

int FakeCdRoms::Count(void*) {
    return 32;
}

int FakeCdRoms::Probe(void* context, int index, ScsiAddress* address) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    std::lock_guard<std::mutex> lock(self.mutex);
    Device* device = self.At(index);
    if (!device)
        return kProbeMissing;
    if (!device->addressed)
        return kProbeNoAddress;
    *address = device->address;
    return kProbeAddressed;
}

int FakeCdRoms::PassThrough(void* context, void* handle, PassThroughRequest* request) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    Device* device = static_cast<Device*>(handle);
    PassThroughDirect& spt = request->spt;
    uint8_t* data = static_cast<uint8_t*>(spt.DataBuffer);
    std::unique_lock<std::mutex> lock(self.mutex);
    self.journal.push_back(Seen{device->index, spt,
                                spt.DataIn == PT_DATA_OUT && data
                                    ? simulator::DataDigest(data, spt.DataTransferLength)
                                    : 0u});
    if (device->gone)
        return 0;
    if (device->drive->Hangs(spt.Cdb)) {
        ++self.held;
        self.changed.wait_for(lock, std::chrono::seconds(spt.TimeOutValue),
                              [&] { return self.released || device->gone; });
        --self.held;
        return 0; // the system gives up on the command
    }
    return Run(device, request);
}

int FakeCdRoms::Run(Device* device, PassThroughRequest* request) {
    PassThroughDirect& spt = request->spt;
    uint8_t* data = static_cast<uint8_t*>(spt.DataBuffer);
    uint8_t flags = spt.DataIn == PT_DATA_IN    ? SRB_DIR_IN
                    : spt.DataIn == PT_DATA_OUT ? SRB_DIR_OUT
                                                : 0;
    simulator::CommandResult result =
        device->drive->Execute(spt.Cdb, data, spt.DataTransferLength, flags);
    if (result.hostStatus)
        return 0;
    spt.ScsiStatus = result.targetStatus;
    spt.DataTransferLength = spt.DataIn == PT_DATA_IN ? result.bytesIn : result.bytesOut;
    uint32_t room = sizeof *request - spt.SenseInfoOffset;
    uint32_t n = result.targetStatus == STATUS_CHKCOND ? sizeof result.sense : 0;
    n = n < spt.SenseInfoLength ? n : spt.SenseInfoLength;
    n = n < room ? n : room;
    std::memcpy(reinterpret_cast<uint8_t*>(request) + spt.SenseInfoOffset, result.sense, n);
    spt.SenseInfoLength = static_cast<uint8_t>(n);
    return 1;
}

void FakeCdRoms::Close(void*, void*) {}

int FakeCdRoms::IndexOf(void*, const char* path) {
    return DriveLetterIndex(path);
}

void FakeCdRoms::Name(void*, int index, char* text, uint32_t size) {
    DriveLetterName(index, text, size);
}

simulator::DriveConfig FakeDrive(const char* product, unsigned protocols) {
    simulator::DriveConfig config;
    config.kind = simulator::DriveKind::CdDrive;
    simulator::SetField(config.vendor, "FAKE");
    simulator::SetField(config.product, product);
    simulator::SetField(config.revision, "1.00");
    config.protocols = protocols;
    return config;
}

#ifndef _WIN32
namespace {

bool IsDisk(const simulator::VirtualDrive* drive) {
    return drive && drive->config.kind == simulator::DriveKind::Disk;
}

} // namespace

void FakeCdRoms::WriteSysfs(const Device& device, int srNumber) {
    namespace fs = std::filesystem;
    const ScsiAddress& a = device.address;
    std::string name = device.addressed
                           ? std::to_string(a.PortNumber) + ":" + std::to_string(a.PathId) + ":" +
                                 std::to_string(a.TargetId) + ":" + std::to_string(a.Lun)
                           : "usb" + std::to_string(device.index);
    fs::path scsiDevice = fs::path(sysfs) / "devices" / name;
    fs::create_directories(scsiDevice);
    std::ofstream(scsiDevice / "type") << (IsDisk(device.drive.get()) ? 0 : 5) << "\n";
    fs::path sg = fs::path(sysfs) / "class/scsi_generic" / ("sg" + std::to_string(device.index));
    fs::create_directories(sg);
    fs::create_directory_symlink(scsiDevice, sg / "device");
    std::ofstream(fs::path(dev) / ("sg" + std::to_string(device.index)));
    if (srNumber < 0)
        return;
    fs::path sr = fs::path(sysfs) / "class/block" / ("sr" + std::to_string(srNumber));
    fs::create_directories(sr);
    fs::create_directory_symlink(scsiDevice, sr / "device");
    std::ofstream(fs::path(dev) / ("sr" + std::to_string(srNumber)));
}

LinuxSystem FakeCdRoms::Linux(const std::string& root) {
    std::filesystem::remove_all(root);
    sysfs = root + "/sys";
    dev = root + "/dev";
    std::filesystem::create_directories(sysfs + "/class/scsi_generic");
    std::filesystem::create_directories(dev);
    std::vector<Device*> byIndex;
    for (auto& device : devices)
        byIndex.push_back(device.get());
    std::sort(byIndex.begin(), byIndex.end(),
              [](const Device* a, const Device* b) { return a->index < b->index; });
    int sr = 0;
    for (const Device* device : byIndex)
        WriteSysfs(*device, IsDisk(device->drive.get()) ? -1 : sr++);
    return LinuxSystem{this,     sysfs.c_str(), dev.c_str(), &SgOpen, &SgIoctl,
                       &SgWrite, &SgPoll,       &SgRead,     &SgClose};
}

std::vector<sg_io_hdr_t> FakeCdRoms::SgJournal() {
    std::lock_guard<std::mutex> lock(mutex);
    return sgJournal;
}

void FakeCdRoms::InterruptWaits(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    interruptWaits = on;
}

int FakeCdRoms::Interruptions() {
    std::lock_guard<std::mutex> lock(mutex);
    return interruptions;
}

// Every other call of a kind, while interrupting.
bool FakeCdRoms::Interrupt(bool& toggle) {
    if (!interruptWaits)
        return false;
    toggle = !toggle;
    interruptions += toggle;
    return toggle;
}

FakeCdRoms::Device* FakeCdRoms::SgDevice(int fd) {
    auto found = sgFds.find(fd);
    return found == sgFds.end() ? nullptr : found->second;
}

int FakeCdRoms::SgOpen(void* context, const char* path, int) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    int index = DeviceIndex(path, (self.dev + "/sg").c_str());
    std::lock_guard<std::mutex> lock(self.mutex);
    Device* device = index >= 0 ? self.At(index) : nullptr;
    if (!device || device->openResult != kOpenDone) {
        errno = device ? EACCES : ENOENT;
        return -1;
    }
    self.sgFds[self.nextFd] = device;
    return self.nextFd++;
}

int FakeCdRoms::SgIoctl(void* context, int fd, unsigned long request, void* argument) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    Device* device;
    {
        std::lock_guard<std::mutex> lock(self.mutex);
        device = self.SgDevice(fd);
    }
    if (!device) {
        errno = EBADF;
        return -1;
    }
    if (request == SG_IO)
        return SgIo(self, fd, static_cast<sg_io_hdr_t*>(argument));
    if (request != SG_GET_SCSI_ID) {
        errno = EINVAL;
        return -1;
    }
    sg_scsi_id* id = static_cast<sg_scsi_id*>(argument);
    id->host_no = device->address.PortNumber;
    id->channel = device->address.PathId;
    id->scsi_id = device->address.TargetId;
    id->lun = device->address.Lun;
    id->scsi_type = IsDisk(device->drive.get()) ? 0 : 5;
    return 0;
}

// The kernel's part of a write: the command to the drive as a pass-through
// record; a command the drive hangs on is held until its time-out.
void FakeCdRoms::Submit(int fd, Device* device, const sg_io_hdr_t& io) {
    sgJournal.push_back(io);
    SgRequest r{fd, io, PassThroughRequest{}, std::vector<uint8_t>(io.dxfer_len), 0, true, {}};
    PassThroughDirect& spt = r.pt.spt;
    spt.DataIn = io.dxfer_direction == SG_DXFER_FROM_DEV ? PT_DATA_IN
                 : io.dxfer_direction == SG_DXFER_TO_DEV ? PT_DATA_OUT
                                                         : PT_DATA_UNSPECIFIED;
    spt.DataTransferLength = io.dxfer_len;
    spt.DataBuffer = r.data.empty() ? nullptr : r.data.data();
    if (spt.DataIn == PT_DATA_OUT && !r.data.empty())
        std::memcpy(r.data.data(), io.dxferp, r.data.size());
    spt.CdbLength = io.cmd_len;
    std::memcpy(spt.Cdb, io.cmdp, std::min<size_t>(io.cmd_len, sizeof spt.Cdb));
    spt.TimeOutValue = io.timeout / 1000;
    spt.SenseInfoLength = PT_SENSE_BYTES;
    spt.SenseInfoOffset = offsetof(PassThroughRequest, sense);
    journal.push_back(Seen{device->index, spt,
                           spt.DataIn == PT_DATA_OUT && spt.DataBuffer
                               ? simulator::DataDigest(r.data.data(), spt.DataTransferLength)
                               : 0u});
    if (device->drive->Hangs(spt.Cdb)) {
        r.done = false;
        r.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(io.timeout);
    } else {
        r.carriedOut = Run(device, &r.pt);
    }
    sgRequests.push_back(std::move(r));
    changed.notify_all();
}

// Held commands end at their time-out, or when released, as timed out.
void FakeCdRoms::Settle() {
    auto now = std::chrono::steady_clock::now();
    for (SgRequest& r : sgRequests)
        if (!r.done && (released || now >= r.deadline))
            r.done = true;
}

// The answer as sg reads it back: data in and sense to where the written
// header pointed.
void FakeCdRoms::Answer(const SgRequest& r, sg_io_hdr_t* io) {
    *io = r.header;
    if (!r.carriedOut) {
        io->host_status = 0x03; // timed out
        return;
    }
    uint32_t moved = r.pt.spt.DataTransferLength;
    if (r.pt.spt.DataIn == PT_DATA_IN && moved)
        std::memcpy(io->dxferp, r.data.data(), moved);
    io->status = r.pt.spt.ScsiStatus;
    io->resid = static_cast<int>(io->dxfer_len - moved);
    io->sb_len_wr = std::min<unsigned char>(io->mx_sb_len, r.pt.spt.SenseInfoLength);
    std::memcpy(io->sbp, r.pt.sense, io->sb_len_wr);
    io->driver_status = io->sb_len_wr ? 0x08 : 0;
}

ssize_t FakeCdRoms::SgWrite(void* context, int fd, const void* data, size_t size) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    std::lock_guard<std::mutex> lock(self.mutex);
    Device* device = self.SgDevice(fd);
    errno = !device ? EBADF : size < sizeof(sg_io_hdr_t) ? EINVAL : device->gone ? ENODEV : 0;
    if (errno)
        return -1;
    self.Submit(fd, device, *static_cast<const sg_io_hdr_t*>(data));
    return static_cast<ssize_t>(size);
}

int FakeCdRoms::SgPoll(void* context, pollfd* fds, nfds_t count, int milliseconds) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    std::unique_lock<std::mutex> lock(self.mutex);
    if (self.Interrupt(self.pollToggle)) {
        errno = EINTR;
        return -1;
    }
    auto until = std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(milliseconds < 0 ? 86400000 : milliseconds);
    for (;;) {
        self.Settle();
        int ready = 0;
        for (nfds_t i = 0; i < count; ++i) {
            Device* device = self.SgDevice(fds[i].fd);
            bool answered =
                std::any_of(self.sgRequests.begin(), self.sgRequests.end(),
                            [&](const SgRequest& r) { return r.fd == fds[i].fd && r.done; });
            fds[i].revents = static_cast<short>(!device        ? POLLNVAL
                                                : device->gone ? POLLHUP | (answered ? POLLIN : 0)
                                                : answered     ? POLLIN
                                                               : 0);
            ready += fds[i].revents != 0;
        }
        auto wake = until;
        for (const SgRequest& r : self.sgRequests)
            if (!r.done)
                wake = std::min(wake, r.deadline);
        if (ready || std::chrono::steady_clock::now() >= until)
            return ready;
        self.changed.wait_until(lock, wake);
    }
}

ssize_t FakeCdRoms::SgRead(void* context, int fd, void* data, size_t size) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    std::lock_guard<std::mutex> lock(self.mutex);
    Device* device = self.SgDevice(fd);
    if (self.Interrupt(self.readToggle)) {
        errno = EINTR;
        return -1;
    }
    self.Settle();
    auto answer = std::find_if(self.sgRequests.begin(), self.sgRequests.end(),
                               [&](const SgRequest& r) { return r.fd == fd && r.done; });
    errno = !device                           ? EBADF
            : size < sizeof(sg_io_hdr_t)      ? EINVAL
            : answer != self.sgRequests.end() ? 0
            : device->gone                    ? ENODEV
                                              : EAGAIN;
    if (errno)
        return -1;
    Answer(*answer, static_cast<sg_io_hdr_t*>(data));
    self.sgRequests.erase(answer);
    return static_cast<ssize_t>(size);
}

// SG_IO: write and wait in one call. A signal during the wait makes the
// kernel drop the first command's answer and restart the call, which sends
// the command again.
int FakeCdRoms::SgIo(FakeCdRoms& self, int fd, sg_io_hdr_t* io) {
    std::unique_lock<std::mutex> lock(self.mutex);
    Device* device = self.SgDevice(fd);
    if (device->gone) {
        errno = ENODEV;
        return -1;
    }
    self.Submit(fd, device, *io);
    if (self.Interrupt(self.ioctlToggle)) {
        self.sgRequests.pop_back();
        self.Submit(fd, device, *io);
    }
    for (;;) { // the device's one command: SG_IO waits for it
        self.Settle();
        auto own = std::find_if(self.sgRequests.begin(), self.sgRequests.end(),
                                [&](const SgRequest& r) { return r.fd == fd; });
        if (own->done) {
            Answer(*own, io);
            self.sgRequests.erase(own);
            return 0;
        }
        if (device->gone) {
            errno = ENODEV;
            return -1;
        }
        self.changed.wait_until(lock, own->deadline);
    }
}

// The kernel drops whatever the closed device still held.
int FakeCdRoms::SgClose(void* context, int fd) {
    FakeCdRoms& self = *static_cast<FakeCdRoms*>(context);
    std::lock_guard<std::mutex> lock(self.mutex);
    self.sgRequests.erase(std::remove_if(self.sgRequests.begin(), self.sgRequests.end(),
                                         [&](const SgRequest& r) { return r.fd == fd; }),
                          self.sgRequests.end());
    self.sgFds.erase(fd);
    return 0;
}
#endif
