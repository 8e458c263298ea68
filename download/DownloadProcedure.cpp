#include "download/DownloadProcedure.h"

#include "aspi/AspiPlatform.h"
#include "command/CompileCommand.h"
#include "command/StringEx.h"
#include "download/Pause.h"
#include "firmware/IdentifyImage.h"

#include <algorithm>
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
    : channel(driveChannel), view(downloadView), readFile(ReadHexFile), order(),
      stop(DownloadStop::Ready), fwInfo(), driveInfo(), before(), downloadMode(DownloadMismatch),
      readResult(HexReadResult::CannotOpen), driveAnswered(0), wholeIdentity(0), deviceType(0),
      newIdentity(0), revision(RevisionOrder::Unknown), image(), job(), stopRequested(nullptr) {
    std::memset(&fwInfo, 0, sizeof fwInfo);
    std::memset(&driveInfo, 0, sizeof driveInfo);
    std::memset(&before, 0, sizeof before);
}

int DownloadProcedure::Start(const char* path) {
    stop = Prepare(path);
    if (stop != DownloadStop::Ready) {
        if (stop != DownloadStop::DryRun)
            view.ShowPicture(Picture::Ng);
        return 0;
    }
    BeginTransfer();
    return 1;
}

// A Stopped check after every step that sends something: before the
// transfer an interrupt cancels, and it may come at any of them.
DownloadStop DownloadProcedure::Prepare(const char* path) {
    ClearRows();
    view.ShowPicture(Picture::Idle);
    if (!ReadImage(path))
        return DownloadStop::ImageUnread;
    if (Stopped())
        return DownloadStop::Cancelled;
    const DownloadStop drive = AskDrive();
    if (drive != DownloadStop::Ready)
        return drive;
    if (Stopped())
        return DownloadStop::Cancelled;
    view.Message("Check download protocol...");
    view.RowState(kRowDriveProtocol, kRowWorking);
    ProbeProtocol();
    if (order.trayFirst && !order.dryRun)
        PrepareTray();
    if (Stopped())
        return DownloadStop::Cancelled;
    view.RowValue(kRowDriveProtocol, ProtocolName(driveInfo.protocol));
    view.RowState(kRowDriveProtocol, kRowDone);
    if (!Decide())
        return DownloadStop::Mismatch;
    const DownloadStop guard = Guard();
    return guard == DownloadStop::Ready ? AskConsent() : guard;
}

// Another model's revision says nothing of this drive's firmware: a drive in
// its boot loader answers the loader's.
DownloadStop DownloadProcedure::Guard() {
    const int sameModel = SameModel(fwInfo, before);
    revision = sameModel ? CompareRevisions(fwInfo, before) : RevisionOrder::Unknown;
    if (order.guardModel && !sameModel)
        return DownloadStop::OtherModel;
    if (order.guardDowngrade && revision == RevisionOrder::Older)
        return DownloadStop::Downgrade;
    return DownloadStop::Ready;
}

DownloadStop DownloadProcedure::AskConsent() {
    view.Plan(downloadMode);
    if (order.dryRun)
        return DownloadStop::DryRun;
    const int agreed = view.Consent(downloadMode) == 1;
    if (Stopped())
        return DownloadStop::Cancelled;
    if (!agreed)
        return DownloadStop::NoConsent;
    if (!order.trayFirst) {
        PrepareTray();
        if (Stopped())
            return DownloadStop::Cancelled;
    }
    return DownloadStop::Ready;
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

DownloadStop DownloadProcedure::AskDrive() {
    driveAnswered = 0;
    if (!channel)
        return DownloadStop::NoAnswer;
    // The host found no drive, or a serial port is chosen: nothing is sent.
    if (channel->GetAdapter() == DeviceChannel::kNoAdapter) {
        view.Message("No CD/DVD drive is selected!");
        view.RowState(kRowDriveModel, kRowFailed);
        return DownloadStop::NoDriveSelected;
    }
    if (!Inquire())
        return Stopped() ? DownloadStop::Cancelled : DownloadStop::NoAnswer;
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
        return wholeIdentity ? DownloadStop::NotCdDrive : DownloadStop::NoIdentity;
    }
    view.RowState(kRowDriveModel, kRowDone);
    return DownloadStop::Ready;
}

int DownloadProcedure::Inquire() {
    const uint32_t limit = order.answerWaitMs / 1000;
    const uint32_t start = aspi::TickCount();
    for (uint32_t waited = 0;;) {
        CompileCommand(*channel, kInquiryCommand);
        if (channel->Execute() == 1)
            return 1;
        if (waited >= limit || Stopped())
            return 0;
        view.Waiting(waited + 1, limit);
        Pause(1000);
        // A drive that holds each INQUIRY until it times out takes far
        // longer than a second a question: the clock bounds the wait too.
        waited = std::max(waited + 1, (aspi::TickCount() - start) / 1000);
    }
}

int DownloadProcedure::AskAgain() {
    CompileCommand(*channel, kInquiryCommand);
    if (channel->Execute() != 1 || !channel->HasIdentity())
        return 0;
    newIdentity = 1;
    channel->ReadInquiryText(driveInfo.modelName, driveInfo.version);
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
