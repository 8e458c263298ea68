// The command ring a LIO user-space backstore shares with the kernel: the
// mailbox, the ring of entries and the data area, all in one mapping of the
// backstore's /dev/uioN. Entries are taken in the kernel's order and answered
// in any order (the kernel reads the command id back from each answer slot).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace stackbench {

struct DataSegment {
    uint8_t* base;
    size_t length;
};

struct RingCommand {
    uint16_t id = 0;
    uint8_t cdb[16] = {}; // bytes beyond cdbLength are zero
    size_t cdbLength = 0;
    std::vector<DataSegment> data; // inside the data area of the mapping
    uint32_t dataLength = 0;
};

// A task management notice: the kernel aborts or resets the listed commands
// (or all of the device's, for the reset kinds) and waits for their answers.
struct RingTaskNotice {
    uint8_t type = 0;
    std::vector<uint16_t> ids;
};

class TcmuRing {
  public:
    enum class Entry { None, Command, TaskNotice, Broken };

    // base and size: the whole shared mapping. Taking starts at the kernel's
    // current tail, so a handler can start after commands were queued.
    TcmuRing(uint8_t* base, size_t size);

    // The mailbox names a ring that fits the mapping.
    bool Valid() const { return valid; }

    // Takes the next entry the kernel queued and has not been taken yet;
    // padding is skipped. Broken: an entry whose offsets leave the mapping.
    Entry Take(RingCommand& command, RingTaskNotice& notice);

    // Answers one taken command. readLength >= 0 reports the bytes of a
    // data-in command that hold data (the rest is a residual).
    // False when every taken command has been answered already.
    bool Complete(uint16_t id, uint8_t status, const uint8_t* sense, size_t senseLength,
                  long readLength);

  private:
    uint8_t* Slot(uint32_t offset) const { return base + ringOffset + offset; }
    void SkipAnswered();
    // The command entry at `at`, of `room` bytes, into `command`.
    Entry TakeCommand(const uint8_t* at, uint32_t room, uint16_t id, RingCommand& command);

    uint8_t* base;
    size_t size;
    uint32_t ringOffset = 0, ringSize = 0;
    uint32_t next = 0; // first entry not taken
    uint32_t tail = 0; // first entry not answered
    int unanswered = 0;
    bool valid = false;
};

} // namespace stackbench
