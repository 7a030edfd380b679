// The measured choice of block path, timed once with the steady clock.
#include <chrono>

#include "cipher/block_paths.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

uint64_t SteadyNanoseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
        SteadyClock::now().time_since_epoch()).count());
}

constexpr uint64_t NanosecondsPerSecond = 1000000000;
constexpr uint64_t TimingBudget = NanosecondsPerSecond / 1000;   // 1 ms in all
constexpr int TimingRounds = 5;

}  // namespace

const PathTimings& MeasureBlockPathsOnce(const BlowfishContext* context) {
    // Built at the first call only: the timing runs once per process.
    static PathTimings timings = [context] {
        PathTimings timed = TimeBlockPaths(context, ReadCpuFeatures(), SteadyNanoseconds,
                                           NanosecondsPerSecond, TimingBudget, TimingRounds);
        AdoptMeasuredPath(FastestTimedPath(timed, ActiveBlockPath()));
        return timed;
    }();
    return timings;
}
