// The download page: a modeless child dialog in the host's tab area, the
// drive channel it talks through, the image it sends, and the small display
// services the download procedure uses (status rows, LCD pad, row progress
// bar, file-open dialog).
#pragma once

#include "command/DeviceChannel.h"
#include "firmware/DownloadRules.h"
#include "firmware/FirmwareInfo.h"
#include "firmware/HexReader.h"
#include "plugin/PluginInterface.h"
#include "toolkit/ListCtrl.h"
#include "toolkit/ModelessDlg.h"
#include "toolkit/StaticCtrl.h"

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstdint>

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

// What `transferResult` holds while the worker runs.
const int32_t kTransferRunning = 999;
const UINT_PTR kDownloadTimer = 100;
const UINT kDownloadTimerPeriod = 500;

class CommonDlg {
  public:
    toolkit::ModelessDlg page; // hInst, hWnd, hParent, templateId
    DeviceChannel* channel;
    HIMAGELIST imageList;
    int32_t downloadMode;
    FirmwareInfo fwInfo;
    FirmwareInfo driveInfo;
    uint16_t halfSum;
    uint8_t image[kImageBufferSize];
    // The only word the worker and the window thread hand over.
    std::atomic<int32_t> transferResult;
    toolkit::StaticCtrl* messageLine;
    toolkit::ListCtrl* statusList;
    HWND progressBar;
    // The bar's position as last sent: reading a file reports every record,
    // mostly with the position unchanged.
    int barPosition;

    // From Download clicked and accepted until FinishDownload has judged the
    // outcome: the channel, image and info fields belong to the download.
    bool downloadBusy;
    HANDLE worker;
    // The host's tab control as it was when the worker started; a later
    // HDLL_Open may change the stored context meanwhile.
    HWND transferTab;
    // The LCD pad's current bitmap, released when replaced.
    HBITMAP lcdBitmap;
    // The rows and message line of a page closed while its download runs,
    // shown again when it reopens.
    char savedRows[kStatusRows][128];
    int savedIcons[kStatusRows];
    char savedMessage[128];

    CommonDlg(const HDLL_Context& context);
    ~CommonDlg();
    CommonDlg(const CommonDlg&) = delete;
    CommonDlg& operator=(const CommonDlg&) = delete;

    void OpenModelessDlg(const toolkit::PageRect* rect);
    void CloseModelessDlg();
    void OpenDialog();
    void SetLCDPad(int bitmap_id);
    void ToggleLCDPad();
    void BegineProgress(int index);
    void SetPercent(int percent);
    void EndProgress();
    int InitDialog(HWND hWnd);
    void SetRowState(int row, int state);
    // Row value (column 1), image untouched.
    void SetRowValue(int row, const char* text);
    void SetMessage(const char* text);
    int ReadFile();

    int StartDownload();
    void CheckProtocol();
    void OnTimer();
    int FinishDownload();

    // Blocks until a running worker has ended, handling what other threads
    // send to this one meanwhile.
    void WaitForWorker();

    static INT_PTR CALLBACK PageDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    void OnCommand(int id, int code);
    void EnableButtons(BOOL enable);
    void SelectDrive();
    void SaveRows();
    void RestoreRows();
};

// Library-wide state.
extern HDLL_Context storedContext;
extern int32_t lcdToggleCount;
extern uint32_t elapsedMs;

// The worker; its argument is the page.
DWORD WINAPI TransferThread(LPVOID page);
// Asks the system to restart, with the privilege the NT family wants for it;
// not forced, result not examined.
void RequestRestart();
