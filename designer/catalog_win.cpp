// Event-editor exports: menus, codes from menu commands, descriptors, texts and titles.
#include <windows.h>

#include "designer/catalog.h"
#include "designer/editor_record.h"
#include "designer/exports.h"
#include "runtime/module_win.h"

namespace {

constexpr int MenuTextSize = 80;    // one level's text buffer: texts of up to 79 characters
constexpr UINT PopupItemId = 0xFFFFFFFF;
constexpr UINT SeparatorItemId = 0;
constexpr UINT ItemStateFlags = MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_MENUBREAK |
                                MF_MENUBARBREAK;

bool VersionOk(const void* editorRecord) {
    return editorRecord != nullptr && HostVersionOk(editorRecord);
}

// Appends a copy of every item of `source` to `destination`, nested popups included.
void CopyPopup(HMENU source, HMENU destination) {
    char* text = static_cast<char*>(LocalAlloc(LPTR, MenuTextSize));
    if (text == nullptr) return;
    const int count = GetMenuItemCount(source);
    for (int position = 0; position < count; ++position) {
        const UINT id = GetMenuItemID(source, position);
        if (id == SeparatorItemId) {
            AppendMenuA(destination, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        text[0] = '\0';
        GetMenuStringA(source, static_cast<UINT>(position), text, MenuTextSize, MF_BYPOSITION);
        if (id == PopupItemId) {
            HMENU popup = CreatePopupMenu();
            if (popup == nullptr) continue;
            if (!AppendMenuA(destination, MF_POPUP | MF_STRING,
                             reinterpret_cast<UINT_PTR>(popup), text)) {
                DestroyMenu(popup);
                continue;
            }
            CopyPopup(GetSubMenu(source, position), popup);
        } else {
            UINT state = GetMenuState(source, static_cast<UINT>(position), MF_BYPOSITION);
            if (state == 0xFFFFFFFF) state = 0;
            AppendMenuA(destination, MF_STRING | (state & ItemStateFlags), id, text);
        }
    }
    LocalFree(text);
}

// A new popup menu copied from the first popup of menu resource `resource`, or null.
HMENU CopyMenuResource(int32_t resource) {
    HMENU loaded = LoadMenuA(moduleInstance, MAKEINTRESOURCEA(resource));
    if (loaded == nullptr) return nullptr;
    HMENU result = nullptr;
    HMENU first = GetSubMenu(loaded, 0);
    if (first != nullptr) {
        result = CreatePopupMenu();
        if (result != nullptr) CopyPopup(first, result);
    }
    DestroyMenu(loaded);
    return result;
}

void* CatalogMenu(CatalogKind kind, void* editorRecord) {
    if (!VersionOk(editorRecord)) return nullptr;
    return CopyMenuResource(GetCatalog(kind).menuResource);
}

int32_t CatalogCode(CatalogKind kind, int32_t menuId) {
    return CodeFromMenuId(GetCatalog(kind), static_cast<uint16_t>(menuId));
}

const int16_t* CatalogInfos(CatalogKind kind, int32_t code) {
    const int16_t* entry = FindEntry(GetCatalog(kind), static_cast<int16_t>(code));
    return entry != nullptr ? entry + EntryCodeWord : nullptr;
}

// Loads string `id` into the host's buffer; a missing string leaves the empty text.
void LoadText(int32_t id, char* text, int size) {
    if (LoadStringA(moduleInstance, static_cast<UINT>(id), text, size) == 0) text[0] = '\0';
}

void CatalogString(CatalogKind kind, void* editorRecord, int32_t code, char* text,
                   int32_t size) {
    if (!VersionOk(editorRecord)) return;
    const uint16_t capacity = static_cast<uint16_t>(size);
    if (text == nullptr || capacity == 0) return;
    const int16_t* entry = FindEntry(GetCatalog(kind), static_cast<int16_t>(code));
    if (entry == nullptr) {
        text[0] = '\0';
        return;
    }
    LoadText(static_cast<uint16_t>(entry[EntryStringIdWord]), text, capacity);
}

// Title 0 means the entry's own menu text, found by command anywhere in its menu.
void CatalogTitle(CatalogKind kind, int32_t code, int32_t parameter, char* text,
                  int32_t size) {
    const uint16_t capacity = static_cast<uint16_t>(size);
    if (text == nullptr || capacity == 0) return;
    const Catalog& catalog = GetCatalog(kind);
    const int16_t* entry = FindEntry(catalog, static_cast<int16_t>(code));
    const int32_t titleId =
        entry != nullptr ? EntryTitleId(entry, static_cast<int16_t>(parameter)) : NoTitle;
    if (titleId == NoTitle) {
        text[0] = '\0';
        return;
    }
    if (titleId != 0) {
        LoadText(titleId, text, capacity);
        return;
    }
    HMENU menu = LoadMenuA(moduleInstance, MAKEINTRESOURCEA(catalog.menuResource));
    if (menu == nullptr) return;
    const UINT menuId = static_cast<uint16_t>(entry[EntryMenuIdWord]);
    if (GetMenuStringA(menu, menuId, text, capacity, MF_BYCOMMAND) == 0) text[0] = '\0';
    DestroyMenu(menu);
}

}  // namespace

extern "C" {

void* CIPHREL_STDCALL GetConditionMenu(void* editorRecord, int32_t, int32_t) {
    return CatalogMenu(CatalogKind::Condition, editorRecord);
}
void* CIPHREL_STDCALL GetActionMenu(void* editorRecord, int32_t, int32_t) {
    return CatalogMenu(CatalogKind::Action, editorRecord);
}
void* CIPHREL_STDCALL GetExpressionMenu(void* editorRecord, int32_t, int32_t) {
    return CatalogMenu(CatalogKind::Expression, editorRecord);
}

int32_t CIPHREL_STDCALL GetConditionCodeFromMenu(void*, int32_t menuId) {
    return CatalogCode(CatalogKind::Condition, menuId);
}
int32_t CIPHREL_STDCALL GetActionCodeFromMenu(void*, int32_t menuId) {
    return CatalogCode(CatalogKind::Action, menuId);
}
int32_t CIPHREL_STDCALL GetExpressionCodeFromMenu(void*, int32_t menuId) {
    return CatalogCode(CatalogKind::Expression, menuId);
}

const int16_t* CIPHREL_STDCALL GetConditionInfos(void*, int32_t code) {
    return CatalogInfos(CatalogKind::Condition, code);
}
const int16_t* CIPHREL_STDCALL GetActionInfos(void*, int32_t code) {
    return CatalogInfos(CatalogKind::Action, code);
}
const int16_t* CIPHREL_STDCALL GetExpressionInfos(void*, int32_t code) {
    return CatalogInfos(CatalogKind::Expression, code);
}

void CIPHREL_STDCALL GetConditionString(void* editorRecord, int32_t code, char* text,
                                        int32_t size) {
    CatalogString(CatalogKind::Condition, editorRecord, code, text, size);
}
void CIPHREL_STDCALL GetActionString(void* editorRecord, int32_t code, char* text,
                                     int32_t size) {
    CatalogString(CatalogKind::Action, editorRecord, code, text, size);
}
void CIPHREL_STDCALL GetExpressionString(void* editorRecord, int32_t code, char* text,
                                         int32_t size) {
    CatalogString(CatalogKind::Expression, editorRecord, code, text, size);
}

void CIPHREL_STDCALL GetConditionTitle(void*, int32_t code, int32_t parameter, char* text,
                                       int32_t size) {
    CatalogTitle(CatalogKind::Condition, code, parameter, text, size);
}
void CIPHREL_STDCALL GetActionTitle(void*, int32_t code, int32_t parameter, char* text,
                                    int32_t size) {
    CatalogTitle(CatalogKind::Action, code, parameter, text, size);
}
// An expression's parameters all carry its menu text, so the first one stands for all.
void CIPHREL_STDCALL GetExpressionTitle(void*, int32_t code, char* text, int32_t size) {
    CatalogTitle(CatalogKind::Expression, code, 0, text, size);
}

}  // extern "C"
