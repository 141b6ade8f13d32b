// Control of the fake wave-input device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave_input.h"

namespace fake {

struct WaveState {
    std::uint32_t device_count = 0;
    bool fail_create_event = false;
    std::uint32_t last_error = 0;
    std::uint32_t open_result = 0;
    std::vector<std::string> calls;  // platform calls in order
};
WaveState& Wave();

}  // namespace fake
