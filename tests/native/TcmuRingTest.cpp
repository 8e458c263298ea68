// The stack bench's command ring and drive, on a mapping laid out as the kernel lays
// it out: mailbox, ring, data area.
#include "stackbench/TcmuDrive.h"
#include "stackbench/TcmuRing.h"

#include "simulator/BankConfig.h"

#include <linux/target_core_user.h>

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t RING_AT = 64 * 2, RING_SIZE = 1024, DATA_AT = RING_AT + RING_SIZE;

// Memory that ends where an inaccessible page begins: a byte read or written
// past its end stops the test.
class GuardedMapping {
  public:
    explicit GuardedMapping(size_t bytes) : length(bytes) {
        const size_t pages = (bytes + Page() - 1) / Page();
        regionSize = (pages + 1) * Page();
        void* at =
            mmap(nullptr, regionSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        region = at == MAP_FAILED ? nullptr : static_cast<uint8_t*>(at);
        if (region)
            mprotect(region + pages * Page(), Page(), PROT_NONE);
    }
    ~GuardedMapping() {
        if (region)
            munmap(region, regionSize);
    }
    GuardedMapping(const GuardedMapping&) = delete;
    GuardedMapping& operator=(const GuardedMapping&) = delete;
    uint8_t* data() { return region + regionSize - Page() - length; }
    size_t size() const { return length; }

  private:
    static size_t Page() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }
    uint8_t* region = nullptr;
    size_t regionSize = 0, length;
};

struct FakeKernel {
    GuardedMapping map;
    uint32_t head = 0;

    // mapSize DATA_AT: a mapping the ring ends.
    explicit FakeKernel(uint32_t start = 0, size_t mapSize = DATA_AT + 4096)
        : map(mapSize), head(start) {
        tcmu_mailbox mb{};
        mb.cmd_head = mb.cmd_tail = start;
        mb.version = TCMU_MAILBOX_VERSION;
        mb.cmdr_off = RING_AT;
        mb.cmdr_size = RING_SIZE;
        std::memcpy(map.data(), &mb, sizeof mb);
    }
    uint8_t* Slot(uint32_t at) { return map.data() + RING_AT + at; }
    void Publish() { std::memcpy(map.data() + offsetof(tcmu_mailbox, cmd_head), &head, 4); }
    uint32_t Tail() {
        uint32_t tail;
        std::memcpy(&tail, map.data() + offsetof(tcmu_mailbox, cmd_tail), 4);
        return tail;
    }
    void Header(uint32_t at, tcmu_opcode op, uint32_t length, uint16_t id) {
        tcmu_cmd_entry_hdr hdr{};
        hdr.len_op = length | op;
        hdr.cmd_id = id;
        std::memcpy(Slot(at), &hdr, sizeof hdr);
    }
    // A command entry with its CDB after one iovec into the data area.
    void Command(uint16_t id, std::vector<uint8_t> cdb, uint64_t dataAt, size_t dataLength) {
        uint32_t length = 128;
        tcmu_cmd_entry entry{};
        entry.hdr.len_op = length | TCMU_OP_CMD;
        entry.hdr.cmd_id = id;
        entry.req.iov_cnt = dataLength ? 1 : 0;
        entry.req.cdb_off = RING_AT + head + 96;
        std::memcpy(Slot(head), &entry, sizeof entry);
        iovec v{reinterpret_cast<void*>(dataAt), dataLength};
        std::memcpy(Slot(head) + offsetof(tcmu_cmd_entry, req.iov), &v, sizeof v);
        std::memcpy(Slot(head) + 96, cdb.data(), cdb.size());
        head += length;
    }
    // A task management entry that aborts command `id`.
    void AbortTask(uint16_t id) {
        Header(head, TCMU_OP_TMR, 64, 0);
        tcmu_tmr_entry tmr{};
        std::memcpy(&tmr, Slot(head), sizeof tmr);
        tmr.tmr_type = TCMU_TMR_ABORT_TASK;
        tmr.cmd_cnt = 1;
        std::memcpy(Slot(head), &tmr, sizeof tmr);
        std::memcpy(Slot(head) + offsetof(tcmu_tmr_entry, cmd_ids), &id, 2);
        head += 64;
    }
    // What a ring on this mapping takes first.
    stackbench::TcmuRing::Entry FirstTaken() {
        stackbench::TcmuRing ring(map.data(), map.size());
        stackbench::RingCommand c;
        stackbench::RingTaskNotice n;
        return ring.Take(c, n);
    }
    uint16_t AnsweredId(uint32_t at) {
        tcmu_cmd_entry_hdr hdr;
        std::memcpy(&hdr, Slot(at), sizeof hdr);
        return hdr.cmd_id;
    }
};

TEST(TcmuRing, TakesCommandsAndNoticesAnswersOutOfOrderAndPassesPadding) {
    FakeKernel k(256); // the kernel's tail where the handler starts
    k.Command(1, {0x12, 0, 0, 0, 36, 0}, DATA_AT, 36);
    k.Command(2, {0xCB, 0, 0x22, 1, 2, 3, 4, 0xFF, 0xFE, 0x84, 0xAA, 0xBB}, DATA_AT + 64, 100);
    k.AbortTask(2);
    k.Header(k.head, TCMU_OP_PAD, RING_SIZE - k.head, 0); // the rest of the ring, then wrap
    k.head = 0;
    k.Publish();

    stackbench::TcmuRing ring(k.map.data(), k.map.size());
    ASSERT_TRUE(ring.Valid());
    stackbench::RingCommand c;
    stackbench::RingTaskNotice n;
    ASSERT_EQ(ring.Take(c, n), stackbench::TcmuRing::Entry::Command);
    EXPECT_EQ(c.id, 1);
    EXPECT_EQ(c.cdbLength, 6u);
    ASSERT_EQ(c.data.size(), 1u);
    EXPECT_EQ(c.data[0].base, k.map.data() + DATA_AT);
    ASSERT_EQ(ring.Take(c, n), stackbench::TcmuRing::Entry::Command);
    EXPECT_EQ(c.id, 2);
    EXPECT_EQ(c.cdbLength, 10u) << "the kernel sizes a vendor command block as 10 bytes";
    EXPECT_EQ(c.cdb[10], 0);
    ASSERT_EQ(ring.Take(c, n), stackbench::TcmuRing::Entry::TaskNotice);
    EXPECT_EQ(n.type, TCMU_TMR_ABORT_TASK);
    EXPECT_EQ(n.ids, std::vector<uint16_t>{2});
    EXPECT_EQ(ring.Take(c, n), stackbench::TcmuRing::Entry::None) << "padding is skipped";

    // Command 2 answered first lands in the first slot; the tail stops at
    // the second command slot, still owed an answer.
    const uint8_t sense[18] = {0x70, 0, 0x05};
    ASSERT_TRUE(ring.Complete(2, 0x02, sense, sizeof sense, -1));
    EXPECT_EQ(k.AnsweredId(256), 2);
    EXPECT_EQ(k.Tail(), 384u);
    tcmu_cmd_entry answer;
    std::memcpy(&answer, k.Slot(256), sizeof answer);
    EXPECT_EQ(answer.rsp.scsi_status, 0x02);
    EXPECT_EQ(answer.rsp.sense_buffer[2], 0x05);
    ASSERT_TRUE(ring.Complete(1, 0x00, nullptr, 0, 36));
    std::memcpy(&answer, k.Slot(384), sizeof answer);
    EXPECT_EQ(answer.hdr.cmd_id, 1);
    EXPECT_TRUE(answer.hdr.uflags & TCMU_UFLAG_READ_LEN);
    EXPECT_EQ(answer.rsp.read_len, 36u);
    EXPECT_EQ(k.Tail(), 0u) << "the notice and the padding are passed, up to the wrap";
    EXPECT_FALSE(ring.Complete(3, 0, nullptr, 0, -1)) << "no command is owed an answer";
}

TEST(TcmuRing, RefusesEntriesThatLeaveTheMapping) {
    struct Case {
        const char* what;
        uint64_t dataAt;
        size_t length;
    } cases[] = {
        {"data inside the ring", RING_AT, 16},
        {"data past the mapping", DATA_AT + 4000, 200},
        {"data length wrapping", DATA_AT, ~size_t(0)},
    };
    for (const Case& t : cases) {
        FakeKernel k;
        k.Command(7, {0x12, 0, 0, 0, 36, 0}, t.dataAt, t.length);
        k.Publish();
        EXPECT_EQ(k.FirstTaken(), stackbench::TcmuRing::Entry::Broken) << t.what;
    }
    FakeKernel k;
    k.Header(0, TCMU_OP_CMD, 4, 1); // shorter than its own header
    k.head = 8;
    k.Publish();
    EXPECT_EQ(k.FirstTaken(), stackbench::TcmuRing::Entry::Broken);
}

// A ring that ends its mapping: an entry at an unaligned offset, or a
// command entry too short for its answer, is refused rather than read or
// answered past the end.
TEST(TcmuRing, NeverReachesPastAMappingTheRingEnds) {
    {
        FakeKernel k(RING_SIZE - 4, DATA_AT); // a tail off the entry alignment
        k.head = 0;
        k.Publish();
        EXPECT_FALSE(stackbench::TcmuRing(k.map.data(), k.map.size()).Valid());
        EXPECT_EQ(k.FirstTaken(), stackbench::TcmuRing::Entry::Broken);
    }
    FakeKernel k(RING_SIZE - 64, DATA_AT);
    tcmu_cmd_entry entry{};
    entry.hdr.len_op = 64 | TCMU_OP_CMD;
    entry.hdr.cmd_id = 5;
    entry.req.cdb_off = RING_AT + RING_SIZE - 16;
    std::memcpy(k.Slot(RING_SIZE - 64), &entry, 48);
    k.Slot(RING_SIZE - 16)[0] = 0x00; // TEST UNIT READY, no data
    k.head = 0;
    k.Publish();
    stackbench::TcmuRing ring(k.map.data(), k.map.size());
    ASSERT_TRUE(ring.Valid());
    stackbench::RingCommand c;
    stackbench::RingTaskNotice n;
    const stackbench::TcmuRing::Entry taken = ring.Take(c, n);
    EXPECT_EQ(taken, stackbench::TcmuRing::Entry::Broken) << "no room for the answer";
    if (taken == stackbench::TcmuRing::Entry::Command) // as the drive would answer it
        ring.Complete(c.id, 0, nullptr, 0, -1);
}

// A drive's commands take their time (latency= and flash= keys): each is
// answered once its time has passed, or when the kernel gives it up first,
// then without being run.
TEST(TcmuDrive, AnswersWhenTheTimeHasComeOrTheKernelGivesTheCommandUp) {
    FakeKernel k;
    k.Command(1, {0x00, 0, 0, 0, 0, 0}, 0, 0);
    k.Command(2, {0x00, 0, 0, 0, 0, 0}, 0, 0);
    k.Publish();
    simulator::BankConfig bank;
    std::string error;
    ASSERT_EQ(1, simulator::ParseBank("adapter\ndrive 0 latency=5000\n", bank, error)) << error;
    char* text = nullptr;
    size_t textSize = 0;
    FILE* log = open_memstream(&text, &textSize);
    ASSERT_NE(log, nullptr);
    stackbench::TcmuRing ring(k.map.data(), k.map.size());
    stackbench::TcmuDrive drive(ring, bank.adapters[0][0], log);
    const stackbench::Clock::time_point start{std::chrono::hours(1)};
    bool answered = true;
    ASSERT_TRUE(drive.Serve(start, answered));
    EXPECT_FALSE(answered);
    EXPECT_EQ(drive.MsUntilDue(start + std::chrono::seconds(1)), 4000);

    k.AbortTask(2);
    k.Publish();
    ASSERT_TRUE(drive.Serve(start + std::chrono::seconds(1), answered));
    EXPECT_TRUE(answered);
    tcmu_cmd_entry answer;
    std::memcpy(&answer, k.Slot(0), sizeof answer);
    EXPECT_EQ(answer.hdr.cmd_id, 2);
    EXPECT_EQ(answer.rsp.scsi_status, 0x40) << "task aborted";
    EXPECT_EQ(k.Tail(), 128u) << "command 1 still waits";

    ASSERT_TRUE(drive.Serve(start + std::chrono::milliseconds(4999), answered));
    EXPECT_FALSE(answered);
    ASSERT_TRUE(drive.Serve(start + std::chrono::seconds(5), answered));
    EXPECT_TRUE(answered);
    EXPECT_EQ(k.AnsweredId(128), 1);
    EXPECT_EQ(k.Tail(), k.head);
    EXPECT_EQ(drive.MsUntilDue(start + std::chrono::seconds(5)), -1);
    std::fclose(log);
    const std::string lines(text, textSize);
    std::free(text);
    EXPECT_EQ(lines, "wait dir=none len=0 cdb=00 00 00 00 00 00 ms=5000\n"
                     "wait dir=none len=0 cdb=00 00 00 00 00 00 ms=5000\n"
                     "abort-task commands=1 released=1\n"
                     "exec dir=none len=0 cdb=00 00 00 00 00 00 digest=00000000 status=00 "
                     "sense=0/00/00\n");
}

} // namespace
