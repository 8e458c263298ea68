// Our pass-through layer over the Linux SCSI generic devices, on fake ones: a
// sysfs tree in a folder of the test's own, and open and ioctl answered by
// simulated drives in place of the kernel's.
#include "aspi/PassThroughLinux.h"

#include "../support/FakeCdRoms.h"
#include "../support/ScanText.h"
#include "../support/WholeDownload.h"

#include "aspi/AspiSeam.h"
#include "command/CompileCommand.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

using namespace aspi;

namespace {

// Fakes first, then the layer over their Linux face, as the layer in use.
struct LinuxFakes {
    FakeCdRoms fakes;
    std::string root;
    LinuxSystem system{};
    DeviceCalls calls{};
    std::unique_ptr<PassThroughLayer> layer;

    LinuxFakes() {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        root = testing::TempDir() + "corvane-sg-" + std::to_string(getpid()) + "-" + test->name();
    }
    // Over the Linux face, or the device objects as Windows shows them.
    void Install(bool linuxFace = true) {
        system = fakes.Linux(root);
        calls = linuxFace ? LinuxDeviceCalls(&system) : fakes.Calls();
        layer.reset(new PassThroughLayer(calls));
        UseLayer(&PassThroughLayer::kOps, layer.get());
    }
    ~LinuxFakes() {
        UseLayer(&kNoLayer);
        fakes.Release();
        layer.reset();
        std::filesystem::remove_all(root);
    }
    // The path of a device object: under the fake root for Linux names.
    std::string Path(const char* name) { return name[0] == '/' ? root + name : name; }
    std::string Describe() {
        char text[kLayerTextSize];
        DescribeLayer(text, sizeof text);
        return text;
    }
};

simulator::DriveConfig Disk() {
    simulator::DriveConfig config = FakeDrive("DISK");
    config.kind = simulator::DriveKind::Disk;
    return config;
}

simulator::DriveConfig Hangs(const char* product, uint8_t operation) {
    simulator::DriveConfig config = FakeDrive(product);
    config.hang.set(operation);
    return config;
}

// INQUIRY through a channel at this adapter and target; the product answered.
std::string ProductAt(uint8_t adapter, uint8_t target) {
    DeviceChannel channel(1024, ChannelUser::Plugin);
    channel.SetAdapter(adapter);
    channel.SetTarget(target);
    CompileCommand(channel, "12 0 0 0 24 /R36");
    if (!channel.Execute())
        return "(failed)";
    std::string product(reinterpret_cast<char*>(channel.buffer) + 16, 16);
    return product.substr(0, product.find(' '));
}

SRB_ExecSCSICmd TestUnitReady(uint8_t target) {
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Target = target;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = 6;
    return srb;
}

} // namespace

TEST(LinuxDevices, CdDrivesFromSysfsNumberedByTheirAddresses) {
    LinuxFakes in;
    in.fakes.Add(0, 1, 0, 0, 0, Disk());
    in.fakes.Add(1, 1, 0, 1, 0, FakeDrive("SECOND"));
    in.fakes.Add(3, 3, 0, 0, 0, FakeDrive("THIRD"));
    in.fakes.Add(4, 0, 0, 0, 0, FakeDrive("DENIED"));
    in.fakes.Refuse(4);
    in.Install();
    EXPECT_EQ("1:1=SECOND 2:0=THIRD ", ScanText()) << "the denied drive keeps adapter 0";
    EXPECT_EQ("SCSI pass-through: 3 host adapter(s)\n"
              "  0:0 = /dev/sg4 (host 0, channel 0, target 0, lun 0, no access)\n"
              "  1:1 = /dev/sg1 (host 1, channel 0, target 1, lun 0)\n"
              "  2:0 = /dev/sg3 (host 3, channel 0, target 0, lun 0)\n",
              in.Describe());
    for (const FakeCdRoms::Seen& seen : in.fakes.Journal())
        EXPECT_NE(0, seen.index) << "nothing reaches the disk";
}

// A stop and continue signal interrupts the waits: every command still
// reaches its drive once.
TEST(LinuxDevices, WholeDownloadThroughSgEvenWhenItsWaitsAreInterrupted) {
    size_t sent[2] = {0, 0};
    for (bool interrupted : {false, true}) {
        LinuxFakes in;
        AddTwoFakeDrives(in.fakes);
        in.Install();
        in.fakes.InterruptWaits(interrupted);
        CheckWholeDownload(in.fakes); // the image reaches the drive once
        EXPECT_EQ(interrupted, in.fakes.Interruptions() > 0);
        std::vector<sg_io_hdr_t> written = in.fakes.SgJournal();
        sent[interrupted] = written.size();
        ASSERT_GE(written.size(), 2u);
        const sg_io_hdr_t& transfer = written[written.size() - 2];
        EXPECT_EQ('S', transfer.interface_id);
        EXPECT_EQ(SG_DXFER_TO_DEV, transfer.dxfer_direction);
        EXPECT_EQ(kTransferDataLength, transfer.dxfer_len);
        EXPECT_EQ(kTransferTimeoutSeconds * 1000, transfer.timeout);
        EXPECT_EQ(12, transfer.cmd_len);
        EXPECT_EQ(PT_SENSE_BYTES, transfer.mx_sb_len);
        EXPECT_EQ(SG_DXFER_FROM_DEV, written.back().dxfer_direction);
    }
    EXPECT_EQ(sent[0], sent[1]) << "no command was sent again";
}

TEST(LinuxDevices, NoAccessIsAReasonTheUserCanActOn) {
    std::string cdrom; // a group of /etc/group with a number other than 0
    gid_t cdromId = 0;
    std::ifstream groups("/etc/group");
    for (std::string line; cdrom.empty() && std::getline(groups, line);) {
        std::istringstream fields(line);
        std::string name, password, id;
        std::getline(fields, name, ':');
        std::getline(fields, password, ':');
        std::getline(fields, id, ':');
        if (name == "cdrom" || name == "disk") {
            cdrom = name;
            cdromId = static_cast<gid_t>(std::strtoul(id.c_str(), nullptr, 10));
        }
    }
    struct Case {
        bool ownGroup; // else the root group
        std::string reason;
    } cases[] = {
        {true, "No access to /dev/sg2 (group " + cdrom + "): add the user to group " + cdrom +
                   ", or run as root."},
        {false, "No access to /dev/sg2: run as root."},
    };
    for (const Case& c : cases) {
        LinuxFakes in;
        in.fakes.AddDenied(2);
        in.system = in.fakes.Linux(in.root);
        if (chown((in.root + "/dev/sg2").c_str(), static_cast<uid_t>(-1), c.ownGroup ? cdromId : 0))
            continue; // not ours to give away: only root can arrange both
        if (c.ownGroup && cdrom.empty())
            continue;
        in.calls = LinuxDeviceCalls(&in.system);
        PassThroughLayer layer(in.calls);
        EXPECT_EQ(0, layer.AdapterCount());
        EXPECT_EQ(c.reason, layer.Reason());
    }
}

TEST(LinuxDevices, DevicePathsNameTheSameDriveEitherWay) {
    LinuxFakes in;
    in.fakes.Add(0, 0, 0, 0, 0, Disk());
    in.fakes.Add(1, 0, 0, 1, 0, FakeDrive("FIRST"));
    in.fakes.Add(5, 2, 0, 3, 0, FakeDrive("SECOND"));
    in.Install();
    std::filesystem::create_symlink(in.root + "/dev/sr1", in.root + "/dev/cdrom");
    struct Case {
        const char* name;
        int found;
        uint8_t adapter, target;
    } cases[] = {
        {"/dev/sg1", 1, 0, 1}, {"/dev/sr0", 1, 0, 1},   {"/dev/sg5", 1, 1, 3},
        {"/dev/sr1", 1, 1, 3}, {"/dev/cdrom", 1, 1, 3}, {"/dev/sg0", 0, 0, 0},
        {"/dev/sr7", 0, 0, 0}, {"/dev/sda", 0, 0, 0},   {"/etc/sg1", 0, 0, 0},
    };
    for (const Case& c : cases) {
        uint8_t adapter = 9, target = 9;
        std::string path = c.name[1] == 'd' ? in.root + c.name : c.name;
        EXPECT_EQ(c.found, FindDevice(path.c_str(), &adapter, &target)) << c.name;
        if (c.found) {
            EXPECT_EQ(c.adapter, adapter) << c.name;
            EXPECT_EQ(c.target, target) << c.name;
        }
    }
}

TEST(LinuxDevices, WithoutALayerOfItsOwnAProgramUsesTheSystemsDevices) {
    LinuxFakes in;
    in.fakes.Add(2, 0, 0, 4, 0, FakeDrive("REPORTED"));
    in.system = in.fakes.Linux(in.root);
    in.calls = LinuxDeviceCalls(&in.system);
    std::string report = in.root + "/aspi-report.txt";
    setenv("CORVANE_ASPI_REPORT", report.c_str(), 1);
    RebindLayer(nullptr, &in.calls);
    EXPECT_EQ("0:4=REPORTED ", ScanText());
    unsetenv("CORVANE_ASPI_REPORT");
    std::stringstream text;
    text << std::ifstream(report).rdbuf();
    EXPECT_EQ("ASPI layer: SCSI pass-through: 1 host adapter(s)\n"
              "  0:4 = /dev/sg2 (host 0, channel 0, target 4, lun 0)\n",
              text.str());

    RebindLayer(nullptr, nullptr); // the kernel's own: described, never sent a command
    EXPECT_EQ(0u, in.Describe().find("SCSI pass-through: ")) << in.Describe();
}

// The channel speaks adapter and target only: a drive at logical unit 1 must
// be a target of its own, not the unit 0 drive beside it.
TEST(LinuxDevices, EachLogicalUnitIsADriveOfItsOwn) {
    struct Face {
        bool linux;
        const char* lun1;
    } faces[] = {{false, "\\\\.\\E:"}, {true, "/dev/sg4"}};
    for (const Face& face : faces) {
        LinuxFakes in;
        in.fakes.Add(3, 0, 0, 0, 0, FakeDrive("LUNZERO"));
        in.fakes.Add(4, 0, 0, 0, 1, FakeDrive("LUNONE"));
        in.Install(face.linux);
        EXPECT_EQ("0:0=LUNZERO 0:1=LUNONE ", ScanText()) << face.lun1;
        uint8_t adapter = 9, target = 9;
        ASSERT_EQ(1, FindDevice(in.Path(face.lun1).c_str(), &adapter, &target)) << face.lun1;
        EXPECT_EQ("LUNONE", ProductAt(adapter, target)) << face.lun1;
        EXPECT_EQ(4, in.fakes.Journal().back().index) << face.lun1;
    }
}

TEST(LinuxDevices, ANinthTargetOfOneHostIsNamedAndReached) {
    LinuxFakes in;
    std::string report = "SCSI pass-through: 2 host adapter(s)\n";
    for (int i = 0; i < 9; ++i) {
        std::string product = "T" + std::to_string(i);
        in.fakes.Add(i, 0, 0, static_cast<uint8_t>(i), 0, FakeDrive(product.c_str()));
        report += "  " + std::to_string(i / 8) + ":" + std::to_string(i % 8) + " = /dev/sg" +
                  std::to_string(i) + " (host 0, channel 0, target " + std::to_string(i) +
                  ", lun 0)\n";
    }
    in.Install();
    EXPECT_EQ(report, in.Describe());
    uint8_t adapter = 9, target = 9;
    ASSERT_EQ(1, FindDevice(in.Path("/dev/sg8").c_str(), &adapter, &target));
    EXPECT_EQ(1, adapter);
    EXPECT_EQ(0, target);
    EXPECT_EQ("T8", ProductAt(adapter, target));
}

// After the channel's reset the kernel still holds the command: the drive's
// next command waits for the kernel's answer, so none is left behind.
TEST(LinuxDevices, AResetLeavesTheKernelItsCommandUntilItAnswers) {
    LinuxFakes in;
    in.fakes.Add(0, 0, 0, 0, 0, Hangs("HANGS", 0x00));
    in.Install();
    DeviceChannel channel(1024, ChannelUser::Plugin);
    CompileCommand(channel, "00");
    channel.timeout = 100; // the kernel's: 1 s
    EXPECT_EQ(0, channel.Execute());
    EXPECT_EQ(1, channel.timedOut);
    EXPECT_EQ(1, in.fakes.Held());
    EXPECT_EQ("HANGS", ProductAt(0, 0));
    EXPECT_EQ(0, in.fakes.Held()) << "the kernel answered the first command before the second";
    EXPECT_EQ(2u, in.fakes.SgJournal().size());
}

// A device that goes away ends its command; a layer that ends cancels the
// waits the kernel would hold it in.
TEST(LinuxDevices, HeldCommandsEndWithTheirDeviceOrTheLayer) {
    LinuxFakes in;
    in.fakes.Add(0, 0, 0, 0, 0, Hangs("STAYS", 0x00));
    in.fakes.Add(1, 0, 0, 1, 0, Hangs("GOES", 0x00));
    in.Install();
    SRB_ExecSCSICmd stays = TestUnitReady(0), goes = TestUnitReady(1);
    ASSERT_EQ(SS_PENDING, SendASPI32Command(&stays));
    ASSERT_EQ(SS_PENDING, SendASPI32Command(&goes));
    while (in.fakes.Held() < 2)
        std::this_thread::yield();
    in.fakes.Vanish(1);
    while (LoadStatus(&goes.SRB_Status) == SS_PENDING)
        std::this_thread::yield();
    EXPECT_EQ(SS_ERR, goes.SRB_Status);
    EXPECT_EQ(HASTAT_BUS_FREE, goes.SRB_HaStat) << "sent: it may have reached the drive";

    UseLayer(&kNoLayer);
    auto start = std::chrono::steady_clock::now();
    in.layer.reset(); // the kernel would hold the command 8 s
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 2000);
    EXPECT_EQ(SS_ABORTED, stays.SRB_Status);
    EXPECT_EQ(2u, in.fakes.SgJournal().size()) << "each sent once";
}
