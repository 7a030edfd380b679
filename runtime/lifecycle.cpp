// Module lifecycle and run-time objects: reference count, creation from EditData,
// the per-frame file continuation, and module release.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "designer/editor_record.h"
#include "engine/engine_state.h"
#include "runtime/exports.h"
#include "runtime/report.h"
#include "runtime/routines.h"

extern "C" {

int32_t CIPHREL_STDCALL Initialize(HostValue, int32_t) {
    ++engine.referenceCount;
    return 0;
}

int32_t CIPHREL_STDCALL Free(HostValue) {
    if (--engine.referenceCount > 0) return 0;
    // A job cut short writes nothing; it only borrows a key, so end it before the keys go.
    if (FileJobInProgress(&engine.fileJob) || engine.fileJob.buffer != nullptr)
        AbandonFileJob(&engine.fileJob);
    ReleaseKeyRing(&engine.keyRing);
    engine.referenceCount = 0;
    return 0;
}

uint32_t CIPHREL_STDCALL GetInfos(int32_t query) {
    if (query == 0) return InfosQuery0;
    if (query == 2) return InfosQuery2;
    return 0;
}

int16_t CIPHREL_STDCALL GetRunObjectInfos(HostValue, RunObjectInfos* infos) {
    infos->conditions = ConditionRoutines;
    infos->actions = ActionRoutines;
    infos->expressions = ExpressionRoutines;
    infos->conditionCount = ConditionCount;
    infos->actionCount = ActionCount;
    infos->expressionCount = ExpressionCount;
    infos->editDataSize = EditDataSize;
    infos->flags = 0;
    infos->byte22 = 100;
    infos->byte24 = 0;
    std::memcpy(infos->identifier, "CPHR", 4);
    infos->editDataVersion = EditDataVersion;
    return 1;
}

uint16_t CIPHREL_STDCALL GetRunObjectDataSize(HostValue, HostValue) {
    return sizeof(RunData);
}

int16_t CIPHREL_STDCALL CreateRunObject(RunData* rd, EditData* editData, HostValue) {
    rd->errorCode = 0;
    rd->expressionErrorCode = 0;
    rd->resultBuffer = nullptr;
    rd->previousResultBuffer = nullptr;

    // Every object overwrites both module-wide flags: the one created last decides.
    engine.filterControlCodes = IsFlagSet(editData->flags, FlagFilterControlCodes);
    engine.fileSettings.noPadding = IsFlagSet(editData->flags, FlagNoPadding) ? 1 : 0;

    if (engine.keyRing.entries == nullptr) {
        std::srand(static_cast<unsigned>(std::time(nullptr)));
        CreateKeyRing(&engine.keyRing);     // on failure the first added key creates it
    }

    // A record whose characters lack their NUL is read no further than its 24 + 1 bytes.
    char characters[MaxFilterCharacters + 2] = {};
    std::memcpy(characters, editData->filterCharacters, MaxFilterCharacters + 1);
    SeedFilterSet(&engine.filterSet, engine.filterControlCodes, characters,
                  editData->filterCodes, MaxFilterCodes + 1);
    return 0;
}

int16_t CIPHREL_STDCALL DestroyRunObject(RunData* rd, HostValue) {
    ReleaseResultBuffers(rd);
    return 0;
}

int16_t CIPHREL_STDCALL HandleRunObject(RunData* rd) {
    if (!FileJobInProgress(&engine.fileJob)) return 1;
    const int32_t result = ContinueFileJob(&engine.fileJob, &engine.fileSettings);
    if (result == JobPending) return 0;
    // The job has ended before its event runs, so the event may start the next one.
    if (result == JobFinished) HostGenerateEvent(rd, CondFileDone);
    else ReportError(rd, result, false);
    return 1;
}

int16_t CIPHREL_STDCALL DisplayRunObject(RunData*) { return 0; }
int16_t CIPHREL_STDCALL PauseRunObject(RunData*) { return 0; }
int16_t CIPHREL_STDCALL ContinueRunObject(RunData*) { return 0; }

// A version-1 record becomes a new version-2 record; every other version needs nothing.
EditData* CIPHREL_STDCALL UpdateEditStructure(void* editorRecord, EditData* stored) {
    if (stored->version != 1) return nullptr;
    auto* upgraded = static_cast<EditData*>(AllocateHostRecord(EditDataSize));
    if (upgraded == nullptr) return nullptr;     // the host keeps the stored record
    UpgradeEditData(upgraded, stored, HostVersion(editorRecord));
    return upgraded;
}

uint32_t CIPHREL_STDCALL PrepareToWriteObject(void* editorRecord, EditData* editData,
                                              HostValue) {
    editData->hostVersion = HostVersion(editorRecord);
    return editData->hostVersion;
}

}  // extern "C"
