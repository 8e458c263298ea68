#include "cli/OutputFile.h"

#include <cerrno>
#include <cstring>

namespace corvane {
namespace {

bool InPlace(const char* path, const std::function<bool(FILE*)>& write, std::string& error) {
    FILE* file = std::fopen(path, "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = write(file);
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        error = "cannot write the image";
    return ok;
}

// A name beside the target that nothing holds yet, and the file made there.
FILE* NewBeside(const std::string& target, std::string& name) {
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + ".new" + std::to_string(++serial);
        if (FILE* file = output::CreateNew(name))
            return file;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

} // namespace

bool WriteOutputFile(const char* path, const std::function<bool(FILE*)>& write,
                     std::string& error) {
    std::string target;
    const output::Kind kind = output::Examine(path, target);
    if (kind == output::Kind::Other)
        return InPlace(path, write, error);
    std::string name;
    FILE* file = NewBeside(target, name);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    if (kind == output::Kind::Regular)
        output::KeepMode(file, target);
    bool ok = write(file) && output::Flush(file);
    ok = std::fclose(file) == 0 && ok;
    if (ok && !output::ReplaceWith(name, target)) {
        error = std::strerror(errno);
        std::remove(name.c_str()); // ours: made by NewBeside
        return false;
    }
    if (!ok) {
        error = "cannot write the image";
        std::remove(name.c_str());
    }
    return ok;
}

} // namespace corvane
