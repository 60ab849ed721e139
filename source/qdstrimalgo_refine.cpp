// Adaptive refinement before cutting: the level of every element from the
// hanging-node constraints, and the split of the elements along the lines.
#include "qdsdatabase.h"
#include "qdsexception.h"
#include "qdstrimalgo.h"

#include <algorithm>

namespace {

const char* const kWrongNode = "Exception: Wrong Internal Node ID";
const char* const kSourceFile = "source/qdstrimalgo";

// The elements that have a-b as a real edge: two corners of a quadrilateral
// that face each other across it are no edge.
void EdgeElems(const CsNdElemTpy& tpy, int a, int b, std::vector<int>& out)
{
    out.clear();
    std::vector<int> around;
    tpy.GetEdgeNeibElem(a, b, around);
    for (const int e : around) {
        if (!dataManage.IsValidElem(e)) continue;
        const CsDataElem& el = dataManage.GetElem(e);
        const int n = el.GetNodeNum();
        const int k = el.GetNodeIdx(a);
        if (k < 0) continue;
        if (el[(k + 1) % n] == b || el[(k + n - 1) % n] == b) out.push_back(e);
    }
}

int NodeOf(int exid) { return dataManage.GetNdidFromExid(exid); }

}  // namespace

// ------------------------------------------------------------ levels

CsCalAdpLevel::CsCalAdpLevel(std::vector<int>& levels, const CsNdElemTpy& tpy)
    : elemLevel(levels), topology(tpy), adpvArr(dataManage.GetAdpvArr()), adpvNum(dataManage.GetAdpvNumber())
{
    firstByNode.reserve(adpvArr.size());
    for (int c = 1; c <= adpvNum; ++c) firstByNode.emplace_back(adpvArr[static_cast<size_t>(c - 1)].GetNode(), c);
    // Stable: among equal nodes the first constraint stays in front.
    std::stable_sort(firstByNode.begin(), firstByNode.end(),
                     [](const std::pair<int, int>& x, const std::pair<int, int>& y) { return x.first < y.first; });
}

int CsCalAdpLevel::FirstOfNode(int exid) const
{
    const auto it = std::lower_bound(firstByNode.begin(), firstByNode.end(), std::make_pair(exid, 0));
    return it != firstByNode.end() && it->first == exid ? it->second : 0;
}

int CsCalAdpLevel::CheckAdpNeibEle(int elemIdx, int group)
{
    if (Group(elemIdx) != 0) return -1;
    Group(elemIdx) = group;
    // A work stack rather than recursion: one group may hold most of the mesh.
    std::vector<int> stack{elemIdx};
    std::vector<int> across;
    while (!stack.empty()) {
        const int e = stack.back();
        stack.pop_back();
        const CsDataElem& el = dataManage.GetElem(e);
        const int n = el.GetNodeNum();
        for (int k = 0; k < n; ++k) {
            const int a = el[(k + n - 1) % n];
            const int b = el[k];
            const CsDataAdpv* h = hashOper.GetCsAdpNd(a, b);
            if (!h) {
                EdgeElems(topology, a, b, across);
                for (const int x : across) {
                    if (Group(x) != 0) continue;
                    Group(x) = group;
                    stack.push_back(x);
                }
                continue;
            }
            if (NodeOf(h->GetNode()) < 1) throw CsErrorMessage(kWrongNode, kSourceFile, 3308);
            const int j = FirstOfNode(h->GetNode());
            if (j == 0) continue;
            if (Coarse(j) != 0) {
                const int cj = Coarse(j);
                if (Fine(group) != 0 && Fine(cj) == 0) Fine(cj) = group;
                if (Fine(group) == 0) Fine(group) = cj;
            } else {
                Coarse(j) = group;
                if (Fine(j) != 0 && Coarse(Fine(j)) == 0) Coarse(Fine(j)) = group;
            }
        }
    }
    return 0;
}

int CsCalAdpLevel::GetAdpLevel(int group) const
{
    // The chain of coarse sides, walked without recursion; a group met twice
    // ends it as level 0, so a looping chain still gives an answer.
    std::vector<int> chain;
    int base = 0;
    int g = group;
    while (true) {
        if (g < 1 || g > adpvNum) break;
        const size_t i = static_cast<size_t>(g - 1);
        if (levelArr[i] > 0) {
            base = levelArr[i];
            break;
        }
        if (std::find(chain.begin(), chain.end(), g) != chain.end()) break;
        chain.push_back(g);
        if (coarseGrpArr[i] != 0) {
            g = coarseGrpArr[i];
        } else if (fineGrpArr[i] != 0) {
            const int f = fineGrpArr[i];
            g = f >= 1 && f <= adpvNum ? coarseGrpArr[static_cast<size_t>(f - 1)] : 0;
        } else {
            break;
        }
    }
    return base + static_cast<int>(chain.size());
}

void CsCalAdpLevel::SeedFineSide(int c, int d, int p)
{
    std::vector<int> elems;
    EdgeElems(topology, d, p, elems);
    for (const int e : elems) {
        if (Group(e) != 0) {
            Fine(c) = Group(e);
        } else {
            CheckAdpNeibEle(e, c);
        }
    }
}

int CsCalAdpLevel::Calculate()
{
    if (adpvNum == 0) return -1;
    const size_t count = static_cast<size_t>(adpvNum);
    fineGrpArr.assign(count, 0);
    coarseGrpArr.assign(count, 0);
    levelArr.assign(count, 0);

    std::vector<int> elems;
    for (int c = 1; c <= adpvNum; ++c) {
        const CsDataAdpv& a = adpvArr[static_cast<size_t>(c - 1)];
        const int d = NodeOf(a.GetNode());
        const int p1 = NodeOf(a.GetN1());
        const int p2 = NodeOf(a.GetN2());
        EdgeElems(topology, d, p1, elems);
        SeedFineSide(c, d, elems.empty() ? p2 : p1);
    }
    for (int c = 1; c <= adpvNum; ++c) {
        const int f = Fine(c);
        if (Coarse(c) != 0 && f != 0 && Coarse(f) == 0) Coarse(f) = Coarse(c);
        if (Coarse(c) == 0 && f != 0 && Coarse(f) != 0) Coarse(c) = Coarse(f);
    }
    for (int g = 1; g <= adpvNum; ++g) levelArr[static_cast<size_t>(g - 1)] = GetAdpLevel(g);

    for (int c = 1; c <= adpvNum; ++c) {
        if (levelArr[static_cast<size_t>(c - 1)] < 2) continue;
        const CsDataAdpv& a = adpvArr[static_cast<size_t>(c - 1)];
        const int d = NodeOf(a.GetNode());
        const int p1 = NodeOf(a.GetN1());
        const int p2 = NodeOf(a.GetN2());
        EdgeElems(topology, p1, p2, elems);
        if (elems.empty()) {
            SeedFineSide(c, d, p2);
            continue;
        }
        for (const int e : elems) {
            if (Group(e) != 0) continue;
            int g = Coarse(c);
            if (g == 0 && Fine(c) != 0) g = Coarse(Fine(c));
            if (g > 0) CheckAdpNeibEle(e, g);
        }
    }

    for (int& v : elemLevel) {
        if (v > 0) v = levelArr[static_cast<size_t>(v - 1)];
    }
    return 0;
}

// ------------------------------------------------------------ splitting

int CsAlgoTrm::RefineMesh()
{
    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    const int start = dataManage.GetElemNumber();
    std::vector<int> levels(static_cast<size_t>(start), 0);
    if (dataManage.GetAdpvNumber() > 0) {
        CsCalAdpLevel calc(levels, tpy);
        calc.Calculate();
    }

    const double twiceMin = 2.0 * dataManage.GetRefineMinLegth();
    const int limit = dataManage.RefineLevel() - 1;
    const bool closed = dataManage.RefineClosed();
    const int nodesBefore = dataManage.GetNodeNumber();

    std::vector<int> work;
    for (int i = 1; i <= start; ++i) {
        const int level = levels[static_cast<size_t>(i - 1)];
        if (level < 0 || level >= limit) continue;
        const CsDataElem& el = dataManage.GetElem(i);
        if (!el.IsShell()) continue;
        if (twiceMin > 0.01) {
            bool longEnough = true;
            const int n = el.GetNodeNum();
            for (int k = 0; k < n && longEnough; ++k) {
                const gmPnt3D a = dataManage.GetNode(el[k]).GetPoint();
                const gmPnt3D b = dataManage.GetNode(el[(k + 1) % n]).GetPoint();
                longEnough = a.DistTo(b) > twiceMin;
            }
            if (!longEnough) continue;
        }
        for (gmTrmLine* line : trmLineArr) {
            gmElemt shape(i);
            if (!line->IsIntersected(shape) && !(closed && line->IsInside(shape))) continue;
            work.assign(1, i);
            // The list grows while it is walked: coarse neighbours join it.
            for (size_t w = 0; w < work.size(); ++w) QuadElement(work[w], tpy, work, levels);
            break;
        }
    }

    // A midside node on the blank's border hangs on no coarser element: its
    // constraint would name an edge nobody has.
    std::vector<int> owners;
    for (int m = nodesBefore + 1; m <= dataManage.GetNodeNumber(); ++m) {
        const CsDataAdpv* c = hashOper.GetCsAdpNd(m);
        if (!c) continue;
        EdgeElems(tpy, NodeOf(c->GetN1()), NodeOf(c->GetN2()), owners);
        if (owners.empty()) {
            const CsDataAdpv gone = *c;
            hashOper.RemoveAdpNd(gone);
        }
    }
    return 0;
}

void CsAlgoTrm::QuadElement(int e, CsNdElemTpy& tpy, std::vector<int>& work, std::vector<int>& levels)
{
    if (!dataManage.IsValidElem(e)) return;
    const CsDataElem& el = dataManage.GetElem(e);
    const int n = el.GetNodeNum();
    if (n > 4 || n < 3 || !el.IsShell() || levels[static_cast<size_t>(e - 1)] < 0) return;
    const std::vector<int> nd = NodesOf(e);
    // Read before any node or element is added: the model's arrays may move.
    const int part = el.GetPrtid();
    const double thickness = el.GetThickness();
    const bool inner = el.IsInner();
    const bool toDel = el.IsToDel();

    std::vector<int> elems;
    for (int k = 0; k < n; ++k) {
        const CsDataAdpv* c = hashOper.GetCsAdpNd(nd[static_cast<size_t>(k)]);
        if (!c) continue;
        const int p1 = NodeOf(c->GetN1());
        const int p2 = NodeOf(c->GetN2());
        const int prev = nd[static_cast<size_t>((k + n - 1) % n)];
        const int next = nd[static_cast<size_t>((k + 1) % n)];
        if (p1 != prev && p1 != next && p2 != prev && p2 != next) continue;
        EdgeElems(tpy, p1, p2, elems);
        if (elems.size() == 1) work.push_back(elems.front());
    }

    gmPnt3D sum(0.0, 0.0, 0.0);
    for (const int v : nd) {
        const gmPnt3D p = dataManage.GetNode(v).GetPoint();
        sum = gmPnt3D(sum.x() + p.x(), sum.y() + p.y(), sum.z() + p.z());
    }
    const double inv = 1.0 / n;
    const int centre = dataManage.AddNode(gmPnt3D(sum.x() * inv, sum.y() * inv, sum.z() * inv));

    // edgeNode[k] lies on the edge from corner k-1 to corner k.
    std::vector<int> edgeNode(static_cast<size_t>(n), 0);
    for (int k = 0; k < n; ++k) {
        const int a = nd[static_cast<size_t>((k + n - 1) % n)];
        const int b = nd[static_cast<size_t>(k)];
        const CsDataAdpv* c = hashOper.GetCsAdpNd(a, b);
        if (c) {
            const int d = NodeOf(c->GetNode());
            if (d < 1) throw CsErrorMessage(kWrongNode, kSourceFile, 243);
            edgeNode[static_cast<size_t>(k)] = d;
            const CsDataAdpv resolved = *c;
            hashOper.RemoveAdpNd(resolved);
        } else {
            const gmPnt3D pa = dataManage.GetNode(a).GetPoint();
            const gmPnt3D pb = dataManage.GetNode(b).GetPoint();
            const int m =
                dataManage.AddNode(gmPnt3D(0.5 * (pa.x() + pb.x()), 0.5 * (pa.y() + pb.y()), 0.5 * (pa.z() + pb.z())));
            edgeNode[static_cast<size_t>(k)] = m;
            hashOper.InsertAdpNd(a, b, m);
        }
    }

    const int level = levels[static_cast<size_t>(e - 1)] + 1;
    std::vector<int> child(static_cast<size_t>(n), e);
    CsElemMap map;
    map.SetSrcElem(e);
    for (int k = 0; k < n; ++k) {
        const int quad[4] = {centre, edgeNode[static_cast<size_t>(k)], nd[static_cast<size_t>(k)],
                             edgeNode[static_cast<size_t>((k + 1) % n)]};
        if (k < n - 1) {
            const int added = dataManage.AddElem(part, 4, quad);
            dataManage.SetThickness(added, thickness);
            if (inner) dataManage.SetInner(added);
            if (toDel) dataManage.SetToDel(added);
            levels.push_back(level);
            map.AddNewElem(added);
            tpy.ChangeNodeElemt(nd[static_cast<size_t>(k)], e, added);
            child[static_cast<size_t>(k)] = added;
        } else {
            dataManage.SetElem(part, e, 4, quad);
        }
    }
    for (int k = 0; k < n; ++k) {
        tpy.AddNodeTpyElemt(edgeNode[static_cast<size_t>(k)], child[static_cast<size_t>((k + n - 1) % n)],
                            child[static_cast<size_t>(k)]);
        tpy.AddNodeTpyElemt(centre, child[static_cast<size_t>(k)], 0);
    }
    levels[static_cast<size_t>(e - 1)] = -level;
    hashOper.AddNewElemMap(map);
}
