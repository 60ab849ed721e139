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

TEST(ModelIds, NewNodesAndElementsNumberAboveTheLargestReadId)
{
    CsDataManager model;
    AddReadNode(model, 500);
    AddReadNode(model, 7);
    AddReadNode(model, 120);
    const int first = model.AddNode(gmPnt3D(1, 2, 3));
    const int second = model.AddNode(gmPnt3D(4, 5, 6));
    EXPECT_EQ(model.GetNodeExid(first), 501);
    EXPECT_EQ(model.GetNodeExid(second), 502);
    EXPECT_EQ(model.GetNodeMaxNo(), 502);

    AddReadShell(model, 90, 1, {500, 7, 120});
    AddReadShell(model, 3, 1, {500, 7, 120});
    const int nodes[3] = {1, 2, 3};
    const int made = model.AddElem(2, 3, nodes);
    EXPECT_EQ(model.GetElemExid(made), 91);
}

TEST(ModelIds, UpdateElemNdMapsNodeIdsAndRefusesUnknownOnes)
{
    CsDataManager model;
    AddReadNode(model, 30);
    AddReadNode(model, 20);
    AddReadNode(model, 10);
    AddReadShell(model, 1, 1, {10, 20, 30});
    model.UpdateElemNd();
    const CsDataElem& elem = model.GetElem(1);
    EXPECT_EQ(elem[0], 3);
    EXPECT_EQ(elem[1], 2);
    EXPECT_EQ(elem[2], 1);

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

    struct Row {
        long long start;
        int cid;
        std::vector<int> dofs;
        long long code;
    };
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
    CsDataNode big(1, gmPnt3D(), 10001000008LL);
    EXPECT_TRUE(big.GetSpc(cid, dofs));
    EXPECT_EQ(cid, 10001);
    EXPECT_EQ(std::vector<int>(dofs, dofs + 6), (std::vector<int>{0, 0, 1, 0, 0, 0}));

    CsDataNode empty(1, gmPnt3D(), 1000000);
    EXPECT_FALSE(empty.GetSpc(cid, dofs));
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

    KeySpc global{1, 0, {1, 0, 0, 0, 0, 0}};
    KeySpc undefinedSystem{2, 9, {1, 1, 1, 1, 1, 1}};
    KeySpc definedSystem{3, 4, {0, 1, 0, 0, 0, 0}};
    KeySpc unknownNode{99, 0, {1, 1, 1, 1, 1, 1}};
    for (const KeySpc& spc : {global, undefinedSystem, definedSystem, unknownNode}) model.AddSpcNode(spc);
    model.UpdateElemNd();

    EXPECT_EQ(model.GetNode(1).GetSpcCode(), 40);
    EXPECT_EQ(model.GetNode(2).GetSpcCode(), 0);
    EXPECT_EQ(model.GetNode(3).GetSpcCode(), 4000016);
    EXPECT_EQ(model.GetSpcNodeNum(), 0);
}

TEST(JobInformation, PartThicknessSetsAndAnnealScales)
{
    CsDataManager model;
    AddReadShell(model, 1, 10, {1, 2, 3});
    AddReadShell(model, 2, 20, {1, 2, 3});
    AddReadShell(model, 3, 30, {1, 2, 3});
    EXPECT_EQ(model.GetElemAnneal(1), 1.0f);  // no anneal entries at all

    CsDataInfo info;
    info.partThick = {{10, 1.5}, {10, 2.5}};
    info.partSet = {{100, {5, 10}}, {200, {10, 20}}};
    info.anneal = {CsAnneal(200, 0.25f), CsAnneal(100, 0.5f), CsAnneal(100, 0.75f)};
    model.SetDataInfo(info);

    EXPECT_EQ(model.GetPartThk(10), 1.5);
    EXPECT_EQ(model.GetPartThk(11), 1.0);
    EXPECT_EQ(model.GetElemPartSet(1), 100);
    EXPECT_EQ(model.GetElemPartSet(2), 200);
    EXPECT_EQ(model.GetElemPartSet(3), 0);
    EXPECT_EQ(model.GetElemPartSet(4), 0);
    EXPECT_EQ(model.GetElemAnneal(1), 0.5f);
    EXPECT_EQ(model.GetElemAnneal(2), 0.25f);
    EXPECT_EQ(model.GetElemAnneal(3), 1.0f);

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
