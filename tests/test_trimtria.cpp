#include "test_cutcheck.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace cuttest;

namespace {

// Nodes 1 (0,0), 2 (2,0), 3 (1,2): edge 1-2 at the bottom, 2-3 on the right.
void Triangle() { BuildModel({{0, 0, 0}, {2, 0, 0}, {1, 2, 0}}, {{1, 2, 3}}); }

}  // namespace

TEST(TriaAdjacent, MiddleCrossingsKeepTheCornerTriangle)
{
    Triangle();
    // Crosses 1-2 at (1.2, 0) and 2-3 at (1.6, 0.8), both mid-edge.
    auto line = Line({{1.0, -0.4, 0}, {1.8, 1.2, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {}, 0.3);
    ExpectSoundCut(r);
    const int x1 = NodeAtPoint({1.2, 0, 0});
    const int x2 = NodeAtPoint({1.6, 0.8, 0});
    ASSERT_GT(x1, 3);
    ASSERT_GT(x2, 3);
    EXPECT_TRUE(SameCycle(NodesOf(1), {x1, 2, x2}));
    ASSERT_EQ(r.map.GetElemNum(), 1);
    EXPECT_TRUE(HasPiece(r, {1, x1, x2, 3}));
}

TEST(TriaAdjacent, CornerInsideWithBothNodesGivesFourPieces)
{
    Triangle();
    auto line = Line({{1.2, -1, 0}, {1.1, 0.7, 0}, {2.5, 0.8, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {true, true}, 0.3);
    ExpectSoundCut(r);
    ASSERT_GT(r.prjPtNode, 0);
    ASSERT_EQ(r.map.GetElemNum(), 3);
    int quads = 0;
    for (const auto& piece : PieceNodes(r)) {
        quads += piece.size() == 4;
        EXPECT_NE(std::find(piece.begin(), piece.end(), r.prjPtNode), piece.end());
    }
    EXPECT_EQ(quads, 1);
}

TEST(TriaAdjacent, CrossingNearTheSharedVertexMovesIt)
{
    Triangle();
    // 1-2 crossed 0.2 from vertex 2 (10 % of the edge, measured from it),
    // 2-3 in its middle.
    auto line = Line({{1.86, -0.2, 0}, {1.44, 1.2, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {}, 0.3);
    ExpectSoundCut(r);
    EXPECT_EQ(NodeAtPoint({1.8, 0, 0}), 2);
    EXPECT_EQ(dataManage.GetNodeNumber(), 3);
}

TEST(TriaSameEdge, TwoCrossingsOfOneEdgeAreNotCut)
{
    Triangle();
    auto line = Line({{0.5, -1, 0}, {1.0, 0.5, 0}, {1.5, -1, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {}, 0.3);
    ASSERT_EQ(r.points.size(), 2u);
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.sameEdge);
    EXPECT_EQ(dataManage.GetNodeNumber(), 3);
    EXPECT_TRUE(SameCycle(NodesOf(1), {1, 2, 3}));
}

// The neighbour across the edge made nodes at both crossings: left whole,
// the triangle would leave them off its edge.
TEST(TriaSameEdge, CornerDeepInsideBetweenTheNeighboursNodesIsCutOut)
{
    Triangle();
    auto line = Line({{0.5, -1, 0}, {1.0, 0.5, 0}, {1.5, -1, 0}});
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, {true, true}, 0.3);
    ExpectSoundCut(r);
    ASSERT_GT(r.prjPtNode, 0);
    for (const double x : {5.0 / 6.0, 7.0 / 6.0}) {
        const int node = NodeAtPoint({x, 0, 0});
        ASSERT_GT(node, 3);
        bool corner = false;
        for (const auto& piece : PieceNodes(r)) corner = corner || std::count(piece.begin(), piece.end(), node) > 0;
        EXPECT_TRUE(corner) << "crossing at " << x;
    }
}

TEST(TriaAdjacent, EveryNodeStateAndPositionEndsInSoundPieces)
{
    const std::vector<std::vector<bool>> states = {{false, false}, {true, false}, {false, true}, {true, true}};
    // Crossing places along 1-2 and 2-3 (fractions from vertex 2) and a line
    // corner: none, inside, near a corner, near the far edge.
    const std::vector<double> at = {0.05, 0.3, 0.5, 0.85};
    const std::vector<gmPnt3D> corners = {{}, {1.2, 0.4, 0}, {1.9, 0.1, 0}, {0.9, 0.2, 0}};
    for (const double s1 : at) {
        for (const double s2 : at) {
            for (size_t c = 0; c < corners.size(); ++c) {
                for (const auto& state : states) {
                    SCOPED_TRACE(std::to_string(s1) + " " + std::to_string(s2) + " corner " + std::to_string(c));
                    Triangle();
                    const gmPnt3D p1(2 - 2 * s1, 0, 0);
                    const gmPnt3D p2(2 - s2, 2 * s2, 0);
                    const gmVec3D out1 = gmVec3D(0, -1, 0);
                    const gmVec3D out2 = gmVec3D(2, 1, 0) * 0.5;
                    std::vector<gmPnt3D> pts{p1 + out1};
                    if (c > 0) pts.push_back(corners[c]);
                    pts.push_back(p2 + out2);
                    if (c == 0) pts = {p1 - (p2 - p1) * 0.5, p2 + (p2 - p1) * 0.5};
                    auto line = Line(pts);
                    Cutter cutter;
                    const CutRecord r = cutter.Cut(*line, 1, 0, state, 0.3);
                    ExpectSoundCut(r);
                }
            }
        }
    }
}

TEST(TriaPatch, FanOfTrianglesAroundANode)
{
    // Six triangles around node 1 at the origin.
    std::vector<gmPnt3D> pts{{0, 0, 0}};
    for (int i = 0; i < 6; ++i) pts.emplace_back(std::cos(M_PI * i / 3), std::sin(M_PI * i / 3), 0);
    std::vector<std::vector<int>> elems;
    for (int i = 0; i < 6; ++i) elems.push_back({1, 2 + i, 2 + (i + 1) % 6});
    for (const auto& linePts : std::vector<std::vector<gmPnt3D>>{
             {{-2, 0.3, 0}, {2, 0.45, 0}},
             {{-2, -0.5, 0}, {0.2, 0.25, 0}, {2, -0.6, 0}},
             {{0.9, -2, 0}, {0.4, 0.1, 0}, {-0.2, 2, 0}}}) {
        BuildModel(pts, elems);
        auto line = Line(linePts);
        Cutter cutter;
        const int count = dataManage.GetElemNumber();
        int cut = 0;
        for (int e = 1; e <= count; ++e) {
            const CutRecord r = cutter.Cut(*line, e);
            if (r.points.empty()) continue;
            ExpectSoundCut(r);
            cut += r.result != 0;
        }
        EXPECT_GT(cut, 0);
        ExpectNoDoubledNodes();
    }
}
