// One simulated drive behind a LIO user-space backstore: takes each command
// off the ring, answers it with the simulator's VirtualDrive when the
// drive's time for it has passed, and logs it.
#pragma once

#include "TcmuRing.h"

#include "simulator/VirtualDrive.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace stackbench {

using Clock = std::chrono::steady_clock;

// A command that takes at least this long is logged as it arrives too.
constexpr uint32_t SLOW_COMMAND_MS = 1000;

class TcmuDrive {
  public:
    TcmuDrive(TcmuRing& ring, const simulator::DriveConfig& config, FILE* log);

    // Takes every entry queued so far and answers each command whose time
    // has come by now; false on a broken ring. answered tells whether the
    // kernel must be told of new answers.
    bool Serve(Clock::time_point now, bool& answered);

    // Milliseconds from now until the next command is due; -1 when none is
    // waiting for its time (held commands wait for the kernel).
    int MsUntilDue(Clock::time_point now) const;

    simulator::VirtualDrive drive;

  private:
    struct Waiting {
        RingCommand command;
        std::string head, note; // what the log says of it
        Clock::time_point due;
        bool held; // never answered until the kernel gives it up
    };

    void Arrive(RingCommand& command, Clock::time_point now);
    void Execute(Waiting& w);
    bool RunDue(Clock::time_point now);
    void Notice(const RingTaskNotice& notice);

    TcmuRing& ring;
    FILE* log;
    std::vector<Waiting> waiting;
};

} // namespace stackbench
