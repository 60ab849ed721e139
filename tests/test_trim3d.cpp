// 3D trimming through the real program on the bundled drawn cup: a circle
// around its wall, the side kept chosen by the seed node, judged by an
// independent reading of the output.
#include "test_helpers.h"
#include "test_trimcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using trimcheck::Dynain;

#if defined(CORVEX_IGES_LIBRARY) && defined(CORVEX_IGESWRITE)

struct Cup {
    testutil::ScratchDir dir{"trim3d"};
    Dynain input;
    double zc = 0.0;  // height of the wall circle
    double rc = 0.0;
    int bottomSeed = 0;
    int flangeSeed = 0;
};

// The cup of the bundled example and a circle halfway between two node rows of
// its wall (the example's own curve), or on a node row when onRow is set.
void MakeCup(Cup& cup, bool onRow = false)
{
    const fs::path source = fs::path(CORVEX_EXAMPLES) / "trim3d";
    fs::copy_file(source / "blank.dynain", cup.dir.path() / "blank.dynain");
    cup.input = trimcheck::ParseFile(cup.dir.file("blank.dynain"));
    double low = 0.0;
    for (const auto& [id, p] : cup.input.nodes) low = std::min(low, p[2]);
    const double half = 0.5 * low;
    double zb = -1e300, za = 1e300, rb = 0, ra = 0;
    double best = 1e300, far = -1.0;
    for (const auto& [id, p] : cup.input.nodes) {
        const double r = std::hypot(p[0], p[1]);
        if (p[2] <= half && p[2] > zb) zb = p[2], rb = r;
        if (p[2] > half && p[2] < za) za = p[2], ra = r;
        const double d = r * r + (p[2] - low) * (p[2] - low);
        if (d < best) best = d, cup.bottomSeed = id;
        if (r > far) far = r, cup.flangeSeed = id;
    }
    cup.zc = onRow ? zb : 0.5 * (zb + za);
    cup.rc = onRow ? rb : 0.5 * (rb + ra);
    char cmd[512];
    std::snprintf(cmd, sizeof cmd, "'%s' -o '%s' circle 0 0 %.6f %.6f 0 0 1 > /dev/null 2>&1", CORVEX_IGESWRITE,
                  cup.dir.file("wall.igs").c_str(), cup.zc, cup.rc);
    ASSERT_EQ(std::system(cmd), 0);
}

std::string Deck(const std::string& curves)
{
    return "*KEYWORD\n*KEYWORD_ID\njob\n"
           "*PART\n$  part id  section\n         5         1\n"
           "*PART\n$  part id  section\n         6         1\n"
           "*PART\n$  part id  section\n         7         1\n"
           "*SECTION_SHELL\n$ section\n         1\n     1.000     1.000     1.000     1.000\n"
           "*SET_PART_LIST\n$   set id\n         1\n         5         6         7\n"
           "*ELEMENT_TRIM\n$   set id\n         1\n" +
           curves + "*INCLUDE\nblank.dynain\n*END\n";
}

std::string Curve3D(int seed)
{
    char line[128];
    std::snprintf(line, sizeof line, "%10d%10d%10d%10d%10.2f%10.2f%10d\n", 1, 2, 1, 0, 0.25, 2.0, seed);
    return std::string("*DEFINE_CURVE_TRIM_3D\n") + line + "wall.igs\n";
}

// A card with a second seed naming an IGES file.
std::string Curve3D2(int seed, int seed2, const std::string& file = "wall.igs")
{
    char line[128];
    std::snprintf(line, sizeof line, "%10d%10d%10d%10d%10.2f%10.2f%10d%10d\n", 1, 2, 1, 0, 0.25, 2.0, seed, seed2);
    return std::string("*DEFINE_CURVE_TRIM_3D\n") + line + file + "\n";
}

// A card whose curve is given by its point lines.
std::string Curve3DPoints(int id, int seed, int seed2, const std::vector<trimcheck::P3>& points)
{
    char line[128];
    std::snprintf(line, sizeof line, "%d,1,1,0,0.25,2.0,%d,%d\n$ x y z\n", id, seed, seed2);
    std::string card = std::string("*DEFINE_CURVE_TRIM_3D\n") + line;
    for (const auto& p : points) {
        std::snprintf(line, sizeof line, "%20.6f%20.6f%20.6f\n", p[0], p[1], p[2]);
        card += line;
    }
    return card;
}

// Points on a horizontal circle, rounded to 1/64 so that their decimal text is
// exact and both the deck and the IGES file carry the very same numbers.
std::vector<trimcheck::P3> CirclePoints(double cx, double r, double z, int n)
{
    const auto round64 = [](double v) { return std::round(v * 64.0) / 64.0; };
    std::vector<trimcheck::P3> points;
    for (int k = 0; k < n; ++k) {
        const double a = 2 * 3.14159265358979 * (k + 0.3) / n;
        points.push_back({round64(cx + r * std::cos(a)), round64(r * std::sin(a)), round64(z)});
    }
    return points;
}

double ShellArea(const Dynain& d)
{
    double total = 0.0;
    for (const auto& s : d.shells) {
        const auto& a = d.nodes.at(s.nodes[0]);
        for (size_t k = 1; k + 1 < s.nodes.size(); ++k) {
            const auto& b = d.nodes.at(s.nodes[k]);
            const auto& c = d.nodes.at(s.nodes[k + 1]);
            const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            total += 0.5 * std::hypot(u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]);
        }
    }
    return total;
}

struct Outcome {
    testutil::RunResult run;
    Dynain output;
    std::string text;
    bool written = false;
};

Outcome RunJob(const Cup& cup, const std::string& curves)
{
    testutil::WriteFile(cup.dir.file("job.dyn"), Deck(curves));
    Outcome o;
    o.run = testutil::RunProgram(cup.dir, "job.dyn");
    o.written = fs::exists(cup.dir.file("job.dynain"));
    if (o.written) {
        o.text = testutil::ReadFile(cup.dir.file("job.dynain"));
        o.output = trimcheck::Parse(o.text);
    }
    fs::remove(cup.dir.file("job.dynain"));
    return o;
}

// Every node kept lies on the seed's side of the circle's height, and every
// node the cut made lies on the circle.
void ExpectSide(const Cup& cup, const Outcome& o, bool below, const trimcheck::Poly& hole = {})
{
    ASSERT_EQ(o.run.status, 0) << o.run.out;
    ASSERT_TRUE(o.written);
    trimcheck::ExpectSoundMesh(cup.input, o.output);
    ASSERT_FALSE(o.output.shells.empty());
    int onCurve = 0;
    for (const auto& [id, p] : o.output.nodes) {
        const double side = below ? p[2] - cup.zc : cup.zc - p[2];
        EXPECT_LT(side, 0.05) << "node " << id << " at height " << p[2] << " on the side that goes";
        const auto old = cup.input.nodes.find(id);
        const bool moved = old != cup.input.nodes.end() &&
                           std::hypot(old->second[0] - p[0], old->second[1] - p[1], old->second[2] - p[2]) > 1e-4;
        if (old == cup.input.nodes.end() || moved) {
            const bool hanging = std::any_of(cup.input.adaptive.begin(), cup.input.adaptive.end(),
                                             [&](const auto& a) { return a[0] == id; });
            if (hanging) continue;
            if (!hole.empty() && trimcheck::DistToCurve({p[0], p[1]}, hole) < 1e-3) continue;
            ++onCurve;
            EXPECT_NEAR(p[2], cup.zc, 0.05) << "node " << id;
            EXPECT_NEAR(std::hypot(p[0], p[1]), cup.rc, 0.05 * cup.rc) << "node " << id;
        }
    }
    EXPECT_GT(onCurve, 0);
    const auto onCut = [&](const trimcheck::P3& p) {
        return (std::fabs(p[2] - cup.zc) < 0.05 &&
                std::fabs(std::hypot(p[0], p[1]) - cup.rc) < 0.05 * cup.rc) ||
               (!hole.empty() && trimcheck::DistToCurve({p[0], p[1]}, hole) < 0.05);
    };
    // A chord of the hole shorter than its radius strays from it by less than
    // a sixth of its length.
    trimcheck::ExpectClosedMesh(
        cup.input, o.output, 4.0, [&](const trimcheck::P3& a, const trimcheck::P3& b) {
            const trimcheck::P3 m{0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1]), 0.5 * (a[2] + b[2])};
            const double sag = std::hypot(a[0] - b[0], a[1] - b[1]) / 6;
            return onCut(a) && onCut(b) &&
                   (onCut(m) || (!hole.empty() && trimcheck::DistToCurve({m[0], m[1]}, hole) < sag));
        });
    // Kept input elements carry their own records.
    for (const auto& s : o.output.shells) {
        if (s.id <= cup.input.maxElem && cup.input.stress.count(s.id)) {
            EXPECT_EQ(o.output.stress.at(s.id), cup.input.stress.at(s.id)) << "element " << s.id;
        }
        EXPECT_TRUE(o.output.stress.count(s.id)) << "element " << s.id << " has no stress record";
    }
}

// A hole cut in 2D out of the bottom stays cut when the 3D fill keeps the bottom.
TEST(Trim3D, TwoDimensionalHoleSurvivesTheSeedFill)
{
    Cup cup;
    MakeCup(cup);
    const double cx = 0.3 * cup.rc;
    const double r = 0.15 * cup.rc;
    std::string curves = "*DEFINE_VECTOR\n         1       0.0       0.0       0.0       0.0       0.0       1.0\n";
    curves += "*DEFINE_CURVE_TRIM\n         2         0         1         1      0.25\n";
    trimcheck::Poly hole;
    for (int k = 0; k <= 40; ++k) {
        const double a = 2 * 3.14159265358979 * ((k % 40) + 0.3) / 40;
        char line[64];
        std::snprintf(line, sizeof line, "%20.6f%20.6f\n", cx + r * std::cos(a), r * std::sin(a));
        curves += line;
        hole.push_back({cx + r * std::cos(a), r * std::sin(a)});
    }
    curves += Curve3D(cup.bottomSeed);
    const Outcome o = RunJob(cup, curves);
    ExpectSide(cup, o, true, hole);
    for (const auto& s : o.output.shells) {
        const trimcheck::P2 c = trimcheck::Centroid(trimcheck::PolyOf(o.output, s));
        EXPECT_FALSE(trimcheck::Inside(c, hole) && trimcheck::DistToCurve(c, hole) > 1.0)
            << "element " << s.id << " in the hole came back";
    }
}

TEST(Trim3DFaults, SeedOnTheTrimLineStopsTheRun)
{
    Cup cup;
    MakeCup(cup, true);
    // A node of the row the circle runs through.
    int seed = 0;
    for (const auto& [id, p] : cup.input.nodes) {
        if (std::fabs(p[2] - cup.zc) < 1e-9 && std::fabs(std::hypot(p[0], p[1]) - cup.rc) < 1e-6) seed = id;
    }
    ASSERT_GT(seed, 0);
    const Outcome o = RunJob(cup, Curve3D(seed));
    EXPECT_EQ(o.run.status, 255) << o.run.out;
    EXPECT_FALSE(o.written);
    EXPECT_NE(o.run.out.find("the seed node " + std::to_string(seed) + " of trim curve 1_"), std::string::npos)
        << o.run.out;
}

// An unknown seed, first or second, is named; the valid one is not blamed.
TEST(Trim3DFaults, UnknownSeedNamesTheDeckIdAndLeavesNothingToWrite)
{
    Cup cup;
    MakeCup(cup);
    for (const bool second : {false, true}) {
        SCOPED_TRACE(second ? "second seed" : "first seed");
        const Outcome o = RunJob(cup, second ? Curve3D2(cup.bottomSeed, 987654) : Curve3D(987654));
        EXPECT_NE(o.run.out.find("Invalid Seed Node ID: 987654\n"), std::string::npos) << o.run.out;
        EXPECT_EQ(o.run.out.find("Invalid Seed Node ID: " + std::to_string(cup.bottomSeed)), std::string::npos);
        EXPECT_EQ(o.run.status, 255);
        EXPECT_FALSE(o.written);
    }
}

// The same polyline once from the deck's point lines and once from an IGES
// file: the program must write the same bytes.
TEST(Trim3DDeck, PointLinesCutLikeTheSameIgesPolyline)
{
    Cup cup;
    MakeCup(cup);
    const std::vector<trimcheck::P3> points = CirclePoints(0.0, cup.rc, cup.zc, 90);
    std::string cmd = "'" + std::string(CORVEX_IGESWRITE) + "' -o '" + cup.dir.file("poly.igs") + "' polyline";
    for (const auto& p : points) {
        char xyz[96];
        std::snprintf(xyz, sizeof xyz, " %.6f %.6f %.6f", p[0], p[1], p[2]);
        cmd += xyz;
    }
    ASSERT_EQ(std::system((cmd + " > /dev/null 2>&1").c_str()), 0);

    const Outcome iges = RunJob(cup, Curve3D2(cup.bottomSeed, 0, "poly.igs"));
    ExpectSide(cup, iges, true);
    const Outcome deck = RunJob(cup, Curve3DPoints(1, cup.bottomSeed, 0, points));
    ASSERT_TRUE(deck.written) << deck.run.out;
    EXPECT_EQ(deck.text, iges.text);
}

// A second curve far above the cup meets nothing: it is named, and the output
// is that of the first curve alone.
TEST(Trim3DDeck, CurveMissingTheBlankIsNamedAndChangesNothing)
{
    Cup cup;
    MakeCup(cup);
    const std::string wall = Curve3DPoints(1, cup.bottomSeed, 0, CirclePoints(0.0, cup.rc, cup.zc, 90));
    const Outcome alone = RunJob(cup, wall);
    ASSERT_TRUE(alone.written) << alone.run.out;
    const Outcome both = RunJob(cup, wall + Curve3DPoints(2, cup.bottomSeed, 0, CirclePoints(0.0, cup.rc, cup.zc + 1000, 40)));
    ASSERT_EQ(both.run.status, 0) << both.run.out;
    EXPECT_NE(both.run.out.find("Trim curve 2_1 meets no element of the blank"), std::string::npos) << both.run.out;
    EXPECT_NE(both.run.out.find("3D trimming finished successfully"), std::string::npos);
    EXPECT_EQ(both.text, alone.text);
}

// A seed on the bottom keeps the bottom, one on the flange the flange, and
// both together the whole blank.
TEST(Trim3D, EachSeedKeepsItsSideAndTwoSeedsKeepEverything)
{
    Cup cup;
    MakeCup(cup);
    const double whole = ShellArea(cup.input);
    const Outcome bottom = RunJob(cup, Curve3D(cup.bottomSeed));
    ExpectSide(cup, bottom, true);
    EXPECT_NE(bottom.run.out.find("3D trimming finished successfully"), std::string::npos);
    const Outcome flange = RunJob(cup, Curve3D(cup.flangeSeed));
    ExpectSide(cup, flange, false);
    const Outcome both = RunJob(cup, Curve3D2(cup.bottomSeed, cup.flangeSeed));
    ASSERT_EQ(both.run.status, 0) << both.run.out;
    ASSERT_TRUE(both.written && bottom.written && flange.written);
    trimcheck::ExpectSoundMesh(cup.input, both.output);
    trimcheck::ExpectClosedMesh(cup.input, both.output, 4.0, [](const auto&, const auto&) { return false; });
    // One seed keeps one side only; together they keep the whole blank.
    EXPECT_LT(ShellArea(bottom.output), 0.9 * whole);
    EXPECT_LT(ShellArea(flange.output), 0.9 * whole);
    EXPECT_NEAR(ShellArea(bottom.output) + ShellArea(flange.output), whole, 1e-4 * whole);
    EXPECT_NEAR(ShellArea(both.output), whole, 1e-4 * whole);
    // The seeds may come in either order.
    const Outcome swapped = RunJob(cup, Curve3D2(cup.flangeSeed, cup.bottomSeed));
    EXPECT_EQ(swapped.text, both.text);
}

// A hole cut into the bottom by a second curve with the same two seeds: the
// disc inside it is reached by neither seed and is the only thing removed.
TEST(Trim3DDeck, TwoSeedsRemoveOnlyWhatNeitherReaches)
{
    Cup cup;
    MakeCup(cup);
    double low = 0.0;
    for (const auto& [id, p] : cup.input.nodes) low = std::min(low, p[2]);
    const double cx = 0.3 * cup.rc;
    const double r = 0.15 * cup.rc;
    const std::vector<trimcheck::P3> points = CirclePoints(cx, r, low, 60);
    trimcheck::Poly hole;
    for (const auto& p : points) hole.push_back({p[0], p[1]});
    hole.push_back(hole.front());
    const Outcome o = RunJob(cup, Curve3D2(cup.bottomSeed, cup.flangeSeed) +
                                      Curve3DPoints(2, cup.bottomSeed, cup.flangeSeed, points));
    ASSERT_EQ(o.run.status, 0) << o.run.out;
    ASSERT_TRUE(o.written);
    trimcheck::ExpectSoundMesh(cup.input, o.output);
    trimcheck::ExpectClosedMesh(cup.input, o.output, 4.0,
                                [&](const trimcheck::P3& a, const trimcheck::P3& b) {
                                    return trimcheck::DistToCurve({a[0], a[1]}, hole) < 0.05 &&
                                           trimcheck::DistToCurve({b[0], b[1]}, hole) < 0.05;
                                });
    const double whole = ShellArea(cup.input);
    const double disc = std::fabs(trimcheck::SignedArea(hole));
    EXPECT_NEAR(ShellArea(o.output), whole - disc, 1e-3 * whole);
    for (const auto& s : o.output.shells) {
        const trimcheck::P2 c = trimcheck::Centroid(trimcheck::PolyOf(o.output, s));
        EXPECT_FALSE(trimcheck::Inside(c, hole) && trimcheck::DistToCurve(c, hole) > 1.0)
            << "element " << s.id << " in the hole was kept";
    }
}

#endif

}  // namespace
