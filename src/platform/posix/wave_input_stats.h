// A figure of the Linux wave input for benchmarks; the listening logic does not use it.
#pragma once

#include <cstdint>

namespace platform {

// How many times, in this process, a capture thread came for the next buffer and found none
// queued: the listening loop was holding all four. A Windows driver drops audio at that moment;
// here ALSA keeps up to 500 ms more behind the buffers, and only an overrun loses audio.
std::uint64_t WaveInStarvedCount();

}  // namespace platform
