// Linux: the library's own path.
#include "platform/module.h"

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "platform/text.h"

namespace platform {

std::uint32_t ModuleFileName(ModuleHandle module, char16_t* buffer, std::uint32_t capacity) {
    Dl_info info{};
    if (capacity == 0 || dladdr(module, &info) == 0 || info.dli_fname == nullptr) {
        return 0;
    }
    const int needed = Utf8ToUtf16(info.dli_fname, nullptr, 0);
    if (needed <= 1) {
        return 0;
    }
    // Cut a longer path to the buffer, as GetModuleFileNameW does.
    std::u16string wide(static_cast<size_t>(needed), u'\0');
    Utf8ToUtf16(info.dli_fname, wide.data(), needed);
    wide.resize(static_cast<size_t>(needed) - 1);
    const std::uint32_t length =
        static_cast<std::uint32_t>(wide.size() < capacity ? wide.size() : capacity);
    std::memcpy(buffer, wide.data(), length * sizeof(char16_t));
    if (length < capacity) {
        buffer[length] = u'\0';
    }
    return length;
}

}  // namespace platform
