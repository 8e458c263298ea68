// A plug-in for the host's whole-program tests: appends every call it
// receives, with the record it was given, to the file named by
// CORVANE_PLUGIN_LOG. Built several times under different names; one build
// leaves out HDLL_Create and so is no plug-in at all, another fails it.
#include "plugin/PluginInterface.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

HINSTANCE self;

void Append(const char* line) {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("CORVANE_PLUGIN_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    CloseHandle(file);
}

// The file name without its directory, as the host's tab shows it plus ".dll".
const char* OwnName() {
    static char name[MAX_PATH];
    GetModuleFileNameA(self, name, sizeof name);
    const char* slash = std::strrchr(name, '\\');
    return slash ? slash + 1 : name;
}

// Which of the host's icons the main window carries: only this process can ask.
int IconOf(HWND window) {
    HICON icon = reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0));
    HINSTANCE host = GetModuleHandleA(nullptr);
    for (int id : {107, 108})
        if (icon && icon == LoadIconA(host, MAKEINTRESOURCEA(id)))
            return id;
    return 0;
}

void Record(const char* call, const HDLL_Context* context) {
    char line[512];
    if (!context) {
        std::snprintf(line, sizeof line, "%s %s\n", OwnName(), call);
    } else {
        std::snprintf(line, sizeof line,
                      "%s %s self=%d main=%lu tab=%lu status=%lu rect=%ld,%ld,%ld,%ld dev=%u,%u "
                      "reserved=%u,%u icon=%d\n",
                      OwnName(), call, context->module == self ? 1 : 0,
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(context->mainWindow)),
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(context->tabControl)),
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(context->statusLine)),
                      static_cast<long>(context->left), static_cast<long>(context->top),
                      static_cast<long>(context->width), static_cast<long>(context->height),
                      context->adapter, context->target, context->reserved[0], context->reserved[1],
                      IconOf(context->mainWindow));
    }
    Append(line);
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}

#ifndef CREATE_RESULT
#define CREATE_RESULT 1
#endif

#ifndef NO_CREATE
__declspec(dllexport) intptr_t __cdecl HDLL_Create(HDLL_Context context) {
    Record("create", &context);
    return CREATE_RESULT;
}
#endif

__declspec(dllexport) void __cdecl HDLL_Open(HDLL_Context context) {
    Record("open", &context);
}

__declspec(dllexport) void __cdecl HDLL_Close() {
    Record("close", nullptr);
}

__declspec(dllexport) void __cdecl HDLL_Destroy() {
    Record("destroy", nullptr);
}
}
