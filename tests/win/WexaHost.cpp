#include "WexaHost.h"

#include "WinTestSupport.h"

#include <commctrl.h>

#include <fstream>
#include <sstream>

namespace wexatest {

std::vector<SeenBox> StandInHost::boxes;
int StandInHost::boxAnswer = IDOK;
int StandInHost::endSessionQueries = 0;
std::string StandInHost::fileAnswer;
std::string StandInHost::fileTypes;

namespace {

const char* const kHostClass = "WexaStandInHost";
HHOOK boxHook = nullptr;
HWND fileDialog = nullptr;
const UINT kAnswerFileDialog = WM_APP + 1;

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kAnswerFileDialog && fileDialog) {
        StandInHost::fileTypes = wintest::WindowText(GetDlgItem(fileDialog, 0x470));
        SetDlgItemTextA(fileDialog, 0x47C, StandInHost::fileAnswer.c_str());
        PostMessageA(fileDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        fileDialog = nullptr;
        return 0;
    }
    if (message == WM_QUERYENDSESSION) {
        // Vetoes the restart, which would also end the Wine session.
        StandInHost::endSessionQueries++;
        return FALSE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char name[16] = "";
        GetClassNameA(box, name, sizeof name);
        // A message box's text is the static 0xFFFF.
        HWND text = GetDlgItem(box, 0xFFFF);
        // The file-open dialog: its type list (cmb1) and name box (cmb13).
        HWND types = GetDlgItem(box, 0x470);
        if (std::string(name) == "#32770" && types && GetDlgItem(box, 0x47C)) {
            // Shown before it is filled: answered once its own loop runs.
            fileDialog = box;
            PostMessageA(GetWindow(box, GW_OWNER), kAnswerFileDialog, 0, 0); // the main window
        } else if (std::string(name) == "#32770" && text) {
            SeenBox seen;
            seen.caption = wintest::WindowText(box);
            seen.text = wintest::WindowText(text);
            seen.style = 0;
            // The box itself is not shown yet; its unused buttons are hidden.
            HWND cancel = GetDlgItem(box, IDCANCEL);
            if (cancel && (GetWindowLongA(cancel, GWL_STYLE) & WS_VISIBLE))
                seen.style |= MB_OKCANCEL;
            StandInHost::boxes.push_back(seen);
            const int answer = (seen.style & MB_OKCANCEL) ? StandInHost::boxAnswer : IDOK;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(boxHook, code, wParam, lParam);
}

} // namespace

StandInHost::StandInHost()
    : main(nullptr), tab(nullptr), status(nullptr), wexa(nullptr), create(nullptr), open(nullptr),
      close(nullptr), destroy(nullptr) {
    wintest::InitControls();
    boxes.clear();
    boxAnswer = IDOK;
    endSessionQueries = 0;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kHostClass;
    RegisterClassA(&windowClass); // fails harmlessly when already registered
    main = CreateWindowExA(0, kHostClass, "Stand-in host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                           0, 720, 420, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 4, 4, 700,
                          340, main, reinterpret_cast<HMENU>(kHostTab), nullptr, nullptr);
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>("Download");
    SendMessageA(tab, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    status = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 4, 350, 700, 20, main,
                             reinterpret_cast<HMENU>(kHostStatus), nullptr, nullptr);
    ShowWindow(main, SW_SHOWNOACTIVATE);
    if (!boxHook)
        boxHook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());

    wexa = LoadLibraryA("Wexa.dll");
    if (wexa) {
        create = reinterpret_cast<HDLL_CreateProc>(
            reinterpret_cast<void*>(GetProcAddress(wexa, "HDLL_Create")));
        open = reinterpret_cast<HDLL_OpenProc>(
            reinterpret_cast<void*>(GetProcAddress(wexa, "HDLL_Open")));
        close = reinterpret_cast<HDLL_CloseProc>(
            reinterpret_cast<void*>(GetProcAddress(wexa, "HDLL_Close")));
        destroy = reinterpret_cast<HDLL_DestroyProc>(
            reinterpret_cast<void*>(GetProcAddress(wexa, "HDLL_Destroy")));
    }
    wintest::PumpMessages();
}

StandInHost::~StandInHost() {
    // The library stays loaded, as the host never unloads one.
    DestroyWindow(main);
    wintest::PumpMessages();
}

HDLL_Context StandInHost::Context(uint8_t adapter, uint8_t target) const {
    HDLL_Context context = {};
    context.module = wexa;
    context.mainWindow = main;
    context.tabControl = tab;
    context.statusLine = status;
    context.left = 8;
    context.top = 30;
    context.width = 690;
    context.height = 310;
    context.adapter = adapter;
    context.target = target;
    return context;
}

HWND StandInHost::Page() const {
    return FindWindowExA(main, nullptr, MAKEINTATOM(32770), nullptr);
}

HWND StandInHost::Item(int id) const {
    return GetDlgItem(Page(), id);
}

bool StandInHost::WaitFor(const std::function<bool()>& done, int seconds) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > DWORD(seconds) * 1000)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        wintest::PumpMessages();
    }
    return true;
}

std::string TempFile(const char* stem) {
    static int counter = 0;
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

typedef int(__cdecl* ReloadProc)(const char*);

TestBank::TestBank(const std::string& text)
    : bankPath(TempFile("wexa-bank") + ".txt"), logPath(TempFile("wexa-log") + ".txt"),
      statePath(TempFile("wexa-state") + ".txt") {
    // Wine gives process ids out again: a file an ended run left under the
    // same name would add its commands and its flashed drives to this bank.
    DeleteFileA(logPath.c_str());
    DeleteFileA(statePath.c_str());
    std::ofstream(bankPath) << text;
    SetEnvironmentVariableA("CORVANE_BANK_LOG", logPath.c_str());
    SetEnvironmentVariableA("CORVANE_BANK_STATE", statePath.c_str());
    HMODULE dll = LoadLibraryA("WNASPI32.DLL");
    auto reload =
        reinterpret_cast<ReloadProc>(reinterpret_cast<void*>(GetProcAddress(dll, "SimReloadBank")));
    if (reload)
        reload(bankPath.c_str());
}

TestBank::~TestBank() {
    SetEnvironmentVariableA("CORVANE_BANK_LOG", nullptr);
    SetEnvironmentVariableA("CORVANE_BANK_STATE", nullptr);
    DeleteFileA(bankPath.c_str());
    DeleteFileA(logPath.c_str());
    DeleteFileA(statePath.c_str());
}

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string TestBank::Log() const {
    return Contents(logPath);
}

std::string TestBank::State() const {
    return Contents(statePath);
}

std::vector<std::string> TestBank::Commands(const std::string& cdbPrefix) const {
    std::vector<std::string> found;
    std::istringstream lines(Log());
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("exec ", 0) == 0 && line.find("cdb=" + cdbPrefix) != std::string::npos)
            found.push_back(line);
    return found;
}

} // namespace wexatest
