// The host's run-time records and services as the module sees them; no Windows header.
#pragma once
#include <cstdint>
#include <cstring>

#if defined(_WIN32) && defined(__i386__)
#define CIPHREL_STDCALL __attribute__((stdcall))
#else
#define CIPHREL_STDCALL
#endif

// Type codes for fetching an expression's parameters.
constexpr uint32_t ParamInteger = 0;
constexpr uint32_t ParamString = 1;
constexpr uint32_t ParamFloat = 2;

// Result-kind bits in HostFlags; the host clears them before each expression.
constexpr uint16_t ResultIsString = 0x8000;
constexpr uint16_t ResultIsFloat = 0x4000;

// Entries of the host's RunHeader that hold its services.
constexpr int RunHeaderReHandle = 196;
constexpr int RunHeaderGenerateEvent = 197;
constexpr int RunHeaderGetFirstParameter = 200;
constexpr int RunHeaderGetNextParameter = 201;

// Conditions that the object raises itself.
constexpr int32_t CondOnError = 0;
constexpr int32_t CondFileDone = 6;

struct RunData {
    uint8_t hostHeader[152];        // the host's; holds runHeader (byte 6), HostFlags (98)
    int32_t errorCode;              // immediate error being reported; 0 at all other times
    int32_t expressionErrorCode;    // kept until cleared
    char*   resultBuffer;           // current ResultBuffer, or null; owned by the object
    char*   previousResultBuffer;   // the one before it, or null; owned by the object
};
static_assert(sizeof(void*) != 4 || sizeof(RunData) == 168, "layout fixed by the host");

constexpr int RunDataRunHeaderOffset = 6;
constexpr int RunDataHostFlagsOffset = 98;

// Values that may carry a pointer (text parameters, string results, fetched parameters)
// are intptr_t: 32 bits in the module, as the host passes them, and wide enough for a
// pointer in the native build that the tests drive in-process.
using HostValue = intptr_t;

// A RunHeader service: (RunData, value, value) -> value.
using HostService = HostValue (CIPHREL_STDCALL*)(RunData*, uint32_t, uint32_t);

// The RunHeader is an array of pointer-sized words (32-bit in the module); entry k holds
// a service address for the entries above. Byte 6 of RunData is unaligned: copy it.
inline void* GetRunHeader(const RunData* rd) {
    void* header;
    std::memcpy(&header, rd->hostHeader + RunDataRunHeaderOffset, sizeof header);
    return header;
}
inline void SetRunHeader(RunData* rd, void* header) {
    std::memcpy(rd->hostHeader + RunDataRunHeaderOffset, &header, sizeof header);
}
inline uint16_t GetHostFlags(const RunData* rd) {
    uint16_t flags;
    std::memcpy(&flags, rd->hostHeader + RunDataHostFlagsOffset, sizeof flags);
    return flags;
}
inline void SetHostFlags(RunData* rd, uint16_t flags) {
    std::memcpy(rd->hostHeader + RunDataHostFlagsOffset, &flags, sizeof flags);
}
inline void MarkResult(RunData* rd, uint16_t kind) { SetHostFlags(rd, GetHostFlags(rd) | kind); }

// Host services, defined once in runtime/host_services.cpp.
void HostReHandle(RunData* rd);
void HostGenerateEvent(RunData* rd, int32_t condition);
HostValue HostGetFirstParameter(RunData* rd, uint32_t type, uint32_t pass);
HostValue HostGetNextParameter(RunData* rd, uint32_t type, uint32_t pass);

// Routine shapes in the three tables.
using ConditionRoutine = int32_t (CIPHREL_STDCALL*)(RunData*, HostValue, HostValue);
using ActionRoutine = int16_t (CIPHREL_STDCALL*)(RunData*, HostValue, HostValue);
using ExpressionRoutine = HostValue (CIPHREL_STDCALL*)(RunData*, int32_t pass);

// A text parameter arrives as a pointer to the host's writable NUL-terminated string;
// a number parameter as a signed 32-bit value.
inline char* TextParameter(HostValue value) { return reinterpret_cast<char*>(value); }
inline int32_t NumberParameter(HostValue value) { return static_cast<int32_t>(value); }
inline HostValue StringResult(const char* text) { return reinterpret_cast<HostValue>(text); }
