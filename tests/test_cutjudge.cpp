// The judge of the cutting sweeps on outputs made by hand: a right cut
// passes, and each kind of wrong cut is named by the rule it breaks.
#include "cutjudge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
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
            const int e = j * nx + i + 1;
            d.shells.push_back(Shell{e, 1, {id(i, j), id(i + 1, j), id(i + 1, j + 1), id(i, j + 1)}, 1.0});
            d.stress[e] = {"stress of " + std::to_string(e)};
            d.strain[e] = {"strain of " + std::to_string(e)};
        }
    d.maxNode = id(nx, ny);
    d.maxElem = nx * ny;
    return d;
}

// One curve; a 2D trim keeps its inside, a 3D trim the side of the seed.
Job OneCurve(Op op, std::vector<trimcheck::P3> points, int seed = 0)
{
    return Job{{Curve{op, -1, std::move(points), seed}}};
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

// Elements 1 and 2 of a 4 x 1 patch, the second cut short at the new nodes
// 11 (bottom) and 12 (top).
Dynain FirstTwoCutAt(const Dynain& in, const trimcheck::P3& bottom, const trimcheck::P3& top)
{
    Dynain d = Keep(in, {1, 2});
    d.nodes[11] = bottom;
    d.nodes[12] = top;
    d.shells[1].nodes = {2, 11, 12, 7};
    d.nodes.erase(3);
    d.nodes.erase(8);
    return d;
}

// The judge passes the output when no rule is named, and otherwise finds
// each named rule broken (others may be broken too).
void ExpectRules(const char* what, const Dynain& in, const Dynain& out, const Job& job,
                 const std::set<std::string>& rules = {})
{
    SCOPED_TRACE(what);
    const Judge judge(in, out, job);
    std::string found;
    for (const std::string& r : judge.rules()) found += r + " ";
    found += "\n" + judge.Summary(20);
    if (rules.empty()) {
        EXPECT_TRUE(judge.ok()) << found;
    }
    for (const std::string& r : rules) EXPECT_TRUE(judge.rules().count(r)) << r << " not among: " << found;
}

// The 3 x 2 patch trimmed to the square (10..30, 0..20), whose sides run
// along grid lines and the outline: what is kept is four whole elements.
TEST(CutJudge, TrimAlongGridLines)
{
    const Dynain in = Grid(3, 2);
    const Job job = OneCurve(Op::kTrim2D, {{10, 0, 0}, {30, 0, 0}, {30, 20, 0}, {10, 20, 0}, {10, 0, 0}});
    const Dynain right = Keep(in, {2, 3, 5, 6});
    ExpectRules("right", in, right, job);
    ExpectRules("a kept element lost", in, Keep(in, {2, 3, 5}), job, {"area", "open-edge"});
    ExpectRules("a removed element kept", in, Keep(in, {1, 2, 3, 5, 6}), job, {"open-edge", "area"});

    Dynain out = right;
    out.nodes.at(6)[0] = 10.5;
    ExpectRules("a node of the cut off the curve", in, out, job, {"node-off-curve", "open-edge"});
    out = right;
    out.nodes.at(4)[0] = static_cast<float>(30.0 + 1e-6);
    ExpectRules("a node carried back in single precision is where it was", in, out, job);
    out = right;
    std::reverse(out.shells[0].nodes.begin(), out.shells[0].nodes.end());
    ExpectRules("an element turned over", in, out, job, {"flipped"});
    out = right;
    out.stress[3] = {"someone else's stress"};
    out.shells[2].thick = 0.9;
    ExpectRules("another element's record, another thickness", in, out, job, {"records"});
    out = right;
    out.nodes[101] = out.nodes.at(7);
    out.shells[3].nodes[3] = 101;
    ExpectRules("a second node at the place of node 7", in, out, job, {"coincident", "open-edge"});

    // Element 3 split at the middle of its bottom edge into a quadrilateral
    // and a triangle; then with three corners of the quadrilateral on a line.
    out = right;
    out.nodes[100] = {25.0, 0.0, 0.0};
    Shell tail = out.shells[1];
    out.shells[1].nodes = {3, 100, 8, 7};
    tail.id = 100;
    tail.nodes = {100, 4, 8};
    out.shells.push_back(tail);
    out.stress[100] = out.stress[3];
    out.strain[100] = out.strain[3];
    ExpectRules("an element split in two", in, out, job);
    out.nodes[100] = {30.0, 5.0, 0.0};  // on the edge 4-8
    out.shells[1].nodes = {4, 100, 8, 7};
    out.shells.back().nodes = {3, 4, 7};
    ExpectRules("a quadrilateral with a straight corner", in, out, job, {"concave"});
}

// The 3 x 2 patch slit along x = 20 from below the blank to its inner end
// at the node (20, 10): the node (20, 0) is doubled, the end is not.
TEST(CutJudge, Slits)
{
    const Dynain in = Grid(3, 2);
    const Job job = OneCurve(Op::kLance2D, {{20, -5, 0}, {20, 10, 0}});
    Dynain right = in;
    right.nodes[13] = in.nodes.at(3);
    right.shells[2].nodes = {13, 4, 8, 7};  // element 3, right of the slit, takes the copy
    ExpectRules("right", in, right, job);
    // A 3D lance drops its curve along the surface's normal: on the patch
    // tilted to z = x, a curve half a unit above the surface ends over the
    // node (20, 10) as the normal sees it, 0.35 beside it in plan.
    Dynain tilted = in, tiltedRight = right;
    for (Dynain* d : {&tilted, &tiltedRight})
        for (auto& [id, p] : d->nodes) p[2] = p[0];
    const double off = 0.5 / std::sqrt(2.0);
    ExpectRules("right in 3D", tilted, tiltedRight,
                OneCurve(Op::kLance3D, {{20 - off, -5, 20 + off}, {20 - off, 10, 20 + off}}));
    ExpectRules("no slit", in, in, job, {"coverage"});
    ExpectRules("lancing keeps every element", in, Keep(right, {1, 2, 3, 4, 5}), job, {"lance-area"});
    ExpectRules("a slit that stops at the outline when the line ends inside", in, right,
                OneCurve(Op::kLance2D, {{20, -5, 0}, {20, 16, 0}}), {"slit-end", "coverage"});

    Dynain out = right;
    out.nodes[14] = in.nodes.at(7);
    out.shells[2].nodes = {13, 4, 8, 14};
    out.shells[5].nodes = {14, 8, 12, 11};
    ExpectRules("the inner end opened as well", in, out, job, {"slit-end-doubled"});

    // A slit across the patch opens at every node along it: one left shared
    // by both sides holds them together there.
    const Job across = OneCurve(Op::kLance2D, {{20, -5, 0}, {20, 25, 0}});
    out.nodes[15] = in.nodes.at(11);
    out.shells[5].nodes = {14, 8, 12, 15};
    ExpectRules("right across", in, out, across);
    out.nodes.erase(14);
    out.shells[2].nodes = {13, 4, 8, 7};
    out.shells[5].nodes = {7, 8, 12, 15};
    ExpectRules("a node along the slit left shared", in, out, across, {"slit-not-doubled"});

    // Within the snapping width of the outline the outline is the cut: a
    // lance 0.016 inside it needs no slit of its own; one 0.1 inside does.
    ExpectRules("along the outline", in, in, OneCurve(Op::kLance2D, {{29.984, -5, 0}, {29.984, 25, 0}}));
    ExpectRules("0.1 inside the outline", in, in, OneCurve(Op::kLance2D, {{29.9, -5, 0}, {29.9, 25, 0}}), {"coverage"});
}

// A 3D trim keeps what its seed reaches: a lobe of the kept side that joins
// the seed's only off the blank goes with the removed side.
TEST(CutJudge, Trim3DFromASeed)
{
    Dynain in = Grid(4, 1);
    Job job = OneCurve(Op::kTrim3D, {{-5, -5, 0}, {15, -5, 0}, {15, 20, 0}, {25, 20, 0}, {25, -5, 0}, {45, -5, 0},
                                     {45, 25, 0}, {-5, 25, 0}, {-5, -5, 0}}, 1);
    Dynain right = FirstTwoCutAt(in, {15, 0, 0}, {15, 10, 0});
    ExpectRules("right", in, right, job);

    Dynain both = right;
    both.nodes[3] = in.nodes.at(3);
    both.nodes[8] = in.nodes.at(8);
    both.shells.push_back(in.shells[3]);
    for (const int n : in.shells[3].nodes) both.nodes[n] = in.nodes.at(n);
    EXPECT_FALSE(Judge(in, both, job).ok());

    // On a steep face (z = 3x) a curve straight in plan that rises by 1 at
    // y = 5 drops onto the face 0.3 further in x there: the cut's chord across
    // the element, its ends where the curve drops, passes 0.15 in plan from
    // the curve's foot, as far as the curve strays from that chord.
    for (auto& [id, p] : in.nodes) p[2] = 3.0 * p[0];
    job = OneCurve(Op::kTrim3D, {{-5, -5, -15}, {15, -5, 45}, {15, 5, 46}, {15, 15, 45}, {-5, 15, -15}, {-5, -5, -15}}, 1);
    ExpectRules("right on a steep face", in, FirstTwoCutAt(in, {15.15, 0, 45.45}, {15.15, 10, 45.45}), job);

    // A band across the first element of a 3 x 1 patch parts its kept side
    // in two there: the piece beside the outline joins the seed's nowhere and
    // goes too.
    in = Grid(3, 1);
    job = OneCurve(Op::kTrim3D, {{4, -5, 0}, {6, -5, 0}, {6, 15, 0}, {4, 15, 0}, {4, -5, 0}}, 4);
    right = Keep(in, {1, 2, 3});
    right.nodes[9] = {6, 0, 0};
    right.nodes[10] = {6, 10, 0};
    right.shells[0].nodes = {9, 2, 6, 10};
    right.nodes.erase(1);
    right.nodes.erase(5);
    ExpectRules("right, a band", in, right, job);

    // The piece kept as well.
    both = right;
    both.nodes[1] = in.nodes.at(1);
    both.nodes[5] = in.nodes.at(5);
    both.nodes[11] = {4, 0, 0};
    both.nodes[12] = {4, 10, 0};
    Shell piece = right.shells[0];
    piece.id = 4;
    piece.nodes = {1, 11, 12, 5};
    both.shells.push_back(piece);
    EXPECT_FALSE(Judge(in, both, job).ok());
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
    Dynain coarse = Keep(in, {1});
    coarse.adaptive.clear();
    ExpectRules("the coarse element alone, without the constraint", in, coarse, job);
    coarse.adaptive = in.adaptive;
    ExpectRules("a constraint left naming a node nobody writes", in, coarse, job, {"hanging"});

    const Job all = OneCurve(Op::kTrim2D, {{-1, -1, 0}, {21, -1, 0}, {21, 11, 0}, {-1, 11, 0}, {-1, -1, 0}});
    ExpectRules("the whole patch kept with its constraint", in, in, all);
    ExpectRules("a fine element lost: its half of the coarse edge open off the cut", in, Keep(in, {1, 2}), all,
                {"open-edge", "area"});
    coarse.nodes[8] = in.nodes.at(8);
    ExpectRules("both fine elements lost, the constraint kept", in, coarse, all, {"hanging"});
}

}  // namespace
