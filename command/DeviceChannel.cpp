#include "command/DeviceChannel.h"

#include "aspi/AspiLayer.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>

using namespace aspi;

namespace {

const uint8_t kInquiry[12] = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0};

constexpr int kSenseBytes = 14;

int IsPending(const uint8_t* status) {
    return LoadStatus(status) == SS_PENDING;
}

// 1 once the layer has stored a status in the record, waiting a bounded time.
int AwaitStatus(const uint8_t* status) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(DeviceChannel::kReleaseWait);
    while (IsPending(status)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

// A record is refilled only once the layer has given it back.
int IsFree(const uint8_t* status) {
    return !IsPending(status) || AwaitStatus(status);
}

void CopyIdentity(char* out, int size, const uint8_t* in, int count) {
    if (size < 1)
        return;
    int n = count < size - 1 ? count : size - 1;
    for (int i = 0; i < n; ++i)
        out[i] = in[i] ? static_cast<char>(in[i]) : ' ';
    out[n] = 0;
}

} // namespace

DeviceChannel::DeviceChannel(int32_t size)
    : adapterCount(0), adapter(0), target(0), direction(SRB_DIR_IN), dataLength(0), buffer(nullptr),
      cdbLength(0), senseKey(0), asc(0), ascq(0), timeout(kDefaultTimeout),
#if !CORVANE_HOST_CHANNEL
      timedOut(0), pollMode(IsWindows95Or98()),
#endif
      deviceCount(0), bufferSize(0), lingeringEvent(nullptr) {
    if (size > kMaxBuffer)
        size = kMaxBuffer;
    if (size < kMinBuffer)
        size = kMinBuffer;
    uint32_t bytes = static_cast<uint32_t>(size);
#if !CORVANE_HOST_CHANNEL
    bytes *= 2;
#endif
    buffer = new (std::nothrow) uint8_t[bytes];
    if (buffer) {
        bufferSize = bytes;
        buffer[0] = 0;
    }
    std::memset(cdb, 0, sizeof cdb);
    std::memset(devices, 0, sizeof devices);
    std::memset(&request, 0, sizeof request);
    std::memset(&resetRequest, 0, sizeof resetRequest);
    // A status other than pending marks a record the layer does not hold.
    request.SRB_Status = SS_COMP;
    resetRequest.SRB_Status = SS_COMP;

    uint32_t info = GetASPI32SupportInfo();
    if (SupportStatus(info) == SS_COMP)
        adapterCount = SupportAdapterCount(info);
}

DeviceChannel::~DeviceChannel() {
    if (!ReleaseRequest())
        return; // the layer may still write into the buffer: let it have it
    delete[] buffer;
}

void DeviceChannel::SelectEntry(uint8_t index) {
    if (index >= kMaxDevices)
        return;
    adapter = devices[index].adapter;
    target = devices[index].target;
}

int8_t DeviceChannel::FindSelectedDevice() const {
    for (int i = 0; i < deviceCount && i < kMaxDevices; ++i)
        if (devices[i].adapter == adapter && devices[i].target == target)
            return static_cast<int8_t>(i);
    return -1;
}

void DeviceChannel::ScanDevices() {
    deviceCount = 0;
    for (int a = 0; a < adapterCount; ++a) {
        SetAdapter(static_cast<uint8_t>(a));
        for (int t = 0; t < 8; ++t) {
            SetTarget(static_cast<uint8_t>(t));
            SetCommand(kInquiry, SRB_DIR_IN, 36);
            if (Execute() != 1 || buffer[0] != 5 || deviceCount >= kMaxDevices)
                continue;
            DeviceEntry& entry = devices[deviceCount];
            ReadInquiryText(entry.model, entry.version);
            entry.adapter = static_cast<uint8_t>(a);
            entry.target = static_cast<uint8_t>(t);
            ++deviceCount;
        }
    }
    SelectEntry(0);
}

void DeviceChannel::ReadInquiryText(char* model, int modelSize, char* version,
                                    int versionSize) const {
    static const uint8_t kNoIdentity[36] = {};
    const uint8_t* data = bufferSize >= 36 ? buffer : kNoIdentity;
    CopyIdentity(model, modelSize, data + 8, 24);
    CopyIdentity(version, versionSize, data + 32, 4);
}

void DeviceChannel::ReadInquiryText(StringEx& model, StringEx& version) const {
    ReadInquiryText(model.data, model.capacity, version.data, version.capacity);
}

void DeviceChannel::SetCommand(const uint8_t* block, uint8_t dir, uint32_t length) {
    std::memmove(cdb, block, sizeof cdb);
    cdbLength = sizeof cdb;
    direction = dir;
    dataLength = length;
}

int32_t DeviceChannel::Execute() {
    if (adapter >= adapterCount)
        return 0;
    // The layer would write past the buffer.
    if (dataLength > bufferSize)
        return 0;
    if (!ReleaseRequest()) {
        // The layer still holds the command before: this one cannot be sent.
#if CORVANE_HOST_CHANNEL
        senseKey = 255;
#else
        senseKey = 0;
        timedOut = 1;
#endif
        return 0;
    }
    EventHandle event = CreateCompletionEvent();
    if (!event)
        return 0;

    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = adapter;
    request.SRB_Flags = direction;
#if !CORVANE_HOST_CHANNEL
    if (!pollMode)
#endif
        request.SRB_Flags |= SRB_EVENT_NOTIFY;
    request.SRB_Target = target;
    request.SRB_Lun = 0;
    request.SRB_BufLen = dataLength;
    request.SRB_BufPointer = buffer;
    request.SRB_SenseLen = kSenseBytes;
    request.SRB_CDBLen = cdbLength;
    request.SRB_PostProc = event;
    std::memcpy(request.CDBByte, cdb, cdbLength < sizeof cdb ? cdbLength : sizeof cdb);

    SendASPI32Command(&request);

    senseKey = 0;
#if !CORVANE_HOST_CHANNEL
    timedOut = 0;
#endif
    int completed = WaitForCompletion(event);
    HandOverEvent(event);
    if (!completed) {
        EndTimedOutCommand();
#if CORVANE_HOST_CHANNEL
        senseKey = 255;
#else
        timedOut = 1;
#endif
        return 0;
    }
    ReadSense();
    return LoadStatus(&request.SRB_Status) == SS_COMP && request.SenseArea[0] == 0;
}

int DeviceChannel::WaitForCompletion(EventHandle event) {
    const uint8_t* status = &request.SRB_Status;
    uint32_t start = TickCount();
#if !CORVANE_HOST_CHANNEL
    if (pollMode) {
        // Elapsed time, not a deadline: the tick count wraps every 49.7 days.
        for (;;) {
            if (!IsPending(status))
                return 1;
            if (__atomic_load_n(&request.SenseArea[0], __ATOMIC_ACQUIRE) != 0)
                return 1;
            if (TickCount() - start > timeout)
                return 0;
        }
    }
#endif
    int completed = 1;
    // A wake-up with the status still pending is a late signal meant for an
    // earlier command whose event handle was reused: keep waiting.
    while (IsPending(status)) {
        uint32_t elapsed = TickCount() - start;
        if (elapsed >= timeout || !WaitCompletionEvent(event, timeout - elapsed)) {
            completed = !IsPending(status);
            break;
        }
    }
    ResetCompletionEvent(event);
    return completed;
}

void DeviceChannel::HandOverEvent(EventHandle event) {
    if (IsPending(&request.SRB_Status))
        lingeringEvent = event;
    else
        CloseCompletionEvent(event);
}

// The drive did not answer in time. The reset makes the layer give the
// request back, and it must have done so before the record, the event or the
// buffer serve the next command: a late completion would land in that one.
void DeviceChannel::EndTimedOutCommand() {
    ResetDevice();
    ReleaseRequest();
}

int DeviceChannel::ReleaseRequest() {
    if (!IsFree(&request.SRB_Status))
        return 0;
    if (lingeringEvent) {
        CloseCompletionEvent(lingeringEvent);
        lingeringEvent = nullptr;
    }
    return 1;
}

void DeviceChannel::ReadSense() {
    senseKey = request.SenseArea[2] & 0x0F;
    asc = request.SenseArea[12];
    ascq = request.SenseArea[13];
}

int32_t DeviceChannel::ResetDevice() {
    if (!IsFree(&resetRequest.SRB_Status))
        return 0;
    std::memset(&resetRequest, 0, sizeof resetRequest);
    resetRequest.SRB_Cmd = SC_RESET_DEV;
    resetRequest.SRB_HaId = adapter;
    resetRequest.SRB_Flags = 0;
    resetRequest.SRB_Hdr_Rsvd = 0;
    resetRequest.SRB_Target = target;
    resetRequest.SRB_Lun = 0;
    uint32_t result = SendASPI32Command(&resetRequest);
    // The record lives in the channel, not in a stack frame, so a layer that
    // completes it late still writes into memory that is ours.
    AwaitStatus(&resetRequest.SRB_Status);
    return result == SS_COMP ? 1 : 0;
}
