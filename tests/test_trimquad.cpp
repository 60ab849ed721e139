#include "test_cutcheck.h"

#include <gtest/gtest.h>

using namespace cuttest;

namespace {

// One unit square, nodes 1 (0,0), 2 (1,0), 3 (1,1), 4 (0,1).
void UnitSquare() { BuildModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{1, 2, 3, 4}}); }

// Cuts every element of the input mesh that the line crosses, once, in
// order, checking each cut; then checks that shared crossings got one node.
std::vector<CutRecord> CutAll(gmTrmLine& line, const std::vector<std::vector<bool>>& preNodes = {})
{
    std::vector<CutRecord> cuts;
    Cutter cutter;
    const int count = dataManage.GetElemNumber();
    for (int e = 1; e <= count; ++e) {
        const std::vector<bool> pre = static_cast<size_t>(e) <= preNodes.size() ? preNodes[static_cast<size_t>(e) - 1] : std::vector<bool>{};
        CutRecord r = cutter.Cut(line, e, e, pre);
        if (r.points.empty()) continue;
        ExpectSoundCut(r);
        cuts.push_back(std::move(r));
    }
    ExpectNoDoubledNodes();
    return cuts;
}

int UsedBy(int node)
{
    int count = 0;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        const std::vector<int> nodes = NodesOf(e);
        count += std::find(nodes.begin(), nodes.end(), node) != nodes.end();
    }
    return count;
}

}  // namespace

TEST(QuadOpposite, MiddleCrossingsGiveTwoQuadrilaterals)
{
    UnitSquare();
    auto line = Line({{0.5, -1, 0}, {0.5, 2, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1);
    ExpectSoundCut(r);
    ASSERT_EQ(r.map.GetElemNum(), 1);
    const int x1 = NodeAtPoint({0.5, 0, 0});
    const int x2 = NodeAtPoint({0.5, 1, 0});
    ASSERT_GT(x1, 4);
    ASSERT_GT(x2, 4);
    EXPECT_TRUE(SameCycle(NodesOf(1), {x1, 2, 3, x2}));
    EXPECT_TRUE(SameCycle(NodesOf(2), {1, x1, x2, 4}));
}

TEST(QuadOpposite, CornerInsideGivesFourPiecesAroundIt)
{
    UnitSquare();
    auto line = Line({{0.3, -1, 0}, {0.8, 0.5, 0}, {0.3, 2, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1);
    ExpectSoundCut(r);
    ASSERT_EQ(r.map.GetElemNum(), 3);
    ASSERT_GT(r.prjPtNode, 0);
    EXPECT_DOUBLE_EQ(dataManage.GetNode(r.prjPtNode).GetPoint().x(), 0.8);
    EXPECT_EQ(UsedBy(r.prjPtNode), 4);
}

TEST(QuadOpposite, CrossingNearACornerMovesTheCorner)
{
    // The top crossing lies 0.05 from corner 4, well within the shortest edge:
    // the corner moves onto it and no node is made there.
    UnitSquare();
    auto line = Line({{0.5, -1, 0}, {0.5, 0, 0}, {0.05, 1, 0}, {-0.4, 2, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1);
    ExpectSoundCut(r);
    EXPECT_EQ(NodeAtPoint({0.05, 1, 0}), 4);
    EXPECT_EQ(NodeAtPoint({0, 1, 0}), 0);
    ASSERT_EQ(r.map.GetElemNum(), 1);
}

TEST(QuadAdjacent, MiddleCrossingsKeepTheCornerTriangle)
{
    // The diagonal of the rest follows the farther crossing: 1 - pos2 against
    // pos1 (both measured from the edge's end vertex).
    struct Case {
        gmPnt3D bottom, right;
        bool quadAtA;  // the quadrilateral holds corner 1, the triangle corner 3
    };
    for (const Case& c : {Case{{0.45, 0, 0}, {1, 0.6, 0}, true}, Case{{0.55, 0, 0}, {1, 0.35, 0}, false}}) {
        UnitSquare();
        const gmVec3D dir = c.right - c.bottom;
        auto line = Line({c.bottom - dir * 3.0, c.right + dir * 3.0});
        Cutter cutter;
        const CutRecord r = cutter.Cut(*line, 1);
        ExpectSoundCut(r);
        const int x1 = NodeAtPoint(c.bottom);
        const int x2 = NodeAtPoint(c.right);
        ASSERT_GT(x1, 4);
        ASSERT_GT(x2, 4);
        ASSERT_EQ(r.map.GetElemNum(), 2);
        EXPECT_TRUE(SameCycle(NodesOf(1), {x1, 2, x2}));
        if (c.quadAtA) {
            EXPECT_TRUE(HasPiece(r, {4, 1, x1, x2}));
            EXPECT_TRUE(HasPiece(r, {3, 4, x2}));
        } else {
            EXPECT_TRUE(HasPiece(r, {4, x1, x2, 3}));
            EXPECT_TRUE(HasPiece(r, {4, 1, x1}));
        }
    }
}

TEST(QuadAdjacent, CornerInsideGivesThreeQuadrilateralsAroundIt)
{
    UnitSquare();
    auto line = Line({{0.5, -1, 0}, {0.5, 0.45, 0}, {2, 0.5, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1);
    ExpectSoundCut(r);
    ASSERT_EQ(r.map.GetElemNum(), 2);
    ASSERT_GT(r.prjPtNode, 0);
    for (const auto& piece : PieceNodes(r)) {
        EXPECT_EQ(piece.size(), 4u);
        EXPECT_NE(std::find(piece.begin(), piece.end(), r.prjPtNode), piece.end());
    }
}

TEST(QuadAdjacent, EveryNodeStateEndsInSoundPieces)
{
    // The neighbour may have made the node of either crossing, or both.
    const std::vector<std::vector<bool>> states = {{false, false}, {true, false}, {false, true}, {true, true}};
    const std::vector<std::vector<gmPnt3D>> lines = {
        {{0, -0.5, 0}, {2, 1.5, 0}},                    // middle crossings
        {{0.88, -1, 0}, {0.88, 0, 0}, {2, 0.1, 0}},     // both near the shared corner
        {{0.05, -1, 0}, {0.1, 0.1, 0}, {2, 0.95, 0}},   // near the far corners
        {{0.6, -1, 0}, {0.4, 0.6, 0}, {2, 0.7, 0}},     // corner inside
        {{0.3, -1, 0}, {0.8, 0.2, 0}, {2, 0.3, 0}},     // corner near the shared corner
    };
    for (const auto& pts : lines) {
        for (const auto& state : states) {
            SCOPED_TRACE("line through " + std::to_string(pts[1].x()) + " nodes " + std::to_string(state[0]) + std::to_string(state[1]));
            UnitSquare();
            auto line = Line(pts);
            Cutter cutter;
            const CutRecord r = cutter.Cut(*line, 1, 0, state);
            ASSERT_EQ(r.points.size(), 2u);
            ExpectSoundCut(r);
            // A node the neighbour made is used by the pieces, not replaced; an
            // element left uncut is split at it later by the neighbour repair.
            for (size_t k = 0; k < 2 && r.result; ++k) {
                if (state[k]) {
                    EXPECT_GT(UsedBy(hashOper.GetExistItrPt(r.points[k])->GetNode()), 0);
                }
            }
        }
    }
}

TEST(QuadAdjacent, SharedCornerStaysWhenTheNeighboursMadeBothNodes)
{
    // The line's corner lies near the shared corner, beyond the chord of the
    // two crossings whose nodes the neighbours made: moving the shared corner
    // would leave those nodes off its edges. It stays, and the element is cut
    // along the chord through the neighbours' nodes.
    UnitSquare();
    auto line = Line({{0.3, -1, 0}, {0.8, 0.2, 0}, {2, 0.3, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {true, true});
    ExpectSoundCut(r);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.movedNode, 0);
    EXPECT_DOUBLE_EQ(dataManage.GetNode(2).GetPoint().x(), 1.0);
    EXPECT_DOUBLE_EQ(dataManage.GetNode(2).GetPoint().y(), 0.0);
}

TEST(QuadSameEdge, DentFromOneEdgeIsCutAroundItsCorner)
{
    UnitSquare();
    auto line = Line({{0.3, -1, 0}, {0.5, 0.4, 0}, {0.7, -1, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1);
    EXPECT_TRUE(r.sameEdge);
    ExpectSoundCut(r);
    ASSERT_EQ(r.map.GetElemNum(), 3);
    ASSERT_GT(r.prjPtNode, 0);
    // The element keeps the piece between the edge and the line.
    const std::vector<int> kept = NodesOf(1);
    EXPECT_EQ(kept.size(), 3u);
    EXPECT_NE(std::find(kept.begin(), kept.end(), r.prjPtNode), kept.end());
}

TEST(QuadSameEdge, PointsOffTheEdgeLineAreNotCut)
{
    UnitSquare();
    auto line = Line({{0.3, -1, 0}, {0.5, 0.4, 0}, {0.7, -1, 0}});
    gmElemt elem(1);
    std::vector<gmItrPt> pts;
    line->InterElement(elem, pts);
    ASSERT_EQ(pts.size(), 2u);
    for (gmItrPt& p : pts) p.SetPoint(p.GetPoint() + gmVec3D(0, 0.02, 0));
    hashOper.AddItrPtArr(1, pts);
    CsTrmQuad cutter(&hashOper, nullptr);
    cutter.SetData(0.25, 1.0, &hashOper);
    EXPECT_EQ(cutter.Trimming(line.get(), &elem, pts), 0);
    EXPECT_EQ(dataManage.GetElemNumber(), 1);
    EXPECT_EQ(dataManage.GetNodeNumber(), 4);
    EXPECT_TRUE(SameCycle(NodesOf(1), {1, 2, 3, 4}));
}

TEST(QuadPatch, LinesAcrossTwoByTwoAndThreeByThree)
{
    const std::vector<std::vector<gmPnt3D>> lines = {
        {{-1, 0.5, 0}, {4, 1.5, 0}},
        {{-1, -0.3, 0}, {1.4, 1.6, 0}, {4, 0.2, 0}},
        {{0.5, -1, 0}, {1.5, 1.5, 0}, {2.5, -1, 0}},
        {{-1, 2.2, 0}, {0.7, 0.6, 0}, {2.2, 0.9, 0}, {4, -1, 0}},
    };
    for (const int n : {2, 3}) {
        for (const auto& pts : lines) {
            SCOPED_TRACE("patch " + std::to_string(n) + " line at " + std::to_string(pts[1].x()));
            BuildQuadPatch(n);
            auto line = Line(pts);
            const std::vector<CutRecord> cuts = CutAll(*line);
            EXPECT_FALSE(cuts.empty());
        }
    }
}

TEST(QuadPatch, HangingNodeOnACutEdge)
{
    // The coarse element 1 (0..2 x 0..1) sits beside two fine ones on its
    // right edge, whose middle node 7 hangs on edge 2-3 of the coarse one.
    //   4-----3--6
    //   |     7--8
    //   1-----2--5
    const std::vector<gmPnt3D> pts = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {3, 0, 0}, {3, 2, 0}, {2, 1, 0}, {3, 1, 0}};
    const std::vector<std::vector<int>> elems = {{1, 2, 3, 4}, {2, 5, 8, 7}, {7, 8, 6, 3}};
    for (const double y : {0.9, 0.6, 1.15, 1.5}) {
        SCOPED_TRACE("crossing at y " + std::to_string(y));
        BuildModel(pts, elems, {CsDataAdpv(7, 2, 3)});
        auto line = Line({{1, -1, 0}, {1, y - 0.3, 0}, {4, y, 0}});
        CutAll(*line);
    }
    // Crossed at 45 % of the edge from its end node 3 (y = 1.1): the hanging
    // node moves onto the crossing and its constraint goes.
    BuildModel(pts, elems, {CsDataAdpv(7, 2, 3)});
    auto line = Line({{1.5, -1, 0}, {1.5, 1.1, 0}, {4, 1.1, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1);
    ExpectSoundCut(r);
    EXPECT_EQ(NodeAtPoint({2, 1.1, 0}), 7);
    EXPECT_FALSE(hashOper.IsAdptvNode(7));
}
