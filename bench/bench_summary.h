// Figures for scripts/bench.sh, which compares them with the targets.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace bench {

// Appends "key value" to the file named by KELMOR_BENCH_SUMMARY, if that is set.
inline void Summary(const char* key, double value) {
    const char* path = std::getenv("KELMOR_BENCH_SUMMARY");
    if (path == nullptr || *path == '\0') {
        return;
    }
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %.6g\n", key, value);
        std::fclose(f);
    }
}

}  // namespace bench
