// The key ring under arbitrary sequences of adds, removals, lookups and allocation
// failures, checked after every step against a list of names: the same keys in the same
// order, contexts that never move and hold their key's expansion, a failed step changing
// nothing, and every block the ring owns accounted for.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
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
    std::vector<const BlowfishContext*> contexts;       // and their contexts
    while (input.remaining_bytes() > 0) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>();
        // Few distinct names, so that duplicates and removals of present keys are common.
        std::string name = input.ConsumeBool()
            ? "key " + std::to_string(input.ConsumeIntegralInRange<int>(0, 24))
            : input.ConsumeRandomLengthString(MaxKeyLength).c_str();
        const auto at = size_t(std::find(names.begin(), names.end(), name) - names.begin());
        const bool present = at < names.size();
        if (op & 0x80) FailAllocationAfter(op & 3, 1 + ((op >> 2) & 7));
        const KeyEntry* entries = ring.entries;
        int32_t result = KeyOk;
        if (op % 3 == 0) result = AddKey(&ring, name.c_str(), name.size());
        if (op % 3 == 1) result = RemoveKey(&ring, name.c_str());
        if (op % 3 == 2) REQUIRE(FindKey(&ring, name.c_str()) == (present ? int32_t(at) : -1));
        if (op % 3 != 1 && present) REQUIRE(Holds(ring.entries[at].context, name));
        const bool refused = AllocationsRefused() > 0;
        FailAllocationAfter(NoAllocationFailure);

        const int32_t missing = op % 3 == 0 ? ErrKeyExists : ErrNoSuchKey;
        if (op % 3 != 2 && present == (op % 3 == 0)) {
            REQUIRE(result == missing && ring.entries == entries);
        } else if (op % 3 != 2) {
            REQUIRE(result == (refused ? KeyOutOfMemory : KeyOk));
            REQUIRE(result == KeyOk || op % 3 == 0 || ring.entries == entries);
        }
        if (op % 3 == 0 && result == KeyOk) {
            names.push_back(name);
            contexts.push_back(ring.entries[ring.count - 1].context);
            REQUIRE(Holds(contexts.back(), name));
        }
        if (op % 3 == 1 && result == KeyOk) {
            names.erase(names.begin() + long(at));
            contexts.erase(contexts.begin() + long(at));
        }
        REQUIRE(ring.count == int32_t(names.size()));
        REQUIRE(ring.capacity >= ring.count);
        for (int32_t i = 0; i < ring.count; ++i) {
            REQUIRE(names[size_t(i)] == ring.entries[i].name);
            REQUIRE(contexts[size_t(i)] == ring.entries[i].context);
        }
        REQUIRE(LiveAllocations() == live + (ring.entries != nullptr) + 2 * int64_t(ring.count));
    }
    ReleaseKeyRing(&ring);
    REQUIRE(LiveAllocations() == live);
    return 0;
}
