// FilterBytes and DefilterBytes under arbitrary filter sets: the encoder escapes exactly
// the filtered bytes within 3n + 1 bytes, and while '%' is filtered (or absent from the
// input) decoding the encoded text gives back every byte, zero bytes included.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/filter.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FilterSet set{};
    bool controlCodes = false;
    // Edits of the set as actions and new objects make them, the flag flipping between.
    const size_t edits = input.ConsumeIntegralInRange<size_t>(0, 600);
    for (size_t i = 0; i < edits && input.remaining_bytes() > 1; ++i) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>();
        const uint8_t code = input.ConsumeIntegral<uint8_t>();
        switch (op % 4) {
        case 0: AddFilterCode(&set, controlCodes, code); break;
        case 1: RemoveFilterCode(&set, controlCodes, code); break;
        case 2: controlCodes = !controlCodes; break;
        default: SeedFilterSet(&set, controlCodes, nullptr, nullptr, 0); break;
        }
        REQUIRE(set.count >= 0 && set.count <= 256);
    }
    bool seen[256] = {};
    for (int32_t i = 0; i < set.count; ++i) {
        REQUIRE(!seen[set.codes[i]]);
        seen[set.codes[i]] = true;
    }

    const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();
    const size_t n = bytes.size();
    std::unique_ptr<char[]> encoded(new char[3 * n + 1]);     // what callers provide
    FilterBytes(&set, controlCodes, encoded.get(), bytes.data(), n);

    size_t at = 0;
    bool percentLiteral = false;
    for (uint8_t b : bytes) {
        if (FindFilterCode(&set, controlCodes, b) != FilterAbsent) {
            static const char Digits[] = "0123456789ABCDEF";
            REQUIRE(encoded[at] == '%' && encoded[at + 1] == Digits[b / 16] &&
                    encoded[at + 2] == Digits[b % 16]);
            at += 3;
        } else {
            REQUIRE(uint8_t(encoded[at]) == b);
            percentLiteral |= b == '%';
            at += 1;
        }
    }
    REQUIRE(at <= 3 * n && encoded[at] == '\0');

    if (!percentLiteral) {
        std::unique_ptr<uint8_t[]> decoded(new uint8_t[at + 1]);
        REQUIRE(DefilterBytes(decoded.get(), encoded.get(), at) == n);
        REQUIRE(std::equal(bytes.begin(), bytes.end(), decoded.get()) && decoded[n] == 0);
    }
    return 0;
}
