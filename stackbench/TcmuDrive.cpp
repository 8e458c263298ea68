#include "TcmuDrive.h"

#include "aspi/AspiRecords.h"
#include "simulator/DriveBank.h"

#include <linux/target_core_user.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace stackbench {
namespace {

constexpr uint8_t STATUS_TASK_ABORTED = 0x40;

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

bool IsTransfer(const uint8_t* cdb) {
    return cdb[0] == 0xCB && (cdb[9] == 0x04 || cdb[9] == 0x84);
}

uint16_t Sum16(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint16_t>(sum);
}

const char* NoticeName(uint8_t type) {
    switch (type) {
    case TCMU_TMR_ABORT_TASK:
        return "abort-task";
    case TCMU_TMR_ABORT_TASK_SET:
        return "abort-task-set";
    case TCMU_TMR_CLEAR_TASK_SET:
        return "clear-task-set";
    case TCMU_TMR_LUN_RESET:
        return "lun-reset";
    case TCMU_TMR_TARGET_WARM_RESET:
    case TCMU_TMR_TARGET_COLD_RESET:
        return "target-reset";
    default:
        return "other";
    }
}

} // namespace

TcmuDrive::TcmuDrive(TcmuRing& commandRing, const simulator::DriveConfig& config, FILE* logFile)
    : drive(config), ring(commandRing), log(logFile) {}

bool TcmuDrive::Serve(Clock::time_point now, bool& answered) {
    answered = false;
    for (;;) {
        RingCommand command;
        RingTaskNotice notice;
        switch (ring.Take(command, notice)) {
        case TcmuRing::Entry::None:
            answered = RunDue(now) || answered;
            return true;
        case TcmuRing::Entry::Broken:
            std::fprintf(log, "error broken command ring\n");
            std::fflush(log);
            return false;
        case TcmuRing::Entry::Command:
            Arrive(command, now);
            break;
        case TcmuRing::Entry::TaskNotice:
            Notice(notice);
            answered = true; // the tail may pass the notice now
            break;
        }
    }
}

int TcmuDrive::MsUntilDue(Clock::time_point now) const {
    int soonest = -1;
    for (const Waiting& w : waiting) {
        if (w.held)
            continue;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(w.due - now).count();
        const int left = ms < 0 ? 0 : static_cast<int>(ms);
        soonest = soonest < 0 ? left : std::min(soonest, left);
    }
    return soonest;
}

// A command as it comes off the ring: held, or timed by the drive's keys.
void TcmuDrive::Arrive(RingCommand& command, Clock::time_point now) {
    uint8_t* cdb = command.cdb;
    const bool out = IsTransfer(cdb);
    const char* dir = command.dataLength == 0 ? "none" : out ? "out" : "in";
    std::string head = std::string("dir=") + dir + " len=" + std::to_string(command.dataLength) +
                       " cdb=" + Hex(cdb, command.cdbLength);
    std::string note;
    // The target core copies a vendor command block as 10 bytes, so the
    // transfer's bytes 10-11 (image bytes 0-1) never reach a backstore. Their
    // sum follows from the half sum of the block and the data; a pair with
    // that sum stands in for them, so everything else is still checked.
    if (out && command.cdbLength < 12 && command.dataLength >= simulator::IMAGE_SIZE) {
        std::vector<uint8_t> data(32768 - 2);
        size_t at = 0;
        for (const DataSegment& s : command.data) {
            const size_t n = std::min(s.length, data.size() - at);
            std::memcpy(data.data() + at, s.base, n);
            at += n;
        }
        uint16_t half = static_cast<uint16_t>(cdb[3] << 8 | cdb[4]);
        uint16_t pair = static_cast<uint16_t>(half - Sum16(data.data(), data.size()));
        if (pair <= 2 * 0xFF) {
            cdb[10] = static_cast<uint8_t>(std::min<uint16_t>(pair, 0xFF));
            cdb[11] = static_cast<uint8_t>(pair - cdb[10]);
        }
        note = " cdb10-11=from-half-sum";
    }
    const bool held = drive.Hangs(cdb);
    const uint32_t ms = held ? 0 : drive.DurationMs(cdb);
    if (held)
        std::fprintf(log, "hold %s%s\n", head.c_str(), note.c_str());
    else if (ms >= SLOW_COMMAND_MS)
        std::fprintf(log, "wait %s%s ms=%u\n", head.c_str(), note.c_str(), ms);
    std::fflush(log);
    waiting.push_back(Waiting{command, head, note, now + std::chrono::milliseconds(ms), held});
}

// Answers the commands whose time has come, the earliest first.
bool TcmuDrive::RunDue(Clock::time_point now) {
    bool any = false;
    for (;;) {
        auto due = waiting.end();
        for (auto w = waiting.begin(); w != waiting.end(); ++w)
            if (!w->held && w->due <= now && (due == waiting.end() || w->due < due->due))
                due = w;
        if (due == waiting.end())
            return any;
        Waiting w = *due;
        waiting.erase(due);
        Execute(w);
        any = true;
    }
}

void TcmuDrive::Execute(Waiting& w) {
    RingCommand& command = w.command;
    uint8_t* cdb = command.cdb;
    // The ring does not say which way data flows: the drive's commands do.
    bool out = IsTransfer(cdb);
    uint8_t flags = command.dataLength == 0 ? 0 : out ? aspi::SRB_DIR_OUT : aspi::SRB_DIR_IN;
    std::vector<uint8_t> buffer(command.dataLength);
    if (out) {
        size_t at = 0;
        for (const DataSegment& s : command.data) {
            std::memcpy(buffer.data() + at, s.base, s.length);
            at += s.length;
        }
    }
    simulator::CommandResult r = drive.Execute(cdb, buffer.data(), command.dataLength, flags);
    long readLength = -1;
    if (flags == aspi::SRB_DIR_IN) {
        size_t at = 0;
        for (const DataSegment& s : command.data) {
            size_t n = std::min<size_t>(s.length, r.bytesIn - std::min<size_t>(at, r.bytesIn));
            std::memcpy(s.base, buffer.data() + at, n);
            at += s.length;
        }
        readLength = r.bytesIn;
    }
    // A host error (a cut transfer; a wrong direction cannot reach this
    // drive, see above) is not the ring's to carry: answer a hardware error.
    uint8_t status = r.hostStatus ? uint8_t(aspi::STATUS_CHKCOND) : r.targetStatus;
    if (r.hostStatus) {
        r.sense[0] = 0x70;
        r.sense[2] = 0x04;
        r.sense[7] = 10;
    }
    uint32_t moved = r.bytesIn ? r.bytesIn : r.bytesOut;
    std::fprintf(log, "exec %s digest=%08X status=%02X sense=%X/%02X/%02X%s\n", w.head.c_str(),
                 moved ? simulator::DataDigest(buffer.data(), moved) : 0u, status, r.sense[2],
                 r.sense[12], r.sense[13], w.note.c_str());
    std::fflush(log);
    ring.Complete(command.id, status, status == aspi::STATUS_CHKCOND ? r.sense : nullptr,
                  status == aspi::STATUS_CHKCOND ? sizeof r.sense : 0, readLength);
}

// The kernel waits for the answers of the commands it aborts: a held or
// waiting command is answered (the answer is dropped) without being run; a
// reset also resets the drive.
void TcmuDrive::Notice(const RingTaskNotice& notice) {
    bool reset = notice.type == TCMU_TMR_LUN_RESET || notice.type == TCMU_TMR_TARGET_WARM_RESET ||
                 notice.type == TCMU_TMR_TARGET_COLD_RESET;
    bool all =
        reset || notice.type == TCMU_TMR_ABORT_TASK_SET || notice.type == TCMU_TMR_CLEAR_TASK_SET;
    if (reset)
        drive.Reset();
    int released = 0;
    for (auto w = waiting.begin(); w != waiting.end();) {
        const uint16_t id = w->command.id;
        if (all || std::find(notice.ids.begin(), notice.ids.end(), id) != notice.ids.end()) {
            ring.Complete(id, STATUS_TASK_ABORTED, nullptr, 0, -1);
            w = waiting.erase(w);
            ++released;
        } else {
            ++w;
        }
    }
    std::fprintf(log, "%s commands=%zu released=%d\n", NoticeName(notice.type), notice.ids.size(),
                 released);
    std::fflush(log);
}

} // namespace stackbench
