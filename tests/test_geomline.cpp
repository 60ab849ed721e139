#include "test_geomhelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using geomtest::ExpectNear;

namespace {

// A trim line with no element tests of its own.
class PlainLine : public gmTrmLine {
public:
    using gmTrmLine::gmTrmLine;
    int InterElement(gmElemt&, std::vector<gmItrPt>&) override { return 0; }
};

std::vector<gmPnt3D> Pts(std::initializer_list<gmPnt3D> p) { return std::vector<gmPnt3D>(p); }

}  // namespace

TEST(PlyLine, SimplifyDropsStraightRunsAndCrowdedPoints)
{
    // A polyline along the square's sides with extra points on each side and a crowded corner.
    gmPlyLine line(Pts({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {3, 0.1, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}}));
    line.SimplifyLine();
    ASSERT_GE(line.GetCount(), 3);
    ExpectNear(line.GetFirst(), gmPnt3D(0, 0, 0), 0.0);
    ExpectNear(line.GetLast(), gmPnt3D(3, 3, 0), 0.0);
    // Only the corner survives between the ends (the crowded point 0.1 from it goes).
    EXPECT_EQ(line.GetCount(), 3);
    ExpectNear(line.GetAt(1), gmPnt3D(3, 0, 0), 0.0);
}

TEST(TrmLine, ClampingSetters)
{
    PlainLine line;
    EXPECT_EQ(line.GetFlag(), -1);
    line.SetRatio(0.1);
    EXPECT_EQ(line.GetRatio(), 0.2);
    line.SetFlag(7);
    EXPECT_EQ(line.GetFlag(), 1);
    line.SetFlag(-3);
    EXPECT_EQ(line.GetFlag(), -1);
    line.SetFlag(0);
    EXPECT_TRUE(line.IsLancing());
}

TEST(TrmLine, AutoCloseSnapsExtendsOrLeavesOpen)
{
    PlainLine snapped(Pts({{0, 0, 0}, {5, 0, 0}, {5, 5, 0}, {0.005, 0, 0}}), -1);
    snapped.AutoClose();
    EXPECT_EQ(snapped.GetCount(), 4);
    ExpectNear(snapped.GetLast(), snapped.GetFirst(), 0.0);
    ExpectNear(snapped.GetUcsLast(), snapped.GetUcsAt(0), 0.0);
    EXPECT_EQ(snapped.IsAutoClosed(), 1);
    EXPECT_EQ(snapped.IsInside(*std::make_unique<gmElemt>(geomtest::UnitSquare())), 1);

    PlainLine open(Pts({{0, 0, 0}, {5, 0, 0}, {5, 5, 0}, {1, 0, 0}}), 1);
    open.AutoClose();
    EXPECT_EQ(open.GetUcsCount(), 5);
    ExpectNear(open.GetLast(), open.GetFirst(), 0.0);
    EXPECT_EQ(open.IsAutoClosed(), 0);

    PlainLine lance(Pts({{0, 0, 0}, {5, 0, 0}, {5, 5, 0}, {1, 0, 0}}), 0);
    lance.AutoClose();
    EXPECT_EQ(lance.GetCount(), 4);

    PlainLine two(Pts({{0, 0, 0}, {5, 0, 0}}), -1);
    two.AutoClose();
    EXPECT_EQ(two.GetCount(), 2);
}

TEST(TrmLine, Straightness)
{
    EXPECT_TRUE(PlainLine(Pts({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0.005, 0}}), -1).IsStraight());
    EXPECT_FALSE(PlainLine(Pts({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}), -1).IsStraight());
    EXPECT_FALSE(PlainLine(Pts({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0.5, 0}}), -1).IsStraight());
    EXPECT_TRUE(PlainLine(Pts({{0, 0, 0}, {1, 1, 1}}), -1).IsStraight());
    // Points near the start do not fix the direction.
    EXPECT_TRUE(PlainLine(Pts({{0, 0, 0}, {0.01, 0.03, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}), -1).IsStraight());
}

// The cutters take the curves largest first, by their bounding rectangles.
TEST(TrmLine, CurvesSortByAreaLargestFirst)
{
    double x0, y0, x1, y1;
    PlainLine(Pts({{1, 5, 0}, {-2, 3, 0}, {4, -1, 0}}), -1).GetCorner(x0, y0, x1, y1);
    EXPECT_EQ(std::vector<double>({x0, y0, x1, y1}), std::vector<double>({-2, -1, 4, 5}));

    std::vector<std::unique_ptr<gmTrmLine>> lines;
    for (const double side : {2.0, 10.0, 5.0})
        lines.push_back(std::make_unique<PlainLine>(geomtest::Square(side), -1));
    std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return compare_area(a, b); });
    double prev = 1e9;
    for (const auto& l : lines) {
        l->GetCorner(x0, y0, x1, y1);
        EXPECT_LT(x1 - x0, prev);
        prev = x1 - x0;
    }
    EXPECT_FALSE(compare_area(nullptr, lines[0].get()));
}
