// SetRegistry and GetRegistry on Wine's registry, each test under a scratch
// key of its own that goes away with it.
#include "toolkit/Registry.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
};

TEST_F(RegistryTest, NumberRoundTrip) {
    EXPECT_EQ(1, SetRegistry(HKEY_CURRENT_USER, subkey, "Adapter", 3, nullptr));
    DWORD type = 0;
    std::string stored;
    ASSERT_EQ(1, key.Read("Adapter", &type, &stored));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(std::string("\x03\x00\x00\x00", 4), stored);

    EXPECT_EQ(1, Get("Adapter", true, true));
    EXPECT_EQ(3u, number);
    EXPECT_EQ(Unchanged(), Text());

    EXPECT_EQ(1, SetRegistry(HKEY_CURRENT_USER, subkey, "Adapter", 0xFFFFFFFE, nullptr));
    EXPECT_EQ(1, Get("Adapter", true, false));
    EXPECT_EQ(0xFFFFFFFEu, number);
}

TEST_F(RegistryTest, TextRoundTripStoresOnlyItsCharacters) {
    EXPECT_EQ(1, SetRegistry(HKEY_CURRENT_USER, subkey, "CodeName", 0, "Brindlemoss"));
    DWORD type = 0;
    std::string stored;
    ASSERT_EQ(1, key.Read("CodeName", &type, &stored));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ("Brindlemoss", stored);

    EXPECT_EQ(1, Get("CodeName", true, true));
    EXPECT_STREQ("Brindlemoss", text);
    EXPECT_EQ(kUntouched, number);

    SetRegistry(HKEY_CURRENT_USER, subkey, "Five", 0, "abcde");
    ASSERT_EQ(1, key.Read("Five", &type, &stored));
    EXPECT_EQ(5u, stored.size());

    SetRegistry(HKEY_CURRENT_USER, subkey, "Empty", 0, "");
    ASSERT_EQ(1, key.Read("Empty", &type, &stored));
    EXPECT_EQ(0u, stored.size());
    EXPECT_EQ(1, Get("Empty", false, true));
    EXPECT_STREQ("", text);
}

TEST_F(RegistryTest, BothGivenWritesTheText) {
    EXPECT_EQ(1, SetRegistry(HKEY_CURRENT_USER, subkey, "Mixed", 77, "abc"));
    DWORD type = 0;
    std::string stored;
    ASSERT_EQ(1, key.Read("Mixed", &type, &stored));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ("abc", stored);
    EXPECT_EQ(0, Get("Mixed", true, false));
    EXPECT_EQ(kUntouched, number);
}

TEST_F(RegistryTest, AValueOfAnotherKindReadsAsAbsent) {
    SetRegistry(HKEY_CURRENT_USER, subkey, "Morphing", 1, nullptr);
    EXPECT_EQ(0, Get("Morphing", false, true));
    EXPECT_EQ(Unchanged(), Text());

    SetRegistry(HKEY_CURRENT_USER, subkey, "Adapter", 0, "2");
    EXPECT_EQ(0, Get("Adapter", true, false));
    EXPECT_EQ(kUntouched, number);
    EXPECT_EQ(0, Get("Adapter", false, false));

    const unsigned char blob[4] = {1, 0, 0, 0};
    key.WriteRaw("Target", REG_BINARY, blob, sizeof blob);
    EXPECT_EQ(0, Get("Target", true, true));
    EXPECT_EQ(kUntouched, number);
    EXPECT_EQ(Unchanged(), Text());
}

TEST_F(RegistryTest, MissingKeyOrValueReadsAsAbsentAndCreatesNothing) {
    EXPECT_EQ(0, Get("Adapter", true, true));
    EXPECT_FALSE(key.Exists());
    EXPECT_EQ(kUntouched, number);
    EXPECT_EQ(Unchanged(), Text());

    SetRegistry(HKEY_CURRENT_USER, subkey, "X", 10, nullptr);
    EXPECT_EQ(0, Get("Y", true, true));
    EXPECT_EQ(kUntouched, number);
}

TEST_F(RegistryTest, TextsThatDoNotFitTheDestinationReadAsAbsent) {
    const std::string longest(127, 'L');
    SetRegistry(HKEY_CURRENT_USER, subkey, "Longest", 0, longest.c_str());
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
    SetRegistry(HKEY_CURRENT_USER, subkey, "Full", 0, full.c_str());
    EXPECT_EQ(0, Get("Full", true, true));
    EXPECT_EQ(Unchanged(), Text());
    EXPECT_EQ(kUntouched, number);

    const std::string over(300, 'O');
    SetRegistry(HKEY_CURRENT_USER, subkey, "Over", 0, over.c_str());
    EXPECT_EQ(0, Get("Over", true, true));
    EXPECT_EQ(Unchanged(), Text());

    DWORD type = 0;
    std::string stored;
    ASSERT_EQ(1, key.Read("Over", &type, &stored));
    EXPECT_EQ(over, stored) << "the write itself is not cut";
}

TEST_F(RegistryTest, AKeyThatCannotBeOpenedAnswersZero) {
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(0, SetRegistry(bogus, "SOFTWARE\\CorvaneTest", "X", 1, nullptr));
    EXPECT_EQ(0, GetRegistry(bogus, "SOFTWARE\\CorvaneTest", "X", &number, text));
    EXPECT_EQ(kUntouched, number);
}

} // namespace
