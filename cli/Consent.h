// The user's yes before a flash, asked on the terminal itself: standard
// output may be a file or a pipe a script reads, and standard input may
// hold anything; the question must reach a person and the answer come from
// one.
#pragma once

namespace corvane {

enum class Consent { Given, Withheld, NoTerminal };

// Writes the question to the terminal and reads one line from it.
Consent AskOnTerminal(const char* question);

// "y" or "yes" in any case, nothing else on the line.
bool IsYes(const char* line);

// For tests: the terminal device to ask on instead of the process's own
// (a pseudo-terminal's); an empty path is no terminal; null undoes it.
void UseTerminal(const char* path);

} // namespace corvane
