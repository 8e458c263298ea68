#include "AspiLayerState.h"
#include "AspiRecords.h"

namespace aspi {

uint32_t GetASPI32SupportInfo() {
    GetSupportInfoProc proc = detail::Bound().getSupportInfo.load();
    return proc ? proc() : MakeSupportInfo(SS_NO_ADAPTERS, 0);
}

uint32_t SendASPI32Command(void* srb) {
    SendCommandProc proc = detail::Bound().sendCommand.load();
    return proc ? proc(srb) : detail::NoLayerSend(srb);
}

int HasLayer() {
    return detail::Bound().sendCommand.load() ? 1 : 0;
}

} // namespace aspi
