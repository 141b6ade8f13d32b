// Starting and stopping listening, and delivering detections to the host.
#include <exception>

#include "engine/engine_object.h"
#include "log/logger.h"

void kelmor::open_listen_voice() {
    stop_worker();
    close_capture_device();
    device_invalid.exchange(false);
    if (!open_capture_device()) {
        Log(LogLevel::Error, "open_listen_voice: failed to open waveIn device");
        return;
    }
    running.exchange(true);
    worker = std::thread(&kelmor::mainLoop, this);
    Log(LogLevel::Info, "Start listening for kelmor keywords");
}

void kelmor::close_listen_voice() {
    stop_worker();
    close_capture_device();
    Log(LogLevel::Info, "Stop listening for kelmor");
}

void kelmor::stop_worker() {
    running.exchange(false);
    if (worker.joinable()) {
        worker.join();
    }
}

void kelmor::dispatch_wake() {
    if (!wake_callback) {
        return;
    }
    try {
        wake_callback();
    } catch (const std::exception& e) {
        Log(LogLevel::Error, "kelmor callback exception: ", e.what());
    } catch (...) {
        Log(LogLevel::Error, "kelmor callback unknown exception");
    }
}
