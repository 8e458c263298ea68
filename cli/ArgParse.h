// The command lines of both tools go through one argument library; this is
// where its exceptions stop and where the rules every tool keeps live.
#pragma once

#include "cli/Version.h"

#include <CLI/CLI.hpp>

#include <string>

namespace corvane {

// What ParseArguments found.
enum class Parsed { Go, Help, Version, Bad };

// A command's parser with its own -h/--help (the command prints its own
// text), --version, no Windows-style /options (a path starts with a slash
// there too), and flags that take no value.
void SetUpParser(CLI::App& app);

// An option that takes a value: the value is never empty and never the next
// option, so a missing value cannot swallow what follows it ("--log --yes"
// is bad usage, not a log file named "--yes").
CLI::Option* AddValueOption(CLI::App& app, const char* names, std::string& value);

// Parses the arguments after the command word. On Bad, `error` says why in
// one line.
Parsed ParseArguments(CLI::App& app, int argc, char** argv, std::string& error);

// Parses as ParseArguments and answers a command's --help (its `help` text on
// standard output) and --version (`program`'s). -1 to go on, 0 after the help
// or the version, else what `badUsage` returns for the command and the error.
int ParseCommand(CLI::App& app, int argc, char** argv, const char* program, const char* command,
                 const char* help, int (*badUsage)(const char* command, const std::string& error));

} // namespace corvane
