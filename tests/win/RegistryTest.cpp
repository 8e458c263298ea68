// SetRegistry and GetRegistry on Wine's registry, each test under a scratch
// key of its own that goes away with it.
#include "toolkit/Registry.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

using toolkit::GetRegistry;
using toolkit::SetRegistry;
using wintest::ScratchKey;

namespace {

const DWORD kUntouched = 0xA5A5A5A5;

class RegistryTest : public ::testing::Test {
  protected:
    ScratchKey key;
    const char* subkey = nullptr;
    DWORD number = kUntouched;
    // The 128-byte destination and a guard behind it.
    char text[toolkit::kRegistryTextSize + 32];

    void SetUp() override {
        subkey = key.path.c_str();
        std::memset(text, '#', sizeof text);
    }

    std::string Unchanged() const { return std::string(sizeof text, '#'); }
    std::string Text() const { return std::string(text, sizeof text); }
    int Get(const char* name, bool wantNumber, bool wantText) {
        return GetRegistry(HKEY_CURRENT_USER, subkey, name, wantNumber ? &number : nullptr,
                           wantText ? text : nullptr);
    }
    int Set(const char* name, DWORD value, const char* valueText) {
        return SetRegistry(HKEY_CURRENT_USER, subkey, name, value, valueText);
    }
    // The kind and the bytes stored under `name`, read past the code under test.
    std::pair<DWORD, std::string> Stored(const char* name) const {
        std::pair<DWORD, std::string> stored{0, "(absent)"};
        EXPECT_EQ(1, key.Read(name, &stored.first, &stored.second)) << name;
        return stored;
    }
    // Neither destination written: both still hold what SetUp put there.
    void ExpectUntouched() const {
        EXPECT_EQ(kUntouched, number);
        EXPECT_EQ(Unchanged(), Text());
    }
};

using Kind = std::pair<DWORD, std::string>;

TEST_F(RegistryTest, NumberRoundTrip) {
    EXPECT_EQ(1, Set("Adapter", 3, nullptr));
    EXPECT_EQ(Kind(REG_DWORD, std::string("\x03\x00\x00\x00", 4)), Stored("Adapter"));

    EXPECT_EQ(1, Get("Adapter", true, true));
    EXPECT_EQ(3u, number);
    EXPECT_EQ(Unchanged(), Text());

    EXPECT_EQ(1, Set("Adapter", 0xFFFFFFFE, nullptr));
    EXPECT_EQ(1, Get("Adapter", true, false));
    EXPECT_EQ(0xFFFFFFFEu, number);
}

TEST_F(RegistryTest, TextRoundTripStoresOnlyItsCharacters) {
    EXPECT_EQ(1, Set("CodeName", 0, "Brindlemoss"));
    EXPECT_EQ(Kind(REG_SZ, "Brindlemoss"), Stored("CodeName"));

    EXPECT_EQ(1, Get("CodeName", true, true));
    EXPECT_STREQ("Brindlemoss", text);
    EXPECT_EQ(kUntouched, number);

    Set("Five", 0, "abcde");
    EXPECT_EQ(5u, Stored("Five").second.size());
    Set("Empty", 0, "");
    EXPECT_EQ(Kind(REG_SZ, ""), Stored("Empty"));
    EXPECT_EQ(1, Get("Empty", false, true));
    EXPECT_STREQ("", text);
}

TEST_F(RegistryTest, BothGivenWritesTheText) {
    EXPECT_EQ(1, Set("Mixed", 77, "abc"));
    EXPECT_EQ(Kind(REG_SZ, "abc"), Stored("Mixed"));
    EXPECT_EQ(0, Get("Mixed", true, false));
    EXPECT_EQ(kUntouched, number);
}

TEST_F(RegistryTest, AValueOfAnotherKindReadsAsAbsent) {
    Set("Morphing", 1, nullptr);
    EXPECT_EQ(0, Get("Morphing", false, true));
    EXPECT_EQ(Unchanged(), Text());

    Set("Adapter", 0, "2");
    EXPECT_EQ(0, Get("Adapter", true, false));
    EXPECT_EQ(kUntouched, number);
    EXPECT_EQ(0, Get("Adapter", false, false));

    const unsigned char blob[4] = {1, 0, 0, 0};
    key.WriteRaw("Target", REG_BINARY, blob, sizeof blob);
    EXPECT_EQ(0, Get("Target", true, true));
    ExpectUntouched();
}

TEST_F(RegistryTest, MissingKeyOrValueReadsAsAbsentAndCreatesNothing) {
    EXPECT_EQ(0, Get("Adapter", true, true));
    EXPECT_FALSE(key.Exists());
    ExpectUntouched();

    Set("X", 10, nullptr);
    EXPECT_EQ(0, Get("Y", true, true));
    EXPECT_EQ(kUntouched, number);
}

TEST_F(RegistryTest, TextsThatDoNotFitTheDestinationReadAsAbsent) {
    const std::string longest(127, 'L');
    Set("Longest", 0, longest.c_str());
    EXPECT_EQ(1, Get("Longest", false, true));
    EXPECT_EQ(longest + '\0' + std::string(32, '#'), Text());

    // Another writer may have stored the terminator as well: 128 bytes.
    std::memset(text, '#', sizeof text);
    key.WriteRaw("Terminated", REG_SZ, longest.c_str(), 128);
    EXPECT_EQ(1, Get("Terminated", false, true));
    EXPECT_EQ(longest + '\0' + std::string(32, '#'), Text());

    // 128 characters fill the read buffer with no terminator; more do not fit at all.
    std::memset(text, '#', sizeof text);
    const std::string full(128, 'F');
    Set("Full", 0, full.c_str());
    EXPECT_EQ(0, Get("Full", true, true));
    ExpectUntouched();

    const std::string over(300, 'O');
    Set("Over", 0, over.c_str());
    EXPECT_EQ(0, Get("Over", true, true));
    ExpectUntouched();
    EXPECT_EQ(over, Stored("Over").second) << "the write itself is not cut";
}

TEST_F(RegistryTest, AKeyThatCannotBeOpenedAnswersZero) {
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(0, SetRegistry(bogus, "SOFTWARE\\CorvaneTest", "X", 1, nullptr));
    EXPECT_EQ(0, GetRegistry(bogus, "SOFTWARE\\CorvaneTest", "X", &number, text));
    EXPECT_EQ(kUntouched, number);
}

} // namespace
