#include "WinTestSupport.h"

#include <commctrl.h>

#include <cstring>

namespace wintest {

void InitControls() {
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
    done = true;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

namespace {

INT_PTR CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TestDialog* dialog = reinterpret_cast<TestDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        return TRUE;
    }
    if (!dialog)
        return FALSE;
    if (message == WM_COMMAND)
        dialog->notes.push_back({message, LOWORD(wParam), HIWORD(wParam)});
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        dialog->notes.push_back({message, static_cast<int>(header->idFrom), int(header->code)});
    }
    return FALSE;
}

} // namespace

TestDialog::TestDialog(int templateId, HWND parent) : window(nullptr) {
    InitControls();
    window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), parent,
                                RecordingProc, reinterpret_cast<LPARAM>(this));
    if (window) {
        ShowWindow(window, SW_SHOWNOACTIVATE);
        PumpMessages();
    }
}

TestDialog::~TestDialog() {
    if (window)
        DestroyWindow(window);
    PumpMessages();
}

HWND TestDialog::Item(int id) const {
    return GetDlgItem(window, id);
}

int TestDialog::Count(UINT message, int id, int code) const {
    int count = 0;
    for (const Note& note : notes)
        if (note.message == message && note.id == id && note.code == code)
            count++;
    return count;
}

namespace {

// Sends `message` with an item record (LVITEMA, LVCOLUMNA, TCITEMA) whose text
// points at a local buffer, and returns the text.
template <typename Item> std::string ItemText(HWND window, UINT message, WPARAM index, Item item) {
    char text[1024] = "";
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(window, message, index, reinterpret_cast<LPARAM>(&item));
    return text;
}

} // namespace

std::string ListText(HWND list, int row, int column) {
    LVITEMA item = {};
    item.iSubItem = column;
    return ItemText(list, LVM_GETITEMTEXTA, row, item);
}

std::string ListHeader(HWND list, int column) {
    LVCOLUMNA header = {};
    header.mask = LVCF_TEXT;
    return ItemText(list, LVM_GETCOLUMNA, column, header);
}

int ListColumnCount(HWND list) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    return static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
}

int ListRowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

namespace {

LVITEMA ListItem(HWND list, int row, UINT mask) {
    LVITEMA item;
    std::memset(&item, 0, sizeof item);
    item.mask = mask;
    item.iItem = row;
    item.lParam = -1;
    item.iImage = -1;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item;
}

} // namespace

LPARAM ListItemData(HWND list, int row) {
    return ListItem(list, row, LVIF_PARAM).lParam;
}

int ListItemImage(HWND list, int row) {
    return ListItem(list, row, LVIF_IMAGE).iImage;
}

int ListInsertDirect(HWND list, int row, const char* text) {
    LVITEMA item;
    std::memset(&item, 0, sizeof item);
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(text);
    return static_cast<int>(
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void SelectListRows(HWND list, const std::vector<int>& rows) {
    LVITEMA state;
    std::memset(&state, 0, sizeof state);
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED;
    for (int row : rows)
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    PumpMessages();
}

int TabCount(HWND tab) {
    return static_cast<int>(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
}

std::string TabCaption(HWND tab, int index) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    return ItemText(tab, TCM_GETITEMA, index, item);
}

void ClickTab(HWND tab, int index) {
    NMHDR header;
    header.hwndFrom = tab;
    header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(tab));
    header.code = TCN_SELCHANGING;
    HWND parent = GetParent(tab);
    SendMessageA(parent, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    SendMessageA(tab, TCM_SETCURSEL, index, 0);
    header.code = TCN_SELCHANGE;
    SendMessageA(parent, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    PumpMessages();
}

void ClickButton(HWND button) {
    SendMessageA(button, BM_CLICK, 0, 0);
    PumpMessages();
}

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied));
    return text;
}

RECT RectInParent(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

ScratchKey::ScratchKey() {
    static int counter = 0;
    path = "SOFTWARE\\CorvaneTest\\" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

ScratchKey::~ScratchKey() {
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    // Fails, as it should, while another test still has a key below it.
    RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaneTest");
}

bool ScratchKey::Exists() const {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

int ScratchKey::Read(const char* name, DWORD* type, std::string* data) const {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, '\0');
        status = RegQueryValueExA(key, name, nullptr, type,
                                  reinterpret_cast<BYTE*>(size ? &(*data)[0] : nullptr), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 1 : 0;
}

void ScratchKey::WriteRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void WaitForScreenshot(HWND window, int seconds) {
    UpdateWindow(window);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 500) {
        PumpMessages();
        Sleep(20);
    }
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string marker = std::string(program, length) + ".ready";
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    while (IsWindow(window) && GetTickCount() - start < DWORD(seconds) * 1000 &&
           GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
        PumpMessages();
        Sleep(50);
    }
    DeleteFileA(marker.c_str());
}

} // namespace wintest
