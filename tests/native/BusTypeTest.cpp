#include "aspi/BusType.h"

#include <gtest/gtest.h>

#include <cstring>

#ifndef _WIN32
#include "aspi/PassThroughLayer.h"
#include "aspi/PassThroughLinux.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#endif

using namespace aspi;

TEST(BusType, SysfsPlacesAndHostDrivers) {
    const struct {
        const char* path;
        const char* driver;
        const char* bus;
    } cases[] = {
        {"/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0",
         "usb-storage", "usb"},
        {"/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "",
         "usb"},
        {"/sys/devices/x/host6/target6:0:0/6:0:0:0", "uas", "usb"},
        {"/sys/devices/pci0000:00/0000:00:01.1/ata2/host1/target1:0:0/1:0:0:0", "ata_piix", "ata"},
        {"/sys/devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0", "ahci", "sata"},
        {"/sys/devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0", "", "ata"},
        {"/sys/devices/pci0000:00/0000:00:1e.0/fw1/fw1.0/host7/target7:0:0/7:0:0:0", "", "1394"},
        {"/sys/devices/pci0000:00/0000:00:03.0/virtio0/host0/target0:0:0/0:0:0:0", "virtio_scsi",
         "scsi"},
        {"/sys/devices/tcm_loop_0/tcm_loop_adapter_0/host3/target3:0:1/3:0:1:0", "tcm_loop",
         "scsi"},
        {"/sys/devices/platform/host3/target3:0:0/3:0:0:0", "", "unknown"},
        {"/sys/devices/platform/musb/host3/target3:0:0/3:0:0:0", "", "unknown"}, // "usb" inside
        {"", "", "unknown"},
        {nullptr, nullptr, "unknown"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.bus, BusName(BusFromSysfs(c.path, c.driver)))
            << (c.path ? c.path : "null") << " / " << (c.driver ? c.driver : "null");
}

TEST(BusType, StoragePropertyBusTypes) {
    const char* expected[] = {"unknown", "scsi",    "ata",  "ata",  "1394", "unknown", "scsi",
                              "usb",     "unknown", "scsi", "scsi", "sata", "unknown"};
    for (uint32_t type = 0; type < sizeof expected / sizeof *expected; ++type)
        EXPECT_STREQ(expected[type], BusName(BusFromStorageProperty(type))) << type;
    EXPECT_STREQ("unknown", BusName(BusFromStorageProperty(0xFFFFFFFFu)));
}

#ifndef _WIN32
// The Linux device call reads the same facts from a sysfs tree.
TEST(BusType, LinuxDeviceCallReadsSysfs) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(testing::TempDir()) / ("bus-sysfs-" + std::to_string(getpid()));
    const struct {
        const char* place; // under sys/devices
        const char* driver;
        const char* bus;
    } drives[] = {
        {"pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "usb-storage",
         "usb"},
        {"pci0000:00/0000:00:01.1/ata2/host1/target1:0:0/1:0:0:0", "ata_piix", "ata"},
        {"pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0", "ahci", "sata"},
    };
    int index = 0;
    for (const auto& d : drives) {
        const fs::path device = root / "sys/devices" / d.place;
        const fs::path sg = root / "sys/class/scsi_generic" / ("sg" + std::to_string(index++));
        fs::create_directories(device);
        fs::create_directories(sg);
        fs::create_directory_symlink(device, sg / "device");
        std::ofstream(device / "type") << "5\n";
        const std::string host = fs::path(d.place).parent_path().parent_path().filename();
        fs::create_directories(root / "sys/class/scsi_host" / host);
        std::ofstream(root / "sys/class/scsi_host" / host / "proc_name") << d.driver << "\n";
    }
    aspi::LinuxSystem system = aspi::RealLinuxSystem();
    const std::string sysfs = (root / "sys").string();
    system.sysfs = sysfs.c_str();
    const aspi::DeviceCalls calls = aspi::LinuxDeviceCalls(&system);
    for (int i = 0; i < index; ++i)
        EXPECT_STREQ(drives[i].bus,
                     aspi::BusName(static_cast<aspi::BusType>(calls.bus(calls.context, i))))
            << drives[i].place;
    EXPECT_STREQ("unknown",
                 aspi::BusName(static_cast<aspi::BusType>(calls.bus(calls.context, index))));
    // The layer's report and its table say the same.
    const std::string dev = (root / "dev").string();
    system.dev = dev.c_str();
    {
        aspi::PassThroughLayer layer(calls);
        char text[1024];
        layer.Describe(text, sizeof text);
        EXPECT_NE(nullptr, std::strstr(text, "target 0, lun 0, bus usb, does not open")) << text;
        EXPECT_NE(nullptr, std::strstr(text, "bus sata")) << text;
        // Numbered by host: 1 (ata), 2 (sata), 6 (usb).
        EXPECT_EQ(aspi::BusType::Ata, layer.DeviceBus(0, 0)) << text;
        EXPECT_EQ(aspi::BusType::Usb, layer.DeviceBus(2, 0)) << text;
    }
    fs::remove_all(root);
}
#endif
