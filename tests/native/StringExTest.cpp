#include "command/StringEx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(StringEx, CapacityIsChosenAtConstruction) {
    StringEx plain;
    EXPECT_EQ(260, plain.capacity);
    EXPECT_STREQ("", plain.data);
    StringEx sized(15);
    EXPECT_EQ(15, sized.capacity);
    StringEx copy("ABC");
    EXPECT_EQ(5, copy.capacity);
    EXPECT_STREQ("ABC", copy.data);
    StringEx one('x');
    EXPECT_EQ(2, one.capacity);
    EXPECT_STREQ("x", one.data);
    StringEx none(0);
    EXPECT_EQ(1, none.capacity) << "room for the terminator at least";
    none = "A";
    EXPECT_STREQ("", none.data);
}

namespace {

// A text of capacity 5 at the front of a larger buffer of the test's own:
// a write past the capacity lands on the guard bytes behind it.
struct GuardBytes {
    static constexpr int kCapacity = 5;
    char bytes[kCapacity + 8];
    GuardBytes() { std::memset(bytes, 'G', sizeof bytes); }
};
struct GuardedText : private GuardBytes, public StringEx {
    GuardedText() : StringEx(bytes, kCapacity) {}
    using StringEx::operator=;
    std::string Guard() const { return std::string(bytes + kCapacity, sizeof bytes - kCapacity); }
};

} // namespace

TEST(StringEx, AssignAndAppendCutAtTheCapacity) {
    GuardedText text;
    const std::string intact = text.Guard();
    text = "ABCDEFGH";
    EXPECT_STREQ("ABCD", text.data);
    EXPECT_EQ(4, text.GetLength());

    text = "AB";
    text += "CDEF";
    EXPECT_STREQ("ABCD", text.data);
    text += "X";
    EXPECT_STREQ("ABCD", text.data);

    StringEx other("1234567");
    text = other;
    EXPECT_STREQ("1234", text.data);
    text = "";
    text += other;
    EXPECT_STREQ("1234", text.data);
    text.Assign("ABCDEFGH", 8);
    EXPECT_STREQ("ABCD", text.data);
    EXPECT_EQ(intact, text.Guard()) << "nothing written past the capacity";
}

TEST(StringEx, AssignAndAppendFromItself) {
    StringEx text(9);
    text = "ABCDE";
    text += text;
    EXPECT_STREQ("ABCDEABC", text.data);
    text = text.GetPtr(5);
    EXPECT_STREQ("ABC", text.data);
    text = text;
    EXPECT_STREQ("ABC", text.data);
    text.Assign("XYZW", 2);
    EXPECT_STREQ("XY", text.data);
}

TEST(StringEx, DeleteRemovesFromTheFront) {
    StringEx text("ABC");
    text.Delete(0);
    EXPECT_STREQ("ABC", text.data);
    text.Delete(1);
    EXPECT_STREQ("BC", text.data);
    text.Delete(2);
    EXPECT_STREQ("", text.data);
    StringEx again("ABC");
    again.Delete(3);
    EXPECT_STREQ("", again.data);
    again = "ABC";
    again.Delete(10);
    EXPECT_STREQ("", again.data) << "a count past the end empties the text";
}

TEST(StringEx, FindAndFindRange) {
    StringEx text("1A:2B:");
    EXPECT_EQ(0, text.Find(""));
    EXPECT_EQ(-1, text.Find("C"));
    EXPECT_EQ(2, text.Find(":"));
    EXPECT_EQ(3, text.Find("2B:"));
    EXPECT_EQ(-1, text.Find("2B::"));

    EXPECT_EQ(0, text.FindRange('0', '9', 1));
    EXPECT_EQ(3, text.FindRange('0', '9', 0));
    EXPECT_EQ(1, text.FindRange('A', 'Z', 1));
    EXPECT_EQ(4, text.FindRange('A', 'Z', 0));
    StringEx letters("abc");
    EXPECT_EQ(3, letters.FindRange('0', '9', 0)) << "nothing found is the length, not -1";
    EXPECT_EQ(3, letters.FindRange('0', '9', 1));

    // Bytes from 0x80 up are negative: they lie below every digit.
    StringEx high("A\xC8"
                  "5");
    EXPECT_EQ(1, high.FindRange('\x80', '0', 1));
    EXPECT_EQ(2, high.FindRange('\x01', '\x7F', 0));
    EXPECT_EQ(3, high.FindRange('9', '\xFF', 1)) << "an empty range when low > high";
}

TEST(StringEx, GetPtrStaysInsideTheText) {
    StringEx text("ABC");
    EXPECT_EQ(text.data, text.GetPtr(0));
    EXPECT_STREQ("C", text.GetPtr(2));
    EXPECT_STREQ("", text.GetPtr(3));
    EXPECT_STREQ("", text.GetPtr(99));
    EXPECT_STREQ("ABC", text.GetPtr(-4));
}

TEST(StringEx, MakeUpperTouchesLettersOnly) {
    StringEx text("d'46 /r(x)\xE4z");
    text.MakeUpper();
    EXPECT_STREQ("D'46 /R(X)\xE4Z", text.data);
}

TEST(FixedStringEx, HoldsItsTextInsideAndCutsAtItsCapacity) {
    FixedStringEx<5> text;
    EXPECT_EQ(5, text.capacity);
    EXPECT_STREQ("", text.data);
    const char* inside = reinterpret_cast<const char*>(&text);
    EXPECT_TRUE(text.data >= inside && text.data + 5 <= inside + sizeof text) << "no heap buffer";
    text = "ABCDEFG";
    EXPECT_STREQ("ABCD", text.data);
    text = "AB";
    text += "CDEF";
    EXPECT_STREQ("ABCD", text.data);
    FixedStringEx<3> other;
    other = text;
    EXPECT_STREQ("AB", other.data);
    text = other.MakeUpper();
    EXPECT_STREQ("AB", text.data);
}
