#include <cstring>
#include <stdexcept>

#include "fake_engine.h"
#include "measure.h"

namespace fake {

EngineState& Engine() {
    static EngineState state;
    return state;
}

void ResetEngine() {
    Engine() = EngineState();
}

}  // namespace fake

struct SherpaOnnxKeywordSpotter {
    int unused = 0;
};
struct SherpaOnnxOnlineStream {
    fake::FakeStream state;
};
struct SherpaOnnxDisplay {
    int width = 0;
};

namespace {

fake::EngineState& E() {
    return fake::Engine();
}

void Record(const char* call) {
    if (E().record_calls) {
        E().calls.push_back(call);
    }
}

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

SherpaOnnxOnlineStream* Mutable(const SherpaOnnxOnlineStream* stream) {
    return const_cast<SherpaOnnxOnlineStream*>(stream);
}

}  // namespace

extern "C" {

const SherpaOnnxKeywordSpotter* SherpaOnnxCreateKeywordSpotter(
    const SherpaOnnxKeywordSpotterConfig* config) {
    Record("CreateKeywordSpotter");
    E().config = *config;
    const SherpaOnnxOnlineModelConfig& model = config->model_config;
    E().encoder = Text(model.transducer.encoder);
    E().decoder = Text(model.transducer.decoder);
    E().joiner = Text(model.transducer.joiner);
    E().provider = Text(model.provider);
    E().tokens = model.tokens_buf != nullptr && model.tokens_buf_size > 0
                     ? std::string(model.tokens_buf, static_cast<size_t>(model.tokens_buf_size))
                     : std::string();
    E().keywords =
        config->keywords_buf != nullptr && config->keywords_buf_size > 0
            ? std::string(config->keywords_buf, static_cast<size_t>(config->keywords_buf_size))
            : std::string();
    if (E().throw_on_spotter) {
        throw std::runtime_error("fake engine: cannot load the encoder");
    }
    if (E().refuse_spotter) {
        return nullptr;
    }
    ++E().spotters;
    return new SherpaOnnxKeywordSpotter();
}

void SherpaOnnxDestroyKeywordSpotter(const SherpaOnnxKeywordSpotter* spotter) {
    Record("DestroyKeywordSpotter");
    if (spotter != nullptr) {
        --E().spotters;
        delete spotter;
    }
}

const SherpaOnnxOnlineStream* SherpaOnnxCreateKeywordStream(
    const SherpaOnnxKeywordSpotter* spotter) {
    Record("CreateKeywordStream");
    if (spotter == nullptr || E().null_streams) {
        return nullptr;
    }
    ++E().streams;
    auto* stream = new SherpaOnnxOnlineStream();
    stream->state.id = ++E().streams_created;
    return stream;
}

void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream* stream, int32_t sample_rate,
                                          const float* samples, int32_t n) {
    Record("OnlineStreamAcceptWaveform");
    if (stream == nullptr) {
        return;
    }
    if (sample_rate <= 0) {
        throw std::logic_error("fake engine: sample rate must be positive");
    }
    fake::FakeStream& s = Mutable(stream)->state;
    s.pending.insert(s.pending.end(), samples, samples + n);
    s.total_samples += static_cast<size_t>(n);
    s.sample_rate = sample_rate;
    if (n > 0) {
        ++s.ready_steps;
    }
}

int32_t SherpaOnnxIsKeywordStreamReady(const SherpaOnnxKeywordSpotter* spotter,
                                       const SherpaOnnxOnlineStream* stream) {
    Record("IsKeywordStreamReady");
    return spotter != nullptr && stream != nullptr && stream->state.ready_steps > 0 ? 1 : 0;
}

void SherpaOnnxDecodeKeywordStream(const SherpaOnnxKeywordSpotter* spotter,
                                   const SherpaOnnxOnlineStream* stream) {
    Record("DecodeKeywordStream");
    if (spotter == nullptr || stream == nullptr) {
        return;
    }
    if (E().on_decode) {
        E().on_decode();
    }
    if (stream->state.ready_steps > 0) {
        --Mutable(stream)->state.ready_steps;
    }
}

const SherpaOnnxKeywordResult* SherpaOnnxGetKeywordResult(const SherpaOnnxKeywordSpotter* spotter,
                                                          const SherpaOnnxOnlineStream* stream) {
    Record("GetKeywordResult");
    if (spotter == nullptr || stream == nullptr) {
        return nullptr;
    }
    fake::FakeStream& s = Mutable(stream)->state;
    const std::string keyword = E().detect ? E().detect(s) : std::string();
    s.pending.clear();
    char* text = new char[keyword.size() + 1];
    std::memcpy(text, keyword.c_str(), keyword.size() + 1);
    auto* result = new SherpaOnnxKeywordResult();
    result->keyword = text;
    result->json = "{}";
    ++E().results;
    return result;
}

void SherpaOnnxDestroyKeywordResult(const SherpaOnnxKeywordResult* result) {
    Record("DestroyKeywordResult");
    if (result != nullptr) {
        --E().results;
        delete[] result->keyword;
        delete result;
    }
}

void SherpaOnnxOnlineStreamInputFinished(const SherpaOnnxOnlineStream* stream) {
    Record("OnlineStreamInputFinished");
    if (stream != nullptr) {
        Mutable(stream)->state.input_finished = true;
        ++Mutable(stream)->state.ready_steps;
    }
}

void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* stream) {
    Record("DestroyOnlineStream");
    if (stream != nullptr) {
        --E().streams;
        delete stream;
    }
}

const SherpaOnnxWave* SherpaOnnxReadWaveFromBinaryData(const char* data, int32_t n) {
    Record("ReadWaveFromBinaryData");
    if (E().read_wave_null || data == nullptr || n < 44 || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVEfmt ", 8) != 0 || measure::Le16(data + 20) != 1 ||
        measure::Le16(data + 34) != 16 || std::memcmp(data + 36, "data", 4) != 0) {
        return nullptr;
    }
    const std::uint32_t bytes = measure::Le32(data + 40);
    if (bytes > static_cast<std::uint32_t>(n) - 44) {
        return nullptr;
    }
    const int channels = measure::Le16(data + 22);
    const std::uint32_t frames = channels > 0 ? bytes / (2u * channels) : 0;
    float* samples = new float[frames > 0 ? frames : 1];
    for (std::uint32_t i = 0; i < frames; ++i) {
        std::int16_t sample;
        std::memcpy(&sample, data + 44 + i * 2u * channels, 2);  // channel 0 only
        samples[i] = static_cast<float>(sample) / 32768.0f;
    }
    auto* wave = new SherpaOnnxWave();
    wave->samples = samples;
    wave->sample_rate = static_cast<int32_t>(measure::Le32(data + 24));
    wave->num_samples = static_cast<int32_t>(frames);
    ++E().waves;
    return wave;
}

void SherpaOnnxFreeWave(const SherpaOnnxWave* wave) {
    Record("FreeWave");
    if (wave != nullptr) {
        --E().waves;
        delete[] wave->samples;
        delete wave;
    }
}

const SherpaOnnxDisplay* SherpaOnnxCreateDisplay(int32_t max_word_per_line) {
    Record("CreateDisplay");
    E().display_width = max_word_per_line;
    ++E().displays;
    auto* display = new SherpaOnnxDisplay();
    display->width = max_word_per_line;
    return display;
}

void SherpaOnnxDestroyDisplay(const SherpaOnnxDisplay* display) {
    Record("DestroyDisplay");
    if (display != nullptr) {
        --E().displays;
        delete display;
    }
}

}  // extern "C"
