#include "DriveBank.h"

#include "BankState.h"

#include "aspi/AspiPlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace simulator {
namespace {

constexpr size_t JOURNAL_LINES = 2000;

std::string Hex(const uint8_t* bytes, size_t count, const char* separator) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i)
            out += separator;
        out += two;
    }
    return out;
}

} // namespace

uint32_t DataDigest(const uint8_t* data, uint32_t length) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

DriveBank::DriveBank(const BankConfig& config)
    : adapterCount(static_cast<int>(config.adapters.size())) {
    for (const auto& adapter : config.adapters)
        for (const DriveConfig& drive : adapter)
            drives.emplace_back(drive.kind == DriveKind::None ? nullptr : new VirtualDrive(drive));
    worker = std::thread(&DriveBank::CompletionLoop, this);
}

DriveBank::~DriveBank() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    worker.join();
}

VirtualDrive* DriveBank::DriveAt(int adapter, int target) {
    if (adapter < 0 || adapter >= adapterCount || target < 0 || target >= TARGETS_PER_ADAPTER)
        return nullptr;
    return drives[adapter * TARGETS_PER_ADAPTER + target].get();
}

uint32_t DriveBank::GetSupportInfo() {
    if (adapterCount == 0)
        return aspi::MakeSupportInfo(aspi::SS_NO_ADAPTERS, 0);
    return aspi::MakeSupportInfo(aspi::SS_COMP, static_cast<uint8_t>(adapterCount));
}

uint32_t DriveBank::SendCommand(void* request) {
    if (!request)
        return aspi::SS_INVALID_SRB;
    auto* header = static_cast<aspi::SRB_Header*>(request);
    uint32_t status;
    switch (header->SRB_Cmd) {
    case aspi::SC_HA_INQUIRY:
        status = HostAdapterInquiry(static_cast<aspi::SRB_HAInquiry*>(request));
        break;
    case aspi::SC_GET_DEV_TYPE:
        status = DeviceType(static_cast<aspi::SRB_GDEVBlock*>(request));
        break;
    case aspi::SC_EXEC_SCSI_CMD:
        return Execute(static_cast<aspi::SRB_ExecSCSICmd*>(request)); // writes its own status
    case aspi::SC_ABORT_SRB:
        status = Abort(static_cast<aspi::SRB_Abort*>(request));
        break;
    case aspi::SC_RESET_DEV:
        return Reset(static_cast<aspi::SRB_BusDeviceReset*>(request));
    default:
        status = aspi::SS_INVALID_CMD;
        break;
    }
    aspi::StoreStatus(&header->SRB_Status, static_cast<uint8_t>(status));
    return status;
}

uint32_t DriveBank::HostAdapterInquiry(aspi::SRB_HAInquiry* srb) {
    if (srb->SRB_HaId >= adapterCount && adapterCount > 0)
        return aspi::SS_INVALID_HA;
    srb->HA_Count = static_cast<uint8_t>(adapterCount);
    srb->HA_SCSI_ID = 7;
    std::memset(srb->HA_ManagerId, ' ', sizeof srb->HA_ManagerId);
    std::memcpy(srb->HA_ManagerId, "CORVANE SIM", 11);
    std::memset(srb->HA_Identifier, ' ', sizeof srb->HA_Identifier);
    std::memcpy(srb->HA_Identifier, "QV VIRTUAL HA", 13);
    std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
    srb->HA_Unique[3] = TARGETS_PER_ADAPTER;
    uint32_t maxTransfer = MAX_TRANSFER;
    std::memcpy(srb->HA_Unique + 4, &maxTransfer, 4);
    return adapterCount ? aspi::SS_COMP : aspi::SS_NO_ADAPTERS;
}

uint32_t DriveBank::DeviceType(aspi::SRB_GDEVBlock* srb) {
    if (srb->SRB_HaId >= adapterCount)
        return aspi::SS_INVALID_HA;
    std::lock_guard<std::mutex> lock(mutex);
    VirtualDrive* drive = srb->SRB_Lun == 0 ? DriveAt(srb->SRB_HaId, srb->SRB_Target) : nullptr;
    if (!drive)
        return aspi::SS_NO_DEVICE;
    srb->SRB_DeviceType = drive->DeviceType();
    return aspi::SS_COMP;
}

uint32_t DriveBank::Execute(aspi::SRB_ExecSCSICmd* srb) {
    uint8_t status = aspi::SS_PENDING;
    void* post = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        VirtualDrive* drive = srb->SRB_Lun == 0 ? DriveAt(srb->SRB_HaId, srb->SRB_Target) : nullptr;
        status = aspi::CheckExecuteRequest(srb, static_cast<uint8_t>(adapterCount), MAX_TRANSFER);
        if (status == aspi::SS_PENDING && !drive)
            status = aspi::SS_NO_DEVICE;
        const bool vanished = status == aspi::SS_PENDING && drive->Vanishes(srb->CDBByte);
        if (vanished)
            status = aspi::SS_ERR;

        if (status != aspi::SS_PENDING) {
            srb->SRB_HaStat = vanished ? aspi::HASTAT_SEL_TO : 0;
            srb->SRB_TargStat = 0;
            char tail[24];
            std::snprintf(tail, sizeof tail, " status=%02X host=%02X", status, srb->SRB_HaStat);
            RecordRequest("reject", *srb, tail);
            post = aspi::FinishRequest(srb, status);
        } else {
            srb->SRB_HaStat = 0;
            srb->SRB_TargStat = 0;
            aspi::StoreStatus(&srb->SRB_Status, aspi::SS_PENDING);
            bool hung = drive->Hangs(srb->CDBByte);
            if (!hung && drive->RestartsOn(srb->CDBByte)) {
                // Taken at once; the answer never comes.
                drive->Execute(srb->CDBByte, srb->SRB_BufPointer, srb->SRB_BufLen, srb->SRB_Flags);
                SaveState();
                hung = true;
            }
            Clock::time_point due =
                hung ? Clock::time_point::max()
                     : Clock::now() + std::chrono::milliseconds(drive->DurationMs(srb->CDBByte));
            pending.push_back(Pending{srb, srb->SRB_HaId, srb->SRB_Target, due, hung});
            if (hung) {
                ++held;
                RecordRequest("hold", *srb, "");
            }
        }
    }
    if (status == aspi::SS_PENDING)
        wake.notify_all();
    else if (post)
        reinterpret_cast<aspi::PostRoutine>(post)(srb);
    return status;
}

void DriveBank::RunPending(Pending& p, std::vector<std::pair<void*, void*>>& posts) {
    aspi::SRB_ExecSCSICmd* srb = p.srb;
    VirtualDrive* drive = DriveAt(p.adapter, p.target);
    CommandResult result =
        drive->Execute(srb->CDBByte, srb->SRB_BufPointer, srb->SRB_BufLen, srb->SRB_Flags);
    srb->SRB_HaStat = result.hostStatus;
    srb->SRB_TargStat = result.targetStatus;
    uint8_t status = aspi::SS_COMP;
    if (result.hostStatus) {
        status = aspi::SS_ERR;
    } else if (result.targetStatus == aspi::STATUS_CHKCOND) {
        status = aspi::SS_ERR;
        aspi::StoreSense(srb, result.sense, sizeof result.sense);
    }
    const uint8_t* moved = srb->SRB_BufPointer;
    uint32_t movedLength = result.bytesIn ? result.bytesIn : result.bytesOut;
    char tail[96];
    std::snprintf(tail, sizeof tail, " digest=%08X status=%02X sense=%X/%02X/%02X",
                  movedLength ? DataDigest(moved, movedLength) : 0u, status, result.sense[2],
                  result.sense[12], result.sense[13]);
    char head[64];
    const char* dir = (srb->SRB_Flags & aspi::SRB_DIR_OUT)  ? "out"
                      : (srb->SRB_Flags & aspi::SRB_DIR_IN) ? "in"
                                                            : "none";
    std::snprintf(head, sizeof head, "exec ha=%d target=%d dir=%s len=%u cdb=", p.adapter, p.target,
                  dir, static_cast<unsigned>(srb->SRB_BufLen));
    Record(head + Hex(srb->CDBByte, srb->SRB_CDBLen, " ") + tail);
    if (srb->SRB_Flags & aspi::SRB_ENABLE_RESIDUAL_COUNT)
        srb->SRB_BufLen = srb->SRB_BufLen > movedLength ? srb->SRB_BufLen - movedLength : 0;
    // A probe (byte 9 = 01) changes nothing; any other vendor command may
    // have left a new firmware or a cut one, which the state file must keep.
    bool flashed = srb->CDBByte[0] == 0xCB && srb->CDBByte[9] != 0x01;
    if (void* post = aspi::FinishRequest(srb, status))
        posts.emplace_back(post, srb);
    if (flashed)
        SaveState();
}

void DriveBank::CompletionLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        auto next =
            std::min_element(pending.begin(), pending.end(),
                             [](const Pending& a, const Pending& b) { return a.due < b.due; });
        if (next == pending.end() || next->hung) {
            wake.wait(lock);
            continue;
        }
        // A copy: the vector may grow while the lock is let go.
        const Clock::time_point due = next->due;
        if (Clock::now() < due) {
            wake.wait_until(lock, due);
            continue;
        }
        Pending ready = *next;
        pending.erase(next);
        std::vector<std::pair<void*, void*>> posts;
        RunPending(ready, posts);
        lock.unlock();
        for (auto& post : posts)
            reinterpret_cast<aspi::PostRoutine>(post.first)(post.second);
        lock.lock();
    }
}

uint32_t DriveBank::Abort(aspi::SRB_Abort* srb) {
    std::vector<void*> posts;
    uint32_t status = aspi::SS_ABORT_FAIL;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (it->srb != srb->SRB_ToAbort)
                continue;
            aspi::SRB_ExecSCSICmd* victim = it->srb;
            char line[64];
            std::snprintf(line, sizeof line, "abort ha=%d target=%d cdb=", it->adapter, it->target);
            Record(line + Hex(victim->CDBByte, victim->SRB_CDBLen, " "));
            held -= it->hung ? 1 : 0;
            pending.erase(it);
            if (void* post = aspi::FinishRequest(victim, aspi::SS_ABORTED))
                posts.push_back(post);
            status = aspi::SS_COMP;
            break;
        }
    }
    for (void* post : posts)
        reinterpret_cast<aspi::PostRoutine>(post)(srb->SRB_ToAbort);
    return status;
}

uint32_t DriveBank::Reset(aspi::SRB_BusDeviceReset* srb) {
    std::vector<std::pair<void*, void*>> posts;
    uint8_t status = aspi::SS_COMP;
    {
        std::lock_guard<std::mutex> lock(mutex);
        VirtualDrive* drive = srb->SRB_Lun == 0 ? DriveAt(srb->SRB_HaId, srb->SRB_Target) : nullptr;
        if (srb->SRB_HaId >= adapterCount) {
            status = aspi::SS_INVALID_HA;
        } else if (!drive) {
            status = aspi::SS_NO_DEVICE;
        } else {
            int released = 0;
            for (auto it = pending.begin(); it != pending.end();) {
                if (it->adapter != srb->SRB_HaId || it->target != srb->SRB_Target) {
                    ++it;
                    continue;
                }
                aspi::SRB_ExecSCSICmd* victim = it->srb;
                held -= it->hung ? 1 : 0;
                it = pending.erase(it);
                if (void* post = aspi::FinishRequest(victim, aspi::SS_ABORTED))
                    posts.emplace_back(post, victim);
                ++released;
            }
            drive->Reset();
            char line[80];
            std::snprintf(line, sizeof line, "reset ha=%d target=%d released=%d", srb->SRB_HaId,
                          srb->SRB_Target, released);
            Record(line);
        }
        srb->SRB_HaStat = 0;
        srb->SRB_TargStat = 0;
        uint8_t flags = srb->SRB_Flags;
        void* event = srb->SRB_PostProc;
        aspi::StoreStatus(&srb->SRB_Status, status);
        if (flags & aspi::SRB_EVENT_NOTIFY)
            aspi::SignalCompletionEvent(event);
    }
    for (auto& post : posts)
        reinterpret_cast<aspi::PostRoutine>(post.first)(post.second);
    return status;
}

void DriveBank::RecordRequest(const char* what, const aspi::SRB_ExecSCSICmd& srb,
                              const char* tail) {
    char head[48];
    std::snprintf(head, sizeof head, "%s ha=%d target=%d cdb=", what, srb.SRB_HaId, srb.SRB_Target);
    Record(head + Hex(srb.CDBByte, std::min<size_t>(srb.SRB_CDBLen, sizeof srb.CDBByte), " ") +
           tail);
}

void DriveBank::Record(const std::string& line) {
    journal.push_back(line);
    if (journal.size() > JOURNAL_LINES)
        journal.pop_front();
    if (logPath.empty())
        return;
    if (FILE* log = std::fopen(logPath.c_str(), "a")) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fclose(log);
    }
}

void DriveBank::ReportError(const std::string& message) {
    std::fprintf(stderr, "simulated drive bank: %s\n", message.c_str());
    std::lock_guard<std::mutex> lock(mutex);
    Record("error " + message);
}

void DriveBank::SetLogPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    logPath = path;
}

void DriveBank::SetStatePath(const std::string& path) {
    std::vector<std::string> problems;
    {
        std::lock_guard<std::mutex> lock(mutex);
        statePath = path;
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        for (const FlashedIdentity& record : ParseBankState(text.str(), path, problems)) {
            VirtualDrive* drive = DriveAt(record.adapter, record.target);
            if (!drive || drive->config.kind != DriveKind::CdDrive)
                continue; // the bank changed since; nothing to restore there
            const uint8_t* bytes = record.identity.data();
            std::memcpy(drive->config.vendor.data(), bytes, 8);
            std::memcpy(drive->config.product.data(), bytes + 8, 16);
            std::memcpy(drive->config.revision.data(), bytes + 24, 4);
            drive->inLoader = record.inLoader;
            drive->flashCount = record.inLoader ? 0 : 1;
        }
    }
    for (const std::string& problem : problems)
        ReportError(problem);
}

void DriveBank::SaveState() {
    if (statePath.empty())
        return;
    std::vector<FlashedIdentity> records;
    for (int a = 0; a < adapterCount; ++a) {
        for (int t = 0; t < TARGETS_PER_ADAPTER; ++t) {
            VirtualDrive* drive = DriveAt(a, t);
            if (!drive || !(drive->flashCount || drive->inLoader))
                continue;
            FlashedIdentity record;
            record.adapter = a;
            record.target = t;
            record.inLoader = drive->inLoader;
            uint8_t* bytes = record.identity.data();
            std::memcpy(bytes, drive->config.vendor.data(), 8);
            std::memcpy(bytes + 8, drive->config.product.data(), 16);
            std::memcpy(bytes + 24, drive->config.revision.data(), 4);
            records.push_back(record);
        }
    }
    const std::string text = FormatBankState(records);
    // Written beside and renamed, so a crash never leaves half a file.
    std::string temporary = statePath + ".new";
    if (FILE* file = std::fopen(temporary.c_str(), "wb")) {
        bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        written = std::fclose(file) == 0 && written;
        std::remove(statePath.c_str());
        if (written)
            std::rename(temporary.c_str(), statePath.c_str());
    }
}

std::string DriveBank::Identity(int adapter, int target) {
    std::lock_guard<std::mutex> lock(mutex);
    VirtualDrive* drive = DriveAt(adapter, target);
    if (!drive)
        return std::string();
    const DriveConfig& c = drive->config;
    std::string id(c.vendor.begin(), c.vendor.end());
    id.append(c.product.begin(), c.product.end());
    id.append(c.revision.begin(), c.revision.end());
    return id;
}

int DriveBank::ResetCount(int adapter, int target) {
    std::lock_guard<std::mutex> lock(mutex);
    VirtualDrive* drive = DriveAt(adapter, target);
    return drive ? drive->resetCount : 0;
}

int DriveBank::FlashCount(int adapter, int target) {
    std::lock_guard<std::mutex> lock(mutex);
    VirtualDrive* drive = DriveAt(adapter, target);
    return drive ? drive->flashCount : 0;
}

int DriveBank::TrayOpen(int adapter, int target) {
    std::lock_guard<std::mutex> lock(mutex);
    VirtualDrive* drive = DriveAt(adapter, target);
    return drive && drive->trayOpen ? 1 : 0;
}

int DriveBank::PendingCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(pending.size());
}

std::vector<std::string> DriveBank::Journal() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::vector<std::string>(journal.begin(), journal.end());
}

} // namespace simulator
