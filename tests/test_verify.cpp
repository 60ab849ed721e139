// The mesh check after an operation: each kind of broken mesh is built by
// hand in a small model and must be named, with its element and node ids;
// what is safe to mend is mended; and a run the cutters get wrong stops
// before anything is written.
#include "test_cutcheck.h"
#include "test_helpers.h"

#include "qdsmessage.h"
#include "qdstrimalgo_verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace cuttest;
namespace fs = std::filesystem;

namespace {

// The patch: kSide x kSide unit squares, node and element ids row by row.
constexpr int kSide = 6;
int N(int i, int j) { return j * (kSide + 1) + i + 1; }
int E(int i, int j) { return j * kSide + i + 1; }

std::unique_ptr<gmTrmLine> Curve(const std::vector<gmPnt3D>& points, int flag, const char* id)
{
    auto line = std::make_unique<gmCut2DLine>(points, flag);
    line->SetPntLcs(1);
    line->SetUcs(gmCrdSys());
    line->SetExid(id);
    return line;
}

// A hole: the inside of the square goes.
std::unique_ptr<gmTrmLine> Hole(double x0, double y0, double x1, double y1, const char* id)
{
    return Curve({{x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}, {x0, y1, 0}, {x0, y0, 0}}, 1, id);
}

int NewNode(double x, double y) { return dataManage.AddNode(gmPnt3D(x, y, 0.0)); }

void Rewrite(int elem, const std::vector<int>& nodes)
{
    dataManage.SetElem(1, elem, static_cast<int>(nodes.size()), nodes.data());
}

// A piece cut from elem, filed under it as the cutters file theirs.
int AddPiece(int from, const std::vector<int>& nodes)
{
    const int e = dataManage.AddElem(1, static_cast<int>(nodes.size()), nodes.data());
    dataManage.SetThickness(e, 1.5);
    CsElemMap map;
    map.SetSrcElem(from);
    map.AddNewElem(e);
    hashOper.AddNewElemMap(map);
    return e;
}

struct Verdict {
    bool sound = false;
    std::vector<CsCutFault> faults;
    std::vector<std::string> repairs;
    std::string shown;
};

// The operation's lines, and the check taken around the change a test makes.
class Operation {
public:
    explicit Operation(std::vector<std::unique_ptr<gmTrmLine>> lines) : owned_(std::move(lines))
    {
        for (const auto& line : owned_) raw_.push_back(line.get());
        verify_ = std::make_unique<CsCutVerify>(raw_);
        verify_->Begin();
    }

    Verdict Check(CsCutVerify::Stage stage = CsCutVerify::kCut)
    {
        Verdict v;
        testing::internal::CaptureStdout();
        v.sound = verify_->Check(stage);
        v.shown = testing::internal::GetCapturedStdout();
        CsMessage::Free();
        v.faults = verify_->GetFaults();
        v.repairs = verify_->GetRepairs();
        return v;
    }

private:
    std::vector<std::unique_ptr<gmTrmLine>> owned_;
    std::vector<gmTrmLine*> raw_;
    std::unique_ptr<CsCutVerify> verify_;
};

Operation HoleCut(std::vector<std::unique_ptr<gmTrmLine>> more = {})
{
    std::vector<std::unique_ptr<gmTrmLine>> lines;
    lines.push_back(Hole(1, 1, 3, 3, "1_1"));
    for (auto& line : more) lines.push_back(std::move(line));
    return Operation(std::move(lines));
}

// The four squares inside the hole [1, 3] x [1, 3] go.
void CutHole(bool keepFirst = false)
{
    for (const int e : {E(1, 1), E(2, 1), E(1, 2), E(2, 2)}) {
        if (!(keepFirst && e == E(1, 1))) dataManage.SetToDel(e);
    }
}

std::string Dump(const Verdict& v)
{
    std::string out = "\n";
    for (const CsCutFault& f : v.faults) out += f.text + "\n";
    for (const std::string& r : v.repairs) out += r + "\n";
    return out;
}

// Whether a fault of this kind names every one of the words.
bool Names(const Verdict& v, CsCutFaultKind kind, const std::vector<std::string>& words)
{
    for (const CsCutFault& f : v.faults) {
        if (f.kind != kind) continue;
        bool all = true;
        for (const std::string& w : words) all = all && f.text.find(w) != std::string::npos;
        if (all) return true;
    }
    return false;
}

std::string Id(int node) { return std::to_string(dataManage.GetNodeExid(node)); }

}  // namespace

TEST(MeshCheck, ASoundHoleAndASoundSlitPass)
{
    BuildQuadPatch(kSide);
    Operation hole = HoleCut();
    CutHole();
    const Verdict cut = hole.Check();
    EXPECT_TRUE(cut.sound) << Dump(cut);
    EXPECT_TRUE(cut.repairs.empty());
    EXPECT_TRUE(cut.shown.empty()) << cut.shown;

    // A slit right across the patch along y = 3: the row below gets copies of the line's nodes.
    BuildQuadPatch(kSide);
    std::vector<std::unique_ptr<gmTrmLine>> lines;
    lines.push_back(Curve({{-1, 3, 0}, {kSide + 1, 3, 0}}, 0, "2_1"));
    Operation lance(std::move(lines));
    std::vector<int> copies;
    for (int i = 0; i <= kSide; ++i) copies.push_back(NewNode(i, 3));
    for (int i = 0; i < kSide; ++i) {
        Rewrite(E(i, 2), {N(i, 2), N(i + 1, 2), copies[static_cast<size_t>(i + 1)], copies[static_cast<size_t>(i)]});
    }
    const Verdict slit = lance.Check();
    EXPECT_TRUE(slit.sound) << Dump(slit);
}

// An edge two pieces left apart, far from every curve.
TEST(MeshCheck, NamesACrack)
{
    BuildQuadPatch(kSide);
    Operation op = HoleCut();
    CutHole();
    const int x = NewNode(4.95, 4.5);
    Rewrite(E(4, 4), {N(4, 4), N(5, 4), x, N(4, 5)});
    AddPiece(E(4, 4), {x, N(5, 5), N(4, 5)});
    const Verdict v = op.Check();
    EXPECT_FALSE(v.sound);
    EXPECT_TRUE(Names(v, CsCutFaultKind::kOpenEdge, {"2D trim", "element " + std::to_string(E(5, 4)),
                                                     "edge " + Id(N(5, 5)) + "-" + Id(N(5, 4)), "a crack"}))
        << Dump(v);
    EXPECT_TRUE(v.repairs.empty()) << "a node 0.05 off the edge is no node on it";
    EXPECT_NE(v.shown.find("Verification failed: 2D trim, curve 1_1: "), std::string::npos) << v.shown;
}

// Two nodes at one point are joined; a neighbour with a node on its edge is
// split there. Both leave a mesh the check passes.
TEST(MeshCheck, JoinsTwoNodesAtOnePointAndSplitsANeighbourAtANodeOnItsEdge)
{
    BuildQuadPatch(kSide);
    Operation join = HoleCut();
    CutHole();
    const int twin = NewNode(4, 4);
    Rewrite(E(4, 4), {twin, N(5, 4), N(5, 5), N(4, 5)});
    const Verdict joined = join.Check();
    EXPECT_TRUE(joined.sound) << Dump(joined);
    ASSERT_EQ(joined.repairs.size(), 1u) << Dump(joined);
    EXPECT_NE(joined.repairs[0].find("nodes " + Id(N(4, 4)) + " and " + Id(twin) + " at one point joined"),
              std::string::npos);
    EXPECT_EQ(NodesOf(E(4, 4)), (std::vector<int>{N(4, 4), N(5, 4), N(5, 5), N(4, 5)}));

    BuildQuadPatch(kSide);
    Operation split = HoleCut();
    CutHole();
    const int x = NewNode(5, 4.5);
    Rewrite(E(4, 4), {N(4, 4), N(5, 4), x, N(4, 5)});
    AddPiece(E(4, 4), {x, N(5, 5), N(4, 5)});
    const int before = dataManage.GetElemNumber();
    const Verdict mended = split.Check();
    EXPECT_TRUE(mended.sound) << Dump(mended);
    ASSERT_EQ(mended.repairs.size(), 1u) << Dump(mended);
    EXPECT_NE(mended.repairs[0].find("element " + std::to_string(E(5, 4)) + " split at node " + Id(x)), std::string::npos);
    ASSERT_EQ(dataManage.GetElemNumber(), before + 1);
    // The new piece carries the records of the element it was cut from.
    std::vector<int> offspring;
    hashOper.GetOffSpring(E(5, 4), offspring);
    EXPECT_NE(std::find(offspring.begin(), offspring.end(), before + 1), offspring.end());
    EXPECT_DOUBLE_EQ(dataManage.GetElem(before + 1).GetThickness(), 1.5);
}

TEST(MeshCheck, NamesAFoldedPieceAndAConcaveQuadrilateral)
{
    BuildQuadPatch(kSide);
    Operation fold = HoleCut();
    CutHole();
    Rewrite(E(4, 4), {N(4, 4), N(4, 5), N(5, 5), N(5, 4)});
    const Verdict folded = fold.Check();
    EXPECT_FALSE(folded.sound);
    EXPECT_TRUE(Names(folded, CsCutFaultKind::kFlipped, {"element " + std::to_string(E(4, 4)), "faces away"})) << Dump(folded);
    EXPECT_TRUE(Names(folded, CsCutFaultKind::kFoldedEdge, {"the same way"})) << Dump(folded);

    BuildQuadPatch(kSide);
    Operation dent = HoleCut();
    CutHole();
    const int x = NewNode(4.3, 4.3);
    Rewrite(E(4, 4), {N(4, 4), N(5, 4), x, N(4, 5)});
    AddPiece(E(4, 4), {N(5, 4), N(5, 5), N(4, 5), x});
    const Verdict concave = dent.Check();
    EXPECT_FALSE(concave.sound);
    EXPECT_TRUE(Names(concave, CsCutFaultKind::kConcave, {"quadrilateral " + std::to_string(E(4, 4)), "concave at node " + Id(x)}))
        << Dump(concave);
    EXPECT_EQ(concave.faults.size(), 1u) << Dump(concave);
}

// A coarse square beside four fine ones, node 7 hanging on its edge 2-5.
namespace {
void BuildHanging()
{
    BuildModel({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {1, 0.5, 0}, {1.5, 0, 0}, {1.5, 0.5, 0},
                {1.5, 1, 0}, {2, 0.5, 0}},
               {{1, 2, 5, 4}, {2, 8, 9, 7}, {8, 3, 11, 9}, {7, 9, 10, 5}, {9, 11, 6, 10}}, {CsDataAdpv(7, 2, 5)});
}
}  // namespace

TEST(MeshCheck, NamesEveryConstraintThatNoLongerHolds)
{
    BuildHanging();
    Operation sound({});
    EXPECT_TRUE(sound.Check(CsCutVerify::kRefinement).sound);

    BuildHanging();
    Operation moved({});
    dataManage.SetNode(7, gmPnt3D(1, 0.6, 0));
    const Verdict off = moved.Check(CsCutVerify::kRefinement);
    EXPECT_TRUE(Names(off, CsCutFaultKind::kHangingOffEdge, {"adaptive refinement", "hanging node 7", "edge 2-5"})) << Dump(off);

    BuildHanging();
    Operation named({});
    const int stray = NewNode(3, 3);
    hashOper.InsertAdpNd(CsDataAdpv(9, 3, dataManage.GetNodeExid(stray)));
    const Verdict unwritten = named.Check(CsCutVerify::kRefinement);
    EXPECT_TRUE(Names(unwritten, CsCutFaultKind::kConstraintNode, {"hanging node 9", "names node " + Id(stray)}))
        << Dump(unwritten);

    // The coarse element gone, its constraint left behind.
    BuildHanging();
    Operation orphan({});
    dataManage.SetToDel(1);
    const Verdict coarse = orphan.Check(CsCutVerify::kRefinement);
    EXPECT_TRUE(Names(coarse, CsCutFaultKind::kCoarseEdge, {"coarse edge 2-5", "belongs to 0"})) << Dump(coarse);

    // A copy of a hanging node is not joined to it: its constraint would name
    // a node that nothing uses any more.
    BuildHanging();
    Operation twin({});
    const int copy = NewNode(1, 0.5);
    Rewrite(4, {copy, 9, 10, 5});
    const Verdict doubled = twin.Check(CsCutVerify::kRefinement);
    EXPECT_TRUE(doubled.repairs.empty()) << Dump(doubled);
    EXPECT_TRUE(Names(doubled, CsCutFaultKind::kDuplicateNode, {"nodes 7 and " + Id(copy)})) << Dump(doubled);
}

TEST(MeshCheck, NamesABoundaryOffTheCurveAStretchLeftUncutAndAKeptElementAcrossIt)
{
    BuildQuadPatch(kSide);
    Operation pulled = HoleCut();
    CutHole();
    dataManage.SetNode(N(2, 1), gmPnt3D(2, 0.6, 0));
    const Verdict off = pulled.Check();
    EXPECT_TRUE(Names(off, CsCutFaultKind::kNodeOffCurve, {"curve 1_1", "node " + Id(N(2, 1)), "lies 0.4 off the curve"}))
        << Dump(off);

    // A second hole over the blank that nothing cut.
    BuildQuadPatch(kSide);
    std::vector<std::unique_ptr<gmTrmLine>> more;
    more.push_back(Hole(4.2, 4.2, 4.8, 4.8, "1_2"));
    Operation half = HoleCut(std::move(more));
    CutHole();
    const Verdict uncut = half.Check();
    EXPECT_TRUE(Names(uncut, CsCutFaultKind::kUncut, {"curve 1_2", "kept element " + std::to_string(E(4, 4))})) << Dump(uncut);
    EXPECT_EQ(uncut.faults.size(), 1u) << Dump(uncut);

    // One square of the hole kept: its corner (2, 2) lies a whole square inside.
    BuildQuadPatch(kSide);
    Operation kept = HoleCut();
    CutHole(true);
    const Verdict across = kept.Check();
    EXPECT_TRUE(Names(across, CsCutFaultKind::kAcross, {"curve 1_1", "kept element " + std::to_string(E(1, 1)),
                                                        "node " + Id(N(2, 2)), "lies 1 inside the removed side"}))
        << Dump(across);
}

// The hole's corner (1, 1) turns by 90 degrees: its node may stand up to a
// quarter of the element holding it off the corner, not more.
TEST(MeshCheck, LetsANodeStandForASharpCornerWithinAQuarterOfItsElement)
{
    for (const double off : {0.15, 0.25}) {
        SCOPED_TRACE(off);
        BuildQuadPatch(kSide);
        Operation op = HoleCut();
        CutHole();
        dataManage.SetNode(N(1, 1), gmPnt3D(1 + off, 1 + off, 0));
        const Verdict v = op.Check();
        const bool near = off * std::sqrt(2.0) <= 0.25;
        EXPECT_EQ(v.sound, near) << Dump(v);
        EXPECT_EQ(Names(v, CsCutFaultKind::kNodeOffCurve, {"node " + Id(N(1, 1))}), !near) << Dump(v);
    }
}

// A 3D curve 0.4 above the blank with a gap of 0.5: a boundary along its
// foot lies on it, one 0.3 beside it does not. With seeds on both sides the
// curve removes nothing and needs no boundary at all.
TEST(MeshCheck, JudgesA3DCurveAcrossTheSurfaceWithinItsGap)
{
    const auto lifted = [](double gap) {
        std::vector<std::unique_ptr<gmTrmLine>> lines;
        auto line = std::make_unique<gmCut3DLine>(
            std::vector<gmPnt3D>{{1, 1, 0.4}, {3, 1, 0.4}, {3, 3, 0.4}, {1, 3, 0.4}, {1, 1, 0.4}}, 1);
        line->SetGap(gap);
        line->SetSeed(1);
        line->SetExid("3_1");
        lines.push_back(std::move(line));
        return lines;
    };
    BuildQuadPatch(kSide);
    Operation sound(lifted(0.5));
    CutHole();
    const Verdict cut = sound.Check();
    EXPECT_TRUE(cut.sound) << Dump(cut);

    BuildQuadPatch(kSide);
    Operation beside(lifted(0.5));
    CutHole();
    dataManage.SetNode(N(2, 1), gmPnt3D(2, 0.7, 0));
    const Verdict off = beside.Check();
    EXPECT_TRUE(Names(off, CsCutFaultKind::kNodeOffCurve, {"3D trim, curve 3_1", "node " + Id(N(2, 1)), "lies 0.26 off"}))
        << Dump(off);

    BuildQuadPatch(kSide);
    Operation bothKept(lifted(0.5));
    EXPECT_TRUE(bothKept.Check().sound);
    // The same in 2D: a trim curve always removes a side.
    BuildQuadPatch(kSide);
    Operation flat = HoleCut();
    EXPECT_TRUE(Names(flat.Check(), CsCutFaultKind::kUncut, {"curve 1_1"}));
}

// The two copies a slit makes of a node share its point: a slit through a
// node left off the line is named, and its copies are not joined, which
// would close the slit there.
TEST(MeshCheck, NamesASlitNodeOffTheLineAndNeverJoinsItsCopies)
{
    BuildQuadPatch(kSide);
    std::vector<std::unique_ptr<gmTrmLine>> lines;
    lines.push_back(Curve({{-1, 3, 0}, {kSide + 1, 3, 0}}, 0, "2_1"));
    Operation lance(std::move(lines));
    dataManage.SetNode(N(3, 3), gmPnt3D(3, 3.3, 0));
    std::vector<int> copies;
    for (int i = 0; i <= kSide; ++i) copies.push_back(NewNode(dataManage.GetNode(N(i, 3)).GetPoint().x(),
                                                              dataManage.GetNode(N(i, 3)).GetPoint().y()));
    for (int i = 0; i < kSide; ++i) {
        Rewrite(E(i, 2), {N(i, 2), N(i + 1, 2), copies[static_cast<size_t>(i + 1)], copies[static_cast<size_t>(i)]});
    }
    const Verdict v = lance.Check();
    EXPECT_FALSE(v.sound);
    EXPECT_TRUE(v.repairs.empty()) << Dump(v);
    EXPECT_TRUE(Names(v, CsCutFaultKind::kNodeOffCurve, {"node " + Id(N(3, 3)), "lies 0.3 off the curve"})) << Dump(v);
    EXPECT_TRUE(Names(v, CsCutFaultKind::kNodeOffCurve, {"node " + Id(copies[3]), "lies 0.3 off the curve"})) << Dump(v);
    EXPECT_FALSE(Names(v, CsCutFaultKind::kDuplicateNode, {})) << Dump(v);
}

TEST(MeshCheck, NamesALanceWithNoSlit)
{
    BuildQuadPatch(kSide);
    std::vector<std::unique_ptr<gmTrmLine>> lines;
    lines.push_back(Curve({{-1, 2.5, 0}, {3.5, 2.5, 0}}, 0, "2_1"));
    Operation lance(std::move(lines));
    const Verdict v = lance.Check();
    EXPECT_FALSE(v.sound);
    EXPECT_TRUE(Names(v, CsCutFaultKind::kNoSlit, {"2D lance, curve 2_1", "no free edge on either side"})) << Dump(v);
}

// The job the cutters once got wrong (a lance re-meshed along its line with no
// node doubled) is cut soundly now: the check lets it through and the slit is written.
TEST(MeshCheck, AOnceBrokenLanceNowPassesTheCheck)
{
    testutil::ScratchDir dir("meshcheck");
    const fs::path job = fs::path(CORVEX_TEST_DATA) / "cut-faults" / "lance-no-slit-straight-line";
    for (const char* name : {"job.dyn", "blank.dynain"}) fs::copy(job / name, dir.path() / name);
    const testutil::RunResult run = testutil::RunProgram(dir, "job.dyn");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("Verification failed"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(dir.path() / "TRIMMED.dynain"));
}
