// The worker: the whole image to the drive in one command, on a thread of
// its own so that the page keeps answering while the drive writes its flash.
#include "plugin/CommonDlg.h"

namespace {

// The drive restarts itself after taking an image in reboot mode; give it
// this long before the restart is requested.
const DWORD kRebootWaitMs = 8500;

} // namespace

DWORD WINAPI TransferThread(LPVOID argument) {
    CommonDlg& page = *static_cast<CommonDlg*>(argument);
    DeviceChannel& channel = *page.channel;
    EnableWindow(page.transferTab, FALSE);

    page.halfSum = HalfSum(page.image);
    TransferCommand command;
    const int32_t ready =
        FillTransferData(page.image, channel.buffer, channel.bufferSize) &&
        BuildTransferCommand(page.driveInfo.protocol, static_cast<DownloadMode>(page.downloadMode),
                             page.halfSum, page.fwInfo.checkSum, page.image, command) &&
        CompileTransferCommand(channel, command);

    int32_t result = 0;
    // Nothing sent is a failure in either mode, never a restart of a drive
    // that did not take an image.
    if (ready) {
        if (page.downloadMode == DownloadReboot) {
            channel.Execute();
            Sleep(kRebootWaitMs);
            result = 1;
        } else {
            result = channel.Execute();
        }
    }
    page.transferResult = result;
    EnableWindow(page.transferTab, TRUE);
    return 1;
}
