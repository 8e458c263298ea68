// What a download shows and asks, whoever shows it: the plug-in's page or
// the command line. The procedure calls it only on the thread that drives
// the download, never from the transfer worker.
#pragma once

#include "firmware/DownloadRules.h"

#include <cstdint>

namespace download {

enum RowState { kRowBlank = 0, kRowDone = 1, kRowFailed = 2, kRowWorking = 3 };

enum StatusRow {
    kRowFwModel = 0,
    kRowFwProtocol,
    kRowCheckSum,
    kRowDriveModel,
    kRowDriveProtocol,
    kRowTransfer,
    kRowFlashWriting,
    kRowNewModel,
    kStatusRows
};
// Each row's key (column "Key"), on the page and in the command line's log.
inline constexpr const char* kRowKeys[kStatusRows] = {
    "FW Model Name",  "FW Protocol",  "Check Sum",     "Drive Model Name",
    "Drive Protocol", "F/W Transfer", "Flash Writing", "New Model Name",
};

// The LCD pad: idle at the start, OK after a verified download, NG after
// any failure or refusal (the wait picture is the front end's animation).
enum class Picture { Idle, Ok, Ng };

class DownloadView {
  public:
    virtual ~DownloadView() = default;
    virtual void RowState(int row, int state) = 0;
    // Column "Value"; the row's state is left as it is.
    virtual void RowValue(int row, const char* text) = 0;
    virtual void Message(const char* text) = 0;
    virtual void ShowPicture(Picture picture) = 0;
    // A bar over a row's value, its position (0-100, more is full), its end.
    virtual void BarBegin(int row) = 0;
    virtual void BarPercent(int32_t percent) = 0;
    virtual void BarEnd() = 0;
    // What the download will do, just before the question (in a dry run in
    // place of it). The page's notice says it, so the page shows nothing.
    virtual void Plan(DownloadMode) {}
    // A drive that does not answer yet is asked again: seconds waited so
    // far, of the most it will be waited for.
    virtual void Waiting(uint32_t /*seconds*/, uint32_t /*limit*/) {}
    // The notice of the mode; 1 when the user agreed.
    virtual int Consent(DownloadMode mode) = 0;
    // A failed transfer: tells the user to restart; returns once seen.
    virtual void WarnFailedTransfer() = 0;
    // Asks the system to restart the computer; the answer is not awaited.
    virtual void RequestRestart() = 0;
};

} // namespace download
