// The download page: a modeless child dialog in the host's tab area that
// shows a download and passes the user's clicks on. The download itself is
// download::DownloadProcedure; this page is its view (status rows, message
// line, LCD pad, row progress bar, notices) and runs its worker thread.
#pragma once

#include "command/DeviceChannel.h"
#include "download/DownloadProcedure.h"
#include "download/DownloadView.h"
#include "plugin/PluginInterface.h"
#include "toolkit/ListCtrl.h"
#include "toolkit/ModelessDlg.h"
#include "toolkit/StaticCtrl.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdint>

const UINT_PTR kDownloadTimer = 100;
const UINT kDownloadTimerPeriod = 500;

class CommonDlg : public download::DownloadView {
  public:
    toolkit::ModelessDlg page; // instance, window, parent, template
    DeviceChannel* channel;
    // Owns the image, both identities, the mode and the worker's job.
    download::DownloadProcedure* procedure;
    HIMAGELIST imageList;
    toolkit::StaticCtrl* messageLine;
    toolkit::ListCtrl* statusList;
    HWND progressBar;
    // The bar's position as last sent, and when: reading a file reports
    // every record, mostly with the position unchanged.
    int barPosition;
    DWORD barShownAt;

    // From Download clicked until Finish has judged the outcome: the channel
    // and the procedure belong to the download, and no second one starts.
    bool downloadBusy;
    HANDLE worker;
    // Reasons the page holds the host (a download, an open box of its own):
    // the host's tab control is disabled while there is one, which keeps
    // the page open and the host from closing under it.
    int holds;
    // The tab control disabled by the first hold; a later HDLL_Open may
    // change the stored context meanwhile.
    HWND heldTab;
    // The LCD pad's current bitmap, released when replaced.
    HBITMAP lcdBitmap;
    // The rows and message line of a page closed while its download runs,
    // shown again when it reopens.
    char savedRows[download::kStatusRows][128];
    int savedIcons[download::kStatusRows];
    char savedMessage[128];

    explicit CommonDlg(const HDLL_Context& context);
    ~CommonDlg() override;
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
    void SetRowValue(int row, const char* text);
    void SetMessage(const char* text);

    // Download clicked: the procedure up to the worker, then the worker.
    int StartDownload();
    void OnTimer();

    // Blocks until a running worker has ended, handling what other threads
    // send to this one meanwhile.
    void WaitForWorker();
    // The image is on its way to the drive: the session must not end now.
    bool Transferring() const;
    void Hold();
    void Release();

    // What the procedure shows and asks.
    void RowState(int row, int state) override { SetRowState(row, state); }
    void RowValue(int row, const char* text) override { SetRowValue(row, text); }
    void Message(const char* text) override { SetMessage(text); }
    void ShowPicture(download::Picture picture) override;
    void BarBegin(int row) override { BegineProgress(row); }
    void BarPercent(int32_t percent) override;
    void BarEnd() override { EndProgress(); }
    int Consent(DownloadMode mode) override;
    void WarnFailedTransfer() override;
    void RequestRestart() override;

    static INT_PTR CALLBACK PageDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    void OnCommand(int id, int code);
    void OnDownload();
    void EnableButtons(BOOL enable);
    void SelectDrive();
    void SaveRows();
    void RestoreRows();
};

// Library-wide state.
extern HDLL_Context storedContext;
extern int32_t lcdToggleCount;
extern uint32_t elapsedMs;

// Asks the system to restart, with the privilege the NT family wants for it;
// not forced, result not examined.
void RequestSystemRestart();
