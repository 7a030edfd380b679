// Edit-time helpers: the event catalog, the code list, new records, presets, the object's
// rectangle and size, bitmap sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "designer/catalog.h"
#include "designer/edit_data.h"
#include "designer/editor_object.h"
#include "tests/test_files.h"

namespace {

using Values = std::vector<uint16_t>;

Values Parse(const std::string& text, uint16_t maxCount = MaxFilterCodes) {
    Values list(maxCount + 1u, 0xABCD);
    ParseCodeList(list.data(), maxCount, text.c_str());
    return Values(list.begin(), std::find(list.begin(), list.end(), CodeListEnd));
}

TEST(Catalog, EntriesAsTheEventEditorReadsThem) {
    const char* const names[] = {"condition", "action", "expression"};     // CatalogKind's order
    std::vector<int16_t> expected[3];
    std::vector<std::vector<std::string>> entries[3];
    for (const auto& row : testfiles::DataRows("catalog.tsv")) {
        const size_t k = size_t(std::find(names, names + 3, row[0]) - names);
        ASSERT_LT(k, 3u);
        entries[k].push_back(row);
        for (size_t i = 1; i < 5; ++i) expected[k].push_back(int16_t(std::stoi(row[i])));
        expected[k].push_back(int16_t(row.size() - 5));
        for (size_t i = 5; i < row.size(); ++i) expected[k].push_back(int16_t(std::stoi(row[i])));
        for (size_t i = 5; i < row.size(); ++i)
            expected[k].push_back(int16_t(std::stoi(row[i].substr(row[i].find('/') + 1))));
    }
    for (size_t k = 0; k < 3; ++k) {
        const Catalog& catalog = GetCatalog(CatalogKind(k));
        ASSERT_EQ(std::vector<int16_t>(catalog.words, catalog.words + catalog.wordCount),
                  expected[k]) << k;
        ASSERT_EQ(catalog.entryCount, int32_t(entries[k].size()));
        for (const auto& row : entries[k]) {
            const int16_t code = int16_t(std::stoi(row[3]));
            const uint16_t menuId = uint16_t(std::stoi(row[1]));
            const int16_t* entry = FindEntry(catalog, code);
            ASSERT_TRUE(entry && entry[EntryMenuIdWord] == int16_t(menuId)) << menuId;
            EXPECT_EQ(CodeFromMenuId(catalog, menuId), code);
            EXPECT_EQ(EntryTitleId(entry, int32_t(row.size()) - 5), NoTitle);
            for (size_t other = (k + 1) % 3; other != k; other = (other + 1) % 3)
                EXPECT_EQ(CodeFromMenuId(GetCatalog(CatalogKind(other)), menuId), NoCode);
        }
        EXPECT_EQ(FindEntry(catalog, int16_t(entries[k].size())), nullptr);
        EXPECT_EQ(CodeFromMenuId(catalog, uint16_t(catalog.menuIdBase + 5)), NoCode);
    }
    EXPECT_EQ(EntryTitleId(FindEntry(GetCatalog(CatalogKind::Action), 7), 1), 30005);
}

TEST(CodeList, ParsesDigitRunsAndFormatsBack) {
    struct Case { const char* text; Values values; };
    const Case cases[] = {
        {"9 10 12 13", {9, 10, 12, 13}}, {"", {}}, {"300 7 256 0255", {7, 255}},
        {"1,2;3x4", {1, 2, 3, 4}}, {"-5", {5}}, {"999999999999 3", {3}},
        {"000000000000000000000000007", {7}},
    };
    for (const Case& c : cases) EXPECT_EQ(Parse(c.text), c.values) << c.text;
    EXPECT_EQ(Parse("1 2 3", 2), (Values{1, 2}));
    // Each code and a space; a full list of three-digit codes fills the whole text.
    const uint16_t few[] = {9, 266, CodeListEnd};     // the low byte, as parsed codes are
    Values full(MaxFilterCodes, 255);
    full.push_back(CodeListEnd);
    char text[CodeListTextSize + 1];
    text[CodeListTextSize] = 'Z';
    FormatCodeList(text, few);
    EXPECT_STREQ(text, "9 10 ");
    FormatCodeList(text, full.data());
    EXPECT_EQ(std::strlen(text), CodeListTextSize - 1);
    EXPECT_EQ(text[CodeListTextSize], 'Z');
}

TEST(EditData, NewRecordAndPresets) {
    EditData record;
    std::memset(&record, 0x5C, sizeof record);
    InitEditData(&record, 0x01050002);
    EXPECT_EQ(record.flags, FlagFilterControlCodes);
    EXPECT_TRUE(record.width == 32 && record.height == 32 && record.hostVersion == 0x01050002u &&
                record.filterCharacters[0] == '\0');
    EXPECT_EQ(Values(record.filterCodes, record.filterCodes + 4),
              (Values{10, 12, 13, CodeListEnd}));
    EXPECT_EQ(record.version, 0x5C5C) << "the host's fields stay as they were";
    EXPECT_STREQ(FindSetupPreset(9006)->codes, "10 12 13");
    EXPECT_STREQ(FindSetupPreset(9007)->characters, "&=,. ?+");
    EXPECT_STREQ(FindSetupPreset(9007)->codes, "9 10 12 13");
    EXPECT_EQ(FindSetupPreset(9008), nullptr);
}

TEST(EditorObject, RectangleSizeAndBitmapSizes) {
    EditData record{};
    record.width = -16;                     // signed 16-bit fields
    record.height = 32;
    ObjectRect rect = {100, 40, 0, 0};
    CompleteObjectRect(&rect, &record);
    EXPECT_TRUE(rect.right == 84 && rect.bottom == 72);
    const uint8_t size[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0x40, 0x01, 0x18, 0x00};   // 320 x 24
    ApplyModification(&record, 1, size);
    EXPECT_EQ(record.width, -16);
    ApplyModification(&record, ModifySize, size);
    EXPECT_TRUE(record.width == 320 && record.height == 24);
    struct Case { uint32_t width, height; uint16_t bits; uint32_t size; };
    const Case cases[] = {{32, 32, 4, 616}, {32, 32, 24, 40 + 3072}, {33, 2, 4, 40 + 64 + 40},
                          {3, 5, 24, 40 + 60}, {0x10020, 0x10003, 4, 40 + 64 + 48}};
    for (const Case& c : cases) {
        uint8_t header[40] = {40};
        std::memcpy(header + 4, &c.width, 4);
        std::memcpy(header + 8, &c.height, 4);
        std::memcpy(header + 14, &c.bits, 2);
        EXPECT_EQ(PackedBitmapSize(header), c.size) << c.width << " x " << c.height;
    }
}

}  // namespace
