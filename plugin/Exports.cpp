// The four entry points the host calls, always on its window thread.
#include "plugin/CommonDlg.h"

#include "aspi/AspiLayer.h"
#include "download/Pause.h"

#include <cstring>
#include <new>

using toolkit::thePage;

extern "C" {

intptr_t __cdecl HDLL_Create(HDLL_Context ctx) {
    storedContext = ctx;
    // Created once; a second call keeps the page (and any download) it has.
    if (!thePage<CommonDlg>)
        new (std::nothrow) CommonDlg(ctx);
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
    char layer[aspi::kLayerTextSize] = "";
    aspi::DescribeLayer(layer, sizeof layer);
    const char kBank[] = "simulated drive bank";
    if (std::strncmp(layer, kBank, sizeof kBank - 1) != 0)
        return 0;
    download::SetPause(pause);
    return 1;
}
}

// The host binds these by name; a change of type here must fail to build.
static_assert(sizeof(HDLL_Context) == 36, "the record crosses between the deliverables");
static HDLL_CreateProc const checkCreate = HDLL_Create;
static HDLL_OpenProc const checkOpen = HDLL_Open;
static HDLL_CloseProc const checkClose = HDLL_Close;
static HDLL_DestroyProc const checkDestroy = HDLL_Destroy;
