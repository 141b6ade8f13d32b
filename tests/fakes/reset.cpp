#include "fake_platform.h"
#include "fake_wave_input.h"

namespace fake {

void ResetPlatform() {
    Console() = ConsoleState();
    Text() = TextState();
    Module() = ModuleState();
    ResetWave();
}

}  // namespace fake
