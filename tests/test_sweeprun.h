// The cutting sweeps seen from the tests: what the judge finds wrong is a failure.
#ifndef TEST_SWEEPRUN_H
#define TEST_SWEEPRUN_H

#include "sweeprun.h"
#include "test_helpers.h"
#include "test_trimcheck.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sweep {

// One configuration run in a scratch directory of its own.
inline Outcome ExpectRight(const Config& c, const std::string& tag = "cut")
{
    testutil::ScratchDir dir(tag);
    std::set<std::string> written;
    Outcome o = Run(dir, c, written);
    EXPECT_FALSE(o.wrong) << o.Summary() << o.log;
    return o;
}

// The judge's findings on an output the test ran by itself.
inline void ExpectJudged(const Dynain& in, const Dynain& out, const Job& job)
{
    const cutjudge::Judge judge(in, out, job);
    EXPECT_TRUE(judge.ok()) << judge.Summary();
}

inline void ExpectSweepRight(const std::string& family, const std::string& generator, int from, int to)
{
    for (const std::string& wrong : RunSweep(family, generator, from, to)) ADD_FAILURE() << wrong;
}

// Single configurations that once went wrong.
inline void ExpectEachRight(const std::string& family, const std::vector<std::pair<std::string, int>>& configs)
{
    for (const auto& [generator, seed] : configs) ExpectSweepRight(family, generator, seed, seed + 1);
}

}  // namespace sweep

#endif
