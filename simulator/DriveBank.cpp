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

const aspi::TargetOps DriveBank::kTargetOps = {
    "QV VIRTUAL HA",
    MAX_TRANSFER,
    [](void* self) { return static_cast<DriveBank*>(self)->AdapterCount(); },
    &Find,
    &Prepare,
    nullptr,
    &Answer,
    &GaveBack,
    &Reset,
    nullptr};

DriveBank::DriveBank(const BankConfig& config)
    : adapterCount(static_cast<int>(config.adapters.size())), server(kTargetOps, this) {
    for (const auto& adapter : config.adapters)
        for (const DriveConfig& drive : adapter)
            drives.emplace_back(drive.kind == DriveKind::None ? nullptr : new VirtualDrive(drive));
}

DriveBank::~DriveBank() {
    server.Stop();
}

VirtualDrive* DriveBank::DriveAt(int adapter, int target) {
    if (adapter < 0 || adapter >= adapterCount || target < 0 || target >= TARGETS_PER_ADAPTER)
        return nullptr;
    return drives[adapter * TARGETS_PER_ADAPTER + target].get();
}

void DriveBank::Place(const void* drive, int& adapter, int& target) {
    for (size_t i = 0; i < drives.size(); ++i)
        if (drives[i].get() == drive) {
            adapter = static_cast<int>(i) / TARGETS_PER_ADAPTER;
            target = static_cast<int>(i) % TARGETS_PER_ADAPTER;
        }
}

// Every request that reaches the bank is a line of the log: those the server
// refuses (no drive there, a bad request) as "reject" here; an error is a
// drive's, logged where it happens.
uint32_t DriveBank::SendCommand(void* request) {
    aspi::SRB_ExecSCSICmd copy{};
    auto* srb = static_cast<aspi::SRB_ExecSCSICmd*>(request);
    const bool execute = srb && srb->SRB_Cmd == aspi::SC_EXEC_SCSI_CMD;
    if (execute)
        copy = *srb; // after a refusal the request is its submitter's again
    const uint32_t status = server.SendCommand(request);
    if (execute && status != aspi::SS_PENDING && status != aspi::SS_ERR) {
        char tail[24];
        std::snprintf(tail, sizeof tail, " status=%02X host=%02X",
                      static_cast<unsigned>(status & 0xFF), aspi::HASTAT_OK);
        std::lock_guard<std::mutex> lock(state);
        RecordRequest("reject", copy, tail);
    }
    return status;
}

void* DriveBank::Find(void* self, uint8_t adapter, uint8_t target, uint8_t* type) {
    VirtualDrive* drive = static_cast<DriveBank*>(self)->DriveAt(adapter, target);
    if (drive)
        *type = drive->DeviceType();
    return drive;
}

uint8_t DriveBank::Prepare(void* self, void* target, aspi::SRB_ExecSCSICmd* srb, uint32_t,
                           uint32_t* holdMs) {
    DriveBank& bank = *static_cast<DriveBank*>(self);
    VirtualDrive* drive = static_cast<VirtualDrive*>(target);
    std::lock_guard<std::mutex> lock(bank.state);
    if (drive->Vanishes(srb->CDBByte)) {
        // A selection time-out: the drive never sees the command.
        srb->SRB_HaStat = aspi::HASTAT_SEL_TO;
        char tail[24];
        std::snprintf(tail, sizeof tail, " status=%02X host=%02X", aspi::SS_ERR, srb->SRB_HaStat);
        bank.RecordRequest("reject", *srb, tail);
        return aspi::SS_ERR;
    }
    bool hung = drive->Hangs(srb->CDBByte);
    if (!hung && drive->RestartsOn(srb->CDBByte)) {
        // Taken at once; the answer never comes.
        drive->Execute(srb->CDBByte, srb->SRB_BufPointer, srb->SRB_BufLen, srb->SRB_Flags);
        bank.SaveState();
        hung = true;
    }
    *holdMs = hung ? aspi::kHoldForever : drive->DurationMs(srb->CDBByte);
    if (hung) {
        bank.holding.insert(srb);
        ++bank.held;
        bank.RecordRequest("hold", *srb, "");
    }
    return aspi::SS_PENDING;
}

uint8_t DriveBank::Answer(void* self, void* target, aspi::SRB_ExecSCSICmd* srb) {
    DriveBank& bank = *static_cast<DriveBank*>(self);
    VirtualDrive* drive = static_cast<VirtualDrive*>(target);
    std::lock_guard<std::mutex> lock(bank.state);
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
    uint32_t movedLength = result.bytesIn ? result.bytesIn : result.bytesOut;
    char tail[96];
    std::snprintf(tail, sizeof tail, " digest=%08X status=%02X sense=%X/%02X/%02X",
                  movedLength ? DataDigest(srb->SRB_BufPointer, movedLength) : 0u, status,
                  result.sense[2], result.sense[12], result.sense[13]);
    const char* dir = (srb->SRB_Flags & aspi::SRB_DIR_OUT)  ? "out"
                      : (srb->SRB_Flags & aspi::SRB_DIR_IN) ? "in"
                                                            : "none";
    char head[64];
    std::snprintf(head, sizeof head, "exec ha=%d target=%d dir=%s len=%u cdb=", srb->SRB_HaId,
                  srb->SRB_Target, dir, static_cast<unsigned>(srb->SRB_BufLen));
    bank.Record(head + Hex(srb->CDBByte, srb->SRB_CDBLen, " ") + tail);
    if (srb->SRB_Flags & aspi::SRB_ENABLE_RESIDUAL_COUNT)
        srb->SRB_BufLen = srb->SRB_BufLen > movedLength ? srb->SRB_BufLen - movedLength : 0;
    // A probe (byte 9 = 01) changes nothing; any other vendor command may
    // have left a new firmware or a cut one, which the state file must keep.
    if (srb->CDBByte[0] == 0xCB && srb->CDBByte[9] != 0x01)
        bank.SaveState();
    return status;
}

void DriveBank::GaveBack(void* self, void*, const aspi::SRB_ExecSCSICmd* srb, aspi::GivenBack why) {
    DriveBank& bank = *static_cast<DriveBank*>(self);
    std::lock_guard<std::mutex> lock(bank.state);
    if (bank.holding.erase(srb))
        --bank.held;
    if (why == aspi::GivenBack::Abort)
        bank.RecordRequest("abort", *srb, "");
}

void DriveBank::Reset(void* self, void* target, int released) {
    DriveBank& bank = *static_cast<DriveBank*>(self);
    std::lock_guard<std::mutex> lock(bank.state);
    static_cast<VirtualDrive*>(target)->Reset();
    int adapter = 0, targetId = 0;
    bank.Place(target, adapter, targetId);
    char line[80];
    std::snprintf(line, sizeof line, "reset ha=%d target=%d released=%d", adapter, targetId,
                  released);
    bank.Record(line);
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

void DriveBank::ReportError(const std::string& text) {
    // A problem quotes the file's own bytes: a control among them would
    // start a line of its own in the log, or steer the terminal.
    std::string message;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        message += byte < 0x20 || byte == 0x7F ? std::string(escaped) : std::string(1, c);
    }
    std::fprintf(stderr, "simulated drive bank: %s\n", message.c_str());
    std::lock_guard<std::mutex> lock(state);
    Record("error " + message);
}

void DriveBank::SetLogPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(state);
    logPath = path;
}

void DriveBank::SetStatePath(const std::string& path) {
    std::vector<std::string> problems;
    {
        std::lock_guard<std::mutex> lock(state);
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
        if (!written) {
            // The state before stays: it is whole.
            std::remove(temporary.c_str());
            return;
        }
        // The Windows runtime's rename replaces no file: there the old one
        // goes first.
        if (std::rename(temporary.c_str(), statePath.c_str()) != 0) {
            std::remove(statePath.c_str());
            std::rename(temporary.c_str(), statePath.c_str());
        }
    }
}

std::string DriveBank::Identity(int adapter, int target) {
    std::lock_guard<std::mutex> lock(state);
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
    std::lock_guard<std::mutex> lock(state);
    VirtualDrive* drive = DriveAt(adapter, target);
    return drive ? drive->resetCount : 0;
}

int DriveBank::FlashCount(int adapter, int target) {
    std::lock_guard<std::mutex> lock(state);
    VirtualDrive* drive = DriveAt(adapter, target);
    return drive ? drive->flashCount : 0;
}

int DriveBank::Bus(int adapter, int target) {
    std::lock_guard<std::mutex> lock(state);
    VirtualDrive* drive = DriveAt(adapter, target);
    return drive ? drive->config.bus : 0;
}

int DriveBank::TrayOpen(int adapter, int target) {
    std::lock_guard<std::mutex> lock(state);
    VirtualDrive* drive = DriveAt(adapter, target);
    return drive && drive->trayOpen ? 1 : 0;
}

std::vector<std::string> DriveBank::Journal() {
    std::lock_guard<std::mutex> lock(state);
    return std::vector<std::string>(journal.begin(), journal.end());
}

} // namespace simulator
