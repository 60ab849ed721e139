#include "qdstrimbase.h"

#include "qdsdatabase.h"
#include "qdsexception.h"

#include <algorithm>
#include <climits>

CsHashOpr hashOper;

namespace {

// Bucket count of the per-run tables.
constexpr int kRunTableSize = 1349;
// Corners within this share of a piece's length of one line leave it no area
// (rounding only: pieces flattened by a move lie on the line exactly).
constexpr double kFlatShare = 1e-6;

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

namespace {

void Keep(std::vector<CsDataAdpv>& kept, const CsDataAdpv& c)
{
    if (std::find(kept.begin(), kept.end(), c) == kept.end()) kept.push_back(c);
}

void Drop(std::vector<CsDataAdpv>& kept, const CsDataAdpv& c)
{
    kept.erase(std::remove(kept.begin(), kept.end(), c), kept.end());
}

void MoveToMiddle(int d, int n1, int n2)
{
    const gmPnt3D& a = dataManage.GetNode(n1).GetPoint();
    const gmPnt3D& b = dataManage.GetNode(n2).GetPoint();
    dataManage.SetNode(d, (a + b) * 0.5);
}

// Whether element e has a corner other than d where node d lies.
bool HasNodeAt(int e, int d)
{
    const CsDataElem& el = dataManage.GetElem(e);
    const gmPnt3D& p = dataManage.GetNode(d).GetPoint();
    for (int k = 0; k < el.GetNodeNum(); ++k) {
        if (el[k] != d && dataManage.GetNode(el[k]).GetPoint().DistTo(p) <= 1e-9 * (1.0 + p.DistTo(gmPnt3D()))) return true;
    }
    return false;
}

// Off the middle by more than rounding: something moved it on purpose.
bool AtMiddle(int d, int n1, int n2)
{
    const gmPnt3D& a = dataManage.GetNode(n1).GetPoint();
    const gmPnt3D& b = dataManage.GetNode(n2).GetPoint();
    return dataManage.GetNode(d).GetPoint().DistTo((a + b) * 0.5) <= 1e-6 * a.DistTo(b);
}

bool IsKept(int e)
{
    if (!dataManage.IsValidElem(e)) return false;
    const CsDataElem& el = dataManage.GetElem(e);
    return el.IsShell() && !el.IsToDel() && !el.IsDeleted();
}

bool HasEdge(const CsDataElem& el, int u, int v)
{
    const int n = el.GetNodeNum();
    for (int k = 0; k < n; ++k) {
        const int a = el[k];
        const int b = el[(k + 1) % n];
        if ((a == u && b == v) || (a == v && b == u)) return true;
    }
    return false;
}

// Whether element e's corners lie on one straight line; along is then its
// direction.
bool IsFlat(int e, gmVec3D& along)
{
    const CsDataElem& el = dataManage.GetElem(e);
    const int n = el.GetNodeNum();
    if (n != 3 && n != 4) return false;
    gmPnt3D p[4];
    for (int k = 0; k < n; ++k) p[k] = dataManage.GetNode(el[k]).GetPoint();
    int i = 0, j = 1;
    for (int a = 0; a < n; ++a) {
        for (int b = a + 1; b < n; ++b) {
            if (p[a].DistTo(p[b]) > p[i].DistTo(p[j])) {
                i = a;
                j = b;
            }
        }
    }
    const double length = p[i].DistTo(p[j]);
    if (!(length > 0.0)) return false;
    for (int k = 0; k < n; ++k) {
        if (p[k].DistTo(p[i], p[j]) > kFlatShare * length) return false;
    }
    along = p[j] - p[i];
    return true;
}

}  // namespace

void CsHashOpr::DropFlatPieces(std::vector<CsDataAdpv>& kept)
{
    // Only pieces of this operation: a corner of theirs is on its line.
    const auto ofThisCut = [this](int e) {
        const CsDataElem& el = dataManage.GetElem(e);
        for (int k = 0; k < el.GetNodeNum(); ++k) {
            if (GetItemItrNd(el[k])) return true;
        }
        return false;
    };
    std::vector<int> flat;
    std::vector<gmVec3D> alongs;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        gmVec3D along;
        if (IsKept(e) && IsFlat(e, along) && ofThisCut(e)) {
            flat.push_back(e);
            alongs.push_back(along);
        }
    }
    if (flat.empty()) return;
    topology_.ClearNdElemTpy();
    topology_.CreateNdElemTpy();
    const auto keptEdge = [](const std::vector<int>& around, int u, int v, const std::vector<int>& besides) {
        return std::any_of(around.begin(), around.end(), [&](int e) {
            return !Contains(besides, e) && IsKept(e) && HasEdge(dataManage.GetElem(e), u, v);
        });
    };
    // An edge of the group is met from outside by an element sharing it, by
    // the coarse element whose edge it halves, or by the fine ones halving it.
    const auto metFromOutside = [&](int u, int v, const std::vector<int>& group) {
        std::vector<int> around;
        topology_.GetEdgeNeibElem(u, v, around);
        if (keptEdge(around, u, v, group)) return true;
        const int eu = dataManage.GetNodeExid(u);
        const int ev = dataManage.GetNodeExid(v);
        for (const CsDataAdpv& c : kept) {
            const int n1 = dataManage.GetNdidFromExid(c.GetN1());
            const int n2 = dataManage.GetNdidFromExid(c.GetN2());
            const int d = dataManage.GetNdidFromExid(c.GetNode());
            if ((c.GetN1() == eu && c.GetN2() == ev) || (c.GetN1() == ev && c.GetN2() == eu)) {
                topology_.GetNodeTpyElArr(d, around);
                if (std::any_of(around.begin(), around.end(), [&](int e) { return !Contains(group, e) && IsKept(e); }))
                    return true;
            } else if ((c.GetNode() == eu && (c.GetN1() == ev || c.GetN2() == ev)) ||
                       (c.GetNode() == ev && (c.GetN1() == eu || c.GetN2() == eu))) {
                topology_.GetEdgeNeibElem(n1, n2, around);
                if (keptEdge(around, n1, n2, group)) return true;
            }
        }
        return false;
    };
    std::vector<int> grouped;
    std::vector<int> dropped;
    for (size_t s = 0; s < flat.size(); ++s) {
        if (Contains(grouped, flat[s])) continue;
        // Flat pieces sharing edges lie on one line and go together.
        std::vector<int> group{flat[s]};
        for (size_t g = 0; g < group.size(); ++g) {
            const CsDataElem& el = dataManage.GetElem(group[g]);
            const int n = el.GetNodeNum();
            for (int k = 0; k < n; ++k) {
                const int u = el[k];
                const int v = el[(k + 1) % n];
                std::vector<int> around;
                topology_.GetEdgeNeibElem(u, v, around);
                for (const int e : around) {
                    const bool joins = Contains(flat, e) && !Contains(group, e);
                    if (joins && HasEdge(dataManage.GetElem(e), u, v)) group.push_back(e);
                }
            }
        }
        grouped.insert(grouped.end(), group.begin(), group.end());
        // The group's outline runs along its line one way on one side and
        // back on the other. With nothing met on one side it is the edge of
        // the mesh there already: the pieces go and the mesh stays closed.
        bool met[2] = {false, false};
        for (const int e : group) {
            const CsDataElem& el = dataManage.GetElem(e);
            const int n = el.GetNodeNum();
            for (int k = 0; k < n; ++k) {
                const int u = el[k];
                const int v = el[(k + 1) % n];
                const bool inside = std::any_of(group.begin(), group.end(), [&](int o) {
                    return o != e && HasEdge(dataManage.GetElem(o), u, v);
                });
                if (inside) continue;
                const gmVec3D step = dataManage.GetNode(v).GetPoint() - dataManage.GetNode(u).GetPoint();
                met[step.Dot(alongs[s]) > 0.0 ? 0 : 1] |= metFromOutside(u, v, group);
            }
        }
        if (met[0] && met[1]) continue;
        for (const int e : group) dataManage.SetToDel(e);
        dropped.insert(dropped.end(), group.begin(), group.end());
    }
    if (dropped.empty()) return;
    // A constraint whose fine or coarse side went with the pieces holds nothing.
    std::vector<CsDataAdpv> gone;
    for (const CsDataAdpv& c : kept) {
        const int d = dataManage.GetNdidFromExid(c.GetNode());
        const int n1 = dataManage.GetNdidFromExid(c.GetN1());
        const int n2 = dataManage.GetNdidFromExid(c.GetN2());
        if (d < 1 || n1 < 1 || n2 < 1) continue;
        std::vector<int> around;
        topology_.GetNodeTpyElArr(d, around);
        std::vector<int> coarse;
        topology_.GetEdgeNeibElem(n1, n2, coarse);
        const bool touched = std::any_of(around.begin(), around.end(), [&](int e) { return Contains(dropped, e); }) ||
                             std::any_of(coarse.begin(), coarse.end(), [&](int e) { return Contains(dropped, e); });
        if (!touched) continue;
        const bool fine = std::any_of(around.begin(), around.end(), IsKept);
        if (!fine || !keptEdge(coarse, n1, n2, {})) gone.push_back(c);
    }
    for (const CsDataAdpv& c : gone) {
        RemoveAdpNd(c);
        Drop(kept, c);
    }
}

int CsHashOpr::UpdateAdpNd(int elemNum, std::vector<int>& newElems)
{
    if (!HashAdpNd) return 0;
    topology_.ClearNdElemTpy();
    topology_.CreateNdElemTpy();
    dataManage.RmvAllAdpNd();
    // The walk restarts a bucket after every change and so meets constraints
    // it has already kept; they are collected once here, and one removed
    // later (a split made its node a corner) is taken out again.
    std::vector<CsDataAdpv> kept;
    std::vector<int> elems;
    for (int b = 0; b < HashAdpNd->Capacity(); ++b) {
        const CsItem<CsDataAdpv>* item = HashAdpNd->GetItem(b);
        while (item) {
            const CsDataAdpv c = item->GetData();
            item = item->GetNext();
            const int d = dataManage.GetNdidFromExid(c.GetNode());
            const int n1 = dataManage.GetNdidFromExid(c.GetN1());
            const int n2 = dataManage.GetNdidFromExid(c.GetN2());
            if (d < 1 || n1 < 1 || n2 < 1) {
                Keep(kept, c);
                continue;
            }
            std::vector<int> around;
            topology_.GetNodeTpyElArr(d, around);
            topology_.GetEdgeNeibElem(n1, n2, elems);
            // A coarse element the cut removed owns its edge no longer: the
            // fine side then ends on the cut, and the constraint would name an
            // edge no written element has.
            elems.erase(std::remove_if(elems.begin(), elems.end(),
                                       [this](int e) {
                                           return !dataManage.IsValidElem(e) || dataManage.GetElem(e).IsToDel() ||
                                                  dataManage.GetElem(e).IsDeleted();
                                       }),
                        elems.end());
            // The fine side went with the cut while the coarse edge's ends
            // moved onto the line, leaving the hanging node off that edge: it
            // holds nothing, and split at, the coarse element would dip off
            // the line to it.
            const gmPnt3D& pa = dataManage.GetNode(n1).GetPoint();
            const gmPnt3D& pb = dataManage.GetNode(n2).GetPoint();
            if (!elems.empty() && !around.empty() && std::none_of(around.begin(), around.end(), IsKept) &&
                dataManage.GetNode(d).GetPoint().DistTo(pa, pb) > 1e-6 * pa.DistTo(pb)) {
                RemoveAdpNd(c);
                Drop(kept, c);
                item = HashAdpNd->GetItem(b);
                continue;
            }
            // A hanging node a cut moved onto the line carries the pieces built
            // there: put back on the middle it would pull them apart, so the
            // coarse element takes it as a corner instead. Not where the coarse
            // side made a node of its own at that point (an element at the
            // coarse edge's ends holds it): the two would be left side by side.
            std::vector<int> ends;
            topology_.GetNodeTpyElArr(n1, ends);
            std::vector<int> more;
            topology_.GetNodeTpyElArr(n2, more);
            ends.insert(ends.end(), more.begin(), more.end());
            const bool onLine = GetItemItrNd(d) != nullptr && !AtMiddle(d, n1, n2) &&
                                std::none_of(ends.begin(), ends.end(), [d](int e) { return HasNodeAt(e, d); });
            // The fine side keeps its hanging node on the middle of the edge
            // even where that edge now runs along the cut.
            if (around.size() <= 2 && !onLine) MoveToMiddle(d, n1, n2);
            if (around.size() <= 2 && !onLine && !elems.empty()) {
                Keep(kept, c);
                continue;
            }
            if (elems.size() != 1) {
                RemoveAdpNd(c);
                Drop(kept, c);
                item = HashAdpNd->GetItem(b);
                continue;
            }
            const bool madeNow = std::any_of(around.begin(), around.end(), [elemNum](int e) { return e > elemNum; });
            if (!madeNow && !onLine) {
                MoveToMiddle(d, n1, n2);
                Keep(kept, c);
                continue;
            }
            const int made = SplitAtHangingNode(c, elems.front(), d, n1, n2, kept);
            if (made > 0) {
                newElems.push_back(made);
                item = HashAdpNd->GetItem(b);
            }
        }
    }
    DropFlatPieces(kept);
    for (const CsDataAdpv& c : kept) dataManage.AddAdpNd(c);
    return 1;
}

int CsHashOpr::SplitAtHangingNode(const CsDataAdpv& c, int elem, int d, int n1, int n2, std::vector<CsDataAdpv>& kept)
{
    const CsDataElem& src = dataManage.GetElem(elem);
    const int count = src.GetNodeNum();
    if (count != 3 && count != 4) return 0;
    int l[4] = {};
    for (int k = 0; k < count; ++k) l[k] = src[k];
    int i1 = src.GetNodeIdx(n1);
    int i2 = src.GetNodeIdx(n2);
    if (i1 < 0 || i2 < 0) return 0;
    if ((i1 + 1) % count != i2) std::swap(i1, i2);
    if ((i1 + 1) % count != i2) return 0;  // not an edge of the element
    const int p = (i1 + count - 1) % count;
    const int q = (i2 + 1) % count;

    int made[4] = {};
    int madeCount = 3;
    int rest[4] = {};
    int restCount = count;
    std::copy(l, l + count, rest);
    const CsDataAdpv* removeH = nullptr;
    int h = 0;
    if (count == 3) {
        if (GetAdpNdS(l[p], l[i1], h)) {
            const int t[3] = {h, l[i1], d};
            const int r[4] = {l[p], h, d, l[i2]};
            std::copy(t, t + 3, made);
            std::copy(r, r + 4, rest);
            restCount = 4;
            removeH = GetCsAdpNd(l[p], l[i1]);
        } else if (GetAdpNdS(l[i2], l[q], h)) {
            const int t[3] = {d, l[i2], h};
            const int r[4] = {l[p], l[i1], d, h};
            std::copy(t, t + 3, made);
            std::copy(r, r + 4, rest);
            restCount = 4;
            removeH = GetCsAdpNd(l[i2], l[q]);
        } else {
            const int t[3] = {l[p], l[i1], d};
            std::copy(t, t + 3, made);
            rest[i1] = d;
        }
    } else if (GetAdpNdS(l[p], l[q], h)) {
        std::copy(l, l + 4, made);
        made[p] = h;
        made[i1] = d;
        madeCount = 4;
        const int r[4] = {l[p], l[i1], d, h};
        std::copy(r, r + 4, rest);
        // The opposite edge's hanging node is now a corner of both halves.
        removeH = GetCsAdpNd(l[p], l[q]);
    } else if (GetAdpNdS(l[p], l[i1], h)) {
        const int t[3] = {l[q], d, l[i2]};
        std::copy(t, t + 3, made);
        rest[i2] = d;
    } else {
        const int t[3] = {l[p], l[i1], d};
        std::copy(t, t + 3, made);
        rest[i1] = d;
    }

    const int part = src.GetPrtid();
    const double thick = src.GetThickness();
    const bool inner = src.IsInner();
    const bool toDel = src.IsToDel();
    const bool deleted = src.IsDeleted();
    if (removeH) {
        const CsDataAdpv gone = *removeH;
        RemoveAdpNd(gone);
        Drop(kept, gone);
    }
    dataManage.SetElem(part, elem, restCount, rest);
    const int added = dataManage.AddElem(part, madeCount, made);
    if (added < 1) return 0;
    CsElemMap map;
    map.SetSrcElem(elem);
    map.AddNewElem(added);
    AddNewElemMap(map);
    RemoveAdpNd(c);
    Drop(kept, c);
    dataManage.SetThickness(added, thick);
    if (inner) dataManage.SetInner(added);
    if (toDel) dataManage.SetToDel(added);
    if (deleted) dataManage.SetDeleted(added);
    return added;
}

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

bool CsHashOpr::HoldsEdgeNode(int node, int besides) const
{
    return AnyEdgeAt(node, -1, [&](int, int w) {
        const gmItrPt* p = GetItrPt(node, w);
        const int x = p ? p->GetNode() : 0;
        return x > 0 && x != node && x != w && x != besides;
    });
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
