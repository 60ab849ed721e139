// The judge of the cutting sweeps on outputs made by hand: a right cut
// passes, and each kind of wrong cut is named by the rule it breaks.
#include "cutjudge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using cutjudge::Curve;
using cutjudge::Job;
using cutjudge::Judge;
using cutjudge::Op;
using trimcheck::Dynain;
using trimcheck::Shell;

// An nx by ny patch of squares of side 10; node and element ids row by row
// from 1, each element with a record of its own.
Dynain Grid(int nx, int ny)
{
    Dynain d;
    const auto id = [nx](int i, int j) { return j * (nx + 1) + i + 1; };
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i) d.nodes[id(i, j)] = {10.0 * i, 10.0 * j, 0.0};
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            Shell s;
            s.id = j * nx + i + 1;
            s.pid = 1;
            s.thick = 1.0;
            s.nodes = {id(i, j), id(i + 1, j), id(i + 1, j + 1), id(i, j + 1)};
            d.shells.push_back(s);
            d.stress[s.id] = {"stress of " + std::to_string(s.id)};
            d.strain[s.id] = {"strain of " + std::to_string(s.id)};
        }
    d.maxNode = id(nx, ny);
    d.maxElem = nx * ny;
    return d;
}

Job OneCurve(Op op, std::vector<trimcheck::P3> points, int flag = -1)
{
    Curve c;
    c.op = op;
    c.flag = flag;
    c.points = std::move(points);
    return Job{{c}};
}

// Keeps only the listed elements, and the nodes they use.
Dynain Keep(const Dynain& in, const std::vector<int>& ids)
{
    Dynain out = in;
    out.shells.clear();
    out.nodes.clear();
    for (const Shell& s : in.shells) {
        if (std::find(ids.begin(), ids.end(), s.id) == ids.end()) continue;
        out.shells.push_back(s);
        for (const int n : s.nodes) out.nodes[n] = in.nodes.at(n);
    }
    return out;
}

std::string Rules(const Judge& j)
{
    std::string text;
    for (const std::string& r : j.rules()) text += r + " ";
    return text + "\n" + j.Summary(20);
}

// The 3 x 2 patch trimmed to the square (10..30, 0..20), whose sides run
// along grid lines and the outline: what is kept is four whole elements.
TEST(CutJudge, TrimAlongGridLinesKeepsWholeElements)
{
    const Dynain in = Grid(3, 2);
    const Job job = OneCurve(Op::kTrim2D, {{10, 0, 0}, {30, 0, 0}, {30, 20, 0}, {10, 20, 0}, {10, 0, 0}});
    const Dynain right = Keep(in, {2, 3, 5, 6});
    EXPECT_TRUE(Judge(in, right, job).ok()) << Rules(Judge(in, right, job));

    // An element of the kept side lost: the area is short and the cut runs off the curve.
    const Judge lost(in, Keep(in, {2, 3, 5}), job);
    EXPECT_TRUE(lost.rules().count("area") && lost.rules().count("open-edge")) << Rules(lost);

    // An element of the removed side kept.
    const Judge extra(in, Keep(in, {1, 2, 3, 5, 6}), job);
    EXPECT_TRUE(extra.rules().count("open-edge") && extra.rules().count("area")) << Rules(extra);

    // A node of the cut moved off the curve.
    Dynain moved = right;
    moved.nodes.at(6)[0] = 10.5;
    const Judge off(in, moved, job);
    EXPECT_TRUE(off.rules().count("node-off-curve") && off.rules().count("open-edge")) << Rules(off);

    // A node carried back in single precision is where it was.
    Dynain rounded = right;
    rounded.nodes.at(4)[0] = static_cast<float>(30.0 + 1e-6);
    EXPECT_TRUE(Judge(in, rounded, job).ok()) << Rules(Judge(in, rounded, job));
}

TEST(CutJudge, PiecesKeepTheirParentsOrientationAndRecords)
{
    const Dynain in = Grid(3, 2);
    const Job job = OneCurve(Op::kTrim2D, {{10, 0, 0}, {30, 0, 0}, {30, 20, 0}, {10, 20, 0}, {10, 0, 0}});
    Dynain flipped = Keep(in, {2, 3, 5, 6});
    std::reverse(flipped.shells[0].nodes.begin(), flipped.shells[0].nodes.end());
    const Judge turned(in, flipped, job);
    EXPECT_TRUE(turned.rules().count("flipped")) << Rules(turned);

    Dynain records = Keep(in, {2, 3, 5, 6});
    records.stress[3] = {"someone else's stress"};
    records.shells[2].thick = 0.9;
    const Judge lostRecords(in, records, job);
    EXPECT_TRUE(lostRecords.rules().count("records")) << Rules(lostRecords);
}

// A quadrilateral split into a triangle and a quadrilateral with three
// corners on one line, and two nodes at one point.
TEST(CutJudge, DegenerateElementsAndDoubledNodesAreNamed)
{
    const Dynain in = Grid(3, 2);
    const Job job = OneCurve(Op::kTrim2D, {{10, 0, 0}, {30, 0, 0}, {30, 20, 0}, {10, 20, 0}, {10, 0, 0}});
    Dynain out = Keep(in, {2, 3, 5, 6});
    out.nodes[100] = {25.0, 0.0, 0.0};  // the middle of the bottom edge of element 3
    Shell tail = out.shells[1];
    out.shells[1].nodes = {3, 100, 8, 7};
    tail.id = 100;
    tail.nodes = {100, 4, 8};
    out.shells.push_back(tail);
    out.stress[100] = out.stress[3];
    out.strain[100] = out.strain[3];
    EXPECT_TRUE(Judge(in, out, job).ok()) << Rules(Judge(in, out, job));

    Dynain line = out;
    line.nodes[100] = {30.0, 5.0, 0.0};  // on the edge 4-8, and a corner of the quadrilateral there
    line.shells[1].nodes = {4, 100, 8, 7};
    line.shells.back().nodes = {3, 4, 7};
    const Judge straight(in, line, job);
    EXPECT_TRUE(straight.rules().count("concave")) << Rules(straight);

    Dynain twice = Keep(in, {2, 3, 5, 6});
    twice.nodes[101] = twice.nodes.at(7);
    twice.shells[3].nodes[3] = 101;  // element 6 uses a second node at the place of node 7
    const Judge doubled(in, twice, job);
    EXPECT_TRUE(doubled.rules().count("coincident") && doubled.rules().count("open-edge")) << Rules(doubled);
}

// The 3 x 2 patch slit along x = 20 from below the blank to its inner end
// at the node (20, 10): the node (20, 0) is doubled, the end is not.
TEST(CutJudge, SlitEndingAtANodeInsideTheBlank)
{
    const Dynain in = Grid(3, 2);
    const Job job = OneCurve(Op::kLance2D, {{20, -5, 0}, {20, 10, 0}});
    Dynain right = in;
    right.nodes[13] = in.nodes.at(3);
    right.shells[2].nodes = {13, 4, 8, 7};  // element 3, right of the slit, takes the copy
    EXPECT_TRUE(Judge(in, right, job).ok()) << Rules(Judge(in, right, job));

    const Judge none(in, in, job);
    EXPECT_TRUE(none.rules().count("coverage")) << Rules(none);

    // The end opened as well: the slit runs on past the line's end.
    Dynain past = right;
    past.nodes[14] = in.nodes.at(7);
    past.shells[2].nodes = {13, 4, 8, 14};
    past.shells[5].nodes = {14, 8, 12, 11};
    const Judge open(in, past, job);
    EXPECT_TRUE(open.rules().count("slit-end-doubled")) << Rules(open);

    // A slit that stops at the blank's edge when the line ends inside.
    const Job longer = OneCurve(Op::kLance2D, {{20, -5, 0}, {20, 16, 0}});
    const Judge shortSlit(in, right, longer);
    EXPECT_TRUE(shortSlit.rules().count("slit-end") && shortSlit.rules().count("coverage"))
        << Rules(shortSlit);

    // Lancing keeps every element.
    const Judge removed(in, Keep(right, {1, 2, 3, 4, 5}), job);
    EXPECT_TRUE(removed.rules().count("lance-area")) << Rules(removed);
}

// A 3D lance drops its curve along the surface's normal: on the patch tilted
// to z = x, a curve half a unit above the surface ends over the node (20, 10)
// as the normal sees it, 0.35 beside it in plan. The slit ending at that node
// is right.
TEST(CutJudge, SlitOfA3DLanceEndsAtTheFootOfItsEnd)
{
    Dynain in = Grid(3, 2);
    for (auto& [id, p] : in.nodes) p[2] = p[0];
    const double off = 0.5 / std::sqrt(2.0);
    const Job job = OneCurve(Op::kLance3D, {{20 - off, -5, 20 + off}, {20 - off, 10, 20 + off}});
    Dynain right = in;
    right.nodes[13] = in.nodes.at(3);
    right.shells[2].nodes = {13, 4, 8, 7};
    EXPECT_TRUE(Judge(in, right, job).ok()) << Rules(Judge(in, right, job));
}

// A slit across the patch opens at every node along it: one left shared by
// both sides holds them together there.
TEST(CutJudge, SlitAcrossThePatchDoublesEveryNodeAlongIt)
{
    const Dynain in = Grid(3, 2);
    const Job job = OneCurve(Op::kLance2D, {{20, -5, 0}, {20, 25, 0}});
    Dynain right = in;
    right.nodes[13] = in.nodes.at(3);
    right.nodes[14] = in.nodes.at(7);
    right.nodes[15] = in.nodes.at(11);
    right.shells[2].nodes = {13, 4, 8, 14};
    right.shells[5].nodes = {14, 8, 12, 15};
    EXPECT_TRUE(Judge(in, right, job).ok()) << Rules(Judge(in, right, job));

    Dynain held = right;
    held.nodes.erase(14);
    held.shells[2].nodes = {13, 4, 8, 7};
    held.shells[5].nodes = {7, 8, 12, 15};
    const Judge judge(in, held, job);
    EXPECT_TRUE(judge.rules().count("slit-not-doubled")) << Rules(judge);
}

// Within the snapping width of the outline the outline is the cut: a lance
// 0.016 inside it needs no slit of its own; one 0.1 inside does.
TEST(CutJudge, ALanceAlongTheOutlineWithinTheSnappingWidthIsCutByIt)
{
    const Dynain in = Grid(3, 2);
    const Judge hugging(in, in, OneCurve(Op::kLance2D, {{29.984, -5, 0}, {29.984, 25, 0}}));
    EXPECT_TRUE(hugging.ok()) << Rules(hugging);
    const Judge inside(in, in, OneCurve(Op::kLance2D, {{29.9, -5, 0}, {29.9, 25, 0}}));
    EXPECT_TRUE(inside.rules().count("coverage")) << Rules(inside);
}

// A 3D trim keeps what its seed reaches: a lobe of the kept side that joins
// the seed's only off the blank goes with the removed side.
TEST(CutJudge, TrimFromASeedLeavesTheLobeItCannotReach)
{
    const Dynain in = Grid(4, 1);
    Job job = OneCurve(Op::kTrim3D, {{-5, -5, 0}, {15, -5, 0}, {15, 20, 0}, {25, 20, 0}, {25, -5, 0}, {45, -5, 0},
                                     {45, 25, 0}, {-5, 25, 0}, {-5, -5, 0}});
    job.curves[0].seed = 1;
    Dynain right = Keep(in, {1, 2});
    right.nodes[11] = {15, 0, 0};
    right.nodes[12] = {15, 10, 0};
    right.shells[1].nodes = {2, 11, 12, 7};
    right.nodes.erase(3);
    right.nodes.erase(8);
    EXPECT_TRUE(Judge(in, right, job).ok()) << Rules(Judge(in, right, job));

    Dynain both = right;
    both.nodes[3] = in.nodes.at(3);
    both.nodes[8] = in.nodes.at(8);
    both.shells.push_back(in.shells[3]);
    for (const int n : in.shells[3].nodes) both.nodes[n] = in.nodes.at(n);
    const Judge judge(in, both, job);
    EXPECT_FALSE(judge.ok()) << Rules(judge);
}

// A band across the first element parts its kept side in two there: the
// piece beside the outline joins the seed's nowhere and goes too.
TEST(CutJudge, TrimFromASeedLeavesAPieceOfAnElementItCannotReach)
{
    const Dynain in = Grid(3, 1);
    Job job = OneCurve(Op::kTrim3D, {{4, -5, 0}, {6, -5, 0}, {6, 15, 0}, {4, 15, 0}, {4, -5, 0}});
    job.curves[0].seed = 4;
    Dynain right = Keep(in, {1, 2, 3});
    right.nodes[9] = {6, 0, 0};
    right.nodes[10] = {6, 10, 0};
    right.shells[0].nodes = {9, 2, 6, 10};
    right.nodes.erase(1);
    right.nodes.erase(5);
    EXPECT_TRUE(Judge(in, right, job).ok()) << Rules(Judge(in, right, job));

    // The piece kept as well.
    Dynain both = right;
    both.nodes[1] = in.nodes.at(1);
    both.nodes[5] = in.nodes.at(5);
    both.nodes[11] = {4, 0, 0};
    both.nodes[12] = {4, 10, 0};
    Shell piece = right.shells[0];
    piece.id = 4;
    piece.nodes = {1, 11, 12, 5};
    both.shells.push_back(piece);
    const Judge judge(in, both, job);
    EXPECT_FALSE(judge.ok()) << Rules(judge);
}

// On a steep face (z = 3x) a curve straight in plan that rises by 1 at y = 5
// drops onto the face 0.3 further in x there: the cut's chord across the
// element, its ends where the curve drops, passes 0.15 in plan from the
// curve's foot, as far as the curve strays from that chord.
TEST(CutJudge, A3DTrimChordStraysAsFarAsTheCurveDroppedOnASteepFace)
{
    Dynain in = Grid(4, 1);
    for (auto& [id, p] : in.nodes) p[2] = 3.0 * p[0];
    Job job = OneCurve(Op::kTrim3D, {{-5, -5, -15}, {15, -5, 45}, {15, 5, 46}, {15, 15, 45}, {-5, 15, -15}, {-5, -5, -15}});
    job.curves[0].seed = 1;
    Dynain right = Keep(in, {1, 2});
    right.nodes[11] = {15.15, 0, 45.45};
    right.nodes[12] = {15.15, 10, 45.45};
    right.shells[1].nodes = {2, 11, 12, 7};
    right.nodes.erase(3);
    right.nodes.erase(8);
    EXPECT_TRUE(Judge(in, right, job).ok()) << Rules(Judge(in, right, job));
}

// A hanging node whose coarse element went with the cut keeps no constraint
// and stays at the middle of the coarse edge, on the chord of the cut.
TEST(CutJudge, HangingNodesPairWithTheirHalves)
{
    Dynain in = Grid(2, 1);
    // Element 2 (10..20) split into two halves along y = 5: nodes 7 (20, 5) and 8 (10, 5).
    in.nodes[7] = {20, 5, 0};
    in.nodes[8] = {10, 5, 0};
    in.shells[1].nodes = {2, 3, 7, 8};
    Shell top = in.shells[1];
    top.id = 3;
    top.nodes = {8, 7, 6, 5};
    in.shells.push_back(top);
    in.stress[3] = {"stress of 3"};
    in.strain[3] = {"strain of 3"};
    in.adaptive.push_back({8, 2, 5});
    in.maxNode = 8;
    in.maxElem = 3;
    const Job job = OneCurve(Op::kTrim2D, {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {0, 0, 0}});
    // Keeping the coarse element alone: the fine side goes, and the constraint with it.
    Dynain coarse = Keep(in, {1});
    coarse.adaptive.clear();
    EXPECT_TRUE(Judge(in, coarse, job).ok()) << Rules(Judge(in, coarse, job));
    // A constraint left behind names a node nobody writes.
    Dynain stale = coarse;
    stale.adaptive = in.adaptive;
    const Judge left(in, stale, job);
    EXPECT_TRUE(left.rules().count("hanging")) << Rules(left);
    // The whole patch kept by a curve round it passes with its constraint.
    const Job all = OneCurve(Op::kTrim2D, {{-1, -1, 0}, {21, -1, 0}, {21, 11, 0}, {-1, 11, 0}, {-1, -1, 0}});
    EXPECT_TRUE(Judge(in, in, all).ok()) << Rules(Judge(in, in, all));
    // A fine element lost beside the hanging node leaves its half of the coarse edge open off the cut.
    const Judge half(in, Keep(in, {1, 2}), all);
    EXPECT_TRUE(half.rules().count("open-edge") && half.rules().count("area")) << Rules(half);
    // Both fine elements lost, the constraint kept.
    Dynain bare = Keep(in, {1});
    bare.nodes[8] = in.nodes.at(8);
    const Judge none(in, bare, all);
    EXPECT_TRUE(none.rules().count("hanging")) << Rules(none);
}

}  // namespace
