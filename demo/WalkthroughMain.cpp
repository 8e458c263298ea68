// The walk-through of tools/run.sh: Corvane.exe of a run folder downloads the
// Type 2.2 image to the Type 2.2 drive (adapter 1, target 0) as a person
// would do it, with a picture at each step. Exit 0 only when every step
// showed what it should; otherwise the reason on stderr.
//   walkthrough.exe RUN_FOLDER IMAGE SHOT_FOLDER   (Linux paths)
#include "tests/e2e/Walkthrough.h"

#include <cstdio>

namespace {

const char* const kNoticeB =
    "1. Firmware Download MUST be treated carefully.\n  Close another programs running before "
    "start download.\n\n2. Some F/W may cause problems in case there is a diffrence at\n  "
    "supporting UDMA between old F/W and new F/W.\n\n  Do you want to continue?";

int Walk(e2e::Walkthrough& walk, const std::string& image) {
    e2e::HostProcess& host = walk.host;
    if (!host.Start())
        return 0;
    walk.Shot("1-start");
    if (!walk.OpenTab("Infomation") || !walk.ChooseDrive(1, 0))
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
    // The bar after its second tick, for a picture of it moving.
    if (!e2e::WaitUntil([&] { return walk.Progress() >= 53; }, 30))
        return walk.Fail("the transfer bar did not move");
    walk.Shot("5-transfer");
    if (!walk.WaitForEnd(120))
        return 0;
    walk.Shot("6-done");
    if (walk.Row(7) != walk.Row(0))
        return walk.Fail("row 7 shows \"" + walk.Row(7) + "\", the image carries \"" + walk.Row(0) +
                         "\"");
    return host.Close() == 0 ? 1 : walk.Fail("Corvane.exe did not end cleanly");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: walkthrough.exe RUN_FOLDER IMAGE SHOT_FOLDER\n");
        return 2;
    }
    e2e::HostProcess host(e2e::UnixToWindows(argv[1]));
    e2e::Walkthrough walk(host);
    walk.shotFolder = argv[3];
    const int ok = Walk(walk, argv[2]);
    if (ok && walk.failure.empty())
        return 0;
    std::fprintf(stderr, "walk-through stopped: %s\n",
                 walk.failure.empty() ? "Corvane.exe did not come up" : walk.failure.c_str());
    return 1;
}
