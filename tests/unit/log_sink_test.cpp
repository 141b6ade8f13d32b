#include <atomic>
#include <stdexcept>
#include <thread>

#include "kelmor.h"
#include "log/logger.h"
#include "test_support.h"

namespace {

using fake::ConsoleEvent;

class LogSinkTest : public KelmorTest {};

void LogAt(std::int32_t level, const std::string& message) {
    Logger::instance().log(level, message);
}

TEST_F(LogSinkTest, LevelFilterIsASignedComparisonAgainstTheMinimum) {
    struct Case {
        std::int32_t minimum;
        std::int32_t level;
        bool delivered;
    };
    const Case cases[] = {
        {0, 0, true}, {0, 3, true},  {1, 0, false},   {1, 1, true},  {2, 1, false},  {3, 2, false},
        {3, 3, true}, {4, 3, false}, {100, 3, false}, {-1, 0, true}, {-5, -3, true},
    };
    log.Install();
    for (const Case& c : cases) {
        log.Clear();
        Logger::instance().level = c.minimum;
        LogAt(c.level, "probe");
        EXPECT_EQ(log.Lines().size(), c.delivered ? 1u : 0u)
            << "minimum " << c.minimum << ", level " << c.level;
    }
}

TEST_F(LogSinkTest, CallbackGetsLevelPrefixedUtf8LineAndUserData) {
    struct Seen {
        std::int32_t level = -1;
        std::string line;
        void* user_data = nullptr;
    } seen;
    Logger::instance().set_callback(
        [](std::int32_t level, const char* line, void* user_data) {
            auto* s = static_cast<Seen*>(user_data);
            s->level = level;
            s->line = line;
            s->user_data = user_data;
        },
        &seen);

    Log(LogLevel::Info, "value ", 42, " and ", -7u);
    EXPECT_EQ(seen.level, 1);
    EXPECT_EQ(seen.line, "[kelmor.dll] value 42 and 4294967289");
    EXPECT_EQ(seen.user_data, &seen);

    LogAt(3, "");
    EXPECT_EQ(seen.line, "[kelmor.dll] ");

    fake::Text().ascii_code_page = true;  // the callback is never converted
    LogAt(2, "caf\xC3\xA9 \xE6\x97\xA5");
    EXPECT_EQ(seen.line, "[kelmor.dll] caf\xC3\xA9 \xE6\x97\xA5");
    EXPECT_TRUE(fake::Console().debug_output.empty());
    EXPECT_TRUE(fake::Console().console.empty());
}

TEST_F(LogSinkTest, WithoutCallbackLinesGoToDebugOutputUnlessStdoutIsAConsole) {
    for (auto kind : {platform::StdOutput::Missing, platform::StdOutput::NotConsole}) {
        fake::ResetPlatform();
        fake::Console().std_output = kind;
        fake::Text().ascii_code_page = true;
        LogAt(0, "caf\xC3\xA9");
        ASSERT_EQ(fake::Console().debug_output.size(), 1u);
        EXPECT_EQ(fake::Console().debug_output[0], "[kelmor.dll] caf\xC3\xA9\n");
        EXPECT_TRUE(fake::Console().console.empty());
    }
}

TEST_F(LogSinkTest, ConsoleLineHasTimestampTagColourAndReset) {
    struct Case {
        std::int32_t level;
        std::uint16_t attribute;
        const char* tag;
    };
    const Case cases[] = {
        {0, 8, "][DEBUG] "}, {1, 10, "][INFO] "}, {2, 14, "][WARN] "}, {3, 12, "][ERROR] "}};
    for (const Case& c : cases) {
        fake::ResetPlatform();
        fake::Console().std_output = platform::StdOutput::Console;
        // 09:05:03.042 UTC (the fake formats local time as UTC), plus 0.9 ms that is truncated.
        fake::Console().now_100ns = (9 * 3600 + 5 * 60 + 3) * 10000000LL + 420000 + 9999;
        LogAt(c.level, "hello");
        const auto& events = fake::Console().console;
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[0].kind, ConsoleEvent::Attribute);
        EXPECT_EQ(events[0].attribute, c.attribute);
        EXPECT_EQ(events[1].kind, ConsoleEvent::Line);
        EXPECT_EQ(events[1].text, std::string("[09:05:03.042") + c.tag + "[kelmor.dll] hello");
        EXPECT_EQ(events[2].kind, ConsoleEvent::Attribute);
        EXPECT_EQ(events[2].attribute, 7);
        EXPECT_TRUE(fake::Console().debug_output.empty());
    }
}

TEST_F(LogSinkTest, ConsoleGetsNarrowEncodingAndFallsBackToUtf8WhenConversionFails) {
    fake::Console().std_output = platform::StdOutput::Console;
    fake::Text().ascii_code_page = true;
    LogAt(1, "caf\xC3\xA9");
    EXPECT_EQ(fake::Console().console.at(1).text, "[00:00:00.000][INFO] [kelmor.dll] caf?");

    fake::Console().console.clear();
    fake::Text().fail_utf16_to_narrow = true;
    LogAt(1, "caf\xC3\xA9");
    EXPECT_EQ(fake::Console().console.at(1).text, "[00:00:00.000][INFO] [kelmor.dll] caf\xC3\xA9");

    EXPECT_EQ(Utf8ToAnsi(""), "");
    fake::Text().fail_utf16_to_narrow = false;
    fake::Text().fail_utf8_to_utf16 = true;
    EXPECT_EQ(Utf8ToAnsi("caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST_F(LogSinkTest, NullCallbackRoutesBackToDebugOutput) {
    log.Install();
    LogAt(1, "to host");
    Logger::instance().set_callback(nullptr, nullptr);
    LogAt(1, "to debug output");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(Message(log.Lines()[0]), "to host");
    ASSERT_EQ(fake::Console().debug_output.size(), 1u);
    EXPECT_EQ(fake::Console().debug_output[0], "[kelmor.dll] to debug output\n");
}

TEST_F(LogSinkTest, ExportsConfirmChangesThroughTheSink) {
    SetKelmorLogCallback(
        [](std::int32_t level, const char* line, void* user_data) {
            static_cast<LogCapture*>(user_data)->Add(level, line);
        },
        &log);
    ASSERT_EQ(log.Lines().size(), 1u);  // the new callback hears its own confirmation
    EXPECT_EQ(log.Lines()[0].level, 0);
    EXPECT_EQ(Message(log.Lines()[0]), "Log callback set");

    SetKelmorLogLevel(0);
    EXPECT_EQ(Message(log.Lines().back()), "Log level set to 0");
    log.Clear();
    SetKelmorLogLevel(1);  // its Debug confirmation is filtered by the new level
    EXPECT_TRUE(log.Lines().empty());
    SetKelmorLogLevel(-2);
    EXPECT_EQ(Message(log.Lines().back()), "Log level set to -2");

    SetKelmorLogCallback(nullptr, nullptr);
    EXPECT_EQ(fake::Console().debug_output.back(), "[kelmor.dll] Log callback set\n");
}

TEST_F(LogSinkTest, ExceptionFromCallbackReachesTheCallerAndReleasesTheLock) {
    Logger::instance().set_callback(
        [](std::int32_t, const char*, void*) { throw std::runtime_error("host failed"); }, nullptr);
    EXPECT_THROW(LogAt(1, "x"), std::runtime_error);
    // The lock was released: changing the callback and logging again works.
    log.Install();
    LogAt(1, "after");
    ASSERT_EQ(log.Lines().size(), 1u);
}

TEST_F(LogSinkTest, CallbackCallsAreSerialisedAcrossThreads) {
    static std::atomic<int> inside{0};
    static std::atomic<int> overlaps{0};
    static std::atomic<int> calls{0};
    Logger::instance().set_callback(
        [](std::int32_t, const char*, void*) {
            if (inside.fetch_add(1) != 0) {
                ++overlaps;
            }
            std::this_thread::yield();
            ++calls;
            inside.fetch_sub(1);
        },
        nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                Log(LogLevel::Info, "line ", i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(calls.load(), 2000);
    EXPECT_EQ(overlaps.load(), 0);
}

}  // namespace
