// Helpers of the listening loop (audio/listening_loop.cpp), visible for its tests.
#pragma once

#include <cstddef>
#include <cstdint>

// Wraps `n` PCM bytes in an in-memory WAV file (44-byte header, then the bytes unchanged) in a
// new heap block of n + 44 bytes, stored in `*size`. The caller frees the block with
// std::free. Answers null when the block cannot be had.
char* build_wav_image(const char* pcm, std::uint32_t n, std::uint16_t channels,
                      std::uint32_t sample_rate, std::uint16_t bits_per_sample,
                      std::uint32_t* size);

// True when the RMS of `count` samples (count >= 1) lies strictly below `threshold`. A chunk
// whose RMS equals the threshold, or is not a number, is loud.
bool is_quiet_chunk(const float* samples, std::int32_t count, float threshold);

// Where build_wav_image gets its block. std::malloc unless a test makes it fail.
extern void* (*wav_image_alloc)(std::size_t size);
