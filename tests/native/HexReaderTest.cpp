#include "firmware/HexReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A record of the given type with a correct check sum (plus `skew`).
std::string Record(int address, int type, const std::vector<uint8_t>& data, int skew = 0) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                  static_cast<uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes)
        sum = static_cast<uint8_t>(sum - b);
    bytes.push_back(static_cast<uint8_t>(sum + skew));
    std::string text = ":";
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text + "\r\n";
}

std::vector<uint8_t> Bytes(int count, int first = 0) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i)
        bytes.push_back(static_cast<uint8_t>(first + i));
    return bytes;
}

class HexReaderTest : public ::testing::Test {
  protected:
    std::string path = ::testing::TempDir() + "hexreader-" + std::to_string(getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hex";
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageBufferSize, 0);
    std::vector<int32_t> percents;

    void TearDown() override { std::remove(path.c_str()); }
    HexReadResult Read(const std::string& text) {
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        return ReadHexFile(
            path.c_str(), image.data(),
            [](void* user, int32_t percent) {
                static_cast<HexReaderTest*>(user)->percents.push_back(percent);
            },
            this);
    }
    int CountNotFF() const {
        int n = 0;
        for (uint8_t b : image)
            n += b != 0xFF;
        return n;
    }
};

TEST_F(HexReaderTest, Outcomes) {
    const std::string end = Record(0, 1, {});
    std::string cut; // a download cut short: the first third of an image
    for (int a = 0; a < kLoadLimit / 3 - 15; a += 16)
        cut += Record(a, 0, Bytes(16));
    struct Case {
        const char* name;
        std::string text;
        HexReadResult result;
        int stored; // bytes that are not 0xFF afterwards
    } cases[] = {
        // Only the end record makes a file whole, however it ends.
        {"empty file", "", HexReadResult::Damaged, 0},
        {"no colon", "just some text\r\n", HexReadResult::Damaged, 0},
        {"no end record", Record(0x10, 0, Bytes(4, 1)), HexReadResult::Damaged, 4},
        {"cut: a third of the records", cut, HexReadResult::Damaged, kLoadLimit / 3 / 16 * 16},
        {"records after end", Record(0, 0, {1}) + end + Record(2, 0, {2}), HexReadResult::Done, 1},
        {"types 02 and 04 are data", Record(0, 2, {1}) + Record(8, 4, {2}) + end,
         HexReadResult::Done, 2},
        {"text between records", "x" + Record(0, 0, {1}) + "junk\t" + Record(1, 0, {2}) + end,
         HexReadResult::Done, 2},
        {"FEF0 stored whole", Record(0xFEF0, 0, Bytes(16, 1)) + end, HexReadResult::Done, 16},
        {"FEF8 overflows after 8", Record(0xFEF8, 0, Bytes(16, 1)) + end,
         HexReadResult::AddressOverflow, 8},
        {"check sum off by one", Record(0, 0, {1, 2}, 1) + end, HexReadResult::Damaged, 0},
        {"count too large", ":0300000001FC\r\n", HexReadResult::Damaged, 0},
        {"lone colon", ":\r\n", HexReadResult::Damaged, 0},
        {"pair cut short", ":0100000001F\r\n", HexReadResult::Damaged, 0},
        {"earlier records stay", Record(0, 0, {1}) + Record(1, 0, {2}, 1), HexReadResult::Damaged,
         1},
        {"two records on one line", Record(0, 0, {1}).substr(0, 13) + Record(1, 0, {2}) + end,
         HexReadResult::Damaged, 0},
        // 251 data bytes fill the record buffer exactly; one more does not fit.
        {"251 data bytes", Record(0, 0, Bytes(251, 1)) + end, HexReadResult::Done, 251},
        {"252 data bytes", Record(0, 0, Bytes(252, 1)) + end, HexReadResult::Damaged, 0},
        {"endless digits", ":" + std::string(5000, '0') + "\r\n", HexReadResult::Damaged, 0},
        // 0x1A ends the file in both builds; nothing after it is read, not
        // even an end record.
        {"0x1A ends the file", Record(0, 0, {1}) + "\x1A" + end, HexReadResult::Damaged, 1},
        {"0x1A after the end record", Record(0, 0, {1}) + end + "\x1A", HexReadResult::Done, 1},
        {"0x1A ends a record and the file", ":0100000001FE\x1A" + end, HexReadResult::Damaged, 1},
        {"0x1A inside a record",
         ":01000000\x1A"
         "01FE\r\n" +
             end,
         HexReadResult::Damaged, 0},
        // Bytes 0x80-0xFF are characters above "0": skipped before a colon.
        {"high bytes before a colon", "\xE9\xFF" + Record(0, 0, {1}) + end, HexReadResult::Done, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.result, Read(c.text));
        EXPECT_EQ(c.stored, CountNotFF());
        for (int32_t a = kLoadLimit; a < kImageBufferSize; ++a)
            ASSERT_EQ(0xFF, image[a]);
    }
}

TEST_F(HexReaderTest, StoresBytesAtTheirAddresses) {
    std::string lower = Record(0x1234, 0, {0xAB, 0xCD, 0xEF});
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    ASSERT_EQ(HexReadResult::Done, Read(lower + Record(0xFEFF, 0, {0x5A}) + ":00000001ff"));
    EXPECT_EQ(0xAB, image[0x1234]);
    EXPECT_EQ(0xCD, image[0x1235]);
    EXPECT_EQ(0xEF, image[0x1236]);
    EXPECT_EQ(0x5A, image[0xFEFF]);
    EXPECT_EQ(0xFF, image[0x1237]);
}

TEST_F(HexReaderTest, HighByteInsideARecordIsADigit) {
    // 0xE9 counts as a digit of value 146: "\xE9" "0" gives 0x20, and this
    // record's check sum is right for that.
    ASSERT_EQ(HexReadResult::Done, Read(":01000000\xE9"
                                        "0DF\r\n:00000001FF"));
    EXPECT_EQ(0x20, image[0]);
}

TEST_F(HexReaderTest, ProgressFollowsTheDataByteTotal) {
    std::string text;
    for (int a = 0; a < kLoadLimit; a += 16)
        text += Record(a, 0, Bytes(16, a));
    ASSERT_EQ(HexReadResult::Done, Read(text + Record(0, 1, {})));
    ASSERT_EQ(4080u, percents.size());
    EXPECT_EQ(50, percents[32768 / 16 - 1]);
    EXPECT_EQ(99, percents.back());

    // Repeated records bring more data bytes than an image holds: the bar
    // stays full (a large enough file once overflowed the count).
    percents.clear();
    for (int a = 0; a < 4200 * 16; a += 16)
        text += Record(a % kLoadLimit, 0, Bytes(16));
    ASSERT_EQ(HexReadResult::Done, Read(text + Record(0, 1, {})));
    EXPECT_EQ(100, percents[65536 / 16 - 1]);
    EXPECT_EQ(100, *std::max_element(percents.begin(), percents.end()));
}

TEST_F(HexReaderTest, UnopenableFileLeavesTheImage) {
    image.assign(kImageBufferSize, 0x11);
    EXPECT_EQ(HexReadResult::CannotOpen,
              ReadHexFile((path + ".missing").c_str(), image.data(), nullptr, nullptr));
    EXPECT_EQ(0x11, image[0]);
    EXPECT_STREQ("Unable to open file!", HexReadMessage(HexReadResult::CannotOpen));
    EXPECT_STREQ("Damaged F/W file!", HexReadMessage(HexReadResult::Damaged));
    EXPECT_STREQ("Damaged F/W file! (Address Overflow)",
                 HexReadMessage(HexReadResult::AddressOverflow));
}

TEST(ReadBlock, CountsConsumedCharacters) {
    static const char kText[] = "ab:0100000001FE\r\n:00000001FF";
    HexText text;
    OpenHexText(text, reinterpret_cast<const uint8_t*>(kText), sizeof kText - 1);
    uint8_t block[kBlockSize];
    int32_t total = 0;
    EXPECT_EQ(1, ReadBlock(text, block, total));
    EXPECT_EQ(2 + 1 + 12, total);
    EXPECT_EQ(0, block[0]);
    EXPECT_EQ(0, block[1]);
    EXPECT_EQ(1, block[2]);
    EXPECT_EQ(1, block[3]);
    EXPECT_EQ(0, ReadBlock(text, block, total)); // the end record
    EXPECT_EQ(15, total);

    // The count saturates instead of wrapping into the damaged mark; the end
    // of the text before an end record is damage.
    OpenHexText(text, reinterpret_cast<const uint8_t*>(kText), sizeof kText - 1);
    total = INT32_MAX - 3;
    EXPECT_EQ(1, ReadBlock(text, block, total));
    EXPECT_EQ(INT32_MAX, total);
    EXPECT_EQ(0, ReadBlock(text, block, total));
    EXPECT_EQ(0, ReadBlock(text, block, total));
    EXPECT_EQ(-1, total);
}

TEST(CharToByte, ConvertsEveryCharacterByOneRule) {
    struct {
        char high, low;
        uint8_t value;
    } cases[] = {{'0', '0', 0x00}, {'9', 'f', 0x9F}, {'A', 'b', 0xAB},
                 {'F', 'F', 0xFF}, {'G', '0', 0x00}, {'0', 'G', 0x10}};
    for (const auto& c : cases)
        EXPECT_EQ(c.value, CharToByte(static_cast<uint8_t>(c.high), static_cast<uint8_t>(c.low)))
            << c.high << c.low;
}

} // namespace
