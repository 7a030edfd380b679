// Every condition, action and expression routine; a routine's index in its table is
// its code in the event catalog.
#pragma once
#include "runtime/host.h"

#define CIPHREL_CONDITION(name) \
    int32_t CIPHREL_STDCALL name(RunData* rd, HostValue param1, HostValue param2)
#define CIPHREL_ACTION(name) \
    int16_t CIPHREL_STDCALL name(RunData* rd, HostValue param1, HostValue param2)
#define CIPHREL_EXPRESSION(name) HostValue CIPHREL_STDCALL name(RunData* rd, int32_t pass)

constexpr int ConditionCount = 8;
constexpr int ActionCount = 15;
constexpr int ExpressionCount = 15;

// Each table is followed by one null entry.
extern const ConditionRoutine ConditionRoutines[ConditionCount + 1];
extern const ActionRoutine ActionRoutines[ActionCount + 1];
extern const ExpressionRoutine ExpressionRoutines[ExpressionCount + 1];

// Conditions
CIPHREL_CONDITION(EventCondition);                  // 0 "On Error" and 6 "File is Done"
CIPHREL_CONDITION(KeyExistsCondition);              // 1
CIPHREL_CONDITION(CharacterFilteredCondition);      // 2
CIPHREL_CONDITION(CodeFilteredCondition);           // 3
CIPHREL_CONDITION(PaddingCondition);                // 4
CIPHREL_CONDITION(ControlCodesFilteredCondition);   // 5
CIPHREL_CONDITION(FileBusyCondition);               // 7

// Actions
CIPHREL_ACTION(AddKeyAction);                       // 0
CIPHREL_ACTION(RemoveKeyAction);                    // 1
CIPHREL_ACTION(AddCharactersAction);                // 2
CIPHREL_ACTION(AddCodeAction);                      // 3
CIPHREL_ACTION(RemoveCharactersAction);             // 4
CIPHREL_ACTION(RemoveCodeAction);                   // 5
CIPHREL_ACTION(ClearExpressionErrorAction);         // 6
CIPHREL_ACTION(EncryptFileAction);                  // 7
CIPHREL_ACTION(DecryptFileAction);                  // 8
CIPHREL_ACTION(NoPaddingAction);                    // 9
CIPHREL_ACTION(PaddingAction);                      // 10
CIPHREL_ACTION(EnableControlCodesAction);           // 11
CIPHREL_ACTION(DisableControlCodesAction);          // 12
CIPHREL_ACTION(SetTimeIntervalAction);              // 13
CIPHREL_ACTION(SetPercentIntervalAction);           // 14

// Expressions
CIPHREL_EXPRESSION(EncryptIntegerExpression);       // 0
CIPHREL_EXPRESSION(ConvertToIntegerExpression);     // 1
CIPHREL_EXPRESSION(EncryptStringExpression);        // 2
CIPHREL_EXPRESSION(DecryptIntegerExpression);       // 3
CIPHREL_EXPRESSION(ConvertToFloatExpression);       // 4
CIPHREL_EXPRESSION(DecryptStringExpression);        // 5
CIPHREL_EXPRESSION(FilterStringExpression);         // 6
CIPHREL_EXPRESSION(DefilterStringExpression);       // 7
CIPHREL_EXPRESSION(ErrorCodeExpression);            // 8
CIPHREL_EXPRESSION(ExpressionErrorCodeExpression);  // 9
CIPHREL_EXPRESSION(RandomKeyExpression);            // 10
CIPHREL_EXPRESSION(FileTimeIntervalExpression);     // 11
CIPHREL_EXPRESSION(FileProgressExpression);         // 12
CIPHREL_EXPRESSION(FilePercentIntervalExpression);  // 13
CIPHREL_EXPRESSION(FileSizeExpression);             // 14
