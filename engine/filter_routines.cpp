// The actions, conditions and expressions that edit, test and apply the shared filter.
#include <cstdint>
#include <cstring>

#include "engine/engine_state.h"
#include "engine/filter.h"
#include "runtime/report.h"
#include "runtime/routines.h"

constexpr int32_t LowestCode = 0;
constexpr int32_t HighestCode = 255;
constexpr uint32_t EscapeWidth = 3;        // '%' and two digits per escaped byte

// Returned when no result buffer can be had: empty text rather than the input, so that a
// filtered result never carries an unescaped byte and a decoded one never an escape.
static const char NoResult[] = "";

static bool IsByteCode(int32_t code) { return code >= LowestCode && code <= HighestCode; }

CIPHREL_ACTION(AddCharactersAction) {
    (void)rd;
    (void)param2;
    for (const char* c = TextParameter(param1); *c != '\0'; ++c) {
        AddFilterCode(&engine.filterSet, engine.filterControlCodes, static_cast<uint8_t>(*c));
    }
    return 0;
}

CIPHREL_ACTION(AddCodeAction) {
    (void)param2;
    int32_t code = NumberParameter(param1);
    if (!IsByteCode(code)) {
        ReportError(rd, ErrBadCharCode, false);
        return 0;
    }
    AddFilterCode(&engine.filterSet, engine.filterControlCodes, static_cast<uint8_t>(code));
    return 0;
}

CIPHREL_ACTION(RemoveCharactersAction) {
    (void)param2;
    // Each failure raises "On Error" at once, before the next byte is tried; the events
    // may edit the filter meanwhile, and the rest of the text sees their changes.
    for (const char* c = TextParameter(param1); *c != '\0'; ++c) {
        uint8_t code = static_cast<uint8_t>(*c);
        if (!RemoveFilterCode(&engine.filterSet, engine.filterControlCodes, code)) {
            ReportError(rd, ErrNotInFilter, false);
        }
    }
    return 0;
}

CIPHREL_ACTION(RemoveCodeAction) {
    (void)param2;
    int32_t code = NumberParameter(param1);
    if (!IsByteCode(code)) {
        ReportError(rd, ErrBadCharCode, false);
    } else if (!RemoveFilterCode(&engine.filterSet, engine.filterControlCodes,
                                 static_cast<uint8_t>(code))) {
        ReportError(rd, ErrNotInFilter, false);
    }
    return 0;
}

CIPHREL_ACTION(EnableControlCodesAction) {
    (void)rd;
    (void)param1;
    (void)param2;
    engine.filterControlCodes = true;
    return 0;
}

CIPHREL_ACTION(DisableControlCodesAction) {
    (void)rd;
    (void)param1;
    (void)param2;
    // Codes 1-31 fall back to what the set holds, but a zero byte must stay escaped.
    engine.filterControlCodes = false;
    AddFilterCode(&engine.filterSet, engine.filterControlCodes, 0);
    return 0;
}

CIPHREL_CONDITION(CharacterFilteredCondition) {
    (void)rd;
    (void)param2;
    // The empty text's first byte is its NUL, so it tests the zero byte.
    uint8_t code = static_cast<uint8_t>(TextParameter(param1)[0]);
    return FindFilterCode(&engine.filterSet, engine.filterControlCodes, code) != FilterAbsent;
}

CIPHREL_CONDITION(CodeFilteredCondition) {
    (void)rd;
    (void)param2;
    uint8_t code = static_cast<uint8_t>(static_cast<uint32_t>(NumberParameter(param1)) & 0xFFu);
    return FindFilterCode(&engine.filterSet, engine.filterControlCodes, code) != FilterAbsent;
}

CIPHREL_CONDITION(ControlCodesFilteredCondition) {
    (void)rd;
    (void)param1;
    (void)param2;
    return engine.filterControlCodes ? 1 : 0;
}

CIPHREL_EXPRESSION(FilterStringExpression) {
    const char* text = TextParameter(HostGetFirstParameter(rd, ParamString,
                                                           static_cast<uint32_t>(pass)));
    MarkResult(rd, ResultIsString);
    size_t length = strlen(text);
    if (length > (UINT32_MAX - 1) / EscapeWidth) return StringResult(NoResult);
    char* result = AllocResultBuffer(rd, static_cast<uint32_t>(EscapeWidth * length + 1));
    if (result == nullptr) return StringResult(NoResult);
    FilterBytes(&engine.filterSet, engine.filterControlCodes, result,
                reinterpret_cast<const uint8_t*>(text), length);
    return StringResult(result);
}

CIPHREL_EXPRESSION(DefilterStringExpression) {
    const char* text = TextParameter(HostGetFirstParameter(rd, ParamString,
                                                           static_cast<uint32_t>(pass)));
    MarkResult(rd, ResultIsString);
    size_t length = strlen(text);
    if (length > UINT32_MAX - 1) return StringResult(NoResult);
    char* result = AllocResultBuffer(rd, static_cast<uint32_t>(length + 1));
    if (result == nullptr) return StringResult(NoResult);
    DefilterBytes(reinterpret_cast<uint8_t*>(result), text, length);
    return StringResult(result);
}
