// The seam on Windows: WNASPI32.DLL and the kernel's events and tick count.
#include "AspiLayer.h"
#include "AspiPlatform.h"
#include "AspiRecords.h"
#include "AspiSeam.h"

#include <windows.h>

namespace aspi {
namespace {

struct LoadedLayer {
    GetSupportInfoProc getSupportInfo = nullptr;
    SendCommandProc sendCommand = nullptr;

    LoadedLayer() {
        // Never freed: requests may still be owned by the layer at exit.
        HMODULE module = LoadLibraryA("WNASPI32.DLL");
        if (!module)
            return;
        FARPROC info = GetProcAddress(module, MAKEINTRESOURCEA(1));
        FARPROC send = GetProcAddress(module, MAKEINTRESOURCEA(2));
        if (!info || !send)
            return;
        getSupportInfo = reinterpret_cast<GetSupportInfoProc>(reinterpret_cast<void*>(info));
        sendCommand = reinterpret_cast<SendCommandProc>(reinterpret_cast<void*>(send));
    }
};

const LoadedLayer& Loaded() {
    static LoadedLayer layer; // thread-safe once-only load
    return layer;
}

} // namespace

uint32_t GetASPI32SupportInfo() {
    if (Loaded().getSupportInfo)
        return Loaded().getSupportInfo();
    return MakeSupportInfo(SS_NO_ADAPTERS, 0);
}

uint32_t SendASPI32Command(void* srb) {
    if (Loaded().sendCommand)
        return Loaded().sendCommand(srb);
    return FailWithoutLayer(srb);
}

int HasLayer() {
    return Loaded().sendCommand ? 1 : 0;
}

namespace detail {

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
