#include "AspiLayerState.h"
#include "AspiRecords.h"

namespace aspi {
namespace detail {

BoundLayer& Bound() {
    static BoundLayer layer;
    return layer;
}

uint32_t NoLayerSend(void* srb) {
    if (srb)
        StoreStatus(&static_cast<SRB_Header*>(srb)->SRB_Status, SS_NO_ASPI);
    return SS_NO_ASPI;
}

} // namespace detail

void BindLayer(GetSupportInfoProc getSupportInfo, SendCommandProc sendCommand) {
    detail::Bound().getSupportInfo.store(getSupportInfo);
    detail::Bound().sendCommand.store(sendCommand);
}

} // namespace aspi
