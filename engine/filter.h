// The character filter (which bytes must not appear literally) and the %XX escape codec.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint8_t PercentCode = 0x25;      // '%', the escape character

struct FilterSet {
    uint8_t codes[256];         // filtered byte codes in order of addition, none twice
    int32_t count;              // entries in use, 0 to 256
};

// FindFilterCode results besides an index.
constexpr int32_t FilterAbsent = -1;
constexpr int32_t FilterControlRefused = -2;   // a code 0-31 while control codes are filtered

int32_t FindFilterCode(const FilterSet* set, bool filterControlCodes, uint8_t code);
bool AddFilterCode(FilterSet* set, bool filterControlCodes, uint8_t code);
bool RemoveFilterCode(FilterSet* set, bool filterControlCodes, uint8_t code);

// What each new object does to the shared set: an empty set gets the default fill ('%',
// and the zero byte unless control codes are filtered); while control codes are not
// filtered the zero byte is added; then every byte of `characters` (up to its NUL) and the
// low byte of every word of `codes` (up to 0xFFFF, reading at most `maxCodes` words) go
// through AddFilterCode, so duplicates and refused control codes are left out.
void SeedFilterSet(FilterSet* set, bool filterControlCodes, const char* characters,
                   const uint16_t* codes, int maxCodes);

// Encodes exactly `length` bytes (zero bytes included) into `out`, which holds
// 3 * length + 1 bytes; filtered bytes become '%' and two uppercase hex digits.
void FilterBytes(const FilterSet* set, bool filterControlCodes, char* out,
                 const uint8_t* in, size_t length);
// Decodes the `length` characters of the NUL-terminated `in` into `out` (length + 1
// bytes); returns the number of bytes decoded, which a NUL follows.
uint32_t DefilterBytes(uint8_t* out, const char* in, size_t length);

char HexDigit(uint32_t value);
int32_t HexValue(uint8_t character);
