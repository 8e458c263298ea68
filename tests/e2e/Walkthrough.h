// One firmware download made the way a person makes it, on a running
// Corvane.exe with the real Wexa.dll: the device page, the plug-in's tab, the
// image, Download, the notice, the transfer and its outcome, all by window
// messages from this process. Shared by the whole-product tests and by the
// walk-through of tools/run.sh, which also photographs every step.
#pragma once

#include "HostProcess.h"

#include <string>
#include <vector>

namespace e2e {

// Identifiers on the download page of Wexa.dll.
const int kWexaDownload = 1, kWexaMessage = 1001, kWexaFile = 1002, kWexaRows = 1006;
const char* const kDownloading = "Downloading... (Do NOT turn off!)";
const char* const kDownloaded = "Download has done successfully!";

// Pumps this thread's messages (a test's own windows must answer while it
// waits) until `done` holds or `seconds` pass.
template <class Done> bool WaitUntil(Done done, int seconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start > DWORD(seconds) * 1000)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

class Walkthrough {
  public:
    HostProcess& host;
    std::string failure;            // the first step that did not go as expected
    std::string shotFolder;         // Windows path; screenshots only when set
    std::vector<std::string> shots; // their paths, in order

    explicit Walkthrough(HostProcess& program);

    // Each step answers 1 when the program showed what it should, else 0
    // with `failure` saying what it showed instead.
    int OpenTab(const std::string& caption);
    // On the device page, the row of this adapter and target.
    int ChooseDrive(int adapter, int target);
    // The first row whose model holds `product` and whose version is `revision`.
    int ChooseDrive(const std::string& product, const std::string& revision);
    int ChooseImage(const std::string& path);
    // Clicks Download and waits for the notice box; answers its window.
    HWND ClickDownload();
    // The program's box with this caption, once it is shown; null after `seconds`.
    HWND WaitForBox(const std::string& caption, int seconds) const;
    std::string BoxText(HWND box) const;
    // Presses a button of the box (IDOK, IDCANCEL).
    int Answer(HWND box, int button);
    int WaitForMessage(const std::string& text, int seconds);
    // Until the page judged the transfer: "Download has done successfully!" or a failure.
    int WaitForEnd(int seconds);

    std::string Message() const;
    std::string Row(int row) const;
    int DeviceRows() const;
    std::string DeviceRow(int row) const; // adapter|target|model|revision
    // The transfer bar's position, -1 without a bar.
    int Progress() const;

    // A picture of the program's windows, when photographs are wanted.
    void Shot(const std::string& name);

    // Records why the walk stopped (the first reason stays); answers 0.
    int Fail(const std::string& why);
};

} // namespace e2e
