// ReportError and the two result buffers of each object.
#include "runtime/report.h"

#include "engine/allocation.h"

void ReportError(RunData* rd, int32_t code, bool expressionError) {
    if (expressionError) {
        rd->expressionErrorCode = code;
        return;
    }
    // The events run inside this call and may report again; each report leaves 0 behind.
    rd->errorCode = code;
    HostGenerateEvent(rd, CondOnError);
    rd->errorCode = 0;
}

char* AllocResultBuffer(RunData* rd, uint32_t size) {
    // Allocate first: when memory runs out, both earlier results stay valid.
    char* fresh = static_cast<char*>(EngineAllocate(size != 0 ? size : 1));
    if (fresh == nullptr) return nullptr;
    EngineRelease(rd->previousResultBuffer);
    rd->previousResultBuffer = rd->resultBuffer;
    rd->resultBuffer = fresh;
    return fresh;
}

void ReleaseResultBuffers(RunData* rd) {
    EngineRelease(rd->resultBuffer);
    EngineRelease(rd->previousResultBuffer);
    rd->resultBuffer = nullptr;
    rd->previousResultBuffer = nullptr;
}
