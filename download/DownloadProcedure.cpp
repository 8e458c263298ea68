#include "download/DownloadProcedure.h"

#include "command/CompileCommand.h"
#include "command/StringEx.h"
#include "firmware/IdentifyImage.h"

#include <cstring>

namespace download {
namespace {

// A drive that reports UNIT ATTENTION on every tray command must not hold
// the download: the command is sent at most this often.
const int kTrayTries = 8;
const uint8_t kUnitAttention = 6;

void ShowReadPercent(void* user, int32_t percent) {
    static_cast<DownloadView*>(user)->BarPercent(percent);
}

} // namespace

DownloadProcedure::DownloadProcedure(DeviceChannel* driveChannel, DownloadView& downloadView)
    : channel(driveChannel), view(downloadView), readFile(ReadHexFile), fwInfo(), driveInfo(),
      before(), downloadMode(DownloadMismatch), readResult(HexReadResult::CannotOpen),
      driveAnswered(0), wholeIdentity(0), deviceType(0), newIdentity(0), image(), job(),
      stopRequested(nullptr) {
    std::memset(&fwInfo, 0, sizeof fwInfo);
    std::memset(&driveInfo, 0, sizeof driveInfo);
    std::memset(&before, 0, sizeof before);
}

int DownloadProcedure::Start(const char* path) {
    ClearRows();
    view.ShowPicture(Picture::Idle);
    int go = ReadImage(path) && AskDrive();
    if (go) {
        view.Message("Check download protocol...");
        view.RowState(kRowDriveProtocol, kRowWorking);
        ProbeProtocol();
        PrepareTray();
        view.RowValue(kRowDriveProtocol, ProtocolName(driveInfo.protocol));
        view.RowState(kRowDriveProtocol, kRowDone);
        go = Decide() && view.Consent(downloadMode) == 1;
    }
    if (!go) {
        view.ShowPicture(Picture::Ng);
        return 0;
    }
    BeginTransfer();
    return 1;
}

void DownloadProcedure::ClearRows() {
    for (int row = 0; row < kStatusRows; row++) {
        view.RowState(row, kRowBlank);
        view.RowValue(row, "");
    }
}

int DownloadProcedure::ReadImage(const char* path) {
    view.Message("Reading F/W file...");
    view.RowState(kRowFwModel, kRowWorking);
    view.BarBegin(kRowFwModel);
    readResult = HexReadResult::CannotOpen;
    // An empty name is no file: nothing to tell beyond the failed row.
    if (path && path[0]) {
        readResult = readFile(path, image, ShowReadPercent, &view);
        if (readResult != HexReadResult::Done)
            view.Message(HexReadMessage(readResult));
    }
    view.BarEnd();
    if (readResult != HexReadResult::Done) {
        view.RowState(kRowFwModel, kRowFailed);
        return 0;
    }
    IdentifyImage(image, kImageSize, fwInfo);
    StringEx text(kRowTextSize);
    ModelRowText(fwInfo, text);
    view.RowValue(kRowFwModel, text.data);
    view.RowState(kRowFwModel, kRowDone);
    view.RowValue(kRowFwProtocol, ProtocolName(fwInfo.protocol));
    view.RowState(kRowFwProtocol, kRowDone);
    CheckSumRowText(fwInfo.checkSum, text);
    view.RowValue(kRowCheckSum, text.data);
    view.RowState(kRowCheckSum, kRowDone);
    return 1;
}

int DownloadProcedure::AskDrive() {
    driveAnswered = 0;
    if (!channel)
        return 0;
    // The host found no drive, or a serial port is chosen: nothing is sent.
    if (channel->GetAdapter() == DeviceChannel::kNoAdapter) {
        view.Message("No CD/DVD drive is selected!");
        view.RowState(kRowDriveModel, kRowFailed);
        return 0;
    }
    CompileCommand(*channel, kInquiryCommand);
    if (channel->Execute() != 1)
        return 0;
    driveAnswered = 1;
    wholeIdentity = channel->HasIdentity();
    deviceType = channel->buffer[0];
    if (wholeIdentity) {
        channel->ReadInquiryText(driveInfo.modelName, driveInfo.version);
        before = driveInfo;
        StringEx text(kRowTextSize);
        ModelRowText(driveInfo, text);
        view.RowValue(kRowDriveModel, text.data);
    }
    // Whatever else answers there (often the system disk), or a device that
    // does not say who it is, gets no other command: no probe, no tray
    // command, no image.
    if (!wholeIdentity || deviceType != kCdRomDeviceType) {
        view.Message("The selected device is not a CD/DVD drive!");
        view.RowState(kRowDriveModel, kRowFailed);
        return 0;
    }
    view.RowState(kRowDriveModel, kRowDone);
    return 1;
}

void DownloadProcedure::ProbeProtocol() {
    driveInfo.protocol = FwProtocolNone;
    for (const ProtocolProbe& probe : kProtocolProbes) {
        if (Stopped())
            break;
        CompileCommand(*channel, probe.text);
        if (channel->Execute() == 1)
            driveInfo.protocol = probe.protocol;
    }
    before.protocol = driveInfo.protocol;
}

void DownloadProcedure::PrepareTray() {
    if (Stopped())
        return;
    CompileCommand(*channel, kPreventCommand);
    channel->Execute();
    CompileCommand(*channel, kOpenTrayCommand);
    for (int tries = 1; !Stopped() && channel->Execute() != 1 && tries < kTrayTries; tries++) {
        channel->ReadSense();
        if (channel->senseKey != kUnitAttention)
            break;
    }
}

int DownloadProcedure::Stopped() const {
    return stopRequested && stopRequested() != 0;
}

int DownloadProcedure::Decide() {
    downloadMode = DecideDownloadMode(fwInfo.protocol, driveInfo.protocol);
    if (downloadMode != DownloadMismatch)
        return 1;
    view.Message("Mismatch protocol between F/W and drive!");
    view.RowState(kRowDriveProtocol, kRowFailed);
    return 0;
}

void DownloadProcedure::BeginTransfer() {
    view.Message("Transfer F/W Code...");
    view.RowState(kRowTransfer, kRowWorking);
    view.RowValue(kRowTransfer, "Done");
    view.RowState(kRowTransfer, kRowDone);

    view.Message("Downloading... (Do NOT turn off!)");
    view.RowState(kRowFlashWriting, kRowWorking);
    view.BarBegin(kRowFlashWriting);

    job.channel = channel;
    job.image = image;
    job.checkSum = fwInfo.checkSum;
    job.driveProtocol = driveInfo.protocol;
    job.mode = downloadMode;
    job.halfSum = 0;
    job.outcome = TransferOutcome::NotSent;
    job.senseKey = job.asc = job.ascq = 0;
    std::memset(job.sense, 0, sizeof job.sense);
    newIdentity = 0;
    job.result.store(kTransferRunning);
}

int DownloadProcedure::Finish() {
    view.BarEnd();
    if (downloadMode == DownloadReboot)
        view.RequestRestart();
    if (job.result.load() == 0) {
        view.RowState(kRowFlashWriting, kRowFailed);
        view.Message("Invalid check sum Fail to Download, Restart Now!");
        view.WarnFailedTransfer();
        view.RequestRestart();
        view.ShowPicture(Picture::Ng);
        return 0;
    }
    view.RowValue(kRowFlashWriting, "Done");
    view.RowState(kRowFlashWriting, kRowDone);
    view.Message("Download has done successfully!");

    CompileCommand(*channel, kInquiryCommand);
    if (channel->Execute() != 1) {
        view.Message("New F/W is something wrong. no response to Inquiry !");
        view.ShowPicture(Picture::Ng);
        return 0;
    }
    const int verified = JudgeNewIdentity();
    CompileCommand(*channel, kUnitReadyCommand);
    channel->Execute();
    CompileCommand(*channel, kUnitReadyCommand);
    channel->Execute();
    view.ShowPicture(verified ? Picture::Ok : Picture::Ng);
    return verified;
}

int DownloadProcedure::JudgeNewIdentity() {
    newIdentity = 1;
    channel->ReadInquiryText(driveInfo.modelName, driveInfo.version);
    StringEx text(kRowTextSize);
    ModelRowText(driveInfo, text);
    view.RowValue(kRowNewModel, text.data);
    const int verified = Evidenced();
    if (verified) {
        view.RowState(kRowNewModel, kRowDone);
        return 1;
    }
    view.RowState(kRowNewModel, kRowFailed);
    view.Message(downloadMode == DownloadVerify
                     ? "New F/W is something wrong. Model or version not changed !"
                     : "New F/W is something wrong. Download not confirmed !");
    return 0;
}

// A status alone can mislead: a drive that went silent may be restarting
// with the image or may have dropped it, and one already running the image
// answers with its identity whatever became of the transfer.
int DownloadProcedure::Evidenced() const {
    if (job.result.load() != 1)
        return 0;
    const int completed = job.outcome == TransferOutcome::Completed;
    const int showsImage = newIdentity && SameIdentity(fwInfo, driveInfo);
    if (downloadMode == DownloadVerify)
        return completed && showsImage;
    return completed || (showsImage && !SameIdentity(fwInfo, before));
}

} // namespace download
