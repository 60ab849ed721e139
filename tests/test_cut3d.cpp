#include "test_geomhelpers.h"

#include <gtest/gtest.h>

using geomtest::ExpectNear;
using geomtest::MakeElem;

namespace {

std::vector<gmPnt3D> Line(const gmPnt3D& a, const gmPnt3D& b) { return {a, b}; }

int Hits(gmCut3DLine& line, const std::vector<gmPnt3D>& elem)
{
    gmElemt e = MakeElem(elem);
    std::vector<gmItrPt> pts;
    line.InterElement(e, pts);
    gmElemt again = MakeElem(elem);
    EXPECT_EQ(line.IsIntersected(again), pts.empty() ? 0 : 1);
    return static_cast<int>(pts.size());
}

// The prefiltered and the plain answers of one element, compared field by
// field; after either, the curve reads in that element's frame, as the
// cutters that follow expect.
void ExpectSameAnswers(gmCut3DLine& line, const std::vector<gmPnt3D>& v, int& hits)
{
    gmElemt a = MakeElem(v, 3, 20);
    gmElemt b = MakeElem(v, 3, 20);
    ASSERT_EQ(line.IsIntersected(a), line.IsIntersectedPlain(b));
    std::vector<gmItrPt> pa, pb;
    const auto expectLocal = [&line](const gmElemt& e) {
        ASSERT_EQ(line.GetUcsCount(), line.GetCount());
        for (int i = 0; i < line.GetCount(); i += 7)
            ExpectNear(line.GetUcsAt(i), line.GetAt(i).InUcs(e.GetUcs()), 0.0);
    };
    line.InterElementPlain(b, pb);
    expectLocal(b);
    line.InterElement(a, pa);
    expectLocal(a);
    geomtest::ExpectSameCrossings(pa, pb, [](const gmPnt3D& p) { return p; }, 0.0);
    gmElemt c = MakeElem(v, 3, 20);
    EXPECT_EQ(line.IsInside(a), line.IsInside(c));
    hits += !pa.empty();
}

// A closed wavy loop on a dome, with n points.
std::vector<gmPnt3D> DomeLoop(int n, double r)
{
    std::vector<gmPnt3D> pts;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        const double rr = r * (1 + 0.1 * std::sin(7 * a));
        const double x = rr * std::cos(a), y = rr * std::sin(a);
        pts.emplace_back(x, y, 0.002 * (x * x + y * y) / r);
    }
    pts.push_back(pts.front());
    return pts;
}

}  // namespace

// A deck's gap of 0 means the narrowest band, not none.
TEST(Cut3DLine, GapIsClamped)
{
    gmCut3DLine line;
    line.SetGap(0);
    EXPECT_EQ(line.GetGap(), 0.001);
    line.SetGap(300);
    EXPECT_EQ(line.GetGap(), 250.0);
}

// How many crossings a one-segment curve has with the unit square, by where
// the segment lies against the square's plane and its edges.
TEST(Cut3DLine, GapAndSegmentEndsDecideWhetherASegmentCounts)
{
    const struct {
        const char* what;
        gmPnt3D a, b;
        double gap;
        int hits;
    } rows[] = {
        {"within the gap above", {-1, 0.5, 0.0005}, {2, 0.5, 0.0005}, 0.0, 2},
        {"beyond the gap above", {-1, 0.5, 0.01}, {2, 0.5, 0.01}, 0.0, 0},
        {"within a wider gap", {-1, 0.5, 0.01}, {2, 0.5, 0.01}, 0.02, 2},
        // One end on the plane is enough, however steep the segment.
        {"steep, one end on the plane", {-1, 0.5, 0}, {2, 0.5, 100}, 0.0, 2},
        {"steep, through the plane", {-1, 0.5, -50}, {2, 0.5, 100}, 0.0, 0},
        {"starting on an edge (s = 0)", {0.5, 0, 0}, {0.5, -1, 0}, 0.0, 1},
        {"stopping 0.0009 short of an edge", {0.5, -1, 0}, {0.5, -0.0009, 0}, 0.0, 1},
        {"stopping 0.002 short of an edge", {0.5, -1, 0}, {0.5, -0.002, 0}, 0.0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        gmCut3DLine line(Line(row.a, row.b), 1);
        if (row.gap > 0.0) line.SetGap(row.gap);
        EXPECT_EQ(Hits(line, geomtest::Square(1)), row.hits);
    }
    // Through vertex 1 = (1, 0): edge 0 ends there and reports it, edge 1 starts there and does not.
    gmCut3DLine corner(Line({0.5, -0.5, 0}, {1.5, 0.5, 0}), 1);
    gmElemt e = MakeElem(geomtest::Square(1));
    std::vector<gmItrPt> pts;
    corner.InterElement(e, pts);
    ASSERT_EQ(pts.size(), 1u);
    EXPECT_EQ(pts[0].GetEdge(), gmEdge(1, 2, 0, 1));
}

TEST(Cut3DLine, PointsLieOnTheSpatialEdgeInSegmentOrder)
{
    // A warped quadrilateral crossed by a polyline in two segments.
    const std::vector<gmPnt3D> v{{0, 0, 0}, {2, 0, 0.1}, {2, 2, 0}, {0, 2, 0.1}};
    gmCut3DLine line({{-1, 0.5, 0.05}, {1, 0.5, 0.05}, {1, 3, 0.05}}, 1);
    line.SetGap(1);
    gmElemt e = MakeElem(v, 9, 1);
    std::vector<gmItrPt> pts;
    line.InterElement(e, pts);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0].GetLineIdx(), 0);
    EXPECT_EQ(pts[0].GetEdge(), gmEdge(4, 1, 3, 0));
    EXPECT_EQ(pts[0].GetFstElemt(), 9);
    EXPECT_EQ(pts[1].GetLineIdx(), 1);
    EXPECT_EQ(pts[1].GetEdge(), gmEdge(3, 4, 2, 3));
    for (const gmItrPt& p : pts) {
        const gmEdge& ed = p.GetEdge();
        const gmPnt3D& a = v[static_cast<size_t>(ed.GetFstIdx())];
        const gmPnt3D& b = v[static_cast<size_t>(ed.GetEndIdx())];
        EXPECT_NEAR(p.GetPoint().MinDst(a, b), 0.0, 1e-12);
    }
}

TEST(Cut3DLine, TiltedBlankAndCurveGiveTheSameAnswers)
{
    std::mt19937 rng(13);
    std::uniform_real_distribution<double> pos(-14, 14);
    const std::vector<gmPnt3D> loop = DomeLoop(120, 10);
    int inside = 0;
    int hits = 0;
    for (int trial = 0; trial < 6; ++trial) {
        const geomtest::Motion m = geomtest::RandomMotion(rng, 100);
        gmCut3DLine flat(loop, 1);
        gmCut3DLine moved(m(loop), 1);
        flat.SetGap(1);
        moved.SetGap(1);
        for (int i = 0; i < 200; ++i) {
            const double x = pos(rng), y = pos(rng);
            const std::vector<gmPnt3D> v{{x, y, 0}, {x + 1.3, y, 0}, {x + 1.3, y + 1.1, 0}, {x, y + 1.1, 0}};
            gmElemt a = MakeElem(v);
            gmElemt b = MakeElem(m(v));
            const int in = flat.IsInside(a);
            EXPECT_EQ(in, moved.IsInside(b));
            inside += in;
            std::vector<gmItrPt> pa, pb;
            flat.InterElement(a, pa);
            moved.InterElement(b, pb);
            geomtest::ExpectSameCrossings(pa, pb, m, 1e-9);
            hits += !pa.empty();
        }
    }
    EXPECT_GT(inside, 200);
    EXPECT_GT(hits, 100);
}

TEST(Cut3DIndex, PrefilteredAnswersEqualPlainOnes)
{
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> pos(-15, 15);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::uniform_real_distribution<double> size(0.05, 3.0);
    const double gaps[] = {0.001, 0.3, 2.0, 40.0};

    // A dense loop on a dome; a sparse random walk with long, steep and repeated points.
    std::vector<std::vector<gmPnt3D>> curves{DomeLoop(600, 10)};
    std::vector<gmPnt3D> walk{{0, 0, 0}};
    for (int i = 0; i < 300; ++i) {
        const double step = i % 37 == 0 ? 25.0 : (i % 11 == 0 ? 0.0 : 1.5);
        const double lift = i % 23 == 0 ? 30.0 : 0.3;
        walk.emplace_back(walk.back().x() + step * unit(rng), walk.back().y() + step * unit(rng),
                          walk.back().z() * 0.5 + lift * unit(rng));
    }
    curves.push_back(walk);

    int hits = 0;
    int elements = 0;
    for (const auto& pts : curves) {
        for (const double gap : gaps) {
            gmCut3DLine line(pts, 1);
            line.SetGap(gap);
            for (int i = 0; i < 600; ++i) {
                // Elements near the curve's surface, tilted at random, warped, of varied size.
                const geomtest::Motion m = geomtest::RandomMotion(rng, 0);
                const double s = size(rng);
                const gmPnt3D c(pos(rng), pos(rng), 0.2 * unit(rng));
                std::vector<gmPnt3D> v;
                const int n = i % 2 ? 3 : 4;
                for (int k = 0; k < n; ++k) {
                    const double a = 2 * M_PI * k / n + 0.3 * unit(rng);
                    gmPnt3D local(s * std::cos(a), s * std::sin(a), 0.1 * s * unit(rng));
                    if (i % 3)
                        local = m(local);
                    v.push_back(c + local.AsVector());
                }
                ExpectSameAnswers(line, v, hits);
                ++elements;
            }
        }
    }
    EXPECT_GT(hits, elements / 20);
}

TEST(Cut3DIndex, DegenerateFramesFallBackToThePlainPath)
{
    gmCut3DLine line(DomeLoop(50, 2), 1);
    line.SetGap(3);
    int hits = 0;
    // Collinear vertices: the frame has zero axes and every segment is looked at.
    ExpectSameAnswers(line, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, hits);
    ExpectSameAnswers(line, {{1.5, -1, 0}, {2.5, -1, 0}, {2.5, 1, 0}, {1.5, 1, 0}}, hits);
    EXPECT_GE(hits, 1);
}
