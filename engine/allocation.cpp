// The engine's allocator: malloc and free, counted, with a failure that tests can inject.
#include "engine/allocation.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

int64_t liveBlocks = 0;
int64_t successesLeft = NoAllocationFailure;   // negative: no failure pending
int64_t failuresLeft = 0;
int64_t refused = 0;

// True when this allocation is one the injection refuses.
bool RefuseThisOne() {
    if (successesLeft < 0) return false;
    if (successesLeft > 0) {
        --successesLeft;
        return false;
    }
    if (failuresLeft <= 0) return false;
    --failuresLeft;
    ++refused;
    return true;
}

}  // namespace

void* EngineAllocate(size_t size) {
    if (RefuseThisOne()) return nullptr;
    // malloc(0) may answer null; a block of one byte keeps null meaning "out of memory".
    void* block = std::malloc(size != 0 ? size : 1);
    if (block != nullptr) ++liveBlocks;
    return block;
}

void* EngineAllocateZeroed(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void* block = EngineAllocate(count * size);
    if (block != nullptr) std::memset(block, 0, count * size);
    return block;
}

void EngineRelease(void* block) {
    if (block == nullptr) return;
    --liveBlocks;
    std::free(block);
}

int64_t LiveAllocations() { return liveBlocks; }

void FailAllocationAfter(int64_t successes, int64_t failures) {
    successesLeft = successes;
    failuresLeft = failures;
    refused = 0;
}

int64_t AllocationsRefused() { return refused; }
