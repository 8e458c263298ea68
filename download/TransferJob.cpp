#include "download/TransferJob.h"

#include "command/CompileCommand.h"
#include "download/Pause.h"

#include <cstring>

namespace download {
TransferJob::TransferJob()
    : channel(nullptr), image(nullptr), checkSum(0), driveProtocol(0), mode(DownloadMismatch),
      halfSum(0), outcome(TransferOutcome::NotSent), senseKey(0), asc(0), ascq(0), sense(),
      result(0) {}

int32_t CompileTransferCommand(DeviceChannel& channel, const TransferCommand& command) {
    if (!command.text)
        return 0;
    CommandArgument list[6] = {command.arguments[0], command.arguments[1], command.arguments[2],
                               command.arguments[3], command.arguments[4], command.arguments[5]};
    return CompileCommandList(channel, command.text, list, command.argumentCount);
}

TransferOutcome JudgeAnswer(const DeviceChannel& channel, int32_t executed) {
    if (executed == 1)
        return TransferOutcome::Completed;
    if (channel.timedOut)
        return TransferOutcome::NoAnswer;
    if (!channel.request)
        return TransferOutcome::Unreached;
    // No device, or a selection that timed out: the command never got to a
    // drive, so no image did either.
    const aspi::SRB_ExecSCSICmd& srb = *channel.request;
    if (srb.SRB_HaStat == aspi::HASTAT_BUS_FREE)
        return TransferOutcome::Gone;
    const uint8_t status = aspi::LoadStatus(&srb.SRB_Status);
    if (srb.SenseArea[0] == 0 &&
        (status == aspi::SS_NO_DEVICE || srb.SRB_HaStat == aspi::HASTAT_SEL_TO))
        return TransferOutcome::Unreached;
    return TransferOutcome::Refused;
}

void RunTransfer(TransferJob& job) {
    DeviceChannel& channel = *job.channel;
    job.halfSum = HalfSum(job.image);
    TransferCommand command;
    const int32_t ready = FillTransferData(job.image, channel.buffer, channel.bufferSize) &&
                          BuildTransferCommand(job.driveProtocol, job.mode, job.halfSum,
                                               job.checkSum, job.image, command) &&
                          CompileTransferCommand(channel, command);
    int32_t result = 0;
    if (ready) {
        const int32_t executed = channel.Execute();
        job.outcome = JudgeAnswer(channel, executed);
        job.senseKey = channel.senseKey;
        job.asc = channel.asc;
        job.ascq = channel.ascq;
        if (channel.request && job.outcome == TransferOutcome::Refused)
            std::memcpy(job.sense, channel.request->SenseArea, sizeof job.sense);
        if (job.mode == DownloadReboot) {
            Pause(kRebootWaitMs);
            // A drive restarting with the new image may leave the bus.
            result = job.outcome == TransferOutcome::Completed ||
                             job.outcome == TransferOutcome::NoAnswer ||
                             job.outcome == TransferOutcome::Gone
                         ? 1
                         : 0;
        } else {
            result = executed == 1 ? 1 : 0;
        }
    }
    job.result.store(result);
}

} // namespace download
