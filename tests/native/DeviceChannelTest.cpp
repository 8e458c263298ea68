// Every case runs on the host's channel and on the plug-in's.
#include "command/CompileCommand.h"
#include "command/DeviceChannel.h"

#include "aspi/AspiLayer.h"
#include "aspi/AspiPlatform.h"
#include "aspi/AspiSeam.h"
#include "simulator/BankConfig.h"
#include "simulator/DriveBank.h"
#include "simulator/SimulatedLayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

using namespace aspi;

// Allocations without exceptions of this size fail while it is not 0: the
// channel's request record is the one object of its size it makes so.
std::atomic<size_t> failingAllocationSize{0};
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (size == failingAllocationSize.load())
        return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

// A bank from its text, installed as the ASPI layer for the test's lifetime.
// Declare it before the channel, so that the channel goes first.
struct Bank {
    simulator::BankConfig config;
    std::unique_ptr<simulator::DriveBank> bank;

    explicit Bank(const char* text) {
        std::string error;
        EXPECT_EQ(1, simulator::ParseBank(text, config, error)) << error;
        bank.reset(new simulator::DriveBank(config));
        simulator::InstallLayer(bank.get());
    }
    ~Bank() { simulator::InstallLayer(nullptr); }

    int Executed() {
        int n = 0;
        for (const std::string& line : bank->Journal())
            n += line.compare(0, 5, "exec ") == 0;
        return n;
    }
};

// A layer of the test's own making, for answers a bank does not give: any
// first INQUIRY byte, status "completed" together with sense data, a late
// completion that ignores the reset, a signal before the status.
std::vector<uint8_t> InquiryAnswer(uint8_t first) {
    std::vector<uint8_t> data(36, 0);
    data[0] = first;
    data[4] = 31; // additional length: the answer holds a whole identity
    std::memcpy(&data[8], "FAKE    MAKER DRIVE     9.99", 28);
    return data;
}

struct FakeLayer {
    static FakeLayer* current;

    uint32_t info = MakeSupportInfo(SS_COMP, 1);
    std::vector<uint8_t> answer = InquiryAnswer(kCdRomDeviceType);
    uint8_t status = SS_COMP;
    uint8_t sense[SENSE_LEN] = {};
    int delayMs = 0;          // completes from another thread after this long
    bool signalFirst = false; // signals the event once before completing
    bool never = false;       // keeps the request until Complete is called
    int hungTarget = -1;      // keeps every request to this target
    bool senseOnly = false;   // writes the sense data, keeps the status pending
    std::atomic<int> sent{0}, resets{0};
    SRB_ExecSCSICmd* held = nullptr;
    std::vector<std::thread> threads;

    FakeLayer() {
        current = this;
        BindLayer(&Info, &Send);
    }
    ~FakeLayer() {
        for (std::thread& t : threads)
            t.join();
        BindLayer(nullptr, nullptr);
        current = nullptr;
    }

    void Complete(SRB_ExecSCSICmd* srb) {
        uint32_t n = srb->SRB_BufLen < answer.size() ? srb->SRB_BufLen : answer.size();
        if (n)
            std::memcpy(srb->SRB_BufPointer, answer.data(), n);
        std::memcpy(srb->SenseArea, sense, sizeof sense);
        void* event = srb->SRB_PostProc;
        uint8_t flags = srb->SRB_Flags;
        StoreStatus(&srb->SRB_Status, status);
        if (flags & SRB_EVENT_NOTIFY)
            SignalCompletionEvent(event);
    }

    static uint32_t Info() { return current->info; }

    static uint32_t Send(void* request) {
        FakeLayer& self = *current;
        if (static_cast<SRB_Header*>(request)->SRB_Cmd == SC_RESET_DEV) {
            ++self.resets;
            StoreStatus(&static_cast<SRB_Header*>(request)->SRB_Status, SS_COMP);
            return SS_COMP;
        }
        auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
        ++self.sent;
        StoreStatus(&srb->SRB_Status, SS_PENDING);
        if (self.signalFirst)
            SignalCompletionEvent(srb->SRB_PostProc);
        if (self.senseOnly)
            std::memcpy(srb->SenseArea, self.sense, sizeof self.sense);
        if (self.never || self.senseOnly || srb->SRB_Target == self.hungTarget) {
            self.held = srb;
        } else if (self.delayMs) {
            self.threads.emplace_back([&self, srb] {
                std::this_thread::sleep_for(std::chrono::milliseconds(self.delayMs));
                self.Complete(srb);
            });
        } else {
            self.Complete(srb);
        }
        return SS_PENDING;
    }
};
FakeLayer* FakeLayer::current = nullptr;

std::string Model(const DeviceEntry& entry) {
    return entry.model;
}

int TimedOutFlag(const DeviceChannel& channel) {
    return channel.user == ChannelUser::Host ? channel.senseKey == 255 : channel.timedOut;
}

// Ticks that run 10 ms a call: the bounded waits end without real sleeps.
std::atomic<uint32_t> ticks{0};
uint32_t AdvancingTicks() {
    return ticks.fetch_add(10);
}
struct FastTicks {
    FastTicks() { SetTickCountSource(&AdvancingTicks); }
    ~FastTicks() { SetTickCountSource(nullptr); }
};

struct PollOverride {
    explicit PollOverride(int on) { SetWindows95Or98Override(on); }
    ~PollOverride() { SetWindows95Or98Override(-1); }
};

const char kTwoDrives[] = "adapter\n"
                          "drive 0 vendor=\"QV\" product=\"DVD 22\" revision=\"1.00\" latency=0\n"
                          "drive 1 vendor=\"AB\" product=\"SLOW\" revision=\"2.00\" latency=0 "
                          "hang=1B\n"
                          "disk 2 latency=0\n"
                          "drive 3 vendor=\"NR\" product=\"EMPTY\" latency=0 notready\n";

// Compiles a command, with a time-out when one is given, and executes it.
int CompileAndExecute(DeviceChannel& channel, const char* text, uint32_t timeout = 0) {
    EXPECT_EQ(1, CompileCommand(channel, text)) << text;
    if (timeout)
        channel.timeout = timeout;
    return channel.Execute();
}

// The drive at target 3 of kTwoDrives has no medium: the command fails with
// NOT READY, MEDIUM NOT PRESENT.
void ExpectNotReadyAtTarget3(DeviceChannel& channel) {
    channel.SetTarget(3);
    EXPECT_EQ(0, CompileAndExecute(channel, "0 0 0 0 0 0"));
    EXPECT_EQ(2, channel.senseKey);
    EXPECT_EQ(4, channel.asc);
    EXPECT_EQ(0, channel.ascq);
}

class DeviceChannelTest : public ::testing::TestWithParam<ChannelUser> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(Both, DeviceChannelTest,
                         ::testing::Values(ChannelUser::Host, ChannelUser::Plugin),
                         [](const ::testing::TestParamInfo<ChannelUser>& user) {
                             return user.param == ChannelUser::Host ? "Host" : "Plugin";
                         });

TEST_P(DeviceChannelTest, ConstructionAndBufferSize) {
    Bank bank("adapter\nadapter\nadapter\n");
    DeviceChannel small(10, GetParam());
    DeviceChannel host(1024, GetParam());
    DeviceChannel plugin(65545, GetParam());
    uint32_t factor = GetParam() == ChannelUser::Plugin ? 2 : 1;
    EXPECT_EQ(36u * factor, small.bufferSize) << "an INQUIRY identity always fits";
    EXPECT_EQ(1024u * factor, host.bufferSize);
    EXPECT_EQ(65540u * factor, plugin.bufferSize) << "the clamped size";
    EXPECT_EQ(0, plugin.timedOut);
    EXPECT_EQ(0, plugin.pollMode);
    EXPECT_EQ(3, plugin.GetAdapterCount());
    EXPECT_EQ(0, plugin.GetAdapter());
    EXPECT_EQ(0, plugin.GetTarget());
    EXPECT_EQ(0, plugin.cdbLength);
    EXPECT_EQ(0, plugin.deviceCount);
    EXPECT_EQ(7200u, plugin.timeout);
    EXPECT_EQ(0, plugin.buffer[0]);
}

// No layer, a bank of no adapter, and one of a disk alone: nothing listed,
// nothing selected (never 0:0, the disk), nothing sent after the scan.
TEST_P(DeviceChannelTest, NoDriveFoundLeavesNoSelection) {
    const struct {
        const char* bank; // nullptr: no layer at all
        int adapters, scanned;
    } cases[] = {{nullptr, 0, 0}, {"", 0, 0}, {"adapter\ndisk 0 latency=0\n", 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bank ? c.bank : "no layer");
        BindLayer(nullptr, nullptr);
        const std::unique_ptr<Bank> bank(c.bank ? new Bank(c.bank) : nullptr);
        DeviceChannel channel(1024, GetParam());
        EXPECT_EQ(c.adapters, channel.GetAdapterCount());
        channel.ScanDevices();
        EXPECT_EQ(0, channel.deviceCount);
        EXPECT_EQ(DeviceChannel::kNoAdapter, channel.GetAdapter());
        EXPECT_EQ(DeviceChannel::kNoTarget, channel.GetTarget());
        EXPECT_EQ(-1, channel.FindSelectedDevice());
        EXPECT_EQ(0, CompileAndExecute(channel, "12 0 0 0 24 /R36"));
        EXPECT_EQ(c.scanned, bank ? bank->Executed() : 0) << "the scan's INQUIRY, nothing after";
    }
}

TEST_P(DeviceChannelTest, ShortInquiryAnswerIsNoIdentity) {
    Bank bank("adapter\n"
              "drive 0 vendor=WHOLE latency=0\n"
              "drive 1 vendor=FIVE inquiry-length=5 latency=0\n"
              "drive 2 vendor=NONE inquiry-length=0 latency=0\n"
              "drive 3 vendor=LAST inquiry-length=36 latency=0\n");
    DeviceChannel channel(1024, GetParam());
    char model[25], version[5];
    channel.ReadInquiryText(model, version);
    EXPECT_STREQ("                        ", model) << "a fresh channel has no identity";

    channel.ScanDevices();
    ASSERT_EQ(2, channel.deviceCount) << "neither the short nor the empty answer";
    EXPECT_EQ(0, channel.devices[0].target);
    EXPECT_EQ(3, channel.devices[1].target);
    EXPECT_EQ("LAST", Model(channel.devices[1]).substr(0, 4));

    const struct {
        uint8_t target;
        uint32_t received;
        const char* model;
    } cases[] = {{0, 46, "WHOLE   CD-ROM          "},
                 {1, 5, "                        "},
                 {0, 46, "WHOLE   CD-ROM          "},
                 {2, 46, "                        "}}; // no count from an empty answer
    for (const auto& c : cases) {
        channel.SetTarget(c.target);
        EXPECT_EQ(1, CompileAndExecute(channel, "12 0 0 0 d'46 /R46"));
        EXPECT_EQ(c.received, channel.bytesReceived) << int(c.target);
        channel.ReadInquiryText(model, version);
        EXPECT_STREQ(c.model, model) << "nothing of the answer before, " << int(c.target);
    }
    EXPECT_EQ(0, channel.buffer[0]) << "the empty answer left the buffer cleared";
}

TEST_P(DeviceChannelTest, ScanListsEightOfNineDrivesInAdapterThenTargetOrder) {
    Bank bank("adapter\n"
              "drive 0 product=\"A0\" latency=0\n"
              "drive 1 product=\"A1\" latency=0\n"
              "disk 2 product=\"DISK\" latency=0\n"
              "drive 3 product=\"A3\" latency=0\n"
              "drive 5 product=\"A5\" latency=0\n"
              "adapter\n"
              "drive 0 product=\"B0\" latency=0\n"
              "drive 1 product=\"B1\" latency=0\n"
              "drive 4 product=\"B4\" latency=0\n"
              "drive 6 product=\"B6\" latency=0\n"
              "drive 7 product=\"B7\" latency=0\n");
    DeviceChannel channel(1024, GetParam());
    channel.SetAdapter(1);
    channel.SetTarget(6);
    channel.ScanDevices();
    ASSERT_EQ(8, channel.deviceCount);
    // A product names its place: adapter A or B, then the target.
    const char* products[8] = {"A0", "A1", "A3", "A5", "B0", "B1", "B4", "B6"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(products[i][0] - 'A', channel.devices[i].adapter) << i;
        EXPECT_EQ(products[i][1] - '0', channel.devices[i].target) << i;
        EXPECT_EQ(products[i], Model(channel.devices[i]).substr(8, 2)) << i;
    }
    EXPECT_EQ(0, channel.GetAdapter()) << "the scan selects entry 0";
    EXPECT_EQ(0, channel.GetTarget());
    EXPECT_EQ(0, channel.FindSelectedDevice());
    EXPECT_EQ(0x12, channel.cdb[0]) << "the INQUIRY stays the pending command";
    EXPECT_EQ(36u, channel.dataLength);
}

TEST_P(DeviceChannelTest, OnlyFirstByteFiveIsListed) {
    for (uint8_t first : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0x25}, kCdRomDeviceType}) {
        FakeLayer fake;
        fake.answer = InquiryAnswer(first);
        DeviceChannel channel(1024, GetParam());
        channel.ScanDevices();
        EXPECT_EQ(first == kCdRomDeviceType ? 8 : 0, channel.deviceCount) << int(first);
        EXPECT_EQ(8, fake.sent.load()) << "targets 0 to 7 of the one adapter";
    }
}

TEST_P(DeviceChannelTest, IdentityWithNulBytesShowsSpaces) {
    Bank bank("adapter\n"
              "drive 4 vendor=\"AB\\0\\0\" product=\"DVD\\0\\0RW\" revision=\"1\\0\\x002\" "
              "latency=0\n");
    DeviceChannel channel(1024, GetParam());
    channel.ScanDevices();
    ASSERT_EQ(1, channel.deviceCount);
    EXPECT_STREQ("AB      DVD  RW         ", channel.devices[0].model);
    EXPECT_EQ(24u, std::strlen(channel.devices[0].model));
    EXPECT_STREQ("1  2", channel.devices[0].version);
    EXPECT_EQ(4, channel.GetTarget());

    ASSERT_EQ(1, channel.Execute()) << "the scan's INQUIRY, again";
    char model[10], version[3];
    channel.ReadInquiryText(model, version);
    EXPECT_STREQ("AB      D", model) << "cut to the room the caller has";
    EXPECT_STREQ("1 ", version);
    StringEx modelText(25), versionText(5);
    channel.ReadInquiryText(modelText, versionText);
    EXPECT_STREQ("AB      DVD  RW         ", modelText.data);
    EXPECT_STREQ("1  2", versionText.data);
}

TEST_P(DeviceChannelTest, InquiryTextCompilesAndExecutes) {
    Bank bank(kTwoDrives);
    DeviceChannel channel(65545, GetParam());
    EXPECT_EQ(1, CompileAndExecute(channel, "12 0 0 0 d'46 /R46"));
    EXPECT_EQ(0, std::memcmp(channel.buffer + 8, "QV      DVD 22          1.00", 28));
    EXPECT_EQ(0, channel.senseKey);
    std::vector<std::string> journal = bank.bank->Journal();
    ASSERT_EQ(1u, journal.size());
    EXPECT_EQ(0u, journal[0].find("exec ha=0 target=0 dir=in len=46 cdb=12 00 00 00 2E 00 00 00 "
                                  "00 00 00 00 "))
        << journal[0];
    EXPECT_NE(std::string::npos, journal[0].find("status=01"));
    // A compiled command runs again without compiling.
    EXPECT_EQ(1, channel.Execute());
    EXPECT_EQ(2, bank.Executed());
    EXPECT_EQ(SRB_EVENT_NOTIFY | SRB_ENABLE_RESIDUAL_COUNT | SRB_DIR_IN,
              channel.request->SRB_Flags);
    EXPECT_EQ(14, channel.request->SRB_SenseLen);
    EXPECT_EQ(12, channel.request->SRB_CDBLen);
    uint8_t* data = channel.request->SRB_BufPointer; // a packed field: no reference to it
    EXPECT_EQ(channel.buffer, data);
}

TEST_P(DeviceChannelTest, SenseDataMakesTheCommandFail) {
    Bank bank(kTwoDrives);
    DeviceChannel channel(1024, GetParam());
    ExpectNotReadyAtTarget3(channel);
    channel.SetTarget(0);
    EXPECT_EQ(1, channel.Execute());
    EXPECT_EQ(0, channel.senseKey + channel.asc + channel.ascq) << "no sense data: all zero";
}

TEST_P(DeviceChannelTest, CompletedWithSenseDataIsAFailure) {
    FakeLayer fake;
    fake.status = SS_COMP;
    fake.sense[0] = 0x70;
    fake.sense[2] = 0xF6; // only the low four bits are the key
    fake.sense[12] = 0x29;
    fake.sense[13] = 0x01;
    DeviceChannel channel(1024, GetParam());
    EXPECT_EQ(0, CompileAndExecute(channel, "12 0 0 0 24 /R36"));
    EXPECT_EQ(6, channel.senseKey);
    EXPECT_EQ(0x29, channel.asc);
    EXPECT_EQ(0x01, channel.ascq);
    fake.status = SS_ERR;
    std::memset(fake.sense, 0, sizeof fake.sense);
    EXPECT_EQ(0, channel.Execute()) << "an error status without sense fails too";
    EXPECT_EQ(0, channel.senseKey);
}

TEST_P(DeviceChannelTest, TimeOutResetsTheTargetAndReleasesTheRequest) {
    Bank bank(kTwoDrives);
    DeviceChannel channel(1024, GetParam());
    ExpectNotReadyAtTarget3(channel);

    channel.SetTarget(1);
    CompileCommand(channel, "1B 0 0 0 2");
    channel.timeout = 100;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, channel.Execute());
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(95));
    EXPECT_EQ(1, TimedOutFlag(channel));
    if (GetParam() == ChannelUser::Plugin) {
        EXPECT_EQ(0, channel.senseKey);
    }
    EXPECT_EQ(4, channel.asc) << "ASC and ASCQ keep the values of the command before";
    EXPECT_EQ(1, bank.bank->ResetCount(0, 1));
    EXPECT_EQ(0, bank.bank->PendingCount()) << "the reset released the request";
    EXPECT_NE(SS_PENDING, LoadStatus(&channel.request->SRB_Status));

    // The next command on the same channel is unaffected.
    channel.SetTarget(0);
    EXPECT_EQ(1, CompileAndExecute(channel, "12 0 0 0 24 /R36"));
    EXPECT_EQ(0, TimedOutFlag(channel));
    EXPECT_EQ(0, std::memcmp(channel.buffer + 8, "QV", 2));
}

TEST_P(DeviceChannelTest, LateCompletionNeverReachesTheNextCommand) {
    FakeLayer fake;
    fake.answer.assign(36, 0xEE);
    fake.delayMs = 300; // long after the time-out, and the reset does not stop it
    DeviceChannel channel(1024, GetParam());
    EXPECT_EQ(0, CompileAndExecute(channel, "12 0 0 0 24 /R36", 50));
    EXPECT_EQ(1, TimedOutFlag(channel));
    EXPECT_EQ(1, fake.resets.load());
    EXPECT_EQ(SS_COMP, LoadStatus(&channel.request->SRB_Status))
        << "Execute returns only once the layer has let go of the request";

    fake.delayMs = 0;
    fake.answer = InquiryAnswer(kCdRomDeviceType);
    std::memset(channel.buffer, 0, 36);
    EXPECT_EQ(1, channel.Execute());
    EXPECT_EQ(5, channel.buffer[0]);
    EXPECT_EQ(0, std::memcmp(channel.buffer + 8, "FAKE", 4));
}

TEST_P(DeviceChannelTest, RequestNeverGivenBackIsSetAsideAndTheChannelGoesOn) {
    FastTicks fast;
    FakeLayer fake;
    fake.never = true;
    auto channel = std::make_unique<DeviceChannel>(1024, GetParam());
    CompileCommand(*channel, "12 0 0 0 24 /R36");
    channel->timeout = 20;
    SRB_ExecSCSICmd* first = channel->request;
    uint8_t* firstBuffer = channel->buffer;
    EXPECT_EQ(0, channel->Execute());
    EXPECT_EQ(1, TimedOutFlag(*channel));
    EXPECT_EQ(1u, channel->setAside);
    EXPECT_NE(first, channel->request) << "the held record is never refilled";
    EXPECT_EQ(1024u * (GetParam() == ChannelUser::Plugin ? 2 : 1), channel->bufferSize);

    fake.never = false;
    EXPECT_EQ(1, channel->Execute()) << "the next command is sent as usual";
    EXPECT_EQ(2, fake.sent.load());
    EXPECT_EQ(0, std::memcmp(channel->buffer + 8, "FAKE", 4));
    EXPECT_EQ(0, TimedOutFlag(*channel));

    // The layer still owns the first request: a late answer lands in memory
    // that is still there (ASan would see it otherwise), not in the channel's.
    channel.reset();
    fake.Complete(fake.held);
    EXPECT_EQ(0, std::memcmp(firstBuffer + 8, "FAKE", 4));
}

TEST_P(DeviceChannelTest, NoRecordAfterAFailedAllocationIsNeverRead) {
    FastTicks fast;
    FakeLayer fake;
    fake.never = true;
    DeviceChannel channel(1024, GetParam());
    CompileCommand(channel, "0 0 0 0 0 0");
    channel.timeout = 20;
    failingAllocationSize = sizeof(SRB_ExecSCSICmd);
    EXPECT_EQ(0, channel.Execute());
    EXPECT_EQ(0, channel.Execute()) << "still no record to send";
    failingAllocationSize = 0;
    ASSERT_EQ(nullptr, channel.request);
    const uint8_t key = channel.senseKey;
    channel.ReadSense();
    EXPECT_EQ(key, channel.senseKey);

    fake.never = false;
    EXPECT_EQ(1, channel.Execute()) << "a record made again once memory is there";
    EXPECT_NE(nullptr, channel.request);
}

TEST_P(DeviceChannelTest, ScanWithAHungTargetListsEveryOtherDrive) {
    FastTicks fast;
    FakeLayer fake;
    fake.hungTarget = 2;
    DeviceChannel channel(1024, GetParam());
    channel.timeout = 20;
    channel.ScanDevices();
    ASSERT_EQ(7, channel.deviceCount);
    const int targets[7] = {0, 1, 3, 4, 5, 6, 7};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(targets[i], channel.devices[i].target) << i;
    EXPECT_EQ(8, fake.sent.load());
    EXPECT_EQ(1u, channel.setAside);
}

TEST_P(DeviceChannelTest, SignalBeforeTheStatusIsNotCompletion) {
    FakeLayer fake;
    fake.signalFirst = true;
    fake.delayMs = 100;
    DeviceChannel channel(1024, GetParam());
    EXPECT_EQ(1, CompileAndExecute(channel, "12 0 0 0 24 /R36", 5000));
    EXPECT_EQ(5, channel.buffer[0]);
    EXPECT_EQ(0, TimedOutFlag(channel));
}

TEST_P(DeviceChannelTest, EventIsReleasedAfterTheCommand) {
    Bank bank(kTwoDrives);
    DeviceChannel channel(1024, GetParam());
    ASSERT_EQ(1, CompileAndExecute(channel, "12 0 0 0 24 /R36"));
    EventHandle used = channel.request->SRB_PostProc;
    ASSERT_NE(nullptr, used);
    // An open event would take this signal; a released one cannot.
    SignalCompletionEvent(used);
    EXPECT_EQ(0, WaitCompletionEvent(used, 0));
}

TEST_P(DeviceChannelTest, NothingIsSentToAnInvalidAdapterOrPastTheBuffer) {
    Bank bank(kTwoDrives);
    DeviceChannel channel(1024, GetParam());
    CompileAndExecute(channel, "0 0 0 0 0 0");
    int executed = bank.Executed();
    ASSERT_EQ(1, executed);
    uint8_t key = channel.senseKey;

    channel.SetAdapter(255);
    EXPECT_EQ(0, channel.Execute());
    channel.SetAdapter(1);
    EXPECT_EQ(0, channel.Execute());
    EXPECT_EQ(key, channel.senseKey);

    channel.SetAdapter(0);
    CompileCommand(channel, "12 0 0 0 24 /R%d", channel.bufferSize + 1);
    EXPECT_EQ(0, channel.Execute()) << "the layer would write past the buffer";

    SetEventCreationFails(1);
    EXPECT_EQ(0, CompileAndExecute(channel, "0 0 0 0 0 0"));
    SetEventCreationFails(0);
    EXPECT_EQ(executed, bank.Executed());
    EXPECT_EQ(0, bank.bank->PendingCount());
}

TEST_P(DeviceChannelTest, SelectionAndSearch) {
    Bank bank(kTwoDrives);
    DeviceChannel channel(1024, GetParam());
    EXPECT_EQ(-1, channel.FindSelectedDevice()) << "empty table";
    channel.ScanDevices();
    ASSERT_EQ(3, channel.deviceCount); // targets 0, 1 and 3; the disk is not listed
    channel.SetTarget(1);
    EXPECT_EQ(1, channel.FindSelectedDevice());
    channel.SetTarget(2);
    EXPECT_EQ(-1, channel.FindSelectedDevice());
    channel.SetAdapter(255);
    channel.SetTarget(0);
    EXPECT_EQ(-1, channel.FindSelectedDevice());

    channel.SelectEntry(2);
    EXPECT_EQ(0, channel.GetAdapter());
    EXPECT_EQ(3, channel.GetTarget());
    channel.SelectEntry(8);
    channel.SelectEntry(255);
    EXPECT_EQ(0, channel.GetAdapter()) << "an index past the table changes nothing";
    EXPECT_EQ(3, channel.GetTarget());
}

TEST_P(DeviceChannelTest, ResetDeviceAnswersTheLayersResult) {
    Bank bank(kTwoDrives);
    DeviceChannel channel(1024, GetParam());
    channel.SetTarget(1);
    EXPECT_EQ(1, channel.ResetDevice());
    EXPECT_EQ(1, bank.bank->ResetCount(0, 1));
    channel.SetTarget(5);
    EXPECT_EQ(0, channel.ResetDevice()) << "no device there";
}

TEST(DeviceChannelPolling, StopsOnSenseDataBeforeTheStatus) {
    PollOverride poll(1);
    FastTicks fast;
    FakeLayer fake;
    fake.senseOnly = true;
    fake.sense[0] = 0x70;
    fake.sense[2] = 0x05;
    DeviceChannel channel(1024, ChannelUser::Plugin);
    EXPECT_EQ(0, CompileAndExecute(channel, "0 0 0 0 0 0", 100000));
    EXPECT_EQ(0, channel.timedOut) << "the sense data ended the wait, not the clock";
    EXPECT_EQ(5, channel.senseKey);
    EXPECT_EQ(0, fake.resets.load());
}

// The plug-in polling for a tray command the hung drive never answers.
struct PollingTheHungDrive {
    PollOverride poll{1};
    Bank bank{kTwoDrives};
    DeviceChannel channel{1024, ChannelUser::Plugin};
    explicit PollingTheHungDrive(uint32_t timeout) {
        channel.SetTarget(1);
        CompileCommand(channel, "1B 0 0 0 2");
        channel.timeout = timeout;
    }
};

TEST(DeviceChannelPolling, TimeOutWhilePolling) {
    PollingTheHungDrive hung(100);
    EXPECT_EQ(0, hung.channel.Execute());
    EXPECT_EQ(1, hung.channel.timedOut);
    EXPECT_EQ(0, hung.channel.senseKey);
    EXPECT_EQ(1, hung.bank.bank->ResetCount(0, 1));
    EXPECT_EQ(0, hung.bank.bank->PendingCount());
}

TEST(DeviceChannelPolling, TickCountWrapDoesNotEndTheWaitEarly) {
    PollingTheHungDrive hung(100000);
    DeviceChannel& channel = hung.channel;
    ticks = 0xFFFFFFF0u;
    uint32_t start = ticks.load();
    {
        FastTicks fast;
        EXPECT_EQ(0, channel.Execute());
    }
    EXPECT_EQ(1, channel.timedOut);
    EXPECT_GT(ticks.load() - start, 100000u) << "the wait ran its full length across the wrap";
}

// A polled command asks for no event; its answer and its sense data come
// back as an event's do.
TEST(DeviceChannelPolling, OnlyThePluginPollsAndOnlyOnWindows95And98) {
    Bank bank(kTwoDrives);
    const struct {
        int windows9x;
        ChannelUser user;
        int polls;
    } cases[] = {{1, ChannelUser::Plugin, 1},
                 {0, ChannelUser::Plugin, 0},
                 {1, ChannelUser::Host, 0},
                 {0, ChannelUser::Host, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windows9x * 2 + (c.user == ChannelUser::Plugin));
        PollOverride poll(c.windows9x);
        DeviceChannel channel(65545, c.user);
        EXPECT_EQ(c.polls, channel.pollMode);
        EXPECT_EQ(1, CompileAndExecute(channel, "12 0 0 0 d'46 /R46"));
        EXPECT_EQ((c.polls ? 0 : SRB_EVENT_NOTIFY) | SRB_ENABLE_RESIDUAL_COUNT | SRB_DIR_IN,
                  channel.request->SRB_Flags);
        EXPECT_EQ(0, std::memcmp(channel.buffer + 8, "QV", 2));
        ExpectNotReadyAtTarget3(channel);
    }
}
