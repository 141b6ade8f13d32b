#include <algorithm>
#include <cstring>

#include "fake_platform.h"
#include "platform/module.h"

namespace fake {

ModuleState& Module() {
    static ModuleState state;
    return state;
}

}  // namespace fake

namespace platform {

std::uint32_t ModuleFileName(ModuleHandle module, char16_t* buffer, std::uint32_t capacity) {
    fake::Module().queried_handles.push_back(module);
    const std::u16string& path = fake::Module().file_name;
    const auto length =
        static_cast<std::uint32_t>(std::min<size_t>(path.size(), static_cast<size_t>(capacity)));
    std::memcpy(buffer, path.data(), length * sizeof(char16_t));
    return length;
}

}  // namespace platform
