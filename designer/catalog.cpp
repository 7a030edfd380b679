// Descriptor tables of the event catalog and the lookups in them.
#include "designer/catalog.h"

#include <cstddef>

#include "resources/resource_ids.h"

namespace {

constexpr int16_t Text = ParamTypeText;
constexpr int16_t Number = ParamTypeNumber;
constexpr int16_t ExprText = ParamTypeExpressionText;
constexpr int16_t ExprNumber = ParamTypeExpressionNumber;
constexpr int16_t State = FlagTestsState;
constexpr int16_t String = FlagResultString;
constexpr int16_t Float = FlagResultFloat;

// menu ID, string ID, code, flags, parameter count, parameter types, title IDs
const int16_t ConditionWords[] = {
    IDM_C_ON_ERROR,      6000, 0, 0,     0,
    IDM_C_KEY_EXISTS,    6010, 1, State, 1, Text,   IDS_TITLE_KEY,
    IDM_C_CHAR_FILTERED, 6020, 2, State, 1, Text,   IDS_TITLE_CHARACTER,
    IDM_C_CODE_FILTERED, 6030, 3, State, 1, Number, IDS_TITLE_CHARACTER_CODE,
    IDM_C_PADDING,       6040, 4, State, 0,
    IDM_C_CONTROL_CODES, 6050, 5, State, 0,
    IDM_C_FILE_DONE,     6060, 6, 0,     0,
    IDM_C_FILE_BUSY,     6070, 7, State, 0,
};

const int16_t ActionWords[] = {
    IDM_A_ADD_KEY,          5000, 0,  0, 1, Text,   IDS_TITLE_KEY,
    IDM_A_REMOVE_KEY,       5010, 1,  0, 1, Text,   IDS_TITLE_KEY,
    IDM_A_ADD_CHARS,        5020, 2,  0, 1, Text,   IDS_TITLE_CHARACTERS,
    IDM_A_ADD_CODE,         5030, 3,  0, 1, Number, IDS_TITLE_CHARACTER_CODE,
    IDM_A_REMOVE_CHARS,     5040, 4,  0, 1, Text,   IDS_TITLE_CHARACTERS,
    IDM_A_REMOVE_CODE,      5050, 5,  0, 1, Number, IDS_TITLE_CHARACTER_CODE,
    IDM_A_CLEAR_EXPR_ERROR, 5060, 6,  0, 0,
    IDM_A_ENCRYPT_FILE,     5070, 7,  0, 2, Text, Text, IDS_TITLE_KEY, IDS_TITLE_FILE,
    IDM_A_DECRYPT_FILE,     5080, 8,  0, 2, Text, Text, IDS_TITLE_KEY, IDS_TITLE_FILE,
    IDM_A_NO_PADDING,       5090, 9,  0, 0,
    IDM_A_PADDING,          5100, 10, 0, 0,
    IDM_A_ENABLE_CONTROL,   5110, 11, 0, 0,
    IDM_A_DISABLE_CONTROL,  5120, 12, 0, 0,
    IDM_A_TIME_INTERVAL,    5130, 13, 0, 1, Number, IDS_TITLE_TIME_INTERVAL,
    IDM_A_PERCENT_INTERVAL, 5140, 14, 0, 1, Number, IDS_TITLE_PERCENT_INTERVAL,
};

// Every expression parameter is titled by the expression's menu text (title ID 0).
const int16_t ExpressionWords[] = {
    IDM_E_ENCRYPT_INT,      7000, 0,  0,      4, ExprText, ExprNumber, ExprNumber, ExprNumber,
                                                 0, 0, 0, 0,
    IDM_E_TO_INT,           7010, 1,  0,      1, ExprNumber, 0,
    IDM_E_ENCRYPT_STRING,   7020, 2,  String, 2, ExprText, ExprText, 0, 0,
    IDM_E_DECRYPT_INT,      7030, 3,  0,      4, ExprText, ExprNumber, ExprNumber, ExprNumber,
                                                 0, 0, 0, 0,
    IDM_E_TO_FLOAT,         7040, 4,  Float,  1, ExprNumber, 0,
    IDM_E_DECRYPT_STRING,   7050, 5,  String, 2, ExprText, ExprText, 0, 0,
    IDM_E_FILTER_STRING,    7060, 6,  String, 1, ExprText, 0,
    IDM_E_DEFILTER_STRING,  7070, 7,  String, 1, ExprText, 0,
    IDM_E_ERROR_CODE,       7080, 8,  0,      0,
    IDM_E_EXPR_ERROR_CODE,  7090, 9,  0,      0,
    IDM_E_RANDOM_KEY,       7100, 10, String, 1, ExprNumber, 0,
    IDM_E_TIME_INTERVAL,    7110, 11, 0,      0,
    IDM_E_PROGRESS,         7120, 12, 0,      0,
    IDM_E_PERCENT_INTERVAL, 7130, 13, 0,      0,
    IDM_E_FILE_SIZE,        7140, 14, 0,      0,
};

// 5 words per entry plus 2 per parameter: 3, 12 and 17 parameters in all.
static_assert(sizeof ConditionWords / sizeof(int16_t) == 8 * 5 + 2 * 3);
static_assert(sizeof ActionWords / sizeof(int16_t) == 15 * 5 + 2 * 12);
static_assert(sizeof ExpressionWords / sizeof(int16_t) == 15 * 5 + 2 * 17);

template <size_t N>
constexpr int32_t Count(const int16_t (&)[N]) { return static_cast<int32_t>(N); }

const Catalog Conditions = {ConditionWords, Count(ConditionWords), 8,
                            CONDITION_MENU_BASE, CONDITION_STRING_BASE, IDR_CONDITION_MENU};
const Catalog Actions = {ActionWords, Count(ActionWords), 15,
                         ACTION_MENU_BASE, ACTION_STRING_BASE, IDR_ACTION_MENU};
const Catalog Expressions = {ExpressionWords, Count(ExpressionWords), 15,
                             EXPRESSION_MENU_BASE, EXPRESSION_STRING_BASE, IDR_EXPRESSION_MENU};

int32_t EntryLength(const int16_t* entry) { return 5 + 2 * entry[EntryParameterCountWord]; }

}  // namespace

const Catalog& GetCatalog(CatalogKind kind) {
    switch (kind) {
    case CatalogKind::Condition: return Conditions;
    case CatalogKind::Action: return Actions;
    case CatalogKind::Expression: break;
    }
    return Expressions;
}

const int16_t* FindEntry(const Catalog& catalog, int16_t code) {
    for (int32_t at = 0; at + EntryFirstTypeWord <= catalog.wordCount;) {
        const int16_t* entry = catalog.words + at;
        if (entry[EntryCodeWord] == code) return entry;
        at += EntryLength(entry);
    }
    return nullptr;
}

int32_t CodeFromMenuId(const Catalog& catalog, uint16_t menuId) {
    const int16_t* entry = catalog.words;
    for (int32_t i = 0; i < catalog.entryCount; ++i) {
        if (static_cast<uint16_t>(entry[EntryMenuIdWord]) == menuId)
            return entry[EntryCodeWord];
        entry += EntryLength(entry);
    }
    return NoCode;
}

int32_t EntryTitleId(const int16_t* entry, int32_t parameter) {
    const int32_t count = entry[EntryParameterCountWord];
    if (parameter < 0 || parameter >= count) return NoTitle;
    return entry[EntryFirstTypeWord + count + parameter];
}
