// The four entry points the host calls, always on its window thread.
#include "plugin/CommonDlg.h"

#include "download/Pause.h"

#include <atomic>
#include <cstdlib>
#include <new>

using toolkit::thePage;

namespace {

std::atomic<uint32_t> testRebootWait{0};

// Never longer than the wait asked for.
void TestRebootWait(uint32_t milliseconds) {
    const uint32_t shorter = testRebootWait.load();
    Sleep(shorter < milliseconds ? shorter : milliseconds);
}

// Tests of the whole product, which cannot call WexaSetPause inside the
// host's process, name a shorter reboot-mode wait in CORVANE_TEST_REBOOT_WAIT
// (milliseconds). Taken only where the simulated bank answers, as for
// WexaSetPause.
void ShortenRebootWaitForTests() {
    char value[16];
    const DWORD length = GetEnvironmentVariableA("CORVANE_TEST_REBOOT_WAIT", value, sizeof value);
    if (!length || length >= sizeof value)
        return;
    testRebootWait = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
    download::SetPauseWhereSimulated(TestRebootWait);
}

} // namespace

extern "C" {

intptr_t __cdecl HDLL_Create(HDLL_Context ctx) {
    storedContext = ctx;
    // Created once; a second call keeps the page (and any download) it has.
    if (!thePage<CommonDlg>) {
        ShortenRebootWaitForTests();
        new (std::nothrow) CommonDlg(ctx);
    }
    return reinterpret_cast<intptr_t>(thePage<CommonDlg>);
}

void __cdecl HDLL_Open(HDLL_Context ctx) {
    storedContext = ctx;
    CommonDlg* page = thePage<CommonDlg>;
    if (!page)
        return;
    // A page that closed itself (WM_CLOSE) left its wrappers behind.
    if (page->page.window && !IsWindow(page->page.window))
        page->CloseModelessDlg();
    if (!page->page.window)
        page->OpenModelessDlg(nullptr);
}

void __cdecl HDLL_Close() {
    if (CommonDlg* page = thePage<CommonDlg>)
        page->CloseModelessDlg();
}

void __cdecl HDLL_Destroy() {
    // Waits for a running transfer before anything is freed.
    delete thePage<CommonDlg>;
    thePage<CommonDlg> = nullptr;
}

// Not for hosts: the plug-in's tests put their own pause in place of the
// reboot-mode wait (null: the wait sleeps again). Only where the simulated
// bank answers, so that a real drive always gets its time; 1 when taken.
int __cdecl WexaSetPause(download::PauseProc pause) {
    return download::SetPauseWhereSimulated(pause);
}
}

// The host binds these by name; a change of type here must fail to build.
static_assert(sizeof(HDLL_Context) == 36, "the record crosses between the deliverables");
static HDLL_CreateProc const checkCreate = HDLL_Create;
static HDLL_OpenProc const checkOpen = HDLL_Open;
static HDLL_CloseProc const checkClose = HDLL_Close;
static HDLL_DestroyProc const checkDestroy = HDLL_Destroy;
