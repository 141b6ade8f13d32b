// kelmor-listen: a host that loads the Kelmor library, prints its log lines and a WAKE line for
// each detection, and listens until interrupted or for a given time.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "kelmor.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kUsage =
    "usage: kelmor-listen [--library PATH] [--seconds N] [--log-level N]\n"
    "\n"
    "Loads the Kelmor library (by default the one beside this program), listens to the default\n"
    "microphone and prints a line 'WAKE <count> <seconds since start>' for each keyword heard.\n"
    "Log lines go to standard error as '<LEVEL> <line>'. Stops on Ctrl-C or SIGTERM, or after\n"
    "--seconds N.\n"
    "\n"
    "  --library PATH   the library to load\n"
    "  --seconds N      stop after listening for N seconds (default: until interrupted)\n"
    "  --log-level N    minimum log level: 0 debug, 1 info, 2 warn, 3 error (default 1)\n";

std::atomic<bool> g_stop{false};
std::mutex g_print_mutex;
const auto g_start = std::chrono::steady_clock::now();

extern "C" void OnSignal(int) {
    g_stop = true;
}

const char* LevelName(std::int32_t level) {
    switch (level) {
        case 0:
            return "DEBUG";
        case 1:
            return "INFO";
        case 2:
            return "WARN";
        case 3:
            return "ERROR";
        default:
            return "LOG";
    }
}

void PrintLog(std::int32_t level, const char* line, void*) {
    std::lock_guard<std::mutex> lock(g_print_mutex);
    std::fprintf(stderr, "%s %s\n", LevelName(level), line);
    std::fflush(stderr);
}

double SecondsSinceStart() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
}

#if defined(_WIN32)
using LibraryHandle = HMODULE;
// Wide calls, so that a folder the ANSI code page cannot spell still loads.
std::wstring Widen(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}
std::string DefaultLibraryPath() {
    return std::string();  // empty: kelmor.dll beside this program, found in OpenLibrary
}
LibraryHandle OpenLibrary(const std::string& path) {
    if (!path.empty()) {
        return LoadLibraryW(Widen(path).c_str());
    }
    wchar_t exe[32768] = {};
    const DWORD length = GetModuleFileNameW(nullptr, exe, 32768);
    std::wstring dir(exe, length < 32768 ? length : 0);
    const size_t slash = dir.find_last_of(L"\\/");
    dir = slash == std::wstring::npos ? std::wstring(L".") : dir.substr(0, slash);
    return LoadLibraryW((dir + L"\\kelmor.dll").c_str());
}
void* Symbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
std::string LoadError() {
    return "error " + std::to_string(GetLastError());
}
#else
using LibraryHandle = void*;
std::string DefaultLibraryPath() {
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string dir = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
    const size_t slash = dir.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : dir.substr(0, slash)) + "/libkelmor.so";
}
LibraryHandle OpenLibrary(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW);
}
void* Symbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}
std::string LoadError() {
    const char* error = dlerror();
    return error != nullptr ? error : "unknown error";
}
#endif

template <typename Fn>
Fn Lookup(LibraryHandle library, const char* name) {
    void* symbol = Symbol(library, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "kelmor-listen: the library does not export %s\n", name);
        std::exit(1);
    }
    return reinterpret_cast<Fn>(symbol);
}

bool ParseInt(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    std::string library_path;
    long seconds = -1;
    long log_level = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--library" && has_value) {
            library_path = argv[++i];
        } else if (arg == "--seconds" && has_value && ParseInt(argv[i + 1], seconds) &&
                   seconds >= 0) {
            ++i;
        } else if (arg == "--log-level" && has_value && ParseInt(argv[i + 1], log_level)) {
            ++i;
        } else {
            std::fprintf(stderr, "kelmor-listen: bad argument: %s\n\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (library_path.empty()) {
        library_path = DefaultLibraryPath();
    }
    const std::string library_name = library_path.empty() ? "kelmor.dll" : library_path;

    // The library initialises itself while it loads; its load-time lines go to the console or
    // standard error, since no log callback can be set before that.
    LibraryHandle library = OpenLibrary(library_path);
    if (library == nullptr) {
        std::fprintf(stderr, "kelmor-listen: cannot load %s: %s\n", library_name.c_str(),
                     LoadError().c_str());
        return 1;
    }
    auto set_log_callback = Lookup<void (*)(LogCallback, void*)>(library, "SetKelmorLogCallback");
    auto set_log_level = Lookup<void (*)(std::int32_t)>(library, "SetKelmorLogLevel");
    auto register_wake = Lookup<void (*)(WakeCallback)>(library, "RegOnKelmor");
    auto open_listen = Lookup<void (*)()>(library, "OpenListenVoice");
    auto close_listen = Lookup<void (*)()>(library, "CloseListenVoice");
    auto uninit = Lookup<void (*)()>(library, "UninitKelmor");

    set_log_level(static_cast<std::int32_t>(log_level));
    set_log_callback(PrintLog, nullptr);

    std::atomic<long> wakes{0};
    register_wake([&wakes] {
        const long count = ++wakes;
        std::lock_guard<std::mutex> lock(g_print_mutex);
        std::printf("WAKE %ld %.3f\n", count, SecondsSinceStart());
        std::fflush(stdout);
    });

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    open_listen();
    // --seconds counts listening time, not the time the library took to load.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(seconds < 0 ? 0 : seconds);
    while (!g_stop && (seconds < 0 || std::chrono::steady_clock::now() < deadline)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    close_listen();
    uninit();
    set_log_callback(nullptr, nullptr);
    // The library stays loaded until the process exits: the engine it loads does not give back
    // all of its memory when unloaded, and there is nothing left to run.
    return 0;
}
