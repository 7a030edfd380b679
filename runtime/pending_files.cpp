// Fallbacks for the file routines until they arrive.
#include "runtime/routines.h"

CIPHREL_CONDITION(PaddingCondition) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_CONDITION(FileBusyCondition) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(EncryptFileAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(DecryptFileAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(NoPaddingAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(PaddingAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(SetTimeIntervalAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_ACTION(SetPercentIntervalAction) { (void)rd; (void)param1; (void)param2; return 0; }
CIPHREL_EXPRESSION(FileTimeIntervalExpression) { (void)rd; (void)pass; return 0; }
CIPHREL_EXPRESSION(FileProgressExpression) { (void)rd; (void)pass; return 0; }
CIPHREL_EXPRESSION(FilePercentIntervalExpression) { (void)rd; (void)pass; return 0; }
CIPHREL_EXPRESSION(FileSizeExpression) { (void)rd; (void)pass; return 0; }
