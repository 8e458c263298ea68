// The wildcard matcher that takes every text of the command layer apart.
//
// `*` takes the shortest stretch up to the first occurrence of the pattern
// character that follows it (all the rest when it ends the pattern); `?` takes
// one character; anything else must match exactly. There is no backtracking.
// Each `*` and `?` reached writes the next capture, also when the match then
// fails; captures never reached are left as they were.
#pragma once

#include "command/StringEx.h"

// The captures come as a counted list: a pattern with more wildcards than
// captures matches all the same, and the surplus parts are not stored.
bool MatchList(const StringEx& subject, const char* pattern, StringEx* const* captures,
               int captureCount);
// The same on a plain text (null reads as empty).
bool MatchList(const char* subject, const char* pattern, StringEx* const* captures,
               int captureCount);

template <typename... Captures>
bool Match(const StringEx& subject, const char* pattern, Captures... captures) {
    StringEx* list[sizeof...(captures) + 1] = {captures..., nullptr};
    return MatchList(subject, pattern, list, static_cast<int>(sizeof...(captures)));
}
