// Writing a tool's output file without ever removing a path the tool did
// not make. A regular file (or none yet) is written as a new file beside it
// and renamed over it once whole, so a failure leaves the old file as it
// was. A symbolic link stays a link: the file it names is replaced that way.
// Anything else (a device node, a FIFO, a console) is written in place and
// never removed.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace corvane {

// `write` fills the open file and answers true when all went out. False:
// nothing was put in place of a regular file; `error` says why.
bool WriteOutputFile(const char* path, const std::function<bool(FILE*)>& write, std::string& error);

// The platform's part.
namespace output {

enum class Kind { Missing, Regular, Other };

// What `path` names, a symbolic link followed; `target` is the path to
// replace (the file a link names, else `path`).
Kind Examine(const char* path, std::string& target);
// A new file of that name, created by this call only (binary, for writing).
FILE* CreateNew(const std::string& path);
// The mode of the file at `from` onto the open file, where the platform has one.
void KeepMode(FILE* file, const std::string& from);
// Renames `from` over `to`, replacing it; 1 on success.
bool ReplaceWith(const std::string& from, const std::string& to);
// Makes what was written durable before the rename; 1 on success.
bool Flush(FILE* file);

} // namespace output
} // namespace corvane
