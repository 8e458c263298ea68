// Any text as a bank file: a failure names its line and leaves no bank; a
// success holds at most 16 adapters of 8 targets, each INQUIRY answer within
// the standard data.
#include "simulator/BankConfig.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    simulator::BankConfig config;
    std::string error;
    if (!simulator::ParseBank(text, config, error)) {
        if (!config.adapters.empty() || error.compare(0, 5, "line ") != 0)
            std::abort();
        return 0;
    }
    if (config.adapters.size() > simulator::MAX_ADAPTERS)
        std::abort();
    for (const auto& adapter : config.adapters)
        for (const simulator::DriveConfig& drive : adapter)
            if (drive.inquiryLength > simulator::INQUIRY_DATA_SIZE)
                std::abort();
    return 0;
}
