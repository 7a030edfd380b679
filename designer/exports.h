// The designer's exports, declared once for their definitions and the tests.
#pragma once
#include <cstdint>

#include "designer/edit_data.h"
#include "designer/editor_object.h"
#include "runtime/host.h"

extern "C" {
// Event editor. Menus are HMENU handles that the host owns; codes and sizes are 16-bit.
void* CIPHREL_STDCALL GetConditionMenu(void* editorRecord, int32_t, int32_t);
void* CIPHREL_STDCALL GetActionMenu(void* editorRecord, int32_t, int32_t);
void* CIPHREL_STDCALL GetExpressionMenu(void* editorRecord, int32_t, int32_t);
int32_t CIPHREL_STDCALL GetConditionCodeFromMenu(void* editorRecord, int32_t menuId);
int32_t CIPHREL_STDCALL GetActionCodeFromMenu(void* editorRecord, int32_t menuId);
int32_t CIPHREL_STDCALL GetExpressionCodeFromMenu(void* editorRecord, int32_t menuId);
const int16_t* CIPHREL_STDCALL GetConditionInfos(void* editorRecord, int32_t code);
const int16_t* CIPHREL_STDCALL GetActionInfos(void* editorRecord, int32_t code);
const int16_t* CIPHREL_STDCALL GetExpressionInfos(void* editorRecord, int32_t code);
void CIPHREL_STDCALL GetConditionString(void* editorRecord, int32_t code, char* text,
                                        int32_t size);
void CIPHREL_STDCALL GetActionString(void* editorRecord, int32_t code, char* text,
                                     int32_t size);
void CIPHREL_STDCALL GetExpressionString(void* editorRecord, int32_t code, char* text,
                                         int32_t size);
void CIPHREL_STDCALL GetConditionTitle(void* editorRecord, int32_t code, int32_t parameter,
                                       char* text, int32_t size);
void CIPHREL_STDCALL GetActionTitle(void* editorRecord, int32_t code, int32_t parameter,
                                    char* text, int32_t size);
void CIPHREL_STDCALL GetExpressionTitle(void* editorRecord, int32_t code, char* text,
                                        int32_t size);

// Setup dialog.
int32_t CIPHREL_STDCALL CreateObject(void* editorRecord, int32_t, EditData* record);
int32_t CIPHREL_STDCALL SelectPopup(void* editorRecord, int32_t command, int32_t, int32_t,
                                    EditData* record, int32_t, int32_t);

// Editor display and object information.
int32_t CIPHREL_STDCALL MakeIcon(void* editorRecord, uint8_t* icon, int32_t, int32_t,
                                 int32_t);
void CIPHREL_STDCALL EditorDisplay(void* editorRecord, int32_t, int32_t, int32_t,
                                   ObjectRect* rect);
void CIPHREL_STDCALL GetObjectRect(void* editorRecord, ObjectRect* rect, int32_t,
                                   EditData* record);
int32_t CIPHREL_STDCALL ModifyObject(void* editorRecord, EditData* record, int32_t, int32_t,
                                     int32_t kind, const uint8_t* sizeRecord);
void CIPHREL_STDCALL GetObjInfos(void* editorRecord, int32_t, char* name, char* author,
                                 char* copyright, char* comment, char* web);

// Exports the object has no use for; the argument counts are part of their signatures.
int32_t CIPHREL_STDCALL LoadObject(int32_t, int32_t, int32_t, int32_t);
void CIPHREL_STDCALL UnloadObject(int32_t, int32_t, int32_t);
void CIPHREL_STDCALL UpdateFileNames(int32_t, int32_t, int32_t, int32_t);
void CIPHREL_STDCALL PutObject(int32_t, int32_t, int32_t, int32_t);
void CIPHREL_STDCALL RemoveObject(int32_t, int32_t, int32_t, int32_t);
void CIPHREL_STDCALL AppendPopup(int32_t, int32_t, int32_t, int32_t, int32_t);
int32_t CIPHREL_STDCALL RebuildExt(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);
void CIPHREL_STDCALL EndModifyObject(int32_t, int32_t, int32_t);
int32_t CIPHREL_STDCALL IsTransparent(int32_t, int32_t, int32_t, int32_t, int32_t);
int32_t CIPHREL_STDCALL UsesFile(int32_t);
void CIPHREL_STDCALL CreateFromFile(int32_t, int32_t);
int32_t CIPHREL_STDCALL EnumElts(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);
}
