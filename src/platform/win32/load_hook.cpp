// Windows: the library's load notification.
#include "api/instance.h"
#include "windows_headers.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            ProcessAttach(instance);
            break;
        case DLL_PROCESS_DETACH:
            // FreeLibrary: release an engine object the host left behind. At process exit
            // (reserved set) other threads are gone and the engine's own DLLs may already be
            // detached, so nothing is torn down then.
            if (reserved == nullptr) {
                ReleaseAtUnload();
            }
            break;
        default:
            break;
    }
    return TRUE;
}
