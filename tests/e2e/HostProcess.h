// Runs the real Corvane.exe for a whole-program test: a scratch directory of
// its own with the program (under the file name the test chooses), the
// simulated WNASPI32.DLL, an optional bank file and test plug-ins; then drives
// and reads its windows across the process boundary.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// The host's settings, read and cleared behind the program's back.
namespace settings {
void Clear();
void SetDword(const char* name, DWORD value);
void SetText(const char* name, const char* value);
// 1 and the value when a DWORD is stored under `name`.
int GetDword(const char* name, DWORD* value);
std::string GetText(const char* name);
bool Has(const char* name);
} // namespace settings

// Makes COM1/COM2 of the Wine prefix present (a file that opens) or absent
// (a directory that does not), whatever serial ports the machine has.
void SetComPort(int index, bool present);

struct Plugin {
    std::string source; // test DLL name in the plug-in folder, or "Wexa.dll" of the build
    std::string target; // file name in the scratch directory
};

class HostProcess {
  public:
    std::string directory;     // scratch, Windows path
    std::string path;          // the program in it
    std::string workDirectory; // where it starts and looks for plug-ins
    bool owned;                // the scratch directory is removed with the object
    PROCESS_INFORMATION process;
    HWND window;
    int startSeconds = 120; // Start's wait for the main window (software emulation: slow)
    std::string startFault; // why the last Start failed

    // `bank`: contents of a bank file, or empty for the default bank. With
    // `besideProgram`, the program starts in a folder of its own below the
    // scratch directory, holding `plugins`, while those files sit beside it.
    HostProcess(const std::string& exeName, const std::vector<Plugin>& plugins,
                const std::string& bank = "", const std::vector<Plugin>& besideProgram = {});
    // The program as a run folder holds it (Corvane.exe, Wexa.dll, WNASPI32.DLL),
    // started there with the environment as it is; the folder is left alone.
    explicit HostProcess(const std::string& runFolder);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Starts the program and waits until its main window is shown; again after Close.
    bool Start();
    // Sends the close request (or IDCLOSE) and waits for the exit code.
    DWORD Close(bool closeBox = true);

    // The simulated bank's command log and state file in the scratch directory.
    std::string BankLog() const;
    std::string BankState() const;
    // The log's "exec" lines whose command block starts with `cdbPrefix`.
    std::vector<std::string> BankCommands(const std::string& cdbPrefix) const;

    // The plug-ins' record of calls, one line each.
    std::vector<std::string> Calls() const;
    // The directory search's order of "*.dll" in the scratch directory.
    std::vector<std::string> DllOrder() const;

    HWND Child(int id) const;
    HWND Page() const; // the last sibling of the tab control
    HWND PageItem(int id) const;

    int TabCount() const;
    std::string TabCaption(int index) const;
    // A mouse click in the tab's rectangle, delivered to the tab control.
    void ClickTab(int index) const;

    int ListRows(HWND list) const;
    std::string ListText(HWND list, int row, int column) const;
    // Exactly these rows selected.
    void SelectRows(HWND list, const std::vector<int>& rows) const;

    // WM_SIZING with a proposed rectangle; returns it as the program changed it.
    RECT Sizing(int edge, RECT proposed) const;

    // Memory inside the program for messages that carry pointers.
    void* RemoteAlloc(size_t size) const;
    void RemoteFree(void* address) const;
    void RemoteWrite(void* address, const void* data, size_t size) const;
    void RemoteRead(const void* address, void* data, size_t size) const;
    // Sends `message` with an item record (TCITEMA, LVITEMA) placed in the
    // program's memory, its text pointing at a buffer there, and reads the text.
    template <typename Item>
    std::string RemoteItemText(HWND target, UINT message, WPARAM index, Item item) const {
        struct Remote {
            Item item;
            char text[128];
        };
        Remote* remote = static_cast<Remote*>(RemoteAlloc(sizeof(Remote)));
        Remote local = {};
        local.item = item;
        local.item.pszText = remote->text;
        local.item.cchTextMax = sizeof local.text - 1;
        RemoteWrite(remote, &local, sizeof local);
        SendMessageA(target, message, index, reinterpret_cast<LPARAM>(remote));
        RemoteRead(remote, &local, sizeof local);
        RemoteFree(remote);
        local.text[sizeof local.text - 1] = '\0';
        return local.text;
    }
};

std::string Text(HWND window);
std::string FileText(const std::string& path);
// Wine's name for a Linux path: the root is drive Z.
std::string UnixToWindows(std::string path);
// Outer rectangle in the parent's client coordinates.
RECT RectIn(HWND parent, HWND child);

} // namespace e2e
