// The module's exports, declared once for the DLL, the native build and the test host.
#pragma once
#include <cstdint>
#include "designer/edit_data.h"
#include "runtime/host.h"

// The record GetRunObjectInfos fills in the host's memory (32 bytes in the module).
#pragma pack(push, 1)
struct RunObjectInfos {
    const ConditionRoutine* conditions;
    const ActionRoutine* actions;
    const ExpressionRoutine* expressions;
    int16_t conditionCount;
    int16_t actionCount;
    int16_t expressionCount;
    int16_t editDataSize;
    int16_t flags;
    uint8_t byte22;             // 100
    uint8_t byte23;             // the host's; never written
    int16_t byte24;             // 0
    char identifier[4];         // "CPHR", no terminator
    int16_t editDataVersion;
};
#pragma pack(pop)
static_assert(sizeof(void*) != 4 || sizeof(RunObjectInfos) == 32, "layout fixed by the host");

// Zeroed memory that the host takes over (the Windows global heap in the module).
void* AllocateHostRecord(uint32_t size);

constexpr uint32_t InfosQuery0 = 768;
constexpr uint32_t InfosQuery2 = 256;

extern "C" {
int32_t CIPHREL_STDCALL Initialize(HostValue, int32_t);
int32_t CIPHREL_STDCALL Free(HostValue);
uint32_t CIPHREL_STDCALL GetInfos(int32_t query);
int16_t CIPHREL_STDCALL GetRunObjectInfos(HostValue, RunObjectInfos* infos);
uint16_t CIPHREL_STDCALL GetRunObjectDataSize(HostValue, HostValue);
int16_t CIPHREL_STDCALL CreateRunObject(RunData* rd, EditData* editData, HostValue);
int16_t CIPHREL_STDCALL DestroyRunObject(RunData* rd, HostValue);
int16_t CIPHREL_STDCALL HandleRunObject(RunData* rd);
int16_t CIPHREL_STDCALL DisplayRunObject(RunData* rd);
int16_t CIPHREL_STDCALL PauseRunObject(RunData* rd);
int16_t CIPHREL_STDCALL ContinueRunObject(RunData* rd);
// Edit time.
EditData* CIPHREL_STDCALL UpdateEditStructure(void* editorRecord, EditData* stored);
uint32_t CIPHREL_STDCALL PrepareToWriteObject(void* editorRecord, EditData* editData,
                                              HostValue);
}
