#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "api/instance.h"
#include "fake_paths.h"
#include "log/logger.h"
#include "pack.h"

namespace {

constexpr const char* kPrefix = "[kelmor.dll] ";

void Collect(std::int32_t level, const char* line, void* user_data) {
    static_cast<LogCapture*>(user_data)->Add(level, line);
}

void ResetLibrary() {
    Logger::instance().set_callback(nullptr, nullptr);
    Logger::instance().level = 0;
    LibraryState& library = Library();
    library.kelmor_obj.reset();
    library.init_done = false;
    library.module_handle = nullptr;
    fake::ResetPlatform();
    fake::ResetEngine();
}

}  // namespace

std::string Message(const LoggedLine& line) {
    const std::string prefix = kPrefix;
    return line.text.compare(0, prefix.size(), prefix) == 0 ? line.text.substr(prefix.size())
                                                            : line.text;
}

void LogCapture::Install() {
    Logger::instance().set_callback(Collect, this);
}

void LogCapture::Add(std::int32_t level, const char* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({level, line});
}

std::vector<LoggedLine> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

bool LogCapture::WaitFor(const std::string& message, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Contains(message)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<std::string> LogCapture::Texts() const {
    std::vector<std::string> texts;
    for (const LoggedLine& line : Lines()) {
        texts.push_back(Message(line));
    }
    return texts;
}

bool LogCapture::Contains(const std::string& message) const {
    const auto texts = Texts();
    return std::find(texts.begin(), texts.end(), message) != texts.end();
}

ModelFolder::ModelFolder() {
    temp_dir_ = MakeTempDir("kelmor-model").string();
    const std::string short_form = temp_dir_ + "/sherpa-onnx";
    // Where the backslash is a separator, the container lies inside this folder.
    std::filesystem::create_directory(short_form);
    fake::Paths().short_names[u"C:\\app\\sherpa-onnx"] =
        std::u16string(short_form.begin(), short_form.end());
    root = short_form + "\\";
    config_path = root + "kelmor_config.bin";
}

ModelFolder::~ModelFolder() {
    std::filesystem::remove_all(temp_dir_);
}

void ModelFolder::WriteContainer(const std::string& tokens, const std::string& keywords) {
    const std::uint8_t iv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<std::uint8_t> container;
    std::string reason;
    ASSERT_TRUE(BuildContainer(tokens, keywords, iv, &container, &reason)) << reason;
    std::ofstream(config_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(container.data()),
               static_cast<std::streamsize>(container.size()));
}

std::filesystem::path MakeTempDir(const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        const std::string name =
            prefix + "-" + std::to_string(random()) + "-" + std::to_string(counter++);
        if (std::filesystem::create_directory(base / name)) {
            return base / name;
        }
    }
}

void KelmorTest::SetUp() {
    ResetLibrary();
    log.Clear();
}

void KelmorTest::TearDown() {
    ResetLibrary();
}
