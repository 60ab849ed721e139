#include "qdstrimbase.h"

#include "qdsdatabase.h"
#include "qdsexception.h"

#include <algorithm>
#include <climits>

CsHashOpr hashOper;

namespace {

// Bucket count of the per-run tables.
constexpr int kRunTableSize = 1349;

bool Contains(const std::vector<int>& list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

// ------------------------------------------------------ free functions

int qdxGetHashSize(int n)
{
    long long m = n % 2 != 0 ? n : static_cast<long long>(n) + 1111;
    if (m % 5 == 0) m += 1112;
    return static_cast<int>(std::min<long long>(m, INT_MAX));
}

int qdxGetHashKey(int a, int b)
{
    if (a < 1 || b < 1) return -1;
    // In 64 bits: ids above a billion would overflow the sum.
    const long long la = a;
    const long long lb = b;
    const long long h = (la + lb) / 2;
    const long long key = (la / h) * lb + (lb / h) * la;
    return static_cast<int>(key % INT_MAX);
}

// ---------------------------------------------------------- topology

CsNdElemTpy::CsNdElemTpy() : model_(&dataManage) {}

void CsNdElemTpy::CreateNdElemTpy()
{
    // Always from scratch: appending to a table built earlier would list
    // every element twice.
    ClearNdElemTpy();
    const int nodeCount = model_->GetNodeNumber();
    const std::vector<CsDataElem>& elems = model_->GetElemArr();
    // Counting first gives every list its exact size in one allocation.
    std::vector<int> counts(static_cast<size_t>(nodeCount), 0);
    for (const CsDataElem& elem : elems) {
        if (!elem.IsShell()) continue;
        for (int k = 0; k < elem.GetNodeNum(); ++k) {
            const int node = elem[k];
            if (node >= 1 && node <= nodeCount) ++counts[static_cast<size_t>(node - 1)];
        }
    }
    table_.resize(static_cast<size_t>(nodeCount));
    for (size_t i = 0; i < table_.size(); ++i) table_[i].elements.reserve(static_cast<size_t>(counts[i]));
    for (size_t e = 0; e < elems.size(); ++e) {
        const CsDataElem& elem = elems[e];
        if (!elem.IsShell()) continue;
        for (int k = 0; k < elem.GetNodeNum(); ++k) {
            const int node = elem[k];
            if (node >= 1 && node <= nodeCount) table_[static_cast<size_t>(node - 1)].elements.push_back(static_cast<int>(e + 1));
        }
    }
}

void CsNdElemTpy::ClearNdElemTpy() { std::vector<_node_to_elem>().swap(table_); }

bool CsNdElemTpy::IsUsableNode(int node) const { return !table_.empty() && model_->IsValidNode(node); }

const std::vector<int>& CsNdElemTpy::ListOf(int node) const
{
    return node >= 1 && static_cast<size_t>(node) <= table_.size() ? table_[static_cast<size_t>(node - 1)].elements : none_;
}

void CsNdElemTpy::AddNodeTpyElemt(int node, int e1, int e2)
{
    if (!model_->IsValidNode(node)) return;
    if (static_cast<size_t>(node) > table_.size()) table_.resize(static_cast<size_t>(node));
    std::vector<int>& list = table_[static_cast<size_t>(node - 1)].elements;
    if (e1 > 0 && !Contains(list, e1)) list.push_back(e1);
    if (e2 > 0 && !Contains(list, e2)) list.push_back(e2);
}

void CsNdElemTpy::ChangeNodeElemt(int node, int oldElem, int newElem)
{
    if (!IsUsableNode(node) || oldElem < 1 || newElem < 1) return;
    if (static_cast<size_t>(node) > table_.size()) return;
    std::vector<int>& list = table_[static_cast<size_t>(node - 1)].elements;
    const auto found = std::find(list.begin(), list.end(), oldElem);
    if (found != list.end()) *found = newElem;
}

void CsNdElemTpy::RemoveNodeTpyElemt(int node, int elem)
{
    if (node < 1 || static_cast<size_t>(node) > table_.size()) return;
    std::vector<int>& list = table_[static_cast<size_t>(node - 1)].elements;
    list.erase(std::remove(list.begin(), list.end(), elem), list.end());
}

const std::vector<int>& CsNdElemTpy::GetNodeTpyElArr(int node) const
{
    if (!IsUsableNode(node)) throw CsErrorMessage("Error Topology: Invalid Node ID", "source/qdstrimbase", __LINE__);
    return ListOf(node);
}

int CsNdElemTpy::GetNodeTpyElArr(int node, std::vector<int>& out) const
{
    if (!IsUsableNode(node)) return 0;
    out = ListOf(node);
    return 1;
}

int CsNdElemTpy::GetNodeAdjNdArr(int node, std::vector<int>& out) const
{
    out.clear();
    if (!IsUsableNode(node)) return 0;
    for (const int e : ListOf(node)) {
        if (!model_->IsValidElem(e)) continue;
        const CsDataElem& elem = model_->GetElem(e);
        const int count = elem.GetNodeNum();
        const int k = elem.GetNodeIdx(node);
        if (k < 0) continue;
        for (int j = 0; j < count; ++j) {
            if (j != k && (j == (k + 1) % count || j == (k + count - 1) % count)) out.push_back(elem[j]);
        }
    }
    return out.empty() ? 0 : 1;
}

int CsNdElemTpy::GetEdgeNeibElem(int n1, int n2, std::vector<int>& out) const
{
    out.clear();
    if (n1 < 1 || n2 < 1 || table_.empty()) return 0;
    const std::vector<int>& first = ListOf(n1);
    for (const int e : ListOf(n2)) {
        if (Contains(first, e)) out.push_back(e);
    }
    return static_cast<int>(out.size());
}

int CsNdElemTpy::GetEdgeNextElem(int elem, int n1, int n2) const
{
    if (n1 < 1 || n2 < 1 || table_.empty()) return 0;
    const std::vector<int>& first = ListOf(n1);
    for (const int e : ListOf(n2)) {
        if (e != elem && Contains(first, e)) return e;
    }
    return 0;
}

// --------------------------------------------------- topology operator

int CsHashOpr::CreateHash()
{
    if (!HashItrPt) HashItrPt = std::make_unique<CsHash<gmItrPt>>(kRunTableSize);
    if (!HashItrNd) HashItrNd = std::make_unique<CsHash<int>>(kRunTableSize);
    if (!HashElemMap) HashElemMap = std::make_unique<CsHash<CsElemMap>>(kRunTableSize);
    if (!HashElemPair) HashElemPair = std::make_unique<CsHash<ElemPair>>(kRunTableSize);
    if (!HashItrPt || !HashItrNd || !HashElemMap || !HashElemPair) return 0;
    CrtAdaptvHsh();
    return 1;
}

void CsHashOpr::CreateItrHash()
{
    if (!HashItrPt) HashItrPt = std::make_unique<CsHash<gmItrPt>>(kRunTableSize);
    if (!HashItrNd) HashItrNd = std::make_unique<CsHash<int>>(kRunTableSize);
    if (!HashItrPt || !HashItrNd) throw CsErrorMemory("Exception: No Enough memory", "source/qdstrimbase", __LINE__);
}

void CsHashOpr::CrtAdaptvHsh()
{
    const int size = qdxGetHashSize(dataManage.GetAdpvNumber());
    if (!HashAdpNd) HashAdpNd = std::make_unique<CsHash<CsDataAdpv>>(size);
    if (!HashAdpEdge) HashAdpEdge = std::make_unique<CsHash<CsDataAdpv>>(size);
    if (!HashAdpNd || !HashAdpEdge) throw CsErrorMemory("Exception: No Enough memory", "source/qdstrimbase", __LINE__);
    for (const CsDataAdpv& c : dataManage.GetAdpvArr()) InsertAdpNd(c);
}

void CsHashOpr::ReleaseItrHash()
{
    HashItrPt.reset();
    HashItrNd.reset();
}

void CsHashOpr::Release()
{
    HashAdpNd.reset();
    HashAdpEdge.reset();
    ReleaseItrHash();
    HashElemPair.reset();
    HashElemMap.reset();
}

// ------------------------------------------------ intersection points

namespace {

int EdgeKey(const gmEdge& e) { return qdxGetHashKey(e.GetFstNode(), e.GetEndNode()); }

bool OnEdge(const gmEdge& e, int n1, int n2)
{
    return (e.GetFstNode() == n1 && e.GetEndNode() == n2) || (e.GetFstNode() == n2 && e.GetEndNode() == n1);
}

}  // namespace

void CsHashOpr::InsertItrPt(const gmItrPt& p)
{
    if (HashItrPt) HashItrPt->Insert(p, EdgeKey(p.GetEdge()));
}

void CsHashOpr::AddItrPtArr(int element, const std::vector<gmItrPt>& points)
{
    if (!HashItrPt) return;
    for (const gmItrPt& p : points) {
        gmItrPt* stored = GetExistItrPt(p);
        if (!stored) {
            InsertItrPt(p);
            continue;
        }
        stored->SetPoint(p.GetPoint());
        // An element that comes back (its pieces are cut again) is already
        // one side of the edge; naming it twice would push out the neighbour.
        if (element != stored->GetFstElemt() && element != stored->GetSecElemt()) stored->AddElement(element);
    }
}

CsItem<gmItrPt>* CsHashOpr::GetItemItrPt(int n1, int n2) const
{
    return HashItrPt ? HashItrPt->Find(qdxGetHashKey(n1, n2)) : nullptr;
}

gmItrPt* CsHashOpr::GetItrPt(int n1, int n2) const
{
    for (CsItem<gmItrPt>* item = GetItemItrPt(n1, n2); item; item = item->GetNext()) {
        if (OnEdge(item->GetData().GetEdge(), n1, n2)) return &item->GetData();
    }
    return nullptr;
}

int CsHashOpr::GetItrPt(int n1, int n2, gmItrPt& out) const
{
    const gmItrPt* found = GetItrPt(n1, n2);
    if (!found) return 0;
    out = *found;
    return 1;
}

gmItrPt* CsHashOpr::GetExistItrPt(const gmItrPt& p) const
{
    if (!HashItrPt) return nullptr;
    CsItem<gmItrPt>* item = HashItrPt->Find(p, EdgeKey(p.GetEdge()));
    return item ? &item->GetData() : nullptr;
}

int CsHashOpr::FindEdgeExistNode(const gmEdge& edge) const
{
    const int n1 = edge.GetFstNode();
    const int n2 = edge.GetEndNode();
    for (const CsItem<gmItrPt>* item = GetItemItrPt(n1, n2); item; item = item->GetNext()) {
        const gmItrPt& p = item->GetData();
        if (OnEdge(p.GetEdge(), n1, n2) && p.GetNode() > 0) return p.GetNode();
    }
    return 0;
}

void CsHashOpr::InsertItrNd(int node)
{
    if (HashItrNd && node > 0) HashItrNd->Insert(node, node);
}

const CsItem<int>* CsHashOpr::GetItemItrNd(int node) const { return HashItrNd ? HashItrNd->Find(node, node) : nullptr; }

int CsHashOpr::GetItrNdSize() const { return HashItrNd ? HashItrNd->GetCount() : 0; }

// ----------------------------------------------- adaptive constraints

void CsHashOpr::InsertAdpNd(const CsDataAdpv& c)
{
    if (HashAdpNd) HashAdpNd->Insert(c, c.GetNode());
    if (HashAdpEdge) HashAdpEdge->Insert(c, qdxGetHashKey(c.GetN1(), c.GetN2()));
}

void CsHashOpr::InsertAdpNd(int n1, int n2, int node)
{
    const CsDataAdpv c(dataManage.GetNodeExid(node), dataManage.GetNodeExid(n1), dataManage.GetNodeExid(n2));
    if (c.GetNode() >= 1 && c.GetN1() >= 1 && c.GetN2() >= 1) InsertAdpNd(c);
}

void CsHashOpr::RemoveAdpNd(const CsDataAdpv& c)
{
    if (HashAdpNd) HashAdpNd->Remove(c, c.GetNode());
    if (HashAdpEdge) HashAdpEdge->Remove(c, qdxGetHashKey(c.GetN1(), c.GetN2()));
}

void CsHashOpr::RemoveAdpNd(int n1, int n2, int node)
{
    const CsDataAdpv c(dataManage.GetNodeExid(node), dataManage.GetNodeExid(n1), dataManage.GetNodeExid(n2));
    if (c.GetNode() >= 1 && c.GetN1() >= 1 && c.GetN2() >= 1) RemoveAdpNd(c);
}

void CsHashOpr::RemoveAdpNd(int node)
{
    const int exid = dataManage.GetNodeExid(node);
    if (HashAdpNd && exid >= 1) HashAdpNd->Remove(exid);
}

bool CsHashOpr::IsAdptvNode(int node) const { return GetCsAdpNd(node) != nullptr; }

const CsDataAdpv* CsHashOpr::GetCsAdpNd(int node) const
{
    const int exid = dataManage.GetNodeExid(node);
    if (!HashAdpNd || exid < 1) return nullptr;
    const CsItem<CsDataAdpv>* item = HashAdpNd->Find(exid);
    return item ? &item->GetData() : nullptr;
}

const CsDataAdpv* CsHashOpr::GetCsAdpNd(int n1, int n2) const
{
    const int e1 = dataManage.GetNodeExid(n1);
    const int e2 = dataManage.GetNodeExid(n2);
    if (!HashAdpEdge || e1 < 1 || e2 < 1) return nullptr;
    for (const CsItem<CsDataAdpv>* item = HashAdpEdge->Find(qdxGetHashKey(e1, e2)); item; item = item->GetNext()) {
        const CsDataAdpv& c = item->GetData();
        if ((c.GetN1() == e1 && c.GetN2() == e2) || (c.GetN1() == e2 && c.GetN2() == e1)) return &c;
    }
    return nullptr;
}

int CsHashOpr::GetAdpNdS(int n1, int n2, int& node) const
{
    const CsDataAdpv* c = GetCsAdpNd(n1, n2);
    node = c ? dataManage.GetNdidFromExid(c->GetNode()) : 0;
    return node > 0 ? 1 : 0;
}

int CsHashOpr::GetAdpNdS(int n1, int n2) const
{
    int node = 0;
    GetAdpNdS(n1, n2, node);
    return node;
}

int CsHashOpr::GetAdpNum() const { return HashAdpNd ? HashAdpNd->GetCount() : 0; }

int CsHashOpr::AddNewElemMap(const CsElemMap& map)
{
    const int source = map.SrcElem;
    if (source < 1 || !HashElemMap || !HashElemPair) return 0;
    std::vector<int> made;
    for (const int e : map.NewElemArr) {
        if (e > 0) made.push_back(e);
    }
    if (made.empty()) return 0;

    // Find the input element the source descends from. A pair table that
    // loops (an element recorded as made from its own offspring) is refused
    // rather than walked forever.
    CsItem<CsElemMap>* owner = HashElemMap->Find(source);
    std::vector<int> lineage{source};
    if (!owner) {
        int current = source;
        for (const CsItem<ElemPair>* up = HashElemPair->Find(current); up; up = HashElemPair->Find(current)) {
            current = up->GetData().second;
            if (Contains(lineage, current)) return 0;
            lineage.push_back(current);
        }
        if (current != source) owner = HashElemMap->Find(current);
    }
    for (const int e : made) {
        if (Contains(lineage, e)) return 0;
    }

    for (const int e : made) HashElemPair->Insert({e, source}, e);
    if (owner) {
        for (const int e : made) owner->GetData().AddNewElem(e);
        return 1;
    }
    // The root element (the source itself, or the input element a piece
    // descends from) has no list yet: start one, so that the pieces still
    // inherit its stresses.
    CsElemMap root;
    root.SetSrcElem(lineage.back());
    root.SetNewElemArr(made);
    HashElemMap->Insert(root, root.SrcElem);
    return 1;
}

void CsHashOpr::GetOffSpring(int elem, std::vector<int>& out) const
{
    if (!HashElemMap) return;
    const CsItem<CsElemMap>* found = HashElemMap->Find(elem);
    if (found) out = found->GetData().NewElemArr;
}

void CsHashOpr::AddNewElemPair(const ElemPair& pair)
{
    if (HashElemPair) HashElemPair->Insert(pair, pair.first);
}

bool AnyEdgeAt(int node, int skip, const std::function<bool(int elem, int w)>& test)
{
    std::vector<int> around;
    dataManage.GetNodeTpyElArr(node, around);
    for (const int e : around) {
        if (e == skip || !dataManage.IsValidElem(e)) continue;
        const CsDataElem& el = dataManage.GetElem(e);
        const int n = el.GetNodeNum();
        for (int i = 0; i < n; ++i) {
            if (el[i] != node) continue;
            for (const int w : {el[(i + n - 1) % n], el[(i + 1) % n]}) {
                if (test(e, w)) return true;
            }
        }
    }
    return false;
}
