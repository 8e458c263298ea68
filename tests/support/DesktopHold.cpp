// desktop_hold [SECONDS]: brings up the Wine session's desktop before a test
// program with windows starts, and holds it up until this program's input
// closes. Prints "ready", or "failed: " and why, then waits.
//
// Wine starts the desktop's shell (explorer.exe /desktop) for a process's
// first window, but waits ten seconds for it; under software emulation the
// shell takes longer, and that process is left without a display driver, and
// so is every later process of the session. Started here, the shell is waited
// for as long as it takes, and nothing asks for the desktop before it is up.
// The desktop closes when the last process of the session leaves it: this one
// stays until the program it was started for has ended.
#include "WineShell.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The shell as Wine itself starts it for a first window.
HANDLE StartShell() {
    char commandLine[] = "C:\\windows\\system32\\explorer.exe /desktop";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// A window of this process can be made: the desktop has its display driver.
bool WindowsCanBeMade() {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window)
        return false;
    DestroyWindow(window);
    return true;
}

const char* BringUp(DWORD seconds) {
    HANDLE shell = OpenRunningShell(); // another program's holder's
    if (!shell)
        shell = StartShell();
    if (!shell)
        return "the shell could not be started";
    const DWORD idle = WaitForInputIdle(shell, seconds * 1000);
    CloseHandle(shell);
    if (idle == WAIT_TIMEOUT)
        return "the shell was not ready in time";
    if (idle != 0)
        return "the shell ended";
    return WindowsCanBeMade() ? nullptr : "no window can be made";
}

} // namespace

int main(int argc, char** argv) {
    const DWORD seconds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 600;
    const char* fault = BringUp(seconds);
    if (fault)
        std::printf("failed: %s\n", fault);
    else
        std::printf("ready\n");
    std::fflush(stdout);
    // Held until the caller closes this program's input.
    char input;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &input, 1, &read, nullptr) && read)
        ;
    return fault ? 1 : 0;
}
