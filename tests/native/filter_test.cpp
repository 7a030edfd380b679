// The filter set's rules and the %XX codec.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/filter.h"

namespace {

using Codes = std::vector<uint8_t>;

FilterSet MakeSet(const Codes& codes) {
    FilterSet set{};
    for (uint8_t c : codes) set.codes[set.count++] = c;
    return set;
}

std::string Filter(const Codes& codes, bool controlCodes, const std::string& in) {
    const FilterSet set = MakeSet(codes);
    std::string out(3 * in.size() + 1, '#');
    FilterBytes(&set, controlCodes, out.data(), reinterpret_cast<const uint8_t*>(in.data()),
                in.size());
    return out.c_str();
}

std::string Defilter(const std::string& text) {
    std::string out(text.size() + 1, '#');
    out.resize(DefilterBytes(reinterpret_cast<uint8_t*>(out.data()), text.c_str(), text.size()));
    return out;
}

TEST(Filter, EscapesExactlyTheFilteredBytesAndDecodesThemBack) {
    struct Row { Codes codes; bool controlCodes; std::string in, out; };
    const Row rows[] = {
        {{'%', 0}, false, "50%", "50%25"}, {{'%', 0}, false, "a\tb", "a\tb"},
        {{'%'}, true, "\x1F \x01", "%1F %01"}, {{'%', 0, 233}, false, "\xE9\xEA", "%E9\xEA"},
        {{'a', 'b'}, false, "abc%", "%61%62c%"}, {{0xAB, 0xFF}, false, "\xAB\xFF", "%AB%FF"},
        {{'%', 0}, true, std::string("x\0y", 3), "x%00y"},
    };
    for (const Row& row : rows) EXPECT_EQ(Filter(row.codes, row.controlCodes, row.in), row.out);
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(char(b));
    EXPECT_EQ(Defilter(Filter({'%', 0, 200}, true, all)), all);
}

TEST(Filter, SetKeepsOrderRefusesDuplicatesAndGuardsControlCodes) {
    FilterSet set = MakeSet({'%', 9});
    EXPECT_EQ(FindFilterCode(&set, true, 31), FilterControlRefused);
    EXPECT_EQ(FindFilterCode(&set, true, 32), FilterAbsent);
    EXPECT_FALSE(AddFilterCode(&set, true, 5));
    EXPECT_FALSE(RemoveFilterCode(&set, true, 9));
    EXPECT_EQ(FindFilterCode(&set, false, 9), 1);
    for (uint8_t c : {'a', 'b', 'c'}) EXPECT_TRUE(AddFilterCode(&set, false, c));
    EXPECT_FALSE(AddFilterCode(&set, false, 'b'));
    EXPECT_TRUE(RemoveFilterCode(&set, false, 9));
    EXPECT_FALSE(RemoveFilterCode(&set, false, 9));
    EXPECT_EQ(Codes(set.codes, set.codes + set.count), (Codes{'%', 'a', 'b', 'c'}));
    set = MakeSet({});
    for (int c = 255; c >= 0; --c) EXPECT_TRUE(AddFilterCode(&set, false, uint8_t(c)));
    EXPECT_FALSE(AddFilterCode(&set, false, 7));
    EXPECT_EQ(FindFilterCode(&set, false, 0), 255);
}

}  // namespace
