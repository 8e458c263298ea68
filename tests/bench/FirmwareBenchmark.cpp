// What a Download click costs before the drive is asked: reading a full
// synthetic image (65280 data bytes in 4080 records) from its file and
// identifying it, and identification alone; beside the reader and
// identification kept as reference, the ones that were shipped before.
#include "../support/ReferenceReader.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

typedef HexReadResult (*FileReader)(const char*, uint8_t*, HexProgress, void*);
typedef void (*Identifier)(const uint8_t*, int32_t, FirmwareInfo&);

struct FullImage {
    std::string path = "/tmp/firmware-bench-" + std::to_string(getpid()) + ".hex";
    FullImage() {
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        if (!SaveSyntheticImage(path.c_str(), recipe))
            std::abort();
    }
    ~FullImage() { std::remove(path.c_str()); }
};

// As the page does it, the progress told after every record.
template <FileReader read, Identifier identify> void BM_ReadAndIdentify(benchmark::State& state) {
    const FullImage file;
    std::vector<uint8_t> image(kImageBufferSize);
    FirmwareInfo info;
    int32_t last = 0;
    for (auto _ : state) {
        HexReadResult result = read(
            file.path.c_str(), image.data(),
            [](void* user, int32_t percent) { *static_cast<int32_t*>(user) = percent; }, &last);
        identify(image.data(), kImageSize, info);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(info);
    }
    if (info.protocol != FwProtocolType22 || last != 99)
        state.SkipWithError("the image did not read as made");
}
BENCHMARK_TEMPLATE(BM_ReadAndIdentify, ReadHexFile, IdentifyImage)
    ->Name("ReadAndIdentify")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_ReadAndIdentify, reference::ReadHexFile, reference::IdentifyImage)
    ->Name("ReadAndIdentify/reference")
    ->Unit(benchmark::kMicrosecond);

template <Identifier identify> void BM_Identify(benchmark::State& state) {
    std::vector<uint8_t> image(kImageBufferSize, 0xFF);
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    MakeSyntheticImage(recipe, image.data());
    FirmwareInfo info;
    for (auto _ : state) {
        identify(image.data(), kImageSize, info);
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK_TEMPLATE(BM_Identify, IdentifyImage)->Name("Identify")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Identify, reference::IdentifyImage)
    ->Name("Identify/reference")
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
