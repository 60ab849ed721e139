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
using namespace trimcheck;

#if defined(CORVEX_IGES_LIBRARY) && defined(CORVEX_IGESWRITE)

struct Cup {
    testutil::ScratchDir dir{"trim3d"};
    Dynain input;
    double low = 0.0;           // height of the bottom
    double zc = 0.0, rc = 0.0;  // the example's circle, halfway between two node rows of the wall
    int bottomSeed = 0, flangeSeed = 0;
    int rowSeed = 0;  // a node of the row below the circle, which row.igs runs through
};

// The bundled example (blank, deck and wall.igs) and a circle on a node row.
void MakeCup(Cup& cup)
{
    testutil::CopyExample(cup.dir, "trim3d");
    cup.input = ParseFile(cup.dir.file("blank.dynain"));
    for (const auto& [id, p] : cup.input.nodes) cup.low = std::min(cup.low, p[2]);
    double zb = -1e300, za = 1e300, rb = 0, ra = 0, best = 1e300, far = -1.0;
    for (const auto& [id, p] : cup.input.nodes) {
        const double r = std::hypot(p[0], p[1]);
        if (p[2] <= 0.5 * cup.low && p[2] > zb) zb = p[2], rb = r, cup.rowSeed = id;
        if (p[2] > 0.5 * cup.low && p[2] < za) za = p[2], ra = r;
        const double d = r * r + (p[2] - cup.low) * (p[2] - cup.low);
        if (d < best) best = d, cup.bottomSeed = id;
        if (r > far) far = r, cup.flangeSeed = id;
    }
    cup.zc = 0.5 * (zb + za);
    cup.rc = 0.5 * (rb + ra);
    const std::string row = "-o row.igs circle 0 0 " + std::to_string(zb) + " " + std::to_string(rb) + " 0 0 1";
    ASSERT_EQ(testutil::RunTool(cup.dir, CORVEX_IGESWRITE, row).status, 0);
}

// A 3D curve card: type 2 reads the curve from the IGES file named on the
// next line, type 1 from the point lines that follow.
std::string Curve3D(int seed, int seed2 = 0, const std::string& body = "wall.igs\n", int type = 2, int id = 1)
{
    return "*DEFINE_CURVE_TRIM_3D\n" + std::to_string(id) + "," + std::to_string(type) + ",1,0,0.25,2.0," +
           std::to_string(seed) + "," + std::to_string(seed2) + "\n" + body;
}

// One line per point with its first dims coordinates.
std::string PointLines(const std::vector<P3>& points, int dims = 3)
{
    std::string lines;
    char field[32];
    for (const P3& p : points) {
        for (int k = 0; k < dims; ++k) {
            std::snprintf(field, sizeof field, "%20.6f", p[k]);
            lines += field;
        }
        lines += "\n";
    }
    return lines;
}

// Points on a horizontal circle, rounded to 1/64 so that their decimal text is
// exact and both the deck and the IGES file carry the very same numbers.
std::vector<P3> CirclePoints(double cx, double r, double z, int n)
{
    const auto round64 = [](double v) { return std::round(v * 64.0) / 64.0; };
    std::vector<P3> points;
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
        const P3& a = d.nodes.at(s.nodes[0]);
        for (size_t k = 1; k + 1 < s.nodes.size(); ++k) {
            const P3& b = d.nodes.at(s.nodes[k]);
            const P3& c = d.nodes.at(s.nodes[k + 1]);
            const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
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

// The example's deck with these curve cards in place of its own.
Outcome RunJob(const Cup& cup, const std::string& curves)
{
    std::string deck = testutil::ReadFile(cup.dir.file("trim3d.dyn"));
    const size_t from = deck.find("*DEFINE_CURVE_TRIM_3D");
    testutil::WriteFile(cup.dir.file("job.dyn"), deck.replace(from, deck.find("*INCLUDE") - from, curves));
    Outcome o;
    o.run = testutil::RunProgram(cup.dir, "job.dyn");
    o.written = fs::exists(cup.dir.file("trim3d.dynain"));
    if (o.written) o.output = Parse(o.text = testutil::ReadFile(cup.dir.file("trim3d.dynain")));
    fs::remove(cup.dir.file("trim3d.dynain"));
    return o;
}

// What a run keeps of the cup: the side of one seed, or both sides.
enum class Keep { kBottom, kFlange, kBoth };

// The run ends well; every node lies on the kept side of the circle's height;
// every node the cut made or moved lies on the circle or the hole; the mesh is
// sound and closed but along the cut (the circle only where it parts what is
// kept from what goes); no element is left in the hole; kept input elements
// carry their own records.
void ExpectCut(const Cup& cup, const Outcome& o, Keep keep, const Poly& hole)
{
    ASSERT_EQ(o.run.status, 0) << o.run.out;
    ASSERT_TRUE(o.written && !o.output.shells.empty());
    ExpectSoundMesh(cup.input, o.output);
    const auto onWall = [&](const P3& p) {
        return std::fabs(p[2] - cup.zc) < 0.05 && std::fabs(std::hypot(p[0], p[1]) - cup.rc) < 0.05 * cup.rc;
    };
    const auto nearHole = [&](const P3& p, double tol) { return !hole.empty() && DistToCurve({p[0], p[1]}, hole) < tol; };
    int onCircle = 0;
    for (const auto& [id, p] : o.output.nodes) {
        if (keep != Keep::kBoth) {
            EXPECT_LT(keep == Keep::kBottom ? p[2] - cup.zc : cup.zc - p[2], 0.05)
                << "node " << id << " at height " << p[2] << " on the side that goes";
        }
        const auto old = cup.input.nodes.find(id);
        const bool hanging = std::any_of(cup.input.adaptive.begin(), cup.input.adaptive.end(),
                                         [&](const auto& a) { return a[0] == id; });
        if ((old != cup.input.nodes.end() && Dist3(old->second, p) <= 1e-4) || hanging || nearHole(p, 0.05)) continue;
        ++onCircle;
        EXPECT_TRUE(onWall(p)) << "node " << id << " the cut made at " << p[0] << "," << p[1] << "," << p[2];
    }
    EXPECT_TRUE(keep == Keep::kBoth || onCircle > 0) << "the cut made no node on the circle";
    // A chord of the hole shorter than its radius strays from it by less than
    // a sixth of its length.
    ExpectClosedMesh(cup.input, o.output, 4.0, [&](const P3& a, const P3& b) {
        const double sag = std::max(0.05, std::hypot(a[0] - b[0], a[1] - b[1]) / 6);
        return (keep != Keep::kBoth && onWall(a) && onWall(b) && onWall(Mid(a, b))) ||
               (nearHole(a, 0.05) && nearHole(b, 0.05) && nearHole(Mid(a, b), sag));
    });
    for (const auto& s : o.output.shells) {
        const P2 c = Centroid(PolyOf(o.output, s));
        EXPECT_FALSE(!hole.empty() && Inside(c, hole) && DistToCurve(c, hole) > 1.0) << "element " << s.id << " in the hole";
        if (s.id <= cup.input.maxElem && cup.input.stress.count(s.id)) {
            EXPECT_EQ(o.output.stress.at(s.id), cup.input.stress.at(s.id)) << "element " << s.id;
        }
        EXPECT_TRUE(o.output.stress.count(s.id)) << "element " << s.id << " has no stress record";
    }
}

// Runs the job and checks it with ExpectCut, naming the run in any failure.
Outcome Cut(const Cup& cup, const char* what, const std::string& curves, Keep keep, const Poly& hole = {})
{
    SCOPED_TRACE(what);
    const Outcome o = RunJob(cup, curves);
    ExpectCut(cup, o, keep, hole);
    return o;
}

// A seed on the bottom keeps the bottom, one on the flange the flange, and
// both together, in either order, the whole blank. A hole cut into the bottom
// stays cut: a 2D one though the seed's fill keeps the bottom around it, and a
// 3D one that neither of two seeds reaches is all that goes.
TEST(Trim3D, SeedsKeepTheirSideAndHolesStayCut)
{
    Cup cup;
    MakeCup(cup);
    const Outcome bottom = Cut(cup, "bottom seed", Curve3D(cup.bottomSeed), Keep::kBottom);
    const Outcome flange = Cut(cup, "flange seed", Curve3D(cup.flangeSeed), Keep::kFlange);
    const Outcome both = Cut(cup, "both seeds", Curve3D(cup.bottomSeed, cup.flangeSeed), Keep::kBoth);
    const double whole = ShellArea(cup.input);
    EXPECT_NEAR(ShellArea(bottom.output) + ShellArea(flange.output), whole, 1e-4 * whole);
    EXPECT_NEAR(ShellArea(both.output), whole, 1e-4 * whole);
    EXPECT_EQ(RunJob(cup, Curve3D(cup.flangeSeed, cup.bottomSeed)).text, both.text);

    std::vector<P3> ring = CirclePoints(0.3 * cup.rc, 0.15 * cup.rc, cup.low, 60);
    const std::string hole3D = Curve3D(cup.bottomSeed, cup.flangeSeed, PointLines(ring), 1, 2);
    ring.push_back(ring.front());
    Poly hole;
    for (const P3& p : ring) hole.push_back({p[0], p[1]});
    const std::string hole2D = "*DEFINE_VECTOR\n         1       0.0       0.0       0.0       0.0       0.0       1.0\n"
                               "*DEFINE_CURVE_TRIM\n         2         0         1         1      0.25\n" +
                               PointLines(ring, 2);
    Cut(cup, "2D hole", hole2D + Curve3D(cup.bottomSeed), Keep::kBottom, hole);
    const Outcome holed = Cut(cup, "3D hole", Curve3D(cup.bottomSeed, cup.flangeSeed) + hole3D, Keep::kBoth, hole);
    EXPECT_NEAR(ShellArea(holed.output), whole - std::fabs(SignedArea(hole)), 1e-3 * whole);
}

// The same polyline once from the deck's point lines and once from an IGES
// file cuts to the same bytes; a second curve far above the cup meets
// nothing, is named, and changes none of them.
TEST(Trim3DDeck, PointLinesCutLikeTheIgesPolylineAndAMissedCurveChangesNothing)
{
    Cup cup;
    MakeCup(cup);
    const std::string lines = PointLines(CirclePoints(0.0, cup.rc, cup.zc, 90));
    std::string args = "-o poly.igs polyline " + lines;
    std::replace(args.begin(), args.end(), '\n', ' ');
    ASSERT_EQ(testutil::RunTool(cup.dir, CORVEX_IGESWRITE, args).status, 0);
    const Outcome iges = Cut(cup, "IGES polyline", Curve3D(cup.bottomSeed, 0, "poly.igs\n"), Keep::kBottom);
    const std::string wall = Curve3D(cup.bottomSeed, 0, lines, 1);
    EXPECT_EQ(RunJob(cup, wall).text, iges.text);
    const std::string far = PointLines(CirclePoints(0.0, cup.rc, cup.zc + 1000, 40));
    const Outcome missed = RunJob(cup, wall + Curve3D(cup.bottomSeed, 0, far, 1, 2));
    EXPECT_EQ(missed.run.status, 0);
    EXPECT_NE(missed.run.out.find("Trim curve 2_1 meets no element of the blank"), std::string::npos) << missed.run.out;
    EXPECT_NE(missed.run.out.find("3D trimming finished successfully"), std::string::npos);
    EXPECT_EQ(missed.text, iges.text);
}

// A seed on the trim line, or an unknown one (first or second), stops the run
// and is named; the valid seed beside it is not blamed.
TEST(Trim3DFaults, BadSeedStopsTheRunAndIsNamed)
{
    Cup cup;
    MakeCup(cup);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Curve3D(cup.rowSeed, 0, "row.igs\n"), "the seed node " + std::to_string(cup.rowSeed) + " of trim curve 1_"},
        {Curve3D(987654), "Invalid Seed Node ID: 987654\n"},
        {Curve3D(cup.bottomSeed, 987654), "Invalid Seed Node ID: 987654\n"},
    };
    for (const auto& [curves, message] : cases) {
        SCOPED_TRACE(curves);
        const Outcome o = RunJob(cup, curves);
        EXPECT_NE(o.run.out.find(message), std::string::npos) << o.run.out;
        EXPECT_EQ(o.run.out.find("Invalid Seed Node ID: " + std::to_string(cup.bottomSeed)), std::string::npos);
        EXPECT_EQ(o.run.status, 255);
        EXPECT_FALSE(o.written);
    }
}

#endif

}  // namespace
