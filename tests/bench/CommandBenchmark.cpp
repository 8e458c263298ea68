// What one command text costs to compile, and what a full drive scan costs
// when the drives answer at once (the channel's and the layer's own overhead).
#include "command/CompileCommand.h"
#include "command/DeviceChannel.h"
#include "simulator/BankConfig.h"
#include "simulator/DriveBank.h"
#include "simulator/SimulatedLayer.h"

#include "aspi/AspiSeam.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace {

// Every heap block the program asks for, so that a benchmark can show what
// one iteration allocates.
std::atomic<uint64_t> allocations{0};

void* Allocate(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}

// Compiles the text once per iteration; reports heap blocks per compile.
template <typename... Args>
void Compile(benchmark::State& state, ChannelUser user, const char* text, const Args&... args) {
    DeviceChannel channel(65545, user);
    uint64_t before = allocations.load();
    for (auto _ : state) {
        CompileCommand(channel, text, args...);
        benchmark::DoNotOptimize(channel.cdb);
    }
    state.counters["allocs/compile"] =
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}

} // namespace

// The replacements pair malloc with free; GCC, seeing new inlined into free,
// cannot tell.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

static void CompileInquiryCommand(benchmark::State& state) {
    aspi::BindLayer(nullptr, nullptr);
    Compile(state, ChannelUser::Plugin, "12 0 0 0 d'46 /R46");
}
BENCHMARK(CompileInquiryCommand);

static void CompileTransferCommand(benchmark::State& state) {
    aspi::BindLayer(nullptr, nullptr);
    Compile(state, ChannelUser::Plugin, "CB 0 22 w(%x) w(%x) FF FE %x %x %x /t%d /w65536", 0x1234u,
            0x3u, 0x84u, 0x12u, 0x34u, 9000);
}
BENCHMARK(CompileTransferCommand);

static void ScanTwoAdaptersOfEightTargets(benchmark::State& state) {
    std::string text;
    for (int a = 0; a < 2; ++a) {
        text += "adapter\n";
        for (int t = 0; t < 8; ++t)
            text += "drive " + std::to_string(t) + " latency=0\n";
    }
    simulator::BankConfig config;
    std::string error;
    if (!simulator::ParseBank(text, config, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    simulator::DriveBank bank(config);
    simulator::InstallLayer(&bank);
    {
        DeviceChannel channel(1024, ChannelUser::Host);
        for (auto _ : state) {
            channel.ScanDevices();
            benchmark::DoNotOptimize(channel.deviceCount);
        }
        if (channel.deviceCount != 8)
            state.SkipWithError("the scan did not list eight drives");
    }
    simulator::InstallLayer(nullptr);
}
BENCHMARK(ScanTwoAdaptersOfEightTargets)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
