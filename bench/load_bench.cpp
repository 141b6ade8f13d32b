// Load time and memory of the library with the real model: each run loads it in a fresh child
// process (as a host starting up would) and reports the time dlopen took, which includes the
// whole initialisation, and the process's resident memory after it.
//
// Usage: kelmor-load-bench [RUNS] [LIBRARY]
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include "measure.h"

#include "bench_summary.h"

namespace {

struct Sample {
    double load_ms;
    long rss_kib;       // resident now, after the load
    long peak_rss_kib;  // the child's high-water mark
};

bool RunOnce(const std::string& library, Sample* sample) {
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        // The library's lines are not part of the measurement.
        freopen("/dev/null", "w", stderr);
        const auto start = std::chrono::steady_clock::now();
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        const auto end = std::chrono::steady_clock::now();
        Sample s{std::chrono::duration<double, std::milli>(end - start).count(),
                 measure::ResidentKib(), 0};
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        s.peak_rss_kib = usage.ru_maxrss;
        const ssize_t written = write(fds[1], &s, sizeof s);
        _exit(handle != nullptr && written == sizeof s ? 0 : 1);
    }
    close(fds[1]);
    const ssize_t got = read(fds[0], sample, sizeof *sample);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return got == sizeof *sample && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    const std::string library = argc > 2 ? argv[2] : KELMOR_LIBRARY_PATH;
    std::vector<double> load_ms;
    std::vector<long> rss, peak;
    for (int i = 0; i < runs; ++i) {
        Sample s{};
        if (!RunOnce(library, &s)) {
            std::fprintf(stderr, "kelmor-load-bench: run %d failed to load %s\n", i,
                         library.c_str());
            return 1;
        }
        load_ms.push_back(s.load_ms);
        rss.push_back(s.rss_kib);
        peak.push_back(s.peak_rss_kib);
    }
    std::sort(load_ms.begin(), load_ms.end());
    std::printf("library load with the model, %d runs (fresh process each)\n", runs);
    std::printf("  load time   median %.1f ms   min %.1f ms   max %.1f ms\n", Median(load_ms),
                load_ms.front(), load_ms.back());
    std::printf("  resident    median %.1f MiB after load, peak %.1f MiB\n", Median(rss) / 1024.0,
                Median(peak) / 1024.0);
    bench::Summary("load_ms", Median(load_ms));
    bench::Summary("load_ms_min", load_ms.front());
    bench::Summary("load_ms_max", load_ms.back());
    bench::Summary("rss_after_load_mib", Median(rss) / 1024.0);
    bench::Summary("rss_peak_load_mib", Median(peak) / 1024.0);
    return 0;
}
