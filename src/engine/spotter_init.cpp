// Spotter initialisation. Placeholder until the configuration and the model directory land:
// it creates nothing and succeeds, so that the engine object and the exports can be used.
#include "engine/engine_object.h"
#include "log/logger.h"

bool kelmor::init() {
    Log(LogLevel::Info, "kelmor init success");
    return true;
}
