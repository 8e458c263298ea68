#include "plugin/CommonDlg.h"

#include "plugin/ImageFile.h"
#include "plugin/WexaResource.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>

using namespace download;
using toolkit::thePage;

HDLL_Context storedContext;
int32_t lcdToggleCount = 0;
uint32_t elapsedMs = 0;

namespace {

const int kRowIcons[] = {IDI_ROW_BLANK, IDI_ROW_DONE, IDI_ROW_FAILED, IDI_ROW_WORKING};
const int kFileNameSize = 260;
const int kMaxBarWidth = 150;

const char* const kNoticeReboot =
    " Restriction\n\n1. Close another programs running before start download.\n\n2. Do not "
    "check DMA and Auto Insertion Notification is checked in Control pannel.\n\n3. There is "
    "only one drive at one port\n\n4. After download, the system will be started right "
    "now!\n\n  Do you want to continue?";
const char* const kNoticeVerify =
    "1. Firmware Download MUST be treated carefully.\n  Close another programs running before "
    "start download.\n\n2. Some F/W may cause problems in case there is a diffrence at\n  "
    "supporting UDMA between old F/W and new F/W.\n\n  Do you want to continue?";

// The reader reports every record. Under Wine each new bar position costs a
// repaint of about a millisecond, a hundred of them for one file that is read
// in a few: the bar moves at most once a frame, smooth still to the eye.
const DWORD kBarFrameMs = 20;

// The worker: the whole image to the drive in one command, on a thread of
// its own so that the page keeps answering while the drive writes its flash.
// The tab control stays with the window thread, which judges the outcome.
DWORD WINAPI TransferThread(LPVOID argument) {
    RunTransfer(static_cast<CommonDlg*>(argument)->procedure->job);
    return 1;
}

} // namespace

CommonDlg::CommonDlg(const HDLL_Context& context)
    : page(context.module, context.mainWindow, IDD_DOWNLOAD_PAGE), channel(nullptr),
      procedure(nullptr), imageList(nullptr), messageLine(nullptr), statusList(nullptr),
      progressBar(nullptr), barPosition(-1), barShownAt(0), downloadBusy(false), worker(nullptr),
      holds(0), heldTab(nullptr), lcdBitmap(nullptr), savedRows(), savedIcons(), savedMessage() {
    channel = new (std::nothrow) DeviceChannel(kImageBufferSize, ChannelUser::Plugin);
    procedure = new (std::nothrow) DownloadProcedure(channel, *this);
    if (procedure)
        procedure->readFile = ReadImageFile;
    thePage<CommonDlg> = this;
}

CommonDlg::~CommonDlg() {
    WaitForWorker();
    // Destroyed before the outcome was judged: a drive that took its image in
    // reboot mode still waits for the restart the user agreed to.
    if (downloadBusy && procedure->downloadMode == DownloadReboot)
        RequestSystemRestart();
    if (holds)
        EnableWindow(heldTab, TRUE);
    if (page.window)
        CloseModelessDlg();
    delete procedure;
    delete channel;
    if (thePage<CommonDlg> == this)
        thePage<CommonDlg> = nullptr;
}

void CommonDlg::OpenModelessDlg(const toolkit::PageRect*) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    if (!page.CreatePage(PageDlgProc))
        return;
    HWND hWnd = page.window;
    statusList = new (std::nothrow) toolkit::ListCtrl(hWnd, IDC_STATUS_LIST);

    imageList = ImageList_Create(16, 16, ILC_COLOR4 | ILC_MASK, 3, 1);
    for (int id : kRowIcons)
        ImageList_AddIcon(imageList, LoadIconA(page.instance, MAKEINTRESOURCEA(id)));
    SendDlgItemMessageA(hWnd, IDC_STATUS_LIST, LVM_SETIMAGELIST, LVSIL_SMALL,
                        reinterpret_cast<LPARAM>(imageList));

    if (statusList) {
        statusList->SetItem(-1, 0, "Key", -1);
        statusList->SetItem(-1, 1, "Value", -1);
        for (int row = 0; row < kStatusRows; row++)
            statusList->SetItem(row, 0, kRowKeys[row], -1);
        statusList->SetColumnWidth(0, 115);
        statusList->SetColumnWidth(1, 365);
    }
    messageLine = new (std::nothrow) toolkit::StaticCtrl(hWnd, IDC_MESSAGE_LINE);
    SetMessage("Ready.");
    SetLCDPad(IDB_LCD_IDLE);
    SendDlgItemMessageA(
        hWnd, IDC_OPEN_FILE, BM_SETIMAGE, IMAGE_ICON,
        reinterpret_cast<LPARAM>(LoadIconA(page.instance, MAKEINTRESOURCEA(IDI_OPEN_FILE))));
    SetWindowTextA(storedContext.statusLine, "Wexa Downloader 2.10 (01/10/12)");

    if (downloadBusy) {
        // Reopened while the download runs: the same state as when it closed,
        // and the timer goes on to judge the outcome.
        RestoreRows();
        EnableButtons(FALSE);
        BegineProgress(kRowFlashWriting);
        SetTimer(hWnd, kDownloadTimer, kDownloadTimerPeriod, nullptr);
    } else {
        SelectDrive();
    }
    page.ShowPage(
        {storedContext.left, storedContext.top, storedContext.width, storedContext.height});
}

void CommonDlg::CloseModelessDlg() {
    if (downloadBusy && page.window)
        SaveRows();
    delete statusList;
    statusList = nullptr;
    delete messageLine;
    messageLine = nullptr;
    // The bar is a child of the list view and goes with the window.
    progressBar = nullptr;
    page.CloseModelessDlg();
    if (imageList)
        ImageList_Destroy(imageList);
    imageList = nullptr;
    if (lcdBitmap)
        DeleteObject(lcdBitmap);
    lcdBitmap = nullptr;
}

void CommonDlg::SelectDrive() {
    if (!channel)
        return;
    channel->SetAdapter(storedContext.adapter);
    channel->SetTarget(storedContext.target);
}

void CommonDlg::SaveRows() {
    for (int row = 0; row < kStatusRows; row++) {
        savedRows[row][0] = '\0';
        savedIcons[row] = kRowBlank;
        if (!statusList)
            continue;
        statusList->GetItem(row, 1, savedRows[row], sizeof savedRows[row]);
        LVITEMA item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        if (SendMessageA(statusList->GetHwnd(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
            savedIcons[row] = item.iImage;
    }
    GetDlgItemTextA(page.window, IDC_MESSAGE_LINE, savedMessage, sizeof savedMessage);
}

void CommonDlg::RestoreRows() {
    for (int row = 0; row < kStatusRows; row++) {
        SetRowValue(row, savedRows[row]);
        SetRowState(row, savedIcons[row]);
    }
    SetMessage(savedMessage);
}

void CommonDlg::OpenDialog() {
    char fileName[kFileNameSize] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = page.window;
    dialog.lpstrFilter = "Firmware file (*.HEX)\0*.HEX\0";
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = sizeof fileName;
    dialog.Flags = OFN_FILEMUSTEXIST;
    // The page must outlive the dialog's own message loop.
    Hold();
    if (GetOpenFileNameA(&dialog))
        SetDlgItemTextA(page.window, IDC_FILE_NAME, fileName);
    Release();
}

void CommonDlg::SetLCDPad(int bitmap_id) {
    if (!page.window)
        return;
    HBITMAP bitmap = LoadBitmapA(page.instance, MAKEINTRESOURCEA(bitmap_id));
    HWND pad = GetDlgItem(page.window, IDC_LCD_PAD);
    SendMessageA(pad, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    // Twice a second during a transfer: the bitmap it replaced must go.
    if (lcdBitmap)
        DeleteObject(lcdBitmap);
    lcdBitmap = bitmap;
    RedrawWindow(pad, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CommonDlg::ToggleLCDPad() {
    SetLCDPad(lcdToggleCount % 2 == 0 ? IDB_LCD_WAIT : IDB_LCD_IDLE);
    lcdToggleCount++;
}

void CommonDlg::BegineProgress(int index) {
    if (!statusList || progressBar)
        return;
    HWND list = statusList->GetHwnd();
    RECT cell = {};
    cell.top = 1; // the sub-item
    cell.left = LVIR_LABEL;
    if (!SendMessageA(list, LVM_GETSUBITEMRECT, index, reinterpret_cast<LPARAM>(&cell)))
        return;
    const int width = std::min(static_cast<int>(cell.right - cell.left), kMaxBarWidth);
    progressBar = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                  cell.left, cell.top, width, cell.bottom - cell.top, list, nullptr,
                                  page.instance, nullptr);
    if (!progressBar)
        return;
    barPosition = -1;
    SendMessageA(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(progressBar, PBM_SETBKCOLOR, 0, RGB(255, 255, 255));
}

void CommonDlg::SetPercent(int percent) {
    if (!progressBar || percent == barPosition)
        return;
    barPosition = percent;
    SendMessageA(progressBar, PBM_SETPOS, percent, 0);
}

void CommonDlg::BarPercent(int32_t percent) {
    const DWORD now = GetTickCount();
    if (barPosition >= 0 && now - barShownAt < kBarFrameMs)
        return;
    SetPercent(percent);
    barShownAt = now;
}

void CommonDlg::EndProgress() {
    if (progressBar)
        DestroyWindow(progressBar);
    progressBar = nullptr;
}

int CommonDlg::InitDialog(HWND) {
    return 1;
}

void CommonDlg::SetRowState(int row, int state) {
    if (!statusList)
        return;
    char key[toolkit::kListTextSize];
    statusList->GetItem(row, 0, key, sizeof key);
    statusList->SetItem(row, 0, key, state);
    // Only the row is repainted at once, with whatever else is already
    // invalid: a whole-list repaint takes several milliseconds under Wine,
    // and a download sets row states fifteen times before the notice.
    HWND list = statusList->GetHwnd();
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    const BOOL known =
        SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds)) != 0;
    RedrawWindow(list, known ? &bounds : nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CommonDlg::SetRowValue(int row, const char* text) {
    if (statusList)
        statusList->SetItem(row, 1, text, -1);
}

void CommonDlg::SetMessage(const char* text) {
    if (messageLine)
        messageLine->SetText(text);
}

void CommonDlg::EnableButtons(BOOL enable) {
    EnableWindow(GetDlgItem(page.window, IDC_DOWNLOAD), enable);
    EnableWindow(GetDlgItem(page.window, IDC_OPEN_FILE), enable);
}

void CommonDlg::WaitForWorker() {
    if (!worker)
        return;
    // Other threads and programs may send to this one meanwhile (the end of
    // the session is asked so): handle sent messages while waiting.
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(worker);
    worker = nullptr;
}

bool CommonDlg::Transferring() const {
    return downloadBusy && procedure && procedure->job.result.load() == kTransferRunning;
}

void CommonDlg::Hold() {
    if (holds++ == 0) {
        heldTab = storedContext.tabControl;
        EnableWindow(heldTab, FALSE);
    }
}

void CommonDlg::Release() {
    if (holds > 0 && --holds == 0)
        EnableWindow(heldTab, TRUE);
}

void CommonDlg::OnDownload() {
    // One download per click: a second command (queued behind the first, or
    // dispatched by a box's loop while the first is running, or while the
    // file-open dialog is open) finds the page taken.
    if (downloadBusy || holds || !IsWindowEnabled(GetDlgItem(page.window, IDC_DOWNLOAD)))
        return;
    downloadBusy = true;
    Hold();
    EnableButtons(FALSE);
    if (StartDownload()) {
        SetTimer(page.window, kDownloadTimer, kDownloadTimerPeriod, nullptr);
        return;
    }
    downloadBusy = false;
    EnableButtons(TRUE);
    Release();
}

void CommonDlg::OnCommand(int id, int code) {
    HWND hWnd = page.window;
    switch (id) {
    case IDC_DOWNLOAD:
        OnDownload();
        return;
    case IDC_FILE_NAME:
        if (code == EN_CHANGE) {
            char line[kFileNameSize];
            // EM_GETLINE takes the room in the buffer's first word.
            *reinterpret_cast<WORD*>(line) = sizeof line - 1;
            const LRESULT length = SendDlgItemMessageA(hWnd, IDC_FILE_NAME, EM_GETLINE, 0,
                                                       reinterpret_cast<LPARAM>(line));
            EnableWindow(GetDlgItem(hWnd, IDC_DOWNLOAD), length > 0 && !downloadBusy);
        }
        return;
    case IDC_OPEN_FILE:
        // Not from a box's loop in the middle of a download, nor twice.
        if (!holds)
            OpenDialog();
        return;
    case IDCLOSE:
        // Not under its own download or box.
        if (!holds)
            DestroyWindow(hWnd);
        return;
    default:
        return;
    }
}

int CommonDlg::StartDownload() {
    if (!procedure) {
        SetLCDPad(IDB_LCD_NG);
        return 0;
    }
    // The name whole: one cut to the field's room would name another file,
    // and the reader refuses a name too long to open.
    HWND field = GetDlgItem(page.window, IDC_FILE_NAME);
    const int length = GetWindowTextLengthA(field);
    char* path = new (std::nothrow) char[length > 0 ? length + 1 : 1];
    if (!path) {
        SetLCDPad(IDB_LCD_NG);
        return 0;
    }
    path[0] = '\0';
    GetWindowTextA(field, path, length + 1);
    const int started = procedure->Start(path);
    delete[] path;
    if (!started)
        return 0;
    elapsedMs = 0;
    worker = CreateThread(nullptr, 0, TransferThread, this, 0, nullptr);
    if (!worker) {
        // No worker, nothing sent: the page is free again at once.
        procedure->job.result = 0;
        EndProgress();
        SetRowState(kRowFlashWriting, kRowFailed);
        SetLCDPad(IDB_LCD_NG);
        return 0;
    }
    return 1;
}

void CommonDlg::OnTimer() {
    ToggleLCDPad();
    if (procedure->job.result == kTransferRunning) {
        elapsedMs += kTransferTimerMs;
        SetPercent(TransferProgressPosition(elapsedMs));
        return;
    }
    KillTimer(page.window, kDownloadTimer);
    elapsedMs = 0;
    WaitForWorker();
    const int verified = procedure->Finish();
    downloadBusy = false;
    if (!verified)
        EnableButtons(TRUE);
    // A drive chosen while the download ran is used from now on.
    SelectDrive();
    // Judged: the host may change tabs and close again.
    Release();
}

void CommonDlg::ShowPicture(Picture picture) {
    SetLCDPad(picture == Picture::Ok   ? IDB_LCD_OK
              : picture == Picture::Ng ? IDB_LCD_NG
                                       : IDB_LCD_IDLE);
}

int CommonDlg::Consent(DownloadMode mode) {
    const char* notice = mode == DownloadReboot ? kNoticeReboot : kNoticeVerify;
    // Cancel is the default: an Enter typed ahead in the file field is no consent.
    return MessageBoxA(page.window, notice, "Notice",
                       MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDOK;
}

void CommonDlg::WarnFailedTransfer() {
    MessageBoxA(page.window, "You should better to restart right now and try again !", "Warning",
                MB_OK | MB_ICONSTOP);
}

void CommonDlg::RequestRestart() {
    RequestSystemRestart();
}

INT_PTR CALLBACK CommonDlg::PageDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM) {
    CommonDlg* self = thePage<CommonDlg>;
    switch (message) {
    case WM_INITDIALOG:
        return self ? self->InitDialog(hWnd) : 1;
    case WM_PAINT:
        RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE);
        return 0;
    case WM_CLOSE:
        if (!self || self->page.window != hWnd || !self->holds)
            DestroyWindow(hWnd);
        return 1;
    case WM_QUERYENDSESSION:
        // The host asks its open page before it lets the session end.
        SetWindowLongPtrA(hWnd, DWLP_MSGRESULT,
                          self && self->page.window == hWnd && self->Transferring() ? FALSE : TRUE);
        return 1;
    case WM_COMMAND:
        if (self && self->page.window == hWnd)
            self->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 1;
    case WM_TIMER:
        if (wParam == kDownloadTimer && self && self->page.window == hWnd)
            self->OnTimer();
        return 1;
    default:
        return 0;
    }
}
