#include "fake_aes_cbc.h"
#include "fake_paths.h"
#include "fake_platform.h"
#include "fake_wave_input.h"

namespace fake {

void ResetPlatform() {
    Console() = ConsoleState();
    Text() = TextState();
    Module() = ModuleState();
    ResetWave();
    AesCbc() = AesCbcState();
    Paths() = PathsState();
}

}  // namespace fake
