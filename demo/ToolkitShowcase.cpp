// Shows the test dialog filled through the toolkit, with a page open in its
// tab area, for tools/screenshot-win.sh. Argument: seconds to stay up at most.
#include "toolkit/ListCtrl.h"
#include "toolkit/ModelessDlg.h"
#include "toolkit/StaticCtrl.h"
#include "toolkit/TabCtrl.h"

#include "tests/win/ToolkitTestResource.h"
#include "tests/win/WinTestSupport.h"

#include <commctrl.h>

#include <cstdlib>

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    wintest::TestDialog dialog(IDD_TOOLKIT_TEST);
    if (!dialog.window)
        return 1;
    SetWindowPos(dialog.window, nullptr, 16, 16, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    toolkit::TabCtrl tabs(dialog.window, IDC_TEST_TABS);
    tabs.AddItem("Wexa");
    tabs.AddItem("Infomation");
    tabs.AddItem("About");

    toolkit::ListCtrl devices(dialog.window, IDC_TEST_LIST);
    const char* const columns[] = {"Adapter", "Target", "Model", "Version"};
    const int widths[] = {61, 61, 238, 71};
    for (int column = 0; column < 4; column++) {
        devices.SetItem(-1, column, columns[column], -1);
        devices.SetColumnWidth(column, widths[column]);
    }
    const char* const rows[][4] = {{"1", "0", "VIRTUAL DVD-RW 16X", "1.02"},
                                   {"1", "1", "VIRTUAL CD-RW 52X", "3.10"},
                                   {"1", "4", "VIRTUAL DVD-ROM", "0.9A"}};
    for (int row = 0; row < 3; row++)
        for (int column = 0; column < 4; column++)
            devices.SetItem(row, column, rows[row][column], -1);
    wintest::SelectListRows(devices.GetHwnd(), {1});

    toolkit::StaticCtrl status(dialog.window, IDC_TEST_STATUS);
    status.SetText("Select Device...");

    // The page fills the tab control's display area, as the host places its pages.
    RECT area;
    GetWindowRect(tabs.GetHwnd(), &area);
    MapWindowPoints(HWND_DESKTOP, dialog.window, reinterpret_cast<POINT*>(&area), 2);
    SendMessageA(tabs.GetHwnd(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    toolkit::ModelessDlg page(GetModuleHandleA(nullptr), dialog.window, IDD_TOOLKIT_PAGE);
    if (page.CreatePage(QuietProc)) {
        toolkit::ListCtrl keys(page.window, IDC_PAGE_LIST);
        keys.SetItem(-1, 0, "Key", -1);
        keys.SetItem(-1, 1, "Value", -1);
        keys.SetColumnWidth(0, 115);
        keys.SetColumnWidth(1, 365);
        keys.SetItem(0, 0, "FW Model Name", -1);
        keys.SetItem(0, 1, "VIRTUAL DVD-RW 16X", -1);
        keys.SetItem(1, 0, "Check Sum", -1);
        keys.SetItem(1, 1, "0x5A3C", -1);
        toolkit::StaticCtrl(page.window, IDC_PAGE_LINE).SetText("Ready.");
        SetWindowPos(tabs.GetHwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        const toolkit::PageRect rect{area.left, area.top, area.right - area.left,
                                     area.bottom - area.top};
        page.ShowPage(rect);
    }

    wintest::WaitForScreenshot(dialog.window, seconds);
    return 0;
}
