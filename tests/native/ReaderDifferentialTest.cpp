// The fast reader and identification against the ones kept as reference:
// for every file, the same verdict, message, progress percentages, image
// bytes and identity. Files: the fuzzers' corpora and generated ones (valid,
// damaged, cut, overflowing, random, with 0x1A and bytes 0x80-0xFF).
#include "../support/ReferenceReader.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

typedef HexReadResult (*FileReader)(const char*, uint8_t*, HexProgress, void*);

struct Outcome {
    HexReadResult result = HexReadResult::CannotOpen;
    std::vector<int32_t> percents;
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageBufferSize, 0x11);
    FirmwareInfo info = {};
};

void Record(void* user, int32_t percent) {
    static_cast<Outcome*>(user)->percents.push_back(percent);
}

std::string Describe(const Outcome& o) {
    return std::string(HexReadMessage(o.result)) + " after " + std::to_string(o.percents.size()) +
           " records; " + o.info.modelName + " " + o.info.version + " protocol " +
           std::to_string(o.info.protocol) + " sum " + std::to_string(o.info.checkSum);
}

bool operator==(const Outcome& a, const Outcome& b) {
    return a.result == b.result && a.percents == b.percents && a.image == b.image &&
           std::memcmp(&a.info, &b.info, sizeof a.info) == 0;
}

class ReaderDifferential : public ::testing::Test {
  protected:
    std::string path = ::testing::TempDir() + "differential-" + std::to_string(getpid()) + ".hex";
    std::mt19937 random{20261209};
    int checked = 0;

    void TearDown() override { std::remove(path.c_str()); }

    // Identified whatever the verdict: the page only does so after a read,
    // but every image the reader leaves must identify alike.
    template <typename Read> Outcome Run(Read read, bool identifyFast) {
        Outcome o;
        o.result = read(o);
        if (identifyFast)
            IdentifyImage(o.image.data(), kImageSize, o.info);
        else
            reference::IdentifyImage(o.image.data(), kImageSize, o.info);
        return o;
    }

    void Check(const std::string& text, const std::string& name) {
        std::ofstream(path, std::ios::binary) << text;
        const Outcome want = Run(
            [&](Outcome& o) {
                return reference::ReadHexFile(path.c_str(), o.image.data(), Record, &o);
            },
            false);
        const Outcome byFile =
            Run([&](Outcome& o) { return ReadHexFile(path.c_str(), o.image.data(), Record, &o); },
                true);
        const Outcome byText = Run(
            [&](Outcome& o) {
                return ReadHexText(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                   o.image.data(), Record, &o);
            },
            true);
        // The smallest chunk: a record straddles a refill every few records.
        const Outcome byChunks = Run(
            [&](Outcome& o) {
                FILE* file = std::fopen(path.c_str(), "rb");
                const HexReadResult r = ReadHexStream(file, o.image.data(), Record, &o, 0);
                std::fclose(file);
                return r;
            },
            true);
        // Record by record too: the same blocks and character counts.
        FILE* file = std::fopen(path.c_str(), "rb");
        HexText memory;
        OpenHexText(memory, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        uint8_t wantBlock[kBlockSize], gotBlock[kBlockSize];
        int32_t wantTotal = 0, gotTotal = 0;
        for (int r = 0;; ++r) {
            const uint8_t wantMore = reference::ReadBlock(file, wantBlock, wantTotal);
            const uint8_t gotMore = ReadBlock(memory, gotBlock, gotTotal);
            ASSERT_EQ(wantMore, gotMore) << name << ", record " << r;
            ASSERT_EQ(wantTotal, gotTotal) << name << ", record " << r;
            if (!wantMore)
                break;
            ASSERT_EQ(0, std::memcmp(wantBlock, gotBlock, 3u + wantBlock[2])) << name;
        }
        std::fclose(file);
        EXPECT_TRUE(want == byFile) << name << ": " << Describe(want) << " / " << Describe(byFile);
        EXPECT_TRUE(want == byText) << name << ": " << Describe(want) << " / " << Describe(byText);
        EXPECT_TRUE(want == byChunks)
            << name << ": " << Describe(want) << " / " << Describe(byChunks);
        ++checked;
    }

    std::string Synthetic(FwProtocol protocol, int32_t length, bool withTemplate = true) {
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        recipe.protocol = protocol;
        recipe.length = length;
        recipe.withTemplate = withTemplate;
        recipe.seed = random();
        EXPECT_EQ(1, SaveSyntheticImage(path.c_str(), recipe));
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    size_t Below(size_t n) { return n ? random() % n : 0; }

    // What can go wrong in a HEX file, one character at a time.
    char Mischief() {
        static const char kChars[] = "0123456789ABCDEFabcdefGg:\r\n \t\x1A/\x80\xE9\xFF";
        return random() % 8 ? kChars[Below(sizeof kChars - 1)] : static_cast<char>(random());
    }
};

TEST_F(ReaderDifferential, FuzzCorpora) {
    namespace fs = std::filesystem;
    for (const auto& entry :
         fs::recursive_directory_iterator(CORVANE_SOURCE_DIR "/tests/fuzz/corpus")) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        Check(std::string(std::istreambuf_iterator<char>(in), {}), entry.path().string());
    }
    EXPECT_GT(checked, 20) << "the corpora were not found";
}

TEST_F(ReaderDifferential, GeneratedFiles) {
    const std::string end = ":00000001FF\r\n";
    // Valid: every protocol, with and without a template, short and full.
    for (FwProtocol protocol :
         {FwProtocolNone, FwProtocolType20, FwProtocolType21, FwProtocolType22})
        for (int32_t length : {0, 1, 17, 600, int32_t(kLoadLimit)})
            Check(Synthetic(protocol, length, length != 600), "valid");
    const std::string whole = Synthetic(FwProtocolType22, kLoadLimit);
    const std::string small = Synthetic(FwProtocolType21, 2048);

    // Damaged: one character changed, taken away or added.
    for (int i = 0; i < 300; ++i) {
        std::string text = small;
        const size_t at = Below(text.size());
        switch (i % 3) {
        case 0:
            text[at] = Mischief();
            break;
        case 1:
            text.erase(at, 1 + Below(3));
            break;
        default:
            text.insert(at, 1 + Below(3), Mischief());
        }
        Check(text, "damaged " + std::to_string(i));
    }
    // Cut: anywhere, and a third of the records.
    size_t third = 0;
    for (int line = 0; line < kLoadLimit / 16 / 3; ++line)
        third = whole.find('\n', third) + 1;
    Check(whole.substr(0, third), "a third of the records");
    for (int i = 0; i < 30; ++i)
        Check(whole.substr(0, Below(whole.size())), "cut");
    // Overflowing: addresses at and past the load limit, and repeated records
    // far past what an image holds, across the reader's chunks.
    for (const char* record : {":10FEF000000102030405060708090A0B0C0D0E0F8A\r\n",
                               ":10FEF800000102030405060708090A0B0C0D0E0F82\r\n",
                               ":00FF000001\r\n:01FF0000AA56\r\n", ":00FFFF0002\r\n"})
        Check(record + end, "overflow");
    std::string repeated;
    while (repeated.size() < 3 * kHexChunk)
        repeated += small.substr(0, small.size() - end.size());
    Check(repeated + end, "repeated records");
    // Records about the size of the record buffer, their count and check sum
    // right for their length, and digits without an end.
    for (int pairs = 250; pairs <= 266; ++pairs)
        for (const char* after : {"\r\n", "", "\x1A"}) {
            char count[3];
            std::snprintf(count, sizeof count, "%02X", (pairs - 5) & 0xFF);
            std::string text = std::string(":") + count;
            for (int k = 1; k < pairs - 1; ++k)
                text += "00";
            std::snprintf(count, sizeof count, "%02X", (5 - pairs) & 0xFF);
            Check(text + count + after + end, "long record");
        }
    // 0x1A and bytes 0x80-0xFF put in anywhere.
    for (int i = 0; i < 60; ++i) {
        std::string text = small;
        text.insert(Below(text.size()), 1, i % 2 ? '\x1A' : static_cast<char>(0x80 + Below(128)));
        Check(text, "0x1A or a high byte");
    }
    // Random bytes, and random text of HEX characters.
    for (int i = 0; i < 200; ++i) {
        std::string text(Below(3000), '\0');
        for (char& ch : text)
            ch = i % 2 ? Mischief() : static_cast<char>(random());
        Check(i % 4 == 1 ? ":" + text + end : text, "random");
    }
}

// Identification alone, on buffers of their exact size (a read past one shows
// under the sanitizer) crowded with the patterns' bytes, their beginnings and
// whole patterns, near the ends too.
TEST(IdentifyDifferential, CrowdedBuffers) {
    const std::string kPieces[] = {
        std::string("\x02\x01\x22\x75\x9A\x02\x90\x20\x20\x74\x00\xF0\x00", 13),
        std::string("\x02\x01\x22\x75\x9A\x02\x90", 7),
        "__ELITEDRAM__",
        "__QVTYPE22__",
        "___QVTYPE22__",
        "__QVTYPE2",
        std::string("\x05\x80\x00\x21\x1F\x00\x00\x00VENDOR  PRODUCT NAME    1.02", 36),
        std::string("\x05\x05\x80\x00\x21\x1F", 6),
        std::string("\x05\x80\x00", 3),
    };
    std::mt19937 random(7);
    for (int i = 0; i < 400; ++i) {
        const size_t sizes[] = {0, 1, 15, 16, 17, 31, 33, 4097, kImageSize, kImageBufferSize};
        const size_t size = i < 10 ? sizes[i] : random() % (i % 5 ? 5000 : kImageBufferSize + 1);
        std::vector<uint8_t> image(size);
        for (uint8_t& b : image)
            b = random() % 4 ? static_cast<uint8_t>(random())
                             : static_cast<uint8_t>("\x02\x05_\x00\x80"[random() % 5]);
        for (int k = 0; size && k < 1 + i % 12; ++k) {
            const std::string& piece = kPieces[random() % std::size(kPieces)];
            // Near the end often, so that a template there is cut.
            const size_t at = k == 0 && size > 40 ? size - 1 - random() % 40 : random() % size;
            std::memcpy(image.data() + at, piece.data(), std::min(piece.size(), size - at));
        }
        FirmwareInfo want, got;
        std::memset(&want, 0x5A, sizeof want);
        std::memset(&got, 0xA5, sizeof got);
        reference::IdentifyImage(image.data(), static_cast<int32_t>(size), want);
        IdentifyImage(image.data(), static_cast<int32_t>(size), got);
        ASSERT_EQ(0, std::memcmp(&want, &got, sizeof want))
            << "image " << i << " of " << size << " bytes: " << want.modelName << "/"
            << got.modelName << " " << int(want.protocol) << "/" << int(got.protocol) << " "
            << want.checkSum << "/" << got.checkSum;
    }
}

TEST(CharToByteDifferential, EveryPair) {
    for (int high = 0; high < 256; ++high)
        for (int low = 0; low < 256; ++low)
            ASSERT_EQ(reference::CharToByte(high, low), CharToByte(high, low))
                << high << " " << low;
}

} // namespace
