// The one contract between the host and its plug-ins: the record the host
// hands to a plug-in by value, and the four entry points' types. Both sides
// include this header; a plug-in built elsewhere relies on the byte layout.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#pragma pack(push, 4)
struct HDLL_Context {
    HINSTANCE module;  // the plug-in library being called; 0 for a host page
    HWND mainWindow;   // parent of the page window
    HWND tabControl;   // disabled while a transfer runs
    HWND statusLine;   // the host's status line
    int32_t left, top; // page rectangle, main window client coordinates
    int32_t width, height;
    uint8_t adapter; // current drive; HDLL_NO_DRIVE: none (see below)
    uint8_t target;
    uint8_t reserved[2]; // always 0
};
#pragma pack(pop)

// Never a host adapter number. In `adapter` it says that no CD/DVD drive is
// selected: `target` is HDLL_NO_DRIVE too when the host found none, or the
// index of the serial port chosen instead. A plug-in sends no command then.
constexpr uint8_t HDLL_NO_DRIVE = 0xFF;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HDLL_Context) == 36, "nine 32-bit words");
static_assert(offsetof(HDLL_Context, statusLine) == 12, "");
static_assert(offsetof(HDLL_Context, left) == 16, "");
static_assert(offsetof(HDLL_Context, height) == 28, "");
static_assert(offsetof(HDLL_Context, adapter) == 32, "");
static_assert(offsetof(HDLL_Context, target) == 33, "");
#endif

// Exported under these undecorated names; the caller removes the arguments.
extern "C" {
typedef intptr_t(__cdecl* HDLL_CreateProc)(HDLL_Context);
typedef void(__cdecl* HDLL_OpenProc)(HDLL_Context);
typedef void(__cdecl* HDLL_CloseProc)();
typedef void(__cdecl* HDLL_DestroyProc)();
}
