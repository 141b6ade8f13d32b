// Wave input (the default capture device) and the event it signals, after the Windows
// multimedia wave-input interface. Results: 0 is success, anything else a failure code.
//
// Contract the listening logic relies on:
// - WaveInOpen opens the default device (the wave mapper) for the given PCM format and from then
//   on signals `event` each time it hands back a queued buffer.
// - WaveInAddBuffer queues a prepared header; when the device has filled its buffer it sets
//   dwBytesRecorded, sets kWaveHeaderDone in dwFlags and signals the event. Buffers are handed
//   back in the order they were queued.
// - WaveInReset stops recording and hands back every queued buffer.
// - WaitForEvent answers kWaitObject0 when signalled, kWaitTimeout on time-out, anything else on
//   failure (LastError then tells why).
#pragma once

#include <cstdint>

#include "wave_types.h"

namespace platform {

std::uint32_t WaveInGetNumDevs();
EventHandle CreateCaptureEvent();  // unnamed, auto-reset, non-signalled; null on failure
void CloseEvent(EventHandle event);
std::uint32_t LastError();

std::uint32_t WaveInOpen(WaveInHandle* wave_in, const WaveFormat& format, EventHandle event);
std::uint32_t WaveInPrepareHeader(WaveInHandle wave_in, WaveHeader* header);
std::uint32_t WaveInUnprepareHeader(WaveInHandle wave_in, WaveHeader* header);
std::uint32_t WaveInAddBuffer(WaveInHandle wave_in, WaveHeader* header);
std::uint32_t WaveInStart(WaveInHandle wave_in);
std::uint32_t WaveInReset(WaveInHandle wave_in);
std::uint32_t WaveInClose(WaveInHandle wave_in);

std::uint32_t WaitForEvent(EventHandle event, std::uint32_t timeout_ms);

// Ends every wait on a capture event of this process that is under way, as if the event had been
// signalled or the time-out had passed, so that a stopping worker need not sit out its time-out.
// Safe at any time, also while another thread creates, waits on or closes an event.
void InterruptCaptureWaits();

}  // namespace platform
