#include "HostProcess.h"

#include "WineShell.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

const char* const kKey = "SOFTWARE\\Corvane";

std::string ProgramDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path);
    return text.substr(0, text.find_last_of('\\'));
}

void RemoveTree(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(found.cFileName, ".") && std::strcmp(found.cFileName, ".."))
                DeleteFileA((directory + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

struct FindWindowOf {
    DWORD process;
    HWND found;
};

BOOL CALLBACK MatchProcess(HWND window, LPARAM data) {
    FindWindowOf* search = reinterpret_cast<FindWindowOf*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Milliseconds left of a wait of `seconds` begun at `start` (GetTickCount).
DWORD Remaining(DWORD start, int seconds) {
    const DWORD spent = GetTickCount() - start, whole = DWORD(seconds) * 1000;
    return spent < whole ? whole - spent : 0;
}

// The session's shell (the desktop) ready for a program's first window. A
// program that needs the desktop starts the shell and waits for it ten
// seconds only: on a slow machine (an emulator) the shell takes longer, and
// the program is left without a display, its window never made. Asking for
// the desktop here starts the shell; then this waits for it as long as the
// program may take to come up. Meanwhile this process holds the desktop, so
// that it stays up for the program.
bool WaitForShell(DWORD start, int seconds) {
    GetDesktopWindow();
    HANDLE shell = OpenRunningShell();
    if (!shell)
        return true; // nothing to wait for that can be seen
    const bool ready = WaitForInputIdle(shell, Remaining(start, seconds)) != WAIT_TIMEOUT;
    CloseHandle(shell);
    return ready;
}

} // namespace

namespace settings {

void Clear() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        for (const char* name :
             {"Morphing", "CodeName", "Adapter", "Target", "X", "Y", "MinX", "MinY"})
            RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

static void Write(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void SetDword(const char* name, DWORD value) {
    Write(name, REG_DWORD, &value, sizeof value);
}

void SetText(const char* name, const char* value) {
    Write(name, REG_SZ, value, static_cast<DWORD>(std::strlen(value) + 1));
}

static bool Read(const char* name, DWORD* type, std::string* data) {
    char buffer[256] = {};
    DWORD size = sizeof buffer - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, type, buffer,
                     &size) != ERROR_SUCCESS)
        return false;
    data->assign(buffer, size);
    return true;
}

int GetDword(const char* name, DWORD* value) {
    DWORD type = 0;
    std::string data;
    if (!Read(name, &type, &data) || type != REG_DWORD || data.size() != 4)
        return 0;
    std::memcpy(value, data.data(), 4);
    return 1;
}

std::string GetText(const char* name) {
    DWORD type = 0;
    std::string data;
    if (!Read(name, &type, &data) || type != REG_SZ)
        return "<absent>";
    return std::string(data.c_str());
}

bool Has(const char* name) {
    DWORD type = 0;
    std::string data;
    return Read(name, &type, &data);
}

} // namespace settings

void SetComPort(int index, bool present) {
    char prefix[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (length == 0 || length >= sizeof prefix)
        return;
    // Wine opens COMn through dosdevices/comN, and falls back to the
    // machine's /dev/ttyS0 when that is missing: so the link always exists,
    // to a pseudo-terminal (opens) or to a directory (does not). Wine starts
    // Unix programs as it starts Windows ones.
    const std::string link = std::string(prefix) + "/dosdevices/com" + std::to_string(index + 1);
    const std::string target = present ? "/dev/ptmx" : prefix;
    // Wine's mount manager remakes the links when Wine starts; this makes it
    // remake ours instead of the machine's.
    HKEY ports;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Wine\\Ports", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &ports, nullptr) == ERROR_SUCCESS) {
        const std::string name = "COM" + std::to_string(index + 1);
        RegSetValueExA(ports, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(target.c_str()),
                       static_cast<DWORD>(target.size() + 1));
        RegCloseKey(ports);
    }
    std::string command = "ln -sfn " + target + " " + link;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION ln = {};
    if (!CreateProcessA("Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &ln))
        return;
    WaitForSingleObject(ln.hProcess, 10000);
    CloseHandle(ln.hProcess);
    CloseHandle(ln.hThread);
}

HostProcess::HostProcess(const std::string& exeName, const std::vector<Plugin>& plugins,
                         const std::string& bank, const std::vector<Plugin>& besideProgram)
    : owned(true), process(), window(nullptr) {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    directory = std::string(temp) + "host-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
    // Wine gives process ids out again: nothing an ended run left here (its
    // bank log and state, its plug-ins) comes into this one.
    RemoveTree(directory + "\\work");
    RemoveTree(directory);
    CreateDirectoryA(directory.c_str(), nullptr);

    const std::string bin = ProgramDirectory();
    CopyFileA((bin + "\\Corvane.exe").c_str(), (directory + "\\" + exeName).c_str(), FALSE);
    CopyFileA((bin + "\\WNASPI32.DLL").c_str(), (directory + "\\WNASPI32.DLL").c_str(), FALSE);
    workDirectory = directory;
    if (!besideProgram.empty()) {
        workDirectory = directory + "\\work";
        CreateDirectoryA(workDirectory.c_str(), nullptr);
    }
    const std::string pluginDir = UnixToWindows(E2E_PLUGIN_DIR);
    for (const Plugin& plugin : plugins)
        CopyFileA(((plugin.source == "Wexa.dll" ? bin : pluginDir) + "\\" + plugin.source).c_str(),
                  (workDirectory + "\\" + plugin.target).c_str(), FALSE);
    for (const Plugin& plugin : besideProgram)
        CopyFileA((pluginDir + "\\" + plugin.source).c_str(),
                  (directory + "\\" + plugin.target).c_str(), FALSE);

    const std::string log = directory + "\\calls.txt";
    SetEnvironmentVariableA("CORVANE_PLUGIN_LOG", log.c_str());
    SetEnvironmentVariableA("CORVANE_BANK_LOG", BankLog().c_str());
    SetEnvironmentVariableA("CORVANE_BANK_STATE", BankState().c_str());
    if (bank.empty()) {
        SetEnvironmentVariableA("CORVANE_BANK", nullptr);
    } else {
        const std::string bankFile = directory + "\\bank.txt";
        std::ofstream(bankFile) << bank;
        SetEnvironmentVariableA("CORVANE_BANK", bankFile.c_str());
    }
    path = directory + "\\" + exeName;
}

HostProcess::HostProcess(const std::string& runFolder)
    : directory(runFolder), path(runFolder + "\\Corvane.exe"), workDirectory(runFolder),
      owned(false), process(), window(nullptr) {}

static void EndProcess(PROCESS_INFORMATION& process) {
    if (!process.hProcess)
        return;
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = PROCESS_INFORMATION();
}

HostProcess::~HostProcess() {
    EndProcess(process);
    if (!owned)
        return;
    if (workDirectory != directory)
        RemoveTree(workDirectory);
    RemoveTree(directory);
}

bool HostProcess::Start() {
    EndProcess(process);
    window = nullptr;
    const DWORD start = GetTickCount();
    startFault.clear();
    if (!WaitForShell(start, startSeconds)) {
        startFault = "the desktop's shell did not come up";
        return false;
    }
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workDirectory.c_str(), &startup, &process)) {
        startFault = "the program could not be started";
        return false;
    }
    // Shown is the last step of start-up: the tabs and the first page exist then.
    while (Remaining(start, startSeconds) > 0) {
        FindWindowOf search = {process.dwProcessId, nullptr};
        EnumWindows(MatchProcess, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            window = search.found;
            // Answered only once start-up has finished and the loop runs.
            SendMessageA(window, WM_NULL, 0, 0);
            return true;
        }
        if (WaitForSingleObject(process.hProcess, 2) != WAIT_TIMEOUT) {
            startFault = "it ended without a window";
            return false;
        }
    }
    startFault = "no window within " + std::to_string(startSeconds) + " s";
    return false;
}

DWORD HostProcess::Close(bool closeBox) {
    if (closeBox)
        SendMessageA(window, WM_CLOSE, 0, 0);
    else
        SendMessageA(window, WM_COMMAND, IDCLOSE, 0);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0)
        return 1000;
    DWORD code = 1001;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

std::string HostProcess::BankLog() const {
    return directory + "\\bank-log.txt";
}

std::string HostProcess::BankState() const {
    return directory + "\\bank-state.txt";
}

std::vector<std::string> HostProcess::BankCommands(const std::string& cdbPrefix) const {
    std::vector<std::string> lines;
    std::istringstream log(FileText(BankLog()));
    for (std::string line; std::getline(log, line);)
        if (line.rfind("exec ", 0) == 0 && line.find("cdb=" + cdbPrefix) != std::string::npos)
            lines.push_back(line);
    return lines;
}

std::vector<std::string> HostProcess::Calls() const {
    std::vector<std::string> lines;
    std::ifstream file(directory + "\\calls.txt");
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> HostProcess::DllOrder() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((workDirectory + "\\*.dll").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

HWND HostProcess::Child(int id) const {
    return GetDlgItem(window, id);
}

HWND HostProcess::Page() const {
    return GetWindow(Child(1001), GW_HWNDLAST);
}

HWND HostProcess::PageItem(int id) const {
    return GetDlgItem(Page(), id);
}

int HostProcess::TabCount() const {
    return static_cast<int>(SendMessageA(Child(1001), TCM_GETITEMCOUNT, 0, 0));
}

std::string HostProcess::TabCaption(int index) const {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    return RemoteItemText(Child(1001), TCM_GETITEMA, index, item);
}

void HostProcess::ClickTab(int index) const {
    RECT* remote = static_cast<RECT*>(RemoteAlloc(sizeof(RECT)));
    SendMessageA(Child(1001), TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote));
    RECT rect;
    RemoteRead(remote, &rect, sizeof rect);
    RemoteFree(remote);
    const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageA(Child(1001), WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(Child(1001), WM_LBUTTONUP, 0, point);
}

int HostProcess::ListRows(HWND list) const {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::string HostProcess::ListText(HWND list, int row, int column) const {
    LVITEMA item = {};
    item.iSubItem = column;
    return RemoteItemText(list, LVM_GETITEMTEXTA, row, item);
}

void HostProcess::SelectRows(HWND list, const std::vector<int>& rows) const {
    LVITEMA* remote = static_cast<LVITEMA*>(RemoteAlloc(sizeof(LVITEMA)));
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    RemoteWrite(remote, &item, sizeof item);
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(remote));
    for (int row : rows) {
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        RemoteWrite(remote, &item, sizeof item);
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote));
    }
    RemoteFree(remote);
}

RECT HostProcess::Sizing(int edge, RECT proposed) const {
    // Wine carries WM_SIZING's rectangle across processes itself.
    SendMessageA(window, WM_SIZING, edge, reinterpret_cast<LPARAM>(&proposed));
    return proposed;
}

void* HostProcess::RemoteAlloc(size_t size) const {
    return VirtualAllocEx(process.hProcess, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                          PAGE_READWRITE);
}

void HostProcess::RemoteFree(void* address) const {
    VirtualFreeEx(process.hProcess, address, 0, MEM_RELEASE);
}

void HostProcess::RemoteWrite(void* address, const void* data, size_t size) const {
    WriteProcessMemory(process.hProcess, address, data, size, nullptr);
}

void HostProcess::RemoteRead(const void* address, void* data, size_t size) const {
    ReadProcessMemory(process.hProcess, address, data, size, nullptr);
}

std::string Text(HWND window) {
    char text[1024] = {}; // the notices run to some 300 characters
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string UnixToWindows(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

RECT RectIn(HWND parent, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace e2e
