// Lancing through the real program on small hand-made patches, each output
// judged by the independent judge of cuts (nothing removed, the slit open
// along the curve up to its inner ends, its nodes doubled once with their
// constraints, pieces carrying their records).
#include "test_sweeprun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sweep::Card;
using sweep::Dynain;
using sweep::P2;
using sweep::Poly;

// A blank to lance: its text, its mesh and its extent from the origin.
struct Sheet {
    std::string text;
    Dynain mesh;
    double width = 0.0, height = 0.0;
};

Sheet FlatSheet(int seed, int levels)
{
    const sweep::Blank& b = sweep::GetBlank(sweep::Flat(seed, levels));
    return {b.text, b.mesh, b.x1, b.y1};
}

// Lances the sheet along the curves (as the deck's six decimals write them)
// in a scratch directory, and returns what was written.
Dynain ExpectLanced(const Sheet& sheet, const std::vector<Poly>& curves)
{
    std::vector<std::pair<int, Poly>> lances;
    for (const Poly& c : curves) lances.emplace_back(0, c);
    const sweep::Job job = sweep::JobAlongZ(lances);
    testutil::ScratchDir dir("lance");
    testutil::WriteFile(dir.file("blank.dynain"), sheet.text);
    testutil::WriteFile(dir.file("job.dyn"), sweep::DeckFor(sheet.mesh, job, "blank.dynain"));
    const testutil::RunResult run = testutil::RunProgram(dir, "job.dyn");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2D Lancing finished successfully"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(dir.file("job.dynain"))) << "nothing written";
    const Dynain out = trimcheck::ParseFile(dir.file("job.dynain"));
    sweep::ExpectJudged(sheet.mesh, out, job);
    return out;
}

// ---------------------------------------------------------------- cases

// Lines on generated flat blanks through existing nodes only: along a grid
// line, and along a diagonal through element corners from a clamped corner
// of the sheet, whose copies must both keep the clamp. (The sweeps lance
// across elements in every other way.)
TEST(Lance2D, LinesThroughExistingNodes)
{
    const Sheet grid = FlatSheet(35, 0);
    double x = 0.0;
    for (const auto& [id, p] : grid.mesh.nodes)
        if (std::fabs(p[0] - 0.5 * grid.width) < std::fabs(x - 0.5 * grid.width)) x = p[0];
    ExpectLanced(grid, {{{x, -5.0}, {x + 1e-4, 0.5 * grid.height}, {x, grid.height + 5.0}}});
    const Sheet corner = FlatSheet(36, 0);
    const double d = std::min(corner.width, corner.height);
    ExpectLanced(corner, {{{-5.0, -5.0}, {0.5 * d + 1e-4, 0.5 * d}, {d + 5.0, d + 5.0}}});
}

// A blank written by hand: nodes 1..n at plane points, shells 1..m (three or
// four node numbers), each with a record of its own, and hanging nodes.
Sheet Tiny(const std::vector<P2>& points, const std::vector<std::vector<int>>& shells,
           const std::vector<std::array<int, 3>>& hanging = {})
{
    std::string text = "*KEYWORD\n*NODE\n", elems = "*ELEMENT_SHELL_THICKNESS\n";
    std::string stress = "*INITIAL_STRESS_SHELL\n", strain = "*INITIAL_STRAIN_SHELL\n";
    for (size_t i = 0; i < points.size(); ++i)
        text += Card("%8.0f%16.9e%16.9e%16.9e\n", static_cast<double>(i + 1), points[i][0], points[i][1], 0.0);
    for (size_t e = 0; e < shells.size(); ++e) {
        const std::vector<int>& n = shells[e];
        const double id = static_cast<double>(e + 1);
        elems += Card("%8.0f%8.0f%8.0f%8.0f%8.0f%8.0f\n", id, 1, n[0], n[1], n[2], n.back()) +
                 Card("%16.9e%16.9e%16.9e%16.9e\n", 1.2, 1.2, 1.2, 1.2);
        stress += Card("%10.0f%10.0f%10.0f%10.0f%10.0f\n", id, 1, 1, 0, 0) + Card("%10.3e%10.3e%10.3e%10.3e", 0.1 * id) +
                  Card("%10.3e%10.3e%10.3e%10.3e\n");
        const std::string strainLine = Card("%10.3e%10.3e%10.3e%10.3e%10.3e%10.3e\n", 0.01 * id);
        strain += Card("%10.0f\n", id) + strainLine + strainLine;
    }
    text += elems + (hanging.empty() ? "" : "*CONSTRAINED_ADAPTIVITY\n");
    for (const auto& c : hanging) text += Card("%10.0f%10.0f%10.0f\n", c[0], c[1], c[2]);
    text += stress + strain + "*END\n";
    return {text, trimcheck::Parse(text), 3.0, 3.0};
}

// The corners of the 3 x 3 patch of unit squares, row by row from (0, 0).
std::vector<P2> GridPoints()
{
    std::vector<P2> points;
    for (int k = 0; k < 16; ++k) points.push_back({static_cast<double>(k % 4), static_cast<double>(k / 4)});
    return points;
}

// The 3 x 3 patch, node numbers row by row, its four inner nodes pushed off
// the grid to `inner` when given.
Sheet Grid(const std::vector<P2>& inner = {})
{
    std::vector<P2> points = GridPoints();
    for (size_t k = 0; k < inner.size(); ++k) points[5 + k % 2 + 4 * (k / 2)] = inner[k];
    std::vector<std::vector<int>> shells;
    for (const int n : {1, 2, 3, 5, 6, 7, 9, 10, 11}) shells.push_back({n, n + 1, n + 5, n + 4});
    return Tiny(points, shells);
}

// The 3 x 3 patch with its top middle square split into four: hanging
// nodes on the three edges it shares with coarse squares.
Sheet Refined()
{
    std::vector<P2> points = GridPoints();
    for (const P2& p : {P2{1.5, 2}, {2, 2.5}, {1.5, 3}, {1, 2.5}, {1.5, 2.5}}) points.push_back(p);
    std::vector<std::vector<int>> shells{{1, 2, 6, 5}, {2, 3, 7, 6}, {3, 4, 8, 7}, {5, 6, 10, 9}, {6, 7, 11, 10},
                                         {7, 8, 12, 11}, {9, 10, 14, 13}, {11, 12, 16, 15}, {10, 17, 21, 20},
                                         {17, 11, 18, 21}, {21, 18, 15, 19}, {20, 21, 19, 14}};
    return Tiny(points, shells, {{17, 10, 11}, {18, 11, 15}, {20, 10, 14}});
}

// The slit between x = 1 and x = 2 of the refined patch: a line straight
// down to (x, 1 + dy), ending near the bottom edge of the coarse square
// that the fine squares hang on.
Poly Down(double x, double dy) { return {{x, 4.0}, {x, 1.0 + dy}}; }

// Each line comes in over the blank's outline and ends inside: the slit
// opens from the outline up to a node at the line's end, which stays whole.
TEST(Lance2D, LineEndsInEveryPlaceOfAnElementKeepTheMeshSound)
{
    enum Blank { kGrid, kRefined, kSkewed };
    const struct {
        const char* what;
        Blank blank;
        Poly line;
    } cases[] = {
        // The entry point has no node of its own: the neighbour's repair made it a corner.
        {"free end snaps to a vertex", kGrid, {{9.016, -1.731}, {0.640, 1.562}}},
        {"free end on the entry edge", kGrid, {{-6.217, -0.169}, {2.496, 2.086}}},
        {"free end on edge p-a", kGrid, {{-7.313, 1.589}, {1.683, 1.840}}},
        // The end goes onto the edge (it used to stay off it, and the pieces
        // lost area, or were refused and the slit ended half an element short).
        {"free end on edge q-(q+1)", kGrid, {{-7.807, 0.110}, {1.914, 2.458}}},
        {"free end on edge p-a, short of it", kGrid, {{10.594, -0.875}, {1.190, 2.527}}},
        // Near the blank's free edge the end stays inside: on the edge it would open the slit to the outline.
        {"free end near the outline", kGrid, {{3.585, -5.968}, {1.604, 2.811}}},
        // A vertex on the outline is not pulled inward onto the end ...
        {"free end beside an outline vertex", kGrid, {{5.0, 1.15}, {0.294, 1.071}}},
        // ... nor onto a crossing beside the blank's corner.
        {"crossing beside the blank's corner", kSkewed, {{-4.096, -5.472}, {1.221, 1.789}}},
        {"free end inside", kGrid, {{-6.055, -2.452}, {1.465, 2.494}}},
        // The entry point takes the node the fine side made beside the hanging node.
        {"noded end snaps to p", kRefined, {{-0.014, 9.871}, {1.808, 1.058}}},
        {"noded end snaps to q", kRefined, {{4.128, 9.685}, {1.091, 1.213}}},
        {"noded end on the entry edge", kRefined, {{-0.086, 10.776}, {1.490, 1.915}}},
        {"noded end inside", kRefined, {{0.525, 10.428}, {1.505, 1.482}}},
        // d1 / d2 over the bottom edge from (1, 1): 1.25 and 1.35, then 0.55 and 0.45.
        {"d1/d2 1.25 stays on the edge", kRefined, Down(1.5578, 0.1)},
        {"d1/d2 1.35 snaps to c+1", kRefined, Down(1.5775, 0.1)},
        {"d1/d2 0.45 snaps to c", kRefined, Down(1.3014, 0.1)},
        // Distance to the edge over the element's height: 0.15 and 0.25.
        {"0.15 of the height is on the edge", kRefined, Down(1.45, 0.15)},
        {"0.25 of the height is inside", kRefined, Down(1.45, 0.25)},
        // A single crossing of a free edge at 5 % of its length from a corner
        // makes the corner a chain node; at 15 % there is no chain at all.
        {"entry 5 % from a corner", kGrid, {{-1.0, 0.15}, {0.5, 1.5}}},
        {"entry 15 % from a corner", kGrid, {{-1.0, 0.45}, {0.5, 1.5}}},
        // Ends beside a hanging node K: the entry node splits the coarse edge K
        // hangs on, so K becomes a corner of the coarse piece on its half and
        // loses its constraint.
        {"noded end snaps to a or b", kRefined, {{-3.4951, 10.3915}, {1.7053, 1.8501}}},
        {"noded end on edge p-a", kRefined, {{1.487, 10.390}, {1.845, 1.397}}},
        {"noded end on edge b-q", kRefined, {{4.259, 9.934}, {1.127, 1.496}}},
        {"noded end on edge q-(q+1)", kRefined, {{-0.406, 9.882}, {1.355, 1.056}}},
        {"d1/d2 0.55 stays on the edge", kRefined, Down(1.3485, 0.1)},
        // The slit runs along a coarse edge whose ends moved onto the line: the
        // fine side's hanging node goes to the edge's middle before it is freed.
        {"slit along a coarse edge", kRefined, {{2.5794, 11.2088}, {1.9932, 1.2260}}},
        // Refusals leave the element as it is and say so.
        {"a snap that would fold", kRefined, {{0.6062, 11.8050}, {1.2800, 1.8277}}},
        {"a split that would not tile", kRefined, {{4.062, 10.908}, {1.574, 1.223}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectLanced(c.blank == kGrid      ? Grid()
                     : c.blank == kRefined ? Refined()
                                           : Grid({{0.958, 1.016}, {2.049, 1.056}, {0.850, 1.898}, {1.819, 1.999}}),
                     {c.line});
    }
}

// A V-shaped lance from the top of the refined patch whose tip is the
// hanging node on the coarse square's top edge: the line never enters the
// coarse square, so only the hanging-node pass splits it at the node. Then
// the node hangs on nothing, the wedge comes free, and the node is doubled.
TEST(Lance2D, ALanceThroughAHangingNodeSplitsTheCoarseElementAtIt)
{
    const P2 tip{1.5, 2.0};
    const Dynain out = ExpectLanced(Refined(), {{{1.0, 4.5}, tip, {2.0, 4.5}}});
    for (const auto& c : out.adaptive) EXPECT_NE(c[0], 17) << "node 17 still hangs on " << c[1] << "-" << c[2];
    int corners = 0;
    for (const auto& s : out.shells) {
        const P2 c = trimcheck::Centroid(trimcheck::PolyOf(out, s));
        if (c[0] < 1.0 || c[0] > 2.0 || c[1] < 1.0 || c[1] > 2.0) continue;
        for (const int n : s.nodes) corners += std::hypot(out.nodes.at(n)[0] - tip[0], out.nodes.at(n)[1] - tip[1]) < 1e-6;
    }
    EXPECT_GE(corners, 2) << "the coarse square is not split at the hanging node";
}

}  // namespace
