// What a download does, through whatever ASPI layer the process has bound:
// the host's scan, the plug-in's INQUIRY and probes, and the one transfer.
// Shared by the native and the Windows tests of the pass-through layer.
#pragma once

#include "FakeCdRoms.h"

#include "command/CompileCommand.h"
#include "simulator/DriveBank.h"
#include "command/DeviceChannel.h"
#include "download/TransferJob.h"
#include "firmware/DownloadRules.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// Two fakes: B: at port 2 target 0 takes the "CB 0 22" protocol, A: at
// port 1 target 1 none. The host lists A: first (adapter 0).
inline void AddTwoFakeDrives(FakeCdRoms& fakes) {
    fakes.Add(1, 2, 0, 0, 0, FakeDrive("FLASHABLE", simulator::PROTOCOL_22));
    fakes.Add(0, 1, 0, 1, 0, FakeDrive("PLAIN"));
}

inline void CheckWholeDownload(FakeCdRoms& fakes) {
    DeviceChannel host(1024, ChannelUser::Host);
    host.ScanDevices();
    ASSERT_EQ(2, host.deviceCount);
    EXPECT_STREQ("FAKE    PLAIN           ", host.devices[0].model);
    EXPECT_EQ(0, host.devices[0].adapter);
    EXPECT_EQ(1, host.devices[0].target);
    EXPECT_STREQ("FAKE    FLASHABLE       ", host.devices[1].model);
    EXPECT_EQ(1, host.devices[1].adapter);
    EXPECT_EQ(0, host.devices[1].target);

    DeviceChannel plugin(65545, ChannelUser::Plugin);
    plugin.SetAdapter(1);
    plugin.SetTarget(0);
    ASSERT_EQ(1, CompileCommand(plugin, kInquiryCommand));
    ASSERT_EQ(1, plugin.Execute());
    EXPECT_EQ(0, std::memcmp(plugin.buffer + 8, "FAKE    FLASHABLE       1.00", 28));
    int accepted = 0;
    for (const ProtocolProbe& probe : kProtocolProbes) {
        CompileCommand(plugin, probe.text);
        if (plugin.Execute())
            accepted |= 1 << probe.protocol;
        else
            EXPECT_EQ(5, plugin.senseKey) << probe.text; // ILLEGAL REQUEST reaches the channel
    }
    EXPECT_EQ(1 << FwProtocolType22, accepted);

    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    std::memcpy(recipe.revision, "2.00", 4);
    std::vector<uint8_t> image(65536);
    ASSERT_EQ(1, MakeSyntheticImage(recipe, image.data()));
    FirmwareInfo info;
    IdentifyImage(image.data(), 65536, info);
    TransferCommand command;
    ASSERT_EQ(1, BuildTransferCommand(FwProtocolType22, DownloadVerify, HalfSum(image.data()),
                                      info.checkSum, image.data(), command));
    ASSERT_EQ(1, download::CompileTransferCommand(plugin, command));
    ASSERT_EQ(1, FillTransferData(image.data(), plugin.buffer, plugin.bufferSize));
    uint32_t digest = simulator::DataDigest(plugin.buffer, kTransferDataLength);
    ASSERT_EQ(1, plugin.Execute());
    EXPECT_EQ(1, fakes.Drive(1)->flashCount);

    const FakeCdRoms::Seen last = fakes.Journal().back();
    EXPECT_EQ(1, last.index);
    EXPECT_EQ(aspi::PT_DATA_OUT, last.spt.DataIn);
    EXPECT_EQ(kTransferDataLength, last.spt.DataTransferLength);
    EXPECT_EQ(kTransferTimeoutSeconds, last.spt.TimeOutValue);
    EXPECT_EQ(0, std::memcmp(last.spt.Cdb, plugin.cdb, 12));
    EXPECT_EQ(digest, last.dataDigest) << "the image reached the drive unchanged";

    CompileCommand(plugin, kInquiryCommand);
    ASSERT_EQ(1, plugin.Execute());
    EXPECT_EQ(0, std::memcmp(plugin.buffer + 32, "2.00", 4)) << "the drive runs the new firmware";
}
