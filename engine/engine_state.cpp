// Storage of the module-wide engine state.
#include "engine/engine_state.h"

EngineState engine{};
