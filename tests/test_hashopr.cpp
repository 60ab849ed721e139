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

// Element e's nodes as exids.
std::vector<int> Exids(int e)
{
    std::vector<int> out;
    for (const int n : NodesOf(e)) out.push_back(dataManage.GetNodeExid(n));
    return out;
}

double AreaOf(int e) { return Area(NodesOf(e), gmVec3D(0, 0, 1)); }

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

// ---------------------------------------------------------------- UpdateAdpNd
//
// The coarse element E lies above edge 1-2 with node 10 hanging in its middle;
// two fine quadrilaterals below share node 10. The first fine one is then cut
// so that node 10 becomes a corner of a new element, which is what makes E
// split at it.

namespace {

constexpr int kD = 10;

// Fine elements under edge 1-2 (x from 0 to 2) and the cut of the first.
std::vector<std::vector<int>> FineBelow() { return {{20, 21, kD, 1}, {21, 22, 2, kD}}; }

std::vector<std::pair<int, gmPnt3D>> BaseNodes()
{
    return {{1, {0, 0, 0}}, {2, {2, 0, 0}}, {kD, {1.1, 0, 0}}, {20, {0, -1, 0}}, {21, {1, -1, 0}}, {22, {2, -1, 0}}};
}

// Cuts the first fine element in two, as a trim line would have.
int CutFirstFine(int fine)
{
    const int tri[3] = {Nd(20), Nd(21), Nd(kD)};
    const int rest[3] = {Nd(20), Nd(kD), Nd(1)};
    dataManage.SetElem(1, fine, 3, tri);
    return dataManage.AddElem(1, 3, rest);
}

struct Split {
    int coarse = 0;
    int made = 0;
    int result = 0;
    std::vector<int> newElems;
};

Split RunUpdate(int coarse, int elemNum)
{
    Split s;
    s.coarse = coarse;
    s.result = hashOper.UpdateAdpNd(elemNum, s.newElems);
    s.made = s.newElems.empty() ? 0 : s.newElems.back();
    return s;
}

bool InModelList(const CsDataAdpv& c)
{
    const std::vector<CsDataAdpv>& list = dataManage.GetAdpvArr();
    return std::find(list.begin(), list.end(), c) != list.end();
}

void ExpectNoRepeats()
{
    const std::vector<CsDataAdpv>& list = dataManage.GetAdpvArr();
    for (size_t i = 0; i < list.size(); ++i)
        for (size_t j = i + 1; j < list.size(); ++j) EXPECT_NE(list[i], list[j]) << "constraint listed twice";
}

}  // namespace

TEST(UpdateAdpNd, QuadrilateralAndTriangleRows)
{
    struct Row {
        const char* name;
        bool quad;         // coarse quadrilateral (1, 2, 3, 4), else triangle (1, 2, 3)
        int h;             // exid of the second hanging node, 0 for none
        int e1, e2;        // its edge
        gmPnt3D at;
        std::vector<int> made, coarse;
        bool hKept;
    };
    const std::vector<Row> rows = {
        {"quadrilateral", true, 0, 0, 0, {}, {4, 1, kD}, {kD, 2, 3, 4}, false},
        // The opposite edge's hanging node is a corner of both halves: its
        // constraint would name an edge no element has.
        {"quadrilateral, opposite edge", true, 30, 4, 3, {1, 2, 0}, {kD, 2, 3, 30}, {4, 1, kD, 30}, false},
        {"quadrilateral, edge before", true, 31, 4, 1, {0, 1, 0}, {3, kD, 2}, {1, kD, 3, 4}, true},
        {"triangle", false, 0, 0, 0, {}, {3, 1, kD}, {kD, 2, 3}, false},
        // The second hanging node became a corner of both pieces. Its
        // constraint was met first in the walk (smaller id) and kept then; it
        // must not stay in the model's list.
        {"triangle, edge before", false, 5, 3, 1, {0.5, 1, 0}, {5, 1, kD}, {3, 5, kD, 2}, false},
        {"triangle, edge after", false, 6, 2, 3, {1.5, 1, 0}, {kD, 2, 6}, {3, 1, kD, 6}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::pair<int, gmPnt3D>> nodes = BaseNodes();
        std::vector<std::vector<int>> elems{{1, 2, 3}};
        if (row.quad) {
            nodes.push_back({3, {2, 2, 0}});
            nodes.push_back({4, {0, 2, 0}});
            elems[0].push_back(4);
        } else {
            nodes.push_back({3, {1, 2, 0}});
        }
        std::vector<CsDataAdpv> cons{CsDataAdpv(kD, 1, 2)};
        if (row.h) {
            nodes.push_back({row.h, row.at});
            cons.emplace_back(row.h, row.e1, row.e2);
        }
        for (const auto& f : FineBelow()) elems.push_back(f);
        BuildWithIds(nodes, elems, cons);
        const int elemNum = dataManage.GetElemNumber();
        const double before = AreaOf(1);
        CutFirstFine(2);
        const Split s = RunUpdate(1, elemNum);
        EXPECT_EQ(s.result, 1);
        ASSERT_GT(s.made, elemNum + 1);
        EXPECT_TRUE(SameCycle(Exids(s.made), row.made));
        EXPECT_TRUE(SameCycle(Exids(1), row.coarse));
        EXPECT_NEAR(AreaOf(1) + AreaOf(s.made), before, 1e-12);
        EXPECT_GT(AreaOf(s.made), 0.0);
        EXPECT_GT(AreaOf(1), 0.0);
        // Node 10 is a corner now: its constraint is gone and it stays put.
        EXPECT_FALSE(hashOper.IsAdptvNode(Nd(kD)));
        EXPECT_FALSE(InModelList(CsDataAdpv(kD, 1, 2)));
        EXPECT_DOUBLE_EQ(dataManage.GetNode(Nd(kD)).GetPoint().x(), 1.1);
        if (row.h) {
            EXPECT_EQ(hashOper.IsAdptvNode(Nd(row.h)), row.hKept);
            EXPECT_EQ(InModelList(CsDataAdpv(row.h, row.e1, row.e2)), row.hKept);
        }
        EXPECT_EQ(dataManage.GetAdpvArr().empty(), !row.hKept);
        std::vector<int> offspring;
        hashOper.GetOffSpring(1, offspring);
        EXPECT_NE(std::find(offspring.begin(), offspring.end(), s.made), offspring.end());
        EXPECT_DOUBLE_EQ(dataManage.GetElem(s.made).GetThickness(), dataManage.GetElem(1).GetThickness());
        ExpectNoRepeats();
    }
}

TEST(UpdateAdpNd, KeptConstraintsAreListedOnce)
{
    // Constraint 7 shares a bucket with 10 + capacity; the split at the
    // second restarts the bucket and meets 7 again.
    const int size = qdxGetHashSize(2);
    const int second = kD + size;
    std::vector<std::pair<int, gmPnt3D>> nodes = {{1, {0, 0, 0}}, {2, {2, 0, 0}}, {3, {2, 2, 0}}, {4, {0, 2, 0}},
                                                  {second, {1.1, 0, 0}}, {20, {0, -1, 0}}, {21, {1, -1, 0}},
                                                  {22, {2, -1, 0}}, {40, {4, 0, 0}}, {41, {4, 2, 0}},
                                                  {kD, {3, 0.3, 0}}};
    // Node 10 hangs on edge 2-40 of the element on the right and touches no
    // element: it is kept and set to the middle of its edge.
    BuildWithIds(nodes, {{1, 2, 3, 4}, {20, 21, second, 1}, {21, 22, 2, second}, {2, 40, 41, 3}},
                 {CsDataAdpv(kD, 2, 40), CsDataAdpv(second, 1, 2)});
    ASSERT_EQ(hashOper.GetHashAdpNd()->FindPos(kD), hashOper.GetHashAdpNd()->FindPos(second));
    const int elemNum = dataManage.GetElemNumber();
    const int tri[3] = {Nd(20), Nd(21), Nd(second)};
    const int rest[3] = {Nd(20), Nd(second), Nd(1)};
    dataManage.SetElem(1, 2, 3, tri);
    dataManage.AddElem(1, 3, rest);
    std::vector<int> made;
    EXPECT_EQ(hashOper.UpdateAdpNd(elemNum, made), 1);
    EXPECT_EQ(made.size(), 1u);
    ASSERT_EQ(dataManage.GetAdpvArr().size(), 1u);
    EXPECT_EQ(dataManage.GetAdpvArr()[0], CsDataAdpv(kD, 2, 40));
    ExpectNoRepeats();
    EXPECT_DOUBLE_EQ(dataManage.GetNode(Nd(kD)).GetPoint().x(), 3.0);
    EXPECT_DOUBLE_EQ(dataManage.GetNode(Nd(kD)).GetPoint().y(), 0.0);
}

TEST(UpdateAdpNd, MidpointsDroppedEdgesAndUncutNeighbours)
{
    // Node 10 on edge 1-2 between the coarse element and the two fine ones,
    // nothing cut: it goes back to the middle and stays.
    std::vector<std::pair<int, gmPnt3D>> nodes = BaseNodes();
    nodes.push_back({3, {2, 2, 0}});
    nodes.push_back({4, {0, 2, 0}});
    std::vector<std::vector<int>> elems{{1, 2, 3, 4}};
    for (const auto& f : FineBelow()) elems.push_back(f);
    elems.push_back({20, 21, kD});  // a third element at node 10, from the input
    BuildWithIds(nodes, elems, {CsDataAdpv(kD, 1, 2)});
    std::vector<int> made;
    EXPECT_EQ(hashOper.UpdateAdpNd(dataManage.GetElemNumber(), made), 1);
    EXPECT_TRUE(made.empty());
    EXPECT_TRUE(InModelList(CsDataAdpv(kD, 1, 2)));
    EXPECT_DOUBLE_EQ(dataManage.GetNode(Nd(kD)).GetPoint().x(), 1.0);

    // An edge that two elements share after cutting no longer carries it.
    elems.push_back({1, 2, 22});
    BuildWithIds(nodes, elems, {CsDataAdpv(kD, 1, 2)});
    EXPECT_EQ(hashOper.UpdateAdpNd(dataManage.GetElemNumber(), made), 1);
    EXPECT_FALSE(hashOper.IsAdptvNode(Nd(kD)));
    EXPECT_TRUE(dataManage.GetAdpvArr().empty());

    ResetModel();
    EXPECT_EQ(hashOper.UpdateAdpNd(0, made), 0);
}
