// Curve soundness: self-crossings found through the grid against a plain
// all-pairs search, the pair named, the plane a curve in space is judged in,
// and the trim-line setup that refuses what these find.
#include "qdsdatabase.h"
#include "qdstrimctrl.h"
#include "test_geomhelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace {

using Poly = std::vector<gmPnt2D>;

constexpr double kPi = 3.14159265358979323846;

double Orient(const gmPnt2D& a, const gmPnt2D& b, const gmPnt2D& c)
{
    return (b.x() - a.x()) * (c.y() - a.y()) - (b.y() - a.y()) * (c.x() - a.x());
}

// Every pair of segments that are not neighbours, in order, by the sign rule
// alone: enough for points in general position, where nothing merely touches.
std::pair<int, int> FirstCrossingByAllPairs(const Poly& p, bool closed)
{
    const int n = static_cast<int>(p.size());
    const int segments = closed ? n : n - 1;
    const auto at = [&](int k) { return p[static_cast<size_t>(k % n)]; };
    for (int i = 0; i < segments; ++i) {
        for (int j = i + 2; j < segments; ++j) {
            if (closed && i == 0 && j == segments - 1) continue;
            const double d1 = Orient(at(j), at(j + 1), at(i)), d2 = Orient(at(j), at(j + 1), at(i + 1));
            const double d3 = Orient(at(i), at(i + 1), at(j)), d4 = Orient(at(i), at(i + 1), at(j + 1));
            if (d1 * d2 < 0 && d3 * d4 < 0) return {i, j};
        }
    }
    return {-1, -1};
}

// A curve around a centre, its radius varying with the angle, half of its
// points crowded into a hundredth of a turn so that segments differ in length
// by a factor of a thousand (none shorter than 0.1): simple while the angles
// grow; wild swaps a few of them, so that the curve doubles back across itself.
Poly Wobbly(std::mt19937& rng, int n, bool wild)
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> angles;
    const int crowd = n / 2;
    for (int k = 0; k < crowd; ++k) angles.push_back(0.01 * (k + 0.5 * u(rng)) / crowd);
    for (int k = crowd; k < n; ++k) angles.push_back(0.01 + (2 * kPi - 0.01) * (k - crowd + 0.5 * u(rng)) / (n - crowd));
    for (int k = 0; wild && k < 1 + n / 10; ++k) std::swap(angles[rng() % angles.size()], angles[rng() % angles.size()]);
    Poly p;
    for (const double a : angles) {
        const double r = 1000.0 + 200.0 * std::sin(3 * a) + 2.0 * u(rng);
        p.emplace_back(r * std::cos(a) + 100.0, r * std::sin(a) - 40.0);
    }
    return p;
}

}  // namespace

TEST(SelfCrossing, GridFindsThePairTheAllPairsSearchFinds)
{
    std::mt19937 rng(5);
    int crossed = 0;
    for (int round = 0; round < 300; ++round) {
        const bool closed = round % 2 == 0;
        const Poly p = Wobbly(rng, 5 + round % 60, round % 3 != 0);
        const std::pair<int, int> expected = FirstCrossingByAllPairs(p, closed);
        const gmSelfCrossing found = geFindSelfCrossing(p, closed);
        EXPECT_EQ(std::make_pair(found.first, found.second), expected) << "round " << round;
        crossed += expected.first >= 0 ? 1 : 0;
    }
    // Both kinds were tried.
    EXPECT_GT(crossed, 50);
    EXPECT_LT(crossed, 250);
}

TEST(SelfCrossing, TouchingFoldsAndRepeatsAtTheirPlaces)
{
    const Poly square{{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    const Poly hairpin{{0, 0}, {10, 0}, {10, 5}, {2, 5}, {1, 5.5}, {3, 5.001}, {9, 5.001}, {9, 9}, {0, 9}};
    // Far from the origin: the digits that tell the corners apart are kept.
    Poly far;
    for (const gmPnt2D& q : square) far.emplace_back(1e9 + q.x(), -1e9 + q.y());
    EXPECT_NEAR(gePolygonArea(far), 16.0, 1e-6);
    // first -1: nothing found; along -1: not asked.
    struct Row { Poly p; bool closed; double touch; int first, second, along; };
    const Row rows[] = {
        // Closed with or without repeating its first point; repeated points are one.
        {square, true, 0.0, -1, -1, -1},
        {{{0, 0}, {4, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 4}, {0, 0}}, true, 0.0, -1, -1, -1},
        // A side drawn a hair too long, the next starting on it: no fold.
        {{{0, 0}, {4.005, 0}, {4, 0}, {4, 4}, {0, 4}}, true, 0.0, -1, -1, -1},
        {far, true, 0.0, -1, -1, -1},
        // Open, its ends meet at a point: the last segment touches the first.
        {{{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}}, false, 0.0, 0, 3, -1},
        // A corner lying on another segment touches it.
        {{{0, 0}, {4, 0}, {4, 4}, {2, 0}, {0, 4}}, true, 0.0, 0, 2, 0},
        // Out along a line and back: the turn folds two neighbours onto each other.
        {{{0, 0}, {2, 1}, {6, 3}, {4, 2}}, false, 0.0, 1, 2, 1},
        // A bow tie encloses no area, but crosses at an angle.
        {{{0, 0}, {4, 4}, {4, 0}, {0, 4}}, true, 0.0, 0, 2, 0},
        // Out and back a thousandth apart: apart for the exact search, touching for the cutters.
        {hairpin, true, 0.0, -1, -1, -1},
        {hairpin, true, 0.005, 2, 4, -1},
    };
    for (const Row& row : rows) {
        const gmSelfCrossing found = geFindSelfCrossing(row.p, row.closed, nullptr, row.touch);
        EXPECT_EQ(std::make_pair(found.first, found.second), std::make_pair(row.first, row.second)) << &row - rows;
        EXPECT_TRUE(row.along < 0 || found.along == (row.along == 1)) << &row - rows;
    }
    far.emplace_back(1e9 + 2, -1e9 - 1);
    EXPECT_TRUE(geFindSelfCrossing(far, true).Found());
}

// The plane of a tilted, shifted circle is its own plane: W its normal, and
// the circle's area comes back in it.
TEST(BestFitPlane, TiltedCircleKeepsItsArea)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 5; ++round) {
        const geomtest::Motion m = geomtest::RandomMotion(rng, 500.0);
        std::vector<gmPnt3D> circle;
        for (int k = 0; k < 360; ++k) circle.push_back(m(gmPnt3D(30 * std::cos(k * kPi / 180), 30 * std::sin(k * kPi / 180), 0)));
        const gmCrdSys plane = geBestFitPlane(circle);
        geomtest::ExpectRightHanded(plane);
        EXPECT_NEAR(std::fabs(plane.GetW().Dot(m.frame.GetW())), 1.0, 1e-9);
        EXPECT_NEAR(std::fabs(gePolygonArea(geInPlane(circle, plane))), 180 * 900 * std::sin(kPi / 180), 1e-9);
    }
}

namespace {

// A figure eight of unequal lobes on a tilted plane, its two strands apart by
// twice lift along the plane's normal where they cross.
std::vector<gmPnt3D> Eight(double lift)
{
    const geomtest::Motion m{gmCrdSys(gmVec3D(1, 0, 1), gmVec3D(0, 1, 0), gmVec3D(-1, 0, 1)), gmVec3D(5, 5, 5)};
    std::vector<gmPnt3D> points;
    for (int k = 0; k < 40; ++k) {
        const double a = 2 * kPi * (k + 0.5) / 40;
        points.push_back(m(gmPnt3D(50 * std::sin(a) * (1 + 0.5 * std::sin(a)), 20 * std::sin(2 * a), lift * std::cos(a))));
    }
    return points;
}

// A slender closed loop over a bent, twisted sheet: its long sides lie up to
// 1.2 apart on the sheet, while the plane fitted to its points stands across
// the sheet, where the sides cross. It is judged where it encloses area.
std::vector<gmPnt3D> SlenderLoop()
{
    const auto sheet = [](double x, double y) {
        const double across = y - 20.0 - 0.47 * (100.0 - x);
        return gmPnt3D(x, y, 5.0 - 0.01 * (100.0 - x) * (100.0 - x) + 0.02 * across * (x - 85.0));
    };
    std::vector<gmPnt3D> loop;
    for (int k = 0; k <= 30; ++k) loop.push_back(sheet(100.0 - k, 20.0 + 0.45 * k));
    for (int k = 30; k >= 0; --k) loop.push_back(sheet(100.0 - k, 20.0 + 0.49 * k));
    return loop;
}

}  // namespace

// One curve that meets itself refuses the whole setup: no list keeps a curve.
// Curves in space cross where their strands come within the gap; lances may
// stay open; trim curves must enclose area.
TEST(CurveRefusal, ACurveThatMeetsItselfRefusesTheSetup)
{
    struct Curve { bool inSpace; int flag; std::vector<gmPnt3D> points; };
    const std::vector<gmPnt3D> slit{{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, 1, 0}};
    const struct { const char* what; std::vector<Curve> curves; bool accepted; } rows[] = {
        {"eight, strands near", {{true, 1, Eight(0.5)}}, false},
        {"eight, strands apart", {{true, 1, Eight(10.0)}}, true},
        {"slender loop over a bent sheet", {{true, 0, SlenderLoop()}}, true},
        {"crossing lance", {{false, 0, {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, -5, 0}}}}, false},
        {"slit turning back", {{false, 0, slit}}, true},
        {"slit and a trim curve of two points", {{false, 0, slit}, {false, 1, {{0, 0, 0}, {10, 0, 0}}}}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        dataManage.Release();
        for (const Curve& c : row.curves) {
            CsTrmCrv2D flat;
            CsTrmCrv3D spatial;
            spatial.SetGap(2.0);
            CsTrmCrv& curve = c.inSpace ? static_cast<CsTrmCrv&>(spatial) : static_cast<CsTrmCrv&>(flat);
            curve.SetSetid(1);
            curve.SetExid(1);
            curve.SetFlag(c.flag);
            curve.SetPtArr(c.points);
            dataManage.AddLine(curve);
        }
        CsTrmCtrl ctrl;
        EXPECT_EQ(ctrl.SetTrimLine(), row.accepted);
        EXPECT_EQ(ctrl.IsCurveRefused(), !row.accepted);
        const size_t kept = ctrl.GetTrim2D().size() + ctrl.GetTrim3D().size() + ctrl.GetLance2D().size() +
                            ctrl.GetLance3D().size();
        EXPECT_EQ(kept, row.accepted ? row.curves.size() : 0u);
    }
    dataManage.Release();
}
