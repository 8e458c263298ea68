// JSON as both console tools write it: one object on one line, members in
// the order they were put, ASCII only. Text from an image or a drive is
// 8-bit: each byte is one character, so every byte outside printable ASCII
// is written as \u00XX (bytes above 0x7F taken as Latin-1) and a script
// gets every byte back, a NUL included.
#pragma once

// The declarations only: a file that builds a value includes
// <nlohmann/json.hpp> itself, and the others are not slowed by it.
#include <nlohmann/json_fwd.hpp>

#include <string>

namespace corvane {

using Json = nlohmann::ordered_json;

// An 8-bit text as a JSON string. Every text goes in through this.
Json JsonText(const std::string& text);

// The value on one line, without the line break.
std::string JsonLine(const Json& value);

} // namespace corvane
