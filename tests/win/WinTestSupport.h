// What in-process window tests under Wine share: dialogs from the test
// program's own resources, user actions sent as the messages the controls
// would send, a message pump, read-back through each control's own messages
// (never through the code under test), a scratch registry key, and the
// hand-shake with tools/screenshot-win.sh.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wintest {

// Registers the common control classes once; TestDialog calls it.
void InitControls();

// Handles everything waiting for this thread's windows, so that what an action
// posted has arrived before the test looks.
void PumpMessages();

// A dialog from this program's resources, created modeless the way pages are,
// shown without activation, destroyed with the object. Its procedure records
// the WM_COMMAND and WM_NOTIFY messages it receives from its controls.
class TestDialog {
  public:
    struct Note {
        UINT message; // WM_COMMAND or WM_NOTIFY
        int id;       // control identifier
        int code;     // notification code
    };

    HWND window;
    std::vector<Note> notes;

    explicit TestDialog(int templateId, HWND parent = nullptr);
    ~TestDialog();
    TestDialog(const TestDialog&) = delete;
    TestDialog& operator=(const TestDialog&) = delete;

    HWND Item(int id) const;
    // How many recorded notes match.
    int Count(UINT message, int id, int code) const;
};

// List view, read with its own messages.
std::string ListText(HWND list, int row, int column);
std::string ListHeader(HWND list, int column);
int ListColumnCount(HWND list);
int ListRowCount(HWND list);
LPARAM ListItemData(HWND list, int row);
int ListItemImage(HWND list, int row);
// Inserts a row with the list's own message, as code that bypasses a wrapper would.
int ListInsertDirect(HWND list, int row, const char* text);
// The user's selection: exactly these rows selected. The parent hears
// LVN_ITEMCHANGED for every row whose state changes.
void SelectListRows(HWND list, const std::vector<int>& rows);

// Tab control, read with its own messages.
int TabCount(HWND tab);
std::string TabCaption(HWND tab, int index);
// A click on a tab: the parent hears TCN_SELCHANGING, the selection moves,
// the parent hears TCN_SELCHANGE.
void ClickTab(HWND tab, int index);

// A click on a button: the parent hears WM_COMMAND with BN_CLICKED.
void ClickButton(HWND button);

std::string WindowText(HWND window);
// The window's outer rectangle in its parent's client coordinates.
RECT RectInParent(HWND window);

// A subkey of HKEY_CURRENT_USER of its own for one test,
// "SOFTWARE\CorvaneTest\<process>-<count>", removed with its values.
class ScratchKey {
  public:
    std::string path;

    ScratchKey();
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    bool Exists() const;
    // Raw view of a stored value: 1 when present, with its type and data.
    int Read(const char* name, DWORD* type, std::string* data) const;
    // Stores raw bytes, bypassing the code under test.
    void WriteRaw(const char* name, DWORD type, const void* data, DWORD size);
};

// For programs that show a window to be photographed: pumps until the window
// is drawn, creates "<program file>.ready" beside the program, then keeps
// pumping until tools/screenshot-win.sh removes that file (or `seconds` pass,
// or the window is closed).
void WaitForScreenshot(HWND window, int seconds);

} // namespace wintest
