#include "api/instance.h"

#include <exception>
#include <new>
#include <string>

#include "common/text_convert.h"
#include "log/logger.h"

namespace {

constexpr std::uint32_t kMaxModulePath = 260;

// Directory part of the module's path: everything before the last separator, or the whole path
// when there is none.
std::u16string DirectoryOf(const std::u16string& path) {
    const size_t separator = path.find_last_of(u"\\/");
    return separator == std::u16string::npos ? path : path.substr(0, separator);
}

}  // namespace

LibraryState& Library() {
    // Never destroyed by static destruction (see the header).
    alignas(LibraryState) static unsigned char storage[sizeof(LibraryState)];
    static LibraryState* const state = new (storage) LibraryState();
    return *state;
}

void ProcessAttach(platform::ModuleHandle module) {
    Library().module_handle = module;
    AttachTimeInit();
}

void AttachTimeInit() {
    LibraryState& library = Library();
    if (library.init_done) {
        return;
    }
    char16_t buffer[kMaxModulePath + 1] = {};
    platform::ModuleFileName(library.module_handle, buffer, kMaxModulePath);
    const std::string module_dir = WideToUtf8(DirectoryOf(buffer));
    Log(LogLevel::Info, "modulePath = ", module_dir);

    library.kelmor_obj = std::make_shared<kelmor>(module_dir);
    bool initialised = false;
    // The engine throws C++ exceptions out of its C interface (a corrupt model file); the host
    // process must survive a bad model, so such a load ends as a failed initialisation.
    try {
        initialised = library.kelmor_obj->init();
    } catch (const std::exception& e) {
        Log(LogLevel::Error, "kelmor_obj->init() exception: ", e.what());
    } catch (...) {
        Log(LogLevel::Error, "kelmor_obj->init() unknown exception");
    }
    if (!initialised) {
        Log(LogLevel::Error, "kelmor_obj->init() fail");
        library.kelmor_obj.reset();
    }
    library.init_done = true;
}

void ReleaseAtUnload() {
    Library().kelmor_obj.reset();
}
