// The one transfer of a download, as the worker thread runs it: everything
// it needs in one record, filled on the thread that drives the download and
// handed over before the worker starts. The worker writes the outcome fields
// and then `result`, once; the other thread reads the outcome only after it
// has seen `result` leave kTransferRunning.
#pragma once

#include "command/DeviceChannel.h"
#include "firmware/DownloadRules.h"

#include <atomic>
#include <cstdint>

namespace download {

enum : int32_t { kTransferRunning = 999 };
// The drive restarts itself after taking an image in reboot mode; it is
// given this long before the restart is requested.
enum : uint32_t { kRebootWaitMs = 8500 };

enum class TransferOutcome : int32_t {
    NotSent,   // nothing reached the drive
    Completed, // the drive ended the command with GOOD status
    Refused,   // the drive answered: CHECK CONDITION or an error status
    NoAnswer,  // the command ran out of time: the drive may be restarting
    Unreached, // no device, or its selection timed out: nothing was delivered
    Gone,      // the device went away during the command: it may have taken it
};

struct TransferJob {
    DeviceChannel* channel;
    const uint8_t* image; // kImageSize bytes
    uint16_t checkSum;
    uint8_t driveProtocol;
    DownloadMode mode;

    // Written by the worker before `result`.
    uint16_t halfSum;
    TransferOutcome outcome;
    uint8_t senseKey, asc, ascq;
    uint8_t sense[aspi::SENSE_LEN]; // as the drive returned it; all 0 without

    // kTransferRunning while the worker runs, then 1 (success) or 0.
    std::atomic<int32_t> result;

    TransferJob();
    TransferJob(const TransferJob&) = delete;
    TransferJob& operator=(const TransferJob&) = delete;
};

// The worker: builds the command and the data phase, sends them once and
// judges the answer. Verify mode: 1 only for GOOD status. Reboot mode: after
// kRebootWaitMs (see Pause.h), 1 when the drive took the command or went
// silent while it ran, 0 when it refused it or was never reached. Nothing
// sent is 0 in either mode.
void RunTransfer(TransferJob& job);

// How the last command on the channel ended; `executed` is what Execute
// returned.
TransferOutcome JudgeAnswer(const DeviceChannel& channel, int32_t executed);

// Compiles the command into the channel's pending command; 1, or 0 when the
// command is empty.
int32_t CompileTransferCommand(DeviceChannel& channel, const TransferCommand& command);

} // namespace download
