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

bool TcmuDrive::Serve(bool& answered) {
    answered = false;
    for (;;) {
        RingCommand command;
        RingTaskNotice notice;
        switch (ring.Take(command, notice)) {
        case TcmuRing::Entry::None:
            return true;
        case TcmuRing::Entry::Broken:
            std::fprintf(log, "error broken command ring\n");
            std::fflush(log);
            return false;
        case TcmuRing::Entry::Command:
            Execute(command);
            answered = true;
            break;
        case TcmuRing::Entry::TaskNotice:
            Notice(notice);
            answered = true; // the tail may pass the notice now
            break;
        }
    }
}

void TcmuDrive::Execute(RingCommand& command) {
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
    const char* dir = flags == aspi::SRB_DIR_OUT ? "out" : flags ? "in" : "none";
    std::string head = std::string("dir=") + dir + " len=" + std::to_string(command.dataLength) +
                       " cdb=" + Hex(cdb, command.cdbLength);
    std::string note;
    // The target core copies a vendor command block as 10 bytes, so the
    // transfer's bytes 10-11 (image bytes 0-1) never reach a backstore. Their
    // sum follows from the half sum of the block and the data; a pair with
    // that sum stands in for them, so everything else is still checked.
    if (out && command.cdbLength < 12 && buffer.size() >= simulator::IMAGE_SIZE) {
        uint16_t half = static_cast<uint16_t>(cdb[3] << 8 | cdb[4]);
        uint16_t pair = static_cast<uint16_t>(half - Sum16(buffer.data(), 32768 - 2));
        if (pair <= 2 * 0xFF) {
            cdb[10] = static_cast<uint8_t>(std::min<uint16_t>(pair, 0xFF));
            cdb[11] = static_cast<uint8_t>(pair - cdb[10]);
        }
        note = " cdb10-11=from-half-sum";
    }
    if (drive.Hangs(cdb)) {
        std::fprintf(log, "hold %s%s\n", head.c_str(), note.c_str());
        std::fflush(log);
        if (holding) // one held command at a time: the older one is given up
            ring.Complete(held.id, STATUS_TASK_ABORTED, nullptr, 0, -1);
        held = command;
        holding = true;
        return;
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
    // A wrong direction cannot reach this drive (see above); it would read as
    // a host error, which the ring cannot carry: answer a hardware error.
    uint8_t status = r.hostStatus ? uint8_t(aspi::STATUS_CHKCOND) : r.targetStatus;
    if (r.hostStatus) {
        r.sense[0] = 0x70;
        r.sense[2] = 0x04;
        r.sense[7] = 10;
    }
    uint32_t moved = r.bytesIn ? r.bytesIn : r.bytesOut;
    std::fprintf(log, "exec %s digest=%08X status=%02X sense=%X/%02X/%02X%s\n", head.c_str(),
                 moved ? simulator::DataDigest(buffer.data(), moved) : 0u, status, r.sense[2],
                 r.sense[12], r.sense[13], note.c_str());
    std::fflush(log);
    ring.Complete(command.id, status, status == aspi::STATUS_CHKCOND ? r.sense : nullptr,
                  status == aspi::STATUS_CHKCOND ? sizeof r.sense : 0, readLength);
}

// The kernel waits for the answers of the commands it aborts: the held one
// is answered (the answer is dropped), a reset also resets the drive.
void TcmuDrive::Notice(const RingTaskNotice& notice) {
    bool reset = notice.type == TCMU_TMR_LUN_RESET || notice.type == TCMU_TMR_TARGET_WARM_RESET ||
                 notice.type == TCMU_TMR_TARGET_COLD_RESET;
    bool names = std::find(notice.ids.begin(), notice.ids.end(), held.id) != notice.ids.end();
    bool release = holding && (names || reset || notice.type == TCMU_TMR_ABORT_TASK_SET ||
                               notice.type == TCMU_TMR_CLEAR_TASK_SET);
    if (reset)
        drive.Reset();
    std::fprintf(log, "%s commands=%zu released=%d\n", NoticeName(notice.type), notice.ids.size(),
                 release ? 1 : 0);
    std::fflush(log);
    if (release) {
        ring.Complete(held.id, STATUS_TASK_ABORTED, nullptr, 0, -1);
        holding = false;
    }
}

} // namespace stackbench
