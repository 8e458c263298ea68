// A firmware download from start to end over one device channel: read and
// identify the image, ask the drive who it is and which download command it
// takes, decide the mode, open the tray, hand the transfer to a worker, and
// judge the outcome. It knows no window: it shows and asks through a
// DownloadView. The page runs Start then Finish; the command line runs the
// steps one by one, with checks of its own between them.
#pragma once

#include "command/DeviceChannel.h"
#include "download/DownloadView.h"
#include "download/TransferJob.h"
#include "firmware/FirmwareInfo.h"
#include "firmware/HexReader.h"

#include <cstdint>

namespace download {

// How the image file is read: ReadHexFile, or a reader that refuses more.
typedef HexReadResult (*HexFileReader)(const char* path, uint8_t* image, HexProgress progress,
                                       void* user);

class DownloadProcedure {
  public:
    DeviceChannel* channel; // not owned; null: no drive can be asked
    DownloadView& view;
    HexFileReader readFile; // ReadHexFile unless the owner puts another

    FirmwareInfo fwInfo;
    FirmwareInfo driveInfo; // after Finish: the drive's new identity
    FirmwareInfo before;    // the drive's identity before the transfer
    DownloadMode downloadMode;
    HexReadResult readResult;
    int32_t driveAnswered; // the INQUIRY before the transfer was answered
    int32_t wholeIdentity; // with a whole identity
    uint8_t deviceType;    // byte 0 of that answer
    int32_t newIdentity;   // the INQUIRY after the transfer was answered
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

    // The page's Download: every step up to the worker. 1 when the job is
    // ready for RunTransfer, 0 when the download stopped (NG picture shown).
    int Start(const char* path);
    // Once the worker has stored its result: the restart request or the new
    // identity. 1 when the drive is verified (OK picture), else 0 (NG).
    int Finish();
    // After Finish: 1 when something shows the drive took the image. Verify
    // mode: good status and the image's identity after. Reboot mode: good
    // status, or the image's identity where the drive had another before.
    int Evidenced() const;

    // The steps, in the order Start runs them. Each returns 1 to go on.
    void ClearRows();
    int ReadImage(const char* path); // rows 0-2
    int AskDrive();                  // row 3; only a selected CD/DVD drive goes on
    void ProbeProtocol();            // the three probes
    void PrepareTray();              // PREVENT, then the tray opens
    int Stopped() const;             // stopRequested said so
    int Decide();                    // the mode; row 4 failed on a mismatch
    void BeginTransfer();            // rows 5 and 6; fills `job`

  private:
    int JudgeNewIdentity(); // row 7 from the drive's answer after the transfer
};

} // namespace download
