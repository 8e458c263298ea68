// A firmware download from start to end over one device channel: read and
// identify the image, ask the drive who it is and which download command it
// takes, decide the mode, open the tray, hand the transfer to a worker, and
// judge the outcome. It knows no window: it shows and asks through a
// DownloadView. The page and the command line both run Start then Finish;
// they differ only in the order they choose (DownloadOrder).
#pragma once

#include "command/DeviceChannel.h"
#include "download/DownloadView.h"
#include "download/TransferJob.h"
#include "firmware/DownloadRules.h"
#include "firmware/FirmwareInfo.h"
#include "firmware/HexReader.h"

#include <cstdint>

namespace download {

// How the image file is read: ReadHexFile, or a reader that refuses more.
typedef HexReadResult (*HexFileReader)(const char* path, uint8_t* image, HexProgress progress,
                                       void* user);

// The order of the steps between the probes and the transfer.
struct DownloadOrder {
    // The page's: PREVENT and the tray right after the probes, before the
    // decision and the notice. 0: the decision, the model guard and consent
    // first; PREVENT and the tray only once the user has agreed.
    int trayFirst = 1;
    // An image made for another model than the drive's is refused.
    int guardModel = 0;
    // Everything up to the question, then stop: no tray command, no image.
    int dryRun = 0;
    // An image older than the drive's own firmware (the same model, both
    // revisions of one shape) is refused.
    int guardDowngrade = 0;
    // How long a drive that does not answer INQUIRY yet (one that is still
    // starting its boot loader) is asked again, once a second.
    uint32_t answerWaitMs = 0;
};

// Where Start stopped; Ready: the job waits for RunTransfer.
enum class DownloadStop {
    Ready,
    ImageUnread,
    NoDriveSelected,
    NoAnswer,   // to the INQUIRY before the transfer
    NoIdentity, // less than a whole identity
    NotCdDrive,
    Cancelled, // stopRequested said so
    Mismatch,
    OtherModel,
    Downgrade,
    DryRun,
    NoConsent,
};

class DownloadProcedure {
  public:
    DeviceChannel* channel; // not owned; null: no drive can be asked
    DownloadView& view;
    HexFileReader readFile; // ReadHexFile unless the owner puts another
    DownloadOrder order;    // the page's unless the owner puts another
    DownloadStop stop;      // where the last Start stopped

    FirmwareInfo fwInfo;
    FirmwareInfo driveInfo; // after Finish: the drive's new identity
    FirmwareInfo before;    // the drive's identity before the transfer
    DownloadMode downloadMode;
    HexReadResult readResult;
    int32_t driveAnswered; // the INQUIRY before the transfer was answered
    int32_t wholeIdentity; // with a whole identity
    uint8_t deviceType;    // byte 0 of that answer
    int32_t newIdentity;   // the INQUIRY after the transfer was answered
    // The image's revision against the drive's, for the same model; else
    // Unknown.
    RevisionOrder revision;
    uint8_t image[kImageBufferSize];
    // Valid from BeginTransfer; the worker owns it while `job.result` is
    // kTransferRunning, and then so do the channel and the image.
    TransferJob job;
    // Asked before every probe and tray command; non-zero: send nothing more.
    // Null: nothing stops the procedure.
    int (*stopRequested)();

    DownloadProcedure(DeviceChannel* driveChannel, DownloadView& downloadView);
    DownloadProcedure(const DownloadProcedure&) = delete;
    DownloadProcedure& operator=(const DownloadProcedure&) = delete;

    // Every step up to the worker, in `order`. 1 when the job is ready for
    // RunTransfer, 0 when the download stopped (`stop` says where; the NG
    // picture is shown, but for a dry run).
    int Start(const char* path);
    // Once the worker has stored its result: the restart request or the new
    // identity. 1 when the drive is verified (OK picture), else 0 (NG).
    int Finish();
    // After Finish: 1 when something shows the drive took the image. Verify
    // mode: good status and the image's identity after. Reboot mode: good
    // status, or the image's identity where the drive had another before.
    int Evidenced() const;
    // After a Finish that failed without asking the drive: asks it who it is
    // now (INQUIRY alone), into driveInfo. 1 when it answered.
    int AskAgain();

    int Stopped() const; // stopRequested said so

  private:
    // The steps, in the order Start runs them. Each returns 1 or Ready to go on.
    DownloadStop Prepare(const char* path);
    void ClearRows();
    int ReadImage(const char* path); // rows 0-2
    DownloadStop AskDrive();         // row 3; only a selected CD/DVD drive goes on
    int Inquire();                   // INQUIRY, again while answerWaitMs allows
    DownloadStop Guard();            // the model and the revision
    void ProbeProtocol();            // the three probes
    void PrepareTray();              // PREVENT, then the tray opens
    int Decide();                    // the mode; row 4 failed on a mismatch
    DownloadStop AskConsent();       // the plan, then the question
    void BeginTransfer();            // rows 5 and 6; fills `job`
    int JudgeNewIdentity();          // row 7 from the drive's answer after the transfer
};

} // namespace download
