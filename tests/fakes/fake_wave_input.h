// Control of the fake wave-input device.
//
// The device hands a queued buffer back only when the test says so (Deliver), in queue order,
// with the bytes given. Every platform step can be made to fail. Everything here locks one
// mutex, so a test may drive the device while the listening loop runs on its worker thread;
// Wave() itself is for setting up and reading back while no worker runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/wave_input.h"

namespace fake {

// A failure of the n-th call of one kind since the device was last opened (0-based); -1 never.
struct Fault {
    int index = -1;
    std::uint32_t result = 0;
};

struct WaveState {
    // Answers.
    std::uint32_t device_count = 0;
    bool fail_create_event = false;
    std::uint32_t last_error = 0;  // LastError after a failed CreateEvent
    std::uint32_t open_result = 0;
    Fault prepare;  // index = header index
    Fault add;      // index = header index of the initial queueing
    std::uint32_t start_result = 0;
    Fault requeue;  // one-shot; index = re-queues since the open that succeed before it
    std::uint32_t wait_result = 0;   // one-shot: the next wait answers this (0: no fault)
    std::uint32_t wait_error = 0;    // LastError after that wait
    int absent_opens = 0;            // the next n device counts answer 0
    std::uint32_t unplug_error = 0;  // non-zero: the open device is gone; every wait fails

    // Record.
    std::vector<std::string> calls;  // platform calls in order (waits are not recorded)
    bool record_calls = true;        // off for long runs
    int open_devices = 0;
    int open_events = 0;
    int adds_since_open = 0;
    int interrupted_waits = 0;  // waits that InterruptCaptureWaits ended
};

// Direct access; only while no worker runs.
WaveState& Wave();
// Runs `change` on the state under the device's lock.
void WithWave(const std::function<void(WaveState&)>& change);
std::vector<std::string> WaveCalls();
// Puts the device back in its initial state.
void ResetWave();

// Hands the oldest queued buffer back with `bytes` (cut to the buffer's length), marks it done
// and signals the event. Waits up to `timeout` for a queued buffer; false if none came.
bool Deliver(const std::string& bytes, std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Hands the oldest queued buffers back at once, one per entry, and signals once: the loop finds
// them all done when it wakes, as when it comes late. False if fewer buffers are queued.
bool DeliverTogether(const std::vector<std::string>& buffers);
// Signals the event without handing anything back.
void Signal();
// Waits until `count` buffers are queued and a thread waits on the event again: the loop has
// consumed and re-queued what it got and finished its scan.
bool WaitQueued(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
// The open device vanishes: from now on each wait answers a failure with `error`, and the next
// `absent_opens` opens find no device. A later open finds it again.
void Unplug(std::uint32_t error, int absent_opens);

// 16-bit little-endian PCM: `samples` copies of `value`, or the given samples.
std::string Pcm(std::int16_t value, int samples = 1600);
std::string Pcm(const std::vector<std::int16_t>& samples);

constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

}  // namespace fake
