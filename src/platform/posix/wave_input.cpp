// Linux wave input. Placeholder until the ALSA capture lands: no capture device is reported.
#include "platform/wave_input.h"

namespace platform {

std::uint32_t WaveInGetNumDevs() {
    return 0;
}
EventHandle CreateCaptureEvent() {
    return nullptr;
}
void CloseEvent(EventHandle) {}
std::uint32_t LastError() {
    return 0;
}
std::uint32_t WaveInOpen(WaveInHandle*, const WaveFormat&, EventHandle) {
    return 2;
}
std::uint32_t WaveInPrepareHeader(WaveInHandle, WaveHeader*) {
    return 5;
}
std::uint32_t WaveInUnprepareHeader(WaveInHandle, WaveHeader*) {
    return 0;
}
std::uint32_t WaveInAddBuffer(WaveInHandle, WaveHeader*) {
    return 5;
}
std::uint32_t WaveInStart(WaveInHandle) {
    return 5;
}
std::uint32_t WaveInReset(WaveInHandle) {
    return 0;
}
std::uint32_t WaveInClose(WaveInHandle) {
    return 0;
}
std::uint32_t WaitForEvent(EventHandle, std::uint32_t) {
    return 0xFFFFFFFF;
}

}  // namespace platform
