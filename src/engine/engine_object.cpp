#include "engine/engine_object.h"

#include <utility>

#include "log/logger.h"

kelmor::kelmor(std::string modelPath) : model_path(std::move(modelPath)) {
    Log(LogLevel::Debug, "kelmor constructor, modelPath: ", model_path);
}

kelmor::~kelmor() {
    Log(LogLevel::Debug, "kelmor destructor");
    stop_worker();
    close_capture_device();
    // The stream goes before the spotter that made it.
    if (display != nullptr) {
        SherpaOnnxDestroyDisplay(display);
        display = nullptr;
    }
    if (stream != nullptr) {
        SherpaOnnxDestroyOnlineStream(stream);
        stream = nullptr;
    }
    if (spotter != nullptr) {
        SherpaOnnxDestroyKeywordSpotter(spotter);
        spotter = nullptr;
    }
    Log(LogLevel::Info, "kelmor resources released");
}

void kelmor::set_wake_callback(WakeCallback callback) {
    wake_callback = callback;
}
