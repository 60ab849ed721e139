#include "qdsdatabase.h"
#include "qdsexception.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

int AddReadNode(CsDataManager& model, int exid, double x = 0.0, double y = 0.0)
{
    return model.AddNode(CsDataNode(exid, gmPnt3D(x, y, 0.0)));
}

int AddReadShell(CsDataManager& model, int exid, int part, std::vector<int> nodeIds)
{
    return model.AddElem(CsDataElem(part, exid, static_cast<int>(nodeIds.size()), nodeIds.data(), kEleShell));
}

// The message of the error the call throws.
template <class Error>
std::string Thrown(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Error& e) {
        return e.GetText().c_str();
    }
    return "<nothing thrown>";
}

long long CodeAfter(long long start, int cid, std::vector<int> dofs)
{
    CsDataNode node(1, gmPnt3D(), start);
    node.AddSpc(cid, dofs.data());
    return node.GetSpcCode();
}

}  // namespace

// Read elements name nodes by id until UpdateElemNd maps them to indices;
// nodes and elements made later number above the largest id read.
TEST(ModelIds, ElementsMapToNodeIndicesAndNewIdsLieAboveTheReadOnes)
{
    CsDataManager model;
    for (const int id : {500, 7, 120}) AddReadNode(model, id);
    AddReadShell(model, 90, 1, {120, 500, 7});
    AddReadShell(model, 3, 1, {120, 500, 7});
    model.UpdateElemNd();
    const CsDataElem& elem = model.GetElem(1);
    EXPECT_EQ(std::vector<int>({elem[0], elem[1], elem[2]}), std::vector<int>({3, 1, 2}));

    EXPECT_EQ(model.GetNodeExid(model.AddNode(gmPnt3D(1, 2, 3))), 501);
    EXPECT_EQ(model.GetNodeExid(model.AddNode(gmPnt3D(4, 5, 6))), 502);
    EXPECT_EQ(model.GetNodeMaxNo(), 502);
    const int nodes[3] = {1, 2, 3};
    EXPECT_EQ(model.GetElemExid(model.AddElem(2, 3, nodes)), 91);

    CsDataManager broken;
    AddReadNode(broken, 1);
    AddReadShell(broken, 1, 1, {1, 1, 9});
    EXPECT_EQ(Thrown<CsErrorMessage>([&] { broken.UpdateElemNd(); }), "Invalid node id = 9\n");
}

// Node card codes (0..7 per card, out of range fixes nothing) and boundary
// constraints in local systems merge into one code.
TEST(Constraints, CodesMerge)
{
    CsDataNode node(1, gmPnt3D());
    node.AddSpc(1, 0);
    node.AddSpc(0, 3);
    node.AddSpc(8, -1);
    EXPECT_EQ(node.GetSpcCode(), 33);
    node.AddSpc(7, 7);
    EXPECT_EQ(node.GetSpcCode(), 63);

    struct Row { long long start; int cid; std::vector<int> dofs; long long code; };
    const Row rows[] = {
        {5000007, 5, {1, 1, 1, 0, 0, 0}, 5000063},
        {5000007, 6, {1, 1, 1, 0, 0, 0}, 6000056},
        {33, 0, {0, 0, 0, 0, 0, 1}, 33},
        {33, 2, {0, 0, 0, 1, 0, 0}, 2000004},
        {2000004, 0, {1, 0, 0, 0, 0, 0}, 32},
        // System 1 with nothing fixed is a local code: a global constraint
        // replaces it instead of landing in system 1.
        {1000000, 0, {1, 0, 0, 0, 0, 0}, 32},
        {0, 10001, {0, 0, 1, 0, 0, 0}, 10001000008LL},  // no overflow
    };
    for (const Row& r : rows) EXPECT_EQ(CodeAfter(r.start, r.cid, r.dofs), r.code) << r.start << " in " << r.cid;

    int cid = -1;
    int dofs[6] = {};
    EXPECT_TRUE(CsDataNode(1, gmPnt3D(), 10001000008LL).GetSpc(cid, dofs));
    EXPECT_EQ(cid, 10001);
    EXPECT_EQ(std::vector<int>(dofs, dofs + 6), (std::vector<int>{0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(CsDataNode(1, gmPnt3D(), 1000000).GetSpc(cid, dofs));
    EXPECT_EQ(cid, 1);
    EXPECT_FALSE(CsDataNode(1, gmPnt3D(), 0).GetSpc(cid, dofs));
}

TEST(Constraints, QueuedBoundaryConstraintsApplyOnlyInKnownSystems)
{
    CsDataManager model;
    CsDataNode first(1, gmPnt3D());
    first.AddSpc(3, 0);  // z from the node card: 8
    model.AddNode(first);
    AddReadNode(model, 2);
    AddReadNode(model, 3);
    AddReadShell(model, 1, 1, {1, 2, 3});
    KeyLCS lcs;
    lcs.cid = 4;
    model.AddLCS(lcs);

    // Global; in an undefined system; in a defined one; on an unknown node.
    for (const KeySpc& spc : {KeySpc{1, 0, {1, 0, 0, 0, 0, 0}}, KeySpc{2, 9, {1, 1, 1, 1, 1, 1}},
                              KeySpc{3, 4, {0, 1, 0, 0, 0, 0}}, KeySpc{99, 0, {1, 1, 1, 1, 1, 1}}})
        model.AddSpcNode(spc);
    model.UpdateElemNd();

    EXPECT_EQ(std::vector<long long>({model.GetNode(1).GetSpcCode(), model.GetNode(2).GetSpcCode(),
                                      model.GetNode(3).GetSpcCode()}),
              std::vector<long long>({40, 0, 4000016}));
    EXPECT_EQ(model.GetSpcNodeNum(), 0);
}

TEST(JobInformation, PartThicknessSetsAndAnnealScales)
{
    CsDataManager model;
    for (const int part : {10, 20, 30}) AddReadShell(model, part / 10, part, {1, 2, 3});
    EXPECT_EQ(model.GetElemAnneal(1), 1.0f);  // no anneal entries at all

    CsDataInfo info;
    info.partThick = {{10, 1.5}, {10, 2.5}};
    info.partSet = {{100, {5, 10}}, {200, {10, 20}}};
    info.anneal = {CsAnneal(200, 0.25f), CsAnneal(100, 0.5f), CsAnneal(100, 0.75f)};
    model.SetDataInfo(info);

    EXPECT_EQ(model.GetPartThk(10), 1.5);
    EXPECT_EQ(model.GetPartThk(11), 1.0);
    EXPECT_EQ(std::vector<int>({model.GetElemPartSet(1), model.GetElemPartSet(2), model.GetElemPartSet(3),
                                model.GetElemPartSet(4)}),
              std::vector<int>({100, 200, 0, 0}));
    EXPECT_EQ(std::vector<float>({model.GetElemAnneal(1), model.GetElemAnneal(2), model.GetElemAnneal(3)}),
              std::vector<float>({0.5f, 0.25f, 1.0f}));

    // Element 1's part is in both sets; only the second has an entry: factor 1.
    info.anneal = {CsAnneal(200, 0.25f)};
    model.SetDataInfo(info);
    EXPECT_EQ(model.GetElemAnneal(1), 1.0f);
}

TEST(JobInformation, WorkPathAndReleaseKeepWhatTheLogNeeds)
{
    CsDataManager model;
    model.SetCurWorkPath("job\\blank.dyn");
    EXPECT_EQ(model.GetDataFileName(), "job/blank.dyn");
    EXPECT_EQ(model.GetCurWorkPath(), "job");
    model.SetCurWorkPath("blank.dyn");
    EXPECT_EQ(model.GetCurWorkPath(), "");

    CsDataInfo info;
    info.keyId = "JOB_7";
    info.dataFile = "/deck/dir/blank.dynain";
    info.dataTrans = 4;
    info.anneal = {CsAnneal(1, 0.5f)};
    model.SetDataInfo(info);
    AddReadNode(model, 9);
    AddReadShell(model, 4, 1, {9, 9, 9});
    CsTrmCrv3D curve;
    curve.SetExid(3);
    model.AddLine(curve);
    model.UpdateElemNd();
    model.SetDynain(1);

    model.Release();
    EXPECT_TRUE(model.GetLineArr().empty());
    EXPECT_FALSE(model.IsDynain());
    EXPECT_EQ(model.GetDataFileTrans(), 0);
    EXPECT_TRUE(model.GetDataInfo().anneal.empty());
    EXPECT_EQ(model.GetStrKeyID(), "JOB_7");
    EXPECT_EQ(model.GetCurWorkPath(), "/deck/dir");
    // Numbering starts afresh for a model filled after a release.
    EXPECT_EQ(model.GetNodeExid(model.AddNode(gmPnt3D())), 1);
}
