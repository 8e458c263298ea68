// A simulated ASPI layer: host adapters whose drives live in memory.
//
// Execute requests are answered "pending" and completed later by the bank's
// own thread once the drive's latency has passed, as a real layer does: the
// data, host and target status and sense are written first, the request
// status last, and the event is signalled after that; the request is not
// touched again. Abort and reset requests release pending requests.
#pragma once

#include "BankConfig.h"
#include "VirtualDrive.h"

#include "aspi/AspiRecords.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simulator {

constexpr uint32_t MAX_TRANSFER = 65536;

class DriveBank {
  public:
    explicit DriveBank(const BankConfig& config);
    ~DriveBank();
    DriveBank(const DriveBank&) = delete;
    DriveBank& operator=(const DriveBank&) = delete;

    // The two ASPI entry points.
    uint32_t GetSupportInfo();
    uint32_t SendCommand(void* srb);

    // Appends one line per executed command, reset and abort to this file.
    void SetLogPath(const std::string& path);
    // Loads the identities flashed by earlier runs from this file and keeps
    // it up to date after every firmware the drives take.
    void SetStatePath(const std::string& path);
    // Shown on stderr and written to the log.
    void ReportError(const std::string& message);

    // For tests and the log.
    int AdapterCount() const { return adapterCount; }
    std::string Identity(int adapter, int target); // vendor, product, revision: 28 bytes
    int ResetCount(int adapter, int target);
    int FlashCount(int adapter, int target);
    int TrayOpen(int adapter, int target);
    int PendingCount();
    // Requests held for good (see `hang`), until a reset or abort lets them go.
    int HeldCount() const { return held.load(); }
    std::vector<std::string> Journal();

  private:
    typedef std::chrono::steady_clock Clock;
    struct Pending {
        aspi::SRB_ExecSCSICmd* srb;
        int adapter, target;
        Clock::time_point due;
        bool hung;
    };

    VirtualDrive* DriveAt(int adapter, int target);
    uint32_t Execute(aspi::SRB_ExecSCSICmd* srb);
    uint32_t Reset(aspi::SRB_BusDeviceReset* srb);
    uint32_t Abort(aspi::SRB_Abort* srb);
    uint32_t HostAdapterInquiry(aspi::SRB_HAInquiry* srb);
    uint32_t DeviceType(aspi::SRB_GDEVBlock* srb);
    void RunPending(Pending& p, std::vector<std::pair<void*, void*>>& posts);
    void CompletionLoop();
    void Record(const std::string& line);
    // "WHAT ha=A target=T cdb=..." and the tail.
    void RecordRequest(const char* what, const aspi::SRB_ExecSCSICmd& srb, const char* tail);
    void SaveState();

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    int adapterCount;
    std::vector<std::unique_ptr<VirtualDrive>> drives; // adapter * 8 + target
    std::vector<Pending> pending;
    std::atomic<int> held{0}; // pending requests that are hung
    std::deque<std::string> journal;
    std::string logPath, statePath;
    std::thread worker; // last: it starts once everything else is built
};

// FNV-1a digest of the data a command moved, as the log shows it.
uint32_t DataDigest(const uint8_t* data, uint32_t length);

} // namespace simulator
