// Windows: the library's own path.
#include "platform/module.h"

#include "windows_headers.h"

namespace platform {

std::uint32_t ModuleFileName(ModuleHandle module, char16_t* buffer, std::uint32_t capacity) {
    HMODULE handle = static_cast<HMODULE>(const_cast<void*>(module));
    return GetModuleFileNameW(handle, reinterpret_cast<wchar_t*>(buffer), capacity);
}

}  // namespace platform
