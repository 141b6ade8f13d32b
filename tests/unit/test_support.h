// Shared fixture for unit tests: every fake, the log sink and the library state start afresh.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "fake_engine.h"
#include "fake_platform.h"
#include "fake_wave_input.h"

struct LoggedLine {
    std::int32_t level;
    std::string text;  // the line as delivered, "[kelmor.dll] " included
};

// Collects what the log sink delivers to a host callback, from any thread.
class LogCapture {
  public:
    void Install();  // registers the collecting callback with the sink
    void Add(std::int32_t level, const char* line);
    std::vector<LoggedLine> Lines() const;
    std::vector<std::string> Texts() const;  // messages without the "[kelmor.dll] " prefix
    bool Contains(const std::string& message) const;
    // Waits until `message` has been logged; false after `timeout`.
    bool WaitFor(const std::string& message,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<LoggedLine> lines_;
};

// A model folder that the engine object's init finds through the fake path layer: the module
// directory "C:\\app" resolves to a real temporary folder holding a container. The fake layer
// answers with Windows separators, so the container's file name there begins with a backslash.
class ModelFolder {
  public:
    ModelFolder();
    ~ModelFolder();
    ModelFolder(const ModelFolder&) = delete;
    ModelFolder& operator=(const ModelFolder&) = delete;

    // Writes a container of the two texts where init looks for it.
    void WriteContainer(const std::string& tokens, const std::string& keywords);

    static constexpr const char* kModuleDir = "C:\\app";
    std::string root;         // the root path init resolves, with its trailing separator
    std::string config_path;  // where init reads the container

  private:
    std::string temp_dir_;
};

class KelmorTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    LogCapture log;
};

std::string Message(const LoggedLine& line);

// A fresh folder with a unique name beginning with `prefix` in the system's temporary directory.
std::filesystem::path MakeTempDir(const std::string& prefix);

// A path that opens for reading but cannot seek (the read end of a pipe), valid while the object
// lives; empty where the platform has no such path.
class UnseekableFile {
  public:
    UnseekableFile();
    ~UnseekableFile();
    UnseekableFile(const UnseekableFile&) = delete;
    UnseekableFile& operator=(const UnseekableFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    int fds_[2] = {-1, -1};
    std::string path_;
};

// While it lives, starting a new thread fails, where the platform lets a test arrange that
// (active() tells).
class ThreadStartBlocker {
  public:
    ThreadStartBlocker();
    ~ThreadStartBlocker();
    ThreadStartBlocker(const ThreadStartBlocker&) = delete;
    ThreadStartBlocker& operator=(const ThreadStartBlocker&) = delete;
    bool active() const { return active_; }

  private:
    bool active_ = false;
    std::size_t saved_stack_ = 0;
};
