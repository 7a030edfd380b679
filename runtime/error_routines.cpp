// The object's own events and the routines that expose error codes.
#include "runtime/routines.h"

// Conditions 0 and 6 are raised by the object itself, so when asked they are true.
CIPHREL_CONDITION(EventCondition) {
    (void)rd, (void)param1, (void)param2;
    return 1;
}

CIPHREL_ACTION(ClearExpressionErrorAction) {
    (void)param1, (void)param2;
    rd->expressionErrorCode = 0;
    return 0;
}

CIPHREL_EXPRESSION(ErrorCodeExpression) {
    (void)pass;
    return rd->errorCode;
}

CIPHREL_EXPRESSION(ExpressionErrorCodeExpression) {
    (void)pass;
    return rd->expressionErrorCode;
}
