// The four entry points the host calls, always on its window thread.
#include "plugin/CommonDlg.h"

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
}

// The host binds these by name; a change of type here must fail to build.
static_assert(sizeof(HDLL_Context) == 36, "the record crosses between the deliverables");
static HDLL_CreateProc const checkCreate = HDLL_Create;
static HDLL_OpenProc const checkOpen = HDLL_Open;
static HDLL_CloseProc const checkClose = HDLL_Close;
static HDLL_DestroyProc const checkDestroy = HDLL_Destroy;
