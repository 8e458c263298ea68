// Our ASPI layer over the SCSI pass-through, on fake CD-ROM device objects
// backed by simulated drives: the mapping of device objects to adapters and
// targets, what reaches a device byte for byte, what comes back into the
// request, and the channel's paths (scan, probes, time-out with reset, a
// whole transfer) through it.
#include "aspi/PassThroughLayer.h"

#include "../support/AspiRequest.h"
#include "../support/FakeCdRoms.h"
#include "../support/ScanText.h"
#include "../support/WholeDownload.h"

#include "aspi/AspiLayer.h"
#include "aspi/AspiSeam.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

using namespace aspi;

namespace {

// Fakes first, then the layer over them, installed as the process's layer.
struct Installed {
    FakeCdRoms fakes;
    std::unique_ptr<PassThroughLayer> layer;

    void Install() {
        layer.reset(new PassThroughLayer(fakes.Calls()));
        UseLayer(&PassThroughLayer::kOps, layer.get());
    }
    ~Installed() {
        UseLayer(&kNoLayer);
        fakes.Release();
        layer.reset();
    }
};

DevicePlace At(int index, uint8_t port, uint8_t path, uint8_t target, uint8_t lun = 0) {
    DevicePlace place{};
    place.index = index;
    place.addressed = 1;
    place.address = ScsiAddress{sizeof(ScsiAddress), port, path, target, lun};
    return place;
}

DevicePlace NoAddress(int index) {
    DevicePlace place{};
    place.index = index;
    return place;
}

template <typename... Place> std::vector<DevicePlace> Places(Place... places) {
    return {places...};
}

// "index=adapter:target" in device order, "none" when out of reach.
std::string Numbered(std::vector<DevicePlace> places, int adapters) {
    EXPECT_EQ(adapters, NumberDevices(places));
    std::sort(places.begin(), places.end(),
              [](const DevicePlace& a, const DevicePlace& b) { return a.index < b.index; });
    std::string map;
    for (const DevicePlace& p : places)
        map += std::to_string(p.index) + "=" +
               (p.placed ? std::to_string(p.adapter) + ":" + std::to_string(p.target) : "none") +
               " ";
    return map;
}

} // namespace

TEST(PassThroughLayer, AdaptersAndTargetsFollowTheAddressesNotTheDeviceNumbers) {
    std::vector<DevicePlace> nine{At(9, 1, 0, 0)};
    for (int i = 0; i < 9; ++i)
        nine.push_back(At(i, 0, 0, static_cast<uint8_t>(10 + i)));
    struct Case {
        const char* name;
        std::vector<DevicePlace> places;
        int adapters;
        const char* map;
    } cases[] = {
        {"ports in order, whatever the numbering",
         Places(At(0, 3, 0, 1), At(1, 1, 0, 0), At(2, 1, 0, 1)), 2, "0=1:1 1=0:0 2=0:1 "},
        {"renumbered after a reboot: the same drives keep their places",
         Places(At(2, 3, 0, 1), At(0, 1, 0, 0), At(1, 1, 0, 1)), 2, "0=0:0 1=0:1 2=1:1 "},
        {"a gap in the numbers, a path of its own", Places(At(0, 0, 1, 0), At(3, 0, 0, 5)), 2,
         "0=1:0 3=0:5 "},
        {"target ids of 8 and more take free targets; no address: an adapter after all",
         Places(At(0, 4, 0, 9), At(1, 4, 0, 0), At(2, 4, 0, 12), NoAddress(4), NoAddress(3)), 2,
         "0=0:1 1=0:0 2=0:2 3=1:0 4=1:1 "},
        {"two drives answer one address: the lower device number keeps it",
         Places(At(5, 0, 0, 2), At(1, 0, 0, 2)), 1, "1=0:2 5=0:0 "},
        {"two logical units of one target: a target each",
         Places(At(4, 0, 0, 0, 1), At(3, 0, 0, 0, 0)), 1, "3=0:0 4=0:1 "},
        {"the lower unit keeps the target id; a unit alone keeps its own",
         Places(At(3, 0, 0, 2, 1), At(4, 0, 0, 2, 0), At(5, 0, 0, 1, 1)), 1, "3=0:0 4=0:2 5=0:1 "},
        {"nine drives of one port: the ninth on an adapter after all others", nine, 3,
         "0=0:0 1=0:1 2=0:2 3=0:3 4=0:4 5=0:5 6=0:6 7=0:7 8=2:0 9=1:0 "},
        {"no device", Places(), 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.map, Numbered(c.places, c.adapters)) << c.name;
}

// Adapter numbers run out at 255: what does not fit then is out of reach.
TEST(PassThroughLayer, WhatFindsNoAdapterNumberIsOutOfReach) {
    std::vector<DevicePlace> full;
    for (int port = 0; port < 255; ++port)
        full.push_back(At(port, static_cast<uint8_t>(port), 0, 0));
    for (uint8_t target = 1; target <= 8; ++target)
        full.push_back(At(300 + target, 0, 0, target));
    EXPECT_EQ(255, NumberDevices(full));
    EXPECT_EQ(308, full.back().index);
    EXPECT_EQ(0, full.back().placed);
    EXPECT_EQ(1, full[full.size() - 2].placed);
}

TEST(PassThroughLayer, ADeviceThatDoesNotOpenForOneLayerMovesNoDriveOfTheOther) {
    // The host and its plug-in each have a layer over the same devices.
    FakeCdRoms fakes;
    fakes.Add(0, 1, 0, 1, 0, FakeDrive("FIRST"));
    fakes.Add(1, 2, 0, 0, 0, FakeDrive("SECOND"));
    fakes.Add(2, 2, 0, 3, 0, FakeDrive("THIRD"));
    PassThroughLayer host(fakes.Calls());
    fakes.Refuse(0);
    PassThroughLayer plugin(fakes.Calls());
    UseLayer(&PassThroughLayer::kOps, &host);
    EXPECT_EQ("0:1=FIRST 1:0=SECOND 1:3=THIRD ", ScanText());
    UseLayer(&PassThroughLayer::kOps, &plugin);
    EXPECT_EQ("1:0=SECOND 1:3=THIRD ", ScanText());
    uint8_t adapter = 9, target = 9;
    EXPECT_EQ(1, FindDevice("\\\\.\\A:", &adapter, &target)) << "its place is kept";
    EXPECT_EQ(0, adapter);
    EXPECT_EQ(1, target);
    char text[kLayerTextSize];
    DescribeLayer(text, sizeof text);
    EXPECT_NE(nullptr, std::strstr(text, "0:1 = \\\\.\\A: (port 1, path 0, target 1, lun 0, "
                                         "no access)"))
        << text;
    UseLayer(&kNoLayer);
    EXPECT_EQ(0, FindDevice("\\\\.\\A:", &adapter, &target));
}

TEST(PassThroughLayer, DevicePathsNameTheirDrives) {
    Installed in;
    in.fakes.Add(3, 1, 0, 2, 0, FakeDrive("NAMED"));
    in.Install();
    struct Case {
        const char* path;
        int found;
    } cases[] = {{"\\\\.\\D:", 1},  {"\\\\.\\d:", 1},     {"D:", 1},
                 {"\\\\.\\C:", 0},  {"\\\\.\\D:\\", 0},   {"\\\\.\\D", 0},
                 {"\\\\.\\DD:", 0}, {"\\\\.\\CdRom3", 0}, {"", 0}};
    for (const Case& c : cases) {
        uint8_t adapter = 9, target = 9;
        EXPECT_EQ(c.found, FindDevice(c.path, &adapter, &target)) << c.path;
        if (c.found) {
            EXPECT_EQ(0, adapter) << c.path;
            EXPECT_EQ(2, target) << c.path;
        }
    }
    EXPECT_EQ(-1, DeviceIndex("/dev/sg123456789", "/dev/sg")) << "no overflow";
    char name[8];
    DriveLetterName(25, name, sizeof name);
    EXPECT_STREQ("\\\\.\\Z:", name);
    for (int outside : {-1, 26}) {
        DriveLetterName(outside, name, sizeof name);
        EXPECT_STREQ("", name) << outside;
    }
}

TEST(PassThroughLayer, NoDeviceReadsAsNoHostAdaptersWithAReason) {
    struct Case {
        bool denied;
        const char* reason;
    } cases[] = {{true, "The SCSI pass-through needs administrator rights."},
                 {false, "No CD/DVD drive was found."}};
    for (const Case& c : cases) {
        Installed in;
        if (c.denied)
            in.fakes.AddDenied(0);
        in.Install();
        EXPECT_STREQ(c.reason, in.layer->Reason());
        char text[kLayerTextSize];
        in.layer->Describe(text, sizeof text);
        EXPECT_NE(nullptr, std::strstr(text, c.reason));
    }
}

TEST(PassThroughLayer, ExecuteReachesTheDeviceByteForByte) {
    Installed in;
    in.fakes.Add(0, 2, 1, 3, 0, FakeDrive("BYTES"));
    in.Install();
    DeviceChannel channel(65545, ChannelUser::Plugin);
    channel.SetTarget(3);
    struct Case {
        const char* text;
        uint32_t timeoutMs; // set after compiling; 0: the text's
        uint8_t dataIn;
        uint32_t length;
        uint32_t seconds;
    } cases[] = {
        {"12 0 0 0 d'46 /R46", 0, PT_DATA_IN, 46, 8},
        {"12 0 0 0 24 /R36", 1000, PT_DATA_IN, 36, 1},
        {"12 0 0 0 24 /R36", 1001, PT_DATA_IN, 36, 2},
        {"1B 0 0 0 2 /t30", 0, PT_DATA_IN, 0, 30},
        {"CB 0 22 0 0 0 0 FF FE 1 /w4", 7200, PT_DATA_OUT, 4, 8},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(1, CompileCommand(channel, c.text));
        if (c.timeoutMs)
            channel.timeout = c.timeoutMs;
        channel.Execute();
        ASSERT_FALSE(in.fakes.Journal().empty()) << c.text;
        const FakeCdRoms::Seen seen = in.fakes.Journal().back();
        const PassThroughDirect& spt = seen.spt;
        EXPECT_EQ(0, std::memcmp(spt.Cdb, channel.cdb, 12)) << c.text;
        EXPECT_EQ(12, spt.CdbLength) << c.text;
        EXPECT_EQ(c.dataIn, spt.DataIn) << c.text;
        EXPECT_EQ(c.length, spt.DataTransferLength) << c.text;
        EXPECT_EQ(c.seconds, spt.TimeOutValue) << c.text;
        EXPECT_EQ(sizeof spt, spt.Length);
        EXPECT_EQ(1, spt.PathId);
        EXPECT_EQ(3, spt.TargetId);
        EXPECT_EQ(0, spt.Lun);
        EXPECT_EQ(PT_SENSE_BYTES, spt.SenseInfoLength);
        EXPECT_EQ(offsetof(PassThroughRequest, sense), spt.SenseInfoOffset);
    }
    EXPECT_EQ(1u, PassThroughSeconds(0));
    EXPECT_EQ(4294968u, PassThroughSeconds(0xFFFFFFFFu)) << "no overflow";
    CompileCommand(channel, "12 0 0 0 d'46 /R46");
    ASSERT_EQ(1, channel.Execute());
    EXPECT_EQ(0, std::memcmp(channel.buffer, "\x05\x80", 2));
    EXPECT_EQ(0, std::memcmp(channel.buffer + 8, "FAKE    BYTES           1.00", 28));
}

TEST(PassThroughLayer, ResultsMapIntoTheRequest) {
    PassThroughRequest pt{};
    for (int i = 0; i < int(PT_SENSE_BYTES); ++i)
        pt.sense[i] = static_cast<uint8_t>(0x70 + i);
    struct Case {
        const char* name;
        int carriedOut;
        uint8_t scsiStatus, senseInfoLength, srbSenseLength;
        uint8_t status, hostStatus, targetStatus;
        int senseCopied;
    } cases[] = {
        {"device gone", 0, 0, 0, 14, SS_ERR, HASTAT_SEL_TO, 0, 0},
        {"device gone during the command", kPassThroughLost, 0, 0, 14, SS_ERR, HASTAT_BUS_FREE, 0,
         0},
        {"good", 1, STATUS_GOOD, 0, 14, SS_COMP, 0, 0, 0},
        {"check condition", 1, STATUS_CHKCOND, 18, 14, SS_ERR, 0, 2, 14},
        {"short sense", 1, STATUS_CHKCOND, 8, 14, SS_ERR, 0, 2, 8},
        {"sense length past the record", 1, STATUS_CHKCOND, 32, 255, SS_ERR, 0, 2, 16},
        {"busy", 1, 0x08, 0, 14, SS_ERR, 0, 0x08, 0},
    };
    for (const Case& c : cases) {
        pt.spt.ScsiStatus = c.scsiStatus;
        pt.spt.SenseInfoLength = c.senseInfoLength;
        struct {
            SRB_ExecSCSICmd srb;
            uint8_t guard[8];
        } r;
        std::memset(&r, 0xEE, sizeof r);
        r.srb.SRB_SenseLen = c.srbSenseLength;
        EXPECT_EQ(c.status, MapPassThroughResult(c.carriedOut, pt, r.srb)) << c.name;
        EXPECT_EQ(c.hostStatus, r.srb.SRB_HaStat) << c.name;
        EXPECT_EQ(c.targetStatus, r.srb.SRB_TargStat) << c.name;
        for (int i = 0; i < int(sizeof r.srb.SenseArea); ++i)
            EXPECT_EQ(i < c.senseCopied ? 0x70 + i : 0xEE, r.srb.SenseArea[i]) << c.name << i;
        for (uint8_t byte : r.guard)
            EXPECT_EQ(0xEE, byte) << c.name;
    }
}

TEST(PassThroughLayer, WholeDownloadThroughTheLayer) {
    Installed in;
    AddTwoFakeDrives(in.fakes);
    in.Install();
    CheckWholeDownload(in.fakes);
}

// How the channel words a time-out is its own (DeviceChannelTest); here the
// reset gives the request back while the system still holds the command.
TEST(PassThroughLayer, TimeOutResetsAndAHungDriveHoldsUpNoOther) {
    Installed in;
    simulator::DriveConfig hangs = FakeDrive("HANGS");
    hangs.hang.set(0x00); // TEST UNIT READY
    in.fakes.Add(0, 0, 0, 0, 0, hangs);
    in.fakes.Add(1, 0, 0, 1, 0, FakeDrive("FINE"));
    in.Install();
    DeviceChannel channel(1024, ChannelUser::Plugin);
    CompileCommand(channel, "00");
    channel.timeout = 300; // below the system's 1 s, time to reach it even under a sanitizer
    EXPECT_EQ(0, channel.Execute());
    EXPECT_EQ(1, channel.timedOut);
    EXPECT_EQ(1, in.layer->ResetCount(0, 0));
    EXPECT_EQ(SS_ABORTED, LoadStatus(&channel.request->SRB_Status));
    EXPECT_EQ(0u, channel.setAside);
    EXPECT_EQ(1, in.fakes.Held());
    channel.SetTarget(1);
    CompileCommand(channel, "12 0 0 0 24 /R36");
    channel.timeout = 7200;
    EXPECT_EQ(1, channel.Execute()) << "the other drive answers meanwhile";
    in.fakes.Release();
    channel.SetTarget(0);
    EXPECT_EQ(1, channel.Execute()) << "the hung drive serves again once the system lets go";
}

TEST(PassThroughLayer, DeviceThatVanishesEndsTheCommandWithAnError) {
    Installed in;
    simulator::DriveConfig hangs = FakeDrive("VANISHES");
    hangs.hang.set(0x12);
    in.fakes.Add(0, 0, 0, 0, 0, hangs);
    in.Install();
    AspiRequest r(0, 0, {0x12, 0, 0, 0, 36});
    ASSERT_EQ(SS_PENDING, SendASPI32Command(&r.srb));
    while (in.fakes.Held() == 0)
        std::this_thread::yield();
    in.fakes.Vanish(0);
    ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
    EXPECT_EQ(SS_ERR, r.Status());
    EXPECT_EQ(HASTAT_SEL_TO, r.srb.SRB_HaStat);

    DeviceChannel channel(1024, ChannelUser::Plugin);
    CompileCommand(channel, "00");
    EXPECT_EQ(0, channel.Execute());
    EXPECT_EQ(0, channel.timedOut) << "an error, not a time-out";
}
