#include "BankState.h"

#include <cstdio>
#include <sstream>

namespace simulator {
namespace {

int Unhex(const std::string& text, uint8_t* out, size_t count) {
    if (text.size() != count * 2)
        return 0;
    for (size_t i = 0; i < 2 * count; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        out[i / 2] = static_cast<uint8_t>(i % 2 ? out[i / 2] * 16 + digit : digit);
    }
    return 1;
}

} // namespace

std::vector<FlashedIdentity> ParseBankState(const std::string& text, const std::string& name,
                                            std::vector<std::string>& problems) {
    std::vector<FlashedIdentity> records;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        FlashedIdentity record;
        std::string hex, mode, rest;
        const bool read = static_cast<bool>(words >> record.adapter >> record.target >> hex);
        if (words >> mode)
            record.inLoader = mode == "loader";
        if (!read || (!mode.empty() && !record.inLoader) || words >> rest ||
            !Unhex(hex, record.identity.data(), record.identity.size())) {
            problems.push_back("state file " + name + " line " + std::to_string(number) +
                               ": expected 'adapter target identity-hex'");
            continue;
        }
        records.push_back(record);
    }
    return records;
}

std::string FormatBankState(const std::vector<FlashedIdentity>& identities) {
    std::string text = "# adapter target vendor+product+revision (hex), flashed identities\n";
    for (const FlashedIdentity& record : identities) {
        text += std::to_string(record.adapter) + " " + std::to_string(record.target) + " ";
        char two[3];
        for (uint8_t byte : record.identity) {
            std::snprintf(two, sizeof two, "%02X", byte);
            text += two;
        }
        text += record.inLoader ? " loader\n" : "\n";
    }
    return text;
}

} // namespace simulator
