// The setup dialog, opened by CreateObject and SelectPopup through the host's dialog service.
#include <windows.h>

#include <cstring>

#include "designer/edit_data.h"
#include "designer/editor_object.h"
#include "designer/editor_record.h"
#include "designer/exports.h"
#include "designer/host_library_win.h"
#include "resources/resource_ids.h"
#include "runtime/module_win.h"

namespace {

// Lives on the opening export's stack for as long as the modal dialog runs.
struct SetupDialogParam {
    EditData* record;           // read at the start, written on OK only
    void* editor;               // the host's EditorRecord; not read by the dialog
};

constexpr int DialogUserSlot = DWLP_USER;   // 8 in a 32-bit dialog
constexpr INT_PTR DialogOk = 0;
constexpr INT_PTR DialogCancel = -1;
constexpr int32_t CreateRefused = -1;       // CreateObject under a host older than 1.05
constexpr int32_t PopupModified = 4;        // SelectPopup after OK
constexpr int32_t PopupUnchanged = 0;
constexpr int32_t CodesBoxReadLimit = 99;   // characters of the codes box that are read

// HostDialogBox's fifth to seventh arguments: fixed values the host library expects.
constexpr int32_t DialogArgument5 = 0;
constexpr int32_t DialogArgument6 = 0;
constexpr int32_t DialogArgument7 = 3;

bool VersionOk(const void* editorRecord) {
    return editorRecord != nullptr && HostVersionOk(editorRecord);
}

EditData* DialogRecord(HWND dialog) {
    auto* param =
        reinterpret_cast<SetupDialogParam*>(GetWindowLongPtrA(dialog, DialogUserSlot));
    return param != nullptr ? param->record : nullptr;
}

void ShowRecord(HWND dialog, const EditData* record) {
    CheckDlgButton(dialog, IDC_CONTROL_CODES,
                   IsFlagSet(record->flags, FlagFilterControlCodes) ? BST_CHECKED
                                                                    : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_NO_PADDING,
                   IsFlagSet(record->flags, FlagNoPadding) ? BST_CHECKED : BST_UNCHECKED);

    // A damaged record must not be read past its 25 bytes.
    char characters[MaxFilterCharacters + 1];
    std::memcpy(characters, record->filterCharacters, sizeof characters);
    characters[MaxFilterCharacters] = '\0';
    SetDlgItemTextA(dialog, IDC_CHARACTERS, characters);
    SendMessageA(GetDlgItem(dialog, IDC_CHARACTERS), EM_LIMITTEXT, MaxFilterCharacters, 0);

    uint16_t codes[MaxFilterCodes + 1];     // the record's words are not aligned
    std::memcpy(codes, record->filterCodes, sizeof codes);
    char codesText[CodeListTextSize];
    FormatCodeList(codesText, codes);
    SetDlgItemTextA(dialog, IDC_CODES, codesText);
}

void StoreRecord(HWND dialog, EditData* record) {
    uint16_t flags = record->flags;
    SetFlag(&flags, FlagFilterControlCodes,
            IsDlgButtonChecked(dialog, IDC_CONTROL_CODES) == BST_CHECKED);
    SetFlag(&flags, FlagNoPadding, IsDlgButtonChecked(dialog, IDC_NO_PADDING) == BST_CHECKED);
    record->flags = flags;

    GetDlgItemTextA(dialog, IDC_CHARACTERS, record->filterCharacters, MaxFilterCharacters + 1);

    char codesText[CodeListTextSize] = {};
    GetDlgItemTextA(dialog, IDC_CODES, codesText, CodesBoxReadLimit + 1);
    uint16_t codes[MaxFilterCodes + 1];
    ParseCodeList(codes, MaxFilterCodes, codesText);
    std::memcpy(record->filterCodes, codes, sizeof codes);
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DialogUserSlot, lParam);
        auto* param = reinterpret_cast<SetupDialogParam*>(lParam);
        if (param != nullptr && param->record != nullptr) ShowRecord(dialog, param->record);
        return TRUE;                        // the system sets the focus
    }
    if (message != WM_COMMAND) return 0;

    const int32_t command = LOWORD(wParam);
    if (command == IDOK) {
        EditData* record = DialogRecord(dialog);
        if (record != nullptr) StoreRecord(dialog, record);
        EndDialog(dialog, DialogOk);
    } else if (command == IDCANCEL) {
        EndDialog(dialog, DialogCancel);
    } else if (const SetupPreset* preset = FindSetupPreset(command)) {
        SetDlgItemTextA(dialog, IDC_CHARACTERS, preset->characters);
        SetDlgItemTextA(dialog, IDC_CODES, preset->codes);
    }
    return 0;
}

int32_t OpenSetupDialog(void* editorRecord, EditData* record) {
    SetupDialogParam param = {record, editorRecord};
    HWND parent = static_cast<HWND>(EditorRecordEntry(editorRecord, EditorParentEntry));
    return HostDialogBox(moduleInstance, IDD_SETUP, parent, SetupDialogProc, DialogArgument5,
                         DialogArgument6, DialogArgument7, &param);
}

}  // namespace

// The 32-bit names are the plain SetWindowLongA and GetWindowLongA at index 8.
static_assert(sizeof(void*) != 4 || DialogUserSlot == 8);

extern "C" {

int32_t CIPHREL_STDCALL CreateObject(void* editorRecord, int32_t, EditData* record) {
    if (!VersionOk(editorRecord)) return CreateRefused;
    InitEditData(record, HostVersion(editorRecord));
    return OpenSetupDialog(editorRecord, record);
}

int32_t CIPHREL_STDCALL SelectPopup(void* editorRecord, int32_t command, int32_t, int32_t,
                                    EditData* record, int32_t, int32_t) {
    if (!VersionOk(editorRecord)) return PopupUnchanged;
    if (command != SETUP_COMMAND) return PopupUnchanged;
    return OpenSetupDialog(editorRecord, record) == DialogOk ? PopupModified : PopupUnchanged;
}

}  // extern "C"
