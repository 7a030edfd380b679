// What the module takes from Windows, for the native build that tests drive in-process.
#include <cstdlib>

#include "runtime/exports.h"

void* AllocateHostRecord(uint32_t size) { return std::calloc(1, size); }
