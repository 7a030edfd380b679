// Routines of the file work engine: the file actions, their settings and what they show.
#include <cstring>
#include "engine/engine_state.h"
#include "runtime/report.h"
#include "runtime/routines.h"

namespace {

// Both file actions: the key text is cut in place when too long, looked up, and the job
// started; its outcome is handed to the host at once or left to HandleRunObject.
void RunFileAction(RunData* rd, HostValue keyParam, HostValue pathParam, uint8_t mode) {
    char noText[1] = "";
    char* keyText = TextParameter(keyParam);
    if (keyText == nullptr) keyText = noText;
    if (strlen(keyText) > size_t(MaxKeyLength)) {
        keyText[MaxKeyLength] = '\0';
        ReportError(rd, ErrKeyTooLong, false);
    }
    // Looked up only after the report: its events may have changed the key ring.
    int32_t index = FindKey(&engine.keyRing, keyText);
    if (index < 0) {
        ReportError(rd, ErrNoSuchKey, false);
        return;
    }
    const BlowfishContext* key = engine.keyRing.entries[index].context;

    int32_t result = StartFileJob(&engine.fileJob, &engine.fileSettings,
                                  TextParameter(pathParam), key, mode);
    if (result == JobPending) HostReHandle(rd);                        // HandleRunObject
    else if (result == JobFinished) HostGenerateEvent(rd, CondFileDone);  // its events run now
    else ReportError(rd, result, false);
}

}  // namespace

CIPHREL_CONDITION(PaddingCondition) {
    (void)rd, (void)param1, (void)param2;
    return engine.fileSettings.noPadding == 0 ? 1 : 0;
}

CIPHREL_CONDITION(FileBusyCondition) {
    (void)rd, (void)param1, (void)param2;
    return FileJobInProgress(&engine.fileJob) ? 1 : 0;
}

CIPHREL_ACTION(EncryptFileAction) {
    RunFileAction(rd, param1, param2, ModeEncrypt);
    return 0;
}

CIPHREL_ACTION(DecryptFileAction) {
    RunFileAction(rd, param1, param2, ModeDecrypt);
    return 0;
}

CIPHREL_ACTION(NoPaddingAction) {
    (void)rd, (void)param1, (void)param2;
    engine.fileSettings.noPadding = 1;
    return 0;
}

CIPHREL_ACTION(PaddingAction) {
    (void)rd, (void)param1, (void)param2;
    engine.fileSettings.noPadding = 0;
    return 0;
}

// Both intervals are stored as given; each start and continuation decides what they mean.
CIPHREL_ACTION(SetTimeIntervalAction) {
    (void)rd, (void)param2;
    engine.fileSettings.timeInterval = NumberParameter(param1);
    return 0;
}

CIPHREL_ACTION(SetPercentIntervalAction) {
    (void)rd, (void)param2;
    engine.fileSettings.percentInterval = NumberParameter(param1);
    return 0;
}

CIPHREL_EXPRESSION(FileTimeIntervalExpression) {
    (void)rd, (void)pass;
    return engine.fileSettings.timeInterval;
}

CIPHREL_EXPRESSION(FileProgressExpression) {
    (void)rd, (void)pass;
    return FileJobProgress(&engine.fileJob);
}

CIPHREL_EXPRESSION(FilePercentIntervalExpression) {
    (void)rd, (void)pass;
    return engine.fileSettings.percentInterval;
}

CIPHREL_EXPRESSION(FileSizeExpression) {
    (void)rd, (void)pass;
    // The host reads a signed 32-bit value; a file that starts fits one.
    return static_cast<int32_t>(engine.fileJob.bytesToWrite);
}
