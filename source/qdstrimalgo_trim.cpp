// 2D trimming (inside test along the trim direction) and 3D trimming (seed fill
// bounded by the nodes on the trim line).
#include "qdstrimalgo.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"

#include <algorithm>
#include <deque>

namespace {

const int kProgress2D = 20000;
const int kProgress3D = 10000;
// More crossings than this mean the line runs back and forth inside one element.
const int kMaxItrPts3D = 9;

bool UsableLine(const gmTrmLine* line) { return line && !line->IsStraight() && !line->IsLancing(); }

// The mean of a piece's corners, each counted once: a sliver between the cut
// and a corner on the line is judged by a point inside it, not one pulled
// towards its first corner.
gmPnt3D PieceCentre(int elem)
{
    const CsDataElem& el = dataManage.GetElem(elem);
    gmPnt3D sum;
    for (int k = 0; k < el.GetNodeNum(); ++k) sum = sum + dataManage.GetNode(el[k]).GetPoint();
    return el.GetNodeNum() > 0 ? sum / static_cast<double>(el.GetNodeNum()) : sum;
}

// Nodes the cuts put on the line: crossings that got nodes, and corners and
// feature nodes moved onto it.
std::vector<char> NodesOnLine(const CsHashOpr& hash)
{
    std::vector<char> on(static_cast<size_t>(dataManage.GetNodeNumber()) + 1, 0);
    const auto mark = [&on](int node) {
        if (node > 0 && static_cast<size_t>(node) < on.size()) on[static_cast<size_t>(node)] = 1;
    };
    if (const CsHash<gmItrPt>* points = hash.GetHashItrPt()) {
        for (int b = 0; b < points->Capacity(); ++b) {
            for (const CsItem<gmItrPt>* item = points->GetItem(b); item; item = item->GetNext()) mark(item->GetData().GetNode());
        }
    }
    if (const CsHash<int>* nodes = hash.GetHashItrNd()) {
        for (int b = 0; b < nodes->Capacity(); ++b) {
            for (const CsItem<int>* item = nodes->GetItem(b); item; item = item->GetNext()) mark(item->GetData());
        }
    }
    return on;
}

// A piece is judged by whichever of its centre and its corners off the line
// lies farthest from the curve: the cut is a chord between crossings, so a
// curve that bulges past it can come near the piece's centre, or put it on the
// wrong side, while a corner off the line still lies clearly on the chord's
// side. Corners on the line (crossings, and the line's corners put on an edge)
// say nothing of the side.
gmPnt3D SideProbe(int elem, const gmCut2DLine& line, const std::vector<char>& onLine)
{
    const CsDataElem& el = dataManage.GetElem(elem);
    const int n = el.GetNodeNum();
    // Whole elements, away from every cut, keep the plain test.
    bool cut = false;
    for (int k = 0; k < n && !cut; ++k) cut = onLine[static_cast<size_t>(el[k])] != 0;
    if (!cut) return PieceCentre(elem);
    double size = 0.0;
    for (int k = 0; k < n; ++k) {
        size = std::max(size, dataManage.GetNode(el[k]).GetPoint().DistTo(dataManage.GetNode(el[(k + 1) % n]).GetPoint()));
    }
    gmPnt3D probe = PieceCentre(elem);
    double probeDst = line.DistTo(probe, size);
    for (int k = 0; k < n; ++k) {
        if (onLine[static_cast<size_t>(el[k])]) continue;
        const gmPnt3D& corner = dataManage.GetNode(el[k]).GetPoint();
        const double d = line.DistTo(corner, size);
        if (d > probeDst) {
            probeDst = d;
            probe = corner;
        }
    }
    return probe;
}

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

// The inner mark means "inside the line being cut" and makes the walk pass an element by;
// left from an earlier trim-out line, it would keep the next one from cutting what lies
// inside the first.
void ForgetInnerMarks()
{
    const int count = dataManage.GetElemNumber();
    for (int e = 1; e <= count; ++e) {
        if (dataManage.GetElem(e).IsInner()) dataManage.SetOuter(e);
    }
}

bool AnyElementKept()
{
    for (const CsDataElem& el : dataManage.GetElemArr()) {
        if (!el.IsToDel() && !el.IsDeleted()) return true;
    }
    return false;
}

}  // namespace

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

void CsToolTrm::CheckElemInOut(const gmCut2DLine& line)
{
    const std::vector<char> onLine = NodesOnLine(hashOper);
    if (!line.IsTrmOut()) {
        for (const int e : trmElemArr) {
            if (line.IsInside(SideProbe(e, line, onLine))) dataManage.SetToDel(e);
            else dataManage.SetOuter(e);
        }
        return;
    }
    const int count = dataManage.GetElemNumber();
    for (int e = 1; e <= count; ++e) {
        if (dataManage.GetElem(e).IsToDel()) continue;
        if (line.IsInside(SideProbe(e, line, onLine))) dataManage.SetInner(e);
        else dataManage.SetToDel(e);
    }
}

int CsToolTrm::TrimElemArr()
{
    SortTrmLnByArea();
    int lastCount = elemNum;
    int result = 0;
    for (size_t j = 0; j < trmLineArr.size(); ++j) {
        if (!UsableLine(trmLineArr[j])) continue;
        auto* line = dynamic_cast<gmCut2DLine*>(trmLineArr[j]);
        if (!line) continue;
        ClearSplitList();
        trmElemArr.clear();
        const CsString id = line->GetExid();
        triaTrm.SetData(line->GetRatio(), minDst, &hashOper);
        quadTrm.SetData(line->GetRatio(), minDst, &hashOper);
        const bool trimOut = line->IsTrmOut();
        const int removedBefore = trimOut ? 0 : RemovedCount();
        if (trimOut) ForgetInnerMarks();
        const size_t limit = (j + 2) * static_cast<size_t>(elemNum);
        std::vector<int> newElems;
        size_t reported = 0;

        for (size_t i = 0; i < elemArr.size(); ++i) {
            const size_t quotient = (i + 1) / kProgress2D;
            if (quotient > reported) {
                reported = quotient;
                ShowLineId("Trim", id);
                ShowLine("Number of Elements Processed: %d\n", static_cast<int>(quotient * kProgress2D));
                CsMessage().ShowNewLine(1);
            }
            const int e = elemArr[i];
            {
                const CsDataElem& el = dataManage.GetElem(e);
                if (el.IsToDel() || (trimOut && el.IsInner()) || !el.IsShell()) continue;
            }
            gmElemt elem(e);
            std::vector<gmItrPt> points;
            line->InterElement(elem, points);
            const int n = static_cast<int>(points.size());
            if (n < 2) {
                if (line->IsInside(PieceCentre(e))) {
                    if (trimOut) dataManage.SetInner(e);
                    else dataManage.SetToDel(e);
                }
                if (n == 0) continue;
            }
            AddItrPtArr(e, points);
            ListNeighbours(e, points, false);
            const bool cut = TrimElement(line, elem, points) != 0;
            if (cut && n == 1 && !trimOut && dataManage.GetElem(e).IsInner()) {
                const std::vector<int>& added = curTrmElem->GetNewElemMap().NewElemArr;
                if (!added.empty()) dataManage.SetToDel(added.front());
            }
            if (!cut) {
                if (line->IsInside(PieceCentre(e))) {
                    if (trimOut) dataManage.SetInner(e);
                    else dataManage.SetToDel(e);
                } else {
                    dataManage.SetOuter(e);
                }
            }
            // With three crossings or more the pieces still carry the rest of the line.
            FileCut(e, cut, n >= 3, n < 3 && static_cast<int>(i) < elemNum, newElems);
            if (trmElemArr.size() > limit) break;
        }

        elemArr.insert(elemArr.end(), newElems.begin(), newElems.end());
        UniqueElemArr();
        if (static_cast<int>(elemArr.size()) > lastCount) {
            ShowGrowth("Trim", id, lastCount, static_cast<int>(elemArr.size()));
            lastCount = static_cast<int>(elemArr.size());
        }
        if (!trmElemArr.empty()) {
            CheckEdgNode();
            CheckElement();
            CheckElemInOut(*line);
            result = 1;
            lineCut = true;
        } else if (trimOut) {
            // What lies outside a trim-out line goes whether the line crossed anything or not.
            CheckElemInOut(*line);
        }
        // Without a crossing, the line met the blank only if something lies inside it.
        const bool met = !trmElemArr.empty() || (trimOut ? AnyElementKept() : RemovedCount() > removedBefore);
        if (!met) ShowMissed(id);
    }
    return result;
}

// ================================================================= 3D

void CsLaserTrm::MessageBegin() { ShowBegin("*                3D Trimming                      *", "3D Trimming Begins, please wait...\n"); }

void CsLaserTrm::MessageEnd() { ShowEnd("3D trimming failed. No element trimmed", "Inappropriate gap value can result in this failure", "3D trimming finished successfully"); }

void CsLaserTrm::CollectTrimNodes()
{
    const CsHash<gmItrPt>* table = hashOper.GetHashItrPt();
    if (!table) return;
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
            const double toFirst = p.GetPoint().DistTo(dataManage.GetNode(first).GetPoint());
            const double toEnd = p.GetPoint().DistTo(dataManage.GetNode(end).GetPoint());
            // A crossing next to a corner that got no node still closes the barrier there.
            if (std::min(toFirst, toEnd) < 0.1 * (toFirst + toEnd)) {
                hashOper.InsertItrNd(toFirst <= toEnd ? first : end);
            }
        }
    }
}

int CsLaserTrm::TrimElemArr()
{
    removedBefore.assign(static_cast<size_t>(dataManage.GetElemNumber()), 0);
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        const CsDataElem& el = dataManage.GetElem(e);
        removedBefore[static_cast<size_t>(e - 1)] = (el.IsToDel() || el.IsDeleted()) ? 1 : 0;
    }

    int lastCount = elemNum;
    int result = 0;
    for (size_t j = 0; j < trmLineArr.size(); ++j) {
        if (!UsableLine(trmLineArr[j])) continue;
        auto* line = dynamic_cast<gmCut3DLine*>(trmLineArr[j]);
        if (!line) continue;
        bool seedsValid = true;
        for (const int seed : line->Seeds()) {
            if (dataManage.IsValidNode(dataManage.GetNdidFromExid(seed))) continue;
            ShowLine("Invalid Seed Node ID: %d\n", seed);
            seedsValid = false;
        }
        if (!seedsValid) continue;
        ClearSplitList();
        trmElemArr.clear();
        const CsString id = line->GetExid();
        triaTrm.SetData(line->GetRatio(), minDst, &hashOper);
        quadTrm.SetData(line->GetRatio(), minDst, &hashOper);
        const double limit = (1.5 + static_cast<double>(j)) * elemNum;
        std::vector<int> newElems;
        size_t reported = 0;

        for (size_t i = 0; i < elemArr.size(); ++i) {
            const size_t quotient = (i + 1) / kProgress3D;
            if (quotient > reported) {
                reported = quotient;
                ShowLineId("Trim", id);
                ShowLine("Number of Elements Processed: %d\n", static_cast<int>(quotient * kProgress3D));
            }
            const int e = elemArr[i];
            if (!dataManage.GetElem(e).IsShell()) continue;
            gmElemt elem(e);
            std::vector<gmItrPt> points;
            line->InterElement(elem, points);
            const int n = static_cast<int>(points.size());
            if (n < 1 || n >= kMaxItrPts3D) continue;
            AddItrPtArr(e, points);
            ListNeighbours(e, points, true);
            const bool cut = TrimElement(line, elem, points) != 0;
            FileCut(e, cut, n >= 3, n < 3 && static_cast<int>(i) < elemNum, newElems);
            if (static_cast<double>(elemArr.size()) > limit && elemNum > 10000) break;
        }

        CollectTrimNodes();
        elemArr.insert(elemArr.end(), newElems.begin(), newElems.end());
        UniqueElemArr();
        if (static_cast<int>(elemArr.size()) > lastCount) {
            ShowGrowth("Trim", id, lastCount, static_cast<int>(elemArr.size()));
            lastCount = static_cast<int>(elemArr.size());
        }
        if (!trmElemArr.empty()) {
            CheckEdgNode();
            CheckElement();
            result = 1;
            lineCut = true;
        } else {
            ShowMissed(id);
        }
    }
    GroupElement();
    return aborted ? 0 : result;
}

void CsLaserTrm::GroupElement()
{
    const int nodeCount = dataManage.GetNodeNumber();
    const int elemCount = dataManage.GetElemNumber();
    if (nodeCount == 0 || elemCount == 0) return;
    visitNdArr.assign(static_cast<size_t>(nodeCount), 0);
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
            if (hashOper.GetItemItrNd(seed)) {
                // Both sides of the line touch the seed, so the seed cannot say which to keep.
                CsString text;
                text.Format("3D trimming stopped: the seed node %d of trim curve %s lies on the trim line", exid,
                            line->GetExid().c_str());
                ShowLine(text);
                ShowLine("Choose a seed node away from the trim curve\n");
                aborted = true;
                return;
            }
            std::vector<int> around;
            tpy.GetNodeTpyElArr(seed, around);
            if (around.empty()) {
                const int onto = dataManage.GetProjectedElem(seed);
                if (onto > 0) tpy.AddNodeTpyElemt(seed, onto, 0);
            }
            GroupElement(seed, tpy);
        }
    }

    for (int e = 1; e <= elemCount; ++e) {
        const size_t k = static_cast<size_t>(e - 1);
        if (keepElArr[k] == 1 && !removedBefore[k]) dataManage.SetIdentity(e);
        else dataManage.SetToDel(e);
    }
}

void CsLaserTrm::GroupElement(int node, const CsNdElemTpy& tpy)
{
    std::deque<int> queue{node};
    std::vector<int> next;
    while (!queue.empty()) {
        const int current = queue.front();
        queue.pop_front();
        if (!dataManage.IsValidNode(current) || visitNdArr[static_cast<size_t>(current - 1)]) continue;
        visitNdArr[static_cast<size_t>(current - 1)] = 1;
        if (GroupElement(current, tpy, next)) queue.insert(queue.end(), next.begin(), next.end());
    }
}

int CsLaserTrm::GroupElement(int node, const CsNdElemTpy& tpy, std::vector<int>& next)
{
    next.clear();
    std::vector<int> around;
    tpy.GetNodeTpyElArr(node, around);
    for (const int e : around) {
        if (!dataManage.IsValidElem(e)) continue;
        const size_t k = static_cast<size_t>(e - 1);
        // The fill never enters what an earlier operation removed.
        if (removedBefore[k] || keepElArr[k]) continue;
        const CsDataElem& el = dataManage.GetElem(e);
        for (int c = 0; c < el.GetNodeNum(); ++c) {
            const int corner = el[c];
            if (corner == node || !dataManage.IsValidNode(corner)) continue;
            if (visitNdArr[static_cast<size_t>(corner - 1)] || hashOper.GetItemItrNd(corner)) continue;
            next.push_back(corner);
        }
    }
    for (const int e : around) {
        if (dataManage.IsValidElem(e) && !removedBefore[static_cast<size_t>(e - 1)]) {
            keepElArr[static_cast<size_t>(e - 1)] = 1;
        }
    }
    std::sort(next.begin(), next.end());
    next.erase(std::unique(next.begin(), next.end()), next.end());
    return next.empty() ? 0 : 1;
}
