// An ASPI layer of our own over the system's SCSI pass-through, for systems
// that have no WNASPI32.DLL or one that reports no host adapters.
//
// The CD/DVD device objects (CdRom0, CdRom1, ...) are opened once, at
// construction, and asked for their SCSI address. Host adapters are the
// distinct (port, path) pairs in ascending order, targets the drives' target
// ids, so a saved adapter and target find the same drive after the device
// objects were numbered anew. A target id of 8 or more takes the lowest free
// target below 8 of its adapter; drives that answer no address share one
// adapter after all others, in device order.
//
// An execute request is answered "pending" and carried out on a thread of
// its drive through a buffer of the layer's own: an abort or a reset gives
// the request back at once even while the system still holds the command,
// and a drive that hangs holds up no other drive. Completion writes the
// data, host and target status and sense first, the request status last,
// then signals the event or calls the post routine.
#pragma once

#include "aspi/AspiLayer.h"
#include "aspi/AspiRecords.h"
#include "aspi/PassThroughRecords.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace aspi {

enum OpenResult : int { kOpenDone = 0, kOpenMissing = 1, kOpenDenied = 2 };

// The device calls the layer makes: the system's, or a test's fake drives.
// Each gets `context` back.
struct DeviceCalls {
    void* context;
    // Device object `index`; null with *result kOpenMissing or kOpenDenied.
    void* (*open)(void* context, int index, int* result);
    // 1 and the address, or 0 when the device has none.
    int (*getAddress)(void* context, void* device, ScsiAddress* address);
    // 1 when the system carried the command out (status, sense and length
    // are in the record), 0 when it could not (device gone, refused).
    int (*passThrough)(void* context, void* device, PassThroughRequest* request);
    void (*close)(void* context, void* device);
    // The index of the device object a path names, or -1.
    int (*indexOf)(void* context, const char* path);
    // Device object `index` is named prefix + index ("\\.\CdRom", "/dev/sg").
    const char* prefix;
};

// The number after `prefix` in `path` (the prefix's letters in either case),
// or -1 when the path is not prefix + a decimal number.
int DeviceIndex(const char* path, const char* prefix);

// Host adapter status values of an execute request.
enum : uint8_t {
    HASTAT_OK = 0x00,
    HASTAT_SEL_TO = 0x11, // the device did not answer
};

class PassThroughLayer {
  public:
    enum : uint32_t {
        kMaxDeviceObjects = 26,
        kMaxTransfer = 0x20000,
        kDefaultTimeoutMs = 7200,
        kTimeoutSlots = 8,
        kTextSize = 1024,
    };

    // The layer's operations, on a PassThroughLayer.
    static const LayerOps kOps;

    explicit PassThroughLayer(const DeviceCalls& calls);
    // The drives' threads must be able to end: no pass-through may block.
    ~PassThroughLayer();
    PassThroughLayer(const PassThroughLayer&) = delete;
    PassThroughLayer& operator=(const PassThroughLayer&) = delete;

    // The two ASPI entry points.
    uint32_t GetSupportInfo();
    uint32_t SendCommand(void* srb);

    // The time-out the submitter of this record waits, for the next execute
    // request carried in it; without one a request gets kDefaultTimeoutMs.
    void SetRequestTimeout(const void* srb, uint32_t milliseconds);

    int AdapterCount() const { return adapterCount; }
    // Why there are no host adapters ("" when there are).
    const char* Reason() const { return reason; }
    // One line per drive: which device object serves which adapter and target.
    void Describe(char* text, uint32_t size) const;
    // Resets the layer was asked for, on this adapter and target.
    int ResetCount(int adapter, int target);
    // The adapter and target of the device object a path names; 1 when found.
    int FindDevice(const char* path, uint8_t* adapter, uint8_t* target) const;

  private:
    struct Job {
        SRB_ExecSCSICmd* srb;
        uint32_t timeoutSeconds;
    };
    struct Drive {
        void* handle;
        int index;
        int addressed;
        ScsiAddress address;
        uint8_t adapter, target, lun;
        std::vector<Job> queue; // oldest first
        SRB_ExecSCSICmd* running;
        std::vector<uint8_t> bounce;
        std::thread worker;
        int resets;
    };

    void Enumerate();
    Drive* Find(uint8_t adapter, uint8_t target, uint8_t lun);
    uint32_t Execute(SRB_ExecSCSICmd* srb);
    uint32_t TakeTimeout(const void* srb);
    void DriveLoop(Drive* drive);
    // Gives every request of the drive back as aborted.
    void AbortAll(Drive* drive, std::vector<SRB_ExecSCSICmd*>& done);
    int AbortOne(const void* srb, std::vector<SRB_ExecSCSICmd*>& done);

    DeviceCalls calls;
    std::vector<Drive*> drives; // adapter, target, lun order
    int adapterCount;
    char reason[128];

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping;
    struct TimeoutSlot {
        const void* srb;
        uint32_t milliseconds;
    } timeouts[kTimeoutSlots];
    uint32_t nextSlot;
};

// Seconds of a pass-through for a wait of this many milliseconds: rounded
// up, at least 1.
uint32_t PassThroughSeconds(uint32_t milliseconds);

// Fills an execute request's answer from a finished pass-through (never
// more sense bytes than the record holds) and answers its status.
uint8_t MapPassThroughResult(int carriedOut, const PassThroughRequest& request,
                             SRB_ExecSCSICmd& srb);

} // namespace aspi
