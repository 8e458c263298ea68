#include "firmware/DownloadRules.h"
#include "firmware/HexReader.h"

#include "command/CompileCommand.h"
#include "download/TransferJob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(DownloadRules, ProtocolNamesAndDecisionTable) {
    const char* names[] = {"Unkown", "QV Type 2.0", "QV Type 2.1", "QV Type 2.2", "Unkown"};
    for (uint8_t p = 0; p < 5; ++p)
        EXPECT_STREQ(names[p], ProtocolName(p));
    const int table[5][5] = {
        {-1, -1, -1, -1, -1}, {-1, 0, -1, 0, -1},   {-1, -1, 0, -1, -1},
        {-1, 0, -1, 1, -1},   {-1, -1, -1, -1, -1},
    };
    for (uint8_t image = 0; image < 5; ++image)
        for (uint8_t drive = 0; drive < 5; ++drive)
            EXPECT_EQ(table[image][drive], DecideDownloadMode(image, drive))
                << int(image) << " on " << int(drive);
}

TEST(DownloadRules, RowTexts) {
    FirmwareInfo info = {};
    std::strcpy(info.modelName, "VENDOR  PRODUCT");
    std::strcpy(info.version, "1.02");
    StringEx text(kRowTextSize);
    ModelRowText(info, text);
    EXPECT_STREQ("VENDOR  PRODUCT 1.02  ", text.data);
    // Fields without a terminator are cut at their size.
    std::memset(info.modelName, 'M', sizeof info.modelName);
    std::memset(info.version, 'V', sizeof info.version);
    ModelRowText(info, text);
    EXPECT_EQ(std::string(40, 'M') + " " + std::string(8, 'V') + "  ", text.data);
    CheckSumRowText(0x00FF, text);
    EXPECT_STREQ("00FF", text.data);
    CheckSumRowText(0xABCD, text);
    EXPECT_STREQ("ABCD", text.data);
}

TEST(DownloadRules, SameModelAndIdentityReadNulAsBlank) {
    const struct {
        const char *imageModel, *imageVersion, *driveModel, *driveVersion;
        int sameModel, sameIdentity;
    } cases[] = {
        {"CORVANE SIMDRIVE 52X    ", "1.00", "CORVANE SIMDRIVE 52X    ", "1.00", 1, 1},
        {"CORVANE SIMDRIVE 52X", "1.0", "CORVANE SIMDRIVE 52X    ", "1.0 ", 1, 1},
        {"CORVANE SIMDRIVE 52X    ", "1.00", "CORVANE SIMDRIVE 52X    ", "0.10", 1, 0},
        {"CORVANE SIMDRIVE 52X    ", "1.00", "QVSIM   DRIVE           ", "1.00", 0, 0},
        {"Unkown", "", "QVSIM   DRIVE           ", "0.10", 0, 0},
    };
    for (const auto& c : cases) {
        FirmwareInfo image = {}, drive = {};
        std::strcpy(image.modelName, c.imageModel);
        std::strcpy(image.version, c.imageVersion);
        std::strcpy(drive.modelName, c.driveModel);
        std::strcpy(drive.version, c.driveVersion);
        EXPECT_EQ(c.sameModel, SameModel(image, drive)) << c.imageModel;
        EXPECT_EQ(c.sameIdentity, SameIdentity(image, drive)) << c.imageModel;
    }
    FirmwareInfo nul = {}, blank = {};
    std::memcpy(nul.modelName, "AB\0\0\0\0\0\0PRODUCT", 15);
    std::memcpy(blank.modelName, "AB      PRODUCT", 15);
    EXPECT_EQ(1, SameModel(nul, blank)) << "an embedded NUL byte";
}

TEST(DownloadRules, RevisionsHaveAnOrderOnlyWithOneShape) {
    using O = RevisionOrder;
    const struct {
        const char* image;
        const char* drive;
        RevisionOrder order;
    } cases[] = {
        {"1.00", "1.10", O::Older},   {"1.10", "1.00", O::Newer},   {"1.10", "1.10", O::Same},
        {"B1.2", "B1.3", O::Older},   {"C1.0", "B1.9", O::Newer},   {"1.9 ", "1.10", O::Unknown},
        {"1.00", "1-00", O::Unknown}, {"1.0A", "1.00", O::Unknown}, {"", "1.00", O::Unknown},
        {"    ", "    ", O::Unknown}, {"12\0\0", "13  ", O::Older}, {"9999", "10.0", O::Unknown},
    };
    for (const auto& c : cases) {
        FirmwareInfo image = {}, drive = {};
        std::strncpy(image.version, c.image, 4); // "" is one byte, "12\0\0" two
        std::strncpy(drive.version, c.drive, 4);
        EXPECT_EQ(c.order, CompareRevisions(image, drive)) << c.image << " on " << c.drive;
    }
    // A version field without its terminator is read no further than 4.
    FirmwareInfo image = {}, drive = {};
    std::memset(image.version, '1', sizeof image.version);
    std::memcpy(drive.version, "1112", 4);
    EXPECT_EQ(O::Older, CompareRevisions(image, drive));
}

TEST(DownloadRules, ProgressPositions) {
    const struct {
        uint32_t ms;
        int32_t position;
    } cases[] = {{0, 0},     {89, 0},    {90, 1},    {500, 35},   {1000, 53},
                 {2000, 68}, {4500, 85}, {8500, 99}, {9000, 101}, {9000000, 251}};
    for (const auto& c : cases)
        EXPECT_EQ(c.position, TransferProgressPosition(c.ms)) << c.ms;
}

TEST(DownloadRules, HalfSum) {
    std::vector<uint8_t> image(kImageBufferSize, 0xFF);
    EXPECT_EQ(0x8000, HalfSum(image.data()));
    image[32768] = 0; // the second half does not count
    image[0] = 0x01;
    EXPECT_EQ(0x7F02, HalfSum(image.data()));
}

// The commands compile into the blocks the drives expect.
class TransferCommandTest : public ::testing::Test {
  protected:
    DeviceChannel channel{65545, ChannelUser::Plugin};
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageBufferSize, 0x33);

    void ExpectBlock(const std::vector<uint8_t>& cdb) {
        EXPECT_EQ(0, std::memcmp(cdb.data(), channel.cdb, 12));
    }
};

TEST_F(TransferCommandTest, ProbesAndProcedureCommands) {
    const std::vector<uint8_t> probes[] = {
        {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 1, 0, 0},
        {0xCB, 0x20, 0, 0, 0, 0, 0, 0xFF, 0xFE, 1, 0, 0},
        {0xCB, 0x21, 0, 0, 0, 0, 0, 0xFF, 0xFE, 1, 0, 0},
    };
    const FwProtocol order[] = {FwProtocolType22, FwProtocolType20, FwProtocolType21};
    for (int i = 0; i < kProbeCount; ++i) {
        EXPECT_EQ(order[i], kProtocolProbes[i].protocol);
        CompileCommand(channel, kProtocolProbes[i].text);
        ExpectBlock(probes[i]);
        EXPECT_EQ(0u, channel.dataLength);
    }
    CompileCommand(channel, kInquiryCommand);
    ExpectBlock({0x12, 0, 0, 0, 46, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(46u, channel.dataLength);
    CompileCommand(channel, kOpenTrayCommand);
    ExpectBlock({0x1B, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(30000u, channel.timeout);
    CompileCommand(channel, kPreventCommand);
    ExpectBlock({0x1E, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0});
    CompileCommand(channel, kUnitReadyCommand);
    ExpectBlock(std::vector<uint8_t>(12, 0));
}

TEST_F(TransferCommandTest, TransferBlocks) {
    image[0] = 0x12;
    image[1] = 0x34;
    const struct {
        uint8_t drive;
        DownloadMode mode;
        std::vector<uint8_t> cdb;
    } cases[] = {
        {1, DownloadReboot, {0xCB, 0x20, 0, 0xBE, 0xEF, 0xCA, 0xFE, 0xFF, 0xFE, 0x04, 0x12, 0x34}},
        {2, DownloadReboot, {0xCB, 0x21, 0, 0xBE, 0xEF, 0xCA, 0xFE, 0xFF, 0xFE, 0x04, 0x12, 0x34}},
        {3, DownloadVerify, {0xCB, 0, 0x22, 0xBE, 0xEF, 0xCA, 0xFE, 0xFF, 0xFE, 0x84, 0x12, 0x34}},
        {3, DownloadReboot, {0xCB, 0, 0x22, 0xBE, 0xEF, 0xCA, 0xFE, 0xFF, 0xFE, 0x04, 0x12, 0x34}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.drive));
        TransferCommand command;
        ASSERT_EQ(1, BuildTransferCommand(c.drive, c.mode, 0xBEEF, 0xCAFE, image.data(), command));
        ASSERT_EQ(1, download::CompileTransferCommand(channel, command));
        ExpectBlock(c.cdb);
        EXPECT_EQ(0x10, channel.direction);
        EXPECT_EQ(65536u, channel.dataLength);
        EXPECT_EQ(9000000u, channel.timeout);
    }
    TransferCommand none;
    for (uint8_t drive : {0, 4})
        EXPECT_EQ(0, BuildTransferCommand(drive, DownloadVerify, 1, 2, image.data(), none));
    EXPECT_EQ(0, download::CompileTransferCommand(channel, none));
}

TEST_F(TransferCommandTest, DataPhaseLeavesOutTheFirstTwoBytes) {
    for (int i = 0; i < kImageSize; ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(1, FillTransferData(image.data(), channel.buffer, channel.bufferSize));
    EXPECT_EQ(0, std::memcmp(channel.buffer, image.data() + 2, kImageSize - 2));
    EXPECT_EQ(0xFF, channel.buffer[65534]);
    EXPECT_EQ(0xFF, channel.buffer[65535]);
    std::vector<uint8_t> small(100, 0);
    EXPECT_EQ(0, FillTransferData(image.data(), small.data(), 65535));
    EXPECT_EQ(0, small[0]);
}

} // namespace
