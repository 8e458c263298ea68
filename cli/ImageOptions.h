// corvane-image's command lines: what info, dump and make take.
#pragma once

#include "cli/ExitStatus.h"
#include "firmware/SyntheticImage.h"

#include <string>

namespace corvane {

struct InfoOptions {
    bool json = false;
    std::string path;
};

struct DumpOptions {
    std::string path, out;
};

struct MakeOptions {
    SyntheticImageRecipe recipe;
    std::string out;
};

// Each: -1 to go on, else the exit status (help printed, or a usage line on
// standard error).
int ParseInfoOptions(int argc, char** argv, InfoOptions& options);
int ParseDumpOptions(int argc, char** argv, DumpOptions& options);
int ParseMakeOptions(int argc, char** argv, MakeOptions& options);

// "corvane-image: LINE" on standard error; kExitUsage.
int ImageUsage(const std::string& line);

} // namespace corvane
