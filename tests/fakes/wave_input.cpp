// Scripted wave input: see fake_wave_input.h.
#include "fake_wave_input.h"

namespace fake {

WaveState& Wave() {
    static WaveState state;
    return state;
}

}  // namespace fake

namespace platform {

struct WaveDevice {};
struct Event {};

namespace {
WaveDevice g_device;
Event g_event;
}  // namespace

std::uint32_t WaveInGetNumDevs() {
    return fake::Wave().device_count;
}

EventHandle CreateCaptureEvent() {
    fake::Wave().calls.push_back("CreateEvent");
    return fake::Wave().fail_create_event ? nullptr : &g_event;
}

void CloseEvent(EventHandle) {
    fake::Wave().calls.push_back("CloseEvent");
}

std::uint32_t LastError() {
    return fake::Wave().last_error;
}

std::uint32_t WaveInOpen(WaveInHandle* wave_in, const WaveFormat&, EventHandle) {
    fake::Wave().calls.push_back("Open");
    if (fake::Wave().open_result != 0) {
        return fake::Wave().open_result;
    }
    *wave_in = &g_device;
    return 0;
}

std::uint32_t WaveInPrepareHeader(WaveInHandle, WaveHeader* header) {
    fake::Wave().calls.push_back("Prepare");
    header->dwFlags |= kWaveHeaderPrepared;
    return 0;
}

std::uint32_t WaveInUnprepareHeader(WaveInHandle, WaveHeader* header) {
    fake::Wave().calls.push_back("Unprepare");
    header->dwFlags &= ~kWaveHeaderPrepared;
    return 0;
}

std::uint32_t WaveInAddBuffer(WaveInHandle, WaveHeader* header) {
    fake::Wave().calls.push_back("Add");
    header->dwFlags &= ~kWaveHeaderDone;
    return 0;
}

std::uint32_t WaveInStart(WaveInHandle) {
    fake::Wave().calls.push_back("Start");
    return 0;
}

std::uint32_t WaveInReset(WaveInHandle) {
    fake::Wave().calls.push_back("Reset");
    return 0;
}

std::uint32_t WaveInClose(WaveInHandle) {
    fake::Wave().calls.push_back("Close");
    return 0;
}

std::uint32_t WaitForEvent(EventHandle, std::uint32_t) {
    return kWaitTimeout;
}

}  // namespace platform
