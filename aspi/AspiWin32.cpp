// The seam on Windows: the chosen ASPI layer and the kernel's events and
// tick count.
#include "AspiLayer.h"
#include "AspiPlatform.h"
#include "AspiRecords.h"
#include "AspiSeam.h"
#include "PassThroughLayer.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace aspi {
namespace {

std::atomic<GetSupportInfoProc> boundInfo{nullptr};
std::atomic<SendCommandProc> boundSend{nullptr};

// The layer this process uses, chosen at the first call: a WNASPI32.DLL
// that is our simulated bank, or any other that reports host adapters;
// else our own layer over the SCSI pass-through.
struct Binding {
    GetSupportInfoProc getSupportInfo = nullptr;
    SendCommandProc sendCommand = nullptr;
    PassThroughLayer* passThrough = nullptr;
    char name[64] = "none";
};

std::mutex bindingMutex;
Binding* binding = nullptr; // never freed: requests may still be in its layer at exit
const char* libraryName = "WNASPI32.DLL";
const DeviceCalls* deviceCalls = nullptr;

void Describe(const Binding& b, char* text, uint32_t size) {
    if (b.passThrough)
        b.passThrough->Describe(text, size);
    else
        std::snprintf(text, size, "%s\r\n", b.name);
}

// Where the user asked for it (CORVANE_ASPI_REPORT names a file), the choice
// and the drives the layer sees.
void Report(const Binding& b) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("CORVANE_ASPI_REPORT", path, sizeof path);
    if (!length || length >= sizeof path)
        return;
    char text[kLayerTextSize];
    Describe(b, text, sizeof text);
    if (FILE* file = std::fopen(path, "ab")) {
        std::fprintf(file, "ASPI layer: %s", text);
        std::fclose(file);
    }
}

Binding* Choose() {
    Binding* b = new Binding();
    // Never freed: requests may still be owned by the layer at exit.
    if (HMODULE module = LoadLibraryA(libraryName)) {
        FARPROC info = GetProcAddress(module, MAKEINTRESOURCEA(1));
        FARPROC send = GetProcAddress(module, MAKEINTRESOURCEA(2));
        int simulated = GetProcAddress(module, "SimReloadBank") != nullptr;
        if (info && send) {
            auto infoProc = reinterpret_cast<GetSupportInfoProc>(reinterpret_cast<void*>(info));
            uint32_t answer = simulated ? 0 : infoProc();
            if (simulated ||
                (SupportStatus(answer) == SS_COMP && SupportAdapterCount(answer) > 0)) {
                b->getSupportInfo = infoProc;
                b->sendCommand = reinterpret_cast<SendCommandProc>(reinterpret_cast<void*>(send));
                std::snprintf(b->name, sizeof b->name, "%s",
                              simulated ? "simulated drive bank" : "WNASPI32.DLL");
            }
        }
    }
    if (!b->sendCommand) {
        b->passThrough = new PassThroughLayer(deviceCalls ? *deviceCalls : SystemDeviceCalls());
        SetSystemPassThrough(b->passThrough);
        b->getSupportInfo = &SystemPassThroughInfo;
        b->sendCommand = &SystemPassThroughSend;
        std::snprintf(b->name, sizeof b->name, "SCSI pass-through");
    }
    Report(*b);
    return b;
}

const Binding& Bound() {
    std::lock_guard<std::mutex> lock(bindingMutex);
    if (!binding)
        binding = Choose();
    return *binding;
}

} // namespace

void BindLayer(GetSupportInfoProc getSupportInfo, SendCommandProc sendCommand) {
    boundInfo.store(getSupportInfo);
    boundSend.store(sendCommand);
}

void RebindLayer(const char* library, const DeviceCalls* calls) {
    std::lock_guard<std::mutex> lock(bindingMutex);
    binding = nullptr;
    libraryName = library ? library : "WNASPI32.DLL";
    deviceCalls = calls;
    SetSystemPassThrough(nullptr);
}

uint32_t GetASPI32SupportInfo() {
    if (GetSupportInfoProc proc = boundInfo.load())
        return proc();
    return Bound().getSupportInfo();
}

uint32_t SendASPI32Command(void* srb) {
    if (SendCommandProc proc = boundSend.load())
        return proc(srb);
    return Bound().sendCommand(srb);
}

int HasLayer() {
    if (boundSend.load())
        return 1;
    const Binding& b = Bound();
    return b.passThrough ? (b.passThrough->AdapterCount() > 0 ? 1 : 0) : 1;
}

void DescribeLayer(char* text, uint32_t size) {
    if (!size)
        return;
    if (boundSend.load()) {
        std::snprintf(text, size, "bound by the test\r\n");
        return;
    }
    const Binding& b = Bound();
    if (b.passThrough) {
        Describe(b, text, size);
        return;
    }
    std::snprintf(text, size, "%s\r\n", b.name);
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
