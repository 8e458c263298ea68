#include "cli/JsonText.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>

namespace corvane {
namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
    out += escaped;
}

} // namespace

Json JsonText(const std::string& text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return Json(utf8);
}

// The library writes \b \f \n \r \t in short; the tools have always
// written them as \u00XX, and scripts may compare the bytes.
// Replacing, not throwing, keeps a text that bypassed JsonText from ending
// the program; it then shows as U+FFFD.
std::string JsonLine(const Json& value) {
    const std::string dumped = value.dump(-1, ' ', true, Json::error_handler_t::replace);
    static const char kShort[] = "b\bf\fn\nr\rt\t";
    std::string out;
    out.reserve(dumped.size());
    for (size_t i = 0; i < dumped.size(); ++i) {
        const char c = dumped[i];
        const char* shortForm = c == '\\' && i + 1 < dumped.size() && dumped[i + 1] != '\0'
                                    ? std::strchr(kShort, dumped[i + 1])
                                    : nullptr;
        if (shortForm && (shortForm - kShort) % 2 == 0) {
            AppendEscaped(out, static_cast<unsigned char>(shortForm[1]));
            ++i;
        } else if (c == '\\') {
            out += dumped.substr(i, 2); // an escape the tools write alike
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace corvane
