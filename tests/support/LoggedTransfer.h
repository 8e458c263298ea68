// The bank log's record of a firmware transfer, checked against the image it
// should carry. Shared by the plug-in's window tests and the whole-product tests.
#pragma once

#include "firmware/SyntheticImage.h"
#include "simulator/DriveBank.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// Bytes of a logged command block, from "cdb=".
inline std::vector<int> LoggedCdb(const std::string& line) {
    std::vector<int> bytes;
    const size_t at = line.find("cdb=");
    if (at == std::string::npos)
        return bytes;
    std::istringstream hex(line.substr(at + 4, 12 * 3));
    for (std::string token; hex >> token && bytes.size() < 12;)
        bytes.push_back(std::stoi(token, nullptr, 16));
    return bytes;
}

// The bytes of the default synthetic image made for `protocol`.
inline std::vector<uint8_t> SyntheticBytes(FwProtocol protocol) {
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    recipe.protocol = protocol;
    std::vector<uint8_t> image(65536);
    EXPECT_EQ(1, MakeSyntheticImage(recipe, image.data()));
    return image;
}

// A completed 65536-byte transfer whose command block carries the image's
// half and whole sums, `modeByte` and the image's first two bytes, and whose
// data is the rest of the image then FF FF. Answers the whole sum.
inline unsigned ExpectTransferOf(const std::string& line, const std::vector<uint8_t>& image,
                                 int modeByte) {
    EXPECT_NE(std::string::npos, line.find("dir=out len=65536")) << line;
    EXPECT_NE(std::string::npos, line.find("status=01")) << line;
    unsigned half = 0, sum = 0;
    for (int i = 0; i < 65536; i++)
        (i < 32768 ? half : sum) += image[i];
    sum = (sum + half) & 0xFFFF;
    const std::vector<int> cdb = LoggedCdb(line);
    if (cdb.size() != 12) {
        ADD_FAILURE() << "no 12-byte command block: " << line;
        return sum;
    }
    EXPECT_EQ(int(half & 0xFFFF), cdb[3] << 8 | cdb[4]);
    EXPECT_EQ(int(sum), cdb[5] << 8 | cdb[6]);
    EXPECT_EQ(modeByte, cdb[9]);
    EXPECT_EQ(image[0], cdb[10]);
    EXPECT_EQ(image[1], cdb[11]);
    std::vector<uint8_t> data(image.begin() + 2, image.end());
    data.insert(data.end(), {0xFF, 0xFF});
    char digest[32];
    std::snprintf(digest, sizeof digest, "digest=%08X",
                  unsigned(simulator::DataDigest(data.data(), uint32_t(data.size()))));
    EXPECT_NE(std::string::npos, line.find(digest)) << line;
    return sum;
}

// The identity the default synthetic image carries (vendor, product,
// revision), in hexadecimal as the bank's state file holds it.
const char* const kImageIdentityHex = "434F5256414E4520"                   // "CORVANE "
                                      "53494D4452495645203532582020202031" // "SIMDRIVE 52X    1"
                                      "2E3030";                            // ".00"
