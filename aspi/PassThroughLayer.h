// An ASPI layer of our own over the system's SCSI pass-through, for systems
// that have no WNASPI32.DLL or one that reports no host adapters.
//
// The CD/DVD device objects (\\.\D:, /dev/sgN) are looked at once, at
// construction: each one's SCSI address as the system tells it to anyone,
// then opened for commands. Adapters and targets come from the addresses
// alone (aspi/DeviceNumbering.h), so a device that does not open for this
// layer keeps its place and moves no other drive.
//
// Requests are served as every layer of ours serves them (aspi/RequestServer.h);
// this layer carries a command out through a buffer of its own, so an abort
// or a reset gives the request back at once even while the system still
// holds the command, and a drive that hangs holds up no other drive.
#pragma once

#include "aspi/AspiLayer.h"
#include "aspi/AspiRecords.h"
#include "aspi/DeviceNumbering.h"
#include "aspi/PassThroughRecords.h"
#include "aspi/RequestServer.h"

#include <cstdint>
#include <vector>

namespace aspi {

enum OpenResult : int { kOpenDone = 0, kOpenMissing = 1, kOpenDenied = 2 };
enum ProbeResult : int { kProbeMissing = 0, kProbeNoAddress = 1, kProbeAddressed = 2 };

// The device calls the layer makes: the system's, or a test's fake drives.
// Each gets `context` back.
struct DeviceCalls {
    void* context;
    // Device objects 0 to count - 1 are looked at.
    int (*count)(void* context);
    // Whether device object `index` is a CD/DVD drive and its SCSI address,
    // as the system tells it whoever asks (no rights needed, nothing opened
    // for commands).
    int (*probe)(void* context, int index, ScsiAddress* address);
    // Device object `index` opened for commands; null with *result
    // kOpenMissing or kOpenDenied.
    void* (*open)(void* context, int index, int* result);
    // 1 when the system carried the command out (status, sense and length
    // are in the record), 0 when it could not (device gone, refused),
    // kPassThroughLost when the system took the command and the device went
    // away before its answer (the command may have reached it).
    int (*passThrough)(void* context, void* device, PassThroughRequest* request);
    void (*close)(void* context, void* device);
    // Makes a pass-through that waits on this device give up soon, leaving
    // its command to the system; the layer ends with it. Null: the system
    // ends every pass-through on its own in bounded time.
    void (*cancel)(void* context, void* device);
    // The index of the device object a path names, or -1.
    int (*indexOf)(void* context, const char* path);
    // Why device object `index` was denied, for the user to act on. Null:
    // "The SCSI pass-through needs administrator rights."
    void (*deniedReason)(void* context, int index, char* text, uint32_t size);
    // The name of device object `index` ("\\\\.\\D:", "/dev/sg2").
    void (*name)(void* context, int index, char* text, uint32_t size);
    // The system's words for the two parts of an adapter's address (null:
    // "port", "path").
    const char* portName;
    const char* pathName;
    // The bus of device object `index`, a BusType (null: unknown).
    int (*bus)(void* context, int index);
};

// The number after `prefix` in `path` (the prefix's letters in either case),
// or -1 when the path is not prefix + a decimal number.
int DeviceIndex(const char* path, const char* prefix);
// prefix + index, as DeviceIndex reads it.
void NumberedName(const char* prefix, int index, char* text, uint32_t size);
// Windows drive letters as device objects: index 0 is "\\\\.\\A:", 3 is "\\\\.\\D:",
// any index outside A-Z the empty name.
// DriveLetterIndex takes that form or the bare "D:", either case; -1 for
// anything else.
void DriveLetterName(int index, char* text, uint32_t size);
int DriveLetterIndex(const char* path);

// A pass-through's answer: the command was sent and its device went away.
constexpr int kPassThroughLost = 2;

class PassThroughLayer {
  public:
    enum : uint32_t { kMaxTransfer = 0x20000 };

    // The layer's operations, on a PassThroughLayer.
    static const LayerOps kOps;

    explicit PassThroughLayer(const DeviceCalls& calls);
    // Gives back the requests still there and cancels the pass-throughs
    // still waiting, so the drives' threads end.
    ~PassThroughLayer();
    PassThroughLayer(const PassThroughLayer&) = delete;
    PassThroughLayer& operator=(const PassThroughLayer&) = delete;

    // The two ASPI entry points.
    uint32_t GetSupportInfo() { return server.GetSupportInfo(); }
    uint32_t SendCommand(void* srb) { return server.SendCommand(srb); }
    void SetRequestTimeout(const void* srb, uint32_t milliseconds) {
        server.SetRequestTimeout(srb, milliseconds);
    }

    // Host adapters of the numbering; 0 when no device opened.
    int AdapterCount() const { return opened ? adapterCount : 0; }
    // Why there are no host adapters ("" when there are).
    const char* Reason() const { return reason; }
    // One line per device object: which adapter and target it serves.
    void Describe(char* text, uint32_t size) const;
    // Resets the layer was asked for, on this adapter and target.
    int ResetCount(int adapter, int target) {
        return server.ResetCount(static_cast<uint8_t>(adapter), static_cast<uint8_t>(target));
    }
    // The adapter and target of the device object a path names; 1 when found
    // (also when it did not open for this layer: its place is kept).
    int FindDevice(const char* path, uint8_t* adapter, uint8_t* target) const;
    // The name of the device object at an adapter and target; 1 when found.
    int DeviceName(uint8_t adapter, uint8_t target, char* text, uint32_t size) const;
    BusType DeviceBus(uint8_t adapter, uint8_t target) const;

  private:
    struct Drive {
        DevicePlace place;
        void* handle; // null: did not open for this layer
        int denied;
        // The command being carried out, and the system's answer.
        PassThroughRequest request;
        std::vector<uint8_t> bounce;
        uint32_t length;
        int carriedOut;
    };
    static const TargetOps kTargetOps;

    void Enumerate();
    void Open(std::vector<DevicePlace>& places);
    void WordReason(int deniedIndex);
    int DescribeDrive(const Drive& drive, char* text, uint32_t size) const;
    BusType BusOf(int index) const; // of device object `index`
    const Drive* Placed(uint8_t adapter, uint8_t target) const;
    static void* Find(void* self, uint8_t adapter, uint8_t target, uint8_t* type);
    static uint8_t Prepare(void* self, void* drive, SRB_ExecSCSICmd* srb, uint32_t timeoutMs,
                           uint32_t* holdMs);
    static void Run(void* self, void* drive);
    static uint8_t Answer(void* self, void* drive, SRB_ExecSCSICmd* srb);
    static void Cancel(void* self, void* drive);

    DeviceCalls calls;
    std::vector<Drive*> drives; // adapter, target order, out of reach last
    int adapterCount;
    int opened; // drives with a handle
    char reason[256];
    RequestServer server; // last: it serves the drives above
};

// Seconds of a pass-through for a wait of this many milliseconds: rounded
// up, at least 1.
uint32_t PassThroughSeconds(uint32_t milliseconds);

// The pass-through for an execute request to the drive at this address:
// direction, length, time-out, CDB; data out copied into `bounce`, data in
// cleared there. Answers the data length (0 when both directions are set).
uint32_t BuildPassThrough(const SRB_ExecSCSICmd& srb, const ScsiAddress& address,
                          uint32_t timeoutSeconds, std::vector<uint8_t>& bounce,
                          PassThroughRequest& request);

// Fills an execute request's answer from a finished pass-through (never
// more sense bytes than the record holds) and answers its status.
uint8_t MapPassThroughResult(int carriedOut, const PassThroughRequest& request,
                             SRB_ExecSCSICmd& srb);

// Everything but the status of an execute request from its finished
// pass-through of `length` bytes: data in from `bounce`, the residual count
// when asked for (bytes not moved, as the system reports them), host and
// target status, sense. Answers the status to finish the request with.
uint8_t AnswerFromPassThrough(int carriedOut, const PassThroughRequest& request,
                              const std::vector<uint8_t>& bounce, uint32_t length,
                              SRB_ExecSCSICmd& srb);

} // namespace aspi
