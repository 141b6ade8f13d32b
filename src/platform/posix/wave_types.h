// Wave-input records for platforms without the Windows multimedia interface. They keep the
// Windows field names so that the listening logic reads the same on every platform.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

struct WaveDevice;
struct Event;
using WaveInHandle = WaveDevice*;
using EventHandle = Event*;

struct WaveFormat {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};

// A capture buffer header. The capture thread writes dwBytesRecorded and then sets the done
// flag; dwFlags is atomic so that the listening loop may look at a header the capture thread is
// filling.
struct WaveHeader {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::atomic<std::uint32_t> dwFlags{0};
};

// The flags as the capture thread last published them.
inline std::uint32_t LoadHeaderFlags(const WaveHeader& header) {
    return header.dwFlags.load();
}

inline void ZeroHeader(WaveHeader& header) {
    header.lpData = nullptr;
    header.dwBufferLength = 0;
    header.dwBytesRecorded = 0;
    header.dwUser = 0;
    header.dwFlags = 0;
}

constexpr std::uint32_t kWaveHeaderDone = 1;
constexpr std::uint32_t kWaveHeaderPrepared = 2;
constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;

}  // namespace platform
