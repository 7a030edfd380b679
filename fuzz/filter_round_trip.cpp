// The filter set and the %XX codec under arbitrary edits and bytes: the set never holds a
// code twice; the encoder escapes exactly the filtered bytes within 3n + 1 bytes; the
// decoder stays within n + 1 bytes and follows the escape rules on any text; and while
// '%' is filtered (or absent) decoding the encoded text gives back every byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "engine/filter.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FilterSet set{};
    bool controlCodes = false;
    const size_t edits = input.ConsumeIntegralInRange<size_t>(0, 600);
    for (size_t i = 0; i < edits && input.remaining_bytes() > 1; ++i) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>(), code = input.ConsumeIntegral<uint8_t>();
        if (op % 4 == 0) AddFilterCode(&set, controlCodes, code);
        if (op % 4 == 1) RemoveFilterCode(&set, controlCodes, code);
        if (op % 4 == 2) controlCodes = !controlCodes;
        if (op % 4 == 3) SeedFilterSet(&set, controlCodes, nullptr, nullptr, 0);
    }
    bool seen[256] = {};
    REQUIRE(set.count >= 0 && set.count <= 256);
    for (int32_t i = 0; i < set.count; ++i) REQUIRE(!std::exchange(seen[set.codes[i]], true));

    const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();
    const size_t n = bytes.size();
    std::unique_ptr<char[]> encoded(new char[3 * n + 1]);     // what callers provide
    FilterBytes(&set, controlCodes, encoded.get(), bytes.data(), n);
    size_t at = 0;
    bool percentLiteral = false;
    for (uint8_t b : bytes) {
        if (FindFilterCode(&set, controlCodes, b) != FilterAbsent) {
            REQUIRE(encoded[at] == '%' && encoded[at + 1] == "0123456789ABCDEF"[b / 16] &&
                    encoded[at + 2] == "0123456789ABCDEF"[b % 16]);
            at += 3;
        } else {
            REQUIRE(uint8_t(encoded[at++]) == b);
            percentLiteral |= b == '%';
        }
    }
    REQUIRE(encoded[at] == '\0');
    std::unique_ptr<uint8_t[]> decoded(new uint8_t[at + 1]);
    REQUIRE(DefilterBytes(decoded.get(), encoded.get(), at) <= at);
    if (!percentLiteral) REQUIRE(std::equal(bytes.begin(), bytes.end(), decoded.get()) && decoded[n] == 0);

    // The bytes as a text a host would pass: up to the first zero, in a block of its size.
    const size_t length = strnlen(reinterpret_cast<const char*>(bytes.data()), n);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), bytes.data(), length);
    text[length] = '\0';
    std::unique_ptr<uint8_t[]> out(new uint8_t[length + 1]);
    const std::vector<uint8_t> expected = DecodeEscapes(bytes.data(), length);
    REQUIRE(DefilterBytes(out.get(), text.get(), length) == expected.size() && out[expected.size()] == 0);
    REQUIRE(std::equal(expected.begin(), expected.end(), out.get()));
    return 0;
}
