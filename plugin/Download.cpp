// What the Download button sets off: read and identify the image, ask the
// drive who it is and which download command it takes, get consent, start
// the worker, animate the page while it runs, and judge the outcome.
#include "plugin/CommonDlg.h"

#include "command/CompileCommand.h"
#include "firmware/IdentifyImage.h"
#include "plugin/WexaResource.h"

namespace {

const char* const kNoticeReboot =
    " Restriction\n\n1. Close another programs running before start download.\n\n2. Do not "
    "check DMA and Auto Insertion Notification is checked in Control pannel.\n\n3. There is "
    "only one drive at one port\n\n4. After download, the system will be started right "
    "now!\n\n  Do you want to continue?";
const char* const kNoticeVerify =
    "1. Firmware Download MUST be treated carefully.\n  Close another programs running before "
    "start download.\n\n2. Some F/W may cause problems in case there is a diffrence at\n  "
    "supporting UDMA between old F/W and new F/W.\n\n  Do you want to continue?";

// A drive that reports UNIT ATTENTION on every tray command must not hold
// the page: the command is sent at most this often.
const int kTrayTries = 8;
const uint8_t kUnitAttention = 6;

// The reader reports every record. Under Wine each new bar position costs a
// repaint of about a millisecond, a hundred of them for one file that is read
// in a few: the bar moves at most once a frame, smooth still to the eye.
const DWORD kBarFrameMs = 20;

struct ReadProgress {
    CommonDlg* page;
    DWORD shownAt;
    bool shown;
};

void ShowPercent(void* user, int32_t percent) {
    ReadProgress& progress = *static_cast<ReadProgress*>(user);
    const DWORD now = GetTickCount();
    if (progress.shown && now - progress.shownAt < kBarFrameMs)
        return;
    progress.page->SetPercent(percent);
    progress.shownAt = now;
    progress.shown = true;
}

} // namespace

int CommonDlg::ReadFile() {
    char path[260] = "";
    GetDlgItemTextA(page.window, IDC_FILE_NAME, path, sizeof path);
    if (!path[0])
        return 0;
    ReadProgress progress = {this, 0, false};
    const HexReadResult result = ReadHexFile(path, image, ShowPercent, &progress);
    if (result != HexReadResult::Done) {
        SetMessage(HexReadMessage(result));
        return 0;
    }
    IdentifyImage(image, kImageSize, fwInfo);
    return 1;
}

int CommonDlg::StartDownload() {
    StringEx text(kRowTextSize);
    for (int row = 0; row < kStatusRows; row++) {
        SetRowState(row, kRowBlank);
        SetRowValue(row, "");
    }
    SetLCDPad(IDB_LCD_IDLE);

    SetMessage("Reading F/W file...");
    SetRowState(kRowFwModel, kRowWorking);
    BegineProgress(kRowFwModel);
    if (!ReadFile()) {
        EndProgress();
        SetRowState(kRowFwModel, kRowFailed);
        return 0;
    }
    EndProgress();
    ModelRowText(fwInfo, text);
    SetRowValue(kRowFwModel, text.data);
    SetRowState(kRowFwModel, kRowDone);
    SetRowValue(kRowFwProtocol, ProtocolName(fwInfo.protocol));
    SetRowState(kRowFwProtocol, kRowDone);
    CheckSumRowText(fwInfo.checkSum, text);
    SetRowValue(kRowCheckSum, text.data);
    SetRowState(kRowCheckSum, kRowDone);

    if (!channel)
        return 0;
    CompileCommand(*channel, kInquiryCommand);
    if (channel->Execute() != 1)
        return 0;
    channel->ReadInquiryText(driveInfo.modelName, driveInfo.version);
    ModelRowText(driveInfo, text);
    SetRowValue(kRowDriveModel, text.data);
    SetRowState(kRowDriveModel, kRowDone);

    SetMessage("Check download protocol...");
    SetRowState(kRowDriveProtocol, kRowWorking);
    CheckProtocol();
    SetRowValue(kRowDriveProtocol, ProtocolName(driveInfo.protocol));
    SetRowState(kRowDriveProtocol, kRowDone);

    downloadMode = DecideDownloadMode(fwInfo.protocol, driveInfo.protocol);
    if (downloadMode == DownloadMismatch) {
        SetMessage("Mismatch protocol between F/W and drive!");
        SetRowState(kRowDriveProtocol, kRowFailed);
        return 0;
    }
    const char* notice = downloadMode == DownloadReboot ? kNoticeReboot : kNoticeVerify;
    if (MessageBoxA(page.window, notice, "Notice", MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK)
        return 0;

    SetMessage("Transfer F/W Code...");
    SetRowState(kRowTransfer, kRowWorking);
    SetRowValue(kRowTransfer, "Done");
    SetRowState(kRowTransfer, kRowDone);

    SetMessage("Downloading... (Do NOT turn off!)");
    SetRowState(kRowFlashWriting, kRowWorking);
    BegineProgress(kRowFlashWriting);

    elapsedMs = 0;
    transferResult = kTransferRunning;
    downloadBusy = true;
    transferTab = storedContext.tabControl;
    worker = CreateThread(nullptr, 0, TransferThread, this, 0, nullptr);
    if (!worker) {
        // No worker, nothing sent: the page is free again at once.
        transferResult = 0;
        downloadBusy = false;
        EndProgress();
        SetRowState(kRowFlashWriting, kRowFailed);
        return 0;
    }
    return 1;
}

void CommonDlg::CheckProtocol() {
    driveInfo.protocol = FwProtocolNone;
    for (const ProtocolProbe& probe : kProtocolProbes) {
        CompileCommand(*channel, probe.text);
        if (channel->Execute() == 1)
            driveInfo.protocol = probe.protocol;
    }
    CompileCommand(*channel, kPreventCommand);
    channel->Execute();

    CompileCommand(*channel, kOpenTrayCommand);
    for (int tries = 1; channel->Execute() != 1 && tries < kTrayTries; tries++) {
        channel->ReadSense();
        if (channel->senseKey != kUnitAttention)
            break;
    }
}

void CommonDlg::OnTimer() {
    ToggleLCDPad();
    if (transferResult == kTransferRunning) {
        elapsedMs += kTransferTimerMs;
        SetPercent(TransferProgressPosition(elapsedMs));
        return;
    }
    KillTimer(page.window, kDownloadTimer);
    elapsedMs = 0;
    // The worker has stored its result; let it finish re-enabling the tab.
    WaitForWorker();
    const int verified = FinishDownload();
    downloadBusy = false;
    if (verified) {
        SetLCDPad(IDB_LCD_OK);
    } else {
        EnableButtons(TRUE);
        SetLCDPad(IDB_LCD_NG);
    }
    // A drive chosen while the download ran is used from now on.
    SelectDrive();
}

int CommonDlg::FinishDownload() {
    EndProgress();
    if (downloadMode == DownloadReboot)
        RequestRestart();
    if (transferResult == 0) {
        SetRowState(kRowFlashWriting, kRowFailed);
        SetMessage("Invalid check sum Fail to Download, Restart Now!");
        MessageBoxA(page.window, "You should better to restart right now and try again !",
                    "Warning", MB_OK | MB_ICONSTOP);
        RequestRestart();
        return 0;
    }
    SetRowValue(kRowFlashWriting, "Done");
    SetRowState(kRowFlashWriting, kRowDone);
    SetMessage("Download has done successfully!");

    CompileCommand(*channel, kInquiryCommand);
    if (channel->Execute() != 1) {
        SetMessage("New F/W is something wrong. no response to Inquiry !");
        return 0;
    }
    channel->ReadInquiryText(driveInfo.modelName, driveInfo.version);
    StringEx text(kRowTextSize);
    ModelRowText(driveInfo, text);
    SetRowValue(kRowNewModel, text.data);
    SetRowState(kRowNewModel, kRowDone);

    CompileCommand(*channel, kUnitReadyCommand);
    channel->Execute();
    CompileCommand(*channel, kUnitReadyCommand);
    channel->Execute();
    return 1;
}
