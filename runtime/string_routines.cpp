// "EncryptString$(" and "DecryptString$(": Blowfish ECB over zero-padded text, escaped.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cipher/blowfish.h"
#include "engine/allocation.h"
#include "engine/engine_state.h"
#include "engine/filter.h"
#include "engine/key_ring.h"
#include "runtime/report.h"
#include "runtime/routines.h"

constexpr size_t EscapeWidth = 3;          // '%' and two digits per escaped byte

// When memory runs out both routines answer the empty text: handing back the input would
// pass plain text off as cipher text (or cipher text as plain text), and the user's data
// must never leave in the wrong form. No error code exists for this, so none is reported.
static const char NoResult[] = "";

// Fetches the key text and the second string, in that order, and marks the result as
// text before anything can fail. Returns the key's context, or null when the key is
// missing, in which case error 2 is recorded.
static const BlowfishContext* FetchParameters(RunData* rd, int32_t pass, const char** text) {
    uint32_t passValue = static_cast<uint32_t>(pass);
    const char* keyText = TextParameter(HostGetFirstParameter(rd, ParamString, passValue));
    *text = TextParameter(HostGetNextParameter(rd, ParamString, passValue));
    MarkResult(rd, ResultIsString);
    // The key text is looked up as given, never cut: a text over 56 bytes is simply absent.
    int32_t index = FindKey(&engine.keyRing, keyText);
    if (index < 0) {
        ReportError(rd, ErrNoSuchKey, true);
        return nullptr;
    }
    return engine.keyRing.entries[index].context;
}

CIPHREL_EXPRESSION(EncryptStringExpression) {
    const char* text;
    const BlowfishContext* context = FetchParameters(rd, pass, &text);
    if (context == nullptr) return StringResult(text);

    size_t length = strlen(text);
    size_t padded = static_cast<size_t>(RoundUpToBlock(length));
    if (padded < length || padded > (UINT32_MAX - 1) / EscapeWidth) return StringResult(NoResult);
    // The text is copied out before AllocResultBuffer, which may release the buffer it
    // lives in when it is the result of the expression before last.
    uint8_t* work = static_cast<uint8_t*>(EngineAllocate(padded + 1));
    if (work == nullptr) return StringResult(NoResult);
    // The last block cleared whole (a fixed size, so no call), then the text over it.
    if (padded >= BlockSize) {
        memset(work + padded - BlockSize, 0, BlockSize + 1);
    } else {
        work[0] = 0;
    }
    memcpy(work, text, length);
    EncryptBlocks(context, work, padded / BlockSize);

    char* result = AllocResultBuffer(rd, static_cast<uint32_t>(EscapeWidth * padded + 1));
    if (result != nullptr) {
        FilterBytes(&engine.filterSet, engine.filterControlCodes, result, work, padded);
    }
    EngineRelease(work);
    return StringResult(result != nullptr ? result : NoResult);
}

CIPHREL_EXPRESSION(DecryptStringExpression) {
    const char* text;
    const BlowfishContext* context = FetchParameters(rd, pass, &text);
    if (context == nullptr) return StringResult(text);

    size_t length = strlen(text);
    if (length > UINT32_MAX - (BlockSize + 1)) return StringResult(NoResult);
    // Decoding never grows the text, and padding the decoded bytes to a whole block adds
    // at most 7 zeros and the NUL, so length + 9 bytes always suffice.
    char* result = AllocResultBuffer(rd, static_cast<uint32_t>(length + BlockSize + 1));
    if (result == nullptr) return StringResult(NoResult);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(result);
    size_t decoded = DefilterBytes(bytes, text, length);
    size_t padded = static_cast<size_t>(RoundUpToBlock(decoded));
    // A cut cipher text is completed with zeros and decrypted all the same; the byte at
    // `padded` stays zero and ends the text even when the last block holds no zero.
    memset(bytes + decoded, 0, padded - decoded + 1);
    DecryptBlocks(context, bytes, padded / BlockSize);
    return StringResult(result);
}
