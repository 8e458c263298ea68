#include "AspiLayerState.h"
#include "AspiRecords.h"

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
    if (GetSupportInfoProc proc = detail::Bound().getSupportInfo.load())
        return proc();
    if (Loaded().getSupportInfo)
        return Loaded().getSupportInfo();
    return MakeSupportInfo(SS_NO_ADAPTERS, 0);
}

uint32_t SendASPI32Command(void* srb) {
    if (SendCommandProc proc = detail::Bound().sendCommand.load())
        return proc(srb);
    if (Loaded().sendCommand)
        return Loaded().sendCommand(srb);
    return detail::NoLayerSend(srb);
}

int HasLayer() {
    return (detail::Bound().sendCommand.load() || Loaded().sendCommand) ? 1 : 0;
}

} // namespace aspi
