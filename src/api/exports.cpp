// The six functions a host calls. They catch nothing: what the standard library throws passes to
// the caller.
#include "api/instance.h"
#include "kelmor.h"
#include "log/logger.h"

KELMOR_API void OpenListenVoice() {
    if (auto& engine = Library().kelmor_obj) {
        engine->open_listen_voice();
    } else {
        Log(LogLevel::Error, "OpenListenVoice failed: kelmor not initialized");
    }
}

KELMOR_API void CloseListenVoice() {
    if (auto& engine = Library().kelmor_obj) {
        engine->close_listen_voice();
    }
}

KELMOR_API void RegOnKelmor(WakeCallback callback) {
    if (auto& engine = Library().kelmor_obj) {
        engine->set_wake_callback(callback);
    }
    Log(LogLevel::Debug, "Kelmor handler registered");
}

KELMOR_API void SetKelmorLogCallback(LogCallback callback, void* user_data) {
    Logger::instance().set_callback(callback, user_data);
    Log(LogLevel::Debug, "Log callback set");
}

KELMOR_API void SetKelmorLogLevel(std::int32_t level) {
    Logger::instance().level.store(level, std::memory_order_relaxed);
    Log(LogLevel::Debug, "Log level set to ", level);
}

KELMOR_API void UninitKelmor() {
    auto& engine = Library().kelmor_obj;
    if (!engine) {
        return;
    }
    engine->close_listen_voice();
    engine.reset();
    Log(LogLevel::Info, "kelmor uninit success");
}
