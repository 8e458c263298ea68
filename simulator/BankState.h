// The state file of a bank: the identities drives took from flashed
// firmware, one line a drive, so that they survive a restart of the program.
//
//     # comment
//     <adapter> <target> <vendor+product+revision, 28 bytes in hexadecimal> [loader]
//
// "loader": a cut transfer left the drive in its boot loader.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace simulator {

struct FlashedIdentity {
    int adapter = 0;
    int target = 0;
    std::array<uint8_t, 28> identity{}; // vendor (8), product (16), revision (4)
    bool inLoader = false;
};

// The records of `text`; each line that is no record adds a problem naming
// `name` and the line, and the other lines are still read.
std::vector<FlashedIdentity> ParseBankState(const std::string& text, const std::string& name,
                                            std::vector<std::string>& problems);

// The text ParseBankState reads back as `identities`.
std::string FormatBankState(const std::vector<FlashedIdentity>& identities);

} // namespace simulator
