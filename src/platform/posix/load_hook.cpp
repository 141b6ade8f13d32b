// Linux: the library's load-time hooks. Linked into the shared library only, so that programs
// linking the platform layer statically (tests, tools) do not initialise an engine at start-up.
#include "api/instance.h"
#include "platform/module.h"

namespace {

// Any address inside this library identifies it to dladdr.
__attribute__((constructor)) void OnLibraryLoad() {
    ProcessAttach(reinterpret_cast<platform::ModuleHandle>(&OnLibraryLoad));
}

__attribute__((destructor)) void OnLibraryUnload() {
    ReleaseAtUnload();
}

}  // namespace
