#include "command/Match.h"

#include <gtest/gtest.h>

namespace {

// A capture that still holds this was never reached.
const char kUntouched[] = "untouched";

struct Captures {
    StringEx a{30}, b{30}, c{30}, d{30};
    Captures() {
        a = kUntouched;
        b = kUntouched;
        c = kUntouched;
        d = kUntouched;
    }
};

} // namespace

TEST(Match, StarTakesUpToTheFirstFollowingCharacter) {
    Captures k;
    EXPECT_TRUE(Match(StringEx("1:2:3:4"), "*:*:*", &k.a, &k.b, &k.c));
    EXPECT_STREQ("1", k.a.data);
    EXPECT_STREQ("2", k.b.data);
    EXPECT_STREQ("3:4", k.c.data) << "a final star takes all the rest";

    Captures m;
    EXPECT_TRUE(Match(StringEx("1:2:"), "*:*:*", &m.a, &m.b, &m.c));
    EXPECT_STREQ("1", m.a.data);
    EXPECT_STREQ("2", m.b.data);
    EXPECT_STREQ("", m.c.data);

    Captures t;
    EXPECT_TRUE(Match(StringEx("A B C D"), "* *", &t.a, &t.b));
    EXPECT_STREQ("A", t.a.data);
    EXPECT_STREQ("B C D", t.b.data) << "spaces included";
}

TEST(Match, WrittenCapturesStayWrittenOnFailure) {
    Captures k;
    EXPECT_FALSE(Match(StringEx("AB"), "*:*", &k.a, &k.b));
    EXPECT_STREQ("AB", k.a.data);
    EXPECT_STREQ(kUntouched, k.b.data);

    Captures w;
    EXPECT_FALSE(Match(StringEx("W(12)X"), "?(*)", &w.a, &w.b));
    EXPECT_STREQ("W", w.a.data);
    EXPECT_STREQ("12", w.b.data);

    Captures one;
    EXPECT_FALSE(Match(StringEx("A B"), "* * *", &one.a, &one.b, &one.c));
    EXPECT_STREQ("A", one.a.data);
    EXPECT_STREQ("B", one.b.data);
    EXPECT_STREQ(kUntouched, one.c.data);

    Captures two;
    EXPECT_TRUE(Match(StringEx("A  B"), "* * *", &two.a, &two.b, &two.c));
    EXPECT_STREQ("A", two.a.data);
    EXPECT_STREQ("", two.b.data);
    EXPECT_STREQ("B", two.c.data);
}

TEST(Match, EmptyTextAndTrailingStars) {
    Captures e;
    EXPECT_TRUE(Match(StringEx(""), "*", &e.a));
    EXPECT_STREQ("", e.a.data);
    EXPECT_TRUE(Match(StringEx(""), ""));
    Captures q;
    EXPECT_FALSE(Match(StringEx(""), "?", &q.a));
    EXPECT_STREQ(kUntouched, q.a.data);
    EXPECT_FALSE(Match(StringEx("A"), ""));

    Captures s;
    EXPECT_FALSE(Match(StringEx("A"), "A**", &s.a, &s.b));
    EXPECT_STREQ("", s.a.data) << "one trailing star matches the end of the text";
    EXPECT_STREQ(kUntouched, s.b.data);
}

TEST(Match, PlaceholderSplit) {
    Captures k;
    EXPECT_TRUE(Match(StringEx("%X"), "*%?*", &k.a, &k.b, &k.c));
    EXPECT_STREQ("", k.a.data);
    EXPECT_STREQ("X", k.b.data);
    EXPECT_STREQ("", k.c.data);

    Captures m;
    EXPECT_TRUE(Match(StringEx("W(%X)"), "*%?*", &m.a, &m.b, &m.c));
    EXPECT_STREQ("W(", m.a.data);
    EXPECT_STREQ("X", m.b.data);
    EXPECT_STREQ(")", m.c.data);

    Captures end;
    EXPECT_FALSE(Match(StringEx("AB%"), "*%?*", &end.a, &end.b, &end.c))
        << "a % that ends the text has no letter";
    EXPECT_STREQ("AB", end.a.data);
    EXPECT_STREQ(kUntouched, end.b.data);
}

TEST(Match, NoBacktrackingAndExactBytes) {
    // The first star stops at the first colon and never gives it back.
    Captures k;
    EXPECT_FALSE(Match(StringEx("A:B:C"), "*:C", &k.a));
    EXPECT_STREQ("A", k.a.data);

    EXPECT_FALSE(Match(StringEx("/r5"), "/R*"));
    EXPECT_TRUE(Match(StringEx("/R5"), "/R*"));

    // Wildcards are plain characters in the text.
    Captures w;
    EXPECT_TRUE(Match(StringEx("*?"), "??", &w.a, &w.b));
    EXPECT_STREQ("*", w.a.data);
    EXPECT_STREQ("?", w.b.data);

    // A star before a star takes the text up to a literal star, if any.
    Captures s;
    EXPECT_TRUE(Match(StringEx("AB*CD"), "**", &s.a, &s.b));
    EXPECT_STREQ("AB", s.a.data);
    EXPECT_STREQ("*CD", s.b.data);
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

TEST(Match, MoreWildcardsThanCaptures) {
    StringEx first(30);
    EXPECT_TRUE(Match(StringEx("1:2:3"), "*:*:*", &first));
    EXPECT_STREQ("1", first.data);
    EXPECT_FALSE(Match(StringEx("1:2"), "*:*:*"));
    StringEx* none[1] = {nullptr};
    EXPECT_TRUE(MatchList(StringEx("A"), "?", none, 1));
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
