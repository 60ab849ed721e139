// Hash tables, node-to-element topology and the topology operator that the
// cutting operations share.
#ifndef QDSTRIMBASE_H
#define QDSTRIMBASE_H

#include "qdsdatadef.h"
#include "qdsgeombase.h"

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class CsDataManager;

// The bucket count for a table of n entries: odd and not divisible by 5.
int qdxGetHashSize(int n);

// A key for an unordered pair of positive ids, -1 when either is below 1.
// Different pairs may share a key, so lookups always compare the data too.
int qdxGetHashKey(int a, int b);

template <class T>
class CsHash;

template <class T>
class CsItem {
public:
    const T& GetData() const { return data_; }
    T& GetData() { return data_; }
    int GetKey() const { return key_; }
    CsItem* GetNext() const { return next_; }

private:
    friend class CsHash<T>;
    CsItem(const T& data, int key) : data_(data), key_(key) {}

    T data_;
    int key_ = -1;
    CsItem* next_ = nullptr;
};

// A chained hash table over int keys. The bucket of a key is key mod
// capacity, and every chain keeps insertion order: callers that walk the
// table bucket by bucket get their results in that order.
//
// Entries live in a deque, which never moves an entry when it grows, so an
// entry found stays valid until it is removed; removed slots are reused.
template <class T>
class CsHash {
public:
    explicit CsHash(int capacity) : heads_(static_cast<size_t>(capacity < 1 ? 13 : capacity), nullptr) {}
    CsHash(const CsHash&) = delete;
    CsHash& operator=(const CsHash&) = delete;

    // Appends (data, key) to the key's chain unless an entry equal in both is
    // there already; the entry holding the data, null for a negative key.
    CsItem<T>* Insert(const T& data, int key);

    // The first entry with the key; the rest of the chain may hold other keys.
    CsItem<T>* Find(int key) const;
    CsItem<T>* GetFromKey(int key) const { return Find(key); }
    CsItem<T>* Find(const T& data, int key) const;

    void Remove(int key);
    void Remove(const T& data, int key);

    // The first entry of bucket b, null outside 0..capacity-1.
    CsItem<T>* GetItem(int b) const
    {
        return b >= 0 && b < Capacity() ? heads_[static_cast<size_t>(b)] : nullptr;
    }
    int Capacity() const { return static_cast<int>(heads_.size()); }
    int GetCount() const { return count_; }
    // The bucket of a key, -1 for a negative key.
    int HashFunction(int key) const { return key < 0 ? -1 : key % Capacity(); }
    int FindPos(int key) const { return HashFunction(key); }

private:
    void Unlink(int bucket, CsItem<T>* previous, CsItem<T>* item);

    std::vector<CsItem<T>*> heads_;
    std::deque<CsItem<T>> store_;
    std::vector<CsItem<T>*> free_;
    int count_ = 0;
};

template <class T>
CsItem<T>* CsHash<T>::Insert(const T& data, int key)
{
    const int bucket = HashFunction(key);
    if (bucket < 0) return nullptr;
    CsItem<T>* last = nullptr;
    for (CsItem<T>* item = heads_[static_cast<size_t>(bucket)]; item; item = item->next_) {
        if (item->key_ == key && item->data_ == data) return item;
        last = item;
    }
    CsItem<T>* added = nullptr;
    if (free_.empty()) {
        store_.push_back(CsItem<T>(data, key));
        added = &store_.back();
    } else {
        added = free_.back();
        free_.pop_back();
        added->data_ = data;
        added->key_ = key;
        added->next_ = nullptr;
    }
    (last ? last->next_ : heads_[static_cast<size_t>(bucket)]) = added;
    ++count_;
    return added;
}

template <class T>
CsItem<T>* CsHash<T>::Find(int key) const
{
    for (CsItem<T>* item = GetItem(HashFunction(key)); item; item = item->next_) {
        if (item->key_ == key) return item;
    }
    return nullptr;
}

template <class T>
CsItem<T>* CsHash<T>::Find(const T& data, int key) const
{
    for (CsItem<T>* item = GetItem(HashFunction(key)); item; item = item->next_) {
        if (item->key_ == key && item->data_ == data) return item;
    }
    return nullptr;
}

template <class T>
void CsHash<T>::Remove(int key)
{
    const int bucket = HashFunction(key);
    CsItem<T>* previous = nullptr;
    for (CsItem<T>* item = GetItem(bucket); item; previous = item, item = item->next_) {
        if (item->key_ == key) {
            Unlink(bucket, previous, item);
            return;
        }
    }
}

template <class T>
void CsHash<T>::Remove(const T& data, int key)
{
    const int bucket = HashFunction(key);
    CsItem<T>* previous = nullptr;
    for (CsItem<T>* item = GetItem(bucket); item; previous = item, item = item->next_) {
        if (item->key_ == key && item->data_ == data) {
            Unlink(bucket, previous, item);
            return;
        }
    }
}

template <class T>
void CsHash<T>::Unlink(int bucket, CsItem<T>* previous, CsItem<T>* item)
{
    (previous ? previous->next_ : heads_[static_cast<size_t>(bucket)]) = item->next_;
    item->next_ = nullptr;
    item->key_ = -1;
    free_.push_back(item);
    --count_;
}

// An edge between two nodes; equal to the same edge in either direction.
struct MeshEdge {
    MeshEdge() = default;
    MeshEdge(int a, int b) : node1(a), node2(b), count(1) {}

    int node1 = 0;
    int node2 = 0;
    int count = 0;

    friend bool operator==(const MeshEdge& a, const MeshEdge& b)
    {
        return (a.node1 == b.node1 && a.node2 == b.node2) || (a.node1 == b.node2 && a.node2 == b.node1);
    }
};

// Which shell elements meet at each node. Entry i - 1 belongs to node index i.
class CsNdElemTpy {
public:
    // Reads the global model.
    CsNdElemTpy();
    // Reads the given model (the model database binds its own topology so).
    explicit CsNdElemTpy(const CsDataManager& model) : model_(&model) {}

    // Fills an empty table from the model's shell elements.
    void CreateNdElemTpy();
    void ClearNdElemTpy();

    // Adds e1 and then e2 to the node's list, each when positive and not
    // listed yet.
    void AddNodeTpyElemt(int node, int e1, int e2);
    // Replaces the first occurrence of oldElem in the node's list.
    void ChangeNodeElemt(int node, int oldElem, int newElem);
    // Drops elem from the node's list (an element rewritten off the node).
    void RemoveNodeTpyElemt(int node, int elem);

    // Throws CsErrorMessage for a node that is not in the model or an empty
    // table. A model node made after the build has an empty list.
    const std::vector<int>& GetNodeTpyElArr(int node) const;
    // 1 and the list copied, or 0 where the other form throws.
    int GetNodeTpyElArr(int node, std::vector<int>& out) const;
    // The nodes next to the node in each of its elements (a neighbour shared
    // by two elements appears twice); 1 when any was found.
    int GetNodeAdjNdArr(int node, std::vector<int>& out) const;
    // The elements on both nodes, in the order of n2's list; their number.
    int GetEdgeNeibElem(int n1, int n2, std::vector<int>& out) const;
    // The element across edge n1-n2 from elem, 0 when there is none.
    int GetEdgeNextElem(int elem, int n1, int n2) const;

    bool IsEmpty() const { return table_.empty(); }

private:
    struct _node_to_elem {
        std::vector<int> elements;
    };

    bool IsUsableNode(int node) const;
    const std::vector<int>& ListOf(int node) const;

    const CsDataManager* model_;
    std::vector<_node_to_elem> table_;
    std::vector<int> none_;
};

// Which elements one element of the input mesh became.
class CsElemMap {
public:
    int SrcElem = 0;
    std::vector<int> NewElemArr;

    void AddNewElem(int e)
    {
        if (e > 0) NewElemArr.push_back(e);
    }
    void SetSrcElem(int e)
    {
        if (e > 0) SrcElem = e;
    }
    int GetSrcElem() const { return SrcElem; }
    int GetNewElem(int i) const
    {
        return i >= 0 && i < GetElemNum() ? NewElemArr[static_cast<size_t>(i)] : 0;
    }
    int GetElemNum() const { return static_cast<int>(NewElemArr.size()); }
    void SetNewElemArr(const std::vector<int>& elems) { NewElemArr = elems; }
    void ClearElemArr() { NewElemArr.clear(); }

    // The table's duplicate test: same source, same number of new elements.
    friend bool operator==(const CsElemMap& a, const CsElemMap& b)
    {
        return a.SrcElem == b.SrcElem && a.NewElemArr.size() == b.NewElemArr.size();
    }
};

// The tables the cutting operations of one run share. Each table is absent
// until created.
//
// The intersection-point tables are keyed by node indices, the adaptive ones
// by node exids, as the constraint records are.
class CsHashOpr {
public:
    using ElemPair = std::pair<int, int>;

    CsHashOpr() = default;
    CsHashOpr(const CsHashOpr&) = delete;
    CsHashOpr& operator=(const CsHashOpr&) = delete;

    // Creates the missing per-run tables and fills the adaptive ones from the
    // model; 1 when all exist.
    int CreateHash();
    // The intersection tables only (each lancing curve starts afresh).
    void CreateItrHash();
    // Creates the adaptive tables where missing and inserts every constraint
    // of the model. Throws CsErrorMemory when a table cannot be made.
    void CrtAdaptvHsh();
    void ReleaseItrHash();
    // Frees every table; the topology is left as it is.
    void Release();

    // ---- intersection points, keyed by the edge's two node indices
    void InsertItrPt(const gmItrPt& p);
    // A point already stored takes the new coordinates and the element as its
    // edge's second side, so a cut edge ends up with both its elements in one
    // record; other points are inserted.
    void AddItrPtArr(int element, const std::vector<gmItrPt>& points);
    CsItem<gmItrPt>* GetItemItrPt(int n1, int n2) const;
    // The first point on edge n1-n2 (either direction), null when none.
    gmItrPt* GetItrPt(int n1, int n2) const;
    int GetItrPt(int n1, int n2, gmItrPt& out) const;
    // The stored point equal to p (same segment, same edge).
    gmItrPt* GetExistItrPt(const gmItrPt& p) const;
    // The node of the first point on the edge that has one, 0 when none.
    int FindEdgeExistNode(const gmEdge& edge) const;
    void InsertItrNd(int node);
    const CsItem<int>* GetItemItrNd(int node) const;
    int GetItrNdSize() const;

    // ---- adaptive constraints (records of exids)
    void InsertAdpNd(const CsDataAdpv& c);
    // Node indices; nothing unless all three have an exid.
    void InsertAdpNd(int n1, int n2, int node);
    void RemoveAdpNd(const CsDataAdpv& c);
    void RemoveAdpNd(int n1, int n2, int node);
    // The first constraint of the node, from the dependent-node table only.
    void RemoveAdpNd(int node);
    bool IsAdptvNode(int node) const;
    const CsDataAdpv* GetCsAdpNd(int node) const;
    // The constraint hanging on edge n1-n2 (node indices), null when none.
    const CsDataAdpv* GetCsAdpNd(int n1, int n2) const;
    // The index of the node hanging on edge n1-n2; the result is node > 0.
    int GetAdpNdS(int n1, int n2, int& node) const;
    int GetAdpNdS(int n1, int n2) const;
    int GetAdpNum() const;
    // Records that map.SrcElem became map.NewElemArr. The elements made from
    // a piece are filed under the input element the piece descends from, so
    // each input element owns one list of everything ever cut from it.
    // 1 when recorded, 0 when refused (nothing changed then).
    int AddNewElemMap(const CsElemMap& map);
    // Copies the list of elements made from elem into out; out is left as it
    // is when nothing was made from elem.
    void GetOffSpring(int elem, std::vector<int>& out) const;
    // Inserts (new element, source element) under the new element.
    void AddNewElemPair(const ElemPair& pair);

    const CsHash<CsDataAdpv>* GetHashAdpNd() const { return HashAdpNd.get(); }
    const CsHash<gmItrPt>* GetHashItrPt() const { return HashItrPt.get(); }
    const CsHash<int>* GetHashItrNd() const { return HashItrNd.get(); }
    const CsHash<ElemPair>* GetHashElemPair() const { return HashElemPair.get(); }
    const CsHash<CsElemMap>* GetHashElemMap() const { return HashElemMap.get(); }
    CsNdElemTpy& GetTopology() { return topology_; }

private:
    std::unique_ptr<CsHash<CsDataAdpv>> HashAdpNd;
    std::unique_ptr<CsHash<CsDataAdpv>> HashAdpEdge;
    std::unique_ptr<CsHash<gmItrPt>> HashItrPt;
    std::unique_ptr<CsHash<int>> HashItrNd;
    std::unique_ptr<CsHash<ElemPair>> HashElemPair;
    std::unique_ptr<CsHash<CsElemMap>> HashElemMap;
    CsNdElemTpy topology_;
};

extern CsHashOpr hashOper;

// Whether test(elem, w) holds for an edge node-w of a valid element around
// node other than skip (-1: none).
bool AnyEdgeAt(int node, int skip, const std::function<bool(int elem, int w)>& test);

#endif
