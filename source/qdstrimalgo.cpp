#include "qdstrimalgo.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"
#include "qdstrimalgo_verify.h"

#include <algorithm>
#include <cmath>

namespace {

const char* const kStarLine = "***************************************************";
const char* const kEndLine = "***************************************************\n\n";
// The cosine of a corner of about 150 degrees: flatter corners are split.
const double kFlatCornerCos = -0.8660254;
// A neighbour is split only when the node is well inside its edge.
const double kEdgeNodeMin = 0.1;
const double kEdgeNodeMax = 0.9;
// Closer to an end than this share of the edge, a node on the line stands
// for that end and splits no neighbour.
const double kFootNear = 0.01;
// A node this near a crossing (relative to the edge) stands at the crossing.
const double kSameNode = 1e-6;

gmPnt3D NodePoint(int node) { return dataManage.GetNode(node).GetPoint(); }

// Twice the vector area of a node cycle; its direction is the facing.
gmVec3D VectorArea(const std::vector<int>& nodes)
{
    gmVec3D sum(0.0, 0.0, 0.0);
    const gmPnt3D o = NodePoint(nodes[0]);
    for (size_t i = 1; i + 1 < nodes.size(); ++i) {
        const gmVec3D a = NodePoint(nodes[i]) - o;
        const gmVec3D b = NodePoint(nodes[i + 1]) - o;
        sum += a.Cross(b);
    }
    return sum;
}

bool HasRepeatedNode(std::vector<int> nodes)
{
    std::sort(nodes.begin(), nodes.end());
    return std::adjacent_find(nodes.begin(), nodes.end()) != nodes.end();
}

// A piece of a split must keep area and face like the element it came from;
// the tolerance is relative so that small meshes are judged like large ones.
bool SoundPiece(const std::vector<int>& nodes, const gmVec3D& facing)
{
    if (nodes.size() < 3 || nodes.size() > 4 || HasRepeatedNode(nodes)) return false;
    const gmVec3D area = VectorArea(nodes);
    double perimeter = 0.0;
    for (size_t i = 0; i < nodes.size(); ++i) {
        perimeter += NodePoint(nodes[i]).DistTo(NodePoint(nodes[(i + 1) % nodes.size()]));
    }
    const double along = area.Dot(facing);
    return along > 1.0e-9 * perimeter * perimeter * facing.Length();
}

}  // namespace

// ------------------------------------------------------------ helpers

std::vector<int> CsAlgoTrm::NodesOf(int elem)
{
    const CsDataElem& el = dataManage.GetElem(elem);
    std::vector<int> nodes(static_cast<size_t>(el.GetNodeNum()));
    for (int k = 0; k < el.GetNodeNum(); ++k) nodes[static_cast<size_t>(k)] = el[k];
    return nodes;
}

void CsAlgoTrm::SyncTopology(int elem, const std::vector<int>& oldNodes)
{
    CsNdElemTpy& tpy = dataManage.GetTopology();
    const std::vector<int> nodes = NodesOf(elem);
    for (const int n : oldNodes) {
        if (std::find(nodes.begin(), nodes.end(), n) == nodes.end()) tpy.RemoveNodeTpyElemt(n, elem);
    }
    for (const int n : nodes) tpy.AddNodeTpyElemt(n, elem, 0);
}

void CsAlgoTrm::AddItrPtArr(int elem, const std::vector<gmItrPt>& points)
{
    hashOper.AddItrPtArr(elem, points);
    for (const gmItrPt& p : points) {
        gmItrPt* record = hashOper.GetExistItrPt(p);
        if (!record || record->GetNode() > 0) continue;
        const int u = p.GetEdge().GetFstNode();
        const int v = p.GetEdge().GetEndNode();
        // A coarse edge's hanging node is the cutter's to deal with: it moves
        // the constraint onto the node the fine side made.
        if (!dataManage.IsValidNode(u) || !dataManage.IsValidNode(v) || hashOper.GetCsAdpNd(u, v)) continue;
        const double near = kSameNode * NodePoint(u).DistTo(NodePoint(v));
        std::vector<int> around;
        dataManage.GetNodeTpyElArr(u, around);
        std::vector<int> more;
        dataManage.GetNodeTpyElArr(v, more);
        around.insert(around.end(), more.begin(), more.end());
        int found = 0;
        for (const int e : around) {
            if (e == elem || !dataManage.IsValidElem(e)) continue;
            for (const int x : NodesOf(e)) {
                if (x == u || x == v || !dataManage.IsValidNode(x)) continue;
                if (NodePoint(x).DistTo(p.GetPoint()) <= near) found = x;
            }
            if (found) break;
        }
        if (found) record->SetNode(found);
    }
}

void CsAlgoTrm::ListNeighbours(int elem, const std::vector<gmItrPt>& points, bool acrossCoarse)
{
    for (const gmItrPt& p : points) {
        const int u = p.GetEdge().GetFstNode();
        const int v = p.GetEdge().GetEndNode();
        const int next = acrossCoarse ? NeighbourAcross(elem, u, v) : NextElem(elem, u, v);
        if (next > 0) WaitForSplit(next);
    }
}

void CsAlgoTrm::FileCut(int elem, bool cut, bool again, bool toRepair, std::vector<int>& fresh)
{
    if (cut) {
        const std::vector<int>& added = curTrmElem->GetNewElemMap().NewElemArr;
        if (again) {
            elemArr.push_back(elem);
            elemArr.insert(elemArr.end(), added.begin(), added.end());
        } else {
            trmElemArr.insert(trmElemArr.end(), added.begin(), added.end());
            fresh.insert(fresh.end(), added.begin(), added.end());
            AddElemArr();
        }
    } else {
        if (toRepair) WaitForSplit(elem);
        AddElemArr();
    }
    trmElemArr.push_back(elem);
}

void CsAlgoTrm::ShowBegin(const char* title, const char* start)
{
    ShowLine(kStarLine);
    ShowLine(title);
    ShowLine(kStarLine);
    ShowLine(start);
}

void CsAlgoTrm::ShowLineId(const char* kind, const CsString& id)
{
    CsString text;
    text.Format("The Current %s Line ID: %s", kind, id.c_str());
    ShowLine(text);
}

void CsAlgoTrm::ShowGrowth(const char* kind, const CsString& id, int from, int to)
{
    ShowLineId(kind, id);
    CsString text;
    text.Format("Iteration: elements increased from %d to %d\n", from, to);
    ShowLine(text);
    CsMessage().ShowNewLine(1);
}

void CsAlgoTrm::ShowEnd(const char* failed, const char* hint, const char* finished) const
{
    if (trmElemArr.empty()) {
        ShowLine(failed);
        if (hint) ShowLine(hint);
    } else {
        ShowLine(finished);
    }
    ShowLine(kEndLine);
}

int CsAlgoTrm::NeighbourAcross(int elem, int n1, int n2)
{
    const int next = NextElem(elem, n1, n2);
    if (next > 0) return next;
    const CsDataAdpv* c = hashOper.GetCsAdpNd(n1);
    if (!c) c = hashOper.GetCsAdpNd(n2);
    if (!c) return 0;
    std::vector<int> around;
    dataManage.GetEdgeNeibElem(dataManage.GetNdidFromExid(c->GetN1()), dataManage.GetNdidFromExid(c->GetN2()), around);
    for (const int a : around) {
        if (a != elem) return a;
    }
    return 0;
}

int CsAlgoTrm::NextElem(int elem, int n1, int n2)
{
    std::vector<int> around;
    dataManage.GetEdgeNeibElem(n1, n2, around);
    for (const int e : around) {
        if (e == elem || !dataManage.IsValidElem(e)) continue;
        const CsDataElem& el = dataManage.GetElem(e);
        const int count = el.GetNodeNum();
        const int k = el.GetNodeIdx(n1);
        if (k < 0) continue;
        if (el[(k + 1) % count] == n2 || el[(k + count - 1) % count] == n2) return e;
    }
    return 0;
}

bool CsAlgoTrm::SplitElement(int src, const std::vector<int>& srcNodes, const std::vector<int>& newNodes)
{
    const std::vector<int> before = NodesOf(src);
    const gmVec3D facing = VectorArea(before);
    if (!SoundPiece(srcNodes, facing) || !SoundPiece(newNodes, facing)) return false;

    const CsDataElem& from = dataManage.GetElem(src);
    const int part = from.GetPrtid();
    const double thickness = from.GetThickness();
    const bool inner = from.IsInner();
    const bool toDel = from.IsToDel();
    dataManage.SetElem(part, src, static_cast<int>(srcNodes.size()), srcNodes.data());
    const int added = dataManage.AddElem(part, static_cast<int>(newNodes.size()), newNodes.data());
    if (inner) dataManage.SetInner(added);
    if (toDel) dataManage.SetToDel(added);
    dataManage.SetThickness(added, thickness);
    trmElemArr.push_back(added);
    CsElemMap map;
    map.SetSrcElem(src);
    map.AddNewElem(added);
    hashOper.AddNewElemMap(map);
    SyncTopology(src, before);
    SyncTopology(added, {});
    return true;
}

// ------------------------------------------------------------ operation

CsAlgoTrm::CsAlgoTrm(const CsTrmLineOwners& lines, int /*unused*/)
    : triaTrm(nullptr, nullptr), quadTrm(nullptr, nullptr)
{
    trmLineArr.reserve(lines.size());
    for (const auto& line : lines) trmLineArr.push_back(line.get());
}

int CsAlgoTrm::Trimming()
{
    if (trmLineArr.empty()) return 0;
    // Intersection points belong to one operation: a node of an earlier
    // operation's line must not be taken for a crossing of this one.
    hashOper.ReleaseItrHash();
    if (!hashOper.CreateHash()) return 0;
    // Nothing an operation leaves behind reaches the writer unchecked.
    CsCutVerify verify(trmLineArr);
    verify.Begin();
    const double shortest = GetMinDst();
    if (shortest < minDst) minDst = shortest;

    if (dataManage.IsToRefine()) {
        const int before = dataManage.GetAdpvNumber();
        ShowLine(kStarLine);
        ShowLine("*         Adaptive Constraints Refinement         *");
        ShowLine(kStarLine);
        ShowLine("Begin to refine elements, please wait...\n");
        ShowLine("Adaptive constrains before refinement: %d\n", before);
        RefineMesh();
        ShowLine("Adaptive constrains after refinement: %d\n", hashOper.GetAdpNum());
        ShowLine("Refinements finished\n");
        if (!verify.Check(CsCutVerify::kRefinement)) {
            aborted = true;
            return 0;
        }
        verify.Begin();
        // The cutters' length scale must follow the halved edges.
        minDst = std::min(minDst, GetMinDst());
    }

    // The lists of the topology follow every split from here on.
    dataManage.UpdateNdElemTpy();
    elemNum = dataManage.GetElemNumber();
    elemArr.resize(static_cast<size_t>(elemNum));
    for (int e = 1; e <= elemNum; ++e) elemArr[static_cast<size_t>(e - 1)] = e;

    MessageBegin();
    const int result = TrimElemArr();
    if (result && !aborted) Update();
    MessageEnd();
    if (!aborted && !verify.Check(CsCutVerify::kCut)) aborted = true;
    return aborted ? 0 : result;
}

double CsAlgoTrm::GetMinDst() const
{
    double best = 1.0e10;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        const CsDataElem& el = dataManage.GetElem(e);
        if (el.GetExid() <= 0) continue;
        const int count = el.GetNodeNum();
        for (int k = 0; k < count; ++k) {
            const int a = el[k];
            const int b = el[(k + 1) % count];
            if (!dataManage.IsValidNode(a) || !dataManage.IsValidNode(b)) continue;
            best = std::min(best, NodePoint(a).DistTo(NodePoint(b)));
        }
    }
    return best;
}

void CsAlgoTrm::SetMinDst(double d) { minDst = std::min(100.0, std::max(1.0, d)); }

int CsAlgoTrm::TrimElement(gmTrmLine* line, gmElemt& elem, std::vector<gmItrPt>& points)
{
    const int e = elem.GetElemID();
    curTrmElem = elem.GetNodNum() == 3 ? static_cast<CsTrmElem*>(&triaTrm) : static_cast<CsTrmElem*>(&quadTrm);
    const std::vector<int> before = NodesOf(e);
    const int result = curTrmElem->Trimming(line, &elem, points);
    if (NodesOf(e) != before) SyncTopology(e, before);
    // An element waiting to be split at a node a neighbour put on its edge
    // may be cut first: its pieces, which now have its edges, wait instead.
    const bool waits = splitWaiting.count(e) != 0;
    for (const int added : curTrmElem->GetNewElemMap().NewElemArr) {
        SyncTopology(added, {});
        if (waits) WaitForSplit(added);
    }
    return result;
}

void CsAlgoTrm::AddElemArr()
{
    if (!curTrmElem) return;
    for (const int e : curTrmElem->GetSplitElArr()) WaitForSplit(e);
}

void CsAlgoTrm::WaitForSplit(int elem)
{
    splitElArr.push_back(elem);
    splitWaiting.insert(elem);
}

void CsAlgoTrm::ClearSplitList()
{
    splitElArr.clear();
    splitWaiting.clear();
}

void CsAlgoTrm::UniqueElemArr()
{
    for (std::vector<int>* list : {&elemArr, &splitElArr, &trmElemArr}) {
        std::sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
}

void CsAlgoTrm::Update()
{
    ShowLine("Begin to update data, please wait...\n");
    hashOper.UpdateAdpNd(elemNum, trmElemArr);
    ShowLine("Success to update\n");
}

// ------------------------------------------------------------ repairs

bool CsAlgoTrm::HeldBeside(int node, int a, int b, double r) const
{
    const int near = r < 0.5 ? b : a;
    const gmPnt3D at = NodePoint(node);
    const gmPnt3D pa = NodePoint(a);
    const gmPnt3D pb = NodePoint(b);
    const double length = pa.DistTo(pb);
    if (at.MinDst(pa, pb) > 1e-6 * length) return false;
    if (hashOper.GetItemItrNd(near) != nullptr && at.DistTo(NodePoint(near)) > 1e-3 * length) return true;
    // The line's corner put on the edge near its end: the element that put it
    // there has it as a corner, and this one has no crossing to cut there.
    return hashOper.GetItemItrNd(node) != nullptr && at.DistTo(NodePoint(near)) > kFootNear * length;
}

void CsAlgoTrm::CheckEdgNode()
{
    // The pieces of a split are looked at again: a move may have stretched
    // the element's edges over more than one node.
    for (size_t i = 0; i < splitElArr.size(); ++i) {
        const int e = splitElArr[i];
        if (!dataManage.IsValidElem(e) || !dataManage.GetElem(e).IsShell()) continue;
        const std::vector<int> nd = NodesOf(e);
        const int n = static_cast<int>(nd.size());
        if (n != 3 && n != 4) continue;
        for (int k = 1; k <= n; ++k) {
            const int a = k - 1;
            const int b = k % n;
            int node = 0;
            for (CsItem<gmItrPt>* item = hashOper.GetItemItrPt(nd[a], nd[b]); item; item = item->GetNext()) {
                const gmItrPt& p = item->GetData();
                if (p.GetEdge() == gmEdge(nd[a], nd[b], 0, 0) && p.GetNode() > 0) {
                    node = p.GetNode();
                    break;
                }
            }
            if (node <= 0 || std::find(nd.begin(), nd.end(), node) != nd.end()) continue;
            // A node the element across the edge has as a corner lies beyond
            // the edge (a cut moved the edge off it): split there, the pieces
            // would fold over that element.
            const int across = NextElem(e, nd[a], nd[b]);
            if (across > 0 && dataManage.GetElem(across).GetNodeIdx(node) >= 0) continue;
            const gmPnt3D at = NodePoint(node);
            const double length = NodePoint(nd[a]).DistTo(NodePoint(nd[b]));
            if (length <= 0.0) continue;
            const double r = at.DistTo(NodePoint(nd[b])) / length;
            if ((r < kEdgeNodeMin || r > kEdgeNodeMax) && !HeldBeside(node, nd[a], nd[b], r)) continue;

            const int P = node;
            const int p = (a + n - 1) % n;
            const int q = (b + 1) % n;
            bool split = false;
            if (n == 3) {
                split = SplitElement(e, {nd[a], P, nd[q]}, {P, nd[b], nd[q]});
            } else {
                const int A = hashOper.GetAdpNdS(nd[p], nd[q]);
                if (A > 0) {
                    split = SplitElement(e, {nd[b], nd[q], A, P}, {A, nd[p], nd[a], P});
                    // The hanging node is now a corner of both pieces.
                    if (split) hashOper.RemoveAdpNd(nd[p], nd[q], A);
                } else if (r < 0.5) {
                    split = SplitElement(e, {nd[a], P, nd[q], nd[p]}, {P, nd[b], nd[q]});
                } else {
                    split = SplitElement(e, {P, nd[b], nd[q], nd[p]}, {P, nd[p], nd[a]});
                }
            }
            if (split) {
                WaitForSplit(e);
                WaitForSplit(dataManage.GetElemNumber());
                break;
            }
        }
    }
    ClearSplitList();
}

void CsAlgoTrm::CheckElement()
{
    const size_t count = trmElemArr.size();
    for (size_t i = 0; i < count; ++i) SplitBadCorner(trmElemArr[i], true);
}

void CsAlgoTrm::CheckElement(int elem) { SplitBadCorner(elem, false); }

bool CsAlgoTrm::SplitBadCorner(int elem, bool reflexToo)
{
    if (!dataManage.IsValidElem(elem)) return false;
    const CsDataElem& el = dataManage.GetElem(elem);
    if (!el.IsShell() || el.GetNodeNum() < 4) return false;
    const std::vector<int> nd = NodesOf(elem);
    const gmVec3D normal = reflexToo ? el.GetNormal().Normalized() : gmVec3D();
    for (int c = 0; c < 4; ++c) {
        const int prev = (c + 3) % 4;
        const int next = (c + 1) % 4;
        const gmVec3D u = NodePoint(nd[prev]) - NodePoint(nd[c]);
        const gmVec3D w = NodePoint(nd[next]) - NodePoint(nd[c]);
        const double lengths = u.Length() * w.Length();
        const bool flat = lengths > 0.0 && u.Dot(w) / lengths < kFlatCornerCos;
        const bool reflex = reflexToo && w.Cross(u).Dot(normal) < 0.001;
        if (!flat && !reflex) continue;
        const int pp = (prev + 3) % 4;
        SplitElement(elem, {nd[pp], nd[c], nd[next]}, {nd[pp], nd[prev], nd[c]});
        return true;
    }
    return false;
}
