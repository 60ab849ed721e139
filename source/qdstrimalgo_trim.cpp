// 2D trimming (inside test along the trim direction) and 3D trimming (seed fill
// bounded by the nodes on the trim line).
#include "qdstrimalgo.h"
#include "qdstrimalgo_path.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>

namespace {

bool UsableLine(const gmTrmLine* line) { return line && !line->IsStraight() && !line->IsLancing(); }

// The curve's points for the walk, closed by its first point again when it closes.
std::vector<CsXYZ> CurveOf(const gmTrmLine& line, bool& closed)
{
    std::vector<CsXYZ> curve;
    for (const gmPnt3D& p : line.GetPntArr()) curve.push_back({p.x(), p.y(), p.z()});
    closed = !line.IsLancing() || (curve.size() > 2 && curve.front().x == curve.back().x &&
                                   curve.front().y == curve.back().y && curve.front().z == curve.back().z);
    if (closed && curve.size() > 1) {
        const CsXYZ& a = curve.front();
        const CsXYZ& b = curve.back();
        if (a.x != b.x || a.y != b.y || a.z != b.z) curve.push_back(a);
    }
    return curve;
}

gmPnt3D PieceCentre(int elem)
{
    const CsDataElem& el = dataManage.GetElem(elem);
    gmPnt3D sum;
    for (int k = 0; k < el.GetNodeNum(); ++k) sum = sum + dataManage.GetNode(el[k]).GetPoint();
    return el.GetNodeNum() > 0 ? sum / static_cast<double>(el.GetNodeNum()) : sum;
}

// Whether element e runs from u to v (in its own order).
bool RunsFrom(int e, int u, int v)
{
    const CsDataElem& el = dataManage.GetElem(e);
    const int n = el.GetNodeNum();
    const int k = el.GetNodeIdx(u);
    return k >= 0 && el[(k + 1) % n] == v;
}

using EdgeSet = std::set<std::pair<int, int>>;

// The shortest edge at a node, 0 when it has none.
double ShortestAt(int node)
{
    const gmPnt3D& p = dataManage.GetNode(node).GetPoint();
    double shortest = 0.0;
    std::vector<int> around;
    dataManage.GetNodeAdjNdArr(node, around);
    for (const int n : around) {
        const double d = p.DistTo(dataManage.GetNode(n).GetPoint());
        shortest = shortest == 0.0 ? d : std::min(shortest, d);
    }
    return shortest;
}

// Whether the path passes node closer than a tenth of its shortest edge
// (as it was before the cut).
bool NearPath(int node, double shortest, const std::vector<std::pair<int, int>>& path)
{
    const gmPnt3D& p = dataManage.GetNode(node).GetPoint();
    for (const auto& [u, v] : path) {
        const gmPnt3D& a = dataManage.GetNode(u).GetPoint();
        const gmPnt3D& b = dataManage.GetNode(v).GetPoint();
        const gmVec3D ab = b - a;
        const double l2 = ab.Dot(ab);
        const double t = l2 > 0.0 ? std::clamp((p - a).Dot(ab) / l2, 0.0, 1.0) : 0.0;
        if (p.DistTo(a + ab * t) < 0.1 * shortest) return true;
    }
    return false;
}

std::pair<int, int> Undirected(int u, int v) { return {std::min(u, v), std::max(u, v)}; }

// A trim curve that cut nothing and changed nothing is most likely placed wrong; the run
// goes on with the other curves, but says so.
void ShowMissed(const CsString& id)
{
    CsString text;
    text.Format("Trim curve %s meets no element of the blank", id.c_str());
    ShowLine(text);
}

int RemovedCount()
{
    int count = 0;
    for (const CsDataElem& el : dataManage.GetElemArr()) count += el.IsToDel() ? 1 : 0;
    return count;
}

bool AnyElementKept()
{
    for (const CsDataElem& el : dataManage.GetElemArr()) {
        if (!el.IsToDel() && !el.IsDeleted()) return true;
    }
    return false;
}

}  // namespace

void CsAlgoTrm::ShowCutFailure(const char* operation, const CsString& id, const char* why)
{
    CsString text;
    text.Format("%s stopped: trim curve %s cannot be cut soundly: %s", operation, id.c_str(), why);
    ShowLine(text);
    aborted = true;
}

// ================================================================= 2D

void CsToolTrm::MessageBegin() { ShowBegin("*                2D Trimming                      *", "2D Trimming Begins, please wait...\n"); }

void CsToolTrm::MessageEnd() { ShowEnd("2D trimming failed. No element trimmed", nullptr, "2D trimming finished successfully"); }

void CsToolTrm::SortTrmLnByArea()
{
    if (trmLineArr.size() < 2) return;
    std::vector<gmTrmLine*> keepInside;
    std::vector<gmTrmLine*> others;
    for (gmTrmLine* line : trmLineArr) {
        if (!line) continue;
        const auto* cut = dynamic_cast<const gmCut2DLine*>(line);
        (cut && cut->IsTrmOut() ? keepInside : others).push_back(line);
    }
    const auto larger = [](const gmTrmLine* a, const gmTrmLine* b) { return compare_area(a, b); };
    std::stable_sort(keepInside.begin(), keepInside.end(), larger);
    std::stable_sort(others.begin(), others.end(), larger);
    trmLineArr = others;
    trmLineArr.insert(trmLineArr.end(), keepInside.begin(), keepInside.end());
}

void CsToolTrm::MarkSides(const gmCut2DLine& line, const std::vector<std::pair<int, int>>& path)
{
    // The curve's turn in its plane says which side of its direction is inside.
    double area = 0.0;
    const int count = line.GetUcsCount();
    for (int i = 0; i + 1 < count; ++i) {
        const gmPnt3D a = line.GetUcsAt(i), b = line.GetUcsAt(i + 1);
        area += a.x() * b.y() - b.x() * a.y();
    }
    const bool ccw = area > 0.0;
    const gmVec3D w = line.GetUcs().GetW();
    // Elements along the path know their side from the path's direction: no
    // point test can be fooled by a sliver there.
    std::map<int, int> side;
    const CsNdElemTpy& tpy = dataManage.GetTopology();
    for (const auto& [u, v] : path) {
        std::vector<int> around;
        tpy.GetNodeTpyElArr(u, around);
        for (const int e : around) {
            if (!CsCutMesh::IsLive(e)) continue;
            const bool forward = RunsFrom(e, u, v);
            if (!forward && !RunsFrom(e, v, u)) continue;
            gmVec3D normal(0.0, 0.0, 0.0);
            const CsDataElem& el = dataManage.GetElem(e);
            for (int k = 0; k < el.GetNodeNum(); ++k) {
                const gmPnt3D& p = dataManage.GetNode(el[k]).GetPoint();
                const gmPnt3D& q = dataManage.GetNode(el[(k + 1) % el.GetNodeNum()]).GetPoint();
                normal += gmVec3D(p.x(), p.y(), p.z()).Cross(gmVec3D(q.x(), q.y(), q.z()));
            }
            const bool left = forward == (normal.Dot(w) > 0.0);
            const int inside = left == ccw ? 1 : -1;
            int& known = side[e];
            known = known == 0 ? inside : (known == inside ? inside : 2);
        }
    }
    // Pieces of one element the path does not touch lie on the side of a sibling
    // they share an edge off the path with. A point test would be fooled in a
    // sliver between the curve and the chord that stands for it.
    SpreadToSiblings(path, side);
    double xmin = 0.0, ymin = 0.0, xmax = 0.0, ymax = 0.0;
    line.GetCorner(xmin, ymin, xmax, ymax);
    const gmCrdSys& cs = line.GetUcs();
    const int elems = dataManage.GetElemNumber();
    for (int e = 1; e <= elems; ++e) {
        if (!CsCutMesh::IsLive(e)) continue;
        const auto found = side.find(e);
        bool inside = false;
        if (found != side.end() && found->second != 2) {
            inside = found->second > 0;
        } else {
            const gmPnt3D c = PieceCentre(e);
            const gmPnt3D local = c.InUcs(cs);
            inside = local.x() >= xmin && local.x() <= xmax && local.y() >= ymin && local.y() <= ymax && line.IsInside(c);
        }
        if (inside != line.IsTrmOut()) dataManage.SetToDel(e);
    }
}

void CsToolTrm::SpreadToSiblings(const std::vector<std::pair<int, int>>& path, std::map<int, int>& side) const
{
    EdgeSet onPath;
    for (const auto& [u, v] : path) onPath.insert(Undirected(u, v));
    const CsHash<CsHashOpr::ElemPair>* pairs = hashOper.GetHashElemPair();
    std::map<int, std::vector<int>> families;
    for (const int e : trmElemArr) {
        const CsItem<CsHashOpr::ElemPair>* item = pairs ? pairs->Find(e) : nullptr;
        families[item ? item->GetData().second : e].push_back(e);
    }
    const auto shared = [&](int a, int b) {
        const std::vector<int> na = NodesOf(a);
        for (size_t k = 0; k < na.size(); ++k) {
            const int u = na[k], v = na[(k + 1) % na.size()];
            if (!onPath.count(Undirected(u, v)) && RunsFrom(b, v, u)) return true;
        }
        return false;
    };
    for (const auto& [parent, pieces] : families) {
        for (bool grown = true; grown;) {
            grown = false;
            for (const int p : pieces) {
                if (side.count(p) || !CsCutMesh::IsLive(p)) continue;
                for (const int q : pieces) {
                    const auto known = side.find(q);
                    if (q == p || known == side.end() || known->second == 2 || !shared(p, q)) continue;
                    side[p] = known->second;
                    grown = true;
                    break;
                }
            }
        }
    }
}

int CsToolTrm::TrimElemArr()
{
    SortTrmLnByArea();
    int lastCount = dataManage.GetElemNumber();
    int result = 0;
    for (gmTrmLine* base : trmLineArr) {
        if (!UsableLine(base)) continue;
        auto* line = dynamic_cast<gmCut2DLine*>(base);
        if (!line) continue;
        trmElemArr.clear();
        const CsString id = line->GetExid();
        bool closed = true;
        const std::vector<CsXYZ> curve = CurveOf(*line, closed);
        const std::unique_ptr<CsCutMesh> mesh = CsCutMesh::Planar(line->GetUcs());
        CsPathCut cut(*this, *mesh, line->GetRatio(), false, {});
        if (!cut.Cut(curve, true)) {
            ShowCutFailure("2D trimming", id, cut.Failure());
            return 0;
        }
        const int removedBefore = RemovedCount();
        // Every line marks its sides, also one that crossed nothing: what lies
        // outside a trim-out line goes whether the line met the blank or not.
        MarkSides(*line, cut.Edges());
        DropStaleConstraints();
        // Without a crossing, the line met the blank only if something lies inside it.
        const bool met = cut.MetBlank() || (line->IsTrmOut() ? AnyElementKept() : RemovedCount() > removedBefore);
        if (met) result = 1;
        else ShowMissed(id);
        if (dataManage.GetElemNumber() > lastCount) {
            ShowGrowth("Trim", id, lastCount, dataManage.GetElemNumber());
            lastCount = dataManage.GetElemNumber();
        }
    }
    return result;
}

// ================================================================= 3D

void CsLaserTrm::MessageBegin() { ShowBegin("*                3D Trimming                      *", "3D Trimming Begins, please wait...\n"); }

void CsLaserTrm::MessageEnd() { ShowEnd("3D trimming failed. No element trimmed", "Inappropriate gap value can result in this failure", "3D trimming finished successfully"); }

int CsLaserTrm::TrimElemArr()
{
    removedBefore.assign(static_cast<size_t>(dataManage.GetElemNumber()), 0);
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        const CsDataElem& el = dataManage.GetElem(e);
        removedBefore[static_cast<size_t>(e - 1)] = (el.IsToDel() || el.IsDeleted()) ? 1 : 0;
    }
    barrier.clear();
    pathNodes.clear();
    int lastCount = dataManage.GetElemNumber();
    int result = 0;
    for (gmTrmLine* base : trmLineArr) {
        if (!UsableLine(base)) continue;
        auto* line = dynamic_cast<gmCut3DLine*>(base);
        if (!line) continue;
        bool seedsValid = true;
        std::vector<int> seeds;
        for (const int seed : line->Seeds()) {
            const int node = dataManage.GetNdidFromExid(seed);
            if (dataManage.IsValidNode(node)) {
                seeds.push_back(node);
                continue;
            }
            ShowLine("Invalid Seed Node ID: %d\n", seed);
            seedsValid = false;
        }
        if (!seedsValid) continue;
        trmElemArr.clear();
        const CsString id = line->GetExid();
        bool closed = true;
        const std::vector<CsXYZ> curve = CurveOf(*line, closed);
        const std::unique_ptr<CsCutMesh> mesh = CsCutMesh::Spatial(line->GetGap());
        std::vector<double> reach;
        for (const int seed : seeds) reach.push_back(ShortestAt(seed));
        CsPathCut cut(*this, *mesh, line->GetRatio(), false, seeds);
        if (!cut.Cut(curve, closed)) {
            ShowCutFailure("3D trimming", id, cut.Failure());
            return 0;
        }
        // An earlier line's barrier edge that this cut split is barred in its halves.
        EdgeSet split;
        for (const auto& e : barrier) {
            const std::vector<int> on = cut.NodesOnEdge(e.first, e.second);
            if (on.empty()) {
                split.insert(e);
                continue;
            }
            int prev = e.first;
            for (const int n : on) {
                split.insert(Undirected(prev, n));
                prev = n;
            }
            split.insert(Undirected(prev, e.second));
        }
        barrier.swap(split);
        for (const auto& [u, v] : cut.Edges()) barrier.insert(Undirected(u, v));
        for (const int n : cut.Nodes()) pathNodes.insert(n);
        // A seed the path passes closer than a tenth of its elements' edges
        // cannot say which side it stands for: it counts as on the line.
        for (size_t i = 0; i < seeds.size(); ++i) {
            if (NearPath(seeds[i], reach[i], cut.Edges())) pathNodes.insert(seeds[i]);
        }
        DropStaleConstraints();
        if (cut.MetBlank()) result = 1;
        else ShowMissed(id);
        if (dataManage.GetElemNumber() > lastCount) {
            ShowGrowth("Trim", id, lastCount, dataManage.GetElemNumber());
            lastCount = dataManage.GetElemNumber();
        }
    }
    GroupElement();
    return aborted ? 0 : result;
}

void CsLaserTrm::GroupElement()
{
    const int elemCount = dataManage.GetElemNumber();
    if (dataManage.GetNodeNumber() == 0 || elemCount == 0) return;
    keepElArr.assign(static_cast<size_t>(elemCount), 0);

    // A piece of an element removed before this operation is removed as well;
    // a source always has a lower index than the pieces cut from it.
    const size_t known = removedBefore.size();
    removedBefore.resize(static_cast<size_t>(elemCount), 0);
    const CsHash<CsHashOpr::ElemPair>* pairs = hashOper.GetHashElemPair();
    for (size_t e = known + 1; pairs && e <= static_cast<size_t>(elemCount); ++e) {
        const CsItem<CsHashOpr::ElemPair>* item = pairs->Find(static_cast<int>(e));
        if (!item) continue;
        const int src = item->GetData().second;
        if (src >= 1 && static_cast<size_t>(src) < e) removedBefore[e - 1] = removedBefore[static_cast<size_t>(src - 1)];
    }

    CsNdElemTpy tpy;
    tpy.CreateNdElemTpy();
    const std::unique_ptr<CsCutMesh> mesh = CsCutMesh::Topology();
    for (gmTrmLine* base : trmLineArr) {
        if (!base || base->IsStraight()) continue;
        const auto* line = dynamic_cast<const gmCut3DLine*>(base);
        if (!line) continue;
        const std::vector<int> seeds = line->Seeds();
        // A curve with an unknown seed was skipped, so none of its seeds may keep anything.
        const bool allValid = std::all_of(seeds.begin(), seeds.end(), [](int s) {
            return dataManage.IsValidNode(dataManage.GetNdidFromExid(s));
        });
        if (!allValid) continue;
        for (const int exid : seeds) {
            const int seed = dataManage.GetNdidFromExid(exid);
            if (pathNodes.count(seed)) {
                // Both sides of the line touch the seed, so the seed cannot say which to keep.
                CsString text;
                text.Format("3D trimming stopped: the seed node %d of trim curve %s lies on the trim line", exid,
                            line->GetExid().c_str());
                ShowLine(text);
                ShowLine("Choose a seed node away from the trim curve\n");
                aborted = true;
                return;
            }
            std::vector<int> start;
            tpy.GetNodeTpyElArr(seed, start);
            if (start.empty()) {
                const int onto = dataManage.GetProjectedElem(seed);
                if (onto > 0) start.push_back(onto);
            }
            // Element by element, across every edge the path does not run along.
            std::deque<int> queue(start.begin(), start.end());
            while (!queue.empty()) {
                const int e = queue.front();
                queue.pop_front();
                if (!dataManage.IsValidElem(e) || !CsCutMesh::IsLive(e)) continue;
                const size_t k = static_cast<size_t>(e - 1);
                if (removedBefore[k] || keepElArr[k]) continue;
                keepElArr[k] = 1;
                const std::vector<int> o = mesh->Outline(e);
                for (size_t i = 0; i < o.size(); ++i) {
                    const int u = o[i], v = o[(i + 1) % o.size()];
                    if (barrier.count(Undirected(u, v))) continue;
                    const int g = mesh->Across(e, u, v);
                    if (g > 0 && !keepElArr[static_cast<size_t>(g - 1)]) queue.push_back(g);
                }
            }
        }
    }

    for (int e = 1; e <= elemCount; ++e) {
        const size_t k = static_cast<size_t>(e - 1);
        if (keepElArr[k] == 1 && !removedBefore[k]) dataManage.SetIdentity(e);
        else dataManage.SetToDel(e);
    }
}

