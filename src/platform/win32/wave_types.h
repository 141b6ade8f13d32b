// Wave-input records of the Windows multimedia interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "windows_headers.h"
// windows_headers.h must come first.
#include <mmsystem.h>

namespace platform {

using WaveInHandle = HWAVEIN;
using EventHandle = HANDLE;
using WaveFormat = WAVEFORMATEX;
using WaveHeader = WAVEHDR;

// The flags as the driver last set them. The driver writes them from its own thread, so they are
// read afresh each time, and what it wrote into the header and the buffer before setting
// WHDR_DONE is read after.
inline std::uint32_t LoadHeaderFlags(const WaveHeader& header) {
    const std::uint32_t flags = *static_cast<const volatile DWORD*>(&header.dwFlags);
    std::atomic_thread_fence(std::memory_order_acquire);
    return flags;
}

inline void ZeroHeader(WaveHeader& header) {
    std::memset(&header, 0, sizeof header);
}

constexpr std::uint32_t kWaveHeaderDone = WHDR_DONE;
constexpr std::uint32_t kWaveHeaderPrepared = WHDR_PREPARED;
constexpr std::uint16_t kWaveFormatPcm = WAVE_FORMAT_PCM;
constexpr std::uint32_t kWaitObject0 = WAIT_OBJECT_0;
constexpr std::uint32_t kWaitTimeout = WAIT_TIMEOUT;

}  // namespace platform
