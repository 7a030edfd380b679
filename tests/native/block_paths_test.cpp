// Every block path against the one-block functions, and the choice of path.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cipher/block_paths.h"
#include "cipher/blowfish.h"

namespace {

// Not the shared test helpers: this file also builds for the 32-bit module, without OpenSSL.
using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(std::mt19937& random, size_t count) {
    Bytes bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

// Recorded while the test program loads, before any test can switch paths.
const BlockPath pathAtLoad = ActiveBlockPath();

constexpr bool X86 =
#if defined(__x86_64__) || defined(__i386__)
    true;
#else
    false;
#endif

// Every path the enum names, so that a new one is tested with no change here.
const std::vector<BlockPath> AllPaths = [] {
    std::vector<BlockPath> paths;
    for (int32_t i = 0; i < BlockPathCount; ++i) paths.push_back(static_cast<BlockPath>(i));
    return paths;
}();

// Offset of the first byte where the buffers differ, or -1, so that a failure names one
// offset instead of printing two buffers.
long FirstDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return -1;
}

// The one-block functions over a buffer, halves read and written little-endian by hand.
void OneBlockAtATime(const BlowfishContext& context, uint8_t* bytes, size_t blocks,
                     bool encrypt) {
    for (size_t b = 0; b < blocks; ++b) {
        uint8_t* block = bytes + 8 * b;
        uint32_t half[2];
        for (int h = 0; h < 2; ++h) {
            half[h] = 0;
            for (int i = 3; i >= 0; --i) half[h] = half[h] << 8 | block[4 * h + i];
        }
        if (encrypt) {
            EncryptBlock(&context, &half[0], &half[1]);
        } else {
            DecryptBlock(&context, &half[0], &half[1]);
        }
        for (int h = 0; h < 2; ++h) {
            for (int i = 0; i < 4; ++i) block[4 * h + i] = static_cast<uint8_t>(half[h] >> 8 * i);
        }
    }
}

BlowfishContext ExpandedKey(std::mt19937& random) {
    Bytes key = RandomBytes(random, 1 + random() % 56);
    BlowfishContext context;
    ExpandKey(&context, key.data(), static_cast<int32_t>(key.size()));
    return context;
}

// Tables no key schedule would produce: words whose bytes are mostly 0x00 and 0xFF, so
// that the sums in F carry across every byte boundary, and chains of carries are common.
BlowfishContext CarryHeavyTables(std::mt19937& random) {
    static const uint32_t Words[] = {0x00000000, 0x00000001, 0x000000FF, 0x0000FFFF,
                                     0x00FFFFFF, 0xFFFFFFFF, 0xFFFFFF01, 0x00FF00FF,
                                     0xFF00FF00, 0x80000000, 0x7FFFFFFF, 0x01010101};
    BlowfishContext context;
    for (uint32_t& p : context.P) p = static_cast<uint32_t>(random());
    for (auto& box : context.S) {
        for (uint32_t& word : box) {
            word = random() % 4 == 0 ? static_cast<uint32_t>(random())
                                     : Words[random() % std::size(Words)];
        }
    }
    return context;
}

// Runs of every length up to well past each path's group sizes (5, 4, 2, 1 blocks for
// the scalar path, 8 and 16 for AVX2, 64 for AVX-512) and one long run, each at every
// offset from an 8-byte boundary, between guard bytes that must stay untouched.
void ExpectPathMatchesOneBlockFunctions(BlockPath path, const BlowfishContext& context,
                                        std::mt19937& random) {
    std::vector<size_t> counts;
    for (size_t n = 0; n <= 140; ++n) counts.push_back(n);
    counts.push_back(1000 + random() % 64);
    for (size_t blocks : counts) {
        const size_t offset = blocks % 8;
        const size_t guard = 16;
        Bytes buffer = RandomBytes(random, guard + offset + 8 * blocks + guard);
        uint8_t* run = buffer.data() + guard + offset;
        for (bool encrypt : {true, false}) {
            SCOPED_TRACE(std::string(BlockPathName(path)) + (encrypt ? " encrypt " : " decrypt ")
                         + std::to_string(blocks) + " blocks at offset "
                         + std::to_string(offset));
            Bytes expected = buffer;
            OneBlockAtATime(context, expected.data() + guard + offset, blocks, encrypt);
            if (encrypt) {
                EncryptBlocks(&context, run, blocks);
            } else {
                DecryptBlocks(&context, run, blocks);
            }
            ASSERT_EQ(FirstDifference(buffer, expected), -1);
        }
    }
}

class BlockPaths : public ::testing::Test {
protected:
    void SetUp() override { saved = ActiveBlockPath(); }
    void TearDown() override { EXPECT_TRUE(SetBlockPath(saved)); }
    BlockPath saved = BlockPath::Reference;
};

}  // namespace

TEST_F(BlockPaths, EveryPathThisMachineRunsGivesTheOneBlockBytes) {
    const CpuFeatures features = ReadCpuFeatures();
    std::printf("chosen at load: %s\n", BlockPathName(saved));
    std::mt19937 random(20240611);
    int tried = 0;
    for (BlockPath path : AllPaths) {
        // The log then shows which paths this machine checked.
        if (!PathRunsOn(path, features)) {
            std::printf("path %s: not offered by this processor\n", BlockPathName(path));
            continue;
        }
        ASSERT_TRUE(SetBlockPath(path));
        ASSERT_EQ(ActiveBlockPath(), path);
        ++tried;
        for (int key = 0; key < 3; ++key) {
            BlowfishContext context = key < 2 ? ExpandedKey(random) : CarryHeavyTables(random);
            ExpectPathMatchesOneBlockFunctions(path, context, random);
        }
        std::printf("path %s: ran\n", BlockPathName(path));
    }
    EXPECT_GE(tried, 2);    // reference and scalar run everywhere
}

TEST_F(BlockPaths, ForcingRefusesWhatCannotRunAndKeepsThePath) {
    const CpuFeatures features = ReadCpuFeatures();
    ASSERT_TRUE(SetBlockPath(BlockPath::Scalar));
    for (BlockPath path : AllPaths) {
        if (PathRunsOn(path, features)) continue;
        EXPECT_FALSE(SetBlockPath(path)) << BlockPathName(path);
        EXPECT_EQ(ActiveBlockPath(), BlockPath::Scalar);
    }
    EXPECT_FALSE(SetBlockPath(static_cast<BlockPath>(BlockPathCount)));
    EXPECT_FALSE(SetBlockPath(static_cast<BlockPath>(-1)));
    EXPECT_EQ(ActiveBlockPath(), BlockPath::Scalar);
}

TEST(BlockPathChoice, LoadTookTheBestPath) {
    EXPECT_EQ(pathAtLoad, BestBlockPath(ReadCpuFeatures()));
}

#if defined(__x86_64__) || defined(__i386__)
// The compiler's own CPUID and XGETBV reading, to check ours against.
TEST(BlockPathChoice, DetectionAgreesWithTheCompilersCpuChecks) {
    const CpuFeatures features = ReadCpuFeatures();
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2");
    EXPECT_EQ(PathRunsOn(BlockPath::Avx2, features), avx2);
    EXPECT_EQ(PathRunsOn(BlockPath::Avx512, features),
              avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
                  && __builtin_cpu_supports("avx512vbmi"));
    EXPECT_EQ(features.amd, __builtin_cpu_is("amd"));
}
#endif

TEST(BlockPathChoice, FeaturesDecideWhatRunsAndWhatIsBest) {
    constexpr uint32_t Osxsave = 1u << 27, Avx = 1u << 28;
    constexpr uint32_t Avx2 = 1u << 5, F = 1u << 16, Bw = 1u << 30, Vbmi = 1u << 1;
    const BlockPath A2 = X86 ? BlockPath::Avx2 : BlockPath::Scalar;
    const BlockPath A5 = !X86 ? BlockPath::Scalar
                         : ModuleBits == 32 ? BlockPath::Avx512Narrow : BlockPath::Avx512;
    struct Row {
        const char* what;
        CpuFeatures features;
        bool avx2Runs, avx512Runs;  // before the module's build (x86 or not) is considered
        BlockPath best;
    };
    const CpuFeatures none = {0, 0, 0, 0, false};
    const CpuFeatures avx2 = {Osxsave | Avx, Avx2, 0, 0x07, false};
    const CpuFeatures avx512 = {Osxsave | Avx, Avx2 | F | Bw, Vbmi, 0xE7, false};
    CpuFeatures avx2Amd = avx2;
    avx2Amd.amd = true;
    CpuFeatures avx512Amd = avx512;
    avx512Amd.amd = true;
    const Row rows[] = {
        {"plain x86", none, false, false, BlockPath::Scalar},
        {"AVX2", avx2, true, false, A2},
        {"AVX2 without OSXSAVE", {Avx, Avx2, 0, 0x07, false}, false, false, BlockPath::Scalar},
        {"AVX2 without the AVX bit", {Osxsave, Avx2, 0, 0x07, false}, false, false,
         BlockPath::Scalar},
        {"AVX2, OS saves no ymm state", {Osxsave | Avx, Avx2, 0, 0x03, false}, false, false,
         BlockPath::Scalar},
        {"AVX2 on AMD: gathers lose", avx2Amd, true, false, BlockPath::Scalar},
        {"AVX-512", avx512, true, true, A5},
        {"AVX-512 on AMD", avx512Amd, true, true, A5},
        {"AVX-512 without VBMI", {Osxsave | Avx, Avx2 | F | Bw, 0, 0xE7, false}, true, false,
         A2},
        {"AVX-512 without BW", {Osxsave | Avx, Avx2 | F, Vbmi, 0xE7, false}, true, false, A2},
        {"AVX-512, OS saves no zmm state", {Osxsave | Avx, Avx2 | F | Bw, Vbmi, 0x07, false},
         true, false, A2},
        {"AVX-512, OS saves only the low 16 zmm",
         {Osxsave | Avx, Avx2 | F | Bw, Vbmi, 0x67, false}, true, false, A2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(PathRunsOn(BlockPath::Reference, row.features));
        EXPECT_TRUE(PathRunsOn(BlockPath::Scalar, row.features));
        EXPECT_EQ(PathRunsOn(BlockPath::Avx2, row.features), X86 && row.avx2Runs);
        EXPECT_EQ(PathRunsOn(BlockPath::Avx512, row.features), X86 && row.avx512Runs);
        EXPECT_EQ(PathRunsOn(BlockPath::Avx512Narrow, row.features), X86 && row.avx512Runs);
        EXPECT_EQ(BestBlockPath(row.features), row.best);
    }
    // 32-bit code keeps the planes in memory: eight vector registers cannot hold them.
    EXPECT_EQ(BestBlockPath(avx512, 32), X86 ? BlockPath::Avx512Narrow : BlockPath::Scalar);
    EXPECT_EQ(BestBlockPath(avx512, 64), X86 ? BlockPath::Avx512 : BlockPath::Scalar);
}

TEST(BlockPathChoice, NamesRoundTrip) {
    for (BlockPath path : AllPaths) {
        BlockPath parsed = BlockPath::Reference;
        ASSERT_TRUE(ParseBlockPath(BlockPathName(path), &parsed));
        EXPECT_EQ(parsed, path);
    }
    EXPECT_STREQ(BlockPathName(BlockPath::Avx512), "avx512");
    BlockPath untouched = BlockPath::Scalar;
    EXPECT_FALSE(ParseBlockPath("avx", &untouched));
    EXPECT_FALSE(ParseBlockPath(nullptr, &untouched));
    EXPECT_EQ(untouched, BlockPath::Scalar);
}
