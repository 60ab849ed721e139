// 2D trimming through the real program on generated flat blanks, every
// output judged by the independent judge of cuts.
#include "test_sweeprun.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using sweep::Circle;
using sweep::Config;
using sweep::Flat;
using sweep::Dynain;
using sweep::Poly;

// Each curve with its flag: -1 keeps the inside, 1 removes it.
using Curves = std::vector<std::pair<int, Poly>>;

Config Trim(const std::string& blank, const Curves& curves) { return sweep::TrimAlongZ(blank, curves); }

// ---------------------------------------------------------------- cases

// Placed by the blank's extent (w x d, from the origin) and its element size g.
struct Case {
    const char* name;
    int seed, levels;
    std::function<Curves(double w, double d, double g)> curves;
};

// What the flat sweep's single circles and stars do not make: a ring of two
// curves; a notch whose inner corner lies just below a grid line its arms
// cross close to both corners of the element below, which must keep the
// corner when both go onto the crossings; two overlapping trim-out curves,
// which keep what lies inside both; curves partly off the blank.
const std::vector<Case> kCases{
    {"nested curves keep a ring", 23, 0,
     [](double w, double d, double) {
         return Curves{{-1, Circle(0.5 * w + 0.6, 0.5 * d - 0.4, 0.42 * d, 72)},
                       {1, Circle(0.5 * w + 3.7, 0.5 * d - 0.4, 0.18 * d, 40)}};
     }},
    {"inner corner by an edge", 28, 0,
     [](double, double, double g) {
         return Curves{{1,
                        {{3.6 * g, 2.2 * g}, {5.6 * g, 2.2 * g}, {5.16 * g, 4.16 * g}, {4.467 * g, 3.814 * g},
                         {3.65 * g, 4.45 * g}, {3.6 * g, 2.2 * g}}}};
     }},
    {"overlapping trim-out curves", 31, 0,
     [](double w, double d, double) {
         return Curves{{-1, Circle(0.4 * w, 0.5 * d + 0.3, 0.4 * d, 48)}, {-1, Circle(0.6 * w - 0.2, 0.5 * d, 0.35 * d, 40)}};
     }},
    {"hole partly off the blank", 26, 0,
     [](double w, double d, double) { return Curves{{1, Circle(w + 0.1, 0.5 * d + 0.7, 0.4 * d, 56)}}; }},
    {"kept circle partly off the blank", 26, 0,
     [](double w, double d, double) { return Curves{{-1, Circle(0.1 * w, 0.5 * d + 0.7, 0.45 * w, 56)}}; }},
};

TEST(Trim2D, CasesCutRight)
{
    for (const Case& k : kCases) {
        SCOPED_TRACE(k.name);
        const std::string blank = Flat(k.seed, k.levels);
        const sweep::Blank& b = sweep::GetBlank(blank);
        const sweep::Outcome o = sweep::ExpectRight(Trim(blank, k.curves(b.x1, b.y1, b.h())), "trim2d");
        EXPECT_NE(o.log.find("2D trimming finished successfully"), std::string::npos) << o.log;
    }
}

// ---------------------------------------------------------------- runs

// A curve that misses the blank is named in the log and the report; the other
// still cuts, and the operation ends as finished although the line that came
// last (the smaller) cut nothing.
TEST(Trim2D, CurveMissingTheBlankIsNamedAndTheOtherStillCuts)
{
    const std::string blank = Flat(30, 0);
    const sweep::Blank& b = sweep::GetBlank(blank);
    testutil::ScratchDir dir("trim2d");
    std::set<std::string> written;
    const sweep::Outcome o = sweep::Run(dir,
                                        Trim(blank, {{1, Circle(0.5 * b.x1, 0.5 * b.y1, 0.3 * b.y1, 40)},
                                                     {1, Circle(3 * b.x1, 3 * b.y1, 0.1 * b.y1, 16)}}),
                                        written);
    EXPECT_FALSE(o.wrong) << o.Summary() << o.log;
    EXPECT_NE(o.log.find("Trim curve 2_1 meets no element of the blank"), std::string::npos) << o.log;
    EXPECT_EQ(o.log.find("Trim curve 1_1 meets"), std::string::npos);
    EXPECT_NE(o.log.find("2D trimming finished successfully"), std::string::npos);
    EXPECT_EQ(o.log.find("2D trimming failed"), std::string::npos);
    EXPECT_NE(testutil::ReadFile(dir.file("job.report.json"))
                  .find("\"warnings\": [\"Trim curve 2_1 meets no element of the blank\"]"),
              std::string::npos);
}

// A curve wholly off the blank cuts nothing: the run fails and writes nothing;
// a job run twice writes the same bytes.
TEST(Trim2D, CurveOffTheBlankFailsAndTheSameJobGivesTheSameBytes)
{
    const std::string blank = Flat(29, 1);
    const sweep::Blank& b = sweep::GetBlank(blank);
    testutil::ScratchDir dir("trim2d");
    sweep::WriteConfig(dir.path(), Trim(blank, {{1, Circle(3 * b.x1, 3 * b.y1, 10.0, 16)}}));
    const testutil::RunResult off = testutil::RunProgram(dir, "job.dyn");
    EXPECT_EQ(off.status, 255);
    EXPECT_FALSE(std::filesystem::exists(dir.file("job.dynain")));
    EXPECT_NE(off.out.find("Invalid gap or trimming direction"), std::string::npos) << off.out;

    sweep::WriteConfig(dir.path(), Trim(blank, {{1, Circle(0.5 * b.x1, 0.5 * b.y1, 0.3 * b.y1, 40)}}));
    ASSERT_EQ(testutil::RunProgram(dir, "job.dyn").status, 0);
    const std::string first = testutil::ReadFile(dir.file("job.dynain"));
    std::filesystem::remove(dir.file("job.dynain"));
    ASSERT_EQ(testutil::RunProgram(dir, "job.dyn").status, 0);
    EXPECT_EQ(first, testutil::ReadFile(dir.file("job.dynain")));
}

// The deck moves and scales the blank as it reads it; the curve is drawn where
// the blank then lies, and the cut is judged against the moved blank (the
// flat generator's coordinates and these factors are exact in single precision).
TEST(Trim2D, TransformedBlankIsCutWhereItLies)
{
    const sweep::Blank& b = sweep::GetBlank(Flat(27, 0));
    Dynain moved = b.mesh;
    for (auto& [id, p] : moved.nodes) p = {1.5 * (p[0] - 40.0), 1.5 * (p[1] + 25.0), p[2]};
    const sweep::Job job =
        sweep::JobAlongZ({{-1, Circle(1.5 * (0.5 * b.x1 - 40.0) + 2.1, 1.5 * (0.5 * b.y1 + 25.0), 0.5 * b.y1, 60)}});
    std::string deck = sweep::DeckFor(b.mesh, job, "blank.dynain");
    deck.replace(deck.find("*INCLUDE\n"), std::string("*INCLUDE\nblank.dynain\n").size(),
                 "*DEFINE_TRANSFORMATION\n         3\nTRANSL         -40.0      25.0       0.0\n"
                 "SCALE            1.5       1.5       1.0\n*INCLUDE_TRANSFORM\nblank.dynain\n0\n0\n1.0\n         3\n");
    testutil::ScratchDir dir("trim2d");
    testutil::WriteFile(dir.file("blank.dynain"), b.text);
    testutil::WriteFile(dir.file("job.dyn"), deck);
    const testutil::RunResult run = testutil::RunProgram(dir, "job.dyn");
    ASSERT_EQ(run.status, 0) << run.out;
    sweep::ExpectJudged(moved, trimcheck::ParseFile(dir.file("job.dynain")), job);
}

}  // namespace
