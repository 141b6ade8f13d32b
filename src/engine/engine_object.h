// The engine object: everything listening needs, one instance per process (see api/instance.h).
// Its member functions live with the subsystem that owns them:
//   engine/engine_object.cpp             construction, destruction, set_wake_callback
//   engine/spotter_init.cpp       init
//   audio/capture_device.cpp      open_capture_device, close_capture_device, reopen_capture_device
//   audio/listening_loop.cpp      mainLoop
//   audio/listening_control.cpp   open_listen_voice, close_listen_voice, stop_worker, dispatch_wake
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "engine/model_files.h"
#include "engine/sherpa_onnx.h"
#include "kelmor.h"
#include "platform/wave_input.h"

class kelmor {
  public:
    static constexpr int kCaptureBufferCount = 4;
    static constexpr std::uint32_t kCaptureBufferBytes = 3200;  // 100 ms of 16 kHz 16-bit mono

    explicit kelmor(std::string modelPath);
    ~kelmor();
    kelmor(const kelmor&) = delete;
    kelmor& operator=(const kelmor&) = delete;

    void set_wake_callback(WakeCallback callback);

    bool init();

    bool open_capture_device();
    void close_capture_device();
    bool reopen_capture_device();

    void mainLoop();

    void open_listen_voice();
    void close_listen_voice();
    void stop_worker();
    void dispatch_wake();

    // Fields, in declaration order. Public: the subsystems and their tests reach them directly.
    WakeCallback wake_callback;
    std::string model_path;
    std::string encoder_path;
    std::string decoder_path;
    std::string joiner_path;
    platform::WaveInHandle wave_in = nullptr;
    platform::EventHandle capture_event = nullptr;
    std::thread worker;
    std::int32_t quiet_samples = 0;
    std::atomic<bool> running{false};
    bool keyword_latched = false;
    std::atomic<bool> device_invalid{false};
    SherpaOnnxOnlineTransducerModelConfig transducer_config{};
    SherpaOnnxOnlineModelConfig model_config{};
    SherpaOnnxKeywordSpotterConfig spotter_config{};
    const SherpaOnnxKeywordSpotter* spotter = nullptr;
    const SherpaOnnxOnlineStream* stream = nullptr;
    const SherpaOnnxDisplay* display = nullptr;
    float energy_threshold = 0.01f;
    std::int32_t sample_rate = 16000;
    std::array<platform::WaveHeader, kCaptureBufferCount> headers{};
    std::array<std::array<char, kCaptureBufferBytes>, kCaptureBufferCount> buffers{};
    std::string encoder_file = model_files::kEncoder;
    std::string decoder_file = model_files::kDecoder;
    std::string joiner_file = model_files::kJoiner;
    const char* provider = "cpu";
    std::string config_file = model_files::kConfig;
};
