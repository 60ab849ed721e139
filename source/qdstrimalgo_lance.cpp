// Lancing: the trimming walk along each lancing line, then the chain of nodes
// the line left is closed at the line's inner ends and one side of it gets
// copies of the chain's nodes, so the blank opens along the line.
#include "qdstrimalgo.h"
#include "qdstrimalgo_path.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace {

const int kProgress = 20000;
const double kFarAway = 1.0e8;

gmPnt3D PointOf(int node) { return dataManage.GetNode(node).GetPoint(); }

gmVec3D AreaVector(const std::vector<int>& nodes)
{
    gmVec3D sum(0.0, 0.0, 0.0);
    const gmPnt3D o = PointOf(nodes[0]);
    for (size_t i = 1; i + 1 < nodes.size(); ++i) sum += (PointOf(nodes[i]) - o).Cross(PointOf(nodes[i + 1]) - o);
    return sum;
}

double Perimeter(const std::vector<int>& nodes)
{
    double sum = 0.0;
    for (size_t i = 0; i < nodes.size(); ++i) sum += PointOf(nodes[i]).DistTo(PointOf(nodes[(i + 1) % nodes.size()]));
    return sum;
}

bool Repeats(std::vector<int> nodes)
{
    std::sort(nodes.begin(), nodes.end());
    return std::adjacent_find(nodes.begin(), nodes.end()) != nodes.end();
}

// Distance from p to the segment a-b.
double SegmentDist(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b)
{
    const gmVec3D ab = b - a;
    const double l2 = ab.Dot(ab);
    double t = l2 > 0.0 ? (p - a).Dot(ab) / l2 : 0.0;
    t = std::min(1.0, std::max(0.0, t));
    return p.DistTo(a + ab * t);
}

// Distance from p to the infinite line through a and b.
double LineDist(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b)
{
    const gmVec3D ab = b - a;
    const double len = ab.Length();
    if (len <= 0.0) return p.DistTo(a);
    return ab.Cross(p - a).Length() / len;
}

int Mod(int i, int n) { return ((i % n) + n) % n; }

}  // namespace

// ================================================================= base

CsAlgoLce::CsAlgoLce(const CsTrmLineOwners& lines) : CsAlgoTrm(lines, 0)
{
    hashOper.ReleaseItrHash();
}

CsAlgoLce::~CsAlgoLce() = default;

void CsAlgoLce::MessageBegin() { ShowBegin("*                Lancing                      *", "Lancing Begins, please wait...\n"); }

void CsAlgoLce::MessageEnd() { ShowEnd("Lancing Failed. No element lanced", nullptr, "Lancing finished successfully"); }

int CsAlgoLce::ProjectToElem(int elem, const gmPnt3D& p, gmPnt3D& out)
{
    if (elem < 1 || !dataManage.IsValidElem(elem)) return 0;
    gmElemt el(elem);
    return el.Project(p, out, 1);
}

bool CsAlgoLce::IsItrNode(int node) const { return node > 0 && hashOper.GetItemItrNd(node) != nullptr; }

bool CsAlgoLce::IsBdryNode(int node) const { return bdryNodes && node > 0 && bdryNodes->Find(node, node) != nullptr; }

bool CsAlgoLce::IsInnerEnd(int node) const
{
    return node > 0 && (node == lineStartNode || node == lineEndNode) && !IsBdryNode(node);
}

int CsAlgoLce::TrimElemArr()
{
    int count = dataManage.GetElemNumber();
    int result = 0;
    for (gmTrmLine* line : trmLineArr) {
        if (!line || !line->IsLancing()) continue;
        trmElemArr.clear();
        std::vector<CsXYZ> curve;
        for (const gmPnt3D& p : line->GetPntArr()) curve.push_back({p.x(), p.y(), p.z()});
        const bool closed = curve.size() > 2 && curve.front().x == curve.back().x && curve.front().y == curve.back().y &&
                            curve.front().z == curve.back().z;
        std::unique_ptr<CsCutMesh> mesh;
        if (const auto* flat = dynamic_cast<const gmCut2DLine*>(line)) mesh = CsCutMesh::Planar(flat->GetUcs());
        else if (const auto* spatial = dynamic_cast<const gmCut3DLine*>(line)) mesh = CsCutMesh::Spatial(spatial->GetGap());
        else continue;
        CsPathCut cut(*this, *mesh, line->GetRatio(), true, {});
        if (!cut.Cut(curve, closed)) {
            ShowCutFailure("Lancing", line->GetExid(), cut.Failure());
            return 0;
        }
        if (!cut.MetBlank()) continue;
        SlitAlong(cut);
        DropStaleConstraints();
        result = 1;
        if (dataManage.GetElemNumber() > count) {
            ShowGrowth("Lancing", line->GetExid(), count, dataManage.GetElemNumber());
            count = dataManage.GetElemNumber();
        }
    }
    return result;
}

void CsAlgoLce::SlitAlong(const CsPathCut& cut)
{
    std::set<std::pair<int, int>> path;
    for (const auto& [u, v] : cut.Edges()) path.insert({std::min(u, v), std::max(u, v)});
    CsNdElemTpy& tpy = dataManage.GetTopology();
    for (const int n : cut.Nodes()) {
        std::vector<int> around;
        tpy.GetNodeTpyElArr(n, around);
        around.erase(std::remove_if(around.begin(), around.end(), [](int e) { return !CsCutMesh::IsLive(e); }),
                     around.end());
        std::sort(around.begin(), around.end());
        around.erase(std::unique(around.begin(), around.end()), around.end());
        // The elements at n fall into sectors between the path's edges; each
        // sector but the first gets its own copy of n, which opens the slit.
        const auto neighbours = [](int e, int node) {
            const CsDataElem& el = dataManage.GetElem(e);
            const int m = el.GetNodeNum();
            const int k = el.GetNodeIdx(node);
            return std::make_pair(el[(k + 1) % m], el[(k + m - 1) % m]);
        };
        std::vector<int> group(around.size());
        for (size_t i = 0; i < around.size(); ++i) group[i] = static_cast<int>(i);
        const std::function<int(int)> root = [&](int i) {
            while (group[static_cast<size_t>(i)] != i) i = group[static_cast<size_t>(i)];
            return i;
        };
        for (size_t i = 0; i < around.size(); ++i) {
            const auto [ni, pi] = neighbours(around[i], n);
            for (size_t j = i + 1; j < around.size(); ++j) {
                const auto [nj, pj] = neighbours(around[j], n);
                for (const int w : {ni, pi}) {
                    if (w != nj && w != pj) continue;
                    if (path.count({std::min(n, w), std::max(n, w)})) continue;
                    const int a = root(static_cast<int>(i)), b = root(static_cast<int>(j));
                    group[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
                }
            }
        }
        std::map<int, int> copies;
        for (size_t i = 0; i < around.size(); ++i) {
            const int g = root(static_cast<int>(i));
            if (g == 0) continue;
            auto found = copies.find(g);
            if (found == copies.end()) {
                const CsDataNode& source = dataManage.GetNode(n);
                const int copy = dataManage.AddNode(CsDataNode(dataManage.GetNodeMaxNo() + 1, source.GetPoint(), source.GetSpcCode()));
                found = copies.emplace(g, copy).first;
            }
            const int e = around[i];
            std::vector<int> nodes = NodesOf(e);
            const std::vector<int> before = nodes;
            std::replace(nodes.begin(), nodes.end(), n, found->second);
            dataManage.SetElem(dataManage.GetElem(e).GetPrtid(), e, static_cast<int>(nodes.size()), nodes.data());
            SyncTopology(e, before);
            trmElemArr.push_back(e);
        }
    }
}

// ------------------------------------------------------------ hanging nodes

void CsAlgoLce::CheckAdpNode()
{
    const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd();
    if (!table) return;
    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    for (int b = 0; b < table->Capacity(); ++b) {
        bool restart = true;
        // A split removes the constraint it used, so each restart has one fewer to try.
        while (restart) {
            restart = false;
            std::vector<CsDataAdpv> bucket;
            for (const CsItem<CsDataAdpv>* item = table->GetItem(b); item; item = item->GetNext()) {
                bucket.push_back(item->GetData());
            }
            for (const CsDataAdpv& c : bucket) {
                const int d = dataManage.GetNdidFromExid(c.GetNode());
                const int p1 = dataManage.GetNdidFromExid(c.GetN1());
                const int p2 = dataManage.GetNdidFromExid(c.GetN2());
                if (!dataManage.IsValidNode(d) || !dataManage.IsValidNode(p1) || !dataManage.IsValidNode(p2)) continue;
                std::vector<int> owners;
                dataManage.GetEdgeNeibElem(p1, p2, owners);
                std::vector<int> onEdge;
                for (const int f : owners) {
                    const std::vector<int> nd = NodesOf(f);
                    const int n = static_cast<int>(nd.size());
                    const int k = static_cast<int>(std::find(nd.begin(), nd.end(), p1) - nd.begin());
                    if (k < n && (nd[static_cast<size_t>(Mod(k + 1, n))] == p2 || nd[static_cast<size_t>(Mod(k - 1, n))] == p2)) {
                        onEdge.push_back(f);
                    }
                }
                if (onEdge.size() != 1) continue;
                std::vector<int> aroundD;
                dataManage.GetNodeTpyElArr(d, aroundD);
                if (aroundD.size() < 3) continue;
                if (std::none_of(aroundD.begin(), aroundD.end(), [&](int x) { return x > elemNum; })) continue;
                const int f = onEdge.front();
                const std::vector<int> nd = NodesOf(f);
                const int n = static_cast<int>(nd.size());
                int i = static_cast<int>(std::find(nd.begin(), nd.end(), p1) - nd.begin());
                int j = static_cast<int>(std::find(nd.begin(), nd.end(), p2) - nd.begin());
                if (Mod(i + 1, n) != j) std::swap(i, j);
                const int pi = Mod(i - 1, n);
                const int nj = Mod(j + 1, n);
                const auto N = [&](int k) { return nd[static_cast<size_t>(k)]; };
                bool split = false;
                int removeToo = 0;
                int removeA = 0;
                int removeB = 0;
                if (n == 3) {
                    const int A = hashOper.GetAdpNdS(N(pi), N(i));
                    const int B = A > 0 ? 0 : hashOper.GetAdpNdS(N(j), N(pi));
                    if (A > 0) {
                        split = SplitPieces(f, {N(pi), A, d, N(j)}, {{A, N(i), d}});
                        removeToo = A, removeA = N(pi), removeB = N(i);
                    } else if (B > 0) {
                        split = SplitPieces(f, {N(pi), N(i), d, B}, {{d, N(j), B}});
                        removeToo = B, removeA = N(j), removeB = N(pi);
                    } else {
                        split = SplitPieces(f, {d, N(j), N(pi)}, {{N(pi), N(i), d}});
                    }
                } else {
                    const int A = hashOper.GetAdpNdS(N(pi), N(nj));
                    if (A > 0) {
                        split = SplitPieces(f, {N(pi), N(i), d, A}, {{d, N(j), N(nj), A}});
                        removeToo = A, removeA = N(pi), removeB = N(nj);
                    } else if (hashOper.GetAdpNdS(N(pi), N(i)) > 0) {
                        split = SplitPieces(f, {N(i), d, N(nj), N(pi)}, {{N(nj), d, N(j)}});
                    } else {
                        split = SplitPieces(f, {d, N(j), N(nj), N(pi)}, {{N(pi), N(i), d}});
                    }
                }
                if (!split) continue;
                if (removeToo > 0) hashOper.RemoveAdpNd(removeA, removeB, removeToo);
                hashOper.RemoveAdpNd(p1, p2, d);
                restart = true;
                break;
            }
        }
    }
}

// ------------------------------------------------------------ slitting

int CsAlgoLce::LanceElement(gmTrmLine* line)
{
    dataManage.UpdateNdElemTpy();
    if (!CheckHshItrNode()) return 0;
    if (!SearchItrElemnt()) return 0;
    if (!GetBoundaryNode()) return 0;
    CheckLineEndPnt(line);
    dataManage.UpdateNdElemTpy();
    // Closing the ends may have joined an entry node to the coarse element
    // beside it: a node that lay on an open edge before may now be inside.
    GetBoundaryNode();
    SplitItrElement();
    return sideElemArr.empty() ? 0 : 1;
}

int CsAlgoLce::CheckHshItrNode()
{
    const CsHash<gmItrPt>* table = hashOper.GetHashItrPt();
    if (table) {
        for (int b = 0; b < table->Capacity(); ++b) {
            for (const CsItem<gmItrPt>* item = table->GetItem(b); item; item = item->GetNext()) {
                const gmItrPt& p = item->GetData();
                if (p.GetNode() > 0) {
                    hashOper.InsertItrNd(p.GetNode());
                    continue;
                }
                const int first = p.GetEdge().GetFstNode();
                const int end = p.GetEdge().GetEndNode();
                if (!dataManage.IsValidNode(first) || !dataManage.IsValidNode(end)) continue;
                const double d1 = p.GetPoint().DistTo(PointOf(first));
                const double d2 = p.GetPoint().DistTo(PointOf(end));
                if (d1 < d2 && d1 < 0.1 * (d1 + d2)) hashOper.InsertItrNd(first);
                else if (d2 < d1 && d2 < 0.1 * (d1 + d2)) hashOper.InsertItrNd(end);
            }
        }
    }
    for (const int e : trmElemArr) {
        if (!dataManage.IsValidElem(e)) continue;
        const std::vector<int> nd = NodesOf(e);
        for (size_t k = 0; k < nd.size(); ++k) {
            const int a = nd[(k + nd.size() - 1) % nd.size()];
            const int b = nd[k];
            if (!IsItrNode(a) || !IsItrNode(b)) continue;
            const int h = hashOper.GetAdpNdS(a, b);
            if (h > 0) hashOper.InsertItrNd(h);
        }
    }
    return hashOper.GetItrNdSize() > 0 ? 1 : 0;
}

int CsAlgoLce::SearchItrElemnt()
{
    const std::vector<int> start = trmElemArr;
    for (const int e : start) {
        if (!dataManage.IsValidElem(e)) continue;
        for (const int v : NodesOf(e)) {
            if (!IsItrNode(v)) continue;
            std::vector<int> around;
            dataManage.GetNodeTpyElArr(v, around);
            trmElemArr.insert(trmElemArr.end(), around.begin(), around.end());
        }
    }
    std::sort(trmElemArr.begin(), trmElemArr.end());
    trmElemArr.erase(std::unique(trmElemArr.begin(), trmElemArr.end()), trmElemArr.end());
    return trmElemArr.empty() ? 0 : 1;
}

int CsAlgoLce::GetBoundaryNode()
{
    bdryNodes = std::make_unique<CsHash<int>>(1349);
    const int count = dataManage.GetElemNumber();
    CsHash<MeshEdge> edges(qdxGetHashSize(4 * count));
    for (int e = 1; e <= count; ++e) {
        const CsDataElem& el = dataManage.GetElem(e);
        if (el.IsToDel() || !el.IsShell()) continue;
        const std::vector<int> nd = NodesOf(e);
        for (size_t k = 0; k < nd.size(); ++k) {
            const MeshEdge edge(nd[k], nd[(k + 1) % nd.size()]);
            const int key = qdxGetHashKey(edge.node1, edge.node2);
            CsItem<MeshEdge>* found = edges.Find(edge, key);
            if (found) ++found->GetData().count;
            else edges.Insert(edge, key);
        }
    }
    for (int b = 0; b < edges.Capacity(); ++b) {
        for (const CsItem<MeshEdge>* item = edges.GetItem(b); item; item = item->GetNext()) {
            const MeshEdge& edge = item->GetData();
            if (edge.count != 1) continue;
            if (hashOper.GetCsAdpNd(edge.node1, edge.node2)) continue;
            if (hashOper.IsAdptvNode(edge.node1) || hashOper.IsAdptvNode(edge.node2)) continue;
            bdryNodes->Insert(edge.node1, edge.node1);
            bdryNodes->Insert(edge.node2, edge.node2);
        }
    }
    return 1;
}

// ------------------------------------------------------------ line ends

void CsAlgoLce::CheckLineEndPnt(gmTrmLine* line)
{
    if (!line || line->GetCount() < 2) return;
    if (line->IsAutoClosed()) return;
    // A 2D line is matched in its own plane, a 3D one in space.
    const bool planar = line->IsTrm2DLine();
    const gmPnt3D s = planar ? line->GetUcsAt(0) : line->GetFirst();
    const gmPnt3D t = planar ? line->GetUcsLast() : line->GetLast();
    int startElem = 0;
    int endElem = 0;
    gmPnt3D sOn;
    gmPnt3D tOn;
    const std::vector<int> touched = trmElemArr;
    for (const int e : touched) {
        if (startElem && endElem) break;
        gmPnt3D on;
        if (!startElem && ProjectToElem(e, s, on) && CheckElemItrPnt(e, lineStartNode)) {
            startElem = e;
            sOn = on;
        } else if (!endElem && ProjectToElem(e, t, on) && CheckElemItrPnt(e, lineEndNode)) {
            endElem = e;
            tOn = on;
        }
    }
    lineStartNode = startElem ? CheckLineEndPnt(startElem, sOn) : CheckTwoEndNode(lineStartNode);
    if (endElem) {
        // The start's repair may have rewritten the end's element: find it again.
        gmPnt3D on;
        if (!ProjectToElem(endElem, t, on)) {
            endElem = 0;
            for (const int e : trmElemArr) {
                if (ProjectToElem(e, t, on) && CheckElemItrPnt(e, lineEndNode)) {
                    endElem = e;
                    tOn = on;
                    break;
                }
            }
        }
    }
    lineEndNode = endElem ? CheckLineEndPnt(endElem, tOn) : CheckTwoEndNode(lineEndNode);
    if (lineStartNode > 0) hashOper.InsertItrNd(lineStartNode);
    if (lineEndNode > 0) hashOper.InsertItrNd(lineEndNode);
}

int CsAlgoLce::CheckElemItrPnt(int elem, int& node)
{
    if (!dataManage.IsValidElem(elem) || !dataManage.GetElem(elem).IsShell()) return 0;
    const std::vector<int> nd = NodesOf(elem);
    int prev = nd.back();
    if (IsItrNode(prev)) node = prev;
    for (const int v : nd) {
        if (IsItrNode(v)) {
            node = v;
            return 1;
        }
        if (hashOper.GetItrPt(prev, v)) return 1;
        prev = v;
    }
    return 0;
}

int CsAlgoLce::CheckTwoEndNode(int node)
{
    if (!dataManage.IsValidNode(node)) return 0;
    std::vector<int> adjacent;
    dataManage.GetNodeAdjNdArr(node, adjacent);
    std::sort(adjacent.begin(), adjacent.end());
    adjacent.erase(std::unique(adjacent.begin(), adjacent.end()), adjacent.end());
    int found = 0;
    int count = 0;
    for (const int v : adjacent) {
        if (IsItrNode(v)) {
            found = v;
            ++count;
        }
    }
    return count == 1 ? found : 0;
}

bool CsAlgoLce::MoveNodeSoundly(int node, const gmPnt3D& q)
{
    std::vector<int> around;
    dataManage.GetNodeTpyElArr(node, around);
    std::vector<gmVec3D> before;
    for (const int e : around) before.push_back(AreaVector(NodesOf(e)));
    const gmPnt3D old = PointOf(node);
    dataManage.SetNode(node, q);
    for (size_t k = 0; k < around.size(); ++k) {
        const std::vector<int> nd = NodesOf(around[k]);
        const double per = Perimeter(nd);
        if (AreaVector(nd).Dot(before[k]) <= 1.0e-9 * per * per * before[k].Length()) {
            dataManage.SetNode(node, old);
            ShowLine("Lancing: the line end is not moved onto node %d, an element would fold\n",
                     dataManage.GetNodeExid(node));
            return false;
        }
    }
    return true;
}

bool CsAlgoLce::SplitPieces(int src, std::vector<int> srcNodes, std::vector<std::vector<int>> pieces,
                            std::vector<int>* added)
{
    const std::vector<int> before = NodesOf(src);
    const gmVec3D facing = AreaVector(before);
    const double whole = facing.Length();
    std::vector<std::vector<int>*> all{&srcNodes};
    for (auto& p : pieces) all.push_back(&p);
    double sum = 0.0;
    bool sound = whole > 0.0;
    for (std::vector<int>* p : all) {
        if (!sound) break;
        if (p->size() < 3 || p->size() > 4 || Repeats(*p)) {
            sound = false;
            break;
        }
        // A piece listed against the element's turning is taken the right way round.
        if (AreaVector(*p).Dot(facing) < 0.0) std::reverse(p->begin(), p->end());
        const double along = AreaVector(*p).Dot(facing) / whole;
        const double per = Perimeter(*p);
        if (along <= 1.0e-9 * per * per) sound = false;
        sum += along;
    }
    // Pieces that overlap or leave a gap do not add up to the element.
    if (sound && std::fabs(sum - whole) > 1.0e-6 * whole) sound = false;
    if (!sound) {
        ShowLine("Lancing: element %d is left unsplit at the line end, a piece would be flat or folded\n",
                 dataManage.GetElemExid(src));
        return false;
    }
    const CsDataElem& from = dataManage.GetElem(src);
    const int part = from.GetPrtid();
    const double thickness = from.GetThickness();
    const bool inner = from.IsInner();
    const bool toDel = from.IsToDel();
    const bool deleted = from.IsDeleted();
    dataManage.SetElem(part, src, static_cast<int>(srcNodes.size()), srcNodes.data());
    CsElemMap map;
    map.SetSrcElem(src);
    std::vector<int> made;
    for (const std::vector<int>& p : pieces) {
        const int e = dataManage.AddElem(part, static_cast<int>(p.size()), p.data());
        if (inner) dataManage.SetInner(e);
        if (toDel) dataManage.SetToDel(e);
        if (deleted) dataManage.SetDeleted(e);
        dataManage.SetThickness(e, thickness);
        trmElemArr.push_back(e);
        map.AddNewElem(e);
        made.push_back(e);
    }
    hashOper.AddNewElemMap(map);
    SyncTopology(src, before);
    for (const int e : made) SyncTopology(e, {});
    if (added) *added = made;
    return true;
}

int CsAlgoLce::EndOnEdge(int elem, int x, int y, const gmPnt3D& q, std::vector<int> nd,
                         std::vector<std::vector<int>> pieces)
{
    const gmPnt3D px = PointOf(x);
    const gmVec3D xy = PointOf(y) - px;
    const double l2 = xy.Dot(xy);
    if (l2 <= 0.0) return 0;
    // The end goes onto the edge: a node off it would leave the pieces short
    // of the element, or overlapping its neighbour.
    const gmPnt3D foot = px + xy * std::min(1.0, std::max(0.0, (q - px).Dot(xy) / l2));
    const int h = hashOper.GetAdpNdS(x, y);
    const gmPnt3D old = h > 0 ? PointOf(h) : foot;
    const int across = NextElem(elem, x, y);
    if (h > 0 && !MoveNodeSoundly(h, foot)) return 0;
    // A node made here for a split that is refused is used by no element and is not written.
    const int m = h > 0 ? h : dataManage.AddNode(foot);
    std::replace(nd.begin(), nd.end(), kAtEnd, m);
    for (auto& piece : pieces) std::replace(piece.begin(), piece.end(), kAtEnd, m);
    if (!SplitPieces(elem, nd, pieces)) {
        if (h > 0) dataManage.SetNode(h, old);
        return 0;
    }
    if (h > 0) {
        hashOper.RemoveAdpNd(x, y, h);
    } else if (across > 0) {
        gmItrPt pt(foot, 0);
        pt.SetEdgeNode(x, y);
        pt.SetNode(m);
        SplitElemItrNd(across, pt);
    } else if (bdryNodes) {
        bdryNodes->Insert(m, m);
    }
    return m;
}

bool CsAlgoLce::SplitAtNode(int elem, int u, int w, int node)
{
    const std::vector<int> nd = NodesOf(elem);
    const size_t n = nd.size();
    for (size_t i = 0; i < n; ++i) {
        const int x = nd[i];
        const int y = nd[(i + 1) % n];
        if (!((x == u && y == w) || (x == w && y == u))) continue;
        std::vector<int> rest{node, y};
        for (size_t j = 2; j < n; ++j) rest.push_back(nd[(i + j) % n]);
        return SplitPieces(elem, rest, {{rest.back(), x, node}});
    }
    return false;
}

bool CsAlgoLce::IsOpenEdge(int elem, int u, int w) const
{
    if (NextElem(elem, u, w) > 0 || hashOper.GetCsAdpNd(u, w) || hashOper.IsAdptvNode(u) || hashOper.IsAdptvNode(w)) {
        return false;
    }
    // A piece of a coarse edge that a cut on the fine side left without a
    // constraint still lies along the coarse element's edge.
    for (const auto& [from, to] : {std::pair<int, int>{u, w}, {w, u}}) {
        const gmPnt3D o = PointOf(from);
        const gmVec3D dir = PointOf(to) - o;
        const bool along = AnyEdgeAt(from, elem, [&](int, int z) {
            const gmVec3D v = PointOf(z) - o;
            return v.Dot(dir) > 0.0 && v.Cross(dir).Length() <= 1.0e-6 * v.Length() * dir.Length();
        });
        if (along) return false;
    }
    return true;
}

bool CsAlgoLce::KeepsOutline(int node, const gmPnt3D& q) const
{
    const gmPnt3D at = PointOf(node);
    return !AnyEdgeAt(node, -1, [&](int e, int w) {
        if (!IsOpenEdge(e, node, w)) return false;
        const gmPnt3D other = PointOf(w);
        return LineDist(q, at, other) > 1.0e-6 * at.DistTo(other);
    });
}

int CsAlgoLce::CheckLineEndPnt(int elem, const gmPnt3D& end)
{
    if (!dataManage.IsValidElem(elem) || !dataManage.GetElem(elem).IsShell()) return 0;
    const std::vector<int> N = NodesOf(elem);
    const int n = static_cast<int>(N.size());
    std::vector<gmPnt3D> V;
    for (const int v : N) V.push_back(PointOf(v));
    const auto at = [&](int k) { return N[static_cast<size_t>(Mod(k, n))]; };
    const auto vx = [&](int k) { return V[static_cast<size_t>(Mod(k, n))]; };

    // 1. Entry edge and nearest edge.
    int a = 0;
    int b = 0;
    gmItrPt* entry = nullptr;
    for (int k = 0; k < n; ++k) {
        gmItrPt* p = hashOper.GetItrPt(at(k - 1), at(k));
        if (p) {
            a = Mod(k - 1, n);
            b = k;
            entry = p;
            break;
        }
    }
    int c = 0;
    double nearest = kFarAway;
    for (int k = 0; k < n; ++k) {
        const double d = SegmentDist(end, vx(k), vx(k + 1));
        if (d < nearest) {
            nearest = d;
            c = k;
        }
    }
    int ni = 0;
    gmPnt3D iPt;
    if (entry) {
        iPt = entry->GetPoint();
        ni = entry->GetNode();
    } else {
        for (int k = 0; k < n && a == b; ++k) {
            if (N[static_cast<size_t>(k)] == 0) continue;
            if (N[static_cast<size_t>(k)] == lineStartNode || N[static_cast<size_t>(k)] == lineEndNode) {
                a = Mod(k - 1, n);
                b = k;
                iPt = V[static_cast<size_t>(k)];
                ni = N[static_cast<size_t>(k)];
            }
        }
        if (a == b) {
            endCases.push_back(kEndNone);
            return 0;
        }
    }
    // The node at a corner is the corner itself, not a node on the entry edge.
    if (ni == at(a) || ni == at(b)) {
        iPt = PointOf(ni);
        ni = 0;
        if (iPt.DistTo(vx(a)) < iPt.DistTo(vx(b))) b = a;
    }

    // 2. A node for the entry point.
    int k = 0;
    if (ni == 0 && a != b) {
        k = hashOper.GetAdpNdS(at(a), at(b));
        const bool nearA = iPt.DistTo(vx(a)) <= iPt.DistTo(vx(b));
        if (k > 0) {
            ni = hashOper.FindEdgeExistNode(gmEdge(nearA ? at(a) : at(b), k, 0, 0));
        } else {
            const CsDataAdpv* con = hashOper.GetCsAdpNd(at(a));
            if (!con) con = hashOper.GetCsAdpNd(at(b));
            if (con) {
                ni = hashOper.FindEdgeExistNode(gmEdge(dataManage.GetNdidFromExid(con->GetN1()),
                                                       dataManage.GetNdidFromExid(con->GetN2()), 0, 0));
            }
        }
    }
    double dA = iPt.DistTo(vx(a));
    double dB = iPt.DistTo(vx(b));
    if (ni == 0 && a != b) {
        if (dA < 0.1 * (dA + dB)) b = a;
        else if (dB > 0.1 * (dA + dB) && k > 0) ni = k;
    }
    if (ni > 0 && std::find(N.begin(), N.end(), ni) != N.end()) ni = 0;

    // 3. Where the end lies.
    const int p = Mod(a - 1, n);
    const int q = Mod(b + 1, n);
    enum { kSnap, kEdge, kInside } where = kInside;
    int s = -1;
    const double d1 = end.DistTo(vx(c));
    const double d2 = end.DistTo(vx(c + 1));
    if (d2 <= 0.0 || d1 / d2 > 1.3) s = Mod(c + 1, n);
    else if (d1 / d2 < 0.5) s = c;
    // A corner on the blank's outline is not pulled off it, which would cut
    // material away: the end then lies on the edge or inside.
    // Nor is a vertex moved that an unsplit neighbour's node lies beside
    // (the entry node joins the element before the move).
    if (s >= 0 && KeepsOutline(at(s), end) && !hashOper.HoldsEdgeNode(at(s), ni)) {
        where = kSnap;
    } else {
        s = -1;
        const double h = LineDist(vx(c + 2), vx(c), vx(c + 1));
        where = (h > 0.0 && nearest / h < 0.2) ? kEdge : kInside;
        // Put on the outline, the end would open the slit to it although the
        // line stops short of it.
        if (where == kEdge && nearest > 0.0 && IsOpenEdge(elem, at(c), at(c + 1))) where = kInside;
    }

    // 4. The case.
    const int Na = at(a), Nb = at(b), Np = at(p), Nq = at(q);
    const bool quad = n == 4;
    // The entry vertex on whose half of the entry edge the hanging node
    // stays, beyond the entry node.
    const int far = ni > 0 && PointOf(ni).DistTo(vx(a)) >= PointOf(ni).DistTo(vx(b)) ? Na : Nb;
    int result = 0;
    std::vector<int> made;
    bool inside = false;
    if (ni == 0) {
        if (where == kSnap) {
            endCases.push_back(kEndSnap);
            if (!MoveNodeSoundly(at(s), end)) return Nb;
            result = at(s);
            // The chain runs on from N[b] to the vertex across the element.
            const int o = Mod(b + 2, n);
            if (s == o && quad) SplitPieces(elem, {Nb, at(o), at(o + 1)}, {{Nb, at(b + 1), at(o)}});
        } else if (where == kEdge && (c == a || c == b)) {
            endCases.push_back(kEndAtB);
            result = Nb;
        } else if (a == b) {
            // The entry is the vertex N[a] itself, so the table's pieces,
            // made for an entry edge, would repeat it: the element becomes a
            // fan around the end instead, which joins the end to every vertex.
            endCases.push_back(where == kInside ? kEndInside : c == p ? kEndEdgePA : kEndEdgeQ);
            std::vector<std::vector<int>> fan;
            for (int j = where == kInside ? 0 : 1; j < n; ++j) fan.push_back({kAtEnd, at(c + j), at(c + j + 1)});
            const std::vector<int> first = fan.front();
            fan.erase(fan.begin());
            if (where == kInside) {
                const int m = dataManage.AddNode(end);
                for (auto& piece : fan) std::replace(piece.begin(), piece.end(), kAtEnd, m);
                if (!SplitPieces(elem, {m, first[1], first[2]}, fan)) return Nb;
                result = m;
            } else {
                result = EndOnEdge(elem, at(c), at(c + 1), end, first, fan);
                if (!result) return Nb;
            }
        } else if (where == kEdge && c == p) {
            endCases.push_back(kEndEdgePA);
            std::vector<int> nd = N;
            nd[static_cast<size_t>(a)] = kAtEnd;
            result = EndOnEdge(elem, Na, Np, end, nd, {{kAtEnd, Na, Nb}});
            if (!result) return Nb;
        } else if (where == kEdge && c == q) {
            endCases.push_back(kEndEdgeQ);
            std::vector<int> nd = N;
            nd[static_cast<size_t>(q)] = kAtEnd;
            result = EndOnEdge(elem, Nq, Np, end, nd, {{kAtEnd, Nb, Nq}});
            if (!result) return Nb;
        } else {
            endCases.push_back(kEndInside);
            const int m = dataManage.AddNode(end);
            std::vector<std::vector<int>> pieces{{m, Np, Na}, {m, Nb, Nq}};
            if (quad) pieces.push_back({m, Nq, Np});
            if (!SplitPieces(elem, {m, Na, Nb}, pieces, &made)) return Nb;
            inside = true;
            result = m;
        }
    } else {
        // A snapped vertex moves once the element is split at the entry
        // node: the pieces tile the element as it stands, and a vertex of the
        // entry edge takes the node beside it along.
        int snapped = 0;
        if (where == kSnap && (s == a || s == b)) {
            endCases.push_back(kEndNiSnapAB);
            std::vector<int> nd = N;
            nd[static_cast<size_t>(dA < dB ? a : b)] = ni;
            if (!SplitPieces(elem, nd, {dA < dB ? std::vector<int>{Np, Na, ni} : std::vector<int>{Nq, Nb, ni}})) return ni;
            snapped = at(s);
        } else if (where == kSnap && s == p) {
            endCases.push_back(kEndNiSnapP);
            std::vector<std::vector<int>> pieces{{ni, Np, Na}};
            if (quad) pieces.push_back({ni, Nq, Np});
            if (!SplitPieces(elem, {ni, Nb, Nq}, pieces)) return ni;
            snapped = Np;
        } else if (where == kSnap && s == q) {
            endCases.push_back(kEndNiSnapQ);
            std::vector<std::vector<int>> pieces{{ni, Nb, Nq}};
            if (quad) pieces.push_back({ni, Nq, Np});
            if (!SplitPieces(elem, {ni, Np, Na}, pieces)) return ni;
            snapped = Nq;
        } else if (where == kEdge && c == p) {
            endCases.push_back(kEndNiEdgePA);
            std::vector<std::vector<int>> pieces{{ni, Nb, Nq, kAtEnd}};
            if (quad) pieces.push_back({Nq, Np, kAtEnd});
            result = EndOnEdge(elem, Na, Np, end, {Na, kAtEnd, ni}, pieces);
            if (!result) return ni;
        } else if (where == kEdge && c == a) {
            endCases.push_back(kEndNiEntry);
            std::vector<int> nd = N;
            if (dA < dB) {
                nd[static_cast<size_t>(a)] = ni;
                SplitPieces(elem, nd, {{Np, ni, Na}});
            } else {
                nd[static_cast<size_t>(b)] = ni;
                SplitPieces(elem, nd, {{Nb, ni, Nq}});
            }
            result = ni;
        } else if (where == kEdge && c == b) {
            endCases.push_back(kEndNiEdgeBQ);
            std::vector<std::vector<int>> pieces{{Np, Na, ni, kAtEnd}};
            if (quad) pieces.push_back({Nq, Np, kAtEnd});
            result = EndOnEdge(elem, Nb, Nq, end, {Nb, kAtEnd, ni}, pieces);
            if (!result) return ni;
        } else if (where == kEdge && c == q) {
            endCases.push_back(kEndNiEdgeQ);
            std::vector<int> nd = N;
            nd[static_cast<size_t>(b)] = ni;
            nd[static_cast<size_t>(q)] = kAtEnd;
            result = EndOnEdge(elem, Nq, Np, end, nd, {{ni, Nb, Nq, kAtEnd}});
            if (!result) return ni;
        } else {
            endCases.push_back(kEndNiInside);
            const int m = dataManage.AddNode(end);
            std::vector<int> nd = N;
            nd[static_cast<size_t>(a)] = ni;
            nd[static_cast<size_t>(p)] = m;
            std::vector<std::vector<int>> pieces{{m, Np, Na, ni}};
            if (quad) {
                pieces.push_back({m, Nq, Np});
            } else {
                // A triangle has one corner for p and q: the corner q keeps its own piece.
                nd = {ni, Nb, m};
                pieces.push_back({m, Nb, Nq});
            }
            if (!SplitPieces(elem, nd, pieces, &made)) return ni;
            inside = true;
            result = m;
        }
        // The entry node split the coarse entry edge the hanging node K hangs
        // on; K no longer sits in the middle of an element's edge. Where the
        // element took the entry node, K becomes a corner of the piece on its
        // half as well, and hangs on nothing.
        if (k > 0 && NextElem(0, Na, Nb) == 0) {
            const int g = ni == k ? 0 : NextElem(0, ni, far);
            if (ni == k || (g > 0 && SplitAtNode(g, ni, far, k))) hashOper.RemoveAdpNd(Na, Nb, k);
        }
        if (snapped > 0) result = MoveNodeSoundly(snapped, end) ? snapped : ni;
    }
    if (inside && made.size() >= 2) {
        CheckElement(made[0]);
        CheckElement(made[1]);
    }
    return result;
}

int CsAlgoLce::SplitElemItrNd(int elem, const gmItrPt& pt)
{
    if (!dataManage.IsValidElem(elem) || !dataManage.GetElem(elem).IsShell()) return 0;
    const int m = pt.GetNode();
    if (m <= 0) return 0;
    const std::vector<int> nd = NodesOf(elem);
    const int n = static_cast<int>(nd.size());
    const int x = pt.GetEdge().GetFstNode();
    const int y = pt.GetEdge().GetEndNode();
    int i = static_cast<int>(std::find(nd.begin(), nd.end(), x) - nd.begin());
    int j = static_cast<int>(std::find(nd.begin(), nd.end(), y) - nd.begin());
    if (i >= n || j >= n) return 0;
    if (Mod(i + 1, n) != j) std::swap(i, j);
    if (Mod(i + 1, n) != j) return 0;
    const auto N = [&](int k) { return nd[static_cast<size_t>(Mod(k, n))]; };
    const double len = PointOf(N(i)).DistTo(PointOf(N(j)));
    const gmPnt3D at = PointOf(m);
    if (len <= 0.0 || at.DistTo(PointOf(N(i))) < 0.1 * len || at.DistTo(PointOf(N(j))) < 0.1 * len) return 0;
    if (hashOper.GetAdpNdS(N(i), N(j)) > 0) return 0;
    const int pi = Mod(i - 1, n);
    const int nj = Mod(j + 1, n);
    std::vector<int> changed = nd;
    std::vector<int> piece;
    int removeNode = 0, r1 = 0, r2 = 0;
    if (n == 3) {
        const int A = hashOper.GetAdpNdS(N(pi), N(i));
        const int B = A > 0 ? 0 : hashOper.GetAdpNdS(N(pi), N(j));
        if (A > 0) {
            piece = {m, N(j), N(pi), A};
            changed[static_cast<size_t>(j)] = m;
            changed[static_cast<size_t>(pi)] = A;
            removeNode = A, r1 = N(pi), r2 = N(i);
        } else if (B > 0) {
            piece = {m, B, N(pi), N(i)};
            changed[static_cast<size_t>(i)] = m;
            changed[static_cast<size_t>(pi)] = B;
            removeNode = B, r1 = N(pi), r2 = N(j);
        } else {
            piece = {m, N(j), N(pi)};
            changed[static_cast<size_t>(j)] = m;
        }
    } else {
        const int A = hashOper.GetAdpNdS(N(pi), N(nj));
        if (A > 0) {
            piece = {m, N(j), N(nj), A};
            changed[static_cast<size_t>(j)] = m;
            changed[static_cast<size_t>(nj)] = A;
            removeNode = A, r1 = N(pi), r2 = N(nj);
        } else if (at.DistTo(PointOf(N(i))) < at.DistTo(PointOf(N(j)))) {
            piece = {m, N(pi), N(i)};
            changed[static_cast<size_t>(i)] = m;
        } else {
            piece = {m, N(j), N(nj)};
            changed[static_cast<size_t>(j)] = m;
        }
    }
    std::vector<int> made;
    if (!SplitPieces(elem, changed, {piece}, &made)) return 0;
    if (removeNode > 0) hashOper.RemoveAdpNd(r1, r2, removeNode);
    return made.empty() ? 0 : made.front();
}

// ------------------------------------------------------------ sides

void CsAlgoLce::SplitItrElement()
{
    const int count = dataManage.GetElemNumber();
    elemMarks.assign(static_cast<size_t>(count) + 1, 0);
    sideElemArr.clear();
    const auto marked = [&](int e) { return e >= 1 && e <= count && elemMarks[static_cast<size_t>(e)] != 0; };
    const std::vector<int> touched = trmElemArr;
    for (const int e : touched) {
        if (!dataManage.IsValidElem(e) || marked(e)) continue;
        const std::vector<int> nd = NodesOf(e);
        const int n = static_cast<int>(nd.size());
        bool seed = false;
        int prev = nd.back();
        for (int k = 0; k < n; ++k) {
            const int cur = nd[static_cast<size_t>(k)];
            if (IsItrNode(prev) && IsItrNode(cur)) {
                if (!IsItrNode(nd[static_cast<size_t>(Mod(k + 1, n))]) && !IsItrNode(nd[static_cast<size_t>(Mod(k - 2, n))])) {
                    seed = true;
                    break;
                }
            } else {
                prev = cur;
            }
        }
        if (!seed) continue;
        sideElemArr.push_back(e);
        std::vector<int> pending{e};
        while (!pending.empty()) {
            const int x = pending.back();
            pending.pop_back();
            if (marked(x)) continue;
            elemMarks[static_cast<size_t>(x)] = 1;
            CheckSideElement(x, pending);
        }
        for (const int s : sideElemArr) {
            for (const int v : NodesOf(s)) {
                std::vector<int> around;
                dataManage.GetNodeTpyElArr(v, around);
                for (const int a : around) {
                    if (a >= 1 && a <= count) elemMarks[static_cast<size_t>(a)] = 1;
                }
            }
        }
    }
    LanceSideElemArr();
}

void CsAlgoLce::CheckSideElement(int elem, std::vector<int>& pending)
{
    const int count = static_cast<int>(elemMarks.size()) - 1;
    const std::vector<int> nd = NodesOf(elem);
    const int n = static_cast<int>(nd.size());
    for (int k = 0; k < n; ++k) {
        const int prev = nd[static_cast<size_t>(Mod(k - 1, n))];
        const int cur = nd[static_cast<size_t>(k)];
        const bool onPrev = IsItrNode(prev);
        const bool onCur = IsItrNode(cur);
        if (onPrev == onCur) continue;
        const int chain = onPrev ? prev : cur;
        const int off = onPrev ? cur : prev;
        // The slit stays closed at its inner end.
        if (IsInnerEnd(chain)) continue;
        int next = NextElem(elem, prev, cur);
        if (next == 0) {
            const int h = hashOper.GetAdpNdS(prev, cur);
            std::vector<int> around;
            if (h > 0) {
                dataManage.GetEdgeNeibElem(chain, h, around);
            } else if (hashOper.IsAdptvNode(off)) {
                const CsDataAdpv* c = hashOper.GetCsAdpNd(off);
                if (c) {
                    dataManage.GetEdgeNeibElem(dataManage.GetNdidFromExid(c->GetN1()),
                                               dataManage.GetNdidFromExid(c->GetN2()), around);
                }
            }
            around.erase(std::remove(around.begin(), around.end(), elem), around.end());
            if (around.size() == 1) next = around.front();
        }
        if (next < 1 || next > count || elemMarks[static_cast<size_t>(next)]) continue;
        if (dataManage.GetElem(next).IsToDel()) continue;
        pending.push_back(next);
        sideElemArr.push_back(next);
    }
}

int CsAlgoLce::LanceSideElemArr()
{
    std::sort(sideElemArr.begin(), sideElemArr.end());
    sideElemArr.erase(std::unique(sideElemArr.begin(), sideElemArr.end()), sideElemArr.end());
    if (sideElemArr.empty()) return 0;
    nodeCopies = std::make_unique<CsHash<std::pair<int, int>>>(qdxGetHashSize(3 * static_cast<int>(sideElemArr.size())));
    const auto copyOf = [&](int v) {
        const CsItem<std::pair<int, int>>* item = v > 0 ? nodeCopies->Find(v) : nullptr;
        return item ? item->GetData().second : 0;
    };
    for (const int e : sideElemArr) {
        for (const int v : NodesOf(e)) {
            // An inner end stays shared, so it gets no copy that nothing would use.
            if (!IsItrNode(v) || hashOper.IsAdptvNode(v) || IsInnerEnd(v) || copyOf(v)) continue;
            const CsDataNode& source = dataManage.GetNode(v);
            // The copy keeps the boundary constraint: a slit frees no clamped node.
            const int copy = dataManage.AddNode(CsDataNode(dataManage.GetNodeMaxNo() + 1, source.GetPoint(),
                                                           source.GetSpcCode()));
            nodeCopies->Insert({v, copy}, v);
        }
    }
    for (const int e : sideElemArr) {
        const std::vector<int> before = NodesOf(e);
        std::vector<int> nd = before;
        const int n = static_cast<int>(nd.size());
        bool changed = false;
        for (int k = 0; k < n; ++k) {
            const int v = before[static_cast<size_t>(k)];
            const int copy = copyOf(v);
            if (!copy) continue;
            nd[static_cast<size_t>(k)] = copy;
            changed = true;
            for (const int side : {k - 1, k + 1}) {
                const int w = before[static_cast<size_t>(Mod(side, n))];
                if (copyOf(w)) continue;
                const int h = hashOper.GetAdpNdS(v, w);
                if (h > 0) {
                    hashOper.RemoveAdpNd(v, w, h);
                    hashOper.InsertAdpNd(copy, w, h);
                }
            }
        }
        if (!changed) continue;
        dataManage.SetElem(dataManage.GetElem(e).GetPrtid(), e, n, nd.data());
        SyncTopology(e, before);
    }
    const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd();
    if (table) {
        std::vector<CsDataAdpv> gone;
        for (int b = 0; b < table->Capacity(); ++b) {
            for (const CsItem<CsDataAdpv>* item = table->GetItem(b); item; item = item->GetNext()) {
                const CsDataAdpv& c = item->GetData();
                if (copyOf(dataManage.GetNdidFromExid(c.GetN1())) && copyOf(dataManage.GetNdidFromExid(c.GetN2()))) {
                    gone.push_back(c);
                }
            }
        }
        for (const CsDataAdpv& c : gone) {
            // The slit runs along the coarse edge: the hanging node goes where
            // its constraint kept it, the middle of the edge as the cut left
            // it, so that the fine side's border follows the coarse one.
            const gmPnt3D a = PointOf(dataManage.GetNdidFromExid(c.GetN1()));
            const gmPnt3D b = PointOf(dataManage.GetNdidFromExid(c.GetN2()));
            MoveNodeSoundly(dataManage.GetNdidFromExid(c.GetNode()), a + (b - a) * 0.5);
            hashOper.RemoveAdpNd(c);
        }
    }
    return 1;
}

// ================================================================= 2D, 3D

CsLance2D::CsLance2D(const CsTrmLineOwners& lines) : CsAlgoLce(lines) {}

void CsLance2D::MessageBegin() { ShowBegin("*                2D Lancing                      *", "2D Lancing Begins, please wait...\n"); }

void CsLance2D::MessageEnd() { ShowEnd("2D Lancing failed. No elment lanced", nullptr, "2D Lancing finished successfully"); }

int CsLance2D::ProjectToElem(int elem, const gmPnt3D& p, gmPnt3D& out)
{
    if (elem < 1 || !dataManage.IsValidElem(elem)) return 0;
    const auto* line = dynamic_cast<const gmCut2DLine*>(curLine);
    if (!line) return 0;
    gmElemt el(elem);
    el.SetUcs(line->GetUcs());
    return el.Project(p, out, 1);
}

CsLance3D::CsLance3D(const CsTrmLineOwners& lines) : CsAlgoLce(lines) {}

void CsLance3D::MessageBegin() { ShowBegin("*                3D Lancing                      *", "3D Lancing Begins, please wait...\n"); }

void CsLance3D::MessageEnd() { ShowEnd("3D Lancing failed. No element lanced", "Inappropriate gap value can result in this failure", "3D Lancing finished successfully"); }

int CsLance3D::ProjectToElem(int elem, const gmPnt3D& p, gmPnt3D& out)
{
    if (elem < 1 || !dataManage.IsValidElem(elem)) return 0;
    gmElemt el(elem);
    return el.Project(p, out, 0);
}
