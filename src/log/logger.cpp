#include "log/logger.h"

#include <iomanip>
#include <new>
#include <vector>

#include "platform/console.h"
#include "platform/text.h"

namespace {

constexpr const char* kLinePrefix = "[kelmor.dll] ";

struct ConsoleStyle {
    const char* tag;
    std::uint16_t attribute;
};

// Indexed by level; levels outside the four known ones borrow the nearest style.
constexpr ConsoleStyle kStyles[] = {
    {"][DEBUG] ", 8},   // dark grey
    {"][INFO] ", 10},   // green
    {"][WARN] ", 14},   // yellow
    {"][ERROR] ", 12},  // red
};
constexpr std::uint16_t kDefaultAttribute = 7;

const ConsoleStyle& StyleFor(std::int32_t level) {
    if (level < 0) {
        level = 0;
    }
    if (level > 3) {
        level = 3;
    }
    return kStyles[level];
}

std::string ConsoleTimestamp() {
    const std::int64_t now = platform::NowIn100nsSinceEpoch();
    const std::int64_t seconds = now / 10000000;
    const std::int64_t millis = (now / 10000) % 1000;
    std::ostringstream text;
    text << platform::FormatLocalTime(seconds) << '.' << std::setw(3) << std::setfill('0')
         << millis;
    return text.str();
}

}  // namespace

Logger& Logger::instance() {
    // Built in static storage and never destroyed: the sink must outlive every other static
    // object of the library, whatever order the platform tears them down in.
    alignas(Logger) static unsigned char storage[sizeof(Logger)];
    static Logger* const sink = new (storage) Logger();
    return *sink;
}

void Logger::set_callback(LogCallback new_callback, void* new_user_data) {
    std::lock_guard<std::mutex> lock(mutex);
    callback = new_callback;
    user_data = new_user_data;
}

void Logger::log(std::int32_t message_level, const std::string& message) {
    if (message_level < level.load(std::memory_order_relaxed)) {
        return;
    }
    const std::string line = kLinePrefix + message;
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (callback != nullptr) {
            callback(message_level, line.c_str(), user_data);
            return;
        }
    }
    if (platform::StandardOutputKind() != platform::StdOutput::Console) {
        platform::WriteDebugOutput(line + "\n");
        return;
    }
    const ConsoleStyle& style = StyleFor(message_level);
    const std::string timestamp = ConsoleTimestamp();
    platform::SetConsoleAttribute(style.attribute);
    platform::WriteConsoleLine("[" + timestamp + style.tag + Utf8ToAnsi(line));
    platform::SetConsoleAttribute(kDefaultAttribute);
}

std::string Utf8ToAnsi(const std::string& text) {
    if (text.empty()) {
        return text;
    }
    const int wide_size = platform::Utf8ToUtf16(text.c_str(), nullptr, 0);
    if (wide_size == 0) {
        return text;
    }
    std::vector<char16_t> wide(static_cast<size_t>(wide_size));
    platform::Utf8ToUtf16(text.c_str(), wide.data(), wide_size);
    const int narrow_size = platform::Utf16ToNarrow(wide.data(), nullptr, 0);
    if (narrow_size == 0) {
        return text;
    }
    std::string narrow(static_cast<size_t>(narrow_size), '\0');
    platform::Utf16ToNarrow(wide.data(), narrow.data(), narrow_size);
    if (!narrow.empty() && narrow.back() == '\0') {
        narrow.pop_back();
    }
    return narrow;
}
