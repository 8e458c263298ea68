// The one version of both tools, from the build's project version.
#pragma once

namespace corvane {

const char* Version();
// "PROGRAM VERSION" on standard output.
void PrintVersion(const char* program);
bool IsVersion(const char* arg);
// "-h" or "--help".
bool IsHelp(const char* arg);

} // namespace corvane
