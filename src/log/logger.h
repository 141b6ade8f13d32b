// The process-wide log sink. Every diagnostic line of the library goes through Logger::log,
// which filters by level and delivers the line to exactly one destination: the host's log
// callback, else the console, else the debug output.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>

#include "kelmor.h"

class Logger {
  public:
    // The one sink; created on first use and never destroyed, so that lines logged while the
    // library is unloaded (the engine object's teardown) are still delivered.
    static Logger& instance();

    void log(std::int32_t level, const std::string& message);
    void set_callback(LogCallback callback, void* user_data);

    // Minimum level delivered. Written by SetKelmorLogLevel without the mutex and without a
    // range check; atomic only so that a change on one thread is a well-defined read on others.
    std::atomic<std::int32_t> level{static_cast<std::int32_t>(LogLevel::Debug)};

  private:
    Logger() = default;

    LogCallback callback = nullptr;
    void* user_data = nullptr;
    std::mutex mutex;
};

// Builds a message from its parts with a string stream (numbers in decimal) and logs it.
template <typename... Parts>
void Log(LogLevel level, Parts&&... parts) {
    std::ostringstream text;
    (text << ... << std::forward<Parts>(parts));
    Logger::instance().log(static_cast<std::int32_t>(level), text.str());
}

// UTF-8 text in the platform's narrow encoding (the ANSI code page on Windows). Falls back to the
// input when a conversion fails.
std::string Utf8ToAnsi(const std::string& text);
