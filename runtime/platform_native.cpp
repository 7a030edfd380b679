// What the module takes from Windows, for the native build that tests drive in-process.
#include "engine/allocation.h"
#include "runtime/exports.h"

// Through the engine's allocator, so that tests can make it fail; the block is malloc's,
// so the test host releases it with free as before.
void* AllocateHostRecord(uint32_t size) { return EngineAllocateZeroed(1, size); }
