// What a program under test wrote: a file's whole text, and how often a
// text stands in it.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

// Byte for byte; "" when there is no such file.
inline std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}
