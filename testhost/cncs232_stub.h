// Call log of the stand-in host library, read through its named exports.
#pragma once
#include <cstdint>

struct StubCall {
    int32_t ordinal;            // 12, 191, 308, 313, 336, 340 or 395
    const void* self;           // the HostSurface of a member call, else null
    int32_t argCount;           // arguments after `self`
    uintptr_t args[8];          // pointers whole; 32-bit numbers zero-extended
};

constexpr int32_t StubMaxCalls = 64;    // later calls are counted but not kept

extern "C" {
// Clears the log; ordinal 191 answers `editorSurface` from now on.
using StubResetFunction = void(__stdcall*)(void* editorSurface);
using StubCallCountFunction = int32_t(__stdcall*)();
using StubCallAtFunction = const StubCall*(__stdcall*)(int32_t index);   // null past the end
}
