// The routines of the key ring: add and remove a key, test for one, make a random key.
#include <cstdlib>
#include <cstring>

#include "engine/engine_state.h"
#include "runtime/report.h"
#include "runtime/routines.h"

namespace {

// The host always passes a string; a null is read as the empty text.
char* KeyText(HostValue param, char (&empty)[1]) {
    char* text = TextParameter(param);
    return text != nullptr ? text : empty;
}

// Cuts an over-long key text in the host's own string and reports it. The events run
// before this returns, so callers look the key up only afterwards.
size_t CutKeyText(RunData* rd, char* text) {
    const size_t length = std::strlen(text);
    if (length <= size_t(MaxKeyLength)) return length;
    text[MaxKeyLength] = '\0';
    ReportError(rd, ErrKeyTooLong, false);
    return size_t(MaxKeyLength);
}

}  // namespace

CIPHREL_ACTION(AddKeyAction) {
    (void)param2;
    char empty[1] = "";
    char* text = KeyText(param1, empty);
    const size_t length = CutKeyText(rd, text);
    // Out of memory the ring stays as it was and nothing is reported: no code means it.
    if (AddKey(&engine.keyRing, text, length) == ErrKeyExists)
        ReportError(rd, ErrKeyExists, false);
    return 0;
}

CIPHREL_ACTION(RemoveKeyAction) {
    (void)param2;
    // A running job borrows one key's context, so no key may go while it runs.
    if (FileJobInProgress(&engine.fileJob)) {
        ReportError(rd, ErrKeyInUse, false);
        return 0;
    }
    char empty[1] = "";
    char* text = KeyText(param1, empty);
    CutKeyText(rd, text);
    // The events of the report above may have started a job, perhaps with this very key.
    if (FileJobInProgress(&engine.fileJob)) {
        ReportError(rd, ErrKeyInUse, false);
        return 0;
    }
    // Out of memory the key stays and nothing is reported: no code means it.
    if (RemoveKey(&engine.keyRing, text) == ErrNoSuchKey)
        ReportError(rd, ErrNoSuchKey, false);
    return 0;
}

CIPHREL_CONDITION(KeyExistsCondition) {
    (void)rd;
    (void)param2;
    char empty[1] = "";
    // Not cut: a text longer than any stored name is simply not found.
    return FindKey(&engine.keyRing, KeyText(param1, empty)) >= 0 ? 1 : 0;
}

CIPHREL_EXPRESSION(RandomKeyExpression) {
    int32_t length = NumberParameter(HostGetFirstParameter(rd, ParamInteger, uint32_t(pass)));
    MarkResult(rd, ResultIsString);
    if (length > MaxKeyLength) {
        ReportError(rd, ErrKeyTooLong, true);
        length = MaxKeyLength;
    }
    if (length < 0) length = 0;

    char* key = AllocResultBuffer(rd, uint32_t(length) + 1);
    // Out of memory: the empty text, and no code, since none means it.
    if (key == nullptr) return StringResult("");
    // 1 to 255: a zero byte would end the key early.
    for (int32_t i = 0; i < length; ++i) key[i] = char(std::rand() % 255 + 1);
    key[length] = '\0';
    return StringResult(key);
}
