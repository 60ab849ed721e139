// Lancing through the real program, judged by an independent reading of the
// output against the input: nothing removed, the area kept, the slit's nodes
// doubled once per side (inner ends excepted), the pieces as connected as
// the slit allows, records and boundary constraints carried.
#include "qdsmessage.h"
#include "qdstrimalgo.h"
#include "qdstrimctrl.h"
#include "test_helpers.h"
#include "test_trimcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using trimcheck::Dynain;
using trimcheck::Poly;

namespace {

namespace fs = std::filesystem;

struct Job : trimcheck::FlatBlank {
    Job() : FlatBlank("lance") {}
};

using trimcheck::Card;

std::string DeckText(const Job& job, const std::vector<Poly>& lances)
{
    std::vector<std::pair<int, Poly>> cards;
    for (const Poly& c : lances) cards.emplace_back(0, c);
    return trimcheck::FlatDeck(job.input, cards);
}

// The boundary constraint cards of a dynain: node id -> the rest of the card.
std::map<int, std::string> SpcOf(const std::string& text)
{
    std::map<int, std::string> spc;
    std::istringstream in(text);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '*') {
            inside = line.rfind("*BOUNDARY_SPC_NODE", 0) == 0;
            continue;
        }
        if (!inside || line.empty() || line[0] == '$') continue;
        spc[std::atoi(line.substr(0, 10).c_str())] = line.substr(std::min<size_t>(10, line.size()));
    }
    return spc;
}

using P3 = trimcheck::P3;

std::array<double, 3> AreaVec(const Dynain& d, const trimcheck::Shell& s)
{
    std::array<double, 3> sum{0, 0, 0};
    const P3& o = d.nodes.at(s.nodes[0]);
    for (size_t i = 1; i + 1 < s.nodes.size(); ++i) {
        const P3& a = d.nodes.at(s.nodes[i]);
        const P3& b = d.nodes.at(s.nodes[i + 1]);
        const double u[3] = {a[0] - o[0], a[1] - o[1], a[2] - o[2]};
        const double v[3] = {b[0] - o[0], b[1] - o[1], b[2] - o[2]};
        sum[0] += 0.5 * (u[1] * v[2] - u[2] * v[1]);
        sum[1] += 0.5 * (u[2] * v[0] - u[0] * v[2]);
        sum[2] += 0.5 * (u[0] * v[1] - u[1] * v[0]);
    }
    return sum;
}

double Norm(const std::array<double, 3>& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

double TotalArea(const Dynain& d)
{
    double a = 0.0;
    for (const auto& s : d.shells) a += Norm(AreaVec(d, s));
    return a;
}

// Nodes of the output that share one position: each group is one point of the slit.
std::vector<std::vector<int>> Coincident(const Dynain& d, double tol)
{
    std::map<std::array<long long, 3>, std::vector<int>> cells;
    for (const auto& [id, p] : d.nodes) {
        cells[{std::llround(p[0] / tol), std::llround(p[1] / tol), std::llround(p[2] / tol)}].push_back(id);
    }
    std::vector<std::vector<int>> groups;
    for (auto& [key, ids] : cells) {
        if (ids.size() > 1) groups.push_back(ids);
    }
    return groups;
}

// Pieces of the mesh: elements joined through shared nodes.
int Components(const Dynain& d)
{
    std::map<int, int> parent;
    const std::function<int(int)> root = [&](int x) {
        while (parent[x] != x) x = parent[x] = parent[parent[x]];
        return x;
    };
    for (const auto& s : d.shells)
        for (const int n : s.nodes) parent.emplace(n, n);
    for (const auto& s : d.shells)
        for (const int n : s.nodes) parent[root(n)] = root(s.nodes[0]);
    std::set<int> roots;
    for (const auto& s : d.shells) roots.insert(root(s.nodes[0]));
    return static_cast<int>(roots.size());
}

// Edges used by one element only, their total length within tol of the curve.
double FreeLengthOn(const Dynain& d, const Poly& curve, double tol)
{
    std::map<std::pair<int, int>, int> uses;
    for (const auto& s : d.shells)
        for (size_t i = 0; i < s.nodes.size(); ++i) {
            const int a = s.nodes[i];
            const int b = s.nodes[(i + 1) % s.nodes.size()];
            ++uses[{std::min(a, b), std::max(a, b)}];
        }
    double length = 0.0;
    for (const auto& [e, count] : uses) {
        if (count != 1) continue;
        const P3& a = d.nodes.at(e.first);
        const P3& b = d.nodes.at(e.second);
        if (trimcheck::DistToCurve({a[0], a[1]}, curve) < tol && trimcheck::DistToCurve({b[0], b[1]}, curve) < tol &&
            trimcheck::DistToCurve({0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1])}, curve) < tol) {
            length += std::hypot(a[0] - b[0], a[1] - b[1]);
        }
    }
    return length;
}

struct Expect {
    int pieces = 1;
    std::vector<trimcheck::P2> innerEnds;
    double openLength = 0.0;  // free length along the curve the slit must add, roughly
    bool slit = true;
};

void ExpectLanced(const Job& job, const std::vector<Poly>& curves, const Expect& want)
{
    testutil::WriteFile(job.dir.file("job.dyn"), DeckText(job, curves));
    const testutil::RunResult run = testutil::RunProgram(job.dir, "job.dyn");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2D Lancing finished successfully"), std::string::npos) << run.out;
    ASSERT_TRUE(fs::exists(job.dir.file("job.dynain")));
    const std::string text = testutil::ReadFile(job.dir.file("job.dynain"));
    const Dynain out = trimcheck::Parse(text);
    const Dynain& in = job.input;
    trimcheck::ExpectSoundMesh(in, out);

    // Nothing removed, nothing gained.
    std::set<int> outIds;
    for (const auto& s : out.shells) outIds.insert(s.id);
    for (const auto& s : in.shells) EXPECT_TRUE(outIds.count(s.id)) << "element " << s.id << " was removed";
    EXPECT_NEAR(TotalArea(out), TotalArea(in), 1e-6 * TotalArea(in));

    // Each piece faces like, and carries the records of, the input element it came from.
    for (const auto& s : out.shells) {
        const Poly piece = trimcheck::PolyOf(out, s);
        const trimcheck::Shell* parent = trimcheck::ParentOf(in, out, s, job.h);
        ASSERT_NE(parent, nullptr) << "piece " << s.id << " lies in no input element";
        EXPECT_GT(trimcheck::SignedArea(piece) * trimcheck::SignedArea(trimcheck::PolyOf(in, *parent)), 0.0)
            << "piece " << s.id << " is flipped or flat";
        EXPECT_EQ(s.pid, parent->pid);
        EXPECT_NEAR(s.thick, parent->thick, 1e-6 * parent->thick);
        if (in.stress.count(parent->id)) {
            ASSERT_TRUE(out.stress.count(s.id)) << "piece " << s.id;
            EXPECT_EQ(out.stress.at(s.id), in.stress.at(parent->id)) << "piece " << s.id;
        }
        if (in.strain.count(parent->id)) {
            ASSERT_TRUE(out.strain.count(s.id)) << "piece " << s.id;
            EXPECT_EQ(out.strain.at(s.id), in.strain.at(parent->id)) << "piece " << s.id;
        }
    }

    // Open edges only along the slit. Its nodes lie on a curve, or are input
    // corners kept within a tenth of an edge of it, or the inner end, which
    // may stand on an edge a fifth of the element's height from the line's end.
    const auto offCurves = [&](const P3& p) {
        double near = 1e300;
        for (const Poly& c : curves) near = std::min(near, trimcheck::DistToCurve({p[0], p[1]}, c));
        return near;
    };
    trimcheck::ExpectClosedMesh(in, out, job.h, [&](const P3& a, const P3& b) {
        const P3 m{0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1]), 0.0};
        return offCurves(a) < 0.2 * job.h + 1e-6 && offCurves(b) < 0.2 * job.h + 1e-6 && offCurves(m) < 0.2 * job.h + 1e-6;
    }, true);

    // The slit: nodes doubled once, on a curve, with one boundary constraint for both.
    const auto groups = Coincident(out, 1e-7);
    EXPECT_EQ(!groups.empty(), want.slit) << "doubled nodes: " << groups.size();
    const auto spcIn = SpcOf(testutil::ReadFile(job.dir.file("blank.dynain")));
    const auto spcOut = SpcOf(text);
    for (const auto& g : groups) {
        EXPECT_EQ(g.size(), 2u) << "node " << g[0] << " exists " << g.size() << " times";
        const P3& p = out.nodes.at(g[0]);
        // An input corner that must stay where it is (on the outline, or
        // beside a neighbour's node) is taken as a crossing within a tenth
        // of its edge; every other doubled node lies on the curve.
        const auto old = in.nodes.find(g[0]);
        const bool kept = old != in.nodes.end() && old->second == p;
        EXPECT_LT(offCurves(p), kept ? 0.1 * job.h : trimcheck::OnCurve(job.h)) << "doubled node " << g[0] << " off the curves";
        for (const int id : g) {
            for (const int other : g) {
                if (spcIn.count(other) && in.nodes.count(other)) {
                    ASSERT_TRUE(spcOut.count(id)) << "copy " << id << " of clamped node " << other << " is free";
                    EXPECT_EQ(spcOut.at(id), spcIn.at(other));
                }
            }
        }
    }
    for (const auto& e : want.innerEnds) {
        int nearest = 0;
        double best = 1e300;
        for (const auto& [id, p] : out.nodes) {
            const double d = std::hypot(p[0] - e[0], p[1] - e[1]);
            if (d < best) best = d, nearest = id;
        }
        // At the end itself, or within a tenth of the element of it.
        EXPECT_LT(best, 0.1 * job.h + 1e-6) << "the inner end lies off the line's end";
        for (const auto& g : groups) {
            EXPECT_EQ(std::count(g.begin(), g.end(), nearest), 0) << "the inner end node " << nearest << " was opened";
        }
    }
    EXPECT_EQ(Components(out), want.pieces);
    if (want.openLength > 0.0) {
        double before = 0.0;
        double after = 0.0;
        for (const Poly& c : curves) {
            before += FreeLengthOn(in, c, 1e-3 * job.h);
            after += FreeLengthOn(out, c, 1e-3 * job.h);
        }
        EXPECT_NEAR(after - before, want.openLength, 2.0 * job.h) << "free edges along the slit";
    }
}

// ---------------------------------------------------------------- cases

TEST(Lance2D, StraightAcrossTheStripGivesTwoPiecesSharingNoNode)
{
    Job job;
    trimcheck::MakeFlat(job, 31, 0);
    const double x0 = 0.43 * job.width;
    const double x1 = 0.57 * job.width;
    const Poly line{{x0, -5.0}, {0.5 * (x0 + x1) + 0.3, 0.5 * job.height}, {x1, job.height + 5.0}};
    const double inside = std::hypot(x1 - x0, job.height + 10.0) * job.height / (job.height + 10.0);
    ExpectLanced(job, {line}, {2, {}, 2.0 * inside});
}

TEST(Lance2D, EndingInsideOpensOnlyUpToTheInnerEnd)
{
    Job job;
    trimcheck::MakeFlat(job, 32, 0);
    const trimcheck::P2 end{0.53 * job.width + 0.37, 0.61 * job.height + 0.21};
    const Poly line{{0.37 * job.width, -5.0}, {0.45 * job.width, 0.3 * job.height}, end};
    ExpectLanced(job, {line}, {1, {end}, 0.0});
}

TEST(Lance2D, BothEndsInsideKeepTheSheetInOnePiece)
{
    Job job;
    trimcheck::MakeFlat(job, 33, 0);
    const trimcheck::P2 a{0.23 * job.width + 0.31, 0.33 * job.height + 0.17};
    const trimcheck::P2 b{0.71 * job.width + 0.29, 0.58 * job.height + 0.43};
    const Poly line{a, {0.5 * job.width + 0.11, 0.52 * job.height + 0.07}, b};
    ExpectLanced(job, {line}, {1, {a, b}, 0.0});
}

TEST(Lance2D, ClosedCurveCutsOutADiscWithoutRemovingIt)
{
    Job job;
    trimcheck::MakeFlat(job, 34, 0);
    Poly circle;
    const double r = 0.25 * std::min(job.width, job.height);
    for (int k = 0; k <= 24; ++k) {
        const double t = 2.0 * 3.14159265358979323846 * ((k % 24) + 0.37) / 24.0;
        circle.push_back({0.5 * job.width + 0.13 + r * std::cos(t), 0.5 * job.height + 0.07 + r * std::sin(t)});
    }
    ExpectLanced(job, {circle}, {2, {}, 0.0});
}

TEST(Lance2D, AlongElementEdgesFromFreeEdgeToFreeEdgeSplitsTheSheet)
{
    Job job;
    trimcheck::MakeFlat(job, 35, 0);
    // A grid line of the blank: every chain node is an existing node.
    double x = 0.0;
    for (const auto& [id, p] : job.input.nodes) {
        if (std::fabs(p[0] - 0.5 * job.width) < std::fabs(x - 0.5 * job.width)) x = p[0];
    }
    const Poly line{{x, -5.0}, {x + 1e-4, 0.5 * job.height}, {x, job.height + 5.0}};
    ExpectLanced(job, {line}, {2, {}, 2.0 * job.height});
}

TEST(Lance2D, ThroughElementCornersSplitsTheSheetAndKeepsClampsOnBothSides)
{
    Job job;
    trimcheck::MakeFlat(job, 36, 0);
    // The diagonal of the regular blank passes through corners of its elements,
    // starting at a clamped corner of the sheet.
    const double s = std::min(job.width, job.height);
    const Poly line{{-5.0, -5.0}, {0.5 * s + 1e-4, 0.5 * s}, {s + 5.0, s + 5.0}};
    ExpectLanced(job, {line}, {2, {}, 0.0});
}

TEST(Lance3D, ArcAcrossTheCupWallSlitsItAndKeepsItWhole)
{
    testutil::ScratchDir dir("lance3d");
    const fs::path source = fs::path(CORVEX_EXAMPLES) / "lance3d";
    fs::copy(source, dir.path(), fs::copy_options::recursive);
    const testutil::RunResult run = testutil::RunProgram(dir, "lance3d.dyn");
    if (run.out.find("No IGES Dll found") != std::string::npos) GTEST_SKIP() << "no IGES translator here";
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("3D Lancing finished successfully"), std::string::npos);
    const Dynain in = trimcheck::ParseFile(dir.file("blank.dynain"));
    const Dynain out = trimcheck::ParseFile(dir.file("lance3d.dynain"));
    trimcheck::ExpectSoundMesh(in, out);
    std::map<int, const trimcheck::Shell*> outputs;
    for (const auto& s : out.shells) outputs[s.id] = &s;
    for (const auto& s : in.shells) {
        ASSERT_TRUE(outputs.count(s.id)) << "element " << s.id << " was removed";
        // A piece keeps the side its element faced.
        const auto a = AreaVec(in, s);
        const auto b = AreaVec(out, *outputs[s.id]);
        EXPECT_GT(a[0] * b[0] + a[1] * b[1] + a[2] * b[2], 0.0) << "element " << s.id;
        EXPECT_EQ(outputs[s.id]->pid, s.pid);
        if (in.stress.count(s.id)) {
            EXPECT_EQ(out.stress.at(s.id), in.stress.at(s.id));
        }
    }
    for (const auto& s : out.shells) {
        if (s.id <= in.maxElem) continue;
        EXPECT_TRUE(out.stress.count(s.id)) << "new element " << s.id << " has no stress";
    }
    EXPECT_NEAR(TotalArea(out), TotalArea(in), 1e-5 * TotalArea(in));
    const auto groups = Coincident(out, 1e-6);
    EXPECT_GE(groups.size(), 3u) << "the wall was not slit";
    for (const auto& g : groups) EXPECT_EQ(g.size(), 2u);
    // The arc ends inside the wall: the cup stays in one piece.
    EXPECT_EQ(Components(out), 1);
}

TEST(Lance2D, AdaptiveBlankKeepsItsConstraintsConsistent)
{
    Job job;
    trimcheck::MakeFlat(job, 37, 1);
    ASSERT_FALSE(job.input.adaptive.empty()) << "the blank has no adaptive zone to test";
    const double x0 = 0.41 * job.width + 0.23;
    const Poly line{{x0, -5.0}, {x0 + 0.7, 0.5 * job.height}, {x0 + 1.9, job.height + 5.0}};
    ExpectLanced(job, {line}, {2, {}, 0.0});
}

// A blank written by hand: nodes 1..n at plane points, shells 1..m (three or
// four node numbers), each with a record of its own, and hanging nodes.
void WriteTiny(Job& job, const std::vector<trimcheck::P2>& points, const std::vector<std::vector<int>>& shells,
               const std::vector<std::array<int, 3>>& hanging = {})
{
    std::string text = "*KEYWORD\n*NODE\n";
    for (size_t i = 0; i < points.size(); ++i) {
        text += Card("%8.0f%16.9e%16.9e%16.9e\n", static_cast<double>(i + 1), points[i][0], points[i][1], 0.0);
    }
    text += "*ELEMENT_SHELL_THICKNESS\n";
    for (size_t e = 0; e < shells.size(); ++e) {
        const std::vector<int>& n = shells[e];
        text += Card("%8.0f%8.0f", static_cast<double>(e + 1), 1) +
                Card("%8.0f%8.0f%8.0f%8.0f\n", n[0], n[1], n[2], n[n.size() - 1]);
        text += Card("%16.9e%16.9e%16.9e%16.9e\n", 1.2, 1.2, 1.2, 1.2);
    }
    if (!hanging.empty()) text += "*CONSTRAINED_ADAPTIVITY\n";
    for (const auto& c : hanging) text += Card("%10.0f%10.0f%10.0f\n", c[0], c[1], c[2]);
    text += "*INITIAL_STRESS_SHELL\n";
    for (size_t e = 0; e < shells.size(); ++e) {
        text += Card("%10.0f%10.0f%10.0f%10.0f%10.0f\n", static_cast<double>(e + 1), 1, 1, 0, 0);
        text += Card("%10.3e%10.3e%10.3e", 0.1 * static_cast<double>(e + 1), 0, 0) + Card("%10.3e%10.3e%10.3e%10.3e%10.3e\n", 0, 0, 0, 0, 0);
    }
    text += "*INITIAL_STRAIN_SHELL\n";
    for (size_t e = 0; e < shells.size(); ++e) {
        text += Card("%10.0f\n", static_cast<double>(e + 1));
        for (int k = 0; k < 2; ++k) text += Card("%10.3e%10.3e%10.3e", 0.01 * static_cast<double>(e + 1), 0, 0) + Card("%10.3e%10.3e%10.3e\n", 0, 0, 0);
    }
    text += "*END\n";
    testutil::WriteFile(job.dir.file("blank.dynain"), text);
    job.input = trimcheck::Parse(text);
    job.width = job.height = 0.0;
    for (const auto& p : points) job.width = std::max(job.width, p[0]), job.height = std::max(job.height, p[1]);
    job.h = 1.0;
}

// The corners of the 3 x 3 patch of unit squares, row by row from (0, 0).
std::vector<trimcheck::P2> GridPoints()
{
    std::vector<trimcheck::P2> points;
    for (int j = 0; j <= 3; ++j)
        for (int i = 0; i <= 3; ++i) points.push_back({static_cast<double>(i), static_cast<double>(j)});
    return points;
}

// The 3 x 3 patch, node numbers row by row, its four inner nodes pushed off
// the grid to `inner` when given.
void WriteGrid(Job& job, const std::vector<trimcheck::P2>& inner = {})
{
    std::vector<trimcheck::P2> points = GridPoints();
    for (size_t k = 0; k < inner.size(); ++k) points[5 + k % 2 + 4 * (k / 2)] = inner[k];
    std::vector<std::vector<int>> shells;
    for (const int n : {1, 2, 3, 5, 6, 7, 9, 10, 11}) shells.push_back({n, n + 1, n + 5, n + 4});
    WriteTiny(job, points, shells);
}

// The 3 x 3 patch with its top middle square split into four: hanging
// nodes on the three edges it shares with coarse squares.
void WriteRefined(Job& job)
{
    std::vector<trimcheck::P2> points = GridPoints();
    for (const trimcheck::P2& p : {trimcheck::P2{1.5, 2}, {2, 2.5}, {1.5, 3}, {1, 2.5}, {1.5, 2.5}}) points.push_back(p);
    std::vector<std::vector<int>> shells{{1, 2, 6, 5}, {2, 3, 7, 6}, {3, 4, 8, 7}, {5, 6, 10, 9}, {6, 7, 11, 10},
                                         {7, 8, 12, 11}, {9, 10, 14, 13}, {11, 12, 16, 15}, {10, 17, 21, 20},
                                         {17, 11, 18, 21}, {21, 18, 15, 19}, {20, 21, 19, 14}};
    WriteTiny(job, points, shells, {{17, 10, 11}, {18, 11, 15}, {20, 10, 14}});
}

// The slit between x = 1 and x = 2 of the refined patch: a line straight
// down to (x, 1 + dy), ending near the bottom edge of the coarse square
// that the fine squares hang on.
Poly Down(double x, double dy) { return {{x, 4.0}, {x, 1.0 + dy}}; }

enum Blank { kGrid, kRefined, kSkewed };
struct EndCase {
    const char* what;
    Blank blank;
    Poly line;
};

// Each line comes in over the blank's outline and ends inside: the slit
// opens from the outline up to a node at the line's end, which stays whole.
void ExpectEnds(const std::vector<EndCase>& cases)
{
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.what);
        Job job;
        if (c.blank == kGrid) WriteGrid(job);
        else if (c.blank == kRefined) WriteRefined(job);
        else WriteGrid(job, {{0.958, 1.016}, {2.049, 1.056}, {0.850, 1.898}, {1.819, 1.999}});
        Expect want;
        want.slit = true;
        want.innerEnds = {c.line.back()};
        ExpectLanced(job, {c.line}, want);
    }
}

TEST(Lance2D, LineEndsInEveryPlaceOfAnElementKeepTheMeshSound)
{
    ExpectEnds({
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
    });
}

// The entry node splits the coarse edge a hanging node K hangs on: K becomes
// a corner of the coarse piece on its half and loses its constraint.
TEST(Lance2D, EndsBesideAHangingNodeKeepTheirConstraints)
{
    ExpectEnds({
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
    });
}

// A V-shaped lance from the top of the refined patch whose tip is the
// hanging node on the coarse square's top edge: the line never enters the
// coarse square, so only the hanging-node pass splits it at the node. Then
// the node hangs on nothing, the wedge comes free, and the node is doubled.
TEST(Lance2D, ALanceThroughAHangingNodeSplitsTheCoarseElementAtIt)
{
    Job job;
    WriteRefined(job);
    const trimcheck::P2 tip{1.5, 2.0};
    ExpectLanced(job, {{{1.0, 4.5}, tip, {2.0, 4.5}}}, {2, {}, 0.0});
    const Dynain out = trimcheck::ParseFile(job.dir.file("job.dynain"));
    for (const auto& c : out.adaptive) EXPECT_NE(c[0], 17) << "node 17 still hangs on " << c[1] << "-" << c[2];
    int corners = 0;
    for (const auto& s : out.shells) {
        const trimcheck::P2 c = trimcheck::Centroid(trimcheck::PolyOf(out, s));
        if (c[0] < 1.0 || c[0] > 2.0 || c[1] < 1.0 || c[1] > 2.0) continue;
        for (const int n : s.nodes) corners += std::hypot(out.nodes.at(n)[0] - tip[0], out.nodes.at(n)[1] - tip[1]) < 1e-6;
    }
    EXPECT_GE(corners, 2) << "the coarse square is not split at the hanging node";
}

}  // namespace
