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
#include <cstdio>
#include <filesystem>
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

void SetControls(int level, double minLength, int closed)
{
    CsDataInfo info = dataManage.GetDataInfo();
    info.ctrlAdp.refine = 1;
    info.ctrlAdp.level = level;
    info.ctrlAdp.minLength = minLength;
    info.ctrlAdp.closed = closed;
    dataManage.SetDataInfo(info);
}

// Runs the refinement alone, as the framework does before cutting.
void Refine(std::set<int> crossed, std::set<int> inside = {})
{
    CsTrmLineOwners lines;
    lines.push_back(std::make_unique<PickLine>(std::move(crossed), std::move(inside)));
    CsToolTrm algo(lines);
    algo.RefineMesh();
    // The controls live in the global model: later tests must not inherit them.
    CsDataInfo info = dataManage.GetDataInfo();
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

// Every element edge of the model, and how many elements have it.
std::map<std::pair<int, int>, int> EdgeOwners()
{
    std::map<std::pair<int, int>, int> owners;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        const std::vector<int> nd = NodesOf(e);
        for (size_t i = 0; i < nd.size(); ++i) {
            const int a = nd[i];
            const int b = nd[(i + 1) % nd.size()];
            ++owners[{std::min(a, b), std::max(a, b)}];
        }
    }
    return owners;
}

// The mesh is closed up to its constraints: every constraint's node sits in
// the middle of an edge that exactly one element has, no constraint is
// doubled, and every node lying inside an element edge hangs on that edge
// by a constraint.
void ExpectConsistentConstraints()
{
    const auto held = HeldConstraints();
    const auto owners = EdgeOwners();
    std::set<int> dependents;
    for (const auto& c : held) {
        ASSERT_GT(c[0], 0);
        ASSERT_GT(c[1], 0);
        ASSERT_GT(c[2], 0);
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

void ExpectAllFacingUp()
{
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) EXPECT_GT(SignedArea(e), 0.0) << "element " << e;
}

int Quads()
{
    int q = 0;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) q += dataManage.GetElem(e).GetNodeNum() == 4;
    return q;
}

}  // namespace

// ---------------------------------------------------------------- splits

// The model and the operator's tables are global: each test leaves them empty.
class RefineSplit : public ::testing::Test {
protected:
    void TearDown() override { ResetModel(); }
};
class RefineLevels : public RefineSplit {};


TEST_F(RefineSplit, CrossedQuadWithoutHangingNodesBecomesFourQuads)
{
    BuildQuadPatch(3, 10.0);
    SetControls(2, 0.004, 0);
    const double area = TotalArea();
    Refine({5});
    EXPECT_EQ(dataManage.GetElemNumber(), 12);
    EXPECT_EQ(dataManage.GetNodeNumber(), 16 + 5);
    EXPECT_EQ(hashOper.GetAdpNum(), 4);
    EXPECT_NEAR(TotalArea(), area, 1e-9);
    for (const int e : {5, 10, 11, 12}) {
        EXPECT_NEAR(SignedArea(e), 25.0, 1e-9) << e;
        EXPECT_DOUBLE_EQ(dataManage.GetElem(e).GetThickness(), 1.5);
    }
    // The split element keeps its id, the pieces get the next ones.
    EXPECT_EQ(dataManage.GetElemExid(5), 5);
    EXPECT_EQ(dataManage.GetElemExid(12), 12);
    std::vector<int> offspring;
    hashOper.GetOffSpring(5, offspring);
    EXPECT_EQ(offspring, (std::vector<int>{10, 11, 12}));
    ExpectAllFacingUp();
    ExpectConsistentConstraints();
}

TEST_F(RefineSplit, TriangleBecomesThreeQuads)
{
    BuildModel({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, {{1, 2, 3}, {1, 3, 4}});
    SetControls(2, 0.004, 0);
    Refine({1});
    EXPECT_EQ(dataManage.GetElemNumber(), 4);
    EXPECT_EQ(Quads(), 3);
    EXPECT_EQ(dataManage.GetNodeNumber(), 4 + 4);
    EXPECT_NEAR(TotalArea(), 100.0, 1e-9);
    // Only the diagonal has a coarser element across it.
    EXPECT_EQ(hashOper.GetAdpNum(), 1);
    ExpectAllFacingUp();
    ExpectConsistentConstraints();
}

namespace {

// A coarse square (10 x 10) with two fine squares on its right; node 5 hangs
// in the middle of the coarse element's right edge.
void CoarseAndFine()
{
    BuildModel({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {10, 5, 0}, {15, 0, 0}, {15, 5, 0}, {15, 10, 0}},
               {{1, 2, 3, 4}, {2, 6, 7, 5}, {5, 7, 8, 3}}, {CsDataAdpv(5, 2, 3)});
}

}  // namespace

TEST_F(RefineSplit, HangingEdgeIsSplitAtItsNodeAndLosesItsConstraint)
{
    CoarseAndFine();
    SetControls(3, 0.004, 0);
    ASSERT_EQ(hashOper.GetAdpNum(), 1);
    Refine({1});
    EXPECT_EQ(dataManage.GetElemNumber(), 6);
    // Centre and three midsides: the right edge already had its node.
    EXPECT_EQ(dataManage.GetNodeNumber(), 8 + 4);
    EXPECT_EQ(hashOper.GetAdpNum(), 0);
    EXPECT_NEAR(TotalArea(), 150.0, 1e-9);
    ExpectAllFacingUp();
    ExpectConsistentConstraints();
}

TEST_F(RefineSplit, FineElementPullsInItsCoarseNeighbour)
{
    CoarseAndFine();
    SetControls(3, 0.004, 0);
    Refine({3});
    // Both the fine element and the coarse one it hangs on are split.
    EXPECT_EQ(dataManage.GetElemNumber(), 3 + 3 + 3);
    EXPECT_EQ(dataManage.GetElem(1).GetNodeNum(), 4);
    EXPECT_NEAR(SignedArea(1), 25.0, 1e-9);
    EXPECT_NEAR(TotalArea(), 150.0, 1e-9);
    // Node 5 is a corner now; the fine split hangs on the coarse pieces and on
    // the unsplit fine neighbour.
    for (const auto& c : HeldConstraints()) EXPECT_NE(c[0], 5);
    EXPECT_EQ(hashOper.GetAdpNum(), 2);
    ExpectAllFacingUp();
    ExpectConsistentConstraints();
}

TEST_F(RefineSplit, LevelLimitAndMinimumLength)
{
    BuildQuadPatch(3, 10.0);
    SetControls(1, 0.004, 0);  // limit 0: nothing is below it
    Refine({5});
    EXPECT_EQ(dataManage.GetElemNumber(), 9);
    EXPECT_EQ(hashOper.GetAdpNum(), 0);

    BuildQuadPatch(3, 10.0);
    SetControls(2, 5.0, 0);  // edges of 10 are not longer than twice 5
    Refine({5});
    EXPECT_EQ(dataManage.GetElemNumber(), 9);

    BuildQuadPatch(3, 10.0);
    SetControls(2, 4.9, 0);
    Refine({5});
    EXPECT_EQ(dataManage.GetElemNumber(), 12);

    // At or below 0.01 twice the length plays no part, however long it is.
    BuildQuadPatch(3, 0.001);
    SetControls(2, 0.005, 0);
    Refine({5});
    EXPECT_EQ(dataManage.GetElemNumber(), 12);
}

TEST_F(RefineSplit, ClosedSwitchRefinesTheInside)
{
    BuildQuadPatch(3, 10.0);
    SetControls(2, 0.004, 0);
    Refine({}, {5});
    EXPECT_EQ(dataManage.GetElemNumber(), 9);

    BuildQuadPatch(3, 10.0);
    SetControls(2, 0.004, 1);
    Refine({}, {5});
    EXPECT_EQ(dataManage.GetElemNumber(), 12);
    ExpectConsistentConstraints();
}

TEST_F(RefineSplit, SplitPiecesAreNotSplitAgainInTheSameRefinement)
{
    BuildQuadPatch(3, 10.0);
    SetControls(5, 0.004, 0);
    // Every element crossed: each is split once, neighbours resolve each
    // other's midside nodes and no constraint is left inside the patch.
    Refine({1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(dataManage.GetElemNumber(), 36);
    EXPECT_EQ(hashOper.GetAdpNum(), 0);
    ExpectAllFacingUp();
    ExpectConsistentConstraints();
}

// ---------------------------------------------------------------- levels

TEST_F(RefineLevels, NoConstraintsLeaveEveryElementAtLevelZero)
{
    BuildQuadPatch(2, 10.0);
    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    std::vector<int> levels(4, 0);
    CsCalAdpLevel calc(levels, tpy);
    EXPECT_EQ(calc.Calculate(), -1);
    EXPECT_EQ(levels, std::vector<int>(4, 0));
}

// Two elements each on the coarse side of the other's constraint: the
// coarse-side chain loops, and the lookup must still end.
TEST_F(RefineLevels, LoopingCoarseChainEnds)
{
    BuildModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {5, 0, 0}, {0, 1, 0}, {9, 9, 0}, {3, 3, 0}},
               {{1, 2, 3, 5}, {2, 4, 5, 7}}, {CsDataAdpv(1, 2, 4), CsDataAdpv(4, 5, 1)});
    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    std::vector<int> levels(2, 0);
    CsCalAdpLevel calc(levels, tpy);
    ASSERT_EQ(calc.Calculate(), 0);
    // Group 1's chain returns to itself through group 2 and counts it as 0.
    EXPECT_EQ(calc.GetCoarseGrpArr(), (std::vector<int>{2, 1}));
    EXPECT_EQ(levels, (std::vector<int>{2, 3}));
}

// One group spanning a large patch: the fill must not use the call stack.
TEST_F(RefineLevels, LargeGroupIsFilledWithoutDeepRecursion)
{
    const int n = 400;
    // Node 2 hangs, as far as the constraint says, between node 1 and a node
    // it shares no edge with: the whole patch is its fine side.
    BuildQuadPatch(n, 1.0, {CsDataAdpv(2, 1, (n + 1) * (n + 1))});
    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    std::vector<int> levels(static_cast<size_t>(n * n), 0);
    CsCalAdpLevel calc(levels, tpy);
    ASSERT_EQ(calc.Calculate(), 0);
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

void ExpectBuiltLevels(int levels, int seed)
{
    const double size = 8.0;
    const trimcheck::Dynain& d = sweep::GetBlank(sweep::Flat(seed, levels, 600) + " --size 8").mesh;
    ASSERT_FALSE(d.adaptive.empty());
    Load(d);
    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    std::vector<int> got(d.shells.size(), 0);
    CsCalAdpLevel calc(got, tpy);
    ASSERT_EQ(calc.Calculate(), 0);
    std::map<int, int> seen;
    for (size_t i = 0; i < d.shells.size(); ++i) {
        const int want = BuiltLevel(d, d.shells[i], size);
        ++seen[want];
        EXPECT_EQ(got[i], want) << "element " << d.shells[i].id;
    }
    EXPECT_EQ(static_cast<int>(seen.size()), levels + 1);
}

int Shown(const std::string& out, const std::string& prefix)
{
    const size_t at = out.find(prefix);
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + prefix.size());
}

// The flat blank of the levels and seed, cut by a circle with the flag (-1
// keeps the inside), plainly and refined to one level past the blank's.
void ExpectRefinedTrim(int levels, int seed, int flag, double radiusFactor)
{
    const sweep::Blank& b =
        sweep::GetBlank(sweep::Flat(seed, levels, 600) + " --size 8");
    sweep::Job job =
        sweep::JobAlongZ({{flag, sweep::Circle(0.5 * b.x1 + 0.7, 0.5 * b.y1 - 0.4, radiusFactor * b.y1, 56)}});
    job.refined = true;
    testutil::ScratchDir dir("refine-trim");
    testutil::WriteFile(dir.file("blank.dynain"), b.text);
    std::string outputs[2];
    for (const bool refine : {false, true}) {
        const std::string deck = sweep::DeckFor(
            b.mesh, job, "blank.dynain",
            refine ? "*CONTROL_ADAPTIVE_CURVE\n" +
                         sweep::Card("%10.0f%10.0f%10.0f%10.3f%10.0f\n", 1, 0, levels + 1, 0.004, 0)
                   : "");
        testutil::WriteFile(dir.file("job.dyn"), deck);
        const testutil::RunResult run = testutil::RunProgram(dir, "job.dyn");
        ASSERT_EQ(run.status, 0) << run.out;
        const bool shown = run.out.find("Adaptive Constraints Refinement") != std::string::npos;
        EXPECT_EQ(shown, refine);
        outputs[refine] = testutil::ReadFile(dir.file("job.dynain"));
        if (!refine) continue;
        EXPECT_NE(run.out.find("Begin to refine elements, please wait..."), std::string::npos);
        EXPECT_EQ(Shown(run.out, "Adaptive constrains before refinement: "), static_cast<int>(b.mesh.adaptive.size()));
        EXPECT_GT(Shown(run.out, "Adaptive constrains after refinement: "), 0);
        EXPECT_NE(run.out.find("Refinements finished"), std::string::npos);
    }
    const trimcheck::Dynain plain = trimcheck::Parse(outputs[0]);
    const trimcheck::Dynain refined = trimcheck::Parse(outputs[1]);
    EXPECT_GT(refined.shells.size(), plain.shells.size());
    sweep::ExpectJudged(b.mesh, refined, job);
    std::set<int> dependents;
    for (const auto& c : refined.adaptive) EXPECT_TRUE(dependents.insert(c[0]).second) << "node " << c[0] << " hangs twice";
}

}  // namespace

TEST_F(RefineLevels, OneLevelZonesOfAGeneratedBlank) { ExpectBuiltLevels(1, 31); }

TEST_F(RefineLevels, TwoLevelZonesOfAGeneratedBlank)
{
    ExpectBuiltLevels(2, 32);
    ExpectBuiltLevels(2, 33);
}

TEST(RefineTrim, HoleThroughOneLevelZonesIsRefinedThenCut) { ExpectRefinedTrim(1, 41, 1, 0.3); }

TEST(RefineTrim, KeptInsideOfTwoLevelZonesIsRefinedThenCut) { ExpectRefinedTrim(2, 42, -1, 0.35); }
