// The listening loop's in-memory WAV image on arbitrary PCM bytes: the header must describe the
// bytes exactly, and with the loop's own format the engine's wave reader must give back every
// sample unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/listening_loop.h"
#include "engine/sherpa_onnx.h"
#include "measure.h"

using measure::Le16;
using measure::Le32;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    // The first bytes choose the format; the loop itself always asks for 1, 16000, 16.
    const bool loop_format = (data[0] & 1) == 0;
    const std::uint16_t channels = loop_format ? 1 : Le16(reinterpret_cast<const char*>(data + 1));
    const std::uint32_t rate = loop_format ? 16000 : Le32(reinterpret_cast<const char*>(data + 3));
    const std::uint16_t bits = loop_format ? 16 : data[7];
    const char* pcm = reinterpret_cast<const char*>(data + 8);
    const auto n = static_cast<std::uint32_t>(size - 8);

    std::uint32_t image_size = 0;
    char* image = build_wav_image(pcm, n, channels, rate, bits, &image_size);
    Check(image != nullptr && image_size == n + 44);
    Check(std::memcmp(image, "RIFF", 4) == 0 && Le32(image + 4) == n + 36);
    Check(std::memcmp(image + 8, "WAVEfmt ", 8) == 0 && Le32(image + 16) == 16);
    Check(Le16(image + 20) == 1 && Le16(image + 22) == channels && Le32(image + 24) == rate);
    Check(Le32(image + 28) == static_cast<std::uint32_t>(rate * channels * bits / 8));
    Check(Le16(image + 32) == static_cast<std::uint16_t>(channels * bits / 8));
    Check(Le16(image + 34) == bits && std::memcmp(image + 36, "data", 4) == 0);
    Check(Le32(image + 40) == n && std::memcmp(image + 44, pcm, n) == 0);

    if (loop_format) {
        const SherpaOnnxWave* wave =
            SherpaOnnxReadWaveFromBinaryData(image, static_cast<std::int32_t>(image_size));
        Check(wave != nullptr && wave->sample_rate == 16000 &&
              wave->num_samples == static_cast<std::int32_t>(n / 2));
        for (std::int32_t i = 0; i < wave->num_samples; ++i) {
            const auto sample = static_cast<std::int16_t>(Le16(pcm + 2 * i));
            Check(wave->samples[i] == static_cast<float>(sample) / 32768.0f);
        }
        SherpaOnnxFreeWave(wave);
    }
    std::free(image);
    return 0;
}
