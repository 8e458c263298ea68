// CD-ROM device objects for the pass-through layer, backed by simulated
// drives: what the system's device calls would do with a real drive, and a
// record of every pass-through that reached a device.
#pragma once

#include "aspi/PassThroughLayer.h"
#include "simulator/VirtualDrive.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#ifndef _WIN32
#include "aspi/PassThroughLinux.h"

#include <scsi/sg.h>
#endif

// Named as the system names them, so that reports read alike.

class FakeCdRoms {
  public:
    struct Seen {
        int index;
        aspi::PassThroughDirect spt; // as it reached the device
        uint32_t dataDigest;         // of the data phase out, else 0
    };

    FakeCdRoms() = default;
    // Ends every pass-through still held, so the layer's threads can end.
    ~FakeCdRoms();
    FakeCdRoms(const FakeCdRoms&) = delete;
    FakeCdRoms& operator=(const FakeCdRoms&) = delete;

    // Device object `index` with this SCSI address and drive.
    void Add(int index, uint8_t port, uint8_t path, uint8_t target, uint8_t lun,
             const simulator::DriveConfig& config);
    // One that answers no address.
    void AddUnaddressed(int index, const simulator::DriveConfig& config);
    // One that only an administrator may open.
    void AddDenied(int index);
    // From now on opening device object `index` is denied; it still tells
    // its address (a layer made before keeps its handle).
    void Refuse(int index);

    aspi::DeviceCalls Calls();

    // From now on every pass-through to the device fails, one held included.
    void Vanish(int index);
    // Commands the drive hangs on are held until this (or until the time-out
    // the pass-through carries, as the system does).
    void Release();
    // How many commands are being held now.
    int Held();

    simulator::VirtualDrive* Drive(int index);
    std::vector<Seen> Journal();

#ifndef _WIN32
    // The same devices as Linux shows them, under `root` (a fresh folder):
    // sys/class/scsi_generic/sgN with its type (5, or 0 for a disk) and its
    // device link to sys/devices/H:C:T:L, sys/class/block/srK/device for the
    // CD/DVD drives in index order, dev/sgN and dev/srK; open and ioctl
    // (SG_GET_SCSI_ID, SG_IO), write, poll and read answered by the drives
    // as sg does: a written command's data in reaches its buffer, and its
    // sense its sense buffer, only when its answer is read. This object
    // must outlive what it answers.
    aspi::LinuxSystem Linux(const std::string& root);
    // Every command as it reached a device through sg.
    std::vector<sg_io_hdr_t> SgJournal();
    // While on, every poll and read of an sg device fails once with EINTR
    // before it is answered, as after a stop and continue signal; an SG_IO
    // caught so is restarted by the kernel, which sends its command again.
    void InterruptWaits(bool on);
    // How many calls were interrupted.
    int Interruptions();
#endif

  private:
    struct Device {
        int index;
        int openResult;
        int addressed;
        aspi::ScsiAddress address;
        std::unique_ptr<simulator::VirtualDrive> drive;
        bool gone = false;
    };
    Device* At(int index);
    static void* Open(void* context, int index, int* result);
    static int Count(void* context);
    static int Probe(void* context, int index, aspi::ScsiAddress* address);
    static int PassThrough(void* context, void* device, aspi::PassThroughRequest* request);
    static void Close(void* context, void* device);
    static int IndexOf(void* context, const char* path);
    static void Name(void* context, int index, char* text, uint32_t size);
    // The command on the simulated drive: 1 with its answer in `request`,
    // 0 when the system could not carry it out.
    static int Run(Device* device, aspi::PassThroughRequest* request);

    std::vector<std::unique_ptr<Device>> devices;
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int held = 0;
    std::vector<Seen> journal;
#ifndef _WIN32
    // A command written to an sg device, until its answer is read.
    struct SgRequest {
        int fd;
        sg_io_hdr_t header; // as written: where data in and sense go
        aspi::PassThroughRequest pt;
        std::vector<uint8_t> data;
        int carriedOut;
        bool done;
        std::chrono::steady_clock::time_point deadline; // of a held one
    };
    void WriteSysfs(const Device& device, int srNumber);
    Device* SgDevice(int fd);
    void Submit(int fd, Device* device, const sg_io_hdr_t& io);
    void Settle();
    bool Interrupt(bool& toggle);
    static void Answer(const SgRequest& request, sg_io_hdr_t* io);
    static int SgOpen(void* context, const char* path, int flags);
    static int SgIoctl(void* context, int fd, unsigned long request, void* argument);
    static int SgIo(FakeCdRoms& self, int fd, sg_io_hdr_t* io);
    static ssize_t SgWrite(void* context, int fd, const void* data, size_t size);
    static int SgPoll(void* context, pollfd* fds, nfds_t count, int milliseconds);
    static ssize_t SgRead(void* context, int fd, void* data, size_t size);
    static int SgClose(void* context, int fd);
    std::string sysfs, dev;
    std::vector<sg_io_hdr_t> sgJournal;
    std::vector<SgRequest> sgRequests; // oldest first
    std::map<int, Device*> sgFds;
    int nextFd = 1000;
    bool interruptWaits = false, pollToggle = false, readToggle = false, ioctlToggle = false;
    int interruptions = 0;
#endif
};

// A CD/DVD drive identity for the fakes.
simulator::DriveConfig FakeDrive(const char* product, unsigned protocols = 0);
