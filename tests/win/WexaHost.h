// A stand-in for the host, as the plug-in's tests need it: a top-level main
// window with a tab control (1001) and a status line (1000), the real
// Wexa.dll loaded by name and called through its four exports, a bank of
// simulated drives with a command log, and message boxes answered by a CBT
// hook that records what they said.
#pragma once

#include "plugin/PluginInterface.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace wexatest {

const int kHostTab = 1001;
const int kHostStatus = 1000;

struct SeenBox {
    std::string caption;
    std::string text;
    UINT style;
};

class StandInHost {
  public:
    HWND main;
    HWND tab;
    HWND status;
    HMODULE wexa;
    HDLL_CreateProc create;
    HDLL_OpenProc open;
    HDLL_CloseProc close;
    HDLL_DestroyProc destroy;

    // What the CBT hook saw and the answer it gives.
    static std::vector<SeenBox> boxes;
    static int boxAnswer;
    // A file-open dialog gets this name typed and confirmed; its file type
    // list is recorded.
    static std::string fileAnswer;
    static std::string fileTypes;
    // WM_QUERYENDSESSION messages the main window vetoed.
    static int endSessionQueries;

    StandInHost();
    ~StandInHost();
    StandInHost(const StandInHost&) = delete;
    StandInHost& operator=(const StandInHost&) = delete;

    HDLL_Context Context(uint8_t adapter, uint8_t target) const;
    // The page window (a dialog child of the main window), or 0.
    HWND Page() const;
    HWND Item(int id) const;

    // Pumps this thread's messages until done() holds or `seconds` pass.
    static bool WaitFor(const std::function<bool()>& done, int seconds);
};

// A bank file, a command log and a state file of their own for one test.
class TestBank {
  public:
    std::string bankPath, logPath, statePath;
    explicit TestBank(const std::string& text);
    ~TestBank();
    std::string Log() const;
    // The identities the drives took from flashed firmware.
    std::string State() const;
    // The log's "exec" lines whose command block starts with `cdbPrefix`.
    std::vector<std::string> Commands(const std::string& cdbPrefix) const;
};

// A temporary path unique to this process and call.
std::string TempFile(const char* stem);

} // namespace wexatest
