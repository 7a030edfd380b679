// The key ring: lookup by exact name, growth, removal, and contexts that never move.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/key_ring.h"

namespace {

class KeyRingTest : public ::testing::Test {
protected:
    void TearDown() override { ReleaseKeyRing(&ring); }

    int32_t Add(const std::string& text) { return AddKey(&ring, text.c_str(), text.size()); }
    int32_t Find(const std::string& text) const { return FindKey(&ring, text.c_str()); }

    // The names in ring order.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (int32_t i = 0; i < ring.count; ++i) names.push_back(ring.entries[i].name);
        return names;
    }

    KeyRing ring{};
};

BlowfishContext Expanded(const std::string& text) {
    BlowfishContext context;
    ExpandKey(&context, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
    return context;
}

bool Holds(const BlowfishContext* context, const std::string& text) {
    const BlowfishContext expected = Expanded(text);
    return std::memcmp(context, &expected, sizeof expected) == 0;
}

std::string KeyName(int i) { return "key " + std::to_string(i); }

}  // namespace

TEST_F(KeyRingTest, CreatedRingIsEmptyWithTenZeroSlotsAndTheFirstAddMakesOne) {
    EXPECT_EQ(Find(""), -1);
    EXPECT_EQ(Add("first"), 0);
    EXPECT_EQ(ring.capacity, 10);
    EXPECT_EQ(Find("first"), 0);
    ReleaseKeyRing(&ring);
    ASSERT_TRUE(CreateKeyRing(&ring));
    EXPECT_EQ(ring.capacity, 10);
    EXPECT_EQ(ring.count, 0);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(ring.entries[i].name, nullptr);
        EXPECT_EQ(ring.entries[i].context, nullptr);
    }
}

TEST_F(KeyRingTest, GrowsByTenAndNeverMovesAContext) {
    std::vector<const BlowfishContext*> contexts;
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(Add(KeyName(i)), 0);
        contexts.push_back(ring.entries[i].context);
        const int32_t expectedCapacity = i < 10 ? 10 : i < 20 ? 20 : 30;
        EXPECT_EQ(ring.capacity, expectedCapacity) << "after key " << i;
        // Every key added so far is still found, at its place, with its context in place.
        for (int k = 0; k <= i; ++k) {
            ASSERT_EQ(Find(KeyName(k)), k) << "after key " << i;
            ASSERT_EQ(ring.entries[k].context, contexts[size_t(k)]) << "after key " << i;
        }
    }
    for (int i = 0; i < 25; ++i) EXPECT_TRUE(Holds(contexts[size_t(i)], KeyName(i)));
}

TEST_F(KeyRingTest, RemovalKeepsTheOthersInOrderAndInPlace) {
    struct Case { const char* name; int removed; };
    for (Case c : {Case{"first", 0}, Case{"middle", 6}, Case{"last", 11}}) {
        SCOPED_TRACE(c.name);
        ReleaseKeyRing(&ring);
        std::vector<std::string> names;
        std::vector<const BlowfishContext*> contexts;
        for (int i = 0; i < 12; ++i) {
            ASSERT_EQ(Add(KeyName(i)), 0);
            names.push_back(KeyName(i));
            contexts.push_back(ring.entries[i].context);
        }

        EXPECT_EQ(RemoveKey(&ring, KeyName(c.removed).c_str()), 0);
        names.erase(names.begin() + c.removed);
        contexts.erase(contexts.begin() + c.removed);

        EXPECT_EQ(ring.count, 11);
        EXPECT_EQ(ring.capacity, 20);
        EXPECT_EQ(Names(), names);
        EXPECT_EQ(Find(KeyName(c.removed)), -1);
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(ring.entries[i].context, contexts[i]);
            EXPECT_TRUE(Holds(ring.entries[i].context, names[i]));
        }
        // The slot after the last key in use holds nothing.
        EXPECT_EQ(ring.entries[11].name, nullptr);
    }
}

TEST_F(KeyRingTest, EmptiedRingKeepsItsCapacityAndReleaseLeavesNone) {
    for (int i = 0; i < 11; ++i) ASSERT_EQ(Add(KeyName(i)), 0);
    for (int i = 10; i >= 0; --i) ASSERT_EQ(RemoveKey(&ring, KeyName(i).c_str()), 0);
    EXPECT_EQ(ring.count, 0);
    EXPECT_EQ(ring.capacity, 20);
    EXPECT_EQ(Find(KeyName(0)), -1);
    EXPECT_EQ(Add(KeyName(0)), 0);
    EXPECT_EQ(Find(KeyName(0)), 0);

    ReleaseKeyRing(&ring);
    EXPECT_EQ(ring.entries, nullptr);
    EXPECT_EQ(ring.capacity, 0);
    EXPECT_EQ(ring.count, 0);
    EXPECT_EQ(Find(KeyName(0)), -1);
    ReleaseKeyRing(&ring);      // a second release finds nothing to free
}

TEST_F(KeyRingTest, DuplicatesAndMissingKeysReportTheirCodes) {
    ASSERT_EQ(Add("alpha"), 0);
    ASSERT_EQ(Add("beta"), 0);
    EXPECT_EQ(Add("alpha"), 3);
    EXPECT_EQ(Add("beta"), 3);
    EXPECT_EQ(RemoveKey(&ring, "alph"), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(RemoveKey(&ring, "alpha"), 0);
    EXPECT_EQ(RemoveKey(&ring, "alpha"), 2);
}

TEST_F(KeyRingTest, NamesCompareExactlyByteForByte) {
    const std::vector<std::string> names = {
        "Key", "key", "KEY", "ke", "keys", "key ", "", "\xFF\x80", "\xFF\x81", "\xFF",
    };
    for (const std::string& name : names) ASSERT_EQ(Add(name), 0) << name;
    EXPECT_EQ(Names(), names);
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(Find(names[i]), int32_t(i));
    EXPECT_EQ(Find("kEy"), -1);
    EXPECT_EQ(Find("k"), -1);
    EXPECT_EQ(Find("\x80"), -1);
    // The empty text is a key like any other.
    EXPECT_EQ(Add(""), 3);
    EXPECT_TRUE(Holds(ring.entries[6].context, ""));
    EXPECT_EQ(RemoveKey(&ring, ""), 0);
    EXPECT_EQ(Find(""), -1);
    EXPECT_EQ(Find("keys"), 4);
    EXPECT_EQ(Find("key "), 5);
}

TEST_F(KeyRingTest, AddTakesOnlyTheGivenLength) {
    const std::string text(60, 'k');
    ASSERT_EQ(AddKey(&ring, text.c_str(), 56), 0);
    EXPECT_EQ(std::strlen(ring.entries[0].name), 56u);
    EXPECT_TRUE(Holds(ring.entries[0].context, text.substr(0, 56)));
    EXPECT_EQ(Find(text), -1);
    EXPECT_EQ(Find(text.substr(0, 56)), 0);
    // The same first 56 bytes followed by something else name the same key.
    EXPECT_EQ(AddKey(&ring, (text.substr(0, 56) + "zz").c_str(), 56), 3);
    EXPECT_EQ(AddKey(&ring, text.c_str(), 55), 0);
    EXPECT_EQ(ring.count, 2);
}
