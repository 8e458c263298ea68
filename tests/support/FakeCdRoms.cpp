#include "FakeCdRoms.h"

#include "simulator/DriveBank.h"

#include <chrono>
#include <cstring>

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
    return DeviceCalls{this,   &Count,   &Probe,  &Open,       &PassThrough,
                       &Close, &IndexOf, nullptr, kCdRomPrefix};
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
    return held;
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
    return DeviceIndex(path, kCdRomPrefix);
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
