#include "win32_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "log/logger.h"

namespace win32_test {

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string U16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

std::string Utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
    out.resize(out.size() - 1);
    return out;
}

bool IsAscii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            return false;
        }
    }
    return true;
}

std::wstring ProgramFolder() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), 32768);
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/"));
}

TempFolder::TempFolder(const std::wstring& prefix) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    for (;;) {
        path_ = std::wstring(temp) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter++);
        if (CreateDirectoryW(path_.c_str(), nullptr) != 0) {
            return;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path_), ignored);
}

namespace {

bool GetVariable(const wchar_t* name, std::wstring* value) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    if (length == 0 || length >= 32768) {
        return false;
    }
    value->assign(buffer, length);
    return true;
}

}  // namespace

PrivateTemp::PrivateTemp() : folder_(L"kelmor-tmp") {
    had_tmp_ = GetVariable(L"TMP", &old_tmp_);
    had_temp_ = GetVariable(L"TEMP", &old_temp_);
    SetEnvironmentVariableW(L"TMP", folder_.path().c_str());
    SetEnvironmentVariableW(L"TEMP", folder_.path().c_str());
}

PrivateTemp::~PrivateTemp() {
    SetEnvironmentVariableW(L"TMP", had_tmp_ ? old_tmp_.c_str() : nullptr);
    SetEnvironmentVariableW(L"TEMP", had_temp_ ? old_temp_.c_str() : nullptr);
}

StdOutputAsPipe::StdOutputAsPipe() : saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    CreatePipe(&read_, &write_, nullptr, 1 << 16);
    SetStdHandle(STD_OUTPUT_HANDLE, write_);
}

StdOutputAsPipe::~StdOutputAsPipe() {
    SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    CloseHandle(write_);
    CloseHandle(read_);
}

namespace {

std::mutex g_debug_mutex;
std::vector<std::string> g_debug_texts;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
        const auto length = static_cast<size_t>(record->ExceptionInformation[0]);
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        std::lock_guard<std::mutex> lock(g_debug_mutex);
        // The length counts the terminator.
        g_debug_texts.emplace_back(text, length > 0 ? length - 1 : 0);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

DebugOutputCapture::DebugOutputCapture() {
    {
        std::lock_guard<std::mutex> lock(g_debug_mutex);
        g_debug_texts.clear();
    }
    handler_ = AddVectoredExceptionHandler(1, OnException);
}

DebugOutputCapture::~DebugOutputCapture() {
    RemoveVectoredExceptionHandler(handler_);
}

std::vector<std::string> DebugOutputCapture::Texts() const {
    std::lock_guard<std::mutex> lock(g_debug_mutex);
    return g_debug_texts;
}

LogLines::LogLines() {
    Logger::instance().set_callback(Collect, this);
}

LogLines::~LogLines() {
    Logger::instance().set_callback(nullptr, nullptr);
}

void LogLines::Collect(std::int32_t, const char* line, void* user_data) {
    auto* self = static_cast<LogLines*>(user_data);
    const std::string prefix = "[kelmor.dll] ";
    std::string text = line;
    if (text.compare(0, prefix.size(), prefix) == 0) {
        text.erase(0, prefix.size());
    }
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->messages_.push_back(text);
}

std::vector<std::string> LogLines::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int RunProcess(const std::wstring& command_line, std::string* output) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (CreatePipe(&read, &write, &inherit, 0) == 0) {
        return -1;
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write;
    startup.hStdError = write;
    PROCESS_INFORMATION process{};
    std::wstring line = command_line;
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(write);
    if (started == 0) {
        CloseHandle(read);
        return -1;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) {
        output->append(buffer, got);
    }
    CloseHandle(read);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace win32_test
