// corvane-tcmu: serves one simulated drive to the Linux kernel through a LIO
// user-space backstore (target_core_user), until it is killed.
//
//   corvane-tcmu CONFIG LOG [KEY=VALUE...]
//
// CONFIG is the backstore's dev_config string: the handler serves the
// /dev/uioN whose name ends in "/CONFIG". The keys are those of a drive line
// of a bank file (vendor=, product=, revision=, protocols=, fail-transfer=,
// hang-transfer, ...). Every command is appended to LOG.
#include "TcmuDrive.h"
#include "TcmuRing.h"

#include "simulator/BankConfig.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The uio device of the backstore named by its dev_config, waiting for it
// to appear for a while.
int FindDevice(const std::string& config, std::string& device, size_t& size) {
    std::string suffix = "/" + config;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (int n = 0; n < 64; ++n) {
            std::string sys = "/sys/class/uio/uio" + std::to_string(n);
            std::string name = ReadLine(sys + "/name");
            if (name.size() < suffix.size() ||
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            size = std::strtoull(ReadLine(sys + "/maps/map0/size").c_str(), nullptr, 0);
            device = "/dev/uio" + std::to_string(n);
            return size > 0;
        }
        usleep(100 * 1000);
    }
    return 0;
}

// Answers the ring's commands until the device fails: 1.
int Serve(int fd, stackbench::TcmuDrive& drive) {
    for (;;) {
        bool answered = false;
        if (!drive.Serve(stackbench::Clock::now(), answered))
            return 1;
        uint32_t one = 1;
        if (answered && write(fd, &one, sizeof one) != sizeof one)
            return 1;
        // New entries, or the time of the next command that takes time.
        pollfd wake{fd, POLLIN, 0};
        int ready = poll(&wake, 1, drive.MsUntilDue(stackbench::Clock::now()));
        uint32_t events;
        if (ready > 0 && read(fd, &events, sizeof events) != sizeof events && errno != EINTR)
            return 1;
        if (ready < 0 && errno != EINTR)
            return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: corvane-tcmu CONFIG LOG [KEY=VALUE...]\n");
        return 2;
    }
    std::string line = "drive 0";
    for (int i = 3; i < argc; ++i)
        line += std::string(" ") + argv[i];
    simulator::BankConfig bank;
    std::string error;
    if (!simulator::ParseBank("adapter\n" + line + "\n", bank, error)) {
        std::fprintf(stderr, "corvane-tcmu: %s\n", error.c_str());
        return 2;
    }
    FILE* log = std::fopen(argv[2], "a");
    if (!log) {
        std::fprintf(stderr, "corvane-tcmu: cannot write %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    std::string device;
    size_t size = 0;
    if (!FindDevice(argv[1], device, size)) {
        std::fprintf(stderr, "corvane-tcmu: no uio device for %s\n", argv[1]);
        return 1;
    }
    int fd = open(device.c_str(), O_RDWR);
    void* map =
        fd < 0 ? MAP_FAILED : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "corvane-tcmu: %s: %s\n", device.c_str(), std::strerror(errno));
        return 1;
    }
    stackbench::TcmuRing ring(static_cast<uint8_t*>(map), size);
    if (!ring.Valid()) {
        std::fprintf(stderr, "corvane-tcmu: %s: no command ring\n", device.c_str());
        return 1;
    }
    stackbench::TcmuDrive drive(ring, bank.adapters[0][0], log);
    std::fprintf(log, "serve %s %s\n", device.c_str(), line.c_str());
    std::fflush(log);
    return Serve(fd, drive);
}
