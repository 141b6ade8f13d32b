// Windows: the multimedia wave-input interface with an event callback.
#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "platform/wave_input.h"

namespace platform {

namespace {

// Every live capture event, for InterruptCaptureWaits.
std::mutex g_events_mutex;
std::vector<EventHandle> g_events;

}  // namespace

std::uint32_t WaveInGetNumDevs() {
    return waveInGetNumDevs();
}

EventHandle CreateCaptureEvent() {
    EventHandle event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event != nullptr) {
        try {
            std::lock_guard<std::mutex> lock(g_events_mutex);
            g_events.push_back(event);
        } catch (const std::bad_alloc&) {
            CloseHandle(event);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    return event;
}

void CloseEvent(EventHandle event) {
    {
        std::lock_guard<std::mutex> lock(g_events_mutex);
        g_events.erase(std::remove(g_events.begin(), g_events.end(), event), g_events.end());
    }
    CloseHandle(event);
}

// A signalled event ends the wait; the loop then finds `running` cleared and leaves.
void InterruptCaptureWaits() {
    std::lock_guard<std::mutex> lock(g_events_mutex);
    for (EventHandle event : g_events) {
        SetEvent(event);
    }
}

std::uint32_t LastError() {
    return GetLastError();
}

std::uint32_t WaveInOpen(WaveInHandle* wave_in, const WaveFormat& format, EventHandle event) {
    return waveInOpen(wave_in, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event), 0,
                      CALLBACK_EVENT);
}

std::uint32_t WaveInPrepareHeader(WaveInHandle wave_in, WaveHeader* header) {
    return waveInPrepareHeader(wave_in, header, sizeof(WAVEHDR));
}

std::uint32_t WaveInUnprepareHeader(WaveInHandle wave_in, WaveHeader* header) {
    return waveInUnprepareHeader(wave_in, header, sizeof(WAVEHDR));
}

std::uint32_t WaveInAddBuffer(WaveInHandle wave_in, WaveHeader* header) {
    return waveInAddBuffer(wave_in, header, sizeof(WAVEHDR));
}

std::uint32_t WaveInStart(WaveInHandle wave_in) {
    return waveInStart(wave_in);
}

std::uint32_t WaveInReset(WaveInHandle wave_in) {
    return waveInReset(wave_in);
}

std::uint32_t WaveInClose(WaveInHandle wave_in) {
    return waveInClose(wave_in);
}

std::uint32_t WaitForEvent(EventHandle event, std::uint32_t timeout_ms) {
    return WaitForSingleObject(event, timeout_ms);
}

}  // namespace platform
