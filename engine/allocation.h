// The one way the engine takes and returns memory, so that it can be counted and made to fail.
#pragma once
#include <cstddef>
#include <cstdint>

// malloc and free, with a count of live blocks and an optional injected failure. Every
// block the engine owns (keys, names, the key ring, result buffers, the file buffer)
// comes from here and goes back here; null means out of memory, never an exception.
void* EngineAllocate(size_t size);
// Zero-filled; null also when count * size does not fit a size_t.
void* EngineAllocateZeroed(size_t count, size_t size);
// Null is ignored.
void EngineRelease(void* block);

// Blocks handed out and not yet released.
int64_t LiveAllocations();

constexpr int64_t NoAllocationFailure = -1;

// From now on, `successes` allocations succeed, then the next `failures` fail, then all
// succeed again; NoAllocationFailure turns injection off. Single thread, as the host.
void FailAllocationAfter(int64_t successes, int64_t failures = 1);
// Allocations refused since the last FailAllocationAfter.
int64_t AllocationsRefused();
