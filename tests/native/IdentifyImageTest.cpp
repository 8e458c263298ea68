#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const uint8_t kTemplate[] = {0x05, 0x80, 0x00, 0x21, 0x1F, 0, 0, 0};

struct Image {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kImageBufferSize, 0xFF);
    Image& Put(int at, const void* data, size_t size) {
        std::memcpy(bytes.data() + at, data, size);
        return *this;
    }
    Image& Put(int at, const char* text) { return Put(at, text, std::strlen(text)); }
    // A template at `at`, its identity and revision padded with blanks.
    template <size_t I, size_t R>
    Image& Inquiry(int at, const char (&identity)[I], const char (&revision)[R]) {
        Put(at, kTemplate, sizeof kTemplate);
        std::memset(bytes.data() + at + 8, ' ', 28);
        Put(at + 8, identity, std::min<size_t>(I - 1, 24));
        return Put(at + 32, revision, std::min<size_t>(R - 1, 4));
    }
    FirmwareInfo Identify() const {
        FirmwareInfo info;
        std::memset(&info, 0x55, sizeof info);
        IdentifyImage(bytes.data(), static_cast<int32_t>(bytes.size()), info);
        return info;
    }
};

TEST(IdentifyImage, MarkersAndTemplates) {
    const uint8_t marker1[] = {0x02, 0x01, 0x22, 0x75, 0x9A, 0x02, 0x90,
                               0x20, 0x20, 0x74, 0x00, 0xF0, 0x00};
    struct Case {
        const char* name;
        Image image;
        FwProtocol protocol;
        const char* model;
        const char* version;
    } cases[] = {
        {"nothing", Image(), FwProtocolNone, "Unkown", ""},
        {"protocol 1", Image().Put(10, marker1, sizeof marker1), FwProtocolType20, "Unkown", ""},
        {"2 then 3", Image().Put(10, "__ELITEDRAM__").Put(100, "__QVTYPE22__"), FwProtocolType22,
         "Unkown", ""},
        {"3 then 2", Image().Put(10, "__QVTYPE22__").Put(100, "__ELITEDRAM__"), FwProtocolType21,
         "Unkown", ""},
        // The third underscore breaks the match and is not tried again.
        {"three underscores", Image().Put(10, "___QVTYPE22__"), FwProtocolNone, "Unkown", ""},
        {"template", Image().Inquiry(50, "VENDOR  PRODUCT 52X     ", "1.02"), FwProtocolNone,
         "VENDOR  PRODUCT 52X     ", "1.02"},
        {"05 05 80 00 21 1F",
         Image().Put(49, "\x05", 1).Inquiry(50, "VENDOR  PRODUCT 52X     ", "1.02"), FwProtocolNone,
         "Unkown", ""},
        {"NUL ends the text", Image().Inquiry(50, "VEN\0DOR PRODUCT         ", "1\0.0"),
         FwProtocolNone, "VEN", "1"},
        {"the last template", Image().Inquiry(50, "OLD", "0.01").Inquiry(900, "NEW", "0.02"),
         FwProtocolNone, "NEW                     ", "0.02"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareInfo info = c.image.Identify();
        EXPECT_EQ(c.protocol, info.protocol);
        EXPECT_STREQ(c.model, info.modelName);
        EXPECT_STREQ(c.version, info.version);
    }
}

TEST(IdentifyImage, CheckSumOfAllBytes) {
    EXPECT_EQ(0x0000, Image().Identify().checkSum);
    EXPECT_EQ(0xFF02, Image().Put(0, "\x01", 1).Identify().checkSum);
    // Bytes past 65535 do not count.
    EXPECT_EQ(0x0000, Image().Put(65536, "\x01", 1).Identify().checkSum);
}

TEST(IdentifyImage, TemplateAtTheEndOfTheBuffer) {
    // Exactly sized, so that a read past it shows under the sanitizer.
    for (int tail : {0, 3, 10, 31}) {
        SCOPED_TRACE(tail);
        std::vector<uint8_t> bytes(200, 'x');
        std::memcpy(bytes.data() + bytes.size() - 5 - tail, kTemplate, 5);
        FirmwareInfo info;
        IdentifyImage(bytes.data(), static_cast<int32_t>(bytes.size()), info);
        const size_t inModel = tail > 3 ? static_cast<size_t>(tail - 3) : 0;
        EXPECT_EQ(std::min<size_t>(inModel, 24), std::strlen(info.modelName));
        EXPECT_EQ(tail > 27 ? static_cast<size_t>(tail - 27) : 0u, std::strlen(info.version));
    }
}

// Synthetic images through the writer and the reader identify as made.
TEST(SyntheticImage, RoundTripForEveryProtocol) {
    const std::string path =
        ::testing::TempDir() + "synthetic-" + std::to_string(getpid()) + ".hex";
    for (FwProtocol protocol :
         {FwProtocolNone, FwProtocolType20, FwProtocolType21, FwProtocolType22}) {
        SCOPED_TRACE(protocol);
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        recipe.protocol = protocol;
        recipe.seed = 7 + protocol;
        std::vector<uint8_t> made(kImageSize), read(kImageBufferSize);
        ASSERT_EQ(1, MakeSyntheticImage(recipe, made.data()));
        ASSERT_EQ(1, SaveSyntheticImage(path.c_str(), recipe));
        ASSERT_EQ(HexReadResult::Done, ReadHexFile(path.c_str(), read.data(), nullptr, nullptr));
        EXPECT_EQ(0, std::memcmp(made.data(), read.data(), kImageSize));
        FirmwareInfo info;
        IdentifyImage(read.data(), kImageBufferSize, info);
        EXPECT_EQ(protocol, info.protocol);
        EXPECT_STREQ("CORVANE SIMDRIVE 52X    ", info.modelName);
        EXPECT_STREQ("1.00", info.version);
    }
    std::remove(path.c_str());
    SyntheticImageRecipe bad;
    DefaultSyntheticRecipe(bad);
    bad.length = kLoadLimit + 1;
    EXPECT_EQ(0, SaveSyntheticImage(path.c_str(), bad));
    EXPECT_EQ(nullptr, std::fopen(path.c_str(), "rb"));
}

} // namespace
