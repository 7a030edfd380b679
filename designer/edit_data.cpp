// EditData helpers: flags, the code list and its text form, new records and the upgrade.
#include "designer/edit_data.h"

#include <cstdio>
#include <cstring>

bool IsFlagSet(uint16_t flags, uint16_t mask) { return (flags & mask) == mask; }

void SetFlag(uint16_t* flags, uint16_t mask, bool on) {
    *flags = static_cast<uint16_t>(on ? (*flags | mask) : (*flags & ~mask));
}

void ParseCodeList(uint16_t* list, uint16_t maxCount, const char* text) {
    int stored = 0;
    uint32_t value = 0;
    bool inNumber = false;
    bool tooLarge = false;      // a run past 255 is dropped however long it grows
    for (const char* p = text; stored < maxCount; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            inNumber = true;
            if (!tooLarge) {
                value = value * 10 + static_cast<uint32_t>(c - '0');
                tooLarge = value > 255;
            }
        } else {
            if (inNumber && !tooLarge) list[stored++] = static_cast<uint16_t>(value);
            inNumber = false;
            tooLarge = false;
            value = 0;
        }
        if (c == '\0') break;       // the NUL ends the last run too
    }
    list[stored] = CodeListEnd;
}

void FormatCodeList(char* text, const uint16_t* list, int maxCount) {
    char* out = text;
    for (int i = 0; i < maxCount && list[i] != CodeListEnd; ++i)
        out += std::snprintf(out, 5, "%u ", static_cast<unsigned>(list[i] & 0xFF));
    *out = '\0';
}

int CountFilterCodes(const uint16_t* codes) {
    int n = 0;
    while (n < MaxFilterCodes + 1 && codes[n] != CodeListEnd) ++n;
    return n;
}

void InitEditData(EditData* record, uint32_t hostVersion) {
    record->height = 32;
    record->width = 32;
    record->reserved = 0;
    record->hostVersion = hostVersion;
    record->flags = FlagFilterControlCodes;
    record->filterCharacters[0] = '\0';
    ParseCodeList(record->filterCodes, MaxFilterCodes, "10 12 13");
}

bool UpgradeEditData(EditData* upgraded, const EditData* stored, uint32_t hostVersion) {
    if (stored->version != 1) return false;
    // A bad size must neither read nor write past the 100 bytes of the new record.
    int copy = stored->size;
    if (copy < 0) copy = 0;
    if (copy > EditDataSize) copy = EditDataSize;
    std::memcpy(upgraded, stored, static_cast<size_t>(copy));
    upgraded->hostVersion = hostVersion;
    upgraded->version = EditDataVersion;
    upgraded->size = EditDataSize;
    return true;
}
