// The module-wide state that every instance of the object shares.
#pragma once
#include <cstdint>
#include "engine/file_job.h"
#include "engine/filter.h"
#include "engine/key_ring.h"

struct EngineState {
    int32_t referenceCount;     // Initialize adds 1, Free takes 1
    KeyRing keyRing;            // absent (null entries) until the first CreateRunObject
    FilterSet filterSet;        // lives as long as the module; Free leaves it
    bool filterControlCodes;    // FilterControlCodes: codes 0-31 count as filtered
    FileJob fileJob;
    FileSettings fileSettings;  // NoPadding and both intervals; Free leaves them
};

extern EngineState engine;      // zeroed at load; defined in engine/engine_state.cpp
