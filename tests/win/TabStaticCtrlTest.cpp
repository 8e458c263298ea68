// TabCtrl and StaticCtrl on the controls of a test dialog.
#include "toolkit/StaticCtrl.h"
#include "toolkit/TabCtrl.h"

#include "DialogControlTest.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstring>
#include <string>

using toolkit::StaticCtrl;
using toolkit::TabCtrl;
using namespace wintest;

namespace {

using TabCtrlTest = DialogControlTest<IDC_TEST_TABS>;
using StaticCtrlTest = DialogControlTest<IDC_TEST_STATUS>;

TEST_F(TabCtrlTest, AddItemAppendsAndTheUsersChoiceIsRead) {
    TabCtrl tabs(dialog.window, IDC_TEST_TABS);
    EXPECT_EQ(hwnd, tabs.GetHwnd());
    EXPECT_EQ(-1, tabs.GetCurSel()) << "no tabs yet";

    EXPECT_EQ(0, tabs.AddItem("Wexa"));
    EXPECT_EQ(1, tabs.AddItem("Infomation"));
    EXPECT_EQ(2, tabs.AddItem("About"));
    EXPECT_EQ(3, tabs.tabCount);
    ASSERT_EQ(3, TabCount(hwnd));
    EXPECT_EQ("Wexa", TabCaption(hwnd, 0));
    EXPECT_EQ("Infomation", TabCaption(hwnd, 1));
    EXPECT_EQ("About", TabCaption(hwnd, 2));

    ClickTab(hwnd, 2);
    EXPECT_EQ(1, dialog.Count(WM_NOTIFY, IDC_TEST_TABS, TCN_SELCHANGE));
    EXPECT_EQ(2, tabs.GetCurSel());
    ClickTab(hwnd, 1);
    EXPECT_EQ(1, tabs.GetCurSel());
}

TEST_F(TabCtrlTest, InsertItemPlacesATab) {
    TabCtrl tabs(dialog.window, IDC_TEST_TABS);
    tabs.AddItem("Infomation");
    tabs.AddItem("About");
    EXPECT_EQ(0, tabs.InsertItem(0, "Wexa"));
    EXPECT_EQ(3, tabs.tabCount);
    EXPECT_EQ("Wexa", TabCaption(hwnd, 0));
    EXPECT_EQ("Infomation", TabCaption(hwnd, 1));
    EXPECT_EQ("About", TabCaption(hwnd, 2));
}

TEST_F(TabCtrlTest, CountsSeeOnlyThisWrapperAndDestructionLeavesTheControl) {
    {
        TabCtrl tabs(dialog.window, IDC_TEST_TABS);
        tabs.AddItem("Infomation");
    }
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(1, TabCount(hwnd));

    // A new wrapper counts from 0, so its first tab goes in front of the old one.
    TabCtrl tabs(dialog.window, IDC_TEST_TABS);
    EXPECT_EQ(0, tabs.AddItem("Wexa"));
    EXPECT_EQ("Wexa", TabCaption(hwnd, 0));
    EXPECT_EQ("Infomation", TabCaption(hwnd, 1));
}

TEST_F(StaticCtrlTest, SetTextReplacesTheText) {
    ASSERT_EQ("Static", WindowText(hwnd));
    {
        StaticCtrl status(dialog.window, IDC_TEST_STATUS);
        EXPECT_EQ(hwnd, status.GetHwnd());
        EXPECT_EQ(1, status.SetText("Select Device..."));
        EXPECT_EQ("Select Device...", WindowText(hwnd));
        const std::string line(300, 'w');
        EXPECT_EQ(1, status.SetText(line.c_str()));
        EXPECT_EQ(line, WindowText(hwnd));
        EXPECT_EQ(1, status.SetText(""));
        EXPECT_EQ("", WindowText(hwnd));
        status.SetText("Ready.");
    }
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ("Ready.", WindowText(hwnd));
}

} // namespace
