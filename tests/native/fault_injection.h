// Runs an operation once for each allocation it makes, with that allocation failing.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "engine/allocation.h"

// Failures injected in this process; printed when the tests end.
inline int64_t allocationFaultsTried = 0;

// One failure point: `successes` allocations pass, then `failures` fail.
class FaultPoint {
public:
    FaultPoint(int64_t successes, int64_t failures) : successes(successes), failures(failures) {}
    // Call right before the operation, after the attempt has built its starting state.
    void Arm() const { FailAllocationAfter(successes, failures); }
    // Ends the injection; true when an allocation was refused since Arm.
    bool Disarm() const {
        const bool hit = AllocationsRefused() > 0;
        FailAllocationAfter(NoAllocationFailure);
        return hit;
    }
    int64_t Successes() const { return successes; }

private:
    int64_t successes;
    int64_t failures;
};

// Calls attempt(point) with 0, 1, 2, ... allocations let through before the failure,
// until an attempt runs with none refused: by then every allocation of the operation has
// failed once. The attempt builds its own starting state, arms the point, runs the
// operation, disarms, checks the outcome and returns what Disarm said. Returns the number
// of allocations that were failed. With `failures` very large, memory stays exhausted
// from the failure point on instead of failing once.
template <typename Attempt>
int ForEachAllocationFailure(Attempt attempt, int64_t failures = 1) {
    constexpr int64_t Limit = 64;       // no operation here makes nearly as many
    for (int64_t successes = 0; successes < Limit; ++successes) {
        const bool hit = attempt(FaultPoint(successes, failures));
        FailAllocationAfter(NoAllocationFailure);   // an assertion may have left early
        if (!hit) return static_cast<int>(successes);
        ++allocationFaultsTried;
    }
    ADD_FAILURE() << "the operation still allocated after " << Limit << " failures";
    return -1;
}

constexpr int64_t MemoryExhausted = INT64_MAX;

// Prints the number of failures injected when the test program ends.
class FaultSummary : public ::testing::Environment {
public:
    void TearDown() override {
        if (allocationFaultsTried > 0)
            std::printf("allocation failures injected: %lld\n",
                        static_cast<long long>(allocationFaultsTried));
    }
};
