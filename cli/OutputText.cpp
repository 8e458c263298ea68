#include "cli/OutputText.h"

#include <cstdio>

namespace corvane {

std::string FieldText(const char* field, size_t size) {
    while (size > 0 && field[size - 1] == '\0')
        --size;
    return std::string(field, size);
}

std::string DisplayText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\0') {
            out += ' ';
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace corvane
