// The worker thread's loop. Placeholder until the listening loop lands: it only waits for the
// stop request.
#include <chrono>
#include <thread>

#include "engine/engine_object.h"
#include "log/logger.h"

void kelmor::mainLoop() {
    Log(LogLevel::Debug, "mainLoop thread started");
    while (running.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Log(LogLevel::Debug, "mainLoop thread stopped");
}
