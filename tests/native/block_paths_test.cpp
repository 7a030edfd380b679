// Every block path this processor runs against the reference path, and the choice of path.
// Self-contained: it also builds for the 32-bit module, without OpenSSL.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "cipher/block_paths.h"

namespace {

// Recorded while the test program loads, before any test can switch paths.
const BlockPath pathAtLoad = ActiveBlockPath();

// First in the file, so that in one process it runs before any test forces a path. The
// log names each path's measured speed and the path chosen.
TEST(BlockPaths, TheMeasuredFastestPathIsChosen) {
    BlowfishContext context;
    ExpandKey(&context, reinterpret_cast<const uint8_t*>("timing"), 6);
    const PathTimings& timings = MeasureBlockPathsOnce(&context);
    const CpuFeatures here = ReadCpuFeatures();
    for (int32_t index = 0; index < BlockPathCount; ++index) {
        const BlockPath path = static_cast<BlockPath>(index);
        const double speed = timings.megabytesPerSecond[index];
        if (speed > 0) {
            std::printf("path %s: %.1f MB/s\n", BlockPathName(path), speed);
        } else {
            std::printf("path %s: %s\n", BlockPathName(path), path == BlockPath::Reference
                        ? "never chosen, not timed" : "not offered by this processor");
        }
        EXPECT_EQ(speed > 0, path != BlockPath::Reference && PathRunsOn(path, here));
    }
    const BlockPath fastest = FastestTimedPath(timings, pathAtLoad);
    std::printf("chosen at load: %s; by measurement: %s (the fastest, unless within 5%% of it)\n",
                BlockPathName(pathAtLoad), BlockPathName(fastest));
    EXPECT_EQ(ActiveBlockPath(), fastest);
    EXPECT_EQ(&MeasureBlockPathsOnce(&context), &timings);  // timed once only
    // A forced path outranks the measurement.
    ASSERT_TRUE(SetBlockPath(BlockPath::Reference));
    EXPECT_FALSE(AdoptMeasuredPath(fastest));
    EXPECT_EQ(ActiveBlockPath(), BlockPath::Reference);
    EXPECT_TRUE(SetBlockPath(fastest));
}

// The choice and the batch under a time budget follow from the timings alone.
TEST(BlockPaths, TimingsDecideThePathAndTheBatch) {
    const BlockPath R = BlockPath::Reference, S = BlockPath::Scalar, A2 = BlockPath::Avx2;
    struct Row { PathTimings timings; BlockPath standing, fastest; size_t blocksIn50us; };
    const Row rows[] = {
        {{{0, 0, 0, 0, 0}}, R, R, 64},                          // nothing timed: the fallback
        {{{0, 512, 0, 0, 0}}, R, S, 3200},                      // 25,600 bytes in 50 us
        {{{0, 536, 406, 491, 1097}}, S, BlockPath::Avx512Narrow, 2496},    // by avx2, slowest
        {{{0, 552, 377, 1474, 1443}}, S, BlockPath::Avx512, 2304},
        {{{0, 3, 2, 0, 0}}, R, S, 64},                          // at least one vector group
        {{{0, 530, 550, 0, 0}}, S, S, 3264},                    // 4% faster: the choice stands
        {{{0, 530, 560, 0, 0}}, S, A2, 3264},                   // 6% faster: it changes
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FastestTimedPath(row.timings, row.standing), row.fastest) << &row - rows;
        EXPECT_EQ(BlocksWithin(row.timings, 50), row.blocksIn50us) << &row - rows;
    }
}

// Runs of every length past each path's group sizes (scalar 4 or 5, AVX2 8 and 16,
// AVX-512 64) and one long run, at every offset from an 8-byte boundary, between guard
// bytes that must stay as they were. The third key's tables are mostly 0x00 and 0xFF
// bytes, so that the sums in F carry across byte boundaries far more often.
TEST(BlockPaths, EveryPathThisProcessorRunsGivesTheReferenceBytes) {
    const BlockPath saved = ActiveBlockPath();
    std::printf("chosen at load: %s\n", BlockPathName(pathAtLoad));
    std::mt19937 random(20240611);
    int tried = 0;
    BlockPath last = saved;     // the path last switched to, which refusals leave active
    for (int32_t index = 0; index < BlockPathCount; ++index) {
        const BlockPath path = static_cast<BlockPath>(index);
        if (!PathRunsOn(path, ReadCpuFeatures())) {
            std::printf("path %s: not offered by this processor\n", BlockPathName(path));
            EXPECT_FALSE(SetBlockPath(path));       // refused, the active path kept
            continue;
        }
        ASSERT_TRUE(SetBlockPath(path));
        ASSERT_EQ(ActiveBlockPath(), last = path);
        ++tried;
        for (int key = 0; key < 3; ++key) {
            static const uint32_t Words[] = {0, 1, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF,
                                             0xFFFFFF01, 0x00FF00FF, 0x80000000, 0x7FFFFFFF};
            BlowfishContext context;
            uint8_t keyBytes[56];
            for (uint8_t& b : keyBytes) b = static_cast<uint8_t>(random());
            ExpandKey(&context, keyBytes, int32_t(1 + random() % 56));
            for (auto& box : context.S)
                for (uint32_t& w : box) w = key < 2 || random() % 4 == 0 ? w : Words[random() % 10];
            for (size_t blocks = 0; blocks <= 141; ++blocks) {
                const size_t count = blocks == 141 ? 1000 + random() % 64 : blocks;
                const size_t start = 16 + count % 8;
                std::vector<uint8_t> buffer(start + 8 * count + 16);
                for (uint8_t& b : buffer) b = static_cast<uint8_t>(random());
                for (bool encrypt : {true, false}) {
                    std::vector<uint8_t> expected = buffer;
                    (encrypt ? EncryptBlocksReference : DecryptBlocksReference)(
                        &context, expected.data() + start, count);
                    (encrypt ? EncryptBlocks : DecryptBlocks)(&context, buffer.data() + start,
                                                              count);
                    ASSERT_TRUE(buffer == expected) << BlockPathName(path) << " key " << key
                        << (encrypt ? " encrypt " : " decrypt ") << count << " blocks";
                }
            }
        }
        std::printf("path %s: ran\n", BlockPathName(path));
    }
    EXPECT_GE(tried, 2);    // the reference and scalar paths run everywhere
    EXPECT_FALSE(SetBlockPath(BlockPath(-1)) || SetBlockPath(BlockPath(BlockPathCount)));
    EXPECT_EQ(ActiveBlockPath(), last);
    EXPECT_TRUE(SetBlockPath(saved));
}

TEST(BlockPaths, FeaturesDecideWhatRunsAndWhatIsBest) {
    const CpuFeatures here = ReadCpuFeatures();
    EXPECT_EQ(pathAtLoad, BestBlockPath(here));
#if defined(__x86_64__) || defined(__i386__)
    constexpr bool X86 = true;
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2");
    EXPECT_EQ(PathRunsOn(BlockPath::Avx2, here), avx2);
    EXPECT_EQ(PathRunsOn(BlockPath::Avx512, here), avx2 && __builtin_cpu_supports("avx512f") &&
              __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"));
    EXPECT_EQ(here.amd, __builtin_cpu_is("amd"));
#else
    constexpr bool X86 = false;
#endif
    const BlockPath S = BlockPath::Scalar, A2 = X86 ? BlockPath::Avx2 : S;
    // 32-bit code keeps the AVX-512 planes in memory: eight vector registers cannot hold them.
    const BlockPath A5 = !X86 ? S : ModuleBits == 32 ? BlockPath::Avx512Narrow : BlockPath::Avx512;
    constexpr uint32_t Os = 1u << 27, Avx = 1u << 28, V2 = 1u << 5, F = 1u << 16, Bw = 1u << 30;
    struct Row { CpuFeatures features; bool avx2, avx512; BlockPath best; };
    const Row rows[] = {
        {{0, 0, 0, 0, false}, false, false, S},
        {{Os | Avx, V2, 0, 0x07, false}, true, false, A2},
        {{Os | Avx, V2, 0, 0x07, true}, true, false, S},             // AMD: gathers lose
        {{Avx, V2, 0, 0x07, false}, false, false, S},                // no OSXSAVE
        {{Os, V2, 0, 0x07, false}, false, false, S},                 // no AVX
        {{Os | Avx, V2, 0, 0x03, false}, false, false, S},           // no ymm state saved
        {{Os | Avx, V2 | F | Bw, 2, 0xE7, true}, true, true, A5},
        {{Os | Avx, V2 | F | Bw, 0, 0xE7, false}, true, false, A2},  // no VBMI
        {{Os | Avx, V2 | F, 2, 0xE7, false}, true, false, A2},       // no BW
        {{Os | Avx, V2 | F | Bw, 2, 0x67, false}, true, false, A2},  // upper zmm not saved
    };
    for (const Row& row : rows) {
        EXPECT_TRUE(PathRunsOn(BlockPath::Scalar, row.features));
        EXPECT_EQ(PathRunsOn(BlockPath::Avx2, row.features), X86 && row.avx2) << &row - rows;
        EXPECT_EQ(PathRunsOn(BlockPath::Avx512, row.features), X86 && row.avx512) << &row - rows;
        EXPECT_EQ(PathRunsOn(BlockPath::Avx512Narrow, row.features), X86 && row.avx512);
        EXPECT_EQ(BestBlockPath(row.features), row.best) << &row - rows;
    }
    EXPECT_EQ(BestBlockPath(rows[6].features, 32), X86 ? BlockPath::Avx512Narrow : S);
    EXPECT_EQ(BestBlockPath(rows[6].features, 64), X86 ? BlockPath::Avx512 : S);
    BlockPath parsed = S;
    EXPECT_TRUE(ParseBlockPath("avx512", &parsed) && parsed == BlockPath::Avx512);
    EXPECT_FALSE(ParseBlockPath("avx", &parsed));
}

}  // namespace
