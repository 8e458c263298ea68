// A simulated ASPI layer: host adapters whose drives live in memory.
//
// Requests are served as every layer of ours serves them
// (aspi/RequestServer.h): an execute request is answered "pending" and
// completed once the drive's latency has passed. The bank adds the drives,
// their faults, the command log and the state file.
#pragma once

#include "BankConfig.h"
#include "VirtualDrive.h"

#include "aspi/AspiRecords.h"
#include "aspi/RequestServer.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
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
    uint32_t GetSupportInfo() { return server.GetSupportInfo(); }
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
    int Bus(int adapter, int target); // an aspi::BusType
    int TrayOpen(int adapter, int target);
    int PendingCount() { return server.PendingCount(); }
    // Requests held for good (see `hang`), until a reset or abort lets them go.
    int HeldCount() const { return held.load(); }
    std::vector<std::string> Journal();

  private:
    static const aspi::TargetOps kTargetOps;

    VirtualDrive* DriveAt(int adapter, int target);
    // The adapter and target of a drive, as the log names them.
    void Place(const void* drive, int& adapter, int& target);
    static void* Find(void* self, uint8_t adapter, uint8_t target, uint8_t* type);
    static uint8_t Prepare(void* self, void* drive, aspi::SRB_ExecSCSICmd* srb, uint32_t,
                           uint32_t* holdMs);
    static uint8_t Answer(void* self, void* drive, aspi::SRB_ExecSCSICmd* srb);
    static void GaveBack(void* self, void*, const aspi::SRB_ExecSCSICmd* srb, aspi::GivenBack why);
    static void Reset(void* self, void* drive, int released);
    void Record(const std::string& line);
    // "WHAT ha=A target=T cdb=..." and the tail.
    void RecordRequest(const char* what, const aspi::SRB_ExecSCSICmd& srb, const char* tail);
    void SaveState();

    std::mutex state; // the drives, the log; taken after the server's lock
    int adapterCount;
    std::vector<std::unique_ptr<VirtualDrive>> drives; // adapter * 8 + target
    std::set<const void*> holding;                     // requests held for good
    std::atomic<int> held{0};                          // how many
    std::deque<std::string> journal;
    std::string logPath, statePath;
    aspi::RequestServer server; // last: it serves the drives above
};

// FNV-1a digest of the data a command moved, as the log shows it.
uint32_t DataDigest(const uint8_t* data, uint32_t length);

} // namespace simulator
