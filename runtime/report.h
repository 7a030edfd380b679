// Error reporting and result buffers: the one way for a routine to fail or return text.
#pragma once
#include <cstdint>
#include "runtime/host.h"

// Codes users see; the same numbers serve immediate and expression errors.
constexpr int32_t ErrKeyTooLong = 1;
constexpr int32_t ErrNoSuchKey = 2;
constexpr int32_t ErrKeyExists = 3;
constexpr int32_t ErrNotInFilter = 4;
constexpr int32_t ErrBadCharCode = 5;
constexpr int32_t ErrFileOpen = 6;
constexpr int32_t ErrFileWrite = 7;
constexpr int32_t ErrJobRunning = 8;
constexpr int32_t ErrKeyInUse = 9;

// Expression error: recorded until cleared. Immediate error: errorCode is set, the
// "On Error" events run (and may report again), then errorCode returns to 0.
void ReportError(RunData* rd, int32_t code, bool expressionError);

// Makes a new current ResultBuffer of `size` bytes, keeping the current one as the
// previous one (a parameter may still point into it) and releasing the one before.
// Returns the new buffer, or null when memory ran out (the old buffers are then kept).
char* AllocResultBuffer(RunData* rd, uint32_t size);

// Releases both result buffers of an object.
void ReleaseResultBuffers(RunData* rd);
