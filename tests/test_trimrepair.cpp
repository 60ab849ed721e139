// The thresholds at which a cut snaps an element corner onto the curve and at
// which the repairs after a trim line split an element: each just inside and
// just outside.
#include "test_cutcheck.h"

#include "qdstrimalgo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace cuttest;

namespace {

// Opens the two repair passes to the test.
class RepairProbe : public CsToolTrm {
public:
    explicit RepairProbe(const CsTrmLineOwners& lines) : CsToolTrm(lines) {}
    void SplitNeighbour(int elem)
    {
        splitElArr = {elem};
        CheckEdgNode();
    }
    void SplitCorners(int elem)
    {
        trmElemArr = {elem};
        CheckElement();
    }
};

void RunRepair(bool neighbour)
{
    const CsTrmLineOwners none;
    RepairProbe probe(none);
    if (neighbour) probe.SplitNeighbour(1);
    else probe.SplitCorners(1);
}

// The pieces of element 1 and those split from it tile its outline.
void ExpectTiles(double area)
{
    double sum = 0.0;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) sum += Area(NodesOf(e), gmVec3D(0, 0, 1));
    EXPECT_NEAR(sum, area, 1e-9 * area);
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) EXPECT_GT(Area(NodesOf(e), gmVec3D(0, 0, 1)), 0.0);
}

}  // namespace

// One crossing moves the first vertex of its edge onto it below a tenth of the
// edge, the end vertex above nine tenths, and leaves the element alone between.
TEST(RepairThresholds, OneCrossingSnapsTheNearVertexWithinATenth)
{
    const struct {
        double x;
        int moved;  // the node now at the crossing, 0 for none
    } cases[] = {{0.09, 1}, {0.11, 0}, {0.89, 0}, {0.91, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        BuildModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{1, 2, 3, 4}});
        auto line = Line({{c.x, -1, 0}, {c.x, 0.5, 0}});
        Cutter cutter;
        const CutRecord r = cutter.Cut(*line, 1);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(NodeAtPoint({c.x, 0, 0}, 1e-9), c.moved);
        EXPECT_EQ(dataManage.GetNodeNumber(), 4);
    }
}

// A node on an edge of a neighbour splits it from a tenth to nine tenths of the
// edge (measured from the edge's end vertex), exactly at both limits included.
TEST(RepairThresholds, NeighbourWithANodeOnItsEdgeIsSplitBetweenATenthAndNineTenths)
{
    const struct {
        double fromEnd;  // of the edge 1-2, ten long
        bool split;
    } cases[] = {{1.0, true}, {0.9, false}, {9.0, true}, {9.1, false}, {5.0, true}};
    for (const bool triangle : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(triangle ? "triangle " : "quadrilateral ") + std::to_string(c.fromEnd));
            if (triangle) BuildModel({{0, 0, 0}, {10, 0, 0}, {5, 10, 0}}, {{1, 2, 3}});
            else BuildModel({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, {{1, 2, 3, 4}});
            const double area = Area(NodesOf(1), gmVec3D(0, 0, 1));
            const gmPnt3D at(10.0 - c.fromEnd, 0, 0);
            gmItrPt p(at, 0);
            p.SetEdge(gmEdge(1, 2, 0, 1));
            p.SetNode(dataManage.AddNode(at));
            hashOper.InsertItrPt(p);
            const int before = dataManage.GetElemNumber();
            RunRepair(true);
            EXPECT_EQ(dataManage.GetElemNumber(), before + (c.split ? 1 : 0));
            const std::vector<int> nodes = NodesOf(1);
            EXPECT_EQ(std::find(nodes.begin(), nodes.end(), p.GetNode()) != nodes.end(), c.split);
            ExpectTiles(area);
        }
    }
}

// A quadrilateral corner flatter than 150 degrees, or a reflex one, is split
// off along the diagonal through it; at 149 degrees the element stays whole.
TEST(RepairThresholds, FlatOrReflexCornerSplitsTheQuadrilateral)
{
    const double kDeg = 3.14159265358979323846 / 180.0;
    const struct {
        double dip;  // how far corner 2 lies below the line from corner 1 to corner 3
        bool split;
    } cases[] = {{10 * std::tan(14.5 * kDeg), true}, {10 * std::tan(15.5 * kDeg), false}, {-3.0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dip);
        BuildModel({{-10, 0, 0}, {0, -c.dip, 0}, {10, 0, 0}, {0, 10, 0}}, {{1, 2, 3, 4}});
        const double area = Area(NodesOf(1), gmVec3D(0, 0, 1));
        RunRepair(false);
        ASSERT_EQ(dataManage.GetElemNumber(), c.split ? 2 : 1);
        if (c.split) {
            // The diagonal runs through the bad corner.
            EXPECT_EQ(NodesOf(1).size(), 3u);
            EXPECT_EQ(NodesOf(2).size(), 3u);
            for (const int e : {1, 2}) {
                const std::vector<int> n = NodesOf(e);
                EXPECT_NE(std::find(n.begin(), n.end(), 2), n.end());
                EXPECT_NE(std::find(n.begin(), n.end(), 4), n.end());
            }
        }
        ExpectTiles(area);
    }
}
