#include "aspi/BusType.h"

#include <gtest/gtest.h>

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
