// Shared by the native and the Windows binding: the layer bound explicitly.
#pragma once

#include "AspiLayer.h"

#include <atomic>

namespace aspi {
namespace detail {

struct BoundLayer {
    std::atomic<GetSupportInfoProc> getSupportInfo{nullptr};
    std::atomic<SendCommandProc> sendCommand{nullptr};
};

BoundLayer& Bound();
uint32_t NoLayerSend(void* srb);

} // namespace detail
} // namespace aspi
