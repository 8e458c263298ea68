// What an ASPI client may rely on from every layer of ours, checked once on
// each: the simulated bank, and the pass-through over fake device objects as
// Windows shows them and over fake sg devices as Linux does. Each has CD/DVD
// drives at 0:0 (ALPHA) and 0:2 (BETA), one at 0:1 that never answers TEST
// UNIT READY, nothing at 0:3, and one at 0:4 that is gone when a transfer
// comes.
#include "../support/AspiRequest.h"
#include "../support/FakeCdRoms.h"

#include "aspi/AspiLayer.h"
#include "aspi/PassThroughLinux.h"
#include "simulator/SimulatedLayer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace aspi;

namespace {

enum class Kind { Bank, DeviceObjects, SgDevices };

simulator::DriveConfig Drive(const char* product, int hangsOn = -1) {
    simulator::DriveConfig config = FakeDrive(product);
    config.latencyMs = 0;
    if (hangsOn >= 0)
        config.hang.set(static_cast<size_t>(hangsOn));
    return config;
}

// One layer, the process's layer while it lives.
struct Layer {
    Kind kind;
    FakeCdRoms fakes;
    std::string root;
    LinuxSystem system{};
    DeviceCalls calls{};
    std::unique_ptr<simulator::DriveBank> bank;
    std::unique_ptr<PassThroughLayer> passThrough;

    Layer(Kind k, bool empty) : kind(k) {
        simulator::DriveConfig drives[] = {Drive("ALPHA"), Drive("STUCK", 0x00), Drive("BETA"),
                                           simulator::DriveConfig(), Drive("GONE")};
        drives[4].vanishTransfer = true;
        if (kind == Kind::Bank) {
            simulator::BankConfig config;
            if (!empty)
                config.adapters.resize(1);
            for (size_t t = 0; !empty && t < 5; ++t)
                config.adapters[0][t] = drives[t];
            bank.reset(new simulator::DriveBank(config));
            simulator::InstallLayer(bank.get());
            return;
        }
        for (int t = 0; !empty && t < 5; ++t)
            if (t != 3)
                fakes.Add(t, 0, 0, static_cast<uint8_t>(t), 0, drives[t]);
        root = testing::TempDir() + "corvane-contract-" + std::to_string(getpid());
        system = fakes.Linux(root);
        calls = kind == Kind::SgDevices ? LinuxDeviceCalls(&system) : fakes.Calls();
        passThrough.reset(new PassThroughLayer(calls));
        UseLayer(&PassThroughLayer::kOps, passThrough.get());
        fakes.Vanish(4);
    }
    ~Layer() {
        End();
        if (!root.empty())
            std::filesystem::remove_all(root);
    }
    int ResetCount(int target) {
        return bank ? bank->ResetCount(0, target) : passThrough->ResetCount(0, target);
    }
    // Commands that reached a drive.
    size_t Reached() {
        if (!bank)
            return fakes.Journal().size() + fakes.SgJournal().size();
        std::vector<std::string> journal = bank->Journal();
        return static_cast<size_t>(
            std::count_if(journal.begin(), journal.end(), [](const std::string& line) {
                return line.compare(0, 5, "exec ") == 0;
            }));
    }
    // The layer goes; what the fakes still hold, they let go.
    void End() {
        UseLayer(&kNoLayer);
        std::thread release([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            fakes.Release();
        });
        bank.reset();
        passThrough.reset();
        release.join();
    }
};

class LayerContract : public testing::TestWithParam<Kind> {
  protected:
    std::unique_ptr<Layer> layer;
    void SetUp() override { layer.reset(new Layer(GetParam(), false)); }
};

std::atomic<void*> posted{nullptr};
void RecordPost(void* srb) {
    posted.store(srb);
}

} // namespace

TEST_P(LayerContract, ExecuteCompletesLaterWithDataStatusAndResidual) {
    const struct {
        uint8_t flags;
        uint32_t bufLen; // after completion, of the 128 the request gives
    } cases[] = {{SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT, 128 - 36},
                 {SRB_DIR_IN, 128},
                 {SRB_DIR_IN | SRB_POSTING, 128}};
    for (const auto& c : cases) {
        const bool posting = c.flags & SRB_POSTING;
        AspiRequest r(0, 0, {0x12, 0, 0, 0, 36}, c.flags, !posting);
        if (posting)
            r.srb.SRB_PostProc = reinterpret_cast<void*>(&RecordPost);
        posted.store(nullptr);
        EXPECT_EQ(SS_PENDING, SendASPI32Command(&r.srb));
        ASSERT_TRUE(posting ? r.Done() : WaitCompletionEvent(r.event, 5000) == 1);
        // Everything else was written before the status.
        EXPECT_EQ(SS_COMP, r.Status());
        EXPECT_EQ(0x05, r.data[0]);
        EXPECT_EQ(0, std::memcmp(r.data + 8, "FAKE    ALPHA", 13));
        EXPECT_EQ(0, r.data[36]) << "nothing past the answer";
        EXPECT_EQ(HASTAT_OK, r.srb.SRB_HaStat);
        EXPECT_EQ(STATUS_GOOD, r.srb.SRB_TargStat);
        EXPECT_EQ(c.bufLen, r.srb.SRB_BufLen) << int(c.flags);
        for (int i = 0; posting && i < 500 && !posted.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(posting ? &r.srb : nullptr, posted.load());
    }
}

// The residual count is what the drive did not move; a drive that is gone
// moves nothing and its selection times out.
TEST_P(LayerContract, ResidualAndADriveThatIsGone) {
    const struct {
        int target;
        std::initializer_list<int> cdb;
        uint8_t flags, status, hostStatus;
        uint32_t bufLen;
    } cases[] = {{0, {0x12, 0, 0, 0, 20}, SRB_DIR_IN, SS_COMP, HASTAT_OK, 128 - 20},
                 {4,
                  {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x84},
                  SRB_DIR_OUT,
                  SS_ERR,
                  HASTAT_SEL_TO,
                  128}};
    for (const auto& c : cases) {
        AspiRequest r(0, c.target, c.cdb, c.flags | SRB_ENABLE_RESIDUAL_COUNT);
        SendASPI32Command(&r.srb);
        ASSERT_EQ(1, WaitCompletionEvent(r.event, 5000));
        EXPECT_EQ(c.status, r.Status()) << c.target;
        EXPECT_EQ(c.hostStatus, r.srb.SRB_HaStat) << c.target;
        EXPECT_EQ(c.bufLen, r.srb.SRB_BufLen) << c.target;
        EXPECT_EQ(0, r.srb.SenseArea[0]) << c.target;
    }
}

TEST_P(LayerContract, CheckConditionCarriesTheSenseAskedForAndNoUnaskedEvent) {
    for (uint8_t senseLength : {uint8_t{SENSE_LEN}, uint8_t{3}}) {
        AspiRequest r(0, 0, {0xFF}, 0, false); // no such command
        r.srb.SRB_SenseLen = senseLength;
        EXPECT_EQ(SS_PENDING, SendASPI32Command(&r.srb));
        ASSERT_TRUE(r.Done());
        EXPECT_EQ(SS_ERR, r.Status());
        EXPECT_EQ(STATUS_CHKCOND, r.srb.SRB_TargStat);
        EXPECT_EQ(0x70, r.srb.SenseArea[0]);
        EXPECT_EQ(0x05, r.srb.SenseArea[2]);
        EXPECT_EQ(senseLength > 12 ? 0x20 : 0, r.srb.SenseArea[12]);
        EXPECT_EQ(0, WaitCompletionEvent(r.event, 20)) << "event notification was not asked for";
    }
}

TEST_P(LayerContract, RequestsThatCannotRunEndAtOnce) {
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    ASSERT_EQ(SS_COMP, SendASPI32Command(&inquiry));
    uint32_t maxTransfer;
    std::memcpy(&maxTransfer, inquiry.HA_Unique + 4, sizeof maxTransfer);
    const struct {
        const char* what;
        int adapter, target, lun;
        uint8_t flags, cdbLength;
        uint32_t length;
        uint8_t expected;
    } cases[] = {
        {"adapter", 1, 0, 0, SRB_DIR_IN, 12, 36, SS_INVALID_HA},
        {"empty target", 0, 3, 0, SRB_DIR_IN, 12, 36, SS_NO_DEVICE},
        {"target 8", 0, 8, 0, SRB_DIR_IN, 12, 36, SS_NO_DEVICE},
        {"lun 1: one unit a target", 0, 0, 1, SRB_DIR_IN, 12, 36, SS_NO_DEVICE},
        {"posting and event", 0, 0, 0, SRB_DIR_IN | SRB_POSTING, 12, 36, SS_INVALID_SRB},
        {"no command block", 0, 0, 0, SRB_DIR_IN, 0, 36, SS_INVALID_SRB},
        {"too big", 0, 0, 0, SRB_DIR_IN, 12, maxTransfer + 1, SS_BUFFER_TO_BIG},
    };
    for (const auto& c : cases) {
        AspiRequest r(c.adapter, c.target, {0x12, 0, 0, 0, 36}, c.flags);
        r.srb.SRB_Lun = static_cast<uint8_t>(c.lun);
        r.srb.SRB_BufLen = c.length;
        r.srb.SRB_CDBLen = c.cdbLength;
        EXPECT_EQ(c.expected, SendASPI32Command(&r.srb)) << c.what;
        EXPECT_EQ(c.expected, r.Status()) << c.what;
        if (!(c.flags & SRB_POSTING)) {
            EXPECT_EQ(1, WaitCompletionEvent(r.event, 0)) << c.what << ": a waiter is woken";
        }
        EXPECT_EQ(0, r.data[0]) << c.what;
    }
    EXPECT_EQ(0u, layer->Reached()) << "nothing refused reaches a drive";
}

TEST_P(LayerContract, HostAdapterInquiryDeviceTypeAndOtherCommands) {
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(SS_COMP, SendASPI32Command(&inquiry));
    EXPECT_EQ(1, inquiry.HA_Count);
    EXPECT_EQ(0, std::memcmp(inquiry.HA_ManagerId, "Corvane         ", 16));
    EXPECT_EQ(8, inquiry.HA_Unique[3]);
    inquiry = SRB_HAInquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(SS_INVALID_HA, SendASPI32Command(&inquiry));
    EXPECT_EQ(SS_INVALID_HA, inquiry.SRB_Status);
    EXPECT_EQ(1, inquiry.HA_Count) << "the count, whatever adapter is asked about";

    const struct {
        uint8_t adapter, target, lun, status;
    } types[] = {{0, 0, 0, SS_COMP},
                 {0, 3, 0, SS_NO_DEVICE},
                 {0, 0, 1, SS_NO_DEVICE},
                 {1, 0, 0, SS_INVALID_HA}};
    for (const auto& t : types) {
        SRB_GDEVBlock type{};
        type.SRB_Cmd = SC_GET_DEV_TYPE;
        type.SRB_HaId = t.adapter;
        type.SRB_Target = t.target;
        type.SRB_Lun = t.lun;
        EXPECT_EQ(t.status, SendASPI32Command(&type)) << int(t.target) << int(t.lun);
        EXPECT_EQ(t.status, type.SRB_Status);
        EXPECT_EQ(t.status == SS_COMP ? DTYPE_CDROM : 0, type.SRB_DeviceType);
    }
    SRB_Header unknown{};
    unknown.SRB_Cmd = 9;
    EXPECT_EQ(SS_INVALID_CMD, SendASPI32Command(&unknown));
    EXPECT_EQ(SS_INVALID_CMD, unknown.SRB_Status);
    EXPECT_EQ(SS_INVALID_SRB, SendASPI32Command(nullptr));
}

// The requests come back aborted: a queued or a running one by abort, all of
// a target by reset, which ends as any request does (status, then event).
TEST_P(LayerContract, AbortAndResetGiveBackWhatNeverCompletes) {
    AspiRequest held(0, 1, {0x00}, 0, false), queued(0, 1, {0x00}), after(0, 1, {0x00});
    held.srb.SRB_Flags = SRB_POSTING;
    held.srb.SRB_PostProc = reinterpret_cast<void*>(&RecordPost);
    posted.store(nullptr);
    for (AspiRequest* r : {&held, &queued, &after})
        ASSERT_EQ(SS_PENDING, SendASPI32Command(&r->srb));
    EXPECT_FALSE(held.Done(50));
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &queued.srb;
    EXPECT_EQ(SS_COMP, SendASPI32Command(&abort));
    EXPECT_EQ(SS_ABORTED, queued.Status());
    EXPECT_EQ(1, WaitCompletionEvent(queued.event, 0));
    EXPECT_EQ(SS_ABORT_FAIL, SendASPI32Command(&abort)) << "nothing left to abort";
    EXPECT_EQ(SS_PENDING, held.Status());

    SRB_BusDeviceReset reset{};
    reset.SRB_Cmd = SC_RESET_DEV;
    reset.SRB_Target = 1;
    reset.SRB_Flags = SRB_EVENT_NOTIFY;
    EventHandle resetDone = CreateCompletionEvent();
    reset.SRB_PostProc = resetDone;
    EXPECT_EQ(SS_COMP, SendASPI32Command(&reset));
    EXPECT_EQ(SS_COMP, reset.SRB_Status);
    EXPECT_EQ(1, WaitCompletionEvent(resetDone, 0));
    CloseCompletionEvent(resetDone);
    EXPECT_EQ(SS_ABORTED, held.Status());
    EXPECT_EQ(&held.srb, posted.load());
    EXPECT_EQ(SS_ABORTED, after.Status());
    EXPECT_EQ(1, layer->ResetCount(1));
    EXPECT_EQ(0, layer->ResetCount(0));

    reset = SRB_BusDeviceReset{};
    reset.SRB_Cmd = SC_RESET_DEV;
    reset.SRB_Target = 3;
    EXPECT_EQ(SS_NO_DEVICE, SendASPI32Command(&reset));
    reset.SRB_HaId = 3;
    EXPECT_EQ(SS_INVALID_HA, SendASPI32Command(&reset));
}

// Many threads, each with its own request and event, on two drives: every
// waiter gets its own answer. A request is freed as soon as its status
// shows; the sanitizers catch a layer that touches it after that.
TEST_P(LayerContract, ConcurrentRequestsCompleteIndependently) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            const int target = t % 2 ? 2 : 0;
            for (int i = 0; i < 50; ++i) {
                std::unique_ptr<AspiRequest> r(
                    new AspiRequest(0, target, {0x12, 0, 0, 0, 36}, SRB_DIR_IN, (i & 1) == 0));
                SendASPI32Command(&r->srb);
                bool done = (i & 1) == 0 ? WaitCompletionEvent(r->event, 5000) == 1 : r->Done();
                done = done && r->Status() == SS_COMP;
                if (!done || std::memcmp(r->data + 16, target ? "BETA" : "ALPHA", 4))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}

TEST_P(LayerContract, ALayerThatGoesGivesBackWhatItHolds) {
    AspiRequest held(0, 1, {0x00});
    ASSERT_EQ(SS_PENDING, SendASPI32Command(&held.srb));
    EXPECT_FALSE(held.Done(20));
    layer->End();
    EXPECT_EQ(SS_ABORTED, held.Status());
    EXPECT_EQ(1, WaitCompletionEvent(held.event, 0));
}

TEST_P(LayerContract, NamesAndWhetherItIsTheSimulatedBank) {
    const bool bank = GetParam() == Kind::Bank;
    EXPECT_EQ(bank ? 1 : 0, LayerIsSimulated());
    const char* const names[] = {"", "\\\\.\\C:", "/dev/sg2"};
    char name[16] = "?";
    EXPECT_EQ(bank ? 0 : 1, DeviceName(0, 2, name, sizeof name));
    EXPECT_STREQ(names[static_cast<int>(GetParam())], name);
    char small[4] = "?";
    EXPECT_EQ(bank ? 0 : 1, DeviceName(0, 2, small, sizeof small));
    EXPECT_EQ(bank ? 0u : 3u, std::strlen(small)) << "cut to the room given";
    EXPECT_EQ(0, DeviceName(0, 3, name, sizeof name));
    EXPECT_STREQ("", name);
}

TEST_P(LayerContract, NoDrivesReadsAsNoHostAdapters) {
    layer.reset(); // one layer at a time over the fakes' folder
    layer.reset(new Layer(GetParam(), true));
    EXPECT_EQ(MakeSupportInfo(SS_NO_ADAPTERS, 0), GetASPI32SupportInfo());
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.HA_Count = 9;
    EXPECT_EQ(SS_INVALID_HA, SendASPI32Command(&inquiry));
    EXPECT_EQ(0, inquiry.HA_Count);
    AspiRequest r(0, 0, {0x12, 0, 0, 0, 36});
    EXPECT_EQ(SS_INVALID_HA, SendASPI32Command(&r.srb));
}

std::string KindName(const testing::TestParamInfo<Kind>& info) {
    const char* const kinds[] = {"Bank", "DeviceObjects", "SgDevices"};
    return kinds[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryLayer, LayerContract,
                         testing::Values(Kind::Bank, Kind::DeviceObjects, Kind::SgDevices),
                         KindName);
