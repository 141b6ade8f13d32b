// Process-wide state of the library and the initialisation that runs while it is loaded.
#pragma once

#include <memory>

#include "engine/engine_object.h"
#include "platform/module.h"

struct LibraryState {
    platform::ModuleHandle module_handle = nullptr;
    bool init_done = false;
    std::shared_ptr<kelmor> kelmor_obj;  // the only owner of the engine object
};

// The one instance. Never destroyed by static destruction: the platform's unload hook releases
// the engine object explicitly (ReleaseAtUnload), while the log sink is still usable.
LibraryState& Library();

// The load-time hook for a process attach: saves the module handle and runs the attach-time
// initialisation once. Never fails; a failed initialisation leaves no engine object.
void ProcessAttach(platform::ModuleHandle module);

// The attach-time initialisation (returns at once when it has run before).
void AttachTimeInit();

// Releases an engine object still held when the library is unloaded.
void ReleaseAtUnload();
