// The key ring under arbitrary sequences of adds, removals, lookups and allocation
// failures, checked after every step against a list of names: the same keys in the same
// order, contexts that never move and hold their key's expansion, a failed step changing
// nothing, and every block the ring owns accounted for.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/allocation.h"
#include "engine/key_ring.h"
#include "fuzz/fuzz_check.h"
#include "runtime/report.h"

namespace {

bool Holds(const BlowfishContext* context, const std::string& name) {
    BlowfishContext expected;
    ExpandKey(&expected, reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()));
    return std::memcmp(context, &expected, sizeof expected) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int64_t live = LiveAllocations();
    KeyRing ring{};
    std::vector<std::string> names;                     // the model: names in ring order
    std::map<std::string, const BlowfishContext*> contexts;
    int32_t capacity = 0;

    while (input.remaining_bytes() > 0) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>();
        // Few distinct names, so that duplicates and removals of present keys are common.
        std::string name = input.ConsumeBool()
            ? "key " + std::to_string(input.ConsumeIntegralInRange<int>(0, 24))
            : input.ConsumeRandomLengthString(MaxKeyLength).c_str();
        const auto at = std::find(names.begin(), names.end(), name);
        const bool present = at != names.end();

        const bool inject = (op & 0x80) != 0;
        if (inject) FailAllocationAfter(op & 3, 1 + ((op >> 2) & 7));
        const KeyEntry* entries = ring.entries;
        int32_t result = 0;
        switch (op % 3) {
        case 0: result = AddKey(&ring, name.c_str(), name.size()); break;
        case 1: result = RemoveKey(&ring, name.c_str()); break;
        default: {
            const int32_t index = FindKey(&ring, name.c_str());
            REQUIRE(index == (present ? int32_t(at - names.begin()) : -1));
            if (present) REQUIRE(Holds(ring.entries[index].context, name));
            break;
        }
        }
        const bool refused = AllocationsRefused() > 0;
        FailAllocationAfter(NoAllocationFailure);

        if (op % 3 == 0) {
            if (present) REQUIRE(result == ErrKeyExists && ring.entries == entries);
            else if (refused) REQUIRE(result == KeyOutOfMemory);
            else REQUIRE(result == KeyOk);
            if (result == KeyOk) {
                names.push_back(name);
                contexts[name] = ring.entries[ring.count - 1].context;
                REQUIRE(Holds(contexts[name], name));
            }
        } else if (op % 3 == 1) {
            if (!present) REQUIRE(result == ErrNoSuchKey && ring.entries == entries);
            else if (refused) REQUIRE(result == KeyOutOfMemory && ring.entries == entries);
            else REQUIRE(result == KeyOk);
            if (result == KeyOk) {
                names.erase(at);
                contexts.erase(name);
            }
        }

        REQUIRE(ring.count == int32_t(names.size()));
        REQUIRE(ring.capacity % KeyRingGrowth == 0 && ring.capacity >= ring.count);
        REQUIRE(ring.capacity >= capacity);         // never shrinks while the ring exists
        capacity = ring.capacity;
        for (int32_t i = 0; i < ring.count; ++i) {
            REQUIRE(names[size_t(i)] == ring.entries[i].name);
            REQUIRE(contexts[names[size_t(i)]] == ring.entries[i].context);
        }
        const int64_t owned = (ring.entries != nullptr ? 1 : 0) + 2 * int64_t(ring.count);
        REQUIRE(LiveAllocations() == live + owned);
    }
    ReleaseKeyRing(&ring);
    REQUIRE(LiveAllocations() == live);
    return 0;
}
