// A key given as text stands for the Windows-1252 bytes of its characters, since a game's
// own text is Windows-1252: the same key then gives the same cipher text in the game and
// here, on any system and in any console.
#include <cstdio>

#include "cli/cli.h"

namespace {

// Windows-1252's bytes 0x80 to 0x9F; 0 where it defines none (those five bytes stand for the
// code points of the same value, as Windows converts them).
const uint16_t HighCodes[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The byte for a code point, or -1 when Windows-1252 has none.
int ByteOf(uint32_t point) {
    if (point < 0x80 || (point >= 0xA0 && point <= 0xFF)) return static_cast<int>(point);
    if (point < 0xA0 && HighCodes[point - 0x80] == 0) return static_cast<int>(point);
    for (int i = 0; i < 32; ++i) {
        if (HighCodes[i] != 0 && HighCodes[i] == point) return 0x80 + i;
    }
    return -1;
}

// Decodes one UTF-8 sequence at `i`, strictly (no overlong forms, surrogates or values
// past U+10FFFF). Its length, or 0 when the bytes there are not UTF-8.
size_t DecodeUtf8(const std::string& text, size_t i, uint32_t* point) {
    auto byte = [&](size_t at) { return static_cast<uint8_t>(text[at]); };
    uint8_t lead = byte(i);
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    static const uint8_t LeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    *point = lead & LeadMask[length];
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        *point = *point << 6 | (byte(i + k) & 0x3Fu);
    }
    static const uint32_t Least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (*point < Least[length] || *point > 0x10FFFF || (*point >= 0xD800 && *point <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

bool KeyTextBytes(const std::string& utf8, std::string* bytes, std::string* problem) {
    bytes->clear();
    for (size_t i = 0; i < utf8.size();) {
        uint32_t point = 0;
        size_t length = DecodeUtf8(utf8, i, &point);
        char where[48];
        if (length == 0) {
            std::snprintf(where, sizeof where, "byte 0x%02X at position %zu",
                          static_cast<unsigned>(static_cast<uint8_t>(utf8[i])), i + 1);
            *problem = std::string("the key text is not UTF-8 (") + where +
                       "); give the key's bytes with --key-hex";
            return false;
        }
        int byte = ByteOf(point);
        if (byte < 0) {
            std::snprintf(where, sizeof where, "U+%04X", static_cast<unsigned>(point));
            *problem = "the key text holds '" + utf8.substr(i, length) + "' (" + where +
                       "), which a game's text (Windows-1252) cannot hold; give the key's "
                       "bytes with --key-hex";
            return false;
        }
        bytes->push_back(static_cast<char>(byte));
        i += length;
    }
    return true;
}
