#include "../support/AspiRequest.h"

#include "simulator/DriveBank.h"
#include "simulator/SimulatedLayer.h"

#include "aspi/AspiLayer.h"
#include "aspi/AspiPlatform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace simulator;
using namespace aspi;

namespace {

DriveBank* NewBank(const char* text) {
    BankConfig config;
    std::string error;
    EXPECT_EQ(1, ParseBank(text, config, error)) << error;
    return new DriveBank(config);
}

typedef AspiRequest Request;

const char* const TwoDrives = "adapter\n"
                              "drive 0 vendor=QV product=ALPHA latency=100 protocols=2.2\n"
                              "disk 1 latency=0\n"
                              "drive 2 vendor=QV product=STUCK hang=12\n";

} // namespace

// The drive never sees a transfer it was gone for, and still answers its probe.
TEST(DriveBank, AVanishedDriveTimesOutItsSelection) {
    std::unique_ptr<DriveBank> gone(NewBank("adapter\ndrive 0 protocols=2.2 vanish-transfer\n"));
    Request transfer(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x84}, SRB_DIR_OUT);
    Request probe(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x01}, 0);
    for (Request* r : {&transfer, &probe}) {
        gone->SendCommand(&r->srb);
        ASSERT_EQ(1, WaitCompletionEvent(r->event, 5000));
    }
    EXPECT_EQ(SS_COMP, probe.Status());
    EXPECT_EQ("reject ha=0 target=0 cdb=CB 00 22 00 00 00 00 FF FE 84 00 00 status=04 host=11",
              gone->Journal()[0]);
}

TEST(DriveBank, RestartTransferTakesTheImageAndNeverEndsTheCommand) {
    std::unique_ptr<DriveBank> bank(NewBank("adapter\ndrive 0 protocols=2.2 restart-transfer\n"));
    std::vector<uint8_t> zeros(MAX_TRANSFER); // an image of zeros: both sums 0
    Request transfer(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x84}, SRB_DIR_OUT);
    transfer.srb.SRB_BufPointer = zeros.data();
    transfer.srb.SRB_BufLen = MAX_TRANSFER;
    EXPECT_EQ(SS_PENDING, bank->SendCommand(&transfer.srb));
    EXPECT_EQ(0, WaitCompletionEvent(transfer.event, 50));
    EXPECT_EQ(1, bank->FlashCount(0, 0));
    EXPECT_EQ(1, bank->HeldCount());
    SRB_BusDeviceReset reset{};
    reset.SRB_Cmd = SC_RESET_DEV;
    EXPECT_EQ(SS_COMP, bank->SendCommand(&reset));
    EXPECT_EQ(SS_ABORTED, transfer.Status());
    EXPECT_EQ(0, bank->HeldCount());
}

TEST(DriveBank, CutTransferFailsWithoutSenseAndTheLoaderOutlivesTheProgram) {
    const std::string name = testing::TempDir() + "bank-cut-" + std::to_string(getpid());
    std::ofstream(name + ".bank") << "adapter\ndrive 0 protocols=2.2 latency=0 cut-transfer\n";
    std::remove((name + ".state").c_str());
    std::vector<uint8_t> zeros(MAX_TRANSFER); // an image of zeros: both sums 0
    for (int run = 0; run < 2; ++run) {
        std::unique_ptr<DriveBank> bank(CreateBank(name + ".bank", "", name + ".state"));
        Request inquiry(0, 0, {0x12, 0, 0, 0, 36});
        bank->SendCommand(&inquiry.srb);
        ASSERT_EQ(1, WaitCompletionEvent(inquiry.event, 5000));
        const char* product = run ? "BOOT LOADER" : "CD-ROM";
        EXPECT_EQ(0, std::memcmp(inquiry.data + 16, product, std::strlen(product))) << run;
        if (run)
            break;
        // The cut transfer, then a good one to the loader that the bank cannot
        // record: a state that cannot be written leaves the one before whole,
        // the loader in it.
        for (const int expected : {SS_ERR, SS_COMP}) {
            Request transfer(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x84}, SRB_DIR_OUT);
            transfer.srb.SRB_BufPointer = zeros.data();
            transfer.srb.SRB_BufLen = MAX_TRANSFER;
            bank->SendCommand(&transfer.srb);
            ASSERT_EQ(1, WaitCompletionEvent(transfer.event, 5000));
            EXPECT_EQ(expected, transfer.Status());
            if (expected == SS_ERR) {
                EXPECT_NE(0, transfer.srb.SRB_HaStat);
                EXPECT_EQ(0, transfer.srb.SenseArea[0]) << "no sense to read";
                ASSERT_EQ(0, symlink("/dev/full", (name + ".state.new").c_str()));
            }
        }
        std::remove((name + ".state.new").c_str());
    }
    std::remove((name + ".bank").c_str());
    std::remove((name + ".state").c_str());
}

// A client sends its next command in the record a reset gave back, at once
// (the channel does): the bank answers it, not the wait of the one before.
TEST(DriveBank, ARecordGivenBackAndSentAgainIsAnswered) {
    std::unique_ptr<DriveBank> bank(NewBank("adapter\ndrive 0 latency=0 hang=00\n"));
    Request r(0, 0, {0x00});
    SRB_BusDeviceReset reset{};
    reset.SRB_Cmd = SC_RESET_DEV;
    int unanswered = 0;
    for (int i = 0; i < 200 && !unanswered; ++i) {
        r.srb.CDBByte[0] = 0x00; // held for good
        ASSERT_EQ(SS_PENDING, bank->SendCommand(&r.srb));
        ASSERT_EQ(SS_COMP, bank->SendCommand(&reset));
        WaitCompletionEvent(r.event, 0);
        r.srb.CDBByte[0] = 0x12;
        bank->SendCommand(&r.srb);
        unanswered += WaitCompletionEvent(r.event, 2000) ? 0 : 1;
    }
    EXPECT_EQ(0, unanswered);
}

// Every request that reaches the bank shows in its log, the held ones as
// they start, and the held count follows them.
TEST(DriveBank, HeldResetAbortedAndRefusedRequestsAreLogged) {
    std::unique_ptr<DriveBank> bank(NewBank(TwoDrives));
    SRB_BusDeviceReset reset{};
    reset.SRB_Cmd = SC_RESET_DEV;
    reset.SRB_Target = 2;
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    for (int i = 0; i < 2; ++i) {
        Request stuck(0, 2, {0x12, 0, 0, 0, 36});
        EXPECT_EQ(SS_PENDING, bank->SendCommand(&stuck.srb));
        EXPECT_EQ(0, WaitCompletionEvent(stuck.event, 50));
        EXPECT_EQ(1, bank->HeldCount());
        abort.SRB_ToAbort = &stuck.srb;
        EXPECT_EQ(SS_COMP, bank->SendCommand(i ? static_cast<void*>(&abort) : &reset));
        EXPECT_EQ(0, bank->HeldCount());
    }
    Request nowhere(0, 5, {0x12, 0, 0, 0, 36});
    EXPECT_EQ(SS_NO_DEVICE, bank->SendCommand(&nowhere.srb));
    SRB_GDEVBlock disk{};
    disk.SRB_Cmd = SC_GET_DEV_TYPE;
    disk.SRB_Target = 1;
    EXPECT_EQ(SS_COMP, bank->SendCommand(&disk));
    EXPECT_EQ(0, disk.SRB_DeviceType) << "a disk";

    const std::string inquiry = " ha=0 target=2 cdb=12 00 00 00 24 00 00 00 00 00 00 00";
    std::vector<std::string> journal = bank->Journal();
    ASSERT_EQ(5u, journal.size());
    EXPECT_EQ("hold" + inquiry, journal[0]);
    EXPECT_EQ("reset ha=0 target=2 released=1", journal[1]);
    EXPECT_EQ("hold" + inquiry, journal[2]);
    EXPECT_EQ("abort" + inquiry, journal[3]);
    EXPECT_EQ("reject ha=0 target=5 cdb=12 00 00 00 24 00 00 00 00 00 00 00 status=82 host=00",
              journal[4]);
}

namespace {

// A bank file with one drive, and where its log and state files go.
struct BankFiles {
    std::string stem = testing::TempDir() + "bank-" + std::to_string(getpid());
    std::string log = stem + "-log.txt", state = stem + "-state.txt", bank = stem + ".txt";
    BankFiles() {
        Remove();
        std::ofstream(bank) << "adapter\ndrive 0 vendor=QV product=OLD revision=1.00 "
                               "protocols=2.2 latency=0\n";
    }
    ~BankFiles() { Remove(); }
    void Remove() {
        for (const std::string* path : {&log, &state, &bank})
            std::remove(path->c_str());
    }
};

} // namespace

TEST(DriveBank, LogAndStateFileKeepWhatHappened) {
    BankFiles files;
    // An image whose template names a new product, sent in the CB 0 22 form.
    std::vector<uint8_t> image(IMAGE_SIZE, 0xFF);
    const uint8_t tmpl[] = {0x05, 0x80, 0x00, 0x21, 0x1F, 0, 0, 0};
    std::memcpy(&image[0x400], tmpl, 8);
    std::memcpy(&image[0x408], "QV      NEW PRODUCT     9.99", 28);
    int half = 0, all = 0;
    for (uint32_t i = 0; i < IMAGE_SIZE; ++i) {
        all += image[i];
        half += i < IMAGE_SIZE / 2 ? image[i] : 0;
    }
    // Image bytes 0 and 1 ride in CDB bytes 10 and 11; the data phase is the rest.
    std::vector<uint8_t> data(image.begin() + 2, image.end());
    data.resize(IMAGE_SIZE);
    const int cdb[] = {
        0xCB, 0,    0x22, (half >> 8) & 0xFF, half & 0xFF, (all >> 8) & 0xFF, all & 0xFF,
        0xFF, 0xFE, 0x84, image[0],           image[1]};
    for (int run = 0; run < 2; ++run) {
        // The second run finds the flashed identity again.
        std::unique_ptr<DriveBank> bank(CreateBank(files.bank, files.log, files.state));
        Request r(0, 0, {0x12, 0, 0, 0, 36});
        if (run == 0) {
            r.srb.SRB_Flags = SRB_DIR_OUT | SRB_EVENT_NOTIFY;
            std::copy(std::begin(cdb), std::end(cdb), r.srb.CDBByte);
            r.srb.SRB_BufLen = IMAGE_SIZE;
            r.srb.SRB_BufPointer = data.data();
        }
        bank->SendCommand(&r.srb);
        ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
        ASSERT_EQ(SS_COMP, r.Status());
        EXPECT_EQ("QV      NEW PRODUCT     9.99", bank->Identity(0, 0));
    }
    std::ifstream logFile(files.log);
    std::string first, second;
    std::getline(logFile, first);
    std::getline(logFile, second);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "exec ha=0 target=0 dir=out len=65536 cdb=CB 00 22 %02X %02X %02X %02X FF FE 84 "
                  "FF FF digest=%08X status=01 sense=0/00/00",
                  cdb[3], cdb[4], cdb[5], cdb[6], DataDigest(data.data(), IMAGE_SIZE));
    EXPECT_EQ(expected, first);
    EXPECT_EQ(0u, second.find("exec ha=0 target=0 dir=in len=128 cdb=12 00 00 00 24")) << second;
}

TEST(DriveBank, ADamagedStateFileIsReportedAndTheBankStartsAsDescribed) {
    BankFiles files;
    std::ofstream(files.state) << "0 0 nothex\n";
    std::unique_ptr<DriveBank> bank(CreateBank(files.bank, files.log, files.state));
    EXPECT_EQ("QV      OLD             1.00", bank->Identity(0, 0));
    std::vector<std::string> journal = bank->Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(0u, journal.back().find("error state file")) << journal.back();
}

// The problem is one log line, whatever bytes the file quotes: a newline
// in a value cannot add a command line to the log.
TEST(DriveBank, BadBankFileGivesNoAdaptersAndAnError) {
    const struct {
        const char* line;
        const char* says;
    } cases[] = {
        {"drive 0 colour=blue", "line 2: unknown key 'colour'"},
        {"drive 0 bus=\"\\x0Aexec ha=0 cdb=CB\\x1B\"",
         "bus is usb, ata, scsi, sata or 1394, not '\\x0Aexec ha=0 cdb=CB\\x1B'"},
    };
    BankFiles files;
    for (const auto& c : cases) {
        std::ofstream(files.bank) << "adapter\n" << c.line << "\n";
        std::remove(files.log.c_str());
        std::unique_ptr<DriveBank> bank(CreateBank(files.bank, files.log, ""));
        EXPECT_EQ(0, bank->AdapterCount());
        ASSERT_EQ(1u, bank->Journal().size());
        EXPECT_NE(std::string::npos, bank->Journal()[0].find(c.says)) << bank->Journal()[0];
        std::ifstream log(files.log);
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
    }
}

// What the bank answers through the entry points: the contract suite.
TEST(SimulatedLayer, InstallingABankAndNone) {
    std::unique_ptr<DriveBank> bank(CreateBank("", "", ""));
    InstallLayer(bank.get());
    EXPECT_EQ(bank.get(), InstalledBank());
    EXPECT_EQ(MakeSupportInfo(SS_COMP, 2), GetASPI32SupportInfo()) << "the default bank";
    InstallLayer(nullptr);
    EXPECT_EQ(nullptr, InstalledBank());
    EXPECT_EQ(0, HasLayer());
}
