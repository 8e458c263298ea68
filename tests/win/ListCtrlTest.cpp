// ListCtrl on a real list view of a test dialog, read back with the list's own messages.
#include "toolkit/ListCtrl.h"

#include "DialogControlTest.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstring>
#include <string>

using toolkit::ListCtrl;
using namespace wintest;

namespace {

const char* const kDeviceColumns[] = {"Adapter", "Target", "Model", "Version"};

class ListCtrlTest : public DialogControlTest<IDC_TEST_LIST> {
  protected:
    static void AddDeviceColumns(ListCtrl& list) {
        for (int column = 0; column < 4; column++)
            list.SetItem(-1, column, kDeviceColumns[column], -1);
    }
};

TEST_F(ListCtrlTest, HeadersAppendInOrderAndRename) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    EXPECT_EQ(hwnd, list.GetHwnd());
    for (int column = 0; column < 4; column++)
        EXPECT_EQ(column, list.SetItem(-1, column, kDeviceColumns[column], -1));
    ASSERT_EQ(4, ListColumnCount(hwnd));
    for (int column = 0; column < 4; column++)
        EXPECT_EQ(kDeviceColumns[column], ListHeader(hwnd, column));

    EXPECT_EQ(1, list.SetItem(-1, 1, "Target ID", -1));
    EXPECT_EQ(4, ListColumnCount(hwnd));
    EXPECT_EQ("Adapter", ListHeader(hwnd, 0));
    EXPECT_EQ("Target ID", ListHeader(hwnd, 1));
    EXPECT_EQ("Model", ListHeader(hwnd, 2));

    // A header index past the count appends at the count, not at the index asked for.
    EXPECT_EQ(4, list.SetItem(-1, 9, "Extra", -1));
    EXPECT_EQ(5, list.columnCount);
    EXPECT_EQ("Extra", ListHeader(hwnd, 4));
}

TEST_F(ListCtrlTest, RowsAppendAtTheCappedIndexAndCellsAreSet) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    AddDeviceColumns(list);
    EXPECT_EQ(0, list.SetItem(0, 0, "1", -1));
    EXPECT_EQ(1, list.SetItem(1, 0, "2", -1));
    EXPECT_EQ(2, list.SetItem(5, 0, "3", -1));
    EXPECT_EQ(3, list.rowCount);
    ASSERT_EQ(3, ListRowCount(hwnd));
    EXPECT_EQ("3", ListText(hwnd, 2, 0));
    EXPECT_EQ(0, ListItemData(hwnd, 0));
    EXPECT_EQ(100, ListItemData(hwnd, 1));
    EXPECT_EQ(200, ListItemData(hwnd, 2));

    EXPECT_EQ(1, list.SetItem(0, 2, "VIRTUAL DVD-RW", -1));
    EXPECT_EQ("VIRTUAL DVD-RW", ListText(hwnd, 0, 2));
    EXPECT_EQ("1", ListText(hwnd, 0, 0));
    EXPECT_EQ("", ListText(hwnd, 1, 2));
    EXPECT_EQ(0, ListItemData(hwnd, 0)) << "item data is given only to a new row";
    EXPECT_EQ(3, ListRowCount(hwnd));
}

TEST_F(ListCtrlTest, NewRowThroughAnotherColumnIsRefusedButCounted) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    AddDeviceColumns(list);
    EXPECT_EQ(-1, list.SetItem(0, 2, "orphan", -1));
    EXPECT_EQ(0, ListRowCount(hwnd));
    EXPECT_EQ(1, list.rowCount);
    // The next row goes to the end of what the list really holds, carrying the
    // item data of the index the wrapper counted.
    EXPECT_EQ(0, list.SetItem(1, 0, "first", -1));
    EXPECT_EQ("first", ListText(hwnd, 0, 0));
    EXPECT_EQ(100, ListItemData(hwnd, 0));
}

TEST_F(ListCtrlTest, ImageChangesOnlyWhenGiven) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    AddDeviceColumns(list);
    list.SetItem(0, 0, "FW Model Name", 2);
    EXPECT_EQ(2, ListItemImage(hwnd, 0));
    EXPECT_EQ(1, list.SetItem(0, 0, "FW Model Name", -1));
    EXPECT_EQ(2, ListItemImage(hwnd, 0));

    // A row's picture is changed by writing its own text back with the new image.
    char key[toolkit::kListTextSize];
    list.GetItem(0, 0, key, sizeof key);
    EXPECT_EQ(1, list.SetItem(0, 0, key, 3));
    EXPECT_EQ(3, ListItemImage(hwnd, 0));
    EXPECT_EQ("FW Model Name", ListText(hwnd, 0, 0));
}

TEST_F(ListCtrlTest, NewRowsScrollTheEndIntoView) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    AddDeviceColumns(list);
    const int perPage = static_cast<int>(SendMessageA(hwnd, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(perPage, 0);
    const int rows = perPage * 3;
    for (int row = 0; row < rows; row++)
        ASSERT_EQ(row, list.SetItem(row, 0, std::to_string(row).c_str(), -1));
    PumpMessages();
    const int top = static_cast<int>(SendMessageA(hwnd, LVM_GETTOPINDEX, 0, 0));
    EXPECT_GT(top, 0);
    EXPECT_GE(top + perPage, rows) << "the last row is not in view";

    // Changing a cell does not scroll.
    SendMessageA(hwnd, LVM_ENSUREVISIBLE, 0, FALSE);
    list.SetItem(1, 1, "x", -1);
    EXPECT_EQ(0, SendMessageA(hwnd, LVM_GETTOPINDEX, 0, 0));
}

TEST_F(ListCtrlTest, GetItemReadsHeadersAndCells) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    AddDeviceColumns(list);
    list.SetItem(0, 0, "1", -1);
    list.SetItem(0, 2, "VIRTUAL CD-ROM", -1);

    EXPECT_STREQ("Model", list.GetItem(-1, 2));
    EXPECT_STREQ("", list.GetItem(-1, 7));
    EXPECT_STREQ("VIRTUAL CD-ROM", list.GetItem(0, 2));
    EXPECT_STREQ("", list.GetItem(0, 3));
    EXPECT_STREQ("", list.GetItem(9, 0)) << "a row that does not exist reads as empty";

    char model[toolkit::kListTextSize];
    std::memset(model, '#', sizeof model);
    char* shared = list.GetItem(0, 2, model, sizeof model);
    EXPECT_STREQ("VIRTUAL CD-ROM", model);
    EXPECT_STREQ("VIRTUAL CD-ROM", shared);
}

TEST_F(ListCtrlTest, EveryListReadsIntoOneBuffer) {
    TestDialog page(IDD_TOOLKIT_PAGE, dialog.window);
    ListCtrl devices(dialog.window, IDC_TEST_LIST);
    ListCtrl status(page.window, IDC_PAGE_LIST);
    devices.SetItem(-1, 0, "Adapter", -1);
    status.SetItem(-1, 0, "Key", -1);

    char* first = devices.GetItem(-1, 0);
    EXPECT_STREQ("Adapter", first);
    char* second = status.GetItem(-1, 0);
    EXPECT_EQ(first, second);
    EXPECT_STREQ("Key", first);
}

TEST_F(ListCtrlTest, LongTextsAreCutOnReading) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    const std::string header(200, 'H');
    const std::string cell = std::string(100, 'a') + std::string(100, 'b');
    list.SetItem(-1, 0, header.c_str(), -1);
    list.SetItem(0, 0, cell.c_str(), -1);
    // The list itself keeps the whole texts.
    ASSERT_EQ(header, ListHeader(hwnd, 0));
    ASSERT_EQ(cell, ListText(hwnd, 0, 0));

    EXPECT_EQ(header.substr(0, 78), list.GetItem(-1, 0));
    EXPECT_EQ(cell.substr(0, 78), list.GetItem(0, 0));

    // A destination smaller than the shared buffer gets what fits, and nothing past it.
    char small[24];
    std::memset(small, '#', sizeof small);
    list.GetItem(0, 0, small, 16);
    EXPECT_EQ(cell.substr(0, 15), small);
    EXPECT_EQ(std::string(8, '#'), std::string(small + 16, 8));

    char exact[toolkit::kListTextSize + 8];
    std::memset(exact, '#', sizeof exact);
    list.GetItem(-1, 0, exact, toolkit::kListTextSize);
    EXPECT_EQ(header.substr(0, 78), exact);
    EXPECT_EQ(std::string(8, '#'), std::string(exact + toolkit::kListTextSize, 8));
}

TEST_F(ListCtrlTest, GetSelectedFollowsTheUsersSelection) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    AddDeviceColumns(list);
    for (int row = 0; row < 5; row++)
        list.SetItem(row, 0, std::to_string(row).c_str(), -1);

    SelectListRows(hwnd, {});
    EXPECT_EQ(-1, list.GetSelected());
    SelectListRows(hwnd, {3});
    EXPECT_EQ(3, list.GetSelected());
    EXPECT_GT(dialog.Count(WM_NOTIFY, IDC_TEST_LIST, LVN_ITEMCHANGED), 0);
    SelectListRows(hwnd, {4, 1, 2});
    EXPECT_EQ(1, list.GetSelected());

    // A row added behind the wrapper's back is not looked at.
    ASSERT_EQ(5, ListInsertDirect(hwnd, 5, "foreign"));
    SelectListRows(hwnd, {5});
    EXPECT_EQ(-1, list.GetSelected());
}

TEST_F(ListCtrlTest, ColumnWidths) {
    ListCtrl list(dialog.window, IDC_TEST_LIST);
    AddDeviceColumns(list);
    EXPECT_NE(0, list.SetColumnWidth(2, 238));
    EXPECT_EQ(238, SendMessageA(hwnd, LVM_GETCOLUMNWIDTH, 2, 0));
    SendMessageA(hwnd, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(61, 0));
    EXPECT_EQ(61, list.GetColumnWidth(1));
}

TEST_F(ListCtrlTest, CountsSeeOnlyThisWrapperAndDestructionLeavesTheList) {
    {
        ListCtrl list(dialog.window, IDC_TEST_LIST);
        AddDeviceColumns(list);
        list.SetItem(0, 0, "kept", -1);
    }
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(4, ListColumnCount(hwnd));
    EXPECT_EQ("kept", ListText(hwnd, 0, 0));

    // A new wrapper starts from nothing: its first row goes in front.
    ListCtrl again(dialog.window, IDC_TEST_LIST);
    EXPECT_EQ(0, again.columnCount);
    EXPECT_EQ(0, again.rowCount);
    EXPECT_EQ(0, again.SetItem(0, 0, "new", -1));
    EXPECT_EQ("new", ListText(hwnd, 0, 0));
    EXPECT_EQ("kept", ListText(hwnd, 1, 0));
}

} // namespace
