// The module-wide key ring: named Blowfish contexts, found by exact comparison of names.
#include "engine/key_ring.h"

#include <cstring>

#include "engine/allocation.h"
#include "runtime/report.h"

namespace {

// Slots of a new array are zero, so unused slots never hold stale pointers.
KeyEntry* NewEntryArray(int32_t capacity) {
    return static_cast<KeyEntry*>(EngineAllocateZeroed(size_t(capacity), sizeof(KeyEntry)));
}

bool NameEquals(const char* name, const char* text, size_t length) {
    return std::strlen(name) == length && std::memcmp(name, text, length) == 0;
}

}  // namespace

bool CreateKeyRing(KeyRing* ring) {
    ring->entries = NewEntryArray(KeyRingGrowth);
    ring->capacity = ring->entries != nullptr ? KeyRingGrowth : 0;
    ring->count = 0;
    return ring->entries != nullptr;
}

int32_t FindKey(const KeyRing* ring, const char* text) {
    if (ring->entries == nullptr) return -1;
    for (int32_t i = 0; i < ring->count; ++i)
        if (std::strcmp(ring->entries[i].name, text) == 0) return i;
    return -1;
}

int32_t AddKey(KeyRing* ring, const char* text, size_t length) {
    if (ring->entries == nullptr && !CreateKeyRing(ring)) return KeyOutOfMemory;
    for (int32_t i = 0; i < ring->count; ++i)
        if (NameEquals(ring->entries[i].name, text, length)) return ErrKeyExists;

    // Everything is allocated before the ring is touched, so a failure leaves it as it was.
    char* name = static_cast<char*>(EngineAllocate(length + 1));
    auto* context = static_cast<BlowfishContext*>(EngineAllocate(sizeof(BlowfishContext)));
    KeyEntry* grown = nullptr;
    const bool full = ring->count == ring->capacity;
    if (full) grown = NewEntryArray(ring->capacity + KeyRingGrowth);
    if (name == nullptr || context == nullptr || (full && grown == nullptr)) {
        EngineRelease(name);
        EngineRelease(context);
        EngineRelease(grown);
        return KeyOutOfMemory;
    }

    std::memcpy(name, text, length);
    name[length] = '\0';
    ExpandKey(context, reinterpret_cast<const uint8_t*>(name), int32_t(length));

    // Entries move to the new array; the contexts they point to stay where they are.
    if (full) {
        std::memcpy(grown, ring->entries, size_t(ring->count) * sizeof(KeyEntry));
        EngineRelease(ring->entries);
        ring->entries = grown;
        ring->capacity += KeyRingGrowth;
    }
    ring->entries[ring->count] = {name, context};
    ++ring->count;
    return KeyOk;
}

int32_t RemoveKey(KeyRing* ring, const char* text) {
    const int32_t index = FindKey(ring, text);
    if (index < 0) return ErrNoSuchKey;

    KeyEntry* compacted = NewEntryArray(ring->capacity);
    if (compacted == nullptr) return KeyOutOfMemory;

    EngineRelease(ring->entries[index].name);
    EngineRelease(ring->entries[index].context);
    std::memcpy(compacted, ring->entries, size_t(index) * sizeof(KeyEntry));
    std::memcpy(compacted + index, ring->entries + index + 1,
                size_t(ring->count - index - 1) * sizeof(KeyEntry));
    EngineRelease(ring->entries);
    ring->entries = compacted;
    --ring->count;
    return KeyOk;
}

void ReleaseKeyRing(KeyRing* ring) {
    if (ring->entries != nullptr) {
        for (int32_t i = 0; i < ring->count; ++i) {
            EngineRelease(ring->entries[i].name);
            EngineRelease(ring->entries[i].context);
        }
    }
    EngineRelease(ring->entries);
    ring->entries = nullptr;
    ring->capacity = 0;
    ring->count = 0;
}
