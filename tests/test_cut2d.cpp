#include "test_geomhelpers.h"

#include <algorithm>

#include <gtest/gtest.h>

using geomtest::ExpectNear;
using geomtest::MakeElem;

namespace {

// A 2D line whose points are plane coordinates of the given plane.
gmCut2DLine PlaneLine(const std::vector<gmPnt3D>& pts, const gmCrdSys& plane = gmCrdSys(), int flag = -1)
{
    gmCut2DLine line(pts, flag);
    line.SetPntLcs(1);
    line.SetUcs(plane);
    return line;
}

// The global point with plane coordinates p.
gmPnt3D FromPlane(const gmCrdSys& plane, const gmPnt3D& p)
{
    return gmPnt3D(plane.GetU() * p.x() + plane.GetV() * p.y() + plane.GetW() * p.z());
}

// A star of 2n points around (cx, cy), radii alternating r and r/2.
std::vector<gmPnt3D> Star(int n, double cx, double cy, double r)
{
    std::vector<gmPnt3D> pts;
    for (int i = 0; i < 2 * n; ++i) {
        const double a = M_PI * i / n;
        const double rr = i % 2 ? r / 2 : r;
        pts.emplace_back(cx + rr * std::cos(a), cy + rr * std::sin(a), 0.0);
    }
    return pts;
}

// Exact even-odd test in double precision, and the distance to the polygon's boundary.
bool ExactInside(const std::vector<gmPnt3D>& poly, double x, double y, double& dist)
{
    bool in = false;
    dist = 1e300;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        const gmPnt3D& a = poly[i];
        const gmPnt3D& b = poly[j];
        if ((a.y() > y) != (b.y() > y) && x < (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()) + a.x())
            in = !in;
        dist = std::min(dist, gmPnt2D(x, y).MinDst(gmPnt2D(a.x(), a.y()), gmPnt2D(b.x(), b.y())));
    }
    return in;
}

}  // namespace

// A segment ending within a thousandth of a cell of a cell boundary is
// listed on both sides, so a crossing there is found from either cell.
TEST(Cut2DGrid, SegmentEndsOnACellCornerAreListedOnBothSides)
{
    // The fourth point sits exactly on a cell corner: x = -3 + 10 dx, y = -3 + 64 dy.
    const double d = 46.0 / 128;
    const gmCut2DLine line = PlaneLine({{0, 0, 0}, {40, 0, 0}, {40, 40, 0}, {-3 + 10 * d, -3 + 64 * d, 0}, {0, 40, 0}});
    ASSERT_DOUBLE_EQ(line.GetDx(), d);
    ASSERT_DOUBLE_EQ(line.GetDy(), d);
    for (int k : {9, 10})
        for (int j : {63, 64})
            EXPECT_TRUE(gmCut2DLine::IsInArr(line.GetCell(k, j), 2)) << k << " " << j;
    EXPECT_FALSE(gmCut2DLine::IsInArr(line.GetCell(8, 63), 2));
}

// Just inside a side counts, whichever way the ray is cast (down from the
// lower half, up from the upper); z does not matter.
TEST(Cut2DInside, NearTheSidesAndFarAway)
{
    const gmCut2DLine line = PlaneLine(geomtest::Square(100));
    for (const gmPnt3D& p : {gmPnt3D(50, 0.005, 0), gmPnt3D(50, 99.995, 0), gmPnt3D(0.005, 50, 7)})
        EXPECT_EQ(line.IsInside(p), 1) << p.x() << " " << p.y();
    for (const gmPnt3D& p : {gmPnt3D(50, -0.02, 0), gmPnt3D(100.02, 50, 0), gmPnt3D(-1e12, 50, 0)})
        EXPECT_EQ(line.IsInside(p), 0) << p.x() << " " << p.y();
}

TEST(Cut2DInside, InsideAndDistanceAgreeWithExactTests)
{
    const std::vector<gmPnt3D> star = Star(9, 20, -10, 60);
    std::mt19937 rng(3);
    const gmCrdSys planes[] = {gmCrdSys(), geomtest::RandomMotion(rng, 0).frame};
    for (const gmCrdSys& plane : planes) {
        const gmCut2DLine line = PlaneLine(star, plane);
        std::uniform_real_distribution<double> u(-50, 90);
        int inside = 0;
        for (int i = 0; i < 3000; ++i) {
            const double x = u(rng) - 10;
            const double y = u(rng) - 20;
            double dist = 0;
            const bool expected = ExactInside(star, x, y, dist);
            // The grid's distance sees only cells within reach; nearer it is
            // exact (the reference rounds the last hundredth to the line).
            EXPECT_NEAR(line.DistTo(FromPlane(plane, gmPnt3D(x, y, 3.0)), 6.0), std::min(dist, 6.0), dist < 0.01 ? 0.01 : 1e-9)
                << x << " " << y;
            if (dist < 0.05)
                continue;
            inside += expected;
            EXPECT_EQ(line.IsInside(FromPlane(plane, gmPnt3D(x, y, 3.0))), expected ? 1 : 0) << x << " " << y;
        }
        EXPECT_GT(inside, 300);
    }
}

TEST(Cut2DCross, CrossingAtEdgeStartIsLeftToThePreviousEdge)
{
    gmCut2DLine line = PlaneLine(geomtest::Square(100));
    gmElemt e = MakeElem({{50, 0, 0}, {50, 10, 0}, {60, 10, 0}}, 7, 11);
    std::vector<gmItrPt> pts;
    line.InterElement(e, pts);
    ASSERT_EQ(pts.size(), 1u);
    ExpectNear(pts[0].GetPoint(), gmPnt3D(50, 0, 0), 1e-9);
    EXPECT_EQ(pts[0].GetLineIdx(), 0);
    EXPECT_EQ(pts[0].GetEdge().GetFstNode(), 13);
    EXPECT_EQ(pts[0].GetEdge().GetEndNode(), 11);
    EXPECT_EQ(pts[0].GetEdge().GetFstIdx(), 2);
    EXPECT_EQ(pts[0].GetFstElemt(), 7);
    EXPECT_EQ(line.IsIntersected(e), 1);
}

// A line running nearly along an edge that enters an element just after a
// corner crosses the edge ending there beyond its reach: both elements sharing
// the edge it does cross must see that crossing.
TEST(Cut2DCross, ShallowCrossingJustAfterACornerIsSeenFromBothSides)
{
    gmCut2DLine line =
        PlaneLine({{26.75, 33.99, 0}, {45.74, 28.26, 0}, {49.32, 8.75, 0}, {10, 5, 0}, {26.75, 33.99, 0}});
    gmElemt right = MakeElem({{40, 20, 0}, {50, 20, 0}, {50, 30, 0}, {40, 30, 0}});
    gmElemt left = MakeElem({{30, 20, 0}, {40, 20, 0}, {40, 30, 0}, {30, 30, 0}});
    std::vector<gmItrPt> pr, pl;
    line.InterElement(right, pr);
    line.InterElement(left, pl);
    ASSERT_EQ(pr.size(), 2u);
    const auto onShared = [](const gmItrPt& p) {
        return std::fabs(p.GetPoint().x() - 40.0) < 1e-9 && p.GetPoint().y() > 29.9;
    };
    const auto r = std::find_if(pr.begin(), pr.end(), onShared);
    const auto l = std::find_if(pl.begin(), pl.end(), onShared);
    ASSERT_NE(r, pr.end());
    ASSERT_NE(l, pl.end());
    ExpectNear(r->GetPoint(), l->GetPoint(), 1e-9);
}

// A tip just short of an edge, whose segment would reach the edge a hair past
// the tip, touches nothing: the line turns back before the edge.
TEST(Cut2DCross, TipJustShortOfAnEdgeIsNoCrossing)
{
    gmCut2DLine line = PlaneLine({{20, 40, 0}, {27.85, 20.0147, 0}, {40, 40, 0}, {20, 40, 0}});
    gmElemt below = MakeElem({{20, 10, 0}, {30, 10, 0}, {30, 20, 0}, {20, 20, 0}});
    std::vector<gmItrPt> pts;
    line.InterElement(below, pts);
    EXPECT_TRUE(pts.empty());
}

TEST(Cut2DCross, EdgeAlongTheCurveReportsItsEnd)
{
    gmCut2DLine line = PlaneLine(geomtest::Square(100));
    gmElemt e = MakeElem({{10, 0, 0}, {20, 0, 0}, {20, 5, 0}, {10, 5, 0}});
    std::vector<gmItrPt> pts;
    line.InterElement(e, pts);
    ASSERT_EQ(pts.size(), 2u);
    ExpectNear(pts[0].GetPoint(), gmPnt3D(20, 0, 0), 0.0);
    EXPECT_EQ(pts[0].GetEdge(), gmEdge(1, 2, 0, 1));
    ExpectNear(pts[1].GetPoint(), gmPnt3D(10, 0, 0), 1e-9);
    EXPECT_EQ(pts[1].GetEdge(), gmEdge(4, 1, 3, 0));
}

// A long arm nearly parallel to an edge and 0.07 beside it neither crosses
// nor runs along it: only the edge the arm does cross has a crossing.
TEST(Cut2DCross, ArmBesideAnEdgeDoesNotRunAlongIt)
{
    gmCut2DLine line = PlaneLine({{44.942640, 55.176069, 0}, {44.927566, 37.819427, 0}, {29.478854, 29.908006, 0},
                                  {60, 30, 0}, {44.942640, 55.176069, 0}});
    gmElemt e = MakeElem({{40, 35, 0}, {45, 35, 0}, {45, 40, 0}, {40, 40, 0}});
    std::vector<gmItrPt> pts;
    line.InterElement(e, pts);
    for (const gmItrPt& p : pts) EXPECT_LT(p.GetPoint().x(), 44.99);
    EXPECT_TRUE(std::any_of(pts.begin(), pts.end(), [](const gmItrPt& p) {
        return std::fabs(p.GetPoint().y() - 40.0) < 1e-9 && std::fabs(p.GetPoint().x() - 44.929) < 1e-3;
    }));
}

TEST(Cut2DCross, OneRecordPerEdgeAndSegmentAcrossCells)
{
    gmCut2DLine line = PlaneLine(geomtest::Square(100));
    // A tall element edge spans many cells that all list the bottom side.
    gmElemt e = MakeElem({{50.2, -8, 1}, {50.7, 9, 2}, {49, 9, 0}});
    std::vector<gmItrPt> pts;
    line.InterElement(e, pts);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0].GetLineIdx(), 0);
    EXPECT_EQ(pts[1].GetLineIdx(), 0);
    // z follows the 3D edge.
    EXPECT_GT(pts[0].GetPoint().z(), 1.0);
    EXPECT_NE(pts[0].GetEdge(), pts[1].GetEdge());
}

TEST(Cut2DCross, TiltedPlaneGivesTheSameAnswers)
{
    const std::vector<gmPnt3D> star = Star(7, 0, 0, 40);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> pos(-45, 45);
    std::uniform_real_distribution<double> off(-6, 6);
    for (int planeTrial = 0; planeTrial < 4; ++planeTrial) {
        const gmCrdSys plane = geomtest::RandomMotion(rng, 0).frame;
        gmCut2DLine flat = PlaneLine(star);
        gmCut2DLine tilted = PlaneLine(star, plane);
        int hits = 0;
        for (int i = 0; i < 400; ++i) {
            const gmPnt3D c(pos(rng), pos(rng), 0);
            std::vector<gmPnt3D> v;
            for (int k = 0; k < 3 + i % 2; ++k)
                v.emplace_back(c.x() + off(rng), c.y() + off(rng), off(rng));
            std::vector<gmPnt3D> g;
            for (const gmPnt3D& p : v)
                g.push_back(FromPlane(plane, p));
            gmElemt a = MakeElem(v);
            gmElemt b = MakeElem(g);
            EXPECT_EQ(flat.IsInside(a), tilted.IsInside(b));
            EXPECT_EQ(flat.IsIntersected(a), tilted.IsIntersected(b));
            std::vector<gmItrPt> pa, pb;
            flat.InterElement(a, pa);
            tilted.InterElement(b, pb);
            geomtest::ExpectSameCrossings(pa, pb, [&](const gmPnt3D& p) { return FromPlane(plane, p); }, 1e-9);
            hits += !pa.empty();
        }
        EXPECT_GT(hits, 40);
    }
}

// The 3D inside test's polygon: a ray towards -x through vertices.
TEST(FloatPolygon, RayThroughVertices)
{
    const float pt[2] = {0, 0};
    // The vertex left of the point is passed through: one crossing, inside.
    const float tri[3][2] = {{-1, 0}, {2, 1}, {2, -1}};
    EXPECT_TRUE(geNodeInPolygon(pt, tri, 3));
    // A notch whose tip only touches the ray adds nothing.
    const float notch[7][2] = {{-5, -5}, {5, -5}, {5, 5}, {-1, 5}, {-2, 0}, {-3, 5}, {-5, 5}};
    EXPECT_TRUE(geNodeInPolygon(pt, notch, 7));
    const float far[2] = {-4, 0};
    EXPECT_TRUE(geNodeInPolygon(far, notch, 7));
    // Regression: a vertex on the ray's line but right of the point was
    // counted, turning the inside of a diamond into outside.
    const float diamond[4][2] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
    EXPECT_TRUE(geNodeInPolygon(pt, diamond, 4));
    const float rightOut[2] = {1.5f, 0};
    EXPECT_FALSE(geNodeInPolygon(rightOut, diamond, 4));
}
