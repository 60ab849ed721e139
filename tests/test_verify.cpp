// The mesh check after an operation: each kind of broken mesh is built by
// hand in a small model and must be named, with its element and node ids;
// what is safe to mend is mended; and a run the cutters get wrong stops
// before anything is written.
#include "test_cutcheck.h"
#include "test_helpers.h"

#include "qdsmessage.h"
#include "qdstrimalgo.h"
#include "qdstrimalgo_verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
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
std::string Id(int node) { return std::to_string(dataManage.GetNodeExid(node)); }
std::string El(int e) { return std::to_string(e); }

using Lines = std::vector<std::unique_ptr<gmTrmLine>>;

Lines Curve(const std::vector<gmPnt3D>& points, int flag, const char* id, Lines more = {})
{
    auto line = std::make_unique<gmCut2DLine>(points, flag);
    line->SetPntLcs(1);
    line->SetUcs(gmCrdSys());
    line->SetExid(id);
    more.insert(more.begin(), std::move(line));
    return more;
}

// A hole: the inside of the square goes.
Lines Hole(double x0, double y0, double x1, double y1, const char* id, Lines more = {})
{
    return Curve({{x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}, {x0, y1, 0}, {x0, y0, 0}}, 1, id, std::move(more));
}

Lines HoleLines(Lines more = {}) { return Hole(1, 1, 3, 3, "1_1", std::move(more)); }
Lines SlitLines() { return Curve({{-1, 3, 0}, {kSide + 1, 3, 0}}, 0, "2_1"); }

// A 3D curve 0.4 above the hole's outline (or other points), seeded to remove its inside.
Lines Lifted(const std::vector<gmPnt3D>& points = {{1, 1, 0.4}, {3, 1, 0.4}, {3, 3, 0.4}, {1, 3, 0.4}, {1, 1, 0.4}})
{
    Lines lines;
    auto line = std::make_unique<gmCut3DLine>(points, 1);
    line->SetGap(0.5);
    line->SetSeed(1);
    line->SetExid("3_1");
    lines.push_back(std::move(line));
    return lines;
}

int NewNode(double x, double y) { return dataManage.AddNode(gmPnt3D(x, y, 0.0)); }

void Rewrite(int elem, const std::vector<int>& nodes)
{
    dataManage.SetElem(1, elem, static_cast<int>(nodes.size()), nodes.data());
}

// A piece cut from elem, filed under it as the cutters file theirs.
void AddPiece(int from, const std::vector<int>& nodes)
{
    const int e = dataManage.AddElem(1, static_cast<int>(nodes.size()), nodes.data());
    dataManage.SetThickness(e, 1.5);
    CsElemMap map;
    map.SetSrcElem(from);
    map.AddNewElem(e);
    hashOper.AddNewElemMap(map);
}

// The four squares inside the hole [1, 3] x [1, 3] go.
void CutHole(bool keepFirst = false)
{
    for (const int e : {E(1, 1), E(2, 1), E(1, 2), E(2, 2)}) {
        if (!(keepFirst && e == E(1, 1))) dataManage.SetToDel(e);
    }
}

// The slit along y = 3: the row below gets copies of the line's nodes, where they stand.
std::vector<int> OpenSlit()
{
    std::vector<int> copies;
    for (int i = 0; i <= kSide; ++i) {
        const gmPnt3D& p = dataManage.GetNode(N(i, 3)).GetPoint();
        copies.push_back(NewNode(p.x(), p.y()));
    }
    for (int i = 0; i < kSide; ++i) {
        Rewrite(E(i, 2), {N(i, 2), N(i + 1, 2), copies[static_cast<size_t>(i + 1)], copies[static_cast<size_t>(i)]});
    }
    return copies;
}

// A coarse square beside four fine ones, node 7 hanging on its edge 2-5.
void BuildHanging()
{
    BuildModel({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {1, 0.5, 0}, {1.5, 0, 0}, {1.5, 0.5, 0},
                {1.5, 1, 0}, {2, 0.5, 0}},
               {{1, 2, 5, 4}, {2, 8, 9, 7}, {8, 3, 11, 9}, {7, 9, 10, 5}, {9, 11, 6, 10}}, {CsDataAdpv(7, 2, 5)});
}

void BuildPatch() { BuildQuadPatch(kSide); }

struct Verdict {
    bool sound = false;
    std::vector<CsCutFault> faults;
    std::vector<std::string> repairs;
    std::string shown;
};

// Builds the model, lets the check take its first look with the operation's
// lines, makes the change a test makes, and takes the check's verdict.
Verdict Judge(void (*build)(), Lines lines, const std::function<void()>& change,
              CsCutVerify::Stage stage = CsCutVerify::kCut)
{
    build();
    std::vector<gmTrmLine*> raw;
    for (const auto& line : lines) raw.push_back(line.get());
    CsCutVerify verify(raw);
    verify.Begin();
    change();
    Verdict v;
    testing::internal::CaptureStdout();
    v.sound = verify.Check(stage);
    v.shown = testing::internal::GetCapturedStdout();
    CsMessage::Free();
    v.faults = verify.GetFaults();
    v.repairs = verify.GetRepairs();
    return v;
}

// The hole cut soundly, then the change.
Verdict OnHole(const std::function<void()>& change, Lines more = {})
{
    return Judge(BuildPatch, HoleLines(std::move(more)), [&] {
        CutHole();
        change();
    });
}

Verdict OnHanging(const std::function<void()>& change) { return Judge(BuildHanging, {}, change, CsCutVerify::kRefinement); }

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
    return std::any_of(v.faults.begin(), v.faults.end(), [&](const CsCutFault& f) {
        return f.kind == kind &&
               std::all_of(words.begin(), words.end(), [&](const std::string& w) { return f.text.find(w) != std::string::npos; });
    });
}

}  // namespace

// Sound meshes pass as they are. What is safe to mend is mended, and the
// mesh then passes: two nodes at one point are joined, and a neighbour with a
// node on its edge is split there, the new piece filed under it (so it
// carries its records) with its thickness. A row's repair and state are taken
// right after its verdict, as the words of the next test are.
TEST(MeshCheck, SoundMeshesPassAndWhatIsSafeIsMended)
{
    struct Row {
        const char* what;
        Verdict v;
        std::string repair;  // none when empty
        bool mended = true;
    };
    int x = 0;
    int before = 0;
    const auto splitOff = [&before] {
        std::vector<int> offspring;
        hashOper.GetOffSpring(E(5, 4), offspring);
        return dataManage.GetElemNumber() == before + 1 &&
               std::count(offspring.begin(), offspring.end(), before + 1) == 1 &&
               dataManage.GetElem(before + 1).GetThickness() == 1.5;
    };
    const Row rows[] = {
        {"a hole", OnHole([] {}), ""},
        {"a slit across the patch", Judge(BuildPatch, SlitLines(), [] { OpenSlit(); }), ""},
        {"a refined mesh", OnHanging([] {}), ""},
        // A boundary along the foot of a 3D curve within its gap lies on it.
        {"a 3D hole", Judge(BuildPatch, Lifted(), [] { CutHole(); }), ""},
        // With seeds on both sides a 3D curve removes nothing.
        {"a 3D curve that keeps both sides", Judge(BuildPatch, Lifted(), [] {}), ""},
        // The hole's corner (1, 1) turns by 90 degrees: its node may stand up to
        // a quarter of the element holding it off the corner (0.21 here; the
        // next test has it 0.35 off).
        {"a node standing for a sharp corner", OnHole([] { dataManage.SetNode(N(1, 1), gmPnt3D(1.15, 1.15, 0)); }), ""},
        {"two nodes at one point", OnHole([&] {
             x = NewNode(4, 4);
             Rewrite(E(4, 4), {x, N(5, 4), N(5, 5), N(4, 5)});
         }),
         "nodes " + Id(N(4, 4)) + " and " + Id(x) + " at one point joined",
         NodesOf(E(4, 4)) == std::vector<int>{N(4, 4), N(5, 4), N(5, 5), N(4, 5)}},
        {"a node on a neighbour's edge", OnHole([&] {
             x = NewNode(5, 4.5);
             Rewrite(E(4, 4), {N(4, 4), N(5, 4), x, N(4, 5)});
             AddPiece(E(4, 4), {x, N(5, 5), N(4, 5)});
             before = dataManage.GetElemNumber();
         }),
         "element " + El(E(5, 4)) + " split at node " + Id(x), splitOff()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(row.v.sound) << Dump(row.v);
        EXPECT_TRUE(row.mended);
        if (row.repair.empty()) {
            EXPECT_TRUE(row.v.repairs.empty()) << Dump(row.v);
            EXPECT_TRUE(row.v.shown.empty()) << row.v.shown;
        } else {
            EXPECT_TRUE(row.v.repairs.size() == 1 && row.v.repairs[0].find(row.repair) != std::string::npos) << Dump(row.v);
        }
    }
}

// Each row's words are made right after its verdict (a braced list is
// evaluated in order), while the model the verdict was taken on still stands.
TEST(MeshCheck, NamesEachBrokenMeshAndMendsNone)
{
    struct Row {
        const char* what;
        Verdict v;
        std::vector<std::pair<CsCutFaultKind, std::vector<std::string>>> named;
        size_t faults = 0;  // the exact number, where the row has one
    };
    int x = 0;
    std::vector<int> copies;
    const Row rows[] = {
        // An edge two pieces leave open, far from every curve: a node 0.05 off the edge is no node on it.
        {"crack", OnHole([&] {
             x = NewNode(4.95, 4.5);
             Rewrite(E(4, 4), {N(4, 4), N(5, 4), x, N(4, 5)});
             AddPiece(E(4, 4), {x, N(5, 5), N(4, 5)});
         }),
         {{CsCutFaultKind::kOpenEdge, {"2D trim", "element " + El(E(5, 4)), "edge " + Id(N(5, 5)) + "-" + Id(N(5, 4)), "a crack"}}}},
        {"folded piece", OnHole([] { Rewrite(E(4, 4), {N(4, 4), N(4, 5), N(5, 5), N(5, 4)}); }),
         {{CsCutFaultKind::kFlipped, {"element " + El(E(4, 4)), "faces away"}}, {CsCutFaultKind::kFoldedEdge, {"the same way"}}}},
        // A ridge along the diagonal: each piece still faces up like its parent.
        {"pieces folded over each other", OnHole([&] {
             x = dataManage.AddNode(gmPnt3D(4.45, 4.55, 5.0));
             const int y = dataManage.AddNode(gmPnt3D(4.55, 4.45, 5.0));
             Rewrite(E(4, 4), {N(4, 4), N(5, 5), x});
             AddPiece(E(4, 4), {N(5, 5), N(4, 4), y});
         }),
         {{CsCutFaultKind::kFlipped, {"cut from one element, fold over each other along edge " + Id(N(4, 4)) + "-" + Id(N(5, 5))}}}},
        // Its parent leans over (z rises by 1.3 across it), so the piece faces
        // up in space like its parent, yet it lies turned over as the 2D cut sees it.
        {"piece turned over in the cut's view", Judge(
             [] {
                 BuildPatch();
                 for (int j = 0; j <= kSide; ++j) dataManage.SetNode(N(5, j), gmPnt3D(5, j, 1.3));
             },
             HoleLines(),
             [] {
                 CutHole();
                 Rewrite(E(4, 4), {N(4, 4), N(5, 4), N(5, 5)});
                 AddPiece(E(4, 4), {N(4, 4), N(5, 5), dataManage.AddNode(gmPnt3D(4.6, 4.4, 0.0))});
             }),
         {{CsCutFaultKind::kFlipped, {"seen along the cut's vector, lies turned over"}}}},
        // A piece 0.00004 wide along an edge 1 long: closed, convex, facing up, and useless.
        {"sliver", OnHole([&] {
             x = NewNode(4.5, 4.00004);
             Rewrite(E(4, 4), {N(4, 4), N(5, 4), x});
             AddPiece(E(4, 4), {x, N(5, 4), N(5, 5)});
             AddPiece(E(4, 4), {x, N(5, 5), N(4, 5), N(4, 4)});
         }),
         {{CsCutFaultKind::kBadElement, {"element " + El(E(4, 4)), "is a sliver"}}}, 1},
        {"concave quadrilateral", OnHole([&] {
             x = NewNode(4.3, 4.3);
             Rewrite(E(4, 4), {N(4, 4), N(5, 4), x, N(4, 5)});
             AddPiece(E(4, 4), {N(5, 4), N(5, 5), N(4, 5), x});
         }),
         {{CsCutFaultKind::kConcave, {"quadrilateral " + El(E(4, 4)), "concave at node " + Id(x)}}}, 1},
        {"hanging node off its edge", OnHanging([] { dataManage.SetNode(7, gmPnt3D(1, 0.6, 0)); }),
         {{CsCutFaultKind::kHangingOffEdge, {"adaptive refinement", "hanging node 7", "edge 2-5"}}}},
        {"constraint naming an unused node", OnHanging([&] {
             x = NewNode(3, 3);
             hashOper.InsertAdpNd(CsDataAdpv(9, 3, dataManage.GetNodeExid(x)));
         }),
         {{CsCutFaultKind::kConstraintNode, {"hanging node 9", "names node " + Id(x)}}}},
        {"coarse element gone, its constraint left", OnHanging([] { dataManage.SetToDel(1); }),
         {{CsCutFaultKind::kCoarseEdge, {"coarse edge 2-5", "belongs to 0"}}}},
        // Joining a copy of a hanging node would leave its constraint naming a node nothing uses.
        {"copy of a hanging node", OnHanging([&] {
             x = NewNode(1, 0.5);
             Rewrite(4, {x, 9, 10, 5});
         }),
         {{CsCutFaultKind::kDuplicateNode, {"nodes 7 and " + Id(x)}}}},
        {"a node too far from a sharp corner", OnHole([] { dataManage.SetNode(N(1, 1), gmPnt3D(1.25, 1.25, 0)); }),
         {{CsCutFaultKind::kNodeOffCurve, {"curve 1_1", "node " + Id(N(1, 1))}}}},
        {"boundary just off the curve", OnHole([] { dataManage.SetNode(N(2, 1), gmPnt3D(2, 0.95, 0)); }),
         {{CsCutFaultKind::kNodeOffCurve, {"curve 1_1", "node " + Id(N(2, 1)), "lies 0.05 off the curve"}}}},
        {"a second hole nothing cut", OnHole([] {}, Hole(4.2, 4.2, 4.8, 4.8, "1_2")),
         {{CsCutFaultKind::kUncut, {"curve 1_2", "kept element " + El(E(4, 4))}}}, 1},
        {"a 2D hole not cut at all", Judge(BuildPatch, HoleLines(), [] {}), {{CsCutFaultKind::kUncut, {"curve 1_1"}}}},
        // Its corner (2, 2) lies a whole square inside.
        {"one square of the hole kept", Judge(BuildPatch, HoleLines(), [] { CutHole(true); }),
         {{CsCutFaultKind::kAcross, {"curve 1_1", "kept element " + El(E(1, 1)), "node " + Id(N(2, 2)), "lies 1 inside the removed side"}}}},
        // Along edges first, where keeping both sides needs no boundary, then
        // through the squares' insides, which nothing cut.
        {"a 3D curve left uncut past a stretch along edges",
         Judge(BuildPatch, Lifted({{1, 1, 0.4}, {3, 1, 0.4}, {3, 3, 0.4}, {1.5, 3.5, 0.4}, {1, 1, 0.4}}), [] {}),
         {{CsCutFaultKind::kUncut, {"3D trim, curve 3_1", "runs uncut through kept element"}}}},
        {"3D boundary beside the curve's foot", Judge(BuildPatch, Lifted(), [] {
             CutHole();
             dataManage.SetNode(N(2, 1), gmPnt3D(2, 0.7, 0));
         }),
         {{CsCutFaultKind::kNodeOffCurve, {"3D trim, curve 3_1", "node " + Id(N(2, 1)), "lies 0.26 off"}}}},
        // The two copies a slit makes of a node share its point: they are never
        // joined, which would close the slit there.
        {"slit through a node off the line", Judge(BuildPatch, SlitLines(), [&] {
             dataManage.SetNode(N(3, 3), gmPnt3D(3, 3.3, 0));
             copies = OpenSlit();
         }),
         {{CsCutFaultKind::kNodeOffCurve, {"node " + Id(N(3, 3)), "lies 0.3 off the curve"}},
          {CsCutFaultKind::kNodeOffCurve, {"node " + Id(copies[3]), "lies 0.3 off the curve"}}}},
        // Open from the left edge to (3, 3), shut beyond: the line runs on across the patch.
        {"slit shut halfway", Judge(BuildPatch, SlitLines(), [&] {
             copies = OpenSlit();
             Rewrite(E(2, 2), {N(2, 2), N(3, 2), N(3, 3), copies[2]});
             for (int i = 3; i < kSide; ++i) Rewrite(E(i, 2), {N(i, 2), N(i + 1, 2), N(i + 1, 3), N(i, 3)});
         }),
         {{CsCutFaultKind::kNoSlit, {"2D lance, curve 2_1", "the slit is shut at node " + Id(N(3, 3))}}}},
        {"lance with no slit", Judge(BuildPatch, Curve({{-1, 2.5, 0}, {3.5, 2.5, 0}}, 0, "2_1"), [] {}),
         {{CsCutFaultKind::kNoSlit, {"2D lance, curve 2_1", "no free edge on either side"}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(row.v.sound) << Dump(row.v);
        EXPECT_TRUE(row.v.repairs.empty()) << Dump(row.v);
        for (const auto& [kind, words] : row.named) EXPECT_TRUE(Names(row.v, kind, words)) << Dump(row.v);
        if (row.faults) {
            EXPECT_EQ(row.v.faults.size(), row.faults) << Dump(row.v);
        }
        // Only the row that names two nodes at one point finds any.
        EXPECT_EQ(Names(row.v, CsCutFaultKind::kDuplicateNode, {}), row.named[0].first == CsCutFaultKind::kDuplicateNode)
            << Dump(row.v);
    }
}

// A cut the check fails stops its operation: the operation reports no success
// (so the run ends with status 255 and writes nothing, as after any failed
// operation) and says what is wrong.
TEST(MeshCheck, AFailedCheckStopsTheOperation)
{
    class Spoiled : public CsToolTrm {
    public:
        using CsToolTrm::CsToolTrm;
        int TrimElemArr() override
        {
            const int result = CsToolTrm::TrimElemArr();
            dataManage.SetNode(N(2, 1), gmPnt3D(2, 0.95, 0));  // a node of the new boundary pulled off the curve
            return result;
        }
    };
    BuildPatch();
    const Lines lines = HoleLines();
    Spoiled trim(lines);
    testing::internal::CaptureStdout();
    const int result = trim.Trimming();
    const std::string shown = testing::internal::GetCapturedStdout();
    CsMessage::Free();
    EXPECT_EQ(result, 0);
    for (const char* said : {"Verification failed: 2D trim, curve 1_1: element", "lies 0.05 off the curve", "2D trimming failed"})
        EXPECT_NE(shown.find(said), std::string::npos) << shown;
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
