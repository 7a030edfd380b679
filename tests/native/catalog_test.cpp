// Event catalog: descriptor tables word for word, entry walking, codes from menu IDs.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "designer/catalog.h"

namespace {

struct Param {
    int16_t type;
    int16_t title;
};
struct Entry {
    int16_t menuId;
    int16_t stringId;
    int16_t code;
    int16_t flags;
    std::vector<Param> params;
};

// The tables as the event editor documents them, one row per entry.
const std::vector<Entry> ExpectedConditions = {
    {26000, 6000, 0, 0, {}},
    {26010, 6010, 1, 0x0220, {{45, 30001}}},
    {26020, 6020, 2, 0x0220, {{45, 30004}}},
    {26030, 6030, 3, 0x0220, {{22, 30003}}},
    {26040, 6040, 4, 0x0220, {}},
    {26050, 6050, 5, 0x0220, {}},
    {26060, 6060, 6, 0, {}},
    {26070, 6070, 7, 0x0220, {}},
};

const std::vector<Entry> ExpectedActions = {
    {25000, 5000, 0, 0, {{45, 30001}}},
    {25010, 5010, 1, 0, {{45, 30001}}},
    {25020, 5020, 2, 0, {{45, 30002}}},
    {25030, 5030, 3, 0, {{22, 30003}}},
    {25040, 5040, 4, 0, {{45, 30002}}},
    {25050, 5050, 5, 0, {{22, 30003}}},
    {25060, 5060, 6, 0, {}},
    {25070, 5070, 7, 0, {{45, 30001}, {45, 30005}}},
    {25080, 5080, 8, 0, {{45, 30001}, {45, 30005}}},
    {25090, 5090, 9, 0, {}},
    {25100, 5100, 10, 0, {}},
    {25110, 5110, 11, 0, {}},
    {25120, 5120, 12, 0, {}},
    {25130, 5130, 13, 0, {{22, 30006}}},
    {25140, 5140, 14, 0, {{22, 30007}}},
};

const std::vector<Entry> ExpectedExpressions = {
    {27000, 7000, 0, 0, {{3, 0}, {1, 0}, {1, 0}, {1, 0}}},
    {27010, 7010, 1, 0, {{1, 0}}},
    {27020, 7020, 2, 0x0001, {{3, 0}, {3, 0}}},
    {27030, 7030, 3, 0, {{3, 0}, {1, 0}, {1, 0}, {1, 0}}},
    {27040, 7040, 4, 0x0002, {{1, 0}}},
    {27050, 7050, 5, 0x0001, {{3, 0}, {3, 0}}},
    {27060, 7060, 6, 0x0001, {{3, 0}}},
    {27070, 7070, 7, 0x0001, {{3, 0}}},
    {27080, 7080, 8, 0, {}},
    {27090, 7090, 9, 0, {}},
    {27100, 7100, 10, 0x0001, {{1, 0}}},
    {27110, 7110, 11, 0, {}},
    {27120, 7120, 12, 0, {}},
    {27130, 7130, 13, 0, {}},
    {27140, 7140, 14, 0, {}},
};

// Lays an entry out as the host reads it: five words, the types, then the titles.
std::vector<int16_t> Words(const Entry& e) {
    std::vector<int16_t> words = {e.menuId, e.stringId, e.code, e.flags,
                                  static_cast<int16_t>(e.params.size())};
    for (const Param& p : e.params) words.push_back(p.type);
    for (const Param& p : e.params) words.push_back(p.title);
    return words;
}

struct TableCase {
    CatalogKind kind;
    const std::vector<Entry>* expected;
    int32_t menuResource;
    int32_t wordCount;
};

const TableCase Tables[] = {
    {CatalogKind::Condition, &ExpectedConditions, 20001, 46},
    {CatalogKind::Action, &ExpectedActions, 20000, 99},
    {CatalogKind::Expression, &ExpectedExpressions, 20002, 109},
};

}  // namespace

TEST(Catalog, TablesMatchWordForWord) {
    for (const TableCase& table : Tables) {
        const Catalog& catalog = GetCatalog(table.kind);
        std::vector<int16_t> expected;
        for (const Entry& e : *table.expected) {
            const std::vector<int16_t> words = Words(e);
            expected.insert(expected.end(), words.begin(), words.end());
        }
        ASSERT_EQ(static_cast<int32_t>(expected.size()), table.wordCount);
        ASSERT_EQ(catalog.wordCount, table.wordCount);
        EXPECT_EQ(catalog.entryCount, static_cast<int32_t>(table.expected->size()));
        EXPECT_EQ(catalog.menuResource, table.menuResource);
        for (int32_t i = 0; i < table.wordCount; ++i)
            ASSERT_EQ(catalog.words[i], expected[static_cast<size_t>(i)])
                << "word " << i << " of the table of menu " << table.menuResource;
    }
}

TEST(Catalog, FindEntryWalksToEveryCode) {
    for (const TableCase& table : Tables) {
        const Catalog& catalog = GetCatalog(table.kind);
        int32_t offset = 0;
        for (const Entry& e : *table.expected) {
            const int16_t* entry = FindEntry(catalog, e.code);
            ASSERT_NE(entry, nullptr) << "code " << e.code;
            EXPECT_EQ(entry - catalog.words, offset) << "code " << e.code;
            offset += static_cast<int32_t>(Words(e).size());
        }
        const int16_t absent[] = {-1, static_cast<int16_t>(table.expected->size()), 100,
                                  static_cast<int16_t>(table.menuResource)};
        for (int16_t code : absent) EXPECT_EQ(FindEntry(catalog, code), nullptr) << code;
    }
}

TEST(Catalog, CodeFromEveryMenuIdAndNoneFromForeignIds) {
    for (const TableCase& table : Tables) {
        const Catalog& catalog = GetCatalog(table.kind);
        for (const Entry& e : *table.expected)
            EXPECT_EQ(CodeFromMenuId(catalog, static_cast<uint16_t>(e.menuId)), e.code);
        for (const TableCase& other : Tables) {
            if (other.kind == table.kind) continue;
            for (const Entry& e : *other.expected)
                EXPECT_EQ(CodeFromMenuId(catalog, static_cast<uint16_t>(e.menuId)), -1)
                    << "menu ID " << e.menuId << " in table of menu " << table.menuResource;
        }
        // Between the IDs, one past the last, resource and string numbers, all bits set.
        const uint16_t base = static_cast<uint16_t>(catalog.menuIdBase);
        const uint16_t foreign[] = {0, static_cast<uint16_t>(base + 5),
                                    static_cast<uint16_t>(base + 10 * catalog.entryCount),
                                    static_cast<uint16_t>(table.menuResource),
                                    static_cast<uint16_t>(catalog.stringIdBase), 0xFFFF};
        for (uint16_t id : foreign) EXPECT_EQ(CodeFromMenuId(catalog, id), -1) << id;
    }
}

TEST(Catalog, TitleIdsByParameterAndNoneBeyondTheCount) {
    const Catalog& actions = GetCatalog(CatalogKind::Action);
    const int16_t* encryptFile = FindEntry(actions, 7);
    ASSERT_NE(encryptFile, nullptr);
    EXPECT_EQ(EntryTitleId(encryptFile, 0), 30001);
    EXPECT_EQ(EntryTitleId(encryptFile, 1), 30005);
    EXPECT_EQ(EntryTitleId(encryptFile, 2), -1);
    EXPECT_EQ(EntryTitleId(encryptFile, -1), -1);
    EXPECT_EQ(EntryTitleId(FindEntry(actions, 6), 0), -1);
    EXPECT_EQ(EntryTitleId(FindEntry(GetCatalog(CatalogKind::Expression), 2), 1), 0);
}
