// The one JSON writer of both console tools: 8-bit text in, ASCII out, every
// byte outside printable ASCII as \u00XX, as scripts have always read it.
#include "cli/JsonText.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {

using corvane::Json;
using corvane::JsonLine;
using corvane::JsonText;

TEST(JsonText, EveryByteOutsidePrintableAsciiIsEscapedAsOneCharacter) {
    const struct {
        std::string text;
        const char* json;
    } cases[] = {
        {std::string("A\0B", 3), "\"A\\u0000B\""},
        {"\t\n\r\b\f", "\"\\u0009\\u000a\\u000d\\u0008\\u000c\""},
        {"\x1B[2J\x7F", "\"\\u001b[2J\\u007f\""},
        {"\x80\xE9\xFF", "\"\\u0080\\u00e9\\u00ff\""},
        {"a\"b\\c/", "\"a\\\"b\\\\c/\""},
        // A backslash of the text before a letter is no escape to rewrite.
        {"\\n\\\\t", "\"\\\\n\\\\\\\\t\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.json, JsonLine(JsonText(c.text))) << c.json;
}

TEST(JsonText, AnyTextComesBackWholeFromItsJson) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    const std::string line = JsonLine(JsonText(all));
    for (char c : line)
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << int(c);
    // Decoded from UTF-8 to one byte a character.
    const std::string utf8 = Json::parse(line).get<std::string>();
    std::string bytes;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        bytes += c < 0x80 ? static_cast<char>(c)
                          : static_cast<char>((c & 0x03) << 6 | (utf8[++i] & 0x3F));
    }
    EXPECT_EQ(all, bytes);
}

TEST(JsonText, MembersKeepTheOrderTheyWerePut) {
    Json out;
    out["result"] = JsonText("ok");
    out["mode"] = Json(nullptr);
    out["transferSent"] = false;
    out["after"] = Json::array();
    out["key"] = 3;
    EXPECT_EQ("{\"result\":\"ok\",\"mode\":null,\"transferSent\":false,\"after\":[],\"key\":3}",
              JsonLine(out));
}

} // namespace
