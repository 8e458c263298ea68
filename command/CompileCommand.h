// The command language: a drive command written as text, such as
// "12 0 0 0 d'46 /R46", becomes the pending command of a channel.
//
// Tokens are separated by single spaces. A `%D`, `%X` or `%S` inside a token
// is replaced by the next argument; then a token is an option (/R n, /W n,
// /T seconds), a typed value (B, W, M, D or L followed by the number in
// parentheses) or a plain one-byte value. Values are read in base 16 and
// option numbers in base 10 unless they carry a radix prefix.
//
// Beyond the language's limits the result is cut, never overrun: tokens after
// the 18th run together into the 19th, a token keeps its first 14 characters
// (also after substitution), and bytes after the 12th are dropped. A
// placeholder without a matching argument (none left, or a number where a
// text is wanted or the other way round) drops its token.
#pragma once

#include "command/DeviceChannel.h"
#include "command/StringEx.h"

#include <cstdint>
#include <type_traits>

struct CommandArgument {
    enum Kind { kNumber, kText };
    Kind kind;
    uint32_t number; // %D reads it as signed, %X as unsigned
    const char* text;

    template <typename T, typename = typename std::enable_if<std::is_integral<T>::value>::type>
    CommandArgument(T value) : kind(kNumber), number(static_cast<uint32_t>(value)), text(nullptr) {}
    CommandArgument(const char* value) : kind(kText), number(0), text(value) {}
    CommandArgument(const StringEx& value) : kind(kText), number(0), text(value.data) {}
};

int CompileCommandList(DeviceChannel& channel, const char* text, const CommandArgument* arguments,
                       int argumentCount);

// Always 1: a text that does not follow the language still compiles.
template <typename... Args>
int CompileCommand(DeviceChannel& channel, const char* text, const Args&... args) {
    const CommandArgument list[sizeof...(Args) + 1] = {CommandArgument(args)...,
                                                       CommandArgument(0)};
    return CompileCommandList(channel, text, list, static_cast<int>(sizeof...(Args)));
}
