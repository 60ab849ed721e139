#include "test_cutcheck.h"

#include <gtest/gtest.h>

#include <random>

using namespace cuttest;

namespace {

// Set to a seed that failed to run it alone.
constexpr int kReplaySeed = -1;

// A random convex polygon of n corners around the origin, counter-clockwise;
// a quadrilateral may be warped out of its plane.
std::vector<gmPnt3D> RandomConvex(std::mt19937& rng, int n, bool warped)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double size = 0.3 + 3.0 * unit(rng);
    for (;;) {
        std::vector<double> angles;
        for (int i = 0; i < n; ++i) angles.push_back(2.0 * M_PI * unit(rng));
        std::sort(angles.begin(), angles.end());
        bool spread = true;
        for (int i = 0; i < n; ++i) {
            const double gap = (i + 1 < n ? angles[static_cast<size_t>(i) + 1] : angles[0] + 2.0 * M_PI) - angles[static_cast<size_t>(i)];
            spread = spread && gap > 0.45 && gap < M_PI - 0.2;
        }
        if (!spread) continue;
        std::vector<gmPnt3D> pts;
        for (const double a : angles) {
            const double r = size * (0.6 + 0.4 * unit(rng));
            const double z = warped ? size * 0.08 * (unit(rng) - 0.5) : 0.0;
            pts.emplace_back(r * std::cos(a), r * std::sin(a), z);
        }
        bool convex = true;
        for (int i = 0; i < n; ++i) {
            const gmPnt3D& p = pts[static_cast<size_t>(i)];
            const gmPnt3D& q = pts[static_cast<size_t>((i + 1) % n)];
            const gmPnt3D& s = pts[static_cast<size_t>((i + 2) % n)];
            const double turn = (q.x() - p.x()) * (s.y() - q.y()) - (q.y() - p.y()) * (s.x() - q.x());
            convex = convex && turn > 0.05 * size * size;
        }
        if (convex) return pts;
    }
}

// A line across the element: straight, or bent once or twice near it.
std::vector<gmPnt3D> RandomLine(std::mt19937& rng, double size)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto near = [&](double spread) { return gmPnt3D(spread * size * (2 * unit(rng) - 1), spread * size * (2 * unit(rng) - 1), 0); };
    const auto far = [&](const gmPnt3D& from) {
        const double a = 2.0 * M_PI * unit(rng);
        return gmPnt3D(from.x() + 8 * size * std::cos(a), from.y() + 8 * size * std::sin(a), 0);
    };
    const int bends = static_cast<int>(3 * unit(rng));
    std::vector<gmPnt3D> pts;
    gmPnt3D c = near(1.1);
    pts.push_back(far(c));
    pts.push_back(c);
    for (int i = 1; i < bends; ++i) pts.push_back(near(1.1));
    pts.push_back(far(pts.back()));
    if (bends == 0) pts.erase(pts.begin() + 1);
    return pts;
}

struct Outcome {
    int cut = 0;
    int tried = 0;
};

// One random element, optionally with a hanging node on one edge, cut once.
void RunSeed(int seed, int shape, Outcome& out)
{
    SCOPED_TRACE("seed " + std::to_string(seed) + " shape " + std::to_string(shape));
    std::mt19937 rng(static_cast<unsigned>(seed) * 7919u + static_cast<unsigned>(shape));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int n = shape == 0 ? 3 : 4;
    const std::vector<gmPnt3D> pts = RandomConvex(rng, n, shape == 2);
    std::vector<gmPnt3D> nodes = pts;
    std::vector<int> elem;
    for (int i = 1; i <= n; ++i) elem.push_back(i);
    std::vector<CsDataAdpv> hanging;
    if (unit(rng) < 0.25) {
        const int k = static_cast<int>(n * unit(rng)) % n;
        nodes.push_back((pts[static_cast<size_t>(k)] + pts[static_cast<size_t>((k + 1) % n)]) * 0.5);
        hanging.emplace_back(n + 1, k + 1, (k + 1) % n + 1);
    }
    BuildModel(nodes, {elem}, hanging);
    double size = 0.0;
    for (const gmPnt3D& p : pts) size = std::max(size, gmPnt2D(p.x(), p.y()).Modulus());
    auto line = Line(RandomLine(rng, size), 0.2 + 0.25 * unit(rng));
    std::vector<bool> pre;
    for (int k = 0; k < 6; ++k) pre.push_back(unit(rng) < 0.3);
    const double minDst = ShortestEdge() * (0.05 + 0.95 * unit(rng));
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, pre, minDst);
    if (r.points.empty()) return;
    ++out.tried;
    out.cut += r.result != 0;
    ExpectSoundCut(r);
    if (::testing::Test::HasFailure()) ADD_FAILURE() << "replay with kReplaySeed = " << seed;
}

}  // namespace

// Thousands of random elements and lines: every cut, whatever its case,
// keeps the invariants; a failure names its seed.
TEST(CutRandom, EveryCutKeepsTheInvariants)
{
    Outcome outcome[3];
    for (int shape = 0; shape < 3; ++shape) {
        const int first = kReplaySeed >= 0 ? kReplaySeed : 0;
        const int last = kReplaySeed >= 0 ? kReplaySeed : 1500;
        for (int seed = first; seed <= last; ++seed) {
            RunSeed(seed, shape, outcome[shape]);
            if (::testing::Test::HasFatalFailure() || ::testing::Test::HasFailure()) return;
        }
    }
    // The sample reaches the cutting cases, not only refusals.
    if (kReplaySeed < 0) {
        for (const Outcome& o : outcome) EXPECT_GT(o.cut, o.tried / 2);
    }
    ResetModel();
}

namespace {

void UnitSquare() { BuildModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{1, 2, 3, 4}}); }

gmItrPt PointOn(int n1, int n2, int seg, const gmPnt3D& at)
{
    gmItrPt p(at, seg);
    p.SetEdge(gmEdge(n1, n2, n1 - 1, n2 - 1));
    return p;
}

// Opens the point ordering of a cut to the test.
class SortProbe : public CsTrmQuad {
public:
    SortProbe() : CsTrmQuad(nullptr, nullptr) {}
    std::vector<int> Sorted(gmTrmLine& line, gmElemt& elem, const std::vector<gmItrPt>& points)
    {
        trmLine = &line;
        elemt = &elem;
        itrPtArr = points;
        itrPtNum = static_cast<int>(points.size());
        SortItrPtArr();
        std::vector<int> out;
        for (const gmItrPt& p : itrPtArr) out.push_back(p.GetLineIdx());
        return out;
    }
};

}  // namespace

TEST(CutOnePoint, NearAVertexMovesItInTheMiddleNothing)
{
    UnitSquare();
    auto near = Line({{0.05, -1, 0}, {0.05, 0.5, 0}});
    Cutter cutter;
    CutRecord r = cutter.Cut(*near, 1);
    ExpectSoundCut(r);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(NodeAtPoint({0.05, 0, 0}), 1);

    UnitSquare();
    auto middle = Line({{0.5, -1, 0}, {0.5, 0.5, 0}});
    r = cutter.Cut(*middle, 1);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(NodeAtPoint({0, 0, 0}), 1);
    EXPECT_EQ(dataManage.GetNodeNumber(), 4);
}

TEST(CutOnePoint, ExistingNodeCutsOffTheTriangleAtTheEdgesFirstVertex)
{
    UnitSquare();
    dataManage.SetToDel(1);
    // The neighbour below made the node; a point of the line is also known
    // on the following edge 2-3.
    hashOper.InsertItrPt(PointOn(2, 3, 4, {1, 0.6, 0}));
    auto line = Line({{0.4, -1, 0}, {0.4, 0.5, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {true});
    ExpectSoundCut(r);
    const int x = NodeAtPoint({0.4, 0, 0});
    ASSERT_EQ(r.map.GetElemNum(), 1);
    EXPECT_TRUE(HasPiece(r, {4, 1, x}));
    EXPECT_TRUE(SameCycle(NodesOf(1), {x, 2, 3, 4}));
    EXPECT_TRUE(dataManage.GetElem(r.map.GetNewElem(0)).IsToDel());
}

TEST(CutPair, RefusedWithoutChangingAnything)
{
    UnitSquare();
    // Two crossings 0.042 apart, one on each edge at corner 2.
    auto close = Line({{0.5, -0.47, 0}, {1.5, 0.53, 0}});
    Cutter cutter;
    CutRecord r = cutter.Cut(*close, 1);
    ASSERT_EQ(r.points.size(), 2u);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(dataManage.GetNodeNumber(), 4);
    EXPECT_EQ(NodeAtPoint({1, 0, 0}), 2);

    // No line, no element, no operator, no points: nothing.
    UnitSquare();
    gmElemt elem(1);
    std::vector<gmItrPt> pts{PointOn(1, 2, 0, {0.5, 0, 0})};
    CsTrmQuad bare(nullptr, nullptr);
    auto line = Line({{0.5, -1, 0}, {0.5, 2, 0}});
    EXPECT_EQ(bare.Trimming(line.get(), &elem, pts), 0);
    bare.SetData(0.25, 1.0, &hashOper);
    EXPECT_EQ(bare.Trimming(nullptr, &elem, pts), 0);
    EXPECT_EQ(bare.Trimming(line.get(), nullptr, pts), 0);
    EXPECT_EQ(bare.Trimming(line.get(), &elem, {}), 0);
    // Points the table does not know are not cut.
    EXPECT_EQ(bare.Trimming(line.get(), &elem, {PointOn(1, 2, 0, {0.5, 0, 0}), PointOn(3, 4, 0, {0.5, 1, 0})}), 0);
    EXPECT_EQ(dataManage.GetElemNumber(), 1);
}

TEST(CutFeature, AlmostStraightCornersAreNoFeature)
{
    // The line's corner at (0.5, 0.5) sees the two crossings under 160
    // degrees (no feature: two quadrilaterals) or 140 degrees (a feature
    // inside: four pieces around it).
    for (const auto& [d, pieces] : {std::pair<double, int>{0.0882, 2}, {0.182, 4}}) {
        UnitSquare();
        auto line = Line({{0.5 - 3 * d, -1, 0}, {0.5, 0.5, 0}, {0.5 - 3 * d, 2, 0}});
        Cutter cutter;
        const CutRecord r = cutter.Cut(*line, 1);
        ExpectSoundCut(r);
        EXPECT_EQ(r.map.GetElemNum() + 1, pieces) << "offset " << d;
    }
}

TEST(CutMany, PairsFollowTheLineFromItsLargestGap)
{
    UnitSquare();
    auto line = Line({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {6, 0, 0}, {7, 0, 0}});
    gmElemt elem(1);
    elem.MakeLcs();
    SortProbe probe;
    // Segments 0, 1, 5, 6 of seven: the largest gap is 1 -> 5, so the list
    // starts at 5 and runs on around the line.
    const std::vector<gmItrPt> pts{PointOn(1, 2, 6, {0.1, 0, 0}), PointOn(1, 2, 0, {0.2, 0, 0}),
                                   PointOn(2, 3, 5, {1, 0.5, 0}), PointOn(3, 4, 1, {0.5, 1, 0})};
    EXPECT_EQ(probe.Sorted(*line, elem, pts), (std::vector<int>{5, 6, 0, 1}));
    // Evenly spread indices keep their order.
    const std::vector<gmItrPt> even{PointOn(1, 2, 3, {0.1, 0, 0}), PointOn(1, 2, 1, {0.2, 0, 0}),
                                    PointOn(2, 3, 5, {1, 0.5, 0})};
    EXPECT_EQ(probe.Sorted(*line, elem, even), (std::vector<int>{1, 3, 5}));
}

TEST(CutMany, OnePairIsCutPerCall)
{
    // A W dips into the square twice through its bottom edge: four crossings;
    // the first dent is cut, the second waits for the next visit.
    UnitSquare();
    auto line = Line({{0.25, -1, 0}, {0.4, 0.6, 0}, {0.55, -1, 0}, {0.7, 0.6, 0}, {0.85, -1, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {}, 0.2);
    ASSERT_EQ(r.points.size(), 4u);
    ExpectSoundCut(r);
    ASSERT_GT(r.result, 0);
    ASSERT_GT(r.prjPtNode, 0);
    EXPECT_DOUBLE_EQ(dataManage.GetNode(r.prjPtNode).GetPoint().x(), 0.4);
    EXPECT_TRUE(r.sameEdge);
    EXPECT_EQ(NodeAtPoint({0.7, 0.6, 0}), 0);
}
