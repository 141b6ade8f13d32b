// Scripted wave input: see fake_wave_input.h.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "fake_wave_input.h"

namespace fake {
namespace {

struct Device {
    std::mutex mutex;
    std::condition_variable changed;
    WaveState state;
    std::deque<platform::WaveHeader*> queue;
    bool signalled = false;
    bool interrupted = false;
    int waiters = 0;  // threads inside WaitForEvent
};

Device& D() {
    static Device device;
    return device;
}

// The one device and event; handed out as the platform's own handle types.
struct DeviceToken {
    int unused = 0;
} g_device;
struct EventToken {
    int unused = 0;
} g_event;
thread_local std::uint32_t t_last_error = 0;

}  // namespace

WaveState& Wave() {
    return D().state;
}

void WithWave(const std::function<void(WaveState&)>& change) {
    std::lock_guard<std::mutex> lock(D().mutex);
    change(D().state);
    D().changed.notify_all();
}

std::vector<std::string> WaveCalls() {
    std::lock_guard<std::mutex> lock(D().mutex);
    return D().state.calls;
}

namespace {

// Called with the lock held.
void HandBack(const std::string& bytes) {
    platform::WaveHeader* header = D().queue.front();
    D().queue.pop_front();
    const auto n =
        static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), header->dwBufferLength));
    if (n > 0) {
        std::memcpy(header->lpData, bytes.data(), n);
    }
    header->dwBytesRecorded = n;
    header->dwFlags |= platform::kWaveHeaderDone;
}

}  // namespace

bool Deliver(const std::string& bytes, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(D().mutex);
    if (!D().changed.wait_for(lock, timeout, [] { return !D().queue.empty(); })) {
        return false;
    }
    HandBack(bytes);
    D().signalled = true;
    D().changed.notify_all();
    return true;
}

bool DeliverTogether(const std::vector<std::string>& buffers) {
    std::lock_guard<std::mutex> lock(D().mutex);
    if (D().queue.size() < buffers.size()) {
        return false;
    }
    for (const std::string& bytes : buffers) {
        HandBack(bytes);
    }
    D().signalled = true;
    D().changed.notify_all();
    return true;
}

void Signal() {
    std::lock_guard<std::mutex> lock(D().mutex);
    D().signalled = true;
    D().changed.notify_all();
}

bool WaitQueued(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(D().mutex);
    return D().changed.wait_for(lock, timeout,
                                [count] { return D().queue.size() == count && D().waiters > 0; });
}

void Unplug(std::uint32_t error, int absent_opens) {
    WithWave([&](WaveState& s) {
        s.unplug_error = error;
        s.absent_opens = absent_opens;
    });
}

std::string Pcm(std::int16_t value, int samples) {
    return Pcm(std::vector<std::int16_t>(static_cast<std::size_t>(samples), value));
}

std::string Pcm(const std::vector<std::int16_t>& samples) {
    std::string bytes;
    for (std::int16_t sample : samples) {
        const auto bits = static_cast<std::uint16_t>(sample);
        bytes.push_back(static_cast<char>(bits & 0xFF));
        bytes.push_back(static_cast<char>(bits >> 8));
    }
    return bytes;
}

// Puts the device back in its initial state (fake::ResetPlatform).
void ResetWave() {
    std::lock_guard<std::mutex> lock(D().mutex);
    D().state = WaveState();
    D().queue.clear();
    D().signalled = false;
    D().interrupted = false;
    D().waiters = 0;
}

}  // namespace fake

namespace platform {

using fake::D;

namespace {

void Record(const char* call) {
    if (D().state.record_calls) {
        D().state.calls.push_back(call);
    }
}

}  // namespace

std::uint32_t WaveInGetNumDevs() {
    std::lock_guard<std::mutex> lock(D().mutex);
    if (D().state.absent_opens > 0) {
        --D().state.absent_opens;
        return 0;
    }
    return D().state.device_count;
}

EventHandle CreateCaptureEvent() {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("CreateEvent");
    if (D().state.fail_create_event) {
        fake::t_last_error = D().state.last_error;
        return nullptr;
    }
    ++D().state.open_events;
    D().signalled = false;
    return reinterpret_cast<EventHandle>(&fake::g_event);
}

void CloseEvent(EventHandle) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("CloseEvent");
    --D().state.open_events;
}

std::uint32_t LastError() {
    return fake::t_last_error;
}

std::uint32_t WaveInOpen(WaveInHandle* wave_in, const WaveFormat&, EventHandle) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("Open");
    if (D().state.open_result != 0) {
        *wave_in = nullptr;
        return D().state.open_result;
    }
    ++D().state.open_devices;
    D().state.adds_since_open = 0;
    D().state.unplug_error = 0;
    D().queue.clear();
    *wave_in = reinterpret_cast<WaveInHandle>(&fake::g_device);
    return 0;
}

std::uint32_t WaveInPrepareHeader(WaveInHandle, WaveHeader* header) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("Prepare");
    const fake::Fault& fault = D().state.prepare;
    if (fault.index >= 0 && D().state.adds_since_open == fault.index) {
        return fault.result;
    }
    header->dwFlags |= kWaveHeaderPrepared;
    return 0;
}

std::uint32_t WaveInUnprepareHeader(WaveInHandle, WaveHeader* header) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("Unprepare");
    header->dwFlags &= ~kWaveHeaderPrepared;
    return 0;
}

std::uint32_t WaveInAddBuffer(WaveInHandle, WaveHeader* header) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("Add");
    fake::WaveState& s = D().state;
    const int n = s.adds_since_open++;
    const int initial = 4;
    if (s.add.index >= 0 && n == s.add.index) {
        return s.add.result;
    }
    if (s.requeue.index >= 0 && n == initial + s.requeue.index) {
        const std::uint32_t result = s.requeue.result;
        s.requeue = fake::Fault();
        return result;
    }
    header->dwFlags &= ~kWaveHeaderDone;
    D().queue.push_back(header);
    D().changed.notify_all();
    return 0;
}

std::uint32_t WaveInStart(WaveInHandle) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("Start");
    return D().state.start_result;
}

std::uint32_t WaveInReset(WaveInHandle) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("Reset");
    for (WaveHeader* header : D().queue) {
        header->dwBytesRecorded = 0;
        header->dwFlags |= kWaveHeaderDone;
    }
    if (!D().queue.empty()) {
        D().signalled = true;
    }
    D().queue.clear();
    D().changed.notify_all();
    return 0;
}

std::uint32_t WaveInClose(WaveInHandle) {
    std::lock_guard<std::mutex> lock(D().mutex);
    Record("Close");
    --D().state.open_devices;
    return 0;
}

std::uint32_t WaitForEvent(EventHandle, std::uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(D().mutex);
    fake::WaveState& s = D().state;
    ++D().waiters;
    D().changed.notify_all();
    D().changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&s] {
        return D().signalled || s.wait_result != 0 || s.unplug_error != 0 || D().interrupted;
    });
    --D().waiters;
    if (D().interrupted) {
        D().interrupted = false;
        ++s.interrupted_waits;
        return kWaitTimeout;
    }
    if (s.wait_result != 0) {
        const std::uint32_t result = s.wait_result;
        s.wait_result = 0;
        fake::t_last_error = s.wait_error;
        return result;
    }
    if (s.unplug_error != 0) {
        fake::t_last_error = s.unplug_error;
        return fake::kWaitFailed;
    }
    if (D().signalled) {
        D().signalled = false;
        return kWaitObject0;
    }
    return kWaitTimeout;
}

void InterruptCaptureWaits() {
    std::lock_guard<std::mutex> lock(D().mutex);
    if (D().waiters > 0) {
        D().interrupted = true;
        D().changed.notify_all();
    }
}

}  // namespace platform
