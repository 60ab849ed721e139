// The general split of one element along the chains of a curve: whatever the
// chains do, the pieces tile the outline exactly, turn like it, keep every
// chain as an edge, and no quadrilateral is concave or nearly flat.
#include "qdstrimelem_split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Chain = std::pair<int, int>;

double Area(const CsSplitInput& in, const std::vector<int>& ring)
{
    double a = 0.0;
    for (size_t i = 0; i < ring.size(); ++i) {
        const CsSplitPoint& p = in.points[static_cast<size_t>(ring[i])];
        const CsSplitPoint& q = in.points[static_cast<size_t>(ring[(i + 1) % ring.size()])];
        a += p.x * q.y - q.x * p.y;
    }
    return 0.5 * a;
}

// No piece's area falls below `sliver` times its longest edge squared.
void ExpectSoundSplit(const CsSplitInput& in, double sliver = 0.0)
{
    std::vector<std::vector<int>> pieces;
    ASSERT_TRUE(CsSplitPolygon(in, pieces));
    const auto at = [&in](int k) { return in.points[static_cast<size_t>(k)]; };
    double total = 0.0;
    std::set<Chain> edges;
    for (const auto& piece : pieces) {
        ASSERT_TRUE(piece.size() == 3 || piece.size() == 4);
        double longest = 0.0;
        for (size_t i = 0; i < piece.size(); ++i) {
            const int a = piece[i], b = piece[(i + 1) % piece.size()];
            EXPECT_TRUE(edges.insert({a, b}).second) << "edge " << a << "-" << b << " used twice one way";
            const CsSplitPoint c = at(a), q = at(b);
            longest = std::max(longest, std::hypot(q.x - c.x, q.y - c.y));
            if (piece.size() != 4) continue;
            const CsSplitPoint p = at(piece[(i + 3) % 4]);
            const double ux = p.x - c.x, uy = p.y - c.y, wx = q.x - c.x, wy = q.y - c.y;
            EXPECT_GT(CsSplitOrient(p, c, q), 0.0) << "concave quadrilateral";
            EXPECT_GT((ux * wx + uy * wy) / (std::hypot(ux, uy) * std::hypot(wx, wy)), -0.8661) << "flat corner";
        }
        EXPECT_GT(Area(in, piece), sliver * longest * longest)
            << "a piece of " << piece.size() << " points turns the wrong way, is flat or a sliver";
        total += Area(in, piece);
    }
    EXPECT_NEAR(total, Area(in, in.outline), 1e-9 * std::fabs(Area(in, in.outline)));
    // Every chain is an edge of the pieces on both of its sides.
    for (const Chain& c : in.chains) {
        EXPECT_TRUE(edges.count(c) && edges.count({c.second, c.first})) << "chain " << c.first << "-" << c.second;
    }
}

// The unit square 0-1-2-3 with extra points appended after its corners.
CsSplitInput Square(std::vector<CsSplitPoint> extra, std::vector<int> outline, std::vector<Chain> chains)
{
    CsSplitInput in;
    in.points = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    in.points.insert(in.points.end(), extra.begin(), extra.end());
    in.outline = std::move(outline);
    in.chains = std::move(chains);
    return in;
}

}  // namespace

TEST(Split, EveryShapeOfChainTilesTheElement)
{
    const struct {
        const char* what;
        CsSplitInput in;
        double sliver;
    } cases[] = {
        {"straight across", Square({{0.4, 0}, {0.6, 1}}, {0, 4, 1, 2, 5, 3}, {{4, 5}}), 0.0},
        {"one corner inside", Square({{0.3, 0}, {0.6, 0.7}, {1, 0.2}}, {0, 4, 1, 6, 2, 3}, {{4, 5}, {5, 6}}), 0.0},
        {"in and out by one edge", Square({{0.2, 0}, {0.5, 0.8}, {0.7, 0}}, {0, 4, 6, 1, 2, 3}, {{4, 5}, {5, 6}}), 0.0},
        {"several corners", Square({{0, 0.5}, {0.3, 0.2}, {0.5, 0.8}, {0.8, 0.3}, {1, 0.6}},
                                   {0, 1, 8, 2, 3, 4}, {{4, 5}, {5, 6}, {6, 7}, {7, 8}}), 0.0},
        {"a loop inside", Square({{0.3, 0.3}, {0.7, 0.35}, {0.5, 0.7}}, {0, 1, 2, 3}, {{4, 5}, {5, 6}, {6, 4}}), 0.0},
        {"a slit ending inside", Square({{0.5, 0}, {0.45, 0.6}}, {0, 4, 1, 2, 3}, {{4, 5}}), 0.0},
        {"a slit inside", Square({{0.3, 0.4}, {0.7, 0.55}}, {0, 1, 2, 3}, {{4, 5}}), 0.0},
        {"hanging node on a side", Square({{1, 0.5}, {0.5, 0}}, {0, 5, 1, 4, 2, 3}, {{5, 4}}), 0.0},
        {"through a corner", Square({{0.6, 1}}, {0, 1, 2, 4, 3}, {{0, 4}}), 0.0},
        // A chain close beside a side, through corners nearly in a row, leaves
        // a thin strip: it must fan from the strip's far end, not into
        // triangles of three chain points, which have no area a solver can use.
        {"thin strip beside a side", Square({{0.02, 0.2}, {0.0405, 0.4}, {0.0615, 0.6}, {0.0, 0.95}}, {0, 1, 2, 3, 7},
                                            {{0, 4}, {4, 5}, {5, 6}, {6, 7}}), 1e-3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectSoundSplit(c.in, c.sliver);
    }
}

TEST(Split, ChainsThatCannotBeEdgesAreRefused)
{
    std::vector<std::vector<int>> pieces;
    // Two chains crossing each other inside.
    EXPECT_FALSE(CsSplitPolygon(Square({{0.2, 0}, {0.8, 1}, {0.8, 0}, {0.2, 1}}, {0, 4, 6, 1, 2, 5, 7, 3}, {{4, 5}, {6, 7}}),
                                pieces));
    EXPECT_TRUE(pieces.empty());
    // A chain through a point it does not end at.
    EXPECT_FALSE(CsSplitPolygon(Square({{0.5, 0.5}}, {0, 1, 2, 3}, {{0, 2}}), pieces));
    // An outline turned clockwise.
    EXPECT_FALSE(CsSplitPolygon(Square({}, {0, 3, 2, 1}, {}), pieces));
}

// Random convex polygons, with and without points on their sides, cut by a
// random polyline between two sides through a few inner corners.
TEST(Split, RandomChainsThroughRandomConvexElements)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 500; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CsSplitInput in;
        const int sides = 3 + round % 4;
        for (int k = 0; k < sides; ++k) {
            const double a = 2.0 * std::acos(-1.0) * (k + 0.3 * unit(rng)) / sides;
            in.points.push_back({std::cos(a), std::sin(a)});
        }
        // Two points on the first and a later side, joined by a chain through inner corners.
        const auto onSide = [&](int k, double t) {
            const CsSplitPoint& p = in.points[static_cast<size_t>(k)];
            const CsSplitPoint& q = in.points[static_cast<size_t>((k + 1) % sides)];
            in.points.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
            return static_cast<int>(in.points.size() - 1);
        };
        const int other = 1 + static_cast<int>(unit(rng) * (sides - 1));
        const int a = onSide(0, 0.2 + 0.6 * unit(rng));
        const int b = onSide(other, 0.2 + 0.6 * unit(rng));
        for (int k = 0; k < sides; ++k) {
            in.outline.push_back(k);
            if (k == 0) in.outline.push_back(a);
            if (k == other) in.outline.push_back(b);
        }
        int prev = a;
        const int corners = round % 3;
        const CsSplitPoint pa = in.points[static_cast<size_t>(a)], pb = in.points[static_cast<size_t>(b)];
        for (int c = 1; c <= corners; ++c) {
            const double t = static_cast<double>(c) / (corners + 1);
            // Off the straight line between the ends, well inside the element.
            const double off = 0.3 * (unit(rng) - 0.5);
            in.points.push_back({(1 - t) * pa.x + t * pb.x - off * (pb.y - pa.y), (1 - t) * pa.y + t * pb.y + off * (pb.x - pa.x)});
            in.chains.push_back({prev, static_cast<int>(in.points.size() - 1)});
            prev = static_cast<int>(in.points.size() - 1);
        }
        in.chains.push_back({prev, b});
        ExpectSoundSplit(in);
    }
}
