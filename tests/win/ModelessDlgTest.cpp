// The page pattern: a page object that starts with ModelessDlg, publishes
// itself for its dialog procedure, builds its wrappers when its window opens
// and drops them when it closes; driven as a user and a host would.
#include "toolkit/ListCtrl.h"
#include "toolkit/ModelessDlg.h"
#include "toolkit/StaticCtrl.h"

#include "ToolkitTestResource.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>

using toolkit::ListCtrl;
using toolkit::ModelessDlg;
using toolkit::PageRect;
using toolkit::StaticCtrl;
using toolkit::thePage;
using namespace wintest;

namespace {

// Shaped like the system's pages.
class SamplePage {
  public:
    ModelessDlg page;
    ListCtrl* list;
    StaticCtrl* line;
    int initDialogs;
    int applied;
    int selectedRow;

    SamplePage(HINSTANCE instance, HWND parent)
        : page(instance, parent, IDD_TOOLKIT_PAGE), list(nullptr), line(nullptr), initDialogs(0),
          applied(0), selectedRow(-2) {
        thePage<SamplePage> = this;
    }

    ~SamplePage() {
        if (page.window)
            CloseModelessDlg();
    }

    void OpenModelessDlg(const PageRect* rect) {
        if (!page.CreatePage(PageProc))
            return;
        list = new ListCtrl(page.window, IDC_PAGE_LIST);
        line = new StaticCtrl(page.window, IDC_PAGE_LINE);
        list->SetItem(-1, 0, "Key", -1);
        list->SetItem(-1, 1, "Value", -1);
        list->SetItem(0, 0, "FW Model Name", -1);
        list->SetItem(1, 0, "FW Protocol", -1);
        list->SetItem(2, 0, "Check Sum", -1);
        line->SetText("Ready.");
        if (rect)
            page.ShowPage(*rect);
    }

    void CloseModelessDlg() {
        delete list;
        list = nullptr;
        delete line;
        line = nullptr;
        page.CloseModelessDlg();
    }

    static INT_PTR CALLBACK PageProc(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
        SamplePage* self = thePage<SamplePage>;
        switch (message) {
        case WM_INITDIALOG:
            self->initDialogs++;
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_PAGE_BUTTON && HIWORD(wParam) == BN_CLICKED && self->line) {
                self->applied++;
                self->line->SetText("Applied.");
            }
            return TRUE;
        case WM_NOTIFY: {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_PAGE_LIST && header->code == LVN_ITEMCHANGED && self->list)
                self->selectedRow = self->list->GetSelected();
            return TRUE;
        }
        }
        return FALSE;
    }
};

int initDialogs = 0;

INT_PTR CALLBACK CountingProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG)
        initDialogs++;
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

class ModelessDlgTest : public ::testing::Test {
  protected:
    TestDialog host{IDD_TOOLKIT_TEST};
    HINSTANCE instance = GetModuleHandleA(nullptr);

    void SetUp() override {
        ASSERT_NE(nullptr, host.window);
        initDialogs = 0;
    }
};

TEST_F(ModelessDlgTest, OpensAsAChildAtTheRectangle) {
    ModelessDlg page(instance, host.window, IDD_TOOLKIT_PAGE);
    EXPECT_EQ(nullptr, page.window);
    const PageRect rect{12, 30, 400, 150};
    ASSERT_EQ(1, page.OpenModelessDlg(CountingProc, &rect));
    ASSERT_TRUE(IsWindow(page.window));
    EXPECT_EQ(1, initDialogs);
    EXPECT_EQ(host.window, GetParent(page.window));
    EXPECT_TRUE(GetWindowLongA(page.window, GWL_STYLE) & WS_CHILD);
    EXPECT_TRUE(IsWindowVisible(page.window));
    const RECT placed = RectInParent(page.window);
    EXPECT_EQ(12, placed.left);
    EXPECT_EQ(30, placed.top);
    EXPECT_EQ(400, placed.right - placed.left);
    EXPECT_EQ(150, placed.bottom - placed.top);
}

TEST_F(ModelessDlgTest, WithoutARectangleThePageStaysHidden) {
    ModelessDlg page(instance, host.window, IDD_TOOLKIT_PAGE);
    ASSERT_EQ(1, page.OpenModelessDlg(CountingProc, nullptr));
    EXPECT_TRUE(IsWindow(page.window));
    EXPECT_FALSE(IsWindowVisible(page.window));
}

TEST_F(ModelessDlgTest, CloseAndDestructionDestroyTheWindow) {
    HWND closed;
    HWND leftOpen;
    {
        ModelessDlg page(instance, host.window, IDD_TOOLKIT_PAGE);
        ASSERT_EQ(1, page.OpenModelessDlg(CountingProc, nullptr));
        closed = page.window;
        page.CloseModelessDlg();
        EXPECT_EQ(nullptr, page.window);
        EXPECT_FALSE(IsWindow(closed));
        page.CloseModelessDlg();
        EXPECT_EQ(nullptr, page.window);

        ASSERT_EQ(1, page.OpenModelessDlg(CountingProc, nullptr));
        leftOpen = page.window;
    }
    EXPECT_FALSE(IsWindow(leftOpen));
    EXPECT_TRUE(IsWindow(host.window));
}

TEST_F(ModelessDlgTest, AMissingTemplateOpensNothing) {
    ModelessDlg page(instance, host.window, IDD_MISSING);
    const PageRect rect{0, 0, 100, 100};
    EXPECT_EQ(0, page.OpenModelessDlg(CountingProc, &rect));
    EXPECT_EQ(nullptr, page.window);
    EXPECT_EQ(0, initDialogs);
}

TEST_F(ModelessDlgTest, APageReachesItsObjectAndFollowsTheUser) {
    SamplePage sample(instance, host.window);
    EXPECT_EQ(&sample, thePage<SamplePage>);
    const PageRect rect{10, 28, 500, 160};
    sample.OpenModelessDlg(&rect);
    ASSERT_NE(nullptr, sample.page.window);
    EXPECT_EQ(1, sample.initDialogs) << "WM_INITDIALOG did not reach the object";
    HWND list = GetDlgItem(sample.page.window, IDC_PAGE_LIST);
    HWND line = GetDlgItem(sample.page.window, IDC_PAGE_LINE);
    EXPECT_EQ(3, ListRowCount(list));
    EXPECT_EQ("Check Sum", ListText(list, 2, 0));
    EXPECT_EQ("Ready.", WindowText(line));

    SelectListRows(list, {2});
    EXPECT_EQ(2, sample.selectedRow);
    SelectListRows(list, {});
    EXPECT_EQ(-1, sample.selectedRow);
    ClickButton(GetDlgItem(sample.page.window, IDC_PAGE_BUTTON));
    EXPECT_EQ(1, sample.applied);
    EXPECT_EQ("Applied.", WindowText(line));

    // Leaving the tab and coming back builds the page afresh.
    HWND first = sample.page.window;
    sample.CloseModelessDlg();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(nullptr, sample.list);
    sample.OpenModelessDlg(&rect);
    ASSERT_NE(nullptr, sample.page.window);
    EXPECT_EQ(2, sample.initDialogs);
    list = GetDlgItem(sample.page.window, IDC_PAGE_LIST);
    EXPECT_EQ(3, ListRowCount(list));
    EXPECT_EQ("Ready.", WindowText(GetDlgItem(sample.page.window, IDC_PAGE_LINE)));
}

} // namespace
