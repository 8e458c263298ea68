// Read plus identify of a full synthetic image (65280 data bytes in 4080
// records) from a file, as the download page does at every Download click.
#include "firmware/DownloadRules.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string MakeFullImage() {
    std::string path = "/tmp/firmware-bench-" + std::to_string(getpid()) + ".hex";
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    if (!SaveSyntheticImage(path.c_str(), recipe))
        std::abort();
    return path;
}

void BM_ReadAndIdentify(benchmark::State& state) {
    const std::string path = MakeFullImage();
    std::vector<uint8_t> image(kImageBufferSize);
    FirmwareInfo info;
    int32_t last = 0;
    for (auto _ : state) {
        HexReadResult result = ReadHexFile(
            path.c_str(), image.data(),
            [](void* user, int32_t percent) { *static_cast<int32_t*>(user) = percent; }, &last);
        IdentifyImage(image.data(), kImageBufferSize, info);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(info);
    }
    std::remove(path.c_str());
    if (info.protocol != FwProtocolType22 || last != 99)
        state.SkipWithError("the image did not read as made");
}
BENCHMARK(BM_ReadAndIdentify)->Unit(benchmark::kMicrosecond);

void BM_IdentifyOnly(benchmark::State& state) {
    std::vector<uint8_t> image(kImageBufferSize, 0xFF);
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    MakeSyntheticImage(recipe, image.data());
    FirmwareInfo info;
    for (auto _ : state) {
        IdentifyImage(image.data(), kImageBufferSize, info);
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK(BM_IdentifyOnly)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
