// Windows: the multimedia wave-input interface with an event callback.
#include "platform/wave_input.h"

namespace platform {

std::uint32_t WaveInGetNumDevs() {
    return waveInGetNumDevs();
}

EventHandle CreateCaptureEvent() {
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

void CloseEvent(EventHandle event) {
    CloseHandle(event);
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
