// The output file's platform part on POSIX systems.
#include "cli/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace corvane {
namespace output {

Kind Examine(const char* path, std::string& target) {
    target = path;
    struct stat link;
    if (lstat(path, &link) != 0)
        return Kind::Missing;
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return Kind::Other; // a dangling link is written through, never removed
    if (S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (!realpath(path, resolved))
            return Kind::Other;
        target = resolved;
    }
    return Kind::Regular;
}

FILE* CreateNew(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (!file)
        close(fd);
    return file;
}

void KeepMode(FILE* file, const std::string& from) {
    struct stat info;
    if (stat(from.c_str(), &info) == 0)
        fchmod(fileno(file), info.st_mode & 07777);
}

bool ReplaceWith(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool Flush(FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

} // namespace output
} // namespace corvane
