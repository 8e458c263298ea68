// The seam on Linux: the environment, small portable events and the steady
// clock.
#include "AspiPlatform.h"
#include "AspiSystem.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace aspi {
namespace {

struct PortableEvent {
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;
};

// Handles are serial numbers, never reused, looked up in a table: a layer
// that signals an event its submitter has already closed finds nothing, as
// a closed handle does on Windows, instead of touching freed memory.
struct EventTable {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<PortableEvent>> events;
    uintptr_t next = 1;
};

EventTable& Table() {
    static EventTable table;
    return table;
}

std::shared_ptr<PortableEvent> Find(EventHandle event) {
    EventTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.events.find(reinterpret_cast<uintptr_t>(event));
    return it == table.events.end() ? nullptr : it->second;
}

} // namespace

namespace detail {

int ReadEnvironment(const char* name, char* value, uint32_t size) {
    const char* text = std::getenv(name);
    if (!text || !*text || std::strlen(text) >= size)
        return 0;
    std::snprintf(value, size, "%s", text);
    return 1;
}

int LoadAspiLibrary(const char*, const LayerOps**, void**) {
    return 0; // no ASPI libraries here: the pass-through serves
}

uint32_t SystemTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int SystemIsWindows95Or98() {
    return 0;
}

void* SystemCreateEvent() {
    EventTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    uintptr_t id = table.next++;
    table.events[id] = std::make_shared<PortableEvent>();
    return reinterpret_cast<EventHandle>(id);
}

} // namespace detail

void SignalCompletionEvent(EventHandle event) {
    std::shared_ptr<PortableEvent> e = Find(event);
    if (!e)
        return;
    std::lock_guard<std::mutex> lock(e->mutex);
    e->set = true;
    e->signalled.notify_all();
}

int WaitCompletionEvent(EventHandle event, uint32_t milliseconds) {
    std::shared_ptr<PortableEvent> e = Find(event);
    if (!e)
        return 0;
    std::unique_lock<std::mutex> lock(e->mutex);
    if (!e->signalled.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [&e] { return e->set; }))
        return 0;
    e->set = false; // auto-reset: one wait consumes one signal
    return 1;
}

void ResetCompletionEvent(EventHandle event) {
    if (std::shared_ptr<PortableEvent> e = Find(event)) {
        std::lock_guard<std::mutex> lock(e->mutex);
        e->set = false;
    }
}

void CloseCompletionEvent(EventHandle event) {
    EventTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.events.erase(reinterpret_cast<uintptr_t>(event));
}

} // namespace aspi
