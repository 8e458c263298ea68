// The one binding of the ASPI entry points to the layer in use.
#include "aspi/AspiLayer.h"
#include "aspi/AspiRecords.h"
#include "aspi/AspiSeam.h"
#include "aspi/AspiSystem.h"
#include "aspi/DeviceAddress.h"
#include "aspi/PassThroughLayer.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace aspi {
namespace {

uint32_t NoSupportInfo(void*) {
    return MakeSupportInfo(SS_NO_ADAPTERS, 0);
}

uint32_t NoSend(void*, void* srb) {
    return FailWithoutLayer(srb);
}

// The test's two entry points behind BindLayer.
std::atomic<GetSupportInfoProc> testInfo{nullptr};
std::atomic<SendCommandProc> testSend{nullptr};

uint32_t TestSupportInfo(void*) {
    GetSupportInfoProc proc = testInfo.load();
    return proc ? proc() : MakeSupportInfo(SS_NO_ADAPTERS, 0);
}

uint32_t TestSend(void*, void* srb) {
    SendCommandProc proc = testSend.load();
    return proc ? proc(srb) : FailWithoutLayer(srb);
}

const LayerOps kTestOps = {"bound by the test",
                           0,
                           &TestSupportInfo,
                           &TestSend,
                           nullptr,
                           nullptr,
                           nullptr,
                           nullptr,
                           nullptr};

struct Layer {
    const LayerOps* ops;
    void* self;
};

struct Binding {
    std::mutex mutex;
    Layer used{nullptr, nullptr};   // null ops: the system's choice
    Layer system{nullptr, nullptr}; // chosen at the first call that needs it
    const char* library = "WNASPI32.DLL";
    const DeviceCalls* calls = nullptr;
    std::vector<Layer> chosen; // never freed: requests may still be in them
};

Binding& TheBinding() {
    static Binding* binding = new Binding(); // outlives every static destructor
    return *binding;
}

void Describe(const Layer& layer, char* text, uint32_t size) {
    if (layer.ops->describe)
        layer.ops->describe(layer.self, text, size);
    else
        std::snprintf(text, size, "%s%s", layer.ops->name, kLineEnd);
}

// Where the user asked for it (CORVANE_ASPI_REPORT names a file): the choice
// and what the layer sees.
void Report(const Layer& layer) {
    char path[1024];
    if (!detail::ReadEnvironment("CORVANE_ASPI_REPORT", path, sizeof path))
        return;
    char text[kLayerTextSize];
    Describe(layer, text, sizeof text);
    if (FILE* file = std::fopen(path, "ab")) {
        std::fprintf(file, "ASPI layer: %s", text);
        std::fclose(file);
    }
}

Layer ChooseSystemLayer(Binding& b) {
    Layer layer{&kNoLayer, nullptr};
    if (!detail::LoadAspiLibrary(b.library, &layer.ops, &layer.self)) {
        const DeviceCalls* calls = b.calls ? b.calls : detail::SystemDeviceCalls();
        if (calls)
            layer = Layer{&PassThroughLayer::kOps, new PassThroughLayer(*calls)};
        else
            layer = Layer{&kNoLayer, nullptr};
    }
    b.chosen.push_back(layer);
    Report(layer);
    return layer;
}

Layer Current() {
    Binding& b = TheBinding();
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.used.ops)
        return b.used;
    if (!b.system.ops)
        b.system = ChooseSystemLayer(b);
    return b.system;
}

} // namespace

const LayerOps kNoLayer = {"none",  0,       &NoSupportInfo, &NoSend, nullptr,
                           nullptr, nullptr, nullptr,        nullptr};

void UseLayer(const LayerOps* ops, void* self) {
    Binding& b = TheBinding();
    std::lock_guard<std::mutex> lock(b.mutex);
    b.used = Layer{ops, ops ? self : nullptr};
}

void BindLayer(GetSupportInfoProc getSupportInfo, SendCommandProc sendCommand) {
    testInfo.store(getSupportInfo);
    testSend.store(sendCommand);
    UseLayer(getSupportInfo || sendCommand ? &kTestOps : &kNoLayer);
}

void RebindLayer(const char* library, const DeviceCalls* calls) {
    Binding& b = TheBinding();
    std::lock_guard<std::mutex> lock(b.mutex);
    b.used = Layer{nullptr, nullptr};
    b.system = Layer{nullptr, nullptr};
    b.library = library ? library : "WNASPI32.DLL";
    b.calls = calls;
}

uint32_t GetASPI32SupportInfo() {
    Layer layer = Current();
    return layer.ops->getSupportInfo(layer.self);
}

uint32_t SendASPI32Command(void* srb) {
    Layer layer = Current();
    return layer.ops->sendCommand(layer.self, srb);
}

int HasLayer() {
    return SupportStatus(GetASPI32SupportInfo()) == SS_COMP ? 1 : 0;
}

void SetRequestTimeout(const void* srb, uint32_t milliseconds) {
    Layer layer = Current();
    if (layer.ops->setRequestTimeout)
        layer.ops->setRequestTimeout(layer.self, srb, milliseconds);
}

void DescribeLayer(char* text, uint32_t size) {
    if (!text || !size)
        return;
    Describe(Current(), text, size);
}

int FindDevice(const char* path, uint8_t* adapter, uint8_t* target) {
    Layer layer = Current();
    if (!IsDevicePath(path) || !adapter || !target || !layer.ops->findDevice)
        return 0;
    return layer.ops->findDevice(layer.self, path, adapter, target);
}

int DeviceName(uint8_t adapter, uint8_t target, char* text, uint32_t size) {
    if (!text || !size)
        return 0;
    text[0] = '\0';
    Layer layer = Current();
    if (!layer.ops->deviceName || !layer.ops->deviceName(layer.self, adapter, target, text, size)) {
        text[0] = '\0';
        return 0;
    }
    return 1;
}

BusType DeviceBus(uint8_t adapter, uint8_t target) {
    Layer layer = Current();
    if (!layer.ops->deviceBus)
        return BusType::Unknown;
    const int bus = layer.ops->deviceBus(layer.self, adapter, target);
    return bus > 0 && bus <= static_cast<int>(BusType::Ieee1394) ? static_cast<BusType>(bus)
                                                                 : BusType::Unknown;
}

int LayerIsSimulated() {
    return Current().ops->simulated ? 1 : 0;
}

} // namespace aspi
