// The engine's operations with each of their allocations failing in turn, once and for
// good: each ends with its fallback, leaves nothing half changed, and leaks no block.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "designer/edit_data.h"
#include "designer/editor_record.h"
#include "engine/allocation.h"
#include "engine/file_job.h"
#include "engine/key_ring.h"
#include "runtime/exports.h"
#include "tests/native/fault_injection.h"
#include "tests/test_files.h"

namespace {

[[maybe_unused]] auto* const summary = ::testing::AddGlobalTestEnvironment(new FaultSummary);

const int64_t FailureModes[] = {1, MemoryExhausted};

std::string KeyName(int i) { return "key " + std::to_string(i); }

void Fill(KeyRing* ring, int keys) {
    for (int i = 0; i < keys; ++i) {
        const std::string name = KeyName(i);
        ASSERT_EQ(AddKey(ring, name.c_str(), name.size()), 0);
    }
}

// Everything that a failed operation must leave as it was: where the array is, its size,
// and each entry's name and context, down to their addresses.
struct RingState {
    const KeyEntry* entries;
    int32_t capacity, count;
    std::vector<std::string> names;
    std::vector<const void*> blocks;

    explicit RingState(const KeyRing& ring)
        : entries(ring.entries), capacity(ring.capacity), count(ring.count) {
        for (int32_t i = 0; i < ring.count; ++i) {
            names.emplace_back(ring.entries[i].name);
            blocks.push_back(ring.entries[i].name);
            blocks.push_back(ring.entries[i].context);
        }
    }
    bool operator==(const RingState&) const = default;
};

TEST(AllocationFaults, AddingAKeyFailsWithTheRingAsItWas) {
    // A ring of keys taken before the new one; -1 is no ring at all.
    struct Case { int keysBefore; int allocations; };
    const Case cases[] = {
        {-1, 3},    // the ring (none is left when it fails), the name, the context
        {0, 2},     // the name and the context
        {4, 2},
        {10, 3},    // full: the name, the context and the grown array
        {20, 3},
    };
    for (const Case& c : cases) {
        for (int64_t failures : FailureModes) {
            SCOPED_TRACE("keys before " + std::to_string(c.keysBefore) + ", failures " +
                         std::to_string(failures));
            const int64_t live = LiveAllocations();
            const std::string added = "the new key";
            const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
                KeyRing ring{};
                if (c.keysBefore >= 0) {
                    EXPECT_TRUE(CreateKeyRing(&ring));
                    Fill(&ring, c.keysBefore);
                }
                const RingState before(ring);
                const int64_t liveBefore = LiveAllocations();
                point.Arm();
                const int32_t result = AddKey(&ring, added.c_str(), added.size());
                const bool hit = point.Disarm();
                if (hit && c.keysBefore < 0 && ring.entries != nullptr) {
                    // The ring came into being before the key failed: empty, as
                    // CreateRunObject would have made it.
                    EXPECT_EQ(result, KeyOutOfMemory);
                    EXPECT_EQ(ring.count, 0);
                    EXPECT_EQ(ring.capacity, 10);
                    EXPECT_EQ(LiveAllocations(), liveBefore + 1);
                } else if (hit) {
                    EXPECT_EQ(result, KeyOutOfMemory);
                    EXPECT_TRUE(RingState(ring) == before);
                    EXPECT_EQ(LiveAllocations(), liveBefore);
                } else {
                    EXPECT_EQ(result, 0);
                    EXPECT_EQ(ring.count, before.count + 1);
                    for (int32_t i = 0; i < before.count; ++i)
                        EXPECT_EQ(ring.entries[i].context, before.blocks[size_t(2 * i + 1)]);
                }
                EXPECT_EQ(FindKey(&ring, added.c_str()), hit ? -1 : ring.count - 1);
                for (int i = 0; i < c.keysBefore; ++i)
                    EXPECT_EQ(FindKey(&ring, KeyName(i).c_str()), i);
                ReleaseKeyRing(&ring);
                return hit;
            }, failures);
            EXPECT_EQ(points, c.allocations);
            EXPECT_EQ(LiveAllocations(), live);
        }
    }
}

TEST(AllocationFaults, RemovingAKeyFailsWithTheKeyInPlace) {
    for (int removed : {0, 6, 11}) {
        for (int64_t failures : FailureModes) {
            SCOPED_TRACE("removing key " + std::to_string(removed));
            const int64_t live = LiveAllocations();
            const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
                KeyRing ring{};
                Fill(&ring, 12);
                const RingState before(ring);
                const int64_t liveBefore = LiveAllocations();
                point.Arm();
                const int32_t result = RemoveKey(&ring, KeyName(removed).c_str());
                const bool hit = point.Disarm();
                if (hit) {
                    EXPECT_EQ(result, KeyOutOfMemory);
                    EXPECT_TRUE(RingState(ring) == before);
                    EXPECT_EQ(LiveAllocations(), liveBefore);
                    EXPECT_EQ(FindKey(&ring, KeyName(removed).c_str()), removed);
                } else {
                    EXPECT_EQ(result, 0);
                    EXPECT_EQ(ring.count, 11);
                    EXPECT_EQ(ring.capacity, 20);
                    EXPECT_EQ(LiveAllocations(), liveBefore - 2);   // its name and context
                }
                ReleaseKeyRing(&ring);
                return hit;
            }, failures);
            EXPECT_EQ(points, 1);
            EXPECT_EQ(LiveAllocations(), live);
        }
    }
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

TEST(AllocationFaults, FileBufferFailureGivesSixWithTheFileUntouched) {
    const std::filesystem::path folder = testfiles::MakeTempDir("allocation_faults");
    ASSERT_FALSE(folder.empty());
    const std::filesystem::path path = folder / "save.dat";
    const testfiles::Bytes plain(15, 'p');
    BlowfishContext key;
    ExpandKey(&key, reinterpret_cast<const uint8_t*>("k"), 1);

    // Budgets on or off, padding or not: the buffer is taken by the start either way.
    const FileSettings settings[] = {{0, 0, 0}, {1, 10, 0}};
    for (const FileSettings& s : settings) {
        for (int64_t failures : FailureModes) {
            const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
                testfiles::WriteBytes(path, plain);
                FileJob job{};
                const int descriptors = OpenDescriptors();
                const int64_t live = LiveAllocations();
                point.Arm();
                const int32_t result = StartFileJob(&job, &s, path.c_str(), &key, ModeEncrypt);
                const bool hit = point.Disarm();
                if (hit) {
                    EXPECT_EQ(result, 6);
                    EXPECT_FALSE(FileJobInProgress(&job));
                    EXPECT_EQ(job.buffer, nullptr);
                    EXPECT_EQ(job.key, nullptr);
                    EXPECT_EQ(testfiles::ReadBytes(path), plain);
                    EXPECT_EQ(OpenDescriptors(), descriptors) << "the file was left open";
                    EXPECT_EQ(LiveAllocations(), live);
                } else {
                    EXPECT_EQ(result, s.percentInterval != 0 || s.timeInterval > 0 ? -1 : 0);
                    AbandonFileJob(&job);
                }
                return hit;
            }, failures);
            EXPECT_EQ(points, 1);
        }
    }
    std::filesystem::remove_all(folder);
}

TEST(AllocationFaults, UpgradeWithoutMemoryLeavesTheStoredRecord) {
    EditData stored{};
    stored.size = 96;
    stored.version = 1;
    stored.flags = FlagNoPadding;
    std::strcpy(stored.filterCharacters, "xyz");
    const EditData copy = stored;
    void* editorRecord[EditorGetVersionEntry + 1] = {};     // no HostGetVersion: stamp 0
    for (int64_t failures : FailureModes) {
        const int64_t live = LiveAllocations();
        const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
            point.Arm();
            EditData* upgraded = UpdateEditStructure(editorRecord, &stored);
            const bool hit = point.Disarm();
            EXPECT_EQ(std::memcmp(&stored, &copy, sizeof stored), 0);
            EXPECT_EQ(upgraded == nullptr, hit);
            if (upgraded != nullptr) {
                EXPECT_EQ(upgraded->version, 2);
                EngineRelease(upgraded);
            }
            EXPECT_EQ(LiveAllocations(), live);
            return hit;
        }, failures);
        EXPECT_EQ(points, 1);
    }
}

}  // namespace
