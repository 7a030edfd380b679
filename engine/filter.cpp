// The filter set's operations and the %XX escape codec.
#include "engine/filter.h"

#include <cstring>

#include "designer/edit_data.h"

#if defined(__x86_64__) || defined(__i386__)
#include "cipher/block_paths.h"
#include "cipher/x86_intrinsics.h"
#define CIPHREL_VECTOR_ESCAPE 1
#else
#define CIPHREL_VECTOR_ESCAPE 0
#endif

constexpr uint8_t ControlCodeLimit = 32;   // codes below it are the control codes 0-31
constexpr int32_t FilterCapacity = 256;    // one slot per byte value

int32_t FindFilterCode(const FilterSet* set, bool filterControlCodes, uint8_t code) {
    if (filterControlCodes && code < ControlCodeLimit) return FilterControlRefused;
    for (int32_t i = 0; i < set->count; ++i) {
        if (set->codes[i] == code) return i;
    }
    return FilterAbsent;
}

bool AddFilterCode(FilterSet* set, bool filterControlCodes, uint8_t code) {
    // A set without duplicates cannot be full while a code is absent; the bound only
    // guards against a damaged count.
    if (FindFilterCode(set, filterControlCodes, code) != FilterAbsent) return false;
    if (set->count < 0 || set->count >= FilterCapacity) return false;
    set->codes[set->count++] = code;
    return true;
}

bool RemoveFilterCode(FilterSet* set, bool filterControlCodes, uint8_t code) {
    int32_t index = FindFilterCode(set, filterControlCodes, code);
    if (index < 0) return false;
    for (int32_t i = index + 1; i < set->count; ++i) set->codes[i - 1] = set->codes[i];
    --set->count;
    return true;
}

void SeedFilterSet(FilterSet* set, bool filterControlCodes, const char* characters,
                   const uint16_t* codes, int maxCodes) {
    // The default fill is stored directly: an empty set cannot refuse either code.
    if (set->count == 0) {
        set->codes[0] = PercentCode;
        set->count = 1;
        if (!filterControlCodes) {
            set->codes[1] = 0;
            set->count = 2;
        }
    }
    // A set filled while control codes were filtered lacks the zero byte; an object that
    // turns that filtering off must still never let a zero byte through.
    if (!filterControlCodes) AddFilterCode(set, filterControlCodes, 0);
    if (characters != nullptr) {
        for (const char* c = characters; *c != '\0'; ++c) {
            AddFilterCode(set, filterControlCodes, static_cast<uint8_t>(*c));
        }
    }
    if (codes != nullptr) {
        for (int i = 0; i < maxCodes && codes[i] != CodeListEnd; ++i) {
            AddFilterCode(set, filterControlCodes, static_cast<uint8_t>(codes[i] & 0xFF));
        }
    }
}

char HexDigit(uint32_t value) {
    return static_cast<char>(value < 10 ? '0' + value : 'A' + (value - 10));
}

// Only '0' to '9' are taken as digits; every other character, lowercase letters and the
// NUL included, counts as x - 55, so 'A' to 'F' give 10 to 15 and the rest falls outside.
int32_t HexValue(uint8_t character) {
    if (character >= '0' && character <= '9') return character - '0';
    return character - ('A' - 10);
}

namespace {

// The byte table of the last filter set escaped with, kept until the set changes: most
// strings are escaped with the same set, and a byte of them then costs one table load.
// Building it (256 bytes cleared) would cost more than escaping a short string. The
// module serves one thread, so one table suffices.
struct EscapeTable {
    int32_t count = -1;                 // the set it was built from; -1: none yet
    bool filterControlCodes = false;
    uint8_t codes[FilterCapacity] = {};
    uint8_t escaped[256] = {};          // nonzero where the byte is written as %XX
    // The same for vector code, by nibbles: bit h & 7 of below[l] (h < 8) or above[l]
    // (h >= 8) is set where byte 16 h + l is escaped.
    uint8_t below[16] = {};
    uint8_t above[16] = {};
    bool vector = false;                // AVX2 runs here (asked once, with the first set)
};
EscapeTable escapeTable;

#if CIPHREL_VECTOR_ESCAPE
// Copies the 32 bytes at `in` to `out` (which has room for them) and answers which of
// them are escaped, bit i for byte i. A 32-byte string is then one step instead of 32
// lookups.
__attribute__((target("avx2"))) uint32_t CopyAndFindEscapes32(const EscapeTable& t, char* out,
                                                              const uint8_t* in) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
    const __m256i below =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.below)));
    const __m256i above =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.above)));
    const __m256i bits = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64,
                                          -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16,
                                          32, 64, -128);
    // A byte shuffle gives zero where the index has its top bit set, so `below` answers
    // the bytes under 0x80 and `above`, with that bit flipped, the rest.
    const __m256i row = _mm256_or_si256(
        _mm256_shuffle_epi8(below, v),
        _mm256_shuffle_epi8(above, _mm256_xor_si256(v, _mm256_set1_epi8(-128))));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
    const __m256i hit = _mm256_and_si256(row, _mm256_shuffle_epi8(bits, high));
    const __m256i passes = _mm256_cmpeq_epi8(hit, _mm256_setzero_si256());
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(passes));
}
#endif

// The same answers as FindFilterCode, for every byte at once.
const EscapeTable& EscapedBytes(const FilterSet* set, bool filterControlCodes) {
    EscapeTable& t = escapeTable;
    const int32_t count = set->count < 0 ? 0 : set->count > FilterCapacity ? FilterCapacity
                                                                            : set->count;
    bool same = count == t.count && filterControlCodes == t.filterControlCodes;
    for (int32_t i = 0; same && i < count; ++i) same = set->codes[i] == t.codes[i];
    if (same) return t;
#if CIPHREL_VECTOR_ESCAPE
    if (t.count < 0) t.vector = PathRunsOn(BlockPath::Avx2, ReadCpuFeatures());
#endif
    std::memset(t.escaped, 0, sizeof t.escaped);
    for (int32_t i = 0; i < count; ++i) t.escaped[set->codes[i]] = 1;
    if (filterControlCodes) std::memset(t.escaped, 1, ControlCodeLimit);
    std::memset(t.below, 0, sizeof t.below);
    std::memset(t.above, 0, sizeof t.above);
    for (uint32_t b = 0; b < 256; ++b) {
        if (t.escaped[b] == 0) continue;
        uint8_t* row = b < 0x80 ? t.below : t.above;
        row[b & 15] = static_cast<uint8_t>(row[b & 15] | 1u << ((b >> 4) & 7));
    }
    std::memcpy(t.codes, set->codes, static_cast<size_t>(count));
    t.count = count;
    t.filterControlCodes = filterControlCodes;
    return t;
}

void WriteEscape(char*& out, uint32_t b) {
    out[0] = '%';
    out[1] = HexDigit(b >> 4);
    out[2] = HexDigit(b & 15);
    out += 3;
}

}  // namespace

void FilterBytes(const FilterSet* set, bool filterControlCodes, char* out,
                 const uint8_t* in, size_t length) {
    const EscapeTable& table = EscapedBytes(set, filterControlCodes);
    const uint8_t* const escaped = table.escaped;
    const uint8_t* const end = in + length;
    while (in != end) {
#if CIPHREL_VECTOR_ESCAPE
        // While 32 bytes remain, `out` has room for 96 and more.
        if (table.vector && end - in >= 32) {
            uint32_t escapes = CopyAndFindEscapes32(table, out, in);
            const unsigned first =
                escapes == 0 ? 32 : static_cast<unsigned>(__builtin_ctz(escapes));
            in += first;
            out += first;
            escapes >>= first % 32;
            // From the first escaped byte on, the rest of the 32 go one by one.
            for (unsigned j = first; j < 32; ++j, ++in, escapes >>= 1) {
                if ((escapes & 1) != 0) {
                    WriteEscape(out, *in);
                } else {
                    *out++ = static_cast<char>(*in);
                }
            }
            continue;
        }
#endif
        // Most cipher bytes pass as they are, so eight at a time are tested and copied;
        // eight that hold an escaped byte go one by one.
        if (end - in >= 8) {
            const uint8_t any = escaped[in[0]] | escaped[in[1]] | escaped[in[2]] |
                                escaped[in[3]] | escaped[in[4]] | escaped[in[5]] |
                                escaped[in[6]] | escaped[in[7]];
            if (any == 0) {
                std::memcpy(out, in, 8);
                in += 8;
                out += 8;
                continue;
            }
        }
        const uint8_t* const stop = end - in >= 8 ? in + 8 : end;
        for (; in != stop; ++in) {
            const uint32_t b = *in;
            if (escaped[b] != 0) {
                WriteEscape(out, b);
            } else {
                *out++ = static_cast<char>(b);
            }
        }
    }
    *out = '\0';
}

uint32_t DefilterBytes(uint8_t* out, const char* in, size_t length) {
    // Digits of an escape cut short by the end of the text are read as the terminating
    // NUL (value -55). For a '%' second to last that is the NUL itself. For a '%' last the
    // high digit is the NUL and the low digit, which would lie past it, is given the same
    // value rather than read: the text then behaves as if followed by NULs, so the escape
    // yields 16 * -55 - 55, whose low 8 bits are 0x59 ('Y').
    auto at = [in, length](size_t j) -> uint8_t {
        return j < length ? static_cast<uint8_t>(in[j]) : uint8_t{0};
    };
    size_t i = 0;
    uint32_t o = 0;
    while (i < length) {
        if (in[i] == '%') {
            int32_t value = 16 * HexValue(at(i + 1)) + HexValue(at(i + 2));
            out[o] = static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu);
            i += 3;
        } else {
            out[o] = static_cast<uint8_t>(in[i]);
            ++i;
        }
        ++o;
    }
    out[o] = 0;
    return o;
}
