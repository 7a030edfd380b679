// Filter set rules, seeding from an object's settings, and the %XX codec.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/filter.h"

namespace {

FilterSet MakeSet(const std::vector<uint8_t>& codes) {
    FilterSet set{};
    for (uint8_t c : codes) set.codes[set.count++] = c;
    return set;
}

std::vector<uint8_t> Codes(const FilterSet& set) {
    return std::vector<uint8_t>(set.codes, set.codes + set.count);
}

std::string Filter(const FilterSet& set, bool controlCodes, const std::string& in) {
    std::vector<char> out(3 * in.size() + 1, '#');
    FilterBytes(&set, controlCodes, out.data(), reinterpret_cast<const uint8_t*>(in.data()),
                in.size());
    return std::string(out.data());
}

// Decodes a text held at the very end of its own heap block, into an output block of
// exactly length + 1 bytes, so that reading past the NUL or writing past the output is
// caught by the address sanitizer.
std::string Defilter(const std::string& text) {
    char* in = static_cast<char*>(malloc(text.size() + 1));
    memcpy(in, text.c_str(), text.size() + 1);
    uint8_t* out = static_cast<uint8_t*>(malloc(text.size() + 1));
    uint32_t n = DefilterBytes(out, in, text.size());
    EXPECT_LE(n, text.size());
    EXPECT_EQ(out[n], 0) << "decoded bytes are followed by a NUL";
    std::string result(reinterpret_cast<char*>(out), n);
    free(in);
    free(out);
    return result;
}

TEST(Filter, EveryByteSurvivesEscapingWhilePercentAndZeroAreFiltered) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    for (bool controlCodes : {false, true}) {
        FilterSet set = MakeSet({PercentCode, 0, 200});
        std::string escaped = Filter(set, controlCodes, all);
        // 0, '%' and 200 always escaped, plus 1 to 31 while control codes are filtered.
        size_t escapes = controlCodes ? 34 : 3;
        EXPECT_EQ(escaped.size(), 256 + 2 * escapes) << "no raw NUL may cut the text short";
        EXPECT_EQ(escaped.substr(0, 3), "%00");
        EXPECT_NE(escaped.find("%25"), std::string::npos);
        EXPECT_NE(escaped.find("%C8"), std::string::npos);
        EXPECT_EQ(escaped.find("%09") != std::string::npos, controlCodes);
        EXPECT_EQ(Defilter(escaped), all);
    }
}

TEST(Filter, EscapesOnlyFilteredBytesWithUppercaseDigits) {
    struct Row { std::vector<uint8_t> codes; bool controlCodes; const char* in; const char* out; };
    const Row rows[] = {
        {{PercentCode, 0}, false, "50%", "50%25"},
        {{PercentCode, 0}, false, "a\tb", "a\tb"},
        {{PercentCode}, true, "\x1F ", "%1F "},
        {{PercentCode, 0, 233}, false, "\xE9\xEA", "%E9\xEA"},
        {{'a', 'b'}, false, "abc%", "%61%62c%"},      // '%' itself passes when not filtered
        {{0xAB, 0xFF}, false, "\xAB\xFF", "%AB%FF"},
        {{}, false, "", ""},
    };
    for (const Row& row : rows) {
        FilterSet set = MakeSet(row.codes);
        EXPECT_EQ(Filter(set, row.controlCodes, row.in), row.out) << row.in;
    }
}

TEST(Filter, DecoderTakesEveryPercentAsAnEscape) {
    struct Row { const char* in; std::string out; };
    const Row rows[] = {
        {"A%41B", "AAB"},
        {"%0a", "*"},                       // lowercase is no digit: 16 * 0 + (97 - 55)
        {"%41%42", "AB"},
        {"A%00B", std::string("A\0B", 3)},
        {"%ff", "\x1F"},                    // 16 * 47 + 47 = 799, low 8 bits 31
        {"%G0", std::string(1, '\0')},      // 16 * 16 = 256 wraps to 0
        {"50%25", "50%"},
        {"", ""},
        {"A%4", "A\x09"},                   // low digit is the NUL: 16 * 4 - 55 = 9
        {"%", "Y"},                         // both digits count as the NUL: -935 & 0xFF
        {"AB%", "ABY"},
        {"%%%", "\xCE"},                    // 16 * -18 - 18 = -306, low 8 bits 206
    };
    for (const Row& row : rows) EXPECT_EQ(Defilter(row.in), row.out) << row.in;
}

TEST(Filter, ControlCodesAreFilteredButUntouchableWhileTheFlagIsSet) {
    FilterSet set = MakeSet({PercentCode, 9});
    EXPECT_EQ(FindFilterCode(&set, true, 9), -2);
    EXPECT_EQ(FindFilterCode(&set, true, 31), -2);
    EXPECT_EQ(FindFilterCode(&set, true, 32), -1);
    EXPECT_EQ(FindFilterCode(&set, true, PercentCode), 0);
    EXPECT_FALSE(AddFilterCode(&set, true, 5));
    EXPECT_FALSE(RemoveFilterCode(&set, true, 9));
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{PercentCode, 9}));
    // With the flag clear the stored 9 counts again, and 5 never was stored.
    EXPECT_EQ(FindFilterCode(&set, false, 9), 1);
    EXPECT_EQ(FindFilterCode(&set, false, 5), -1);
    EXPECT_TRUE(RemoveFilterCode(&set, false, 9));
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{PercentCode}));
}

TEST(Filter, AddRefusesDuplicatesAndRemoveKeepsOrder) {
    FilterSet set = MakeSet({});
    for (uint8_t c : {'a', 'b', 'c', 'd'}) EXPECT_TRUE(AddFilterCode(&set, false, c));
    EXPECT_FALSE(AddFilterCode(&set, false, 'b'));
    EXPECT_TRUE(RemoveFilterCode(&set, false, 'b'));
    EXPECT_FALSE(RemoveFilterCode(&set, false, 'b'));
    EXPECT_TRUE(RemoveFilterCode(&set, false, 'a'));
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{'c', 'd'}));
}

TEST(Filter, FullSetRefusesEveryAddition) {
    FilterSet set = MakeSet({});
    for (int c = 255; c >= 0; --c) EXPECT_TRUE(AddFilterCode(&set, false, uint8_t(c)));
    EXPECT_EQ(set.count, 256);
    for (int c = 0; c < 256; ++c) EXPECT_FALSE(AddFilterCode(&set, false, uint8_t(c)));
    EXPECT_EQ(set.count, 256);
    EXPECT_EQ(FindFilterCode(&set, false, 0), 255);
}

TEST(Filter, SeedFillsAnEmptySetByTheFlag) {
    const uint16_t none[] = {0xFFFF};
    FilterSet set = MakeSet({});
    SeedFilterSet(&set, true, "", none, 26);
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{PercentCode}));

    // Filled while control codes were filtered; an object without the flag adds zero.
    set = MakeSet({PercentCode});
    SeedFilterSet(&set, false, "", none, 26);
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{PercentCode, 0}));

    // A set that is not empty gets no default fill.
    set = MakeSet({'q'});
    SeedFilterSet(&set, true, "", none, 26);
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{'q'}));
}

TEST(Filter, SeedAddsCharactersThenCodesThroughTheSetRules) {
    const uint16_t codes[] = {10, 12, 13, 0x141, 'b', 200, 0xFFFF, 77};
    FilterSet set = MakeSet({});
    SeedFilterSet(&set, false, "ab\t%", codes, 26);
    // Duplicates skipped; 0x141 contributes its low byte 'A'; nothing after the end mark.
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{PercentCode, 0, 'a', 'b', '\t', 10, 12, 13,
                                                'A', 200}));

    set = MakeSet({});
    SeedFilterSet(&set, true, "ab\t%", codes, 26);
    EXPECT_EQ(Codes(set), (std::vector<uint8_t>{PercentCode, 'a', 'b', 'A', 200}));
}

TEST(Filter, SeedReadsNoCodeBeyondTheGivenCount) {
    // A damaged list without its end mark, at the very end of a heap block.
    const int words = 26;
    uint16_t* codes = static_cast<uint16_t*>(malloc(words * sizeof(uint16_t)));
    for (int i = 0; i < words; ++i) codes[i] = uint16_t(100 + i);
    FilterSet set = MakeSet({PercentCode, 0});
    SeedFilterSet(&set, false, "", codes, words);
    EXPECT_EQ(set.count, 2 + words);
    EXPECT_EQ(set.codes[set.count - 1], 125);
    free(codes);
}

}  // namespace
