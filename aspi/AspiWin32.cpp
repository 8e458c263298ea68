// The seam on Windows: loading an installed ASPI layer, the environment, and
// the kernel's events and tick count.
#include "AspiPlatform.h"
#include "AspiRecords.h"
#include "AspiSystem.h"
#include "LibraryPath.h"

#include <windows.h>

namespace aspi {
namespace {

// An installed WNASPI32.DLL: its two entry points, taken by ordinal.
struct AspiLibrary {
    uint32_t(__cdecl* getSupportInfo)();
    uint32_t(__cdecl* sendCommand)(void* srb);
    int(__cdecl* deviceBus)(int adapter, int target); // our simulated bank's
};

uint32_t LibrarySupportInfo(void* self) {
    return static_cast<AspiLibrary*>(self)->getSupportInfo();
}

uint32_t LibrarySend(void* self, void* srb) {
    return static_cast<AspiLibrary*>(self)->sendCommand(srb);
}

int LibraryBus(void* self, uint8_t adapter, uint8_t target) {
    const AspiLibrary* library = static_cast<AspiLibrary*>(self);
    return library->deviceBus ? library->deviceBus(adapter, target) : 0;
}

const LayerOps kInstalled = {"WNASPI32.DLL", 0,       &LibrarySupportInfo,
                             &LibrarySend,   nullptr, nullptr,
                             nullptr,        nullptr, nullptr};
const LayerOps kSimulated = {
    kSimulatedBankName, 1, &LibrarySupportInfo, &LibrarySend, nullptr, nullptr, nullptr, nullptr,
    &LibraryBus};

// The library at this full path, when it is one this process should use.
int TryLibrary(const char* path, const LayerOps** ops, void** self) {
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        return 0;
    FARPROC info = GetProcAddress(module, MAKEINTRESOURCEA(1));
    FARPROC send = GetProcAddress(module, MAKEINTRESOURCEA(2));
    if (!info || !send)
        return 0;
    AspiLibrary library;
    library.getSupportInfo = reinterpret_cast<uint32_t(__cdecl*)()>(reinterpret_cast<void*>(info));
    library.sendCommand =
        reinterpret_cast<uint32_t(__cdecl*)(void*)>(reinterpret_cast<void*>(send));
    library.deviceBus = reinterpret_cast<int(__cdecl*)(int, int)>(
        reinterpret_cast<void*>(GetProcAddress(module, "SimDeviceBus")));
    // Our simulated bank always wins, even with no drives in it.
    bool simulated = GetProcAddress(module, "SimReloadBank") != nullptr;
    uint32_t answer = simulated ? 0 : library.getSupportInfo();
    if (!simulated && !(SupportStatus(answer) == SS_COMP && SupportAdapterCount(answer) > 0))
        return 0;
    *ops = simulated ? &kSimulated : &kInstalled;
    *self = new AspiLibrary(library); // never freed: requests may be in it at exit
    return 1;
}

} // namespace

namespace detail {

int ReadEnvironment(const char* name, char* value, uint32_t size) {
    DWORD length = GetEnvironmentVariableA(name, value, size);
    return length && length < size ? 1 : 0;
}

// By full path: the program's folder (the host's, also for its plug-in),
// then the system folder; never the current directory.
int LoadAspiLibrary(const char* fileName, const LayerOps** ops, void** self) {
    char program[MAX_PATH], system[MAX_PATH], path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length && length < sizeof program && BesideFile(program, fileName, path, sizeof path) &&
        TryLibrary(path, ops, self))
        return 1;
    length = GetSystemDirectoryA(system, sizeof system);
    return length && length < sizeof system && InFolder(system, fileName, path, sizeof path) &&
                   TryLibrary(path, ops, self)
               ? 1
               : 0;
}

uint32_t SystemTickCount() {
    return GetTickCount();
}

int SystemIsWindows95Or98() {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info))
        return 0;
    return IsWindows95Or98Version(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

void* SystemCreateEvent() {
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

} // namespace detail

void SignalCompletionEvent(EventHandle event) {
    if (event)
        SetEvent(static_cast<HANDLE>(event));
}

int WaitCompletionEvent(EventHandle event, uint32_t milliseconds) {
    if (!event)
        return 0;
    return WaitForSingleObject(static_cast<HANDLE>(event), milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

void ResetCompletionEvent(EventHandle event) {
    if (event)
        ResetEvent(static_cast<HANDLE>(event));
}

void CloseCompletionEvent(EventHandle event) {
    if (event)
        CloseHandle(static_cast<HANDLE>(event));
}

} // namespace aspi
