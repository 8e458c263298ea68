#include "simulator/VirtualDrive.h"

#include "aspi/AspiRecords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace simulator;

namespace {

DriveConfig Drive(unsigned protocols) {
    DriveConfig c;
    c.kind = DriveKind::CdDrive;
    SetField(c.vendor, "QVSIM");
    SetField(c.product, "OLD MODEL");
    SetField(c.revision, "1.00");
    c.protocols = protocols;
    return c;
}

std::string Sense(const CommandResult& r) {
    char text[16];
    std::snprintf(text, sizeof text, "%X/%02X/%02X", r.sense[2], r.sense[12], r.sense[13]);
    return r.targetStatus == aspi::STATUS_CHKCOND ? text : "good";
}

struct Cdb {
    uint8_t b[12] = {};
    Cdb(std::initializer_list<int> bytes) {
        int i = 0;
        for (int v : bytes)
            b[i++] = static_cast<uint8_t>(v);
    }
};

// A synthetic image: filler, an identity template at `at`, the rest 0xFF.
std::vector<uint8_t> Image(const char* identity28, int at) {
    std::vector<uint8_t> image(IMAGE_SIZE, 0xFF);
    for (uint32_t i = 0; i < 0x8000; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    std::memcpy(&image[at], INQUIRY_TEMPLATE, 5);
    std::memset(&image[at + 5], 0, 3);
    std::memcpy(&image[at + 8], identity28, 28);
    return image;
}

uint16_t Sum(const std::vector<uint8_t>& image, size_t count) {
    uint32_t s = 0;
    for (size_t i = 0; i < count; ++i)
        s += image[i];
    return static_cast<uint16_t>(s);
}

// The transfer command and its data phase, built the way the plug-in sends them.
struct Transfer {
    Cdb cdb{0xCB};
    std::vector<uint8_t> data = std::vector<uint8_t>(IMAGE_SIZE, 0);
    Transfer(const std::vector<uint8_t>& image, int b1, int b2, int mode) {
        uint16_t half = Sum(image, 0x8000), all = Sum(image, IMAGE_SIZE);
        cdb = Cdb{0xCB,       b1,   b2,   half >> 8, half & 0xFF, all >> 8,
                  all & 0xFF, 0xFF, 0xFE, mode,      image[0],    image[1]};
        std::memcpy(data.data(), image.data() + 2, IMAGE_SIZE - 2);
    }
};

} // namespace

TEST(VirtualDrive, InquiryHonoursAllocationAndBufferLength) {
    DriveConfig c = Drive(PROTOCOL_22);
    SetField(c.vendor, std::string("QV\0\0", 4));
    VirtualDrive drive(c);
    uint8_t data[100];
    std::memset(data, 0xEE, sizeof data);
    CommandResult r = drive.Execute(Cdb{0x12, 0, 0, 0, 46}.b, data, sizeof data, aspi::SRB_DIR_IN);
    EXPECT_EQ("good", Sense(r));
    EXPECT_EQ(46u, r.bytesIn);
    EXPECT_EQ(kCdRomDeviceType, data[0]);
    EXPECT_EQ(0x80, data[1]);
    EXPECT_EQ(0, std::memcmp(data + 8, "QV\0\0    OLD MODEL       1.00", 28));
    EXPECT_EQ(0xEE, data[46]) << "nothing past the allocation length";

    std::memset(data, 0xEE, sizeof data);
    r = drive.Execute(Cdb{0x12, 0, 0, 0, 255}.b, data, 10, aspi::SRB_DIR_IN);
    EXPECT_EQ(10u, r.bytesIn) << "nothing past the buffer the request gives";
    EXPECT_EQ(0xEE, data[10]);
    r = drive.Execute(Cdb{0x12, 0, 0, 0, 255}.b, data, sizeof data, aspi::SRB_DIR_IN);
    EXPECT_EQ(96u, r.bytesIn);
    EXPECT_EQ(0xEE, data[96]);

    EXPECT_EQ("5/24/00", Sense(drive.Execute(Cdb{0x12, 1, 0x80, 0, 36}.b, data, 36, 0)));
    r = drive.Execute(Cdb{0x12, 0, 0, 0, 36}.b, data, 36, aspi::SRB_DIR_OUT);
    EXPECT_EQ(0x12, r.hostStatus);

    DriveConfig disk;
    disk.kind = DriveKind::Disk;
    VirtualDrive diskDrive(disk);
    diskDrive.Execute(Cdb{0x12, 0, 0, 0, 36}.b, data, 36, aspi::SRB_DIR_IN);
    EXPECT_EQ(0x00, data[0]);
    EXPECT_EQ("good", Sense(diskDrive.Execute(Cdb{0x00}.b, nullptr, 0, 0)));
    EXPECT_EQ("5/20/00", Sense(diskDrive.Execute(Cdb{0x1B, 0, 0, 0, 2}.b, nullptr, 0, 0)));
}

TEST(VirtualDrive, ReadinessTrayAndUnitAttention) {
    DriveConfig c = Drive(0);
    c.unitAttentions = 2;
    VirtualDrive drive(c);
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x00}.b, nullptr, 0, 0)));
    EXPECT_EQ("6/29/00", Sense(drive.Execute(Cdb{0x1B, 0, 0, 0, 2}.b, nullptr, 0, 0)));
    EXPECT_EQ("6/29/00", Sense(drive.Execute(Cdb{0x1B, 0, 0, 0, 2}.b, nullptr, 0, 0)));
    EXPECT_FALSE(drive.trayOpen);
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x1B, 0, 0, 0, 2}.b, nullptr, 0, 0)));
    EXPECT_TRUE(drive.trayOpen);
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x1B, 0, 0, 0, 3}.b, nullptr, 0, 0)));
    EXPECT_FALSE(drive.trayOpen);

    // A prevented medium cannot be ejected; "1e 0 0 0 2" does not prevent.
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x1E, 0, 0, 0, 1}.b, nullptr, 0, 0)));
    EXPECT_EQ("5/53/02", Sense(drive.Execute(Cdb{0x1B, 0, 0, 0, 2}.b, nullptr, 0, 0)));
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x1E, 0, 0, 0, 2}.b, nullptr, 0, 0)));
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x1B, 0, 0, 0, 2}.b, nullptr, 0, 0)));
    EXPECT_TRUE(drive.trayOpen);

    c.notReady = true;
    VirtualDrive notReady(c);
    EXPECT_EQ("2/04/00", Sense(notReady.Execute(Cdb{0x00}.b, nullptr, 0, 0)));
    EXPECT_EQ("5/20/00", Sense(notReady.Execute(Cdb{0x28}.b, nullptr, 0, 0)));
}

TEST(VirtualDrive, ProbesAnswerOnlyTheProtocolsTheDriveTakes) {
    const Cdb probe22{0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 1};
    const Cdb probe20{0xCB, 0x20, 0, 0, 0, 0, 0, 0xFF, 0xFE, 1};
    const Cdb probe21{0xCB, 0x21, 0, 0, 0, 0, 0, 0xFF, 0xFE, 1};
    struct Case {
        unsigned protocols;
        const char* p22;
        const char* p20;
        const char* p21;
    } cases[] = {
        {0, "5/20/00", "5/20/00", "5/20/00"},
        {PROTOCOL_20, "5/20/00", "good", "5/20/00"},
        {PROTOCOL_21, "5/20/00", "5/20/00", "good"},
        {PROTOCOL_22, "good", "5/20/00", "5/20/00"},
        {PROTOCOL_20 | PROTOCOL_21, "5/20/00", "good", "good"},
    };
    for (const Case& c : cases) {
        VirtualDrive drive(Drive(c.protocols));
        EXPECT_EQ(c.p22, Sense(drive.Execute(probe22.b, nullptr, 0, 0))) << c.protocols;
        EXPECT_EQ(c.p20, Sense(drive.Execute(probe20.b, nullptr, 0, 0))) << c.protocols;
        EXPECT_EQ(c.p21, Sense(drive.Execute(probe21.b, nullptr, 0, 0))) << c.protocols;
    }
    VirtualDrive drive(Drive(PROTOCOL_22));
    EXPECT_EQ("5/24/00",
              Sense(drive.Execute(Cdb{0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFF, 1}.b, nullptr, 0, 0)));
    EXPECT_EQ("5/20/00", Sense(drive.Execute(Cdb{0xCB, 0x22}.b, nullptr, 0, 0)));
}

TEST(VirtualDrive, TransferWithMatchingSumsTakesTheNewIdentity) {
    std::vector<uint8_t> image = Image("NEWVENDRNEW PRODUCT NAME2.34", 0x1234);
    // An earlier template loses to the last one.
    std::memcpy(&image[0x100], INQUIRY_TEMPLATE, 5);
    std::memcpy(&image[0x108], "EARLIER ONE                 ", 28);

    VirtualDrive verify(Drive(PROTOCOL_22));
    Transfer t(image, 0, 0x22, 0x84);
    CommandResult r = verify.Execute(t.cdb.b, t.data.data(), IMAGE_SIZE, aspi::SRB_DIR_OUT);
    EXPECT_EQ("good", Sense(r));
    EXPECT_EQ(IMAGE_SIZE, r.bytesOut);
    EXPECT_EQ(1, verify.flashCount);
    EXPECT_EQ("NEWVENDR", std::string(verify.config.vendor.begin(), verify.config.vendor.end()));
    EXPECT_EQ("2.34", std::string(verify.config.revision.begin(), verify.config.revision.end()));

    for (int form : {0x20, 0x21}) {
        VirtualDrive reboot(Drive(PROTOCOL_20 | PROTOCOL_21));
        Transfer tr(image, form, 0, 0x04);
        EXPECT_EQ("good", Sense(reboot.Execute(tr.cdb.b, tr.data.data(), IMAGE_SIZE, 0)));
        EXPECT_EQ(1, reboot.flashCount);
        // Verify mode exists only in the CB 0 22 form.
        Transfer bad(image, form, 0, 0x84);
        EXPECT_EQ("5/24/00", Sense(reboot.Execute(bad.cdb.b, bad.data.data(), IMAGE_SIZE, 0)));
    }
}

TEST(VirtualDrive, TransferIsRefusedOnAnyWrongSumOrShortData) {
    std::vector<uint8_t> image = Image("NEWVENDRNEW PRODUCT NAME2.34", 0x9000);
    struct Case {
        const char* what;
        int cdbByte;
        int dataByte;
    } cases[] = {
        {"half sum", 4, -1},      {"whole sum", 6, -1},         {"image byte 0", 10, -1},
        {"image byte 1", 11, -1}, {"first half data", -1, 100}, {"second half data", -1, 0x9000},
    };
    for (const Case& c : cases) {
        VirtualDrive drive(Drive(PROTOCOL_22));
        Transfer t(image, 0, 0x22, 0x84);
        if (c.cdbByte >= 0)
            t.cdb.b[c.cdbByte] ^= 0x01;
        if (c.dataByte >= 0)
            t.data[c.dataByte] ^= 0x01;
        EXPECT_EQ("5/26/00", Sense(drive.Execute(t.cdb.b, t.data.data(), IMAGE_SIZE, 0))) << c.what;
        EXPECT_EQ(0, drive.flashCount) << c.what;
        EXPECT_EQ("OLD MODEL       ",
                  std::string(drive.config.product.begin(), drive.config.product.end()));
    }
    // The two data bytes past the image are not part of it.
    VirtualDrive drive(Drive(PROTOCOL_22));
    Transfer t(image, 0, 0x22, 0x04);
    t.data[65534] = 0x12;
    t.data[65535] = 0x34;
    EXPECT_EQ("good", Sense(drive.Execute(t.cdb.b, t.data.data(), IMAGE_SIZE, 0)));
    EXPECT_EQ("5/24/00", Sense(drive.Execute(t.cdb.b, t.data.data(), IMAGE_SIZE - 1, 0)));
    EXPECT_EQ(0x12, drive.Execute(t.cdb.b, t.data.data(), IMAGE_SIZE, aspi::SRB_DIR_IN).hostStatus);

    DriveConfig failing = Drive(PROTOCOL_22);
    failing.failTransfer = true;
    failing.failKey = 3;
    failing.failAsc = 0x0C;
    VirtualDrive broken(failing);
    EXPECT_EQ("3/0C/00", Sense(broken.Execute(t.cdb.b, t.data.data(), IMAGE_SIZE, 0)));
    EXPECT_EQ(0, broken.flashCount);
}

TEST(VirtualDrive, TemplateSearchNeedsRoomForTheIdentity) {
    std::vector<uint8_t> image(100, 0);
    EXPECT_EQ(-1, FindLastTemplate(image.data(), 100));
    std::memcpy(&image[65], INQUIRY_TEMPLATE, 5); // 36 bytes do not fit after it
    EXPECT_EQ(-1, FindLastTemplate(image.data(), 100));
    std::memcpy(&image[0], INQUIRY_TEMPLATE, 5);
    EXPECT_EQ(0, FindLastTemplate(image.data(), 100));
    std::memcpy(&image[64 - 1], INQUIRY_TEMPLATE, 5);
    EXPECT_EQ(63, FindLastTemplate(image.data(), 100)) << "the last one wins";
    EXPECT_EQ(-1, FindLastTemplate(image.data(), 30));
}

TEST(VirtualDrive, HangTransferHoldsOnlyTheFirmwareTransfer) {
    DriveConfig config = Drive(PROTOCOL_20 | PROTOCOL_21 | PROTOCOL_22);
    config.hangTransfer = true;
    VirtualDrive drive(config);
    const struct {
        Cdb cdb;
        bool hangs;
    } cases[] = {
        {{0xCB, 0, 0x22, 0, 0, 0, 0, 0, 0, 0x04}, true},
        {{0xCB, 0, 0x22, 0, 0, 0, 0, 0, 0, 0x84}, true},
        {{0xCB, 0x20, 0, 0, 0, 0, 0, 0, 0, 0x04}, true},
        {{0xCB, 0, 0x22, 0, 0, 0, 0, 0, 0, 0x01}, false}, // the probe
        {{0x12, 0, 0, 0, 36}, false},
        {{0x1B, 0, 0, 0, 2}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.hangs, drive.Hangs(c.cdb.b)) << std::hex << int(c.cdb.b[0]) << int(c.cdb.b[9]);
    EXPECT_FALSE(VirtualDrive(Drive(PROTOCOL_22)).Hangs(cases[0].cdb.b));
}

TEST(VirtualDrive, CutTransferLeavesTheLoaderUntilAGoodTransfer) {
    DriveConfig config = Drive(PROTOCOL_21);
    config.cutTransfer = true;
    SetField(config.loaderProduct, "BOOT");
    SetField(config.loaderRevision, "B0");
    VirtualDrive drive(config);
    const std::vector<uint8_t> image = Image("NEWVENDRNEW PRODUCT NAME2.34", 0x1234);
    Transfer cut(image, 0x21, 0, 0x04);
    CommandResult r = drive.Execute(cut.cdb.b, cut.data.data(), IMAGE_SIZE, aspi::SRB_DIR_OUT);
    EXPECT_NE(0, r.hostStatus) << "an error the layer cannot read as the drive's answer";
    EXPECT_EQ("good", Sense(r)) << "and no sense";
    EXPECT_TRUE(drive.inLoader);
    EXPECT_EQ(0, drive.flashCount);

    uint8_t answer[36] = {};
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x12, 0, 0, 0, 36}.b, answer, 36, aspi::SRB_DIR_IN)));
    EXPECT_EQ(std::string("QVSIM   BOOT            B0  "),
              std::string(reinterpret_cast<char*>(answer) + 8, 28));
    struct {
        Cdb cdb;
        const char* sense;
    } loader[] = {
        {{0x00}, "2/04/00"},                                        // no medium to be ready with
        {{0x1E, 0, 0, 0, 1}, "5/20/00"},                            // prevent
        {{0x1B, 0, 0, 0, 2}, "5/20/00"},                            // eject
        {{0xCB, 0x21, 0, 0, 0, 0, 0, 0xFF, 0xFE, 0x01}, "good"},    // its own probe
        {{0xCB, 0x20, 0, 0, 0, 0, 0, 0xFF, 0xFE, 0x01}, "5/20/00"}, // another form
    };
    for (auto& c : loader)
        EXPECT_EQ(c.sense, Sense(drive.Execute(c.cdb.b, nullptr, 0, 0))) << int(c.cdb.b[0]);

    // Only a good transfer ends the loader, with the image's identity.
    Transfer damaged = cut;
    damaged.cdb.b[6] ^= 1;
    EXPECT_EQ("5/26/00", Sense(drive.Execute(damaged.cdb.b, damaged.data.data(), IMAGE_SIZE,
                                             aspi::SRB_DIR_OUT)));
    EXPECT_TRUE(drive.inLoader);
    EXPECT_EQ("good",
              Sense(drive.Execute(cut.cdb.b, cut.data.data(), IMAGE_SIZE, aspi::SRB_DIR_OUT)));
    EXPECT_FALSE(drive.inLoader);
    EXPECT_EQ("NEW PRODUCT NAME",
              std::string(drive.config.product.begin(), drive.config.product.end()));
    EXPECT_EQ("good", Sense(drive.Execute(Cdb{0x00}.b, nullptr, 0, 0)));
}
