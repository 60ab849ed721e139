#include "test_cutcheck.h"

#include <gtest/gtest.h>

using namespace cuttest;

namespace {

gmItrPt PointOn(int n1, int n2, int seg, const gmPnt3D& at, int elem)
{
    gmItrPt p(at, seg);
    gmEdge edge(n1, n2, 0, 1);
    edge.AddElemnt(elem);
    p.SetEdge(edge);
    return p;
}

// Node ids given with their places; elements on node ids.
void BuildWithIds(const std::vector<std::pair<int, gmPnt3D>>& nodes, const std::vector<std::vector<int>>& elems,
                  const std::vector<CsDataAdpv>& constraints)
{
    ResetModel();
    for (const auto& [id, p] : nodes) dataManage.AddNode(CsDataNode(id, p));
    for (size_t e = 0; e < elems.size(); ++e)
        dataManage.AddElem(CsDataElem(1, static_cast<int>(e) + 1, static_cast<int>(elems[e].size()), elems[e].data(), kEleShell));
    for (const CsDataAdpv& c : constraints) dataManage.AddAdpNd(c);
    dataManage.UpdateElemNd();
    hashOper.CreateHash();
}

int Nd(int exid) { return dataManage.GetNdidFromExid(exid); }

}  // namespace

TEST(HashOprPoints, SharedEdgeKeepsOneRecordWithBothElements)
{
    BuildQuadPatch(2);
    hashOper.AddItrPtArr(5, {PointOn(2, 5, 3, {1, 0.4, 0}, 5)});
    hashOper.AddItrPtArr(9, {PointOn(5, 2, 3, {1, 0.41, 0}, 9)});
    const gmItrPt* p = hashOper.GetItrPt(5, 2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetFstElemt(), 5);
    EXPECT_EQ(p->GetSecElemt(), 9);
    EXPECT_DOUBLE_EQ(p->GetPoint().y(), 0.41);
    EXPECT_EQ(hashOper.GetHashItrPt()->GetCount(), 1);
    // An element that comes back does not push out its neighbour.
    hashOper.AddItrPtArr(5, {PointOn(2, 5, 3, {1, 0.4, 0}, 5)});
    EXPECT_EQ(hashOper.GetItrPt(2, 5)->GetSecElemt(), 9);

    // Another segment on the same edge is another record; the edge's node is
    // found from either.
    hashOper.InsertItrPt(PointOn(2, 5, 7, {1, 0.8, 0}, 5));
    EXPECT_EQ(hashOper.FindEdgeExistNode(gmEdge(2, 5, 0, 0)), 0);
    hashOper.GetExistItrPt(PointOn(2, 5, 7, {}, 0))->AddNode();
    const int node = hashOper.FindEdgeExistNode(gmEdge(5, 2, 0, 0));
    EXPECT_GT(node, 0);
    EXPECT_DOUBLE_EQ(dataManage.GetNode(node).GetPoint().y(), 0.8);
    gmItrPt out;
    EXPECT_EQ(hashOper.GetItrPt(1, 5, out), 0);
    EXPECT_EQ(hashOper.GetItrPt(2, 5, out), 1);

    hashOper.InsertItrNd(node);
    EXPECT_NE(hashOper.GetItemItrNd(node), nullptr);
    EXPECT_EQ(hashOper.GetItrNdSize(), 1);
    hashOper.ReleaseItrHash();
    EXPECT_EQ(hashOper.GetItrPt(2, 5), nullptr);
    EXPECT_EQ(hashOper.GetItrNdSize(), 0);
    hashOper.CreateItrHash();
    EXPECT_EQ(hashOper.GetHashItrPt()->GetCount(), 0);
}

TEST(HashOprAdaptive, TablesByNodeAndByEdge)
{
    // Node 10 hangs on edge 1-2; the tables are filled from the model.
    BuildWithIds({{1, {0, 0, 0}}, {2, {2, 0, 0}}, {3, {2, 2, 0}}, {4, {0, 2, 0}}, {10, {1, 0, 0}}, {11, {2, 1, 0}}},
                 {{1, 2, 3, 4}}, {CsDataAdpv(10, 1, 2)});
    EXPECT_EQ(hashOper.GetAdpNum(), 1);
    EXPECT_TRUE(hashOper.IsAdptvNode(Nd(10)));
    EXPECT_EQ(hashOper.GetAdpNdS(Nd(2), Nd(1)), Nd(10));
    int node = 0;
    EXPECT_EQ(hashOper.GetAdpNdS(Nd(2), Nd(3), node), 0);
    EXPECT_EQ(node, 0);

    hashOper.InsertAdpNd(Nd(2), Nd(3), Nd(11));
    ASSERT_NE(hashOper.GetCsAdpNd(Nd(3), Nd(2)), nullptr);
    EXPECT_EQ(hashOper.GetCsAdpNd(Nd(11))->GetN2(), 3);
    hashOper.InsertAdpNd(Nd(2), Nd(3), 0);  // no exid: ignored
    EXPECT_EQ(hashOper.GetAdpNum(), 2);
    hashOper.RemoveAdpNd(Nd(3), Nd(2), Nd(11));
    EXPECT_EQ(hashOper.GetCsAdpNd(Nd(2), Nd(3)), nullptr);
    EXPECT_FALSE(hashOper.IsAdptvNode(Nd(11)));
    // The node form empties only the dependent-node table.
    hashOper.RemoveAdpNd(Nd(10));
    EXPECT_FALSE(hashOper.IsAdptvNode(Nd(10)));
    EXPECT_NE(hashOper.GetCsAdpNd(Nd(1), Nd(2)), nullptr);
}

