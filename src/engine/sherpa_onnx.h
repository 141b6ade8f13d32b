// Declarations of the sherpa-onnx C API (version 1.13.8) as this library uses it: the keyword
// spotter, its stream, the wave reader and the display. Record layouts are those of the engine
// build we link; members we never fill stay zero.
#pragma once

#include <cstddef>
#include <cstdint>

// Plain declarations: on Windows the calls go through the import library's thunks, which also
// lets the unit tests link a fake engine in the same image.
#define SHERPA_ONNX_API

extern "C" {

struct SherpaOnnxFeatureConfig {
    int32_t sample_rate;
    int32_t feature_dim;
};

struct SherpaOnnxOnlineTransducerModelConfig {
    const char* encoder;
    const char* decoder;
    const char* joiner;
};

struct SherpaOnnxOnlineParaformerModelConfig {
    const char* encoder;
    const char* decoder;
};

struct SherpaOnnxOnlineZipformer2CtcModelConfig {
    const char* model;
};

struct SherpaOnnxOnlineNemoCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOnlineToneCtcModelConfig {
    const char* model;
};

struct SherpaOnnxOnlineModelConfig {
    SherpaOnnxOnlineTransducerModelConfig transducer;
    SherpaOnnxOnlineParaformerModelConfig paraformer;
    SherpaOnnxOnlineZipformer2CtcModelConfig zipformer2_ctc;
    const char* tokens;
    int32_t num_threads;
    const char* provider;
    int32_t debug;
    const char* model_type;
    const char* modeling_unit;
    const char* bpe_vocab;
    const char* tokens_buf;
    int32_t tokens_buf_size;
    SherpaOnnxOnlineNemoCtcModelConfig nemo_ctc;
    SherpaOnnxOnlineToneCtcModelConfig t_one_ctc;
};

struct SherpaOnnxKeywordSpotterConfig {
    SherpaOnnxFeatureConfig feat_config;
    SherpaOnnxOnlineModelConfig model_config;
    int32_t max_active_paths;
    int32_t num_trailing_blanks;
    float keywords_score;
    float keywords_threshold;
    const char* keywords_file;
    const char* keywords_buf;
    int32_t keywords_buf_size;
};

struct SherpaOnnxKeywordResult {
    const char* keyword;  // never null; "" when nothing was detected
    const char* tokens;
    const char* const* tokens_arr;
    int32_t count;
    float* timestamps;
    float start_time;
    const char* json;
};

struct SherpaOnnxWave {
    const float* samples;
    int32_t sample_rate;
    int32_t num_samples;
};

struct SherpaOnnxKeywordSpotter;
struct SherpaOnnxOnlineStream;
struct SherpaOnnxDisplay;

SHERPA_ONNX_API const SherpaOnnxKeywordSpotter* SherpaOnnxCreateKeywordSpotter(
    const SherpaOnnxKeywordSpotterConfig* config);
SHERPA_ONNX_API void SherpaOnnxDestroyKeywordSpotter(const SherpaOnnxKeywordSpotter* spotter);
SHERPA_ONNX_API const SherpaOnnxOnlineStream* SherpaOnnxCreateKeywordStream(
    const SherpaOnnxKeywordSpotter* spotter);
SHERPA_ONNX_API void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream* stream,
                                                          int32_t sample_rate, const float* samples,
                                                          int32_t n);
SHERPA_ONNX_API int32_t SherpaOnnxIsKeywordStreamReady(const SherpaOnnxKeywordSpotter* spotter,
                                                       const SherpaOnnxOnlineStream* stream);
SHERPA_ONNX_API void SherpaOnnxDecodeKeywordStream(const SherpaOnnxKeywordSpotter* spotter,
                                                   const SherpaOnnxOnlineStream* stream);
SHERPA_ONNX_API const SherpaOnnxKeywordResult* SherpaOnnxGetKeywordResult(
    const SherpaOnnxKeywordSpotter* spotter, const SherpaOnnxOnlineStream* stream);
SHERPA_ONNX_API void SherpaOnnxDestroyKeywordResult(const SherpaOnnxKeywordResult* result);
SHERPA_ONNX_API void SherpaOnnxOnlineStreamInputFinished(const SherpaOnnxOnlineStream* stream);
SHERPA_ONNX_API void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* stream);
SHERPA_ONNX_API const SherpaOnnxWave* SherpaOnnxReadWaveFromBinaryData(const char* data, int32_t n);
SHERPA_ONNX_API void SherpaOnnxFreeWave(const SherpaOnnxWave* wave);
SHERPA_ONNX_API const SherpaOnnxDisplay* SherpaOnnxCreateDisplay(int32_t max_word_per_line);
SHERPA_ONNX_API void SherpaOnnxDestroyDisplay(const SherpaOnnxDisplay* display);

}  // extern "C"

// The layouts of the engine build we link (LP64 and LLP64 agree: pointers are 8 bytes).
static_assert(sizeof(void*) == 8, "the engine is only published for 64-bit targets");
static_assert(sizeof(SherpaOnnxFeatureConfig) == 8);
static_assert(sizeof(SherpaOnnxOnlineTransducerModelConfig) == 24);
static_assert(sizeof(SherpaOnnxOnlineModelConfig) == 136);
static_assert(offsetof(SherpaOnnxOnlineModelConfig, tokens_buf) == 104);
static_assert(offsetof(SherpaOnnxOnlineModelConfig, nemo_ctc) == 120);
static_assert(sizeof(SherpaOnnxKeywordSpotterConfig) == 184);
static_assert(offsetof(SherpaOnnxKeywordSpotterConfig, max_active_paths) == 144);
static_assert(offsetof(SherpaOnnxKeywordSpotterConfig, keywords_buf_size) == 176);
static_assert(sizeof(SherpaOnnxKeywordResult) == 56);
static_assert(offsetof(SherpaOnnxKeywordResult, json) == 48);
static_assert(sizeof(SherpaOnnxWave) == 16);
