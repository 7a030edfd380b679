// Event catalog: descriptor tables of conditions, actions and expressions, and lookups.
#pragma once
#include <cstdint>

enum class CatalogKind { Condition, Action, Expression };

// An entry is 5 + 2n 16-bit words: menu ID, string ID, code, flags, n, then n parameter
// types and n title IDs. The host reads an entry from its code word on.
constexpr int EntryMenuIdWord = 0;
constexpr int EntryStringIdWord = 1;
constexpr int EntryCodeWord = 2;
constexpr int EntryFlagsWord = 3;
constexpr int EntryParameterCountWord = 4;
constexpr int EntryFirstTypeWord = 5;

// Parameter types: conditions and actions receive texts and numbers as arguments,
// expressions fetch theirs through the host.
constexpr int16_t ParamTypeText = 45;
constexpr int16_t ParamTypeNumber = 22;
constexpr int16_t ParamTypeExpressionText = 3;
constexpr int16_t ParamTypeExpressionNumber = 1;

// Entry flags: a condition that tests a state (the two the object raises as events carry
// 0), and the result kind of an expression (0 an integer).
constexpr int16_t FlagTestsState = 0x0220;
constexpr int16_t FlagResultString = 0x0001;
constexpr int16_t FlagResultFloat = 0x0002;

constexpr int32_t NoCode = -1;          // code-from-menu answer for a foreign menu ID
constexpr int32_t NoTitle = -1;         // title ID of a parameter the entry does not have

struct Catalog {
    const int16_t* words;       // the entries in code order, without gaps; static storage
    int32_t wordCount;
    int32_t entryCount;         // 8 conditions, 15 actions, 15 expressions
    int32_t menuIdBase;         // menu ID of code c: menuIdBase + 10c
    int32_t stringIdBase;       // string ID of code c: stringIdBase + 10c
    int32_t menuResource;       // the menu resource listing the entries
};

const Catalog& GetCatalog(CatalogKind kind);

// The entry whose code word equals `code`, walking from the first entry 5 + 2n words at a
// time; null when no entry has that code.
const int16_t* FindEntry(const Catalog& catalog, int16_t code);

// The code of the first of the table's entries whose menu ID is `menuId`, or NoCode.
int32_t CodeFromMenuId(const Catalog& catalog, uint16_t menuId);

// Title ID of parameter `parameter` of an entry (0: the menu text serves as title), or
// NoTitle when the entry has no such parameter.
int32_t EntryTitleId(const int16_t* entry, int32_t parameter);
