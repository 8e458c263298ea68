#include "command/Match.h"

#include <gtest/gtest.h>

namespace {

// A capture that still holds this was never reached.
const char U[] = "untouched";

struct MatchCase {
    const char* text;
    const char* pattern;
    bool matches;
    int captures;        // how many captures the call is given
    const char* want[4]; // what each of them holds afterwards
    const char* note;
};

const MatchCase kCases[] = {
    // A star takes up to the first following character; a final star all the rest.
    {"1:2:3:4", "*:*:*", true, 3, {"1", "2", "3:4"}, "a final star takes all the rest"},
    {"1:2:", "*:*:*", true, 3, {"1", "2", ""}, ""},
    {"A B C D", "* *", true, 2, {"A", "B C D"}, "spaces included"},
    // Captures written before a failure stay written.
    {"AB", "*:*", false, 2, {"AB", U}, ""},
    {"W(12)X", "?(*)", false, 2, {"W", "12"}, ""},
    {"A B", "* * *", false, 3, {"A", "B", U}, ""},
    {"A  B", "* * *", true, 3, {"A", "", "B"}, ""},
    // Empty text and trailing stars.
    {"", "*", true, 1, {""}, ""},
    {"", "", true, 0, {}, ""},
    {"", "?", false, 1, {U}, ""},
    {"A", "", false, 0, {}, ""},
    {"A", "A**", false, 2, {"", U}, "one trailing star matches the end of the text"},
    // The placeholder split.
    {"%X", "*%?*", true, 3, {"", "X", ""}, ""},
    {"W(%X)", "*%?*", true, 3, {"W(", "X", ")"}, ""},
    {"AB%", "*%?*", false, 3, {"AB", U, U}, "a % that ends the text has no letter"},
    // The first star stops at the first colon and never gives it back.
    {"A:B:C", "*:C", false, 1, {"A"}, "no backtracking"},
    {"/r5", "/R*", false, 0, {}, "exact bytes"},
    {"/R5", "/R*", true, 0, {}, ""},
    {"*?", "??", true, 2, {"*", "?"}, "wildcards are plain characters in the text"},
    {"AB*CD", "**", true, 2, {"AB", "*CD"}, "a star before a star stops at a literal star"},
    // More wildcards than captures.
    {"1:2:3", "*:*:*", true, 1, {"1"}, ""},
    {"1:2", "*:*:*", false, 0, {}, ""},
};

} // namespace

TEST(Match, TableOfCases) {
    for (const MatchCase& c : kCases) {
        StringEx k[4] = {StringEx(30), StringEx(30), StringEx(30), StringEx(30)};
        StringEx* list[5] = {&k[0], &k[1], &k[2], &k[3], nullptr};
        for (StringEx& capture : k)
            capture = U;
        list[c.captures] = nullptr;
        SCOPED_TRACE(std::string(c.text) + " ~ " + c.pattern + " " + c.note);
        EXPECT_EQ(c.matches, MatchList(StringEx(c.text), c.pattern, list, c.captures));
        for (int i = 0; i < c.captures; ++i)
            EXPECT_STREQ(c.want[i], k[i].data) << "capture " << i;
    }
    StringEx* none[1] = {nullptr};
    EXPECT_TRUE(MatchList(StringEx("A"), "?", none, 1));
}

TEST(Match, CapturesAreCutToTheirCapacity) {
    StringEx small(4), rest(30);
    small = "x";
    EXPECT_TRUE(Match(StringEx("ABCDEFGH:1"), "*:*", &small, &rest));
    EXPECT_STREQ("ABC", small.data);
    EXPECT_STREQ("1", rest.data);

    StringEx tiny('z');
    EXPECT_TRUE(Match(StringEx("QRS"), "?*", &tiny, &rest));
    EXPECT_STREQ("Q", tiny.data);
    EXPECT_STREQ("RS", rest.data);
}

TEST(Match, SubjectMayBeItsOwnCapture) {
    StringEx text("H'2E");
    StringEx letter(2);
    EXPECT_TRUE(Match(text, "?'*", &letter, &text));
    EXPECT_STREQ("H", letter.data);
    EXPECT_STREQ("2E", text.data);

    StringEx longText(400);
    for (int i = 0; i < 150; ++i)
        longText += "ab";
    longText += ":z";
    StringEx tail(10);
    EXPECT_TRUE(Match(longText, "*:*", &longText, &tail));
    EXPECT_EQ(300, longText.GetLength());
    EXPECT_STREQ("z", tail.data);
}
