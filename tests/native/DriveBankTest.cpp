#include "simulator/DriveBank.h"
#include "simulator/SimulatedLayer.h"

#include "aspi/AspiLayer.h"
#include "aspi/AspiPlatform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

using namespace simulator;
using namespace aspi;

namespace {

DriveBank* NewBank(const char* text) {
    BankConfig config;
    std::string error;
    EXPECT_EQ(1, ParseBank(text, config, error)) << error;
    return new DriveBank(config);
}

// One execute request with its own buffer and completion event.
struct Request {
    SRB_ExecSCSICmd srb{};
    uint8_t data[128] = {};
    EventHandle event = CreateCompletionEvent();
    ~Request() { CloseCompletionEvent(event); }

    Request(int adapter, int target, std::initializer_list<int> cdb, uint8_t flags = SRB_DIR_IN,
            bool notify = true) {
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = static_cast<uint8_t>(adapter);
        srb.SRB_Target = static_cast<uint8_t>(target);
        srb.SRB_Flags = static_cast<uint8_t>(flags | (notify ? SRB_EVENT_NOTIFY : 0));
        srb.SRB_BufLen = sizeof data;
        srb.SRB_BufPointer = data;
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_CDBLen = 12;
        srb.SRB_PostProc = notify ? event : nullptr;
        int i = 0;
        for (int b : cdb)
            srb.CDBByte[i++] = static_cast<uint8_t>(b);
    }
    uint8_t Status() { return LoadStatus(&srb.SRB_Status); }
    // Waits for the status to leave "pending", for at most `ms`.
    bool Done(int ms = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (Status() == SS_PENDING) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

const char* const TwoDrives = "adapter\n"
                              "drive 0 vendor=QV product=ALPHA latency=100 protocols=2.2\n"
                              "disk 1 latency=0\n"
                              "drive 2 vendor=QV product=STUCK hang=12\n";

} // namespace

TEST(DriveBank, ExecuteCompletesLaterWithDataStatusAndEvent) {
    std::unique_ptr<DriveBank> bank(NewBank(TwoDrives));
    EXPECT_EQ(MakeSupportInfo(SS_COMP, 1), bank->GetSupportInfo());
    Request r(0, 0, {0x12, 0, 0, 0, 36});
    EXPECT_EQ(SS_PENDING, bank->SendCommand(&r.srb));
    EXPECT_EQ(SS_PENDING, r.Status()) << "a 100 ms drive is still busy";
    ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
    // Everything else was written before the status the event announces.
    EXPECT_EQ(SS_COMP, r.Status());
    EXPECT_EQ(0x05, r.data[0]);
    EXPECT_EQ(0, std::memcmp(r.data + 8, "QV      ALPHA", 13));
    EXPECT_EQ(0, r.srb.SRB_HaStat);
    EXPECT_EQ(STATUS_GOOD, r.srb.SRB_TargStat);
    EXPECT_EQ(0, bank->PendingCount());
}

TEST(DriveBank, ResidualCountIsTheBytesNotMovedWhenAskedFor) {
    std::unique_ptr<DriveBank> bank(NewBank("adapter\n"
                                            "drive 0 latency=0\n"
                                            "drive 1 latency=0 inquiry-length=5\n"));
    const struct {
        int target;
        uint8_t flags;
        uint32_t bufLen; // after completion, of the 128 the request gives
    } cases[] = {{0, SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT, 128 - 36},
                 {1, SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT, 128 - 5},
                 {1, SRB_DIR_IN, 128}};
    for (const auto& c : cases) {
        Request r(0, c.target, {0x12, 0, 0, 0, 36}, c.flags);
        bank->SendCommand(&r.srb);
        ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
        EXPECT_EQ(SS_COMP, r.Status());
        EXPECT_EQ(c.bufLen, r.srb.SRB_BufLen) << c.target << " " << int(c.flags);
        EXPECT_EQ(0, r.data[c.target ? 5 : 36]) << "nothing past the answer";
    }
}

TEST(DriveBank, CheckConditionCarriesSenseAndNoEventUnlessAsked) {
    std::unique_ptr<DriveBank> bank(NewBank(TwoDrives));
    Request r(0, 1, {0x1B, 0, 0, 0, 2}, 0, false);
    EXPECT_EQ(SS_PENDING, bank->SendCommand(&r.srb));
    ASSERT_TRUE(r.Done());
    EXPECT_EQ(SS_ERR, r.Status());
    EXPECT_EQ(STATUS_CHKCOND, r.srb.SRB_TargStat);
    EXPECT_EQ(0x70, r.srb.SenseArea[0]);
    EXPECT_EQ(0x05, r.srb.SenseArea[2]);
    EXPECT_EQ(0x20, r.srb.SenseArea[12]);
    EXPECT_EQ(0, WaitCompletionEvent(r.event, 50)) << "event notification was not asked for";

    // The sense copied never exceeds what the request asks for.
    Request shortSense(0, 1, {0x1B, 0, 0, 0, 2});
    shortSense.srb.SRB_SenseLen = 3;
    bank->SendCommand(&shortSense.srb);
    ASSERT_EQ(1, WaitCompletionEvent(shortSense.event, 5000));
    EXPECT_EQ(0x05, shortSense.srb.SenseArea[2]);
    EXPECT_EQ(0, shortSense.srb.SenseArea[12]);
}

TEST(DriveBank, RequestsThatCannotRunFailAtOnce) {
    std::unique_ptr<DriveBank> bank(NewBank(TwoDrives));
    struct Case {
        const char* what;
        int adapter, target, lun;
        uint8_t flags;
        uint32_t length;
        uint8_t expected;
    } cases[] = {
        {"adapter", 1, 0, 0, SRB_DIR_IN, 36, SS_INVALID_HA},
        {"empty target", 0, 5, 0, SRB_DIR_IN, 36, SS_NO_DEVICE},
        {"target 8", 0, 8, 0, SRB_DIR_IN, 36, SS_NO_DEVICE},
        {"lun 1", 0, 0, 1, SRB_DIR_IN, 36, SS_NO_DEVICE},
        {"posting and event", 0, 0, 0, SRB_DIR_IN | SRB_POSTING, 36, SS_INVALID_SRB},
        {"too big", 0, 0, 0, SRB_DIR_IN, MAX_TRANSFER + 1, SS_BUFFER_TO_BIG},
    };
    for (const Case& c : cases) {
        Request r(c.adapter, c.target, {0x12, 0, 0, 0, 36}, c.flags);
        r.srb.SRB_Lun = static_cast<uint8_t>(c.lun);
        r.srb.SRB_BufLen = c.length;
        EXPECT_EQ(c.expected, bank->SendCommand(&r.srb)) << c.what;
        EXPECT_EQ(c.expected, r.Status()) << c.what;
        if (!(c.flags & SRB_POSTING)) {
            EXPECT_EQ(1, WaitCompletionEvent(r.event, 0)) << c.what << ": a waiter is woken";
        }
        EXPECT_EQ(0, r.data[0]) << c.what;
    }
    // A transfer that finds its drive gone: a selection time-out; the drive
    // never sees it, and it still answers its probe.
    std::unique_ptr<DriveBank> gone(NewBank("adapter\ndrive 0 protocols=2.2 vanish-transfer\n"));
    Request transfer(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x84}, SRB_DIR_OUT);
    EXPECT_EQ(SS_ERR, gone->SendCommand(&transfer.srb));
    EXPECT_EQ(0x11, transfer.srb.SRB_HaStat);
    EXPECT_EQ(0, transfer.srb.SenseArea[0]);
    Request probe(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x01}, 0);
    EXPECT_EQ(SS_PENDING, gone->SendCommand(&probe.srb));
    ASSERT_EQ(1, WaitCompletionEvent(probe.event, 5000));
    EXPECT_EQ(SS_COMP, probe.Status());
    EXPECT_EQ(0u, gone->Journal()[0].find("reject ha=0 target=0 cdb=CB 00 22"))
        << gone->Journal()[0];
    EXPECT_NE(std::string::npos, gone->Journal()[0].find("status=04 host=11"));
    BankConfig empty;
    DriveBank none(empty);
    EXPECT_EQ(SS_NO_ADAPTERS, SupportStatus(none.GetSupportInfo()));
    EXPECT_EQ(0, SupportAdapterCount(none.GetSupportInfo()));
}

TEST(DriveBank, RestartTransferTakesTheImageAndNeverEndsTheCommand) {
    std::unique_ptr<DriveBank> bank(NewBank("adapter\ndrive 0 protocols=2.2 restart-transfer\n"));
    std::vector<uint8_t> zeros(MAX_TRANSFER); // an image of zeros: both sums 0
    Request transfer(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x84}, SRB_DIR_OUT);
    transfer.srb.SRB_BufPointer = zeros.data();
    transfer.srb.SRB_BufLen = MAX_TRANSFER;
    EXPECT_EQ(SS_PENDING, bank->SendCommand(&transfer.srb));
    EXPECT_EQ(1, bank->FlashCount(0, 0));
    EXPECT_EQ(1, bank->HeldCount());
    EXPECT_EQ(0, WaitCompletionEvent(transfer.event, 50));
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
        Request cut(0, 0, {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x84}, SRB_DIR_OUT);
        cut.srb.SRB_BufPointer = zeros.data();
        cut.srb.SRB_BufLen = MAX_TRANSFER;
        bank->SendCommand(&cut.srb);
        ASSERT_EQ(1, WaitCompletionEvent(cut.event, 5000));
        EXPECT_EQ(SS_ERR, cut.Status());
        EXPECT_NE(0, cut.srb.SRB_HaStat);
        EXPECT_EQ(0, cut.srb.SenseArea[0]) << "no sense to read";
    }
    std::remove((name + ".bank").c_str());
    std::remove((name + ".state").c_str());
}

TEST(DriveBank, ResetAndAbortReleaseRequestsThatNeverComplete) {
    std::unique_ptr<DriveBank> bank(NewBank(TwoDrives));
    Request stuck(0, 2, {0x12, 0, 0, 0, 36});
    EXPECT_EQ(SS_PENDING, bank->SendCommand(&stuck.srb));
    EXPECT_EQ(0, WaitCompletionEvent(stuck.event, 100));
    EXPECT_EQ(SS_PENDING, stuck.Status());
    EXPECT_EQ(1, bank->PendingCount());
    EXPECT_EQ(1, bank->HeldCount());

    SRB_BusDeviceReset reset{};
    reset.SRB_Cmd = SC_RESET_DEV;
    reset.SRB_Target = 2;
    EXPECT_EQ(SS_COMP, bank->SendCommand(&reset));
    EXPECT_EQ(SS_COMP, reset.SRB_Status);
    EXPECT_EQ(SS_ABORTED, stuck.Status());
    EXPECT_EQ(1, WaitCompletionEvent(stuck.event, 0));
    EXPECT_EQ(0, stuck.data[0]) << "an aborted INQUIRY moves no data";
    EXPECT_EQ(1, bank->ResetCount(0, 2));
    EXPECT_EQ(0, bank->ResetCount(0, 0));
    EXPECT_EQ(0, bank->PendingCount());

    Request again(0, 2, {0x12, 0, 0, 0, 36});
    bank->SendCommand(&again.srb);
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &again.srb;
    EXPECT_EQ(SS_COMP, bank->SendCommand(&abort));
    EXPECT_EQ(SS_ABORTED, again.Status());
    EXPECT_EQ(0, bank->HeldCount());
    EXPECT_EQ(SS_ABORT_FAIL, bank->SendCommand(&abort)) << "nothing left to abort";

    reset.SRB_Target = 6;
    EXPECT_EQ(SS_NO_DEVICE, bank->SendCommand(&reset));
    reset.SRB_HaId = 3;
    EXPECT_EQ(SS_INVALID_HA, bank->SendCommand(&reset));

    Request nowhere(0, 5, {0x12, 0, 0, 0, 36});
    EXPECT_EQ(SS_NO_DEVICE, bank->SendCommand(&nowhere.srb));

    // Every request that reached the bank shows, the held ones as they arrive.
    std::vector<std::string> journal = bank->Journal();
    ASSERT_EQ(5u, journal.size());
    EXPECT_EQ("hold ha=0 target=2 cdb=12 00 00 00 24 00 00 00 00 00 00 00", journal[0]);
    EXPECT_EQ("reset ha=0 target=2 released=1", journal[1]);
    EXPECT_EQ("hold ha=0 target=2 cdb=12 00 00 00 24 00 00 00 00 00 00 00", journal[2]);
    EXPECT_EQ("abort ha=0 target=2 cdb=12 00 00 00 24 00 00 00 00 00 00 00", journal[3]);
    EXPECT_EQ("reject ha=0 target=5 cdb=12 00 00 00 24 00 00 00 00 00 00 00 status=82 host=00",
              journal[4]);
}

TEST(DriveBank, HostAdapterInquiryAndDeviceType) {
    std::unique_ptr<DriveBank> bank(NewBank(TwoDrives));
    SRB_HAInquiry ha{};
    ha.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(SS_COMP, bank->SendCommand(&ha));
    EXPECT_EQ(1, ha.HA_Count);
    EXPECT_EQ(8, ha.HA_Unique[3]);

    SRB_GDEVBlock dev{};
    dev.SRB_Cmd = SC_GET_DEV_TYPE;
    EXPECT_EQ(SS_COMP, bank->SendCommand(&dev));
    EXPECT_EQ(5, dev.SRB_DeviceType);
    dev.SRB_Target = 1;
    EXPECT_EQ(SS_COMP, bank->SendCommand(&dev));
    EXPECT_EQ(0, dev.SRB_DeviceType);
    dev.SRB_Target = 3;
    EXPECT_EQ(SS_NO_DEVICE, bank->SendCommand(&dev));

    SRB_Header unknown{};
    unknown.SRB_Cmd = 9;
    EXPECT_EQ(SS_INVALID_CMD, bank->SendCommand(&unknown));
}

namespace {
std::atomic<void*> posted{nullptr};
void RecordPost(void* srb) {
    posted.store(srb);
}
} // namespace

TEST(DriveBank, PostingCallsTheRoutineWithTheRequest) {
    std::unique_ptr<DriveBank> bank(NewBank(TwoDrives));
    Request r(0, 1, {0x00}, 0, false);
    r.srb.SRB_Flags = SRB_POSTING;
    r.srb.SRB_PostProc = reinterpret_cast<void*>(&RecordPost);
    posted.store(nullptr);
    bank->SendCommand(&r.srb);
    ASSERT_TRUE(r.Done());
    for (int i = 0; i < 500 && !posted.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(&r.srb, posted.load());
    EXPECT_EQ(SS_COMP, r.Status());
}

// Many threads, each with its own request and event, against drives of
// different latencies: every waiter gets its own answer, none is lost.
// A request is freed as soon as its status shows; the sanitizers catch a
// layer that touches it after that.
TEST(DriveBank, ConcurrentRequestsCompleteIndependently) {
    std::unique_ptr<DriveBank> bank(NewBank("adapter\n"
                                            "drive 0 product=ZERO latency=0\n"
                                            "drive 1 product=ONE latency=1\n"
                                            "drive 2 product=TWO latency=3\n"
                                            "drive 3 product=THREE latency=0\n"));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    const char* products[] = {"ZERO", "ONE", "TWO", "THREE"};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                auto* r = new Request(0, t, {0x12, 0, 0, 0, 36}, SRB_DIR_IN, (i & 1) == 0);
                bank->SendCommand(&r->srb);
                bool done = (i & 1) == 0 ? WaitCompletionEvent(r->event, 5000) == 1 : r->Done();
                done = done && r->Status() == SS_COMP;
                if (!done || std::memcmp(r->data + 16, products[t], std::strlen(products[t])))
                    ++wrong;
                delete r;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(0, bank->PendingCount());
}

TEST(DriveBank, LogAndStateFileKeepWhatHappened) {
    std::string log = testing::TempDir() + "bank-log-" + std::to_string(getpid()) + ".txt";
    std::string state = testing::TempDir() + "bank-state-" + std::to_string(getpid()) + ".txt";
    std::remove(log.c_str());
    std::remove(state.c_str());
    std::string bankFile = testing::TempDir() + "bank-" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream f(bankFile);
        f << "adapter\ndrive 0 vendor=QV product=OLD revision=1.00 protocols=2.2 latency=0\n";
    }
    // An image whose template names a new product, sent in the CB 0 22 form.
    std::vector<uint8_t> image(IMAGE_SIZE, 0xFF);
    const uint8_t tmpl[] = {0x05, 0x80, 0x00, 0x21, 0x1F, 0, 0, 0};
    std::memcpy(&image[0x400], tmpl, 8);
    std::memcpy(&image[0x408], "QV      NEW PRODUCT     9.99", 28);
    int half = 0, all = 0;
    for (uint32_t i = 0; i < IMAGE_SIZE; ++i) {
        all += image[i];
        if (i < IMAGE_SIZE / 2)
            half += image[i];
    }
    // Image bytes 0 and 1 ride in CDB bytes 10 and 11; the data phase is the rest.
    std::vector<uint8_t> data(image.begin() + 2, image.end());
    data.resize(IMAGE_SIZE);
    {
        std::unique_ptr<DriveBank> bank(CreateBank(bankFile, log, state));
        Request r(0, 0,
                  {0xCB, 0, 0x22, (half >> 8) & 0xFF, half & 0xFF, (all >> 8) & 0xFF, all & 0xFF,
                   0xFF, 0xFE, 0x84, image[0], image[1]},
                  SRB_DIR_OUT);
        r.srb.SRB_BufLen = IMAGE_SIZE;
        r.srb.SRB_BufPointer = data.data();
        bank->SendCommand(&r.srb);
        ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
        ASSERT_EQ(SS_COMP, r.Status());
        EXPECT_EQ("QV      NEW PRODUCT     9.99", bank->Identity(0, 0));
    }
    {
        // A later run finds the flashed identity again.
        std::unique_ptr<DriveBank> bank(CreateBank(bankFile, log, state));
        EXPECT_EQ("QV      NEW PRODUCT     9.99", bank->Identity(0, 0));
        Request r(0, 0, {0x12, 0, 0, 0, 36});
        bank->SendCommand(&r.srb);
        ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
        EXPECT_EQ(0, std::memcmp(r.data + 16, "NEW PRODUCT", 11));
    }
    std::ifstream logFile(log);
    std::string first, second;
    std::getline(logFile, first);
    std::getline(logFile, second);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "exec ha=0 target=0 dir=out len=65536 cdb=CB 00 22 %02X %02X %02X %02X FF FE 84 "
                  "FF FF digest=%08X status=01 sense=0/00/00",
                  (half >> 8) & 0xFF, half & 0xFF, (all >> 8) & 0xFF, all & 0xFF,
                  DataDigest(data.data(), IMAGE_SIZE));
    EXPECT_EQ(expected, first);
    EXPECT_EQ(0u, second.find("exec ha=0 target=0 dir=in len=128 cdb=12 00 00 00 24")) << second;

    // A damaged state file is reported and the bank starts as described.
    {
        std::ofstream f(state);
        f << "0 0 nothex\n";
    }
    std::unique_ptr<DriveBank> bank(CreateBank(bankFile, log, state));
    EXPECT_EQ("QV      OLD             1.00", bank->Identity(0, 0));
    std::vector<std::string> journal = bank->Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(0u, journal.back().find("error state file")) << journal.back();

    std::remove(log.c_str());
    std::remove(state.c_str());
    std::remove(bankFile.c_str());
}

TEST(DriveBank, BadBankFileGivesNoAdaptersAndAnError) {
    std::string bankFile = testing::TempDir() + "broken-bank-" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream f(bankFile);
        f << "adapter\ndrive 0 colour=blue\n";
    }
    std::unique_ptr<DriveBank> bank(CreateBank(bankFile, "", ""));
    EXPECT_EQ(0, bank->AdapterCount());
    ASSERT_EQ(1u, bank->Journal().size());
    EXPECT_NE(std::string::npos, bank->Journal()[0].find("line 2: unknown key 'colour'"));
    std::remove(bankFile.c_str());
}

TEST(SimulatedLayer, InstalledBankAnswersTheAspiEntryPoints) {
    std::unique_ptr<DriveBank> bank(CreateBank("", "", ""));
    InstallLayer(bank.get());
    EXPECT_EQ(bank.get(), InstalledBank());
    EXPECT_EQ(1, HasLayer());
    EXPECT_EQ(MakeSupportInfo(SS_COMP, 2), GetASPI32SupportInfo());
    Request r(1, 0, {0x12, 0, 0, 0, 36});
    EXPECT_EQ(SS_PENDING, SendASPI32Command(&r.srb));
    ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
    EXPECT_EQ(0, std::memcmp(r.data + 16, "DVD+RW QV-2200", 14));
    InstallLayer(nullptr);
    EXPECT_EQ(nullptr, InstalledBank());
    EXPECT_EQ(0, HasLayer());
    EXPECT_EQ(0, SupportAdapterCount(GetASPI32SupportInfo()));
}
