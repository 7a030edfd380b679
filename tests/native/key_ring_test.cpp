// The key ring: exact names, order, growth, removal, and contexts that never move.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/key_ring.h"
#include "runtime/report.h"

namespace {

bool Holds(const BlowfishContext* context, const std::string& text) {
    BlowfishContext expected;
    ExpandKey(&expected, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
    return std::memcmp(context, &expected, sizeof expected) == 0;
}

TEST(KeyRing, NamesAreExactOrderedAndTheirContextsStayPut) {
    const std::vector<std::string> names = {"Key", "key", "ke", "keys", "key ", "", "\xFF\x80",
                                            "\xFF", "k4", "k5", "k6", "k7", "k8", "k9", "k10"};
    for (size_t removed : {0u, 6u, 14u}) {
        KeyRing ring{};
        std::vector<const BlowfishContext*> contexts;
        for (const std::string& name : names) {
            ASSERT_EQ(AddKey(&ring, name.c_str(), name.size()), KeyOk) << name;
            contexts.push_back(ring.entries[ring.count - 1].context);
        }
        EXPECT_EQ(ring.capacity, 20);
        EXPECT_EQ(AddKey(&ring, "key", 3), ErrKeyExists);
        EXPECT_EQ(FindKey(&ring, "kEy"), -1);
        EXPECT_EQ(RemoveKey(&ring, "k"), ErrNoSuchKey);
        ASSERT_EQ(RemoveKey(&ring, names[removed].c_str()), KeyOk);
        EXPECT_EQ(RemoveKey(&ring, names[removed].c_str()), ErrNoSuchKey);
        ASSERT_EQ(ring.count, int32_t(names.size()) - 1);
        for (size_t i = 0, at = 0; i < names.size(); ++i) {
            if (i == removed) continue;
            EXPECT_EQ(FindKey(&ring, names[i].c_str()), int32_t(at)) << names[i];
            EXPECT_EQ(ring.entries[at].context, contexts[i]);
            EXPECT_TRUE(Holds(ring.entries[at++].context, names[i]));
        }
        ReleaseKeyRing(&ring);
        EXPECT_EQ(ring.entries, nullptr);
        EXPECT_EQ(FindKey(&ring, "Key"), -1);
    }
}

TEST(KeyRing, AddTakesOnlyTheGivenLength) {
    KeyRing ring{};
    const std::string text(60, 'k');
    ASSERT_EQ(AddKey(&ring, text.c_str(), 56), KeyOk);
    EXPECT_TRUE(Holds(ring.entries[0].context, text.substr(0, 56)));
    EXPECT_EQ(FindKey(&ring, text.c_str()), -1);
    EXPECT_EQ(FindKey(&ring, text.substr(0, 56).c_str()), 0);
    EXPECT_EQ(AddKey(&ring, text.c_str(), 55), KeyOk);
    ReleaseKeyRing(&ring);
}

}  // namespace
