// Starting and stopping listening, and delivering detections to the host.
#include <exception>
#include <system_error>

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
    try {
        worker = std::thread(&kelmor::mainLoop, this);
    } catch (const std::system_error& e) {
        // The exports catch nothing and return nothing: a rethrow would carry a C++ exception
        // into a host that only expects log lines. Undo to the stopped state instead.
        Log(LogLevel::Error, "open_listen_voice: failed to start worker thread: ", e.what());
        running.exchange(false);
        close_capture_device();
        return;
    }
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
        // The worker may be waiting for the next buffer; it leaves as soon as its wait ends.
        platform::InterruptCaptureWaits();
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
