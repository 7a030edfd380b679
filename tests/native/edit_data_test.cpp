// EditData helpers: the code list in both directions, flags, new records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "designer/edit_data.h"

namespace {

std::vector<uint16_t> Parse(const char* text, uint16_t maxCount = MaxFilterCodes) {
    std::vector<uint16_t> list(static_cast<size_t>(maxCount) + 1, 0xABCD);
    ParseCodeList(list.data(), maxCount, text);
    std::vector<uint16_t> values;
    for (uint16_t v : list) {
        if (v == CodeListEnd) return values;
        values.push_back(v);
    }
    ADD_FAILURE() << "no CodeListEnd within " << maxCount + 1 << " words for '" << text << "'";
    return values;
}

struct ParseCase { const char* text; std::vector<uint16_t> values; };

TEST(ParseCodeList, ReadsDigitRunsAndDropsWhatDoesNotFit) {
    const ParseCase cases[] = {
        {"9 10 12 13", {9, 10, 12, 13}},
        {"", {}},
        {"abc xyz", {}},
        {"300 7 256 0255", {7, 255}},
        {"1,2;3x4", {1, 2, 3, 4}},
        {"-5", {5}},
        {"7, 300, 65", {7, 65}},
        {"a12b", {12}},
        {"999999999999 3", {3}},               // twelve digits: dropped, no overflow
        {"000000000000000000000000007", {7}},  // leading zeros however many
        {"0", {0}},
    };
    for (const ParseCase& c : cases) EXPECT_EQ(Parse(c.text), c.values) << c.text;
}

TEST(ParseCodeList, StopsAtTheMaximumCount) {
    std::string text;
    std::vector<uint16_t> expected;
    for (int i = 1; i <= 30; ++i) {
        text += std::to_string(i) + " ";
        if (i <= 25) expected.push_back(static_cast<uint16_t>(i));
    }
    EXPECT_EQ(Parse(text.c_str()), expected);
    EXPECT_EQ(Parse("1 2 3", 2), (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(Parse("1 2 3", 0), std::vector<uint16_t>{});
}

TEST(FormatCodeList, WritesEachValueAndASpaceAndAFullListFits) {
    const uint16_t some[] = {255, 0, 7, CodeListEnd};
    const uint16_t empty[] = {CodeListEnd};
    char small[CodeListTextSize];
    FormatCodeList(small, some);
    EXPECT_STREQ(small, "255 0 7 ");
    FormatCodeList(small, empty);
    EXPECT_STREQ(small, "");

    uint16_t list[MaxFilterCodes + 1];
    for (int i = 0; i < MaxFilterCodes; ++i) list[i] = static_cast<uint16_t>(230 + i);
    list[MaxFilterCodes] = CodeListEnd;
    char text[CodeListTextSize + 8];
    std::memset(text, 'Z', sizeof text);
    FormatCodeList(text, list);
    EXPECT_EQ(std::strlen(text), 100u);        // 25 values of three digits and a space
    EXPECT_EQ(text[101], 'Z') << "nothing written past the 101-byte buffer";
    uint16_t back[MaxFilterCodes + 1];
    ParseCodeList(back, MaxFilterCodes, text);
    EXPECT_EQ(std::memcmp(back, list, sizeof list), 0);
}

TEST(FormatCodeList, ListWithoutEndMarkerStopsAtItsWords) {
    uint16_t list[MaxFilterCodes + 4];
    for (uint16_t& v : list) v = 1;         // no CodeListEnd anywhere
    char text[CodeListTextSize];
    FormatCodeList(text, list);
    EXPECT_EQ(std::strlen(text), 50u) << "25 values of '1 '";
    EXPECT_EQ(CountFilterCodes(list), MaxFilterCodes + 1);
}

TEST(Flags, SetAndTestMasks) {
    uint16_t flags = 0;
    SetFlag(&flags, FlagNoPadding, true);
    EXPECT_EQ(flags, 2);
    EXPECT_FALSE(IsFlagSet(flags, FlagNoPadding | FlagFilterControlCodes));
    SetFlag(&flags, FlagFilterControlCodes, true);
    EXPECT_TRUE(IsFlagSet(flags, FlagNoPadding | FlagFilterControlCodes));
    flags |= 0x8000;
    SetFlag(&flags, FlagNoPadding, false);
    EXPECT_EQ(flags, 0x8001) << "other bits keep their values";
}

TEST(EditData, NewRecordValues) {
    EditData record;
    std::memset(&record, 0x5C, sizeof record);
    InitEditData(&record, 0x01050002);
    EXPECT_EQ(record.flags, 1);
    EXPECT_EQ(record.width, 32);
    EXPECT_EQ(record.height, 32);
    EXPECT_EQ(record.reserved, 0);
    EXPECT_EQ(record.hostVersion, 0x01050002u);
    EXPECT_STREQ(record.filterCharacters, "");
    EXPECT_EQ(record.filterCodes[0], 10);
    EXPECT_EQ(record.filterCodes[1], 12);
    EXPECT_EQ(record.filterCodes[2], 13);
    EXPECT_EQ(record.filterCodes[3], CodeListEnd);
    // The host's fields stay as the host made them.
    EXPECT_EQ(record.size, 0x5C5C);
    EXPECT_EQ(record.version, 0x5C5C);
    EXPECT_EQ(record.alignment1, 0x5C);
}

}  // namespace
