#include "test_cutcheck.h"

#include <gtest/gtest.h>

using namespace cuttest;

namespace {

// One unit square, nodes 1 (0,0), 2 (1,0), 3 (1,1), 4 (0,1).
void UnitSquare() { BuildModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{1, 2, 3, 4}}); }

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
