// The walk-through of tools/run.sh: Corvane.exe of a run folder downloads the
// Type 2.2 image to the Type 2.2 drive (adapter 1, target 0) as a person
// would do it, with a picture at each step. Exit 0 only when every step
// showed what it should; otherwise the reason on stderr. The device page's
// rows go to stdout, one "device-row A|T|MODEL|VERSION" line each.
//   walkthrough.exe RUN_FOLDER IMAGE SHOT_FOLDER [PRODUCT VERSION]   (Linux paths)
// SHOT_FOLDER "-" takes no pictures; PRODUCT and VERSION choose the drive by
// its identity instead (the stack bench, where the kernel numbers them).
#include "tests/e2e/Walkthrough.h"

#include <cstdio>

namespace {

const char* const kNoticeB =
    "1. Firmware Download MUST be treated carefully.\n  Close another programs running before "
    "start download.\n\n2. Some F/W may cause problems in case there is a diffrence at\n  "
    "supporting UDMA between old F/W and new F/W.\n\n  Do you want to continue?";

struct Drive {
    std::string product, version; // empty: adapter 1, target 0
};

int ChooseDrive(e2e::Walkthrough& walk, const Drive& drive) {
    for (int row = 0; row < walk.DeviceRows(); ++row)
        std::printf("device-row %s\n", walk.DeviceRow(row).c_str());
    std::fflush(stdout);
    return drive.product.empty() ? walk.ChooseDrive(1, 0)
                                 : walk.ChooseDrive(drive.product, drive.version);
}

int Walk(e2e::Walkthrough& walk, const std::string& image, const Drive& drive) {
    e2e::HostProcess& host = walk.host;
    if (!host.Start())
        return 0;
    walk.Shot("1-start");
    if (!walk.OpenTab("Infomation") || !ChooseDrive(walk, drive))
        return 0;
    walk.Shot("2-device-page");
    if (!walk.OpenTab("Wexa") || !walk.ChooseImage(e2e::UnixToWindows(image)))
        return 0;
    walk.Shot("3-image-chosen");
    HWND box = walk.ClickDownload();
    if (!box)
        return 0;
    walk.Shot("4-notice");
    if (walk.BoxText(box) != kNoticeB)
        return walk.Fail("not the verify-mode notice: " + walk.BoxText(box));
    if (!walk.Answer(box, IDOK) || !walk.WaitForMessage(e2e::kDownloading, 60))
        return 0;
    // The bar after its second tick, for a picture of it moving. Without
    // pictures nothing waits for it: a fast drive may finish first.
    if (!walk.shotFolder.empty()) {
        if (!e2e::WaitUntil([&] { return walk.Progress() >= 53; }, 30))
            return walk.Fail("the transfer bar did not move");
        walk.Shot("5-transfer");
    }
    if (!walk.WaitForEnd(120))
        return 0;
    walk.Shot("6-done");
    std::printf("row 0 (image): %s\nrow 7 (drive now): %s\n", walk.Row(0).c_str(),
                walk.Row(7).c_str());
    if (walk.Row(7) != walk.Row(0))
        return walk.Fail("row 7 shows \"" + walk.Row(7) + "\", the image carries \"" + walk.Row(0) +
                         "\"");
    return host.Close() == 0 ? 1 : walk.Fail("Corvane.exe did not end cleanly");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        std::fprintf(stderr,
                     "usage: walkthrough.exe RUN_FOLDER IMAGE SHOT_FOLDER [PRODUCT VERSION]\n");
        return 2;
    }
    e2e::HostProcess host(e2e::UnixToWindows(argv[1]));
    host.startSeconds = 120; // under emulation (the stack bench) start-up takes its time
    e2e::Walkthrough walk(host);
    if (std::string(argv[3]) != "-")
        walk.shotFolder = argv[3];
    Drive drive;
    if (argc == 6)
        drive = {argv[4], argv[5]};
    const int ok = Walk(walk, argv[2], drive);
    if (ok && walk.failure.empty())
        return 0;
    std::fprintf(stderr, "walk-through stopped: %s\n",
                 walk.failure.empty() ? ("Corvane.exe did not come up: " + host.startFault).c_str()
                                      : walk.failure.c_str());
    return 1;
}
