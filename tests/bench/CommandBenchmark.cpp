// What one command text costs to compile, and what a full drive scan costs
// when the drives answer at once (the channel's and the layer's own overhead).
#include "command/CompileCommand.h"
#include "command/DeviceChannel.h"
#include "simulator/BankConfig.h"
#include "simulator/DriveBank.h"
#include "simulator/SimulatedLayer.h"

#include "aspi/AspiSeam.h"

#include <benchmark/benchmark.h>

#include <string>

static void CompileTransferCommand(benchmark::State& state) {
    aspi::BindLayer(nullptr, nullptr);
    DeviceChannel channel(65545, ChannelUser::Plugin);
    for (auto _ : state) {
        CompileCommand(channel, "CB 0 22 w(%x) w(%x) FF FE %x %x %x /t%d /w65536", 0x1234u, 0x3u,
                       0x84u, 0x12u, 0x34u, 9000);
        benchmark::DoNotOptimize(channel.cdb);
    }
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
