// Small readings shared by tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace measure {

// Resident memory of process `pid` (this process by default) in KiB, -1 when unknown.
inline long ResidentKib(pid_t pid = 0) {
    std::ifstream status(pid == 0 ? std::string("/proc/self/status")
                                  : "/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long value = 0;
            status >> value;
            return value;
        }
    }
    return -1;
}

// Little-endian fields of a byte image.
inline std::uint16_t Le16(const char* p) {
    std::uint16_t value;
    std::memcpy(&value, p, 2);
    return value;
}

inline std::uint32_t Le32(const char* p) {
    std::uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

}  // namespace measure
