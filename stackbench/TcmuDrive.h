// One simulated drive behind a LIO user-space backstore: takes each command
// off the ring, answers it with the simulator's VirtualDrive and logs it.
#pragma once

#include "TcmuRing.h"

#include "simulator/VirtualDrive.h"

#include <cstdio>
#include <vector>

namespace stackbench {

class TcmuDrive {
  public:
    TcmuDrive(TcmuRing& ring, const simulator::DriveConfig& config, FILE* log);

    // Takes and answers every entry queued so far; false on a broken ring.
    // answered tells whether the kernel must be told of new answers.
    bool Serve(bool& answered);

    simulator::VirtualDrive drive;

  private:
    void Execute(RingCommand& command);
    void Notice(const RingTaskNotice& notice);

    TcmuRing& ring;
    FILE* log;
    // A command the drive never answers, held until the kernel aborts it.
    bool holding = false;
    RingCommand held;
};

} // namespace stackbench
