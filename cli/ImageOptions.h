// corvane-image's command lines: what info, dump and make take.
#pragma once

#include "firmware/SyntheticImage.h"

#include <string>

namespace corvane {

enum ImageExit : int {
    kImageOk = 0,
    kImageFailed = 1,
    kImageUsage = 2,
    kImageNoProtocol = 3,
};

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

// "corvane-image: LINE" on standard error; kImageUsage.
int ImageUsage(const std::string& line);

} // namespace corvane
