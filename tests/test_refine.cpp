// Adaptive refinement before cutting: element levels read from the
// constraints, the splits along the lines, and the constraints they leave,
// each judged by an independent reading of the model.
#include "qdsdatabase.h"
#include "qdstrimalgo.h"
#include "test_cutcheck.h"
#include "test_sweeprun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace cuttest;

namespace {

// A line that crosses or encloses exactly the elements it is told to.
class PickLine : public gmTrmLine {
public:
    PickLine(std::set<int> crossed, std::set<int> inside) : crossed_(std::move(crossed)), inside_(std::move(inside)) {}
    int InterElement(gmElemt&, std::vector<gmItrPt>&) override { return 0; }
    int IsIntersected(gmElemt& e) override { return crossed_.count(e.GetElemID()) ? 1 : 0; }
    int IsInside(gmElemt& e) override { return inside_.count(e.GetElemID()) ? 1 : 0; }

private:
    std::set<int> crossed_;
    std::set<int> inside_;
};

// Runs the refinement alone, as the framework does before cutting.
void Refine(int level, double minLength, int closed, std::set<int> crossed, std::set<int> inside)
{
    CsDataInfo info = dataManage.GetDataInfo();
    info.ctrlAdp.refine = 1;
    info.ctrlAdp.level = level;
    info.ctrlAdp.minLength = minLength;
    info.ctrlAdp.closed = closed;
    dataManage.SetDataInfo(info);
    CsTrmLineOwners lines;
    lines.push_back(std::make_unique<PickLine>(std::move(crossed), std::move(inside)));
    CsToolTrm algo(lines);
    algo.RefineMesh();
    // The controls live in the global model: later cases must not inherit them.
    info = dataManage.GetDataInfo();
    info.ctrlAdp = CsCtrlAdp();
    dataManage.SetDataInfo(info);
}

double SignedArea(int e) { return Area(NodesOf(e), gmVec3D(0, 0, 1)); }

double TotalArea()
{
    double a = 0.0;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) a += SignedArea(e);
    return a;
}

// The constraints the operator now holds, as node indices.
std::vector<std::array<int, 3>> HeldConstraints()
{
    std::vector<std::array<int, 3>> out;
    const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd();
    for (int b = 0; table && b < table->Capacity(); ++b) {
        for (const CsItem<CsDataAdpv>* it = table->GetItem(b); it; it = it->GetNext()) {
            const CsDataAdpv& c = it->GetData();
            out.push_back({dataManage.GetNdidFromExid(c.GetNode()), dataManage.GetNdidFromExid(c.GetN1()),
                           dataManage.GetNdidFromExid(c.GetN2())});
        }
    }
    return out;
}

// The mesh is closed up to its constraints: every constraint's node sits in
// the middle of an edge that exactly one element has, no constraint is
// doubled, and every node lying inside an element edge hangs on that edge
// by a constraint.
void ExpectConsistentConstraints()
{
    const auto held = HeldConstraints();
    std::map<std::pair<int, int>, int> owners;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        const std::vector<int> nd = NodesOf(e);
        for (size_t i = 0; i < nd.size(); ++i)
            ++owners[{std::min(nd[i], nd[(i + 1) % nd.size()]), std::max(nd[i], nd[(i + 1) % nd.size()])}];
    }
    std::set<int> dependents;
    for (const auto& c : held) {
        ASSERT_TRUE(c[0] > 0 && c[1] > 0 && c[2] > 0);
        EXPECT_TRUE(dependents.insert(c[0]).second) << "node " << c[0] << " hangs twice";
        const gmPnt3D d = dataManage.GetNode(c[0]).GetPoint();
        const gmPnt3D a = dataManage.GetNode(c[1]).GetPoint();
        const gmPnt3D b = dataManage.GetNode(c[2]).GetPoint();
        EXPECT_LT(std::hypot(d.x() - 0.5 * (a.x() + b.x()), d.y() - 0.5 * (a.y() + b.y())), 1e-9);
        const auto found = owners.find({std::min(c[1], c[2]), std::max(c[1], c[2])});
        EXPECT_TRUE(found != owners.end() && found->second == 1) << "coarse edge of node " << c[0];
    }
    for (const auto& [edge, count] : owners) {
        const gmPnt3D a = dataManage.GetNode(edge.first).GetPoint();
        const gmPnt3D b = dataManage.GetNode(edge.second).GetPoint();
        const double len = a.DistTo(b);
        for (int n = 1; n <= dataManage.GetNodeNumber(); ++n) {
            if (n == edge.first || n == edge.second) continue;
            const gmPnt3D p = dataManage.GetNode(n).GetPoint();
            if (std::fabs(p.DistTo(a) + p.DistTo(b) - len) > 1e-9 * len) continue;
            const bool hangs = std::any_of(held.begin(), held.end(), [&](const auto& c) {
                return c[0] == n && std::min(c[1], c[2]) == edge.first && std::max(c[1], c[2]) == edge.second;
            });
            EXPECT_TRUE(hangs) << "node " << n << " lies inside edge " << edge.first << "-" << edge.second
                               << " without a constraint";
        }
    }
}

// The levels the constraints give the model's elements, and what the
// calculation returns.
int CalculateLevels(std::vector<int>& levels, std::vector<int>* coarseGroups = nullptr)
{
    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    levels.assign(static_cast<size_t>(dataManage.GetElemNumber()), 0);
    CsCalAdpLevel calc(levels, tpy);
    const int result = calc.Calculate();
    if (coarseGroups) *coarseGroups = calc.GetCoarseGrpArr();
    return result;
}

void Patch() { BuildQuadPatch(3, 10.0); }
void TinyPatch() { BuildQuadPatch(3, 0.001); }
void TwoTriangles() { BuildModel({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, {{1, 2, 3}, {1, 3, 4}}); }

// A coarse square (10 x 10) with two fine squares on its right; node 5 hangs
// in the middle of the coarse element's right edge.
void CoarseAndFine()
{
    BuildModel({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {10, 5, 0}, {15, 0, 0}, {15, 5, 0}, {15, 10, 0}},
               {{1, 2, 3, 4}, {2, 6, 7, 5}, {5, 7, 8, 3}}, {CsDataAdpv(5, 2, 3)});
}

struct SplitCase {
    const char* what;
    void (*build)();
    int level;
    double minLength;
    int closed;
    std::set<int> crossed;
    std::set<int> inside;
    int elements;
    int nodes;  // -1: not counted
    int constraints;
    int triangles;
};

}  // namespace

// The model and the operator's tables are global: each test leaves them empty.
class Refinement : public ::testing::Test {
protected:
    void TearDown() override { ResetModel(); }
};

// Whatever is split, the area stays, every element faces up and the
// constraints close the mesh.
TEST_F(Refinement, SplitsAndTheConstraintsTheyLeave)
{
    const SplitCase cases[] = {
        {"a crossed quadrilateral becomes four", Patch, 2, 0.004, 0, {5}, {}, 12, 16 + 5, 4, 0},
        // Only the diagonal has a coarser element across it: the border midsides lose theirs.
        {"a crossed triangle becomes three quadrilaterals", TwoTriangles, 2, 0.004, 0, {1}, {}, 4, 4 + 4, 1, 1},
        // Centre and three midsides: the right edge already had its node.
        {"a hanging edge is split at its node, which loses its constraint", CoarseAndFine, 3, 0.004, 0, {1}, {}, 6,
         8 + 4, 0, 0},
        // Both split; the fine split hangs on the coarse pieces and on the unsplit fine neighbour.
        {"a fine element pulls in its coarse neighbour", CoarseAndFine, 3, 0.004, 0, {3}, {}, 3 + 3 + 3, -1, 2, 0},
        {"control level 1 allows level 0 alone: nothing is split", Patch, 1, 0.004, 0, {5}, {}, 9, -1, 0, 0},
        {"edges of 10 are not longer than twice 5", Patch, 2, 5.0, 0, {5}, {}, 9, -1, 0, 0},
        {"edges of 10 are longer than twice 4.9", Patch, 2, 4.9, 0, {5}, {}, 12, 16 + 5, 4, 0},
        {"at or below 0.01 twice the length plays no part", TinyPatch, 2, 0.005, 0, {5}, {}, 12, 16 + 5, 4, 0},
        {"an element inside is left without the closed switch", Patch, 2, 0.004, 0, {}, {5}, 9, -1, 0, 0},
        {"the closed switch refines the inside", Patch, 2, 0.004, 1, {}, {5}, 12, 16 + 5, 4, 0},
        // Each split once, neighbours resolving each other's midside nodes.
        {"every element crossed", Patch, 5, 0.004, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, 36, 49, 0, 0},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.what);
        c.build();
        const double area = TotalArea();
        Refine(c.level, c.minLength, c.closed, c.crossed, c.inside);
        const int elements = dataManage.GetElemNumber();
        EXPECT_EQ(elements, c.elements);
        if (c.nodes >= 0) {
            EXPECT_EQ(dataManage.GetNodeNumber(), c.nodes);
        }
        EXPECT_EQ(hashOper.GetAdpNum(), c.constraints);
        int triangles = 0;
        for (int e = 1; e <= elements; ++e) {
            triangles += dataManage.GetElem(e).GetNodeNum() == 3;
            EXPECT_GT(SignedArea(e), 0.0) << "element " << e;
        }
        EXPECT_EQ(triangles, c.triangles);
        EXPECT_NEAR(TotalArea(), area, 1e-9);
        ExpectConsistentConstraints();
        if (&c != &cases[0]) continue;
        // The split element keeps its id, thickness and records; the pieces
        // get the next ids, its thickness, and it as their parent.
        for (const int e : {5, 10, 11, 12}) {
            EXPECT_NEAR(SignedArea(e), 25.0, 1e-9) << e;
            EXPECT_DOUBLE_EQ(dataManage.GetElem(e).GetThickness(), 1.5);
        }
        EXPECT_EQ(dataManage.GetElemExid(5), 5);
        EXPECT_EQ(dataManage.GetElemExid(12), 12);
        std::vector<int> offspring;
        hashOper.GetOffSpring(5, offspring);
        EXPECT_EQ(offspring, (std::vector<int>{10, 11, 12}));
    }
}

TEST_F(Refinement, LevelsFromTheConstraints)
{
    // No constraints leave every element at level zero.
    BuildQuadPatch(2, 10.0);
    std::vector<int> levels;
    EXPECT_EQ(CalculateLevels(levels), -1);
    EXPECT_EQ(levels, std::vector<int>(4, 0));

    // Two elements each on the coarse side of the other's constraint: the
    // coarse-side chain loops, and the lookup must still end. Group 1's chain
    // returns to itself through group 2 and counts it as 0.
    BuildModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {5, 0, 0}, {0, 1, 0}, {9, 9, 0}, {3, 3, 0}},
               {{1, 2, 3, 5}, {2, 4, 5, 7}}, {CsDataAdpv(1, 2, 4), CsDataAdpv(4, 5, 1)});
    std::vector<int> coarse;
    ASSERT_EQ(CalculateLevels(levels, &coarse), 0);
    EXPECT_EQ(coarse, (std::vector<int>{2, 1}));
    EXPECT_EQ(levels, (std::vector<int>{2, 3}));

    // One group spanning a large patch: the fill must not use the call stack.
    // Node 2 hangs, as far as the constraint says, between node 1 and a node
    // it shares no edge with: the whole patch is its fine side.
    const int n = 400;
    BuildQuadPatch(n, 1.0, {CsDataAdpv(2, 1, (n + 1) * (n + 1))});
    ASSERT_EQ(CalculateLevels(levels), 0);
    EXPECT_EQ(std::count(levels.begin(), levels.end(), 1), n * n);
}

// ---------------------------------------------------------------- generated blanks

namespace {

// The blank as its own reader sees it, loaded into the model the way a run
// sets it up.
void Load(const trimcheck::Dynain& d)
{
    ResetModel();
    for (const auto& [id, p] : d.nodes) dataManage.AddNode(CsDataNode(id, gmPnt3D(p[0], p[1], p[2])));
    for (const trimcheck::Shell& s : d.shells) {
        std::vector<int> nodes = s.nodes;
        dataManage.AddElem(CsDataElem(s.pid, s.id, static_cast<int>(nodes.size()), nodes.data(), kEleShell));
    }
    for (const auto& c : d.adaptive) dataManage.AddAdpNd(CsDataAdpv(c[0], c[1], c[2]));
    dataManage.UpdateElemNd();
    hashOper.CreateHash();
}

// The level a flat generated element was built with: its shortest edge
// against the coarse size.
int BuiltLevel(const trimcheck::Dynain& d, const trimcheck::Shell& s, double size)
{
    double shortest = 1e300;
    for (size_t i = 0; i < s.nodes.size(); ++i) {
        const auto& a = d.nodes.at(s.nodes[i]);
        const auto& b = d.nodes.at(s.nodes[(i + 1) % s.nodes.size()]);
        shortest = std::min(shortest, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
    }
    return static_cast<int>(std::lround(std::log2(size / shortest)));
}

}  // namespace

TEST_F(Refinement, LevelsOfTheZonesOfGeneratedBlanks)
{
    for (const auto& [levels, seed] : {std::pair{1, 31}, std::pair{2, 32}, std::pair{2, 33}}) {
        SCOPED_TRACE("levels " + std::to_string(levels) + ", seed " + std::to_string(seed));
        const trimcheck::Dynain& d = sweep::GetBlank(sweep::Flat(seed, levels, 600) + " --size 8").mesh;
        ASSERT_FALSE(d.adaptive.empty());
        Load(d);
        std::vector<int> got;
        ASSERT_EQ(CalculateLevels(got), 0);
        std::set<int> seen;
        for (size_t i = 0; i < d.shells.size(); ++i) {
            const int want = BuiltLevel(d, d.shells[i], 8.0);
            seen.insert(want);
            EXPECT_EQ(got[i], want) << "element " << d.shells[i].id;
        }
        EXPECT_EQ(static_cast<int>(seen.size()), levels + 1);
    }
}

// A flat blank cut by a circle with the flag (-1 keeps the inside), plainly
// and refined to one level past the blank's: the refined cut has more
// elements, is right by the judge, and hangs no node twice.
TEST(RefineTrim, ZonesAreRefinedThenCut)
{
    struct Row {
        int levels, seed, flag;
        double radiusFactor;
    };
    for (const Row& r : {Row{1, 41, 1, 0.3}, Row{2, 42, -1, 0.35}}) {
        SCOPED_TRACE("levels " + std::to_string(r.levels));
        const sweep::Blank& b = sweep::GetBlank(sweep::Flat(r.seed, r.levels, 600) + " --size 8");
        sweep::Job job = sweep::JobAlongZ(
            {{r.flag, sweep::Circle(0.5 * b.x1 + 0.7, 0.5 * b.y1 - 0.4, r.radiusFactor * b.y1, 56)}});
        job.refined = true;
        testutil::ScratchDir dir("refine-trim");
        testutil::WriteFile(dir.file("blank.dynain"), b.text);
        trimcheck::Dynain outputs[2];
        for (const bool refine : {false, true}) {
            const std::string control =
                "*CONTROL_ADAPTIVE_CURVE\n" + sweep::Card("%10.0f%10.0f%10.0f%10.3f%10.0f\n", 1, 0, r.levels + 1, 0.004, 0);
            testutil::WriteFile(dir.file("job.dyn"), sweep::DeckFor(b.mesh, job, "blank.dynain", refine ? control : ""));
            const testutil::RunResult run = testutil::RunProgram(dir, "job.dyn");
            ASSERT_EQ(run.status, 0) << run.out;
            outputs[refine] = trimcheck::ParseFile(dir.file("job.dynain"));
        }
        EXPECT_GT(outputs[1].shells.size(), outputs[0].shells.size());
        sweep::ExpectJudged(b.mesh, outputs[1], job);
        std::set<int> dependents;
        for (const auto& c : outputs[1].adaptive)
            EXPECT_TRUE(dependents.insert(c[0]).second) << "node " << c[0] << " hangs twice";
    }
}
