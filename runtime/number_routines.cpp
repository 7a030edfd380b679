// Integer and float expressions: a 64-bit Blowfish block as two integers, floats as bits.
#include <cstdint>

#include "engine/engine_state.h"
#include "runtime/report.h"
#include "runtime/routines.h"

namespace {

constexpr int32_t SelectRight = 2;      // any other selector returns the left half

using BlockTransform = void (*)(const BlowfishContext*, uint32_t*, uint32_t*);

// The block is (L, R) exactly as fetched: the halves are already words, so no byte order
// applies. Each call transforms the whole block; a game asks once for each half.
HostValue TransformIntegers(RunData* rd, int32_t pass, BlockTransform transform) {
    const uint32_t passValue = uint32_t(pass);
    const char* keyText = TextParameter(HostGetFirstParameter(rd, ParamString, passValue));
    uint32_t l = uint32_t(NumberParameter(HostGetNextParameter(rd, ParamInteger, passValue)));
    uint32_t r = uint32_t(NumberParameter(HostGetNextParameter(rd, ParamInteger, passValue)));
    const bool right =
        NumberParameter(HostGetNextParameter(rd, ParamInteger, passValue)) == SelectRight;

    // The text is not cut: one longer than 56 bytes is never found.
    const int32_t index = keyText != nullptr ? FindKey(&engine.keyRing, keyText) : -1;
    if (index < 0) {
        ReportError(rd, ErrNoSuchKey, true);
    } else {
        transform(engine.keyRing.entries[index].context, &l, &r);
    }
    return HostValue(int32_t(right ? r : l));
}

}  // namespace

CIPHREL_EXPRESSION(EncryptIntegerExpression) {
    return TransformIntegers(rd, pass, EncryptBlock);
}

CIPHREL_EXPRESSION(DecryptIntegerExpression) {
    return TransformIntegers(rd, pass, DecryptBlock);
}

// The host hands a float over as its bit pattern; returned unmarked, the same 32 bits
// read as an integer.
CIPHREL_EXPRESSION(ConvertToIntegerExpression) {
    return HostValue(int32_t(HostGetFirstParameter(rd, ParamFloat, uint32_t(pass))));
}

CIPHREL_EXPRESSION(ConvertToFloatExpression) {
    const HostValue bits = HostGetFirstParameter(rd, ParamInteger, uint32_t(pass));
    MarkResult(rd, ResultIsFloat);
    return HostValue(int32_t(bits));
}
