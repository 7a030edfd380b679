// The module-wide ring of named Blowfish keys: a key is known by its own text.
#pragma once
#include <cstddef>
#include <cstdint>
#include "cipher/blowfish.h"

constexpr int32_t MaxKeyLength = 56;       // bytes; the longest Blowfish key (448 bits)
constexpr int32_t KeyRingGrowth = 10;      // slots added each time the ring is full

struct KeyEntry {
    char* name;                 // owned copy of the key text, 0 to 56 bytes and a NUL
    BlowfishContext* context;   // owned; never moves while the key lives (a job borrows it)
};

struct KeyRing {
    KeyEntry* entries;          // owned array of `capacity` slots, or null: no ring
    int32_t capacity;           // a multiple of 10; never shrinks while the ring exists
    int32_t count;              // slots 0 to count-1 in use, in order of addition
};

// Results of the ring operations besides the user-visible error codes.
constexpr int32_t KeyOk = 0;
constexpr int32_t KeyOutOfMemory = -3;     // nothing changed

// Creates an empty ring of 10 zero slots. False when memory ran out (no ring then).
bool CreateKeyRing(KeyRing* ring);
// Index of the entry named exactly `text` (byte for byte), or -1.
int32_t FindKey(const KeyRing* ring, const char* text);
// Adds the first `length` bytes of `text` (no NUL inside) as a key; creates the ring when
// absent. KeyOk, ErrKeyExists (3, ring unchanged) or KeyOutOfMemory (ring unchanged).
int32_t AddKey(KeyRing* ring, const char* text, size_t length);
// Removes the key named `text`. KeyOk, ErrNoSuchKey (2) or KeyOutOfMemory (unchanged).
int32_t RemoveKey(KeyRing* ring, const char* text);
// Releases every name, context and the array; the ring is absent afterwards.
void ReleaseKeyRing(KeyRing* ring);
