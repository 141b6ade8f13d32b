// A scripted stand-in for the sherpa-onnx C API: the same C symbols, a call log, scripted
// detections and failures, and counts of live objects for leak checks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/sherpa_onnx.h"

namespace fake {

struct FakeStream {
    int id = 0;
    std::vector<float> pending;  // samples accepted since the last result was fetched
    size_t total_samples = 0;    // samples accepted over the stream's life
    int sample_rate = 0;         // rate of the last accepted chunk
    bool input_finished = false;
    int ready_steps = 0;  // decode steps still to run
};

struct EngineState {
    // Every call, in order: the function name without the "SherpaOnnx" prefix.
    std::vector<std::string> calls;
    bool record_calls = true;  // off for long runs

    // Failures.
    bool refuse_spotter = false;      // CreateKeywordSpotter answers null
    bool throw_on_spotter = false;    // CreateKeywordSpotter throws std::runtime_error
    bool null_streams = false;        // CreateKeywordStream answers null
    bool read_wave_null = false;      // ReadWaveFromBinaryData answers null
    std::function<void()> on_decode;  // runs inside each decode step (may throw)

    // Decides the keyword reported by each GetKeywordResult ("" for none). Sees the samples
    // accepted since the previous fetch.
    std::function<std::string(const FakeStream&)> detect;

    // What the last CreateKeywordSpotter received; the buffers are copied during the call.
    SherpaOnnxKeywordSpotterConfig config{};
    std::string encoder, decoder, joiner, provider, tokens, keywords;
    int display_width = 0;

    // Live objects.
    int spotters = 0, streams = 0, displays = 0, results = 0, waves = 0;
    int streams_created = 0;
};

EngineState& Engine();
void ResetEngine();

}  // namespace fake
