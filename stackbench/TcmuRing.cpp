#include "TcmuRing.h"

#include <linux/target_core_user.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace stackbench {
namespace {

// The command block length the kernel copies into the ring: by the operation
// code's group, as the SCSI layer sizes it (vendor groups count 10 bytes).
size_t KernelCdbLength(uint8_t opcode) {
    static const uint8_t sizes[8] = {6, 10, 10, 12, 16, 12, 10, 10};
    return sizes[opcode >> 5];
}

uint32_t Load(const uint8_t* at) {
    return __atomic_load_n(reinterpret_cast<const uint32_t*>(at), __ATOMIC_ACQUIRE);
}

void Store(uint8_t* at, uint32_t value) {
    __atomic_store_n(reinterpret_cast<uint32_t*>(at), value, __ATOMIC_RELEASE);
}

tcmu_cmd_entry_hdr Header(const uint8_t* at) {
    tcmu_cmd_entry_hdr hdr;
    std::memcpy(&hdr, at, sizeof hdr);
    return hdr;
}

constexpr size_t HEAD_AT = offsetof(tcmu_mailbox, cmd_head);
constexpr size_t TAIL_AT = offsetof(tcmu_mailbox, cmd_tail);
constexpr size_t REQ_AT = offsetof(tcmu_cmd_entry, req);
constexpr size_t IOV_AT = REQ_AT + offsetof(decltype(tcmu_cmd_entry::req), iov);
constexpr size_t RSP_AT = offsetof(tcmu_cmd_entry, rsp);
constexpr size_t IDS_AT = offsetof(tcmu_tmr_entry, cmd_ids);

// A task management entry of `room` bytes into `notice`.
TcmuRing::Entry TakeNotice(const uint8_t* at, uint32_t room, RingTaskNotice& notice) {
    tcmu_tmr_entry tmr;
    if (room < IDS_AT)
        return TcmuRing::Entry::Broken;
    std::memcpy(&tmr, at, IDS_AT);
    if (tmr.cmd_cnt > (room - IDS_AT) / sizeof(uint16_t))
        return TcmuRing::Entry::Broken;
    notice.type = tmr.tmr_type;
    notice.ids.resize(tmr.cmd_cnt);
    if (tmr.cmd_cnt)
        std::memcpy(notice.ids.data(), at + IDS_AT, tmr.cmd_cnt * sizeof(uint16_t));
    return TcmuRing::Entry::TaskNotice;
}

} // namespace

TcmuRing::TcmuRing(uint8_t* mapping, size_t mappingSize) : base(mapping), size(mappingSize) {
    if (size < sizeof(tcmu_mailbox))
        return;
    tcmu_mailbox mb;
    std::memcpy(&mb, base, sizeof mb);
    ringOffset = mb.cmdr_off;
    ringSize = mb.cmdr_size;
    valid = mb.version == TCMU_MAILBOX_VERSION && ringOffset >= sizeof mb && ringSize > 0 &&
            ringSize % TCMU_OP_ALIGN_SIZE == 0 && ringOffset <= size &&
            ringSize <= size - ringOffset;
    // Entries start on the alignment, so a header read at one never passes
    // the end of the ring (nor of the mapping, where the ring ends it).
    uint32_t kernelTail = valid ? Load(base + TAIL_AT) : 0;
    valid = valid && kernelTail < ringSize && kernelTail % TCMU_OP_ALIGN_SIZE == 0;
    next = tail = valid ? kernelTail : 0;
}

TcmuRing::Entry TcmuRing::Take(RingCommand& command, RingTaskNotice& notice) {
    if (!valid)
        return Entry::Broken;
    uint32_t head = Load(base + HEAD_AT);
    while (next != head) {
        const uint8_t* at = Slot(next);
        tcmu_cmd_entry_hdr hdr = Header(at);
        uint32_t length = tcmu_hdr_get_len(hdr.len_op);
        if (head >= ringSize || head % TCMU_OP_ALIGN_SIZE || length < sizeof hdr ||
            length % TCMU_OP_ALIGN_SIZE || length > ringSize - next)
            return Entry::Broken;
        next = (next + length) % ringSize;
        switch (tcmu_hdr_get_op(hdr.len_op)) {
        case TCMU_OP_PAD:
            continue;
        case TCMU_OP_TMR:
            return TakeNotice(at, length, notice);
        case TCMU_OP_CMD:
            return TakeCommand(at, length, hdr.cmd_id, command);
        default:
            return Entry::Broken;
        }
    }
    return Entry::None;
}

TcmuRing::Entry TcmuRing::TakeCommand(const uint8_t* at, uint32_t room, uint16_t id,
                                      RingCommand& command) {
    // The answer is written over the entry: it must hold one.
    if (room < sizeof(tcmu_cmd_entry))
        return Entry::Broken;
    tcmu_cmd_entry entry;
    std::memcpy(&entry, at, IOV_AT);
    uint64_t segments =
        uint64_t(entry.req.iov_cnt) + entry.req.iov_bidi_cnt + entry.req.iov_dif_cnt;
    if (segments > (room - IOV_AT) / sizeof(iovec) || entry.req.cdb_off >= size)
        return Entry::Broken;
    command = RingCommand();
    command.id = id;
    size_t cdbLength = KernelCdbLength(base[entry.req.cdb_off]);
    command.cdbLength =
        std::min<size_t>({cdbLength, sizeof command.cdb, size_t(size - entry.req.cdb_off)});
    std::memcpy(command.cdb, base + entry.req.cdb_off, command.cdbLength);
    uint64_t dataStart = uint64_t(ringOffset) + ringSize;
    for (uint32_t i = 0; i < entry.req.iov_cnt; ++i) {
        iovec v;
        std::memcpy(&v, at + IOV_AT + i * sizeof v, sizeof v);
        uint64_t offset = reinterpret_cast<uintptr_t>(v.iov_base);
        if (offset < dataStart || offset > size || v.iov_len > size - offset)
            return Entry::Broken;
        command.data.push_back(DataSegment{base + offset, v.iov_len});
        command.dataLength += static_cast<uint32_t>(v.iov_len);
    }
    ++unanswered;
    return Entry::Command;
}

bool TcmuRing::Complete(uint16_t id, uint8_t status, const uint8_t* sense, size_t senseLength,
                        long readLength) {
    if (unanswered == 0)
        return false;
    SkipAnswered(); // the tail now names a command slot taken and not answered
    uint8_t* at = Slot(tail);
    tcmu_cmd_entry_hdr hdr = Header(at);
    hdr.cmd_id = id;
    hdr.uflags = readLength >= 0 ? TCMU_UFLAG_READ_LEN : 0;
    std::memcpy(at, &hdr, sizeof hdr);
    decltype(tcmu_cmd_entry::rsp) rsp{};
    rsp.scsi_status = status;
    rsp.read_len = readLength >= 0 ? static_cast<uint32_t>(readLength) : 0;
    if (sense)
        std::memcpy(rsp.sense_buffer, sense, std::min(senseLength, sizeof rsp.sense_buffer));
    std::memcpy(at + RSP_AT, &rsp, sizeof rsp);
    tail = (tail + tcmu_hdr_get_len(hdr.len_op)) % ringSize;
    --unanswered;
    SkipAnswered();
    Store(base + TAIL_AT, tail);
    return true;
}

// Padding and notices need no answer: the tail passes them up to the next
// command slot (or up to the first entry not taken).
void TcmuRing::SkipAnswered() {
    while (tail != next) {
        tcmu_cmd_entry_hdr hdr = Header(Slot(tail));
        if (tcmu_hdr_get_op(hdr.len_op) == TCMU_OP_CMD)
            return;
        tail = (tail + tcmu_hdr_get_len(hdr.len_op)) % ringSize;
    }
}

} // namespace stackbench
