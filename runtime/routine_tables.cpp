// The three routine tables that GetRunObjectInfos hands the host.
#include "runtime/routines.h"

const ConditionRoutine ConditionRoutines[ConditionCount + 1] = {
    EventCondition, KeyExistsCondition, CharacterFilteredCondition, CodeFilteredCondition,
    PaddingCondition, ControlCodesFilteredCondition, EventCondition, FileBusyCondition,
    nullptr,
};

const ActionRoutine ActionRoutines[ActionCount + 1] = {
    AddKeyAction, RemoveKeyAction, AddCharactersAction, AddCodeAction,
    RemoveCharactersAction, RemoveCodeAction, ClearExpressionErrorAction,
    EncryptFileAction, DecryptFileAction, NoPaddingAction, PaddingAction,
    EnableControlCodesAction, DisableControlCodesAction, SetTimeIntervalAction,
    SetPercentIntervalAction,
    nullptr,
};

const ExpressionRoutine ExpressionRoutines[ExpressionCount + 1] = {
    EncryptIntegerExpression, ConvertToIntegerExpression, EncryptStringExpression,
    DecryptIntegerExpression, ConvertToFloatExpression, DecryptStringExpression,
    FilterStringExpression, DefilterStringExpression, ErrorCodeExpression,
    ExpressionErrorCodeExpression, RandomKeyExpression, FileTimeIntervalExpression,
    FileProgressExpression, FilePercentIntervalExpression, FileSizeExpression,
    nullptr,
};
