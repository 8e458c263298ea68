// Any text as a bank's state file: what is read is written back as a text
// that reads the same, with no problem.
#include "simulator/BankState.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> problems;
    const std::vector<simulator::FlashedIdentity> records =
        simulator::ParseBankState(text, "fuzz", problems);

    std::vector<std::string> again;
    const std::vector<simulator::FlashedIdentity> read =
        simulator::ParseBankState(simulator::FormatBankState(records), "fuzz", again);
    if (!again.empty() || read.size() != records.size())
        std::abort();
    for (size_t i = 0; i < read.size(); ++i)
        if (read[i].adapter != records[i].adapter || read[i].target != records[i].target ||
            read[i].identity != records[i].identity)
            std::abort();
    return 0;
}
