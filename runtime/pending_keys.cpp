// Fallbacks for the key routines and number expressions until they arrive.
#include "runtime/routines.h"

CIPHREL_CONDITION(KeyExistsCondition) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(AddKeyAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(RemoveKeyAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_EXPRESSION(RandomKeyExpression) { (void)pass; MarkResult(rd, ResultIsString); return StringResult(""); }
CIPHREL_EXPRESSION(EncryptIntegerExpression) { (void)rd; (void)pass; return 0; }
CIPHREL_EXPRESSION(DecryptIntegerExpression) { (void)rd; (void)pass; return 0; }
CIPHREL_EXPRESSION(ConvertToIntegerExpression) { (void)rd; (void)pass; return 0; }
CIPHREL_EXPRESSION(ConvertToFloatExpression) { (void)pass; MarkResult(rd, ResultIsFloat); return 0; }
