// 2D trimming through the real program on generated flat blanks, judged by an
// independent reading of the output against the input.
#include "test_helpers.h"
#include "test_trimcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using trimcheck::Dynain;
using trimcheck::FlatJob;
using trimcheck::Poly;

namespace {

const double kPi = 3.14159265358979323846;

struct Curve {
    int flag;  // -1 keeps the inside, 1 removes it
    Poly points;
};

struct Job : trimcheck::FlatBlank {
    Job() : FlatBlank("trim2d") {}
};

std::string DeckText(const Job& job, const std::vector<Curve>& curves, const std::string& include = "*INCLUDE\nblank.dynain\n")
{
    std::vector<std::pair<int, Poly>> cards;
    for (const Curve& c : curves) cards.emplace_back(c.flag, c.points);
    return trimcheck::FlatDeck(job.input, cards, include);
}

struct Outcome {
    testutil::RunResult run;
    Dynain output;
    bool written = false;
};

Outcome RunJob(const Job& job, const std::vector<Curve>& curves, const std::string& include = "*INCLUDE\nblank.dynain\n")
{
    testutil::WriteFile(job.dir.file("job.dyn"), DeckText(job, curves, include));
    Outcome o;
    o.run = testutil::RunProgram(job.dir, "job.dyn");
    o.written = std::filesystem::exists(job.dir.file("job.dynain"));
    if (o.written) o.output = trimcheck::ParseFile(job.dir.file("job.dynain"));
    std::filesystem::remove(job.dir.file("job.dynain"));
    return o;
}

Poly Circle(double cx, double cy, double r, int n, double phase = 0.3)
{
    Poly p;
    for (int k = 0; k <= n; ++k) {
        const double a = 2 * kPi * ((k % n) + phase) / n;
        p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return p;
}

// Five tips, five inner corners.
Poly Star(double cx, double cy, double outer, double inner, double phase)
{
    Poly p;
    for (int k = 0; k <= 10; ++k) {
        const double a = 2 * kPi * (k % 10) / 10.0 + phase;
        const double r = k % 2 == 0 ? outer : inner;
        p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return p;
}

FlatJob JobOf(const std::vector<Curve>& curves)
{
    FlatJob j;
    for (const Curve& c : curves) (c.flag == -1 ? j.keepInside : j.removeInside).push_back(c.points);
    return j;
}

void ExpectTrimmed(const Job& job, const std::vector<Curve>& curves)
{
    const Outcome o = RunJob(job, curves);
    ASSERT_EQ(o.run.status, 0) << o.run.out;
    ASSERT_TRUE(o.written);
    EXPECT_NE(o.run.out.find("2D trimming finished successfully"), std::string::npos);
    trimcheck::ExpectFlatTrim(job.input, o.output, JobOf(curves), job.h);
}

// ---------------------------------------------------------------- cases

TEST(Trim2D, KeepInsideOfACircle)
{
    Job job;
    trimcheck::MakeFlat(job, 21, 0);
    ExpectTrimmed(job, {{-1, Circle(0.5 * job.width + 1.7, 0.5 * job.height - 0.9, 0.35 * job.height, 64)}});
}

TEST(Trim2D, HoleOnABlankWithAdaptiveZones)
{
    Job job;
    trimcheck::MakeFlat(job, 22, 1);
    ASSERT_FALSE(job.input.adaptive.empty());
    ExpectTrimmed(job, {{1, Circle(0.5 * job.width - 2.3, 0.5 * job.height + 1.1, 0.3 * job.height, 48)}});
}

TEST(Trim2D, NestedCurvesKeepARing)
{
    Job job;
    trimcheck::MakeFlat(job, 23, 0);
    const double cx = 0.5 * job.width + 0.6;
    const double cy = 0.5 * job.height - 0.4;
    ExpectTrimmed(job, {{-1, Circle(cx, cy, 0.42 * job.height, 72)}, {1, Circle(cx + 3.1, cy, 0.18 * job.height, 40)}});
}

// Stars whose tips and inner corners fall inside elements, next to element
// corners, and next to edges whose crossings the neighbour made.
TEST(Trim2D, SharpCornersOfAStar)
{
    struct Row {
        int seed;
        double dx, dy, outer, phase;
    };
    for (const Row& row : {Row{24, 0.37, -0.21, 0.45, 0.1}, Row{100, 0.0, -0.42, 0.42, 5.0}}) {
        SCOPED_TRACE("seed " + std::to_string(row.seed));
        Job job;
        trimcheck::MakeFlat(job, row.seed, 0);
        ExpectTrimmed(job, {{1, Star(0.5 * job.width + row.dx, 0.5 * job.height + row.dy, row.outer * job.height,
                                     0.2 * job.height, row.phase)}});
    }
}

// Seeded small blanks with zero, one and two adaptive levels, each cut by a
// hole, a trim-out circle, a star hole and a star whose inside is kept, placed
// off the grid by the seed, so that crossings land on corners, on coarse
// edges with hanging nodes and twice on one edge: 1440 configurations, six
// seeds to a test so that the blocks run side by side.
enum SweepShape { kHole, kKeep, kStar, kStarKeep };
constexpr int kSweepBlock = 6;

// Configurations the cutters still get wrong, with why: skipped unless
// CORVEX_SWEEP_ALL is set, which shows whether they still fail. None today;
// a fault found later is listed here until it is mended.
const std::set<std::array<int, 3>> kKnownSweepFaults{};

// One configuration of the sweep: the blank of the seed and levels, cut by
// the shape placed off the grid by the seed.
void ExpectSweepTrim(int seed, int levels, SweepShape shape)
{
    SCOPED_TRACE("seed " + std::to_string(seed) + " levels " + std::to_string(levels) + " shape " +
                 std::to_string(shape));
    Job job;
    trimcheck::MakeFlat(job, seed, levels, 120);
    const double cx = 0.5 * job.width + 0.23 * (seed % 5 - 2) * job.h;
    const double cy = 0.5 * job.height + 0.31 * (seed % 3 - 1) * job.h;
    const double r = 0.36 * std::min(job.width, job.height);
    const double phase = 0.37 * seed;
    const Curve curve = shape == kHole   ? Curve{1, Circle(cx, cy, r, 64, phase)}
                        : shape == kKeep ? Curve{-1, Circle(cx, cy, r, 64, phase)}
                                         : Curve{shape == kStar ? 1 : -1, Star(cx, cy, r, 0.45 * r, phase)};
    ExpectTrimmed(job, {curve});
}

class TrimSweep : public ::testing::TestWithParam<int> {};

TEST_P(TrimSweep, SeedsLevelsAndShapes)
{
    const bool all = std::getenv("CORVEX_SWEEP_ALL") != nullptr;
    for (int seed = GetParam(); seed < GetParam() + kSweepBlock; ++seed) {
        for (int levels = 0; levels <= 2; ++levels) {
            for (const SweepShape shape : {kHole, kKeep, kStar, kStarKeep}) {
                if (kKnownSweepFaults.count({seed, levels, shape}) && !all) continue;
                ExpectSweepTrim(seed, levels, shape);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Trim2D, TrimSweep, ::testing::Range(100, 220, kSweepBlock),
                         [](const ::testing::TestParamInfo<int>& block) { return "Seeds" + std::to_string(block.param); });

// Configurations of later seeds that went wrong: a circle running nearly
// along an edge whose corner moved onto one crossing and pulled the edge past
// the next; a star's tip put on an edge near its end, and one by an edge both
// of whose ends would go onto the crossings; a star's tip beside the end of a
// coarse edge, which a neighbour's crossing near it would have turned; a
// star's tip beside an edge crossed twice, whose corner moved onto a crossing
// would have left the tip outside; a kept star's tip poking out across an
// edge, whose nodes there a corner, or a hanging node moved along its coarse
// edge, would have left off the edge; a kept star's tip poking across a
// coarse edge, whose crossings a corner moved a short way onto a crossing
// next to them would have swung off the fine neighbour's edge; a star's arm
// nearly parallel to a grid line and 0.07 beside it, once taken as running
// along the line's edges; a star's tip 0.026 across a coarse edge, whose two
// crossings 0.022 apart the coarse element took for one and the fine side cut
// apart; a star's tip 1.4 inside a fine element beside its coarse edge, taken
// as lying on the edge, which left one crossing without a node; a kept star's
// tip inside a coarse element near a corner, which moved onto the tip would
// have left the fine side's node on that corner's coarse edge behind; a kept
// star over a coarse edge both of whose ends went onto the line, whose
// hanging node left at the old middle would have had the fine side cut the
// line elsewhere; a kept star's tip just inside a coarse edge, swept out of
// the fine neighbour by a hanging node moved off that edge onto a crossing; a
// star's tip 0.023 beside a coarse edge, once taken for the hanging node there
// by the fine side and given a node of its own by the coarse element; a kept
// star's inner corner 0.4 below a coarse edge whose arms cross it twice, the
// crossing nearer the hanging node once taken for that node 1.36 away; a kept
// star's arm crossing the far half of a coarse edge, whose near end a
// neighbour moved onto the line, which turned the edge away from the fine
// side's crossing; a kept star's tip 0.12 inside a fine element beside its
// coarse edge, whose hanging node, moved onto the line before the tip, once
// stood for the crossing past the tip and cut the tip off.
TEST(Trim2D, SweepConfigurationsOnceWrong)
{
    for (const auto& [seed, levels, shape] : std::vector<std::array<int, 3>>{
             {238, 1, kKeep}, {268, 1, kKeep}, {287, 2, kKeep}, {403, 1, kKeep}, {452, 2, kKeep},
             {382, 0, kStar}, {242, 1, kStar}, {264, 2, kStar}, {329, 2, kStar}, {474, 1, kStar}, {403, 2, kStar},
             {457, 1, kStar}, {286, 2, kStarKeep}, {309, 2, kStarKeep}, {242, 1, kStarKeep}, {450, 1, kStarKeep},
             {243, 2, kStarKeep}, {357, 2, kStarKeep}, {432, 2, kStarKeep}, {350, 2, kStar},
             {346, 2, kStarKeep}, {379, 2, kStarKeep}, {445, 2, kStarKeep}, {254, 2, kStarKeep}})
        ExpectSweepTrim(seed, levels, static_cast<SweepShape>(shape));
}

// Two trim-out curves that overlap keep what lies inside both: the second
// cuts through what the first kept.
TEST(Trim2D, OverlappingTrimOutCurvesKeepWhatLiesInsideBoth)
{
    Job job;
    trimcheck::MakeFlat(job, 31, 0);
    ExpectTrimmed(job, {{-1, Circle(0.4 * job.width, 0.5 * job.height + 0.3, 0.4 * job.height, 48)},
                        {-1, Circle(0.6 * job.width - 0.2, 0.5 * job.height, 0.35 * job.height, 40)}});
}

// A curve that misses the blank is named in the log and the report; the other
// still cuts, and the operation ends as finished although the line that came
// last (the smaller) cut nothing.
TEST(Trim2D, CurveMissingTheBlankIsNamedAndTheOtherStillCuts)
{
    Job job;
    trimcheck::MakeFlat(job, 30, 0);
    const Curve hole{1, Circle(0.5 * job.width, 0.5 * job.height, 0.3 * job.height, 40)};
    const Curve away{1, Circle(3 * job.width, 3 * job.height, 0.1 * job.height, 16)};
    const Outcome o = RunJob(job, {hole, away});
    ASSERT_EQ(o.run.status, 0) << o.run.out;
    ASSERT_TRUE(o.written);
    EXPECT_NE(o.run.out.find("Trim curve 2_1 meets no element of the blank"), std::string::npos) << o.run.out;
    EXPECT_EQ(o.run.out.find("Trim curve 1_1 meets"), std::string::npos);
    EXPECT_NE(o.run.out.find("2D trimming finished successfully"), std::string::npos);
    EXPECT_EQ(o.run.out.find("2D trimming failed"), std::string::npos);
    EXPECT_NE(testutil::ReadFile(job.dir.file("job.report.json")).find(
                  "\"warnings\": [\"Trim curve 2_1 meets no element of the blank\"]"),
              std::string::npos);
    trimcheck::ExpectFlatTrim(job.input, o.output, JobOf({hole}), job.h);
}

// A square whose sides run along grid lines and whose corners sit on nodes.
TEST(Trim2D, CurveAlongElementEdgesAndThroughCorners)
{
    Job job;
    trimcheck::MakeFlat(job, 25, 0);
    // The flat generator's grid starts at the origin with cells of the shortest edge.
    const double g = job.h;
    const Poly square{{3 * g, 2 * g}, {9 * g, 2 * g}, {9 * g, 8 * g}, {3 * g, 8 * g}, {3 * g, 2 * g}};
    ExpectTrimmed(job, {{1, square}});
}

// A hole's inner corner a little below a grid line, whose arms cross that
// line close to both corners of the element below: the element moves both
// corners onto the crossings and must still keep the corner.
TEST(Trim2D, InnerCornerBesideAnEdgeWhoseCornersGoOntoTheCrossings)
{
    Job job;
    trimcheck::MakeFlat(job, 28, 0);
    const double g = job.h;
    const Poly notch{{3.6 * g, 2.2 * g}, {5.6 * g, 2.2 * g}, {5.16 * g, 4.16 * g},
                     {4.467 * g, 3.814 * g}, {3.65 * g, 4.45 * g}, {3.6 * g, 2.2 * g}};
    ExpectTrimmed(job, {{1, notch}});
}

TEST(Trim2D, ClosedCurvePartlyOffTheBlank)
{
    Job job;
    trimcheck::MakeFlat(job, 26, 0);
    ExpectTrimmed(job, {{1, Circle(job.width + 0.1, 0.5 * job.height + 0.7, 0.4 * job.height, 56)}});
    ExpectTrimmed(job, {{-1, Circle(0.1 * job.width, 0.5 * job.height + 0.7, 0.45 * job.width, 56)}});
}

// The deck moves and scales the blank as it reads it; the curve is drawn where
// the blank then lies, and the cut is judged against the moved blank (the
// flat generator's coordinates and these factors are exact in single precision).
TEST(Trim2D, TransformedBlankIsCutWhereItLies)
{
    Job job;
    trimcheck::MakeFlat(job, 27, 0);
    Dynain moved = job.input;
    for (auto& [id, p] : moved.nodes) p = {1.5 * (p[0] - 40.0), 1.5 * (p[1] + 25.0), p[2]};
    const std::string include =
        "*DEFINE_TRANSFORMATION\n         3\nTRANSL         -40.0      25.0       0.0\n"
        "SCALE            1.5       1.5       1.0\n*INCLUDE_TRANSFORM\nblank.dynain\n0\n0\n1.0\n         3\n";
    const std::vector<Curve> curves{{-1, Circle(1.5 * (0.5 * job.width - 40.0) + 2.1, 1.5 * (0.5 * job.height + 25.0),
                                                0.5 * job.height, 60)}};
    const Outcome o = RunJob(job, curves, include);
    ASSERT_EQ(o.run.status, 0) << o.run.out;
    ASSERT_TRUE(o.written);
    trimcheck::ExpectFlatTrim(moved, o.output, JobOf(curves), 1.5 * job.h);
}

// ---------------------------------------------------------------- faults

TEST(Trim2DFaults, CurveOffTheBlankEndsWithTheNoCutFailure)
{
    Job job;
    trimcheck::MakeFlat(job, 28, 0);
    const Outcome o = RunJob(job, {{1, Circle(3 * job.width, 3 * job.height, 10.0, 16)}});
    EXPECT_EQ(o.run.status, 255);
    EXPECT_FALSE(o.written);
    EXPECT_NE(o.run.out.find("Invalid gap or trimming direction"), std::string::npos);
}

TEST(Trim2DRun, SameJobGivesTheSameBytes)
{
    Job job;
    trimcheck::MakeFlat(job, 29, 1);
    const std::vector<Curve> curves{{1, Circle(0.5 * job.width, 0.5 * job.height, 0.3 * job.height, 40)}};
    testutil::WriteFile(job.dir.file("job.dyn"), DeckText(job, curves));
    ASSERT_EQ(testutil::RunProgram(job.dir, "job.dyn").status, 0);
    const std::string first = testutil::ReadFile(job.dir.file("job.dynain"));
    std::filesystem::remove(job.dir.file("job.dynain"));
    ASSERT_EQ(testutil::RunProgram(job.dir, "job.dyn").status, 0);
    EXPECT_EQ(first, testutil::ReadFile(job.dir.file("job.dynain")));
}

}  // namespace
