#include "qdsdatabase.h"
#include "qdsexception.h"
#include "qdstrimbase.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Pair = std::pair<int, int>;

// The keys of every entry, bucket by bucket and along each chain: the order
// in which later code walks a table.
template <class T>
std::vector<int> WalkKeys(const CsHash<T>& hash)
{
    std::vector<int> keys;
    for (int b = 0; b < hash.Capacity(); ++b) {
        for (const CsItem<T>* item = hash.GetItem(b); item; item = item->GetNext()) keys.push_back(item->GetKey());
    }
    return keys;
}

// A 2 x 2 patch of quadrilaterals, node ids 1..9 row by row from the lower
// left, element ids 1..4, plus one solid that must stay out of the topology:
//
//   7---8---9
//   | 3 | 4 |
//   4---5---6
//   | 1 | 2 |
//   1---2---3
void BuildPatch(CsDataManager& model)
{
    for (int id = 1; id <= 9; ++id) model.AddNode(CsDataNode(id, gmPnt3D((id - 1) % 3, (id - 1) / 3, 0)));
    const int quads[4][4] = {{1, 2, 5, 4}, {2, 3, 6, 5}, {4, 5, 8, 7}, {5, 6, 9, 8}};
    for (int e = 0; e < 4; ++e) model.AddElem(CsDataElem(1, e + 1, 4, quads[e], kEleShell));
    const int solid[8] = {1, 2, 5, 4, 7, 8, 9, 6};
    model.AddElem(CsDataElem(2, 5, 8, solid, kEleSolid));
    model.UpdateElemNd();
}

// Each node of the patch lists the shells at it, in element order; the solid,
// which has every node but 3, is listed nowhere.
void ExpectPatchTopology(const CsNdElemTpy& tpy)
{
    const std::vector<std::vector<int>> at = {{1}, {1, 2}, {2}, {1, 3}, {1, 2, 3, 4}, {2, 4}, {3}, {3, 4}, {4}};
    for (int n = 1; n <= 9; ++n) EXPECT_EQ(tpy.GetNodeTpyElArr(n), at[static_cast<size_t>(n - 1)]) << "node " << n;
}

CsElemMap Map(int source, std::vector<int> made)
{
    CsElemMap map;
    map.SetSrcElem(source);
    for (const int e : made) map.AddNewElem(e);
    return map;
}

std::vector<int> OffSpring(const CsHashOpr& opr, int elem)
{
    std::vector<int> out{-1};
    opr.GetOffSpring(elem, out);
    return out;
}

}  // namespace

// Sizes are odd and no multiple of five; keys are symmetric, never negative,
// and -1 for an invalid id.
TEST(HashKeys, SizesAndEdgeKeys)
{
    for (int n = 0; n < 5000; ++n) {
        const int size = qdxGetHashSize(n);
        ASSERT_TRUE(size % 2 == 1 && size % 5 != 0) << n;
    }
    EXPECT_EQ(qdxGetHashKey(0, 5), -1);
    EXPECT_EQ(qdxGetHashKey(5, -2), -1);
    for (const Pair& p : {Pair{1, 2000000000}, Pair{2000000000, 2000000000}, Pair{12, 977}}) {
        EXPECT_EQ(qdxGetHashKey(p.first, p.second), qdxGetHashKey(p.second, p.first));
        EXPECT_GE(qdxGetHashKey(p.first, p.second), 0);
    }
    EXPECT_EQ(MeshEdge(4, 9), MeshEdge(9, 4));
}

TEST(HashTable, ChainsKeepInsertionOrderPerBucket)
{
    CsHash<Pair> hash(7);
    // Keys 3, 10, 17 share bucket 3; 5 has its own.
    for (const Pair& entry : {Pair{17, 1}, Pair{5, 2}, Pair{3, 3}, Pair{10, 4}, Pair{3, 5}}) hash.Insert(entry, entry.first);
    EXPECT_EQ(WalkKeys(hash), (std::vector<int>{17, 3, 10, 3, 5}));
    EXPECT_EQ(hash.Find(3)->GetData().second, 3);
    EXPECT_EQ(hash.Find(Pair{3, 5}, 3)->GetData().second, 5);
    EXPECT_EQ(hash.Find(24), nullptr);

    // A removed entry leaves the others in order; a new one, in its freed
    // place, still goes last.
    hash.Remove(3);
    EXPECT_EQ(hash.Find(3)->GetData().second, 5);
    hash.Insert({24, 6}, 24);
    EXPECT_EQ(WalkKeys(hash), (std::vector<int>{17, 10, 3, 24, 5}));
    hash.Remove(Pair{10, 999}, 10);  // no such entry
    hash.Remove(Pair{10, 4}, 10);
    EXPECT_EQ(WalkKeys(hash), (std::vector<int>{17, 3, 24, 5}));
    EXPECT_EQ(hash.GetCount(), 4);
}

TEST(HashTable, DuplicatesNegativeKeysAndCapacity)
{
    CsHash<int> hash(0);
    CsItem<int>* first = hash.Insert(42, 3);
    EXPECT_EQ(hash.Insert(42, 3), first);
    hash.Insert(42, 4);
    EXPECT_EQ(hash.Insert(1, -5), nullptr);
    EXPECT_EQ(hash.Find(-5), nullptr);
    hash.Remove(-5);
    EXPECT_EQ(hash.GetItem(-1), nullptr);
    EXPECT_EQ(hash.GetCount(), 2);

    // An entry found stays where it is while the table fills.
    for (int k = 0; k < 10000; ++k) hash.Insert(k, k);
    EXPECT_EQ(first->GetData(), 42);
    EXPECT_EQ(hash.Find(42, 3), first);
}

TEST(Topology, PatchQueries)
{
    CsDataManager model;
    BuildPatch(model);
    const CsNdElemTpy& tpy = model.GetTopology();
    ExpectPatchTopology(tpy);

    std::vector<int> common;
    EXPECT_EQ(model.GetEdgeNeibElem(2, 5, common), 2);
    EXPECT_EQ(common, (std::vector<int>{1, 2}));
    EXPECT_EQ(model.GetEdgeNeibElem(5, 8, common), 2);
    EXPECT_EQ(common, (std::vector<int>{3, 4}));  // in the order of the second node's list
    EXPECT_EQ(model.GetEdgeNeibElem(1, 9, common), 0);

    EXPECT_EQ(model.GetEdgeNextElem(2, 5, 1), 2);
    EXPECT_EQ(model.GetEdgeNextElem(5, 2, 2), 1);
    EXPECT_EQ(model.GetEdgeNextElem(1, 2, 1), 0);  // free boundary

    std::vector<int> adjacent;
    EXPECT_EQ(model.GetNodeAdjNdArr(5, adjacent), 1);
    // Each inner neighbour is shared by two elements and appears twice.
    EXPECT_EQ(adjacent, (std::vector<int>{2, 4, 2, 6, 4, 8, 6, 8}));
    EXPECT_EQ(model.GetNodeAdjNdArr(1, adjacent), 1);
    EXPECT_EQ(adjacent, (std::vector<int>{2, 4}));
}

TEST(Topology, InvalidNodesAndUpdates)
{
    CsDataManager model;
    BuildPatch(model);
    CsNdElemTpy& tpy = model.GetTopology();
    std::vector<int> out{7};
    EXPECT_EQ(tpy.GetNodeTpyElArr(0, out), 0);
    EXPECT_EQ(tpy.GetNodeTpyElArr(10, out), 0);
    EXPECT_THROW(tpy.GetNodeTpyElArr(10), CsErrorMessage);

    // A node made after the build has no elements yet, until it gets some.
    const int added = model.AddNode(gmPnt3D(3, 3, 0));
    EXPECT_TRUE(tpy.GetNodeTpyElArr(added).empty());
    tpy.AddNodeTpyElemt(added, 4, 4);
    tpy.AddNodeTpyElemt(added, 6, 4);
    tpy.AddNodeTpyElemt(added, -1, 0);
    EXPECT_EQ(tpy.GetNodeTpyElArr(added), (std::vector<int>{4, 6}));
    tpy.AddNodeTpyElemt(added + 1, 1, 2);  // not a node of the model
    EXPECT_EQ(tpy.GetNodeTpyElArr(added + 1, out), 0);

    tpy.ChangeNodeElemt(5, 3, 12);
    tpy.ChangeNodeElemt(5, 99, 13);  // not listed there: nothing changes
    EXPECT_EQ(tpy.GetNodeTpyElArr(5), (std::vector<int>{1, 2, 12, 4}));

    // A rebuild starts from scratch.
    model.UpdateNdElemTpy();
    ExpectPatchTopology(tpy);
    tpy.ClearNdElemTpy();
    EXPECT_TRUE(tpy.IsEmpty());
    EXPECT_EQ(tpy.GetNodeTpyElArr(5, out), 0);
    EXPECT_EQ(model.GetEdgeNextElem(2, 5, 1), 0);
}

// Pieces of pieces are filed under the input element they descend from,
// which is where the writer looks for the stresses they inherit.
TEST(ElementMaps, OffspringOfChainedCutsGoToTheInputElement)
{
    CsHashOpr opr;
    EXPECT_EQ(opr.AddNewElemMap(Map(1, {5})), 0);  // no tables yet
    ASSERT_EQ(opr.CreateHash(), 1);
    for (const CsElemMap& map : {Map(1, {10, 11}), Map(11, {12, 13}), Map(13, {14}), Map(2, {15}), Map(1, {16})})
        EXPECT_EQ(opr.AddNewElemMap(map), 1) << map.SrcElem;
    // An element made from its own offspring, or from itself, would make the
    // upward walk endless: refused, and nothing of it recorded.
    const int pairs = opr.GetHashElemPair()->GetCount();
    EXPECT_EQ(opr.AddNewElemMap(Map(10, {1})), 0);
    EXPECT_EQ(opr.AddNewElemMap(Map(10, {10})), 0);
    EXPECT_EQ(opr.GetHashElemPair()->GetCount(), pairs);
    EXPECT_EQ(opr.AddNewElemMap(Map(0, {20})), 0);
    EXPECT_EQ(opr.AddNewElemMap(Map(4, {})), 0);
    EXPECT_EQ(OffSpring(opr, 1), (std::vector<int>{10, 11, 12, 13, 14, 16}));
    EXPECT_EQ(OffSpring(opr, 2), (std::vector<int>{15}));
    EXPECT_EQ(OffSpring(opr, 3), (std::vector<int>{-1}));  // left as it was
    EXPECT_EQ(OffSpring(opr, 11), (std::vector<int>{-1}));

    // A piece recorded only as a pair: its own pieces are filed under the
    // input element, which gets a list then.
    opr.AddNewElemPair({30, 3});
    EXPECT_EQ(opr.AddNewElemMap(Map(30, {31})), 1);
    EXPECT_EQ(OffSpring(opr, 3), (std::vector<int>{31}));

    opr.Release();
    EXPECT_EQ(OffSpring(opr, 1), (std::vector<int>{-1}));
    EXPECT_EQ(opr.GetHashElemMap(), nullptr);
}
