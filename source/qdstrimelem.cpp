#include "qdstrimelem.h"

#include "qdsdatabase.h"
#include "qdsgeomline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace {

// Two distinct crossings closer than this are one crossing seen twice.
constexpr double kSamePoint = 0.05;
// A crossing this near a vertex (relative to the edge) lies on it.
constexpr double kOnVertex = 1e-6;
// A single crossing this near a vertex (relative to the edge) moves it.
constexpr double kOnePointMove = 0.1;
// Closer than this share of its edge, a crossing by a vertex that must stay
// passes through the vertex: a node of its own there would be too near the
// vertex for the neighbour across the edge to be split at it.
constexpr double kStayNear = 0.1;
// A corner on the line stays when the line bends away from the straight
// run to a crossing near it by more than this share of their distance; the
// vertex is looked for on this many segments either side of the crossing's.
constexpr double kBendShare = 0.1;
constexpr int kBendSegs = 3;
// A vertex stays where its move would leave an element around it with no
// split into two triangles each above this share of its area: the element
// would fold or lie flat.
constexpr double kNeighbourShare = 0.01;
// Feature point: minimum offset from the chord and from the pair's points,
// and the cosine below which its angle is a straight run.
constexpr double kFeatOffset = 0.001;
constexpr double kStraightCos = -0.8660254;
// The line turns by less than 30 degrees at each of its points.
constexpr double kSmoothCos = 0.8660254;
// A line point where it turns by more than sixty degrees is a tip.
constexpr double kSharpTurn = 0.5;
// Pieces below this share of the element's area count as having none.
constexpr double kMinAreaShare = 1e-6;
// A node placed on an edge stays this share of the edge away from its ends.
constexpr double kFootMargin = 0.02;

double Cross2(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmVec3D& n)
{
    return (b - a).Cross(c - a).Dot(n);
}

// Twice the signed area of triangle a-b-c in the plane: positive when c lies
// left of a-b.
double Turn2(const gmPnt2D& a, const gmPnt2D& b, const gmPnt2D& c)
{
    return (b - a).Cross(c - a);
}

}  // namespace

CsTrmElem::CsTrmElem(CsHashOpr* opr, gmTrmLine* line) : trmLine(line), hashOpr(opr) {}

void CsTrmElem::SetData(double ratioIn, double minDstIn, CsHashOpr* opr)
{
    ratio = ratioIn;
    minDst = minDstIn;
    hashOpr = opr;
}

// ------------------------------------------------------------ the run

int CsTrmElem::Trimming(gmTrmLine* line, gmElemt* elem, const std::vector<gmItrPt>& points)
{
    trmLine = line;
    elemt = elem;
    if (!trmLine || !elemt || !hashOpr) return 0;
    itrPtArr = points;
    itrPtNum = static_cast<int>(itrPtArr.size());
    if (itrPtNum == 0 || !elemt->IsShell()) return 0;
    if (dataManage.IsValidElem(elemt->GetElemID()) && !dataManage.GetElem(elemt->GetElemID()).IsShell()) return 0;
    srcElem = elemt->GetElemID();
    newElemMap = CsElemMap();
    newElemMap.SetSrcElem(srcElem);
    curPair = 1;
    prjPtNode = 0;
    movedNode = 0;
    splitElArr.clear();
    onSameEdge = false;
    cornersOnCrossings.clear();

    if (itrPtNum == 1) {
        StartPlan();
        Trim1ItrPt();
        Commit();
    } else if (itrPtNum == 2) {
        StartPlan();
        Trim2ItrPt();
        CutAtMovedCorners();
        Commit();
    } else {
        Trim3ItrPt();
    }
    hashOpr->InsertItrNd(prjPtNode);
    hashOpr->InsertItrNd(movedNode);
    return hashOpr->AddNewElemMap(newElemMap);
}

int CsTrmElem::Trim3ItrPt()
{
    SortItrPtArr();
    for (int k = 2; k <= itrPtNum; ++k) {
        curPair = k;
        prjPtNode = 0;
        movedNode = 0;
        StartPlan();
        Trim2ItrPt();
        CutAtMovedCorners();
        std::vector<int> moved;
        for (const auto& vm : vertexMoves) moved.push_back(Nd(vm.first));
        Commit();
        if (newElemMap.GetElemNum() > 0) return 1;
        // A corner moved onto this pair's point can pull its other edge past
        // a later point: along a smooth line the rest of it then runs in the
        // neighbour beyond that edge, which cuts it with its own crossings.
        // (A sharp line's later pairs still need the moved corner.)
        if (!moved.empty() && LaterPointLeft(k, moved) && LineSmoothFrom(k - 1)) return 0;
    }
    return 0;
}

bool CsTrmElem::LineSmoothFrom(int first) const
{
    const int segs = trmLine->GetUcsCount() - 1;
    if (segs < 2) return true;
    int from = itrPtArr[static_cast<size_t>(first)].GetLineIdx();
    const int to = itrPtArr.back().GetLineIdx();
    if (from < 0 || to < 0) return false;
    const bool closed = trmLine->GetUcsAt(0).DistTo(trmLine->GetUcsAt(segs)) <= 0.0;
    for (int guard = 0; from != to && guard < segs; ++guard) {
        const int v = (from + 1) % segs;
        from = v;
        if (v == 0 && !closed) continue;
        const gmPnt3D& a = trmLine->GetUcsAt((v + segs - 1) % segs);
        const gmPnt3D& b = trmLine->GetUcsAt(v);
        const gmPnt3D& c = trmLine->GetUcsAt(v + 1);
        const gmVec3D u = (b - a).Normalized(), w = (c - b).Normalized();
        if (u.Dot(w) < kSmoothCos) return false;
    }
    return true;
}

bool CsTrmElem::LaterPointLeft(int k, const std::vector<int>& moved) const
{
    for (int i = k; i < itrPtNum; ++i) {
        const gmItrPt& q = itrPtArr[static_cast<size_t>(i)];
        for (const int node : moved) {
            if (q.GetEdge().GetFstNode() != node && q.GetEdge().GetEndNode() != node) continue;
            if (q.GetPoint().DistTo(PosOf(node)) <= kSamePoint) continue;
            // Only a point the move left outside the element: one still on
            // or in it is cut by the next pair.
            const int n = NodeNum();
            bool outside = false;
            for (int v = 0; v < n && !outside; ++v) {
                const gmPnt3D& a = PosOf(Nd(v));
                const gmPnt3D& b = PosOf(Nd((v + 1) % n));
                outside = Cross2(a, b, q.GetPoint(), srcNormal) < -kSamePoint * a.DistTo(b);
            }
            if (outside) return true;
        }
    }
    return false;
}

int CsTrmElem::Trim1ItrPt()
{
    if (!InitData()) return 0;
    const int n = NodeNum();
    const int a = edge1[0];
    const int b = edge1[1];
    const int p = (a + n - 1) % n;
    const int q = (b + 1) % n;
    const gmItrPt* next = hashOpr->GetItrPt(Nd(b), Nd(q));
    if (next) {
        itrNode2 = next->GetNode();
        std::vector<int> rest(nodeArr);
        if (itrNode1 >= 1) {
            Add({Nd(p), Nd(a), itrNode1});
            rest[static_cast<size_t>(a)] = itrNode1;
            Rewrite(rest);
        } else if (itrNode2 >= 1) {
            extraEdgeNodes.emplace_back(itrNode2, b);
            Add({Nd(a), Nd(b), itrNode2});
            rest[static_cast<size_t>(b)] = itrNode2;
            Rewrite(rest);
        }
        copyFlags = HasPieces();
        return 1;
    }
    const double len = Vtx(a).DistTo(Vtx(b));
    if (len <= 0.0) return 0;
    // The point is a corner and the line runs straight from there to the
    // opposite corner, which an earlier cut put on it: the line parts the
    // element along that diagonal, though it crosses no edge.
    for (const int v : {a, b}) {
        const int w = (v + 2) % n;
        bool onLine = false;
        if (n != 4 || !OnPoint(v, 1) || !OnLineAlready(Nd(w)) || LineBendsOff(1, Vtx(w), &onLine) || !onLine)
            continue;
        Rewrite({Nd(v), Nd((v + 1) % n), Nd(w)});
        Add({Nd(w), Nd((v + 3) % n), Nd(v)});
        return 1;
    }
    const double r = Vtx(a).DistTo(Pt(1)) / len;
    if (r < kOnePointMove)
        MoveVertex(a, Pt(1));
    else if (r > 1.0 - kOnePointMove)
        MoveVertex(b, Pt(1));
    return 1;
}

// ------------------------------------------------------- the pair

int CsTrmElem::InitData()
{
    if (itrPtNum == 1) {
        itrPt1 = itrPt2 = &itrPtArr[0];
    } else if (itrPtNum == 2) {
        itrPt1 = &itrPtArr[0];
        itrPt2 = &itrPtArr[1];
    } else {
        if (curPair < 2 || curPair > itrPtNum) return 0;
        itrPt1 = &itrPtArr[static_cast<size_t>(curPair - 2)];
        itrPt2 = &itrPtArr[static_cast<size_t>(curPair - 1)];
    }
    if (itrPt1->GetEdge().GetFstNode() == itrPt2->GetEdge().GetEndNode()) std::swap(itrPt1, itrPt2);
    hshItrPt1 = hashOpr->GetExistItrPt(*itrPt1);
    hshItrPt2 = hashOpr->GetExistItrPt(*itrPt2);
    if (!hshItrPt1 || !hshItrPt2) return 0;
    itrNode1 = hshItrPt1->GetNode();
    itrNode2 = hshItrPt2->GetNode();
    // The positions are looked up by node: a piece cut again has a node list
    // of its own, and the points' stored positions may be those of its source.
    const auto at = [this](int node) {
        const auto it = std::find(nodeArr.begin(), nodeArr.end(), node);
        return it == nodeArr.end() ? -1 : static_cast<int>(it - nodeArr.begin());
    };
    edge1[0] = at(itrPt1->GetEdge().GetFstNode());
    edge1[1] = at(itrPt1->GetEdge().GetEndNode());
    edge2[0] = at(itrPt2->GetEdge().GetFstNode());
    edge2[1] = at(itrPt2->GetEdge().GetEndNode());
    const int n = NodeNum();
    if (edge1[0] < 0 || edge1[1] < 0 || edge2[0] < 0 || edge2[1] < 0) return 0;
    if ((edge1[0] + 1) % n != edge1[1] || (edge2[0] + 1) % n != edge2[1]) return 0;
    if (itrPt1 != itrPt2 && Pt(1).DistTo(Pt(2)) <= kSamePoint && !PokesAcrossCoarseEdge()) return 0;

    edgeLen1 = Vtx(edge1[0]).DistTo(Vtx(edge1[1]));
    edgeLen2 = Vtx(edge2[0]).DistTo(Vtx(edge2[1]));
    if (edgeLen1 <= 0.0 || edgeLen2 <= 0.0) return 0;
    endDst1 = Pt(1).DistTo(Vtx(edge1[1]));
    endDst2 = Pt(2).DistTo(Vtx(edge2[1]));
    pos1 = endDst1 / edgeLen1;
    pos2 = endDst2 / edgeLen2;
    // A crossing an earlier pair of this element took as its hanging corner
    // (moving the corner onto it), or one on a corner that an earlier cut
    // moved onto the line there, is that corner: the crossing's own node
    // would sit on top of it, and be left off the line beside it.
    for (int k = 1; k <= 2; ++k) {
        const int* edge = k == 1 ? edge1 : edge2;
        for (int j = 0; j < 2 && ItrNode(k) < 1; ++j) {
            const int v = Nd(edge[j]);
            const double d = Pt(k).DistTo(Vtx(edge[j]));
            const bool took = std::find(cornersOnCrossings.begin(), cornersOnCrossings.end(), v) != cornersOnCrossings.end();
            const bool shared = edge1[1] == edge2[0] && edge[j] == edge1[1];
            if ((took && d <= kSamePoint) || (shared && OnLineAlready(v) && d <= kOnVertex * (k == 1 ? edgeLen1 : edgeLen2)))
                ItrNode(k) = v;
        }
    }

    featIdx = featVtx = featEdge = -1;
    featNode = featInner = featDone = 0;
    return 1;
}

bool CsTrmElem::PokesAcrossCoarseEdge() const
{
    // Two points this close on one edge are one crossing seen twice, except
    // on a coarse edge: the fine side beyond, whose edges are half as long,
    // cuts the line's corner off at them, and the coarse element must carry
    // their nodes on its edge. Points on top of each other stay one.
    if (itrPt1 == itrPt2 || edge1[0] != edge2[0] || edge1[1] != edge2[1]) return false;
    const double d = Pt(1).DistTo(Pt(2));
    return d <= kSamePoint && d > kOnVertex * Vtx(edge1[0]).DistTo(Vtx(edge1[1])) &&
           AdpNodeOn(Nd(edge1[0]), Nd(edge1[1])) > 0;
}

void CsTrmElem::Exchange()
{
    std::swap(itrNode1, itrNode2);
    std::swap(edge1, edge2);
    std::swap(pos1, pos2);
    std::swap(edgeLen1, edgeLen2);
    std::swap(endDst1, endDst2);
    std::swap(itrPt1, itrPt2);
    std::swap(hshItrPt1, hshItrPt2);
}

void CsTrmElem::SortItrPtArr()
{
    if (itrPtNum < 3 || !trmLine || !elemt) return;
    std::stable_sort(itrPtArr.begin(), itrPtArr.end(),
                     [](const gmItrPt& l, const gmItrPt& r) { return l.GetLineIdx() < r.GetLineIdx(); });
    const gmCrdSys& cs = elemt->GetUcs();
    const int lineCount = trmLine->GetUcsCount();
    for (size_t i = 1; i < itrPtArr.size(); ++i) {
        const int idx = itrPtArr[i].GetLineIdx();
        if (idx != itrPtArr[i - 1].GetLineIdx() || idx < 0 || idx >= lineCount) continue;
        const gmPnt2D start(trmLine->GetUcsAt(idx));
        const double before = gmPnt2D(itrPtArr[i - 1].GetPoint().InUcs(cs)).DistTo(start);
        const double here = gmPnt2D(itrPtArr[i].GetPoint().InUcs(cs)).DistTo(start);
        if (before > here) std::swap(itrPtArr[i - 1], itrPtArr[i]);
    }
    // Start just after the largest gap in segment index, so that neighbours
    // in the list bound pieces of the line that run through the element.
    const int segs = lineCount - 1;
    int bestGap = segs - itrPtArr.back().GetLineIdx() + itrPtArr.front().GetLineIdx();
    int after = -1;
    for (size_t i = 1; i < itrPtArr.size(); ++i) {
        const int gap = itrPtArr[i].GetLineIdx() - itrPtArr[i - 1].GetLineIdx();
        if (gap > bestGap) {
            bestGap = gap;
            after = static_cast<int>(i - 1);
        }
    }
    if (after >= 0) std::rotate(itrPtArr.begin(), itrPtArr.begin() + after + 1, itrPtArr.end());
}

// ------------------------------------------------ the feature point

int CsTrmElem::GetMaxDstLnPnt(gmPnt3D& prj, bool anyTurn)
{
    if (!trmLine || !itrPt1 || !itrPt2 || !elemt) return -1;
    const int i1 = itrPt1->GetLineIdx();
    const int i2 = itrPt2->GetLineIdx();
    if (i1 == i2 || i1 < 0 || i2 < 0) return -1;
    const int segs = trmLine->GetUcsCount() - 1;
    if (segs < 1) return -1;
    const int lo = std::min(i1, i2);
    const int hi = std::max(i1, i2);
    int from = lo + 1;
    int to = hi;
    if (hi - lo > segs - hi + lo) {
        from = hi + 1;
        to = lo + segs;
    }
    const gmPnt3D& p1 = Pt(1);
    const gmPnt3D& p2 = Pt(2);
    const gmLin3D chord(p1, p2);
    int best = -1;
    double bestDst = kFeatOffset;
    for (int j = from; j <= to; ++j) {
        const int v = j % segs;
        gmPnt3D out;
        if (!elemt->Project(trmLine->GetUcsAt(v), out, 1)) continue;
        const double d = chord.Distance(out);
        if (d > bestDst) {
            bestDst = d;
            best = v;
            prj = out;
        }
    }
    if (best < 0) return -1;
    if (prj.DistTo(p1) < kFeatOffset || prj.DistTo(p2) < kFeatOffset) return -1;
    const gmVec3D u = (p1 - prj).Normalized();
    const gmVec3D w = (p2 - prj).Normalized();
    if (!anyTurn && u.Dot(w) < kStraightCos) return -1;
    return best;
}

bool CsTrmElem::HasFeatPnt()
{
    gmPnt3D prj;
    featIdx = GetMaxDstLnPnt(prj);
    if (featIdx >= 0) prjPt = prj;
    return featIdx >= 0;
}

double CsTrmElem::DstToEdgeLine(const gmPnt3D& p, int i, int j) const { return p.DistTo(Vtx(i), Vtx(j)); }

int CsTrmElem::GetMinDstEdge(double& dst) const
{
    dst = 1.0e8;
    if (featIdx < 0) return -1;
    int best = -1;
    const int n = NodeNum();
    for (int e = 0; e < n; ++e) {
        const double d = DstToEdgeLine(prjPt, e, (e + 1) % n);
        if (d < dst) {
            dst = d;
            best = e;
        }
    }
    return best;
}

void CsTrmElem::CheckFeatPnt()
{
    if (featIdx < 0) return;
    double dmin = 0.0;
    const int e = GetMinDstEdge(dmin);
    if (e < 0) return;
    const int n = NodeNum();
    const int a = e;
    const int b = (e + 1) % n;
    const double dA = prjPt.DistTo(Vtx(a));
    const double dB = prjPt.DistTo(Vtx(b));
    const double r = dB > 0.0 ? dA / dB : 1.0e8;
    if (r > 1.4) {
        featVtx = b;
    } else if (r < 0.5) {
        featVtx = a;
    } else {
        const double h = Height((b + 1) % n, a, b);
        if (h > 0.0 && dmin / h < 0.2)
            featEdge = e;
        else
            featInner = 1;
    }
    if (featVtx >= 0 && (featVtx == edge1[0] || featVtx == edge1[1]) && edge1[0] == edge2[0]) {
        const bool secondFarther = Pt(2).DistTo(prjPt) > Pt(1).DistTo(prjPt);
        if ((secondFarther && itrNode1 > 0) || itrNode2 > 0) {
            // The corner cannot go to the feature. Only one by the edge is cut
            // off along it; one well inside is kept as a node there, or the
            // point without a node would be left off the pieces while the
            // neighbour across makes one.
            const gmPnt3D& f = Vtx(edge1[0]);
            const gmPnt3D& t = Vtx(edge1[1]);
            if (prjPt.DistTo(f, t) <= kStayNear * f.DistTo(t))
                featEdge = edge1[0];
            else
                featInner = 1;
            featVtx = -1;
        }
    }
    if (featVtx >= 0 && (OnLineAlready(Nd(featVtx)) || HoldsEdgeNode(featVtx) || MoveSpoilsNeighbour(featVtx, prjPt) ||
                          TurnsCoarseEdge(featVtx, prjPt, true) || JustOffCoarseEdge(featVtx, prjPt))) {
        featVtx = -1;
        featInner = 1;
    }
    if (featVtx >= 0) {
        MoveVertex(featVtx, prjPt);
        movedNode = Nd(featVtx);
        if (EdgeFst(1) == featVtx) pos1 = 1.0;
        if (EdgeEnd(1) == featVtx) pos1 = 0.0;
        if (EdgeFst(2) == featVtx) pos2 = 1.0;
        if (EdgeEnd(2) == featVtx) pos2 = 0.0;
    }
    featDone = 1;
}

bool CsTrmElem::EdgeHoldsVertex(int k) const
{
    const int node = k == 1 ? itrNode1 : itrNode2;
    if (node > 0 && !IsPlannedNode(node)) return true;
    return hashOpr && hashOpr->GetCsAdpNd(Nd(EdgeFst(k)), Nd(EdgeEnd(k))) != nullptr;
}

bool CsTrmElem::HoldsEdgeNode(int v) const { return hashOpr && hashOpr->HoldsEdgeNode(Nd(v)); }

bool CsTrmElem::SharedVertexMayMove() const
{
    // A crossing that has a node already keeps it where the neighbour's pieces
    // meet it, and one at the far end of its edge cannot go with the vertex:
    // either would be left off the moved edges, opening a gap or an overlap.
    return itrNode1 < 1 && itrNode2 < 1 && ClassOf(pos1) != Upp && ClassOf(pos2) != Low;
}

gmPnt3D CsTrmElem::FootOnEdge(const gmPnt3D& p, int i, int j) const
{
    const gmPnt3D& a = Vtx(i);
    const gmPnt3D& b = Vtx(j);
    const gmVec3D ab = b - a;
    const double len2 = ab.SqrLen();
    if (len2 <= 0.0) return a;
    const double t = std::clamp((p - a).Dot(ab) / len2, kFootMargin, 1.0 - kFootMargin);
    return a + ab * t;
}

int CsTrmElem::SetEdgeItrPt(int e)
{
    if (e < 0 || featNode > 0 || !featDone) return 0;
    const int n = NodeNum();
    const int f = e;
    const int t = (e + 1) % n;
    // On half of a coarse edge the node would be the fine side's alone: the
    // coarse neighbour has no edge there to take it, and a crack opens. The
    // line's corner stays inside the element instead.
    const auto halfOfCoarse = [this](int u, int v) {
        const CsDataAdpv* c = hashOpr->GetCsAdpNd(u);
        return c && (dataManage.GetNdidFromExid(c->GetN1()) == v || dataManage.GetNdidFromExid(c->GetN2()) == v);
    };
    if (halfOfCoarse(Nd(f), Nd(t)) || halfOfCoarse(Nd(t), Nd(f))) {
        featEdge = -1;
        featInner = 1;
        return 0;
    }
    gmEdge edge(Nd(f), Nd(t), f, t);
    edge.AddElemnt(srcElem);
    const int segs = trmLine ? trmLine->GetUcsCount() - 1 : 0;
    const gmPnt3D foot = FootOnEdge(prjPt, f, t);
    gmItrPt point(foot, featIdx > 0 ? featIdx - 1 : segs - 1);
    point.SetEdge(edge);
    CsDataAdpv hanging;
    const int m = AdpNodeOn(Nd(f), Nd(t), &hanging);
    if (m > 0) {
        PlanRemoveAdp(hanging);
        MoveNode(m, foot);
        featNode = m;
    } else {
        featNode = PlanNode(foot, nullptr);
        point.SetNode(featNode);
        PlanItrRecord(point);
    }
    PlanTrimNode(featNode);
    const int next = dataManage.GetEdgeNextElem(Nd(f), Nd(t), srcElem);
    if (next > 0) splitPlan.push_back(next);
    return 1;
}

// --------------------------------------- adaptive node on a cut edge

int CsTrmElem::GetAdpEdgeNode(double pos, gmItrPt* point)
{
    if (!point) return 0;
    const int k = point == itrPt1 ? 1 : 2;
    const int a = Nd(EdgeFst(k));
    const int b = Nd(EdgeEnd(k));
    CsDataAdpv c;
    const int m = AdpNodeOn(a, b, &c);
    if (m < 1) return 0;
    const gmPnt3D p = point->GetPoint();

    // A node for the point on the half m-other, whose record is reused when
    // the fine neighbour there already made one.
    const auto nodeOnHalf = [&](int other) {
        gmItrPt* rec = hashOpr->GetItrPt(m, other);
        // A record at the hanging node itself is the fine side's crossing
        // where it moved that node onto the line, not this point's.
        if (rec && rec->GetPoint().DistTo(PosOf(m)) <= kSamePoint && p.DistTo(PosOf(m)) > kSamePoint) rec = nullptr;
        if (rec && rec->GetNode() > 0) return rec->GetNode();
        if (rec) return PlanNode(rec->GetPoint(), rec);
        gmItrPt copy(*point);
        copy.SetEdge(gmEdge(m, other, 0, 0));
        const int x = PlanNode(p, nullptr);
        copy.SetNode(x);
        PlanItrRecord(copy);
        return x;
    };
    const auto rehang = [&](int keep, int x) {
        PlanRemoveAdp(c);
        PlanInsertAdp(keep, x, m);
        PlanTrimNode(x);
        return x;
    };
    const auto takeM = [&]() {
        MoveNode(m, p);
        PlanRemoveAdp(c);
        PlanTrimNode(m);
        return m;
    };
    // The corner shared with the other point's edge moved onto this point would
    // take that edge off the other point, whose node the pieces then leave
    // off their outline: this point gets a node of its own on its half. With
    // more points the move stays: the rules of the later pairs build on it.
    const auto pullsOtherPoint = [&](int v) {
        const int o = 3 - k;
        return itrPtNum == 2 && (EdgeFst(o) == v || EdgeEnd(o) == v) && DstToVtx(o, v) > kSamePoint;
    };
    // Nor does a corner whose move would swing a neighbour's edge off a node
    // another cut left inside it.
    const auto staysPut = [&](int v) { return pullsOtherPoint(v) || PinnedNear(k, v) || SwingsOffEdgeNode(v, p); };
    // The fine side moved the hanging node onto the point already: a node of
    // the coarse side's own there would lie on top of it.
    if (p.DistTo(PosOf(m)) <= kSamePoint) return takeM();
    // The fine side moved the hanging node off the edge onto a corner of the
    // line, which runs straight from there to this point: pulled onto the
    // point, the node would take the fine pieces' edges off the line. It
    // stands for the point where it is, the piece ending along the line.
    // A node the fine side made on the point's half is the crossing itself.
    const bool halfHasNode = hashOpr->FindEdgeExistNode(pos < 0.5 ? gmEdge(m, b, 0, 0) : gmEdge(a, m, 0, 0)) > 0;
    if (pos > 0.2 && pos < 0.8 && !halfHasNode && StandsOffEdgeFor(m, a, b, k)) {
        PlanRemoveAdp(c);
        PlanTrimNode(m);
        return m;
    }
    const bool adjacent = edge1[1] == edge2[0] && edge1[0] != edge2[0];
    // Moved along the edge onto the point, the hanging node would swing the
    // fine side's edges at it off the nodes another cut left inside them: the
    // point gets a node of its own on its half.
    const auto strandsM = [&]() { return AnyEdgeAt(m, srcElem, [&](int, int w) { return SwingsOffEdgeNode(m, w, p); }); };
    const auto nearM = [&](bool lower) {
        if (adjacent && ((k == 2 && pos1 < 0.2) || (k == 1 && pos2 > 0.8))) return 0;
        const bool onLine = PosOf(m).DistTo(PosOf(a), PosOf(b)) < 0.001;
        if (onLine && (strandsM() || (lower && pos < 0.3) || (!lower && pos > 0.7)))
            return lower ? rehang(a, nodeOnHalf(b)) : rehang(b, nodeOnHalf(a));
        return takeM();
    };

    if (pos < 0.5) {
        const int x = hashOpr->FindEdgeExistNode(gmEdge(m, b, 0, 0));
        if (x > 0) return rehang(a, x);
        if (pos > 0.4 && !strandsM()) return takeM();
        if (pos > 0.4) return rehang(a, nodeOnHalf(b));
        if (pos <= 0.2) return 0;
        const gmPnt3D ref = pos < 0.25 ? PosOf(b) : PosOf(m);
        if (p.DistTo(ref) > minDst) return rehang(a, nodeOnHalf(b));
        if (pos <= 0.25 && !staysPut(EdgeEnd(k))) {
            MoveVertexOnPt(EdgeEnd(k), k);
            return 0;
        }
        if (pos <= 0.25) return rehang(a, nodeOnHalf(b));
        return nearM(true);
    }
    const int x = hashOpr->FindEdgeExistNode(gmEdge(a, m, 0, 0));
    if (x > 0) return rehang(b, x);
    if (pos < 0.6 && !strandsM()) return takeM();
    if (pos < 0.6) return rehang(b, nodeOnHalf(a));
    if (pos >= 0.8) return 0;
    const gmPnt3D ref = pos < 0.75 ? PosOf(m) : PosOf(a);
    if (p.DistTo(ref) > minDst) return rehang(b, nodeOnHalf(a));
    if (pos >= 0.75 && !staysPut(EdgeFst(k))) {
        MoveVertexOnPt(EdgeFst(k), k);
        return 0;
    }
    if (pos >= 0.75) return rehang(b, nodeOnHalf(a));
    return nearM(false);
}

int CsTrmElem::TrimEdgeAtAdpNd()
{
    const int f = edge1[0];
    const int t = edge1[1];
    CsDataAdpv hanging;
    const int m = AdpNodeOn(Nd(f), Nd(t), &hanging);
    if (m < 1 || edge2[0] != f) return 0;
    onSameEdge = true;
    // A point an earlier cut moved an end of the edge onto is that corner,
    // when the other point lies on the same half or on the hanging node: the
    // fine neighbour there has its node, which the pieces must share.
    int endAt[3] = {-1, -1, -1};
    const auto atM = [&](int k) { return Pt(k).DistTo(PosOf(m)) <= kSamePoint || StandsOffEdgeFor(m, Nd(f), Nd(t), k); };
    for (int k = 1; k <= 2; ++k) {
        if (Pt(k).DistTo(Vtx(f)) <= kSamePoint) endAt[k] = f;
        else if (Pt(k).DistTo(Vtx(t)) <= kSamePoint) endAt[k] = t;
    }
    for (int k = 1; k <= 2; ++k) {
        const int v = endAt[k];
        if (v < 0) continue;
        const gmPnt3D& other = Pt(3 - k);
        const bool sameHalf = other.DistTo(Vtx(v)) < other.DistTo(Vtx(v == f ? t : f));
        if (endAt[3 - k] >= 0 || !(sameHalf || atM(3 - k))) return 0;
    }
    // Pieces that kept the coarse edge whole would leave the fine side's
    // nodes off it and the points' nodes off the fine side: the hanging node
    // is made a corner, so the constraint goes.
    const int had1 = itrNode1, had2 = itrNode2;
    PlanRemoveAdp(hanging);
    extraEdgeNodes.emplace_back(m, f);
    const double half = Vtx(f).DistTo(PosOf(m));
    for (int k = 1; k <= 2; ++k) {
        gmItrPt* point = k == 1 ? itrPt1 : itrPt2;
        const gmPnt3D p = point->GetPoint();
        int x = m;
        if (endAt[k] >= 0) {
            x = Nd(endAt[k]);
        } else if (!atM(k)) {
            // The record on the half is the fine neighbour's when it came first,
            // and the one it will find when it comes later.
            gmItrPt copy(*point);
            copy.SetEdge(gmEdge(m, Nd(p.DistTo(Vtx(f)) < half ? f : t), 0, 0));
            gmItrPt* rec = hashOpr->GetExistItrPt(copy);
            if (rec && rec->GetNode() > 0) {
                x = rec->GetNode();
            } else if (rec) {
                x = PlanNode(rec->GetPoint(), rec);
            } else {
                x = PlanNode(p, nullptr);
                copy.SetNode(x);
                PlanItrRecord(copy);
            }
        }
        ItrNode(k) = x;
        PlanRecordNode(HshPt(k), x);
        PlanTrimNode(x);
    }
    // A corner of the line between the points is kept as a node inside.
    featDone = 1;
    featInner = HasFeatPnt() ? 1 : 0;
    if (!featInner) {
        // Even a shallow dip between two points on the edge needs its deepest
        // point: a cut along the edge itself leaves no piece between them.
        gmPnt3D prj;
        const int idx = GetMaxDstLnPnt(prj, true);
        if (idx >= 0) {
            featIdx = idx;
            prjPt = prj;
            featInner = 1;
        }
    }
    const int x1 = itrNode1, x2 = itrNode2;
    if (featInner && CutAlong(x1, x2)) return 1;
    DropInnerFeature();
    if (CutAlong(x1, x2)) return 1;
    // No pieces: the element is left to the cutter's own same-edge rules.
    ClearPlan();
    itrNode1 = had1;
    itrNode2 = had2;
    featDone = 0;
    return 0;
}

// ----------------------------------------------------------- planning

void CsTrmElem::ClearPlan()
{
    plannedNodes.clear();
    moves.clear();
    vertexMoves.clear();
    adpChanges.clear();
    newRecords.clear();
    recordNodes.clear();
    trimNodes.clear();
    splitPlan.clear();
    rewriteArr.clear();
    addArr.clear();
    extraEdgeNodes.clear();
    copyFlags = false;
    forgetRecord = nullptr;
    stayRefused = false;
}

void CsTrmElem::StartPlan()
{
    ClearPlan();
    nodeArr = elemt->GetNodeArr();
    vtxArr.clear();
    for (int i = 0; i < NodeNum(); ++i) vtxArr.push_back(elemt->GetVertex(i));
    const int n = NodeNum();
    srcNormal = n == 3 ? (vtxArr[1] - vtxArr[0]).Cross(vtxArr[2] - vtxArr[0])
                       : (vtxArr[2] - vtxArr[0]).Cross(vtxArr[3] - vtxArr[1]);
    srcNormal.Normalize();
    baseNodes = dataManage.GetNodeNumber();
    itrPt1 = itrPt2 = nullptr;
    hshItrPt1 = hshItrPt2 = nullptr;
    itrNode1 = itrNode2 = 0;
}

int CsTrmElem::Nd(int i) const { return nodeArr[static_cast<size_t>(i)]; }

bool CsTrmElem::IsCorner(int node) const { return std::find(nodeArr.begin(), nodeArr.end(), node) != nodeArr.end(); }

const gmPnt3D& CsTrmElem::Vtx(int i) const { return vtxArr[static_cast<size_t>(i)]; }

gmPnt3D CsTrmElem::PosOf(int node) const
{
    if (IsPlannedNode(node)) return plannedNodes[static_cast<size_t>(node - baseNodes - 1)].point;
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        if (it->first == node) return it->second;
    }
    return dataManage.GetNode(node).GetPoint();
}

int CsTrmElem::PlanNode(const gmPnt3D& p, gmItrPt* record)
{
    plannedNodes.push_back({record ? record->GetPoint() : p, record});
    return baseNodes + static_cast<int>(plannedNodes.size());
}

int CsTrmElem::NodeAt(int k)
{
    int& x = ItrNode(k);
    if (x > 0) return x;
    gmItrPt* rec = HshPt(k);
    if (rec && rec->GetNode() > 0) return x = rec->GetNode();
    // A point an earlier cut moved an end of its edge onto is that corner:
    // a node of its own would lie on top of it.
    for (const int v : {EdgeFst(k), EdgeEnd(k)}) {
        if (OnLineAlready(Nd(v)) && DstToVtx(k, v) <= kSamePoint) {
            PlanRecordNode(rec, Nd(v));
            return x = Nd(v);
        }
    }
    for (size_t j = 0; j < plannedNodes.size(); ++j) {
        if (rec && plannedNodes[j].record == rec) return x = baseNodes + static_cast<int>(j) + 1;
    }
    // On a coarse edge the hanging node keeps hanging on the part the node
    // leaves it, and the node is the fine neighbour's across the other part:
    // the one it made there, or one it finds under its own edge.
    const int na = Nd(EdgeFst(k)), nb = Nd(EdgeEnd(k));
    CsDataAdpv c;
    const int m = AdpNodeOn(na, nb, &c);
    const bool nearEnd = Pt(k).DistTo(Vtx(EdgeEnd(k))) < Pt(k).DistTo(Vtx(EdgeFst(k)));
    const gmItrPt* fine = nullptr;
    const int half = nearEnd ? nb : na;
    for (const CsItem<gmItrPt>* item = m > 0 ? hashOpr->GetItemItrPt(m, half) : nullptr; item; item = item->GetNext()) {
        const gmItrPt& p = item->GetData();
        if (p.GetEdge() != gmEdge(m, half, 0, 0) || p.GetNode() < 1) continue;
        if (!fine || p.GetPoint().DistTo(Pt(k)) < fine->GetPoint().DistTo(Pt(k))) fine = &p;
    }
    // The coarse edge may have moved off the fine one, but not by a quarter.
    if (fine && fine->GetPoint().DistTo(Pt(k)) > 0.25 * Vtx(EdgeFst(k)).DistTo(Vtx(EdgeEnd(k)))) fine = nullptr;
    // An earlier pair's node shortened the coarse edge: the fine side's
    // records stay on the half to the old end, but its pieces already end
    // at the node it made on the point, next to the hanging node.
    int made = 0;
    if (!fine && m > 0) {
        const double tol = kOnVertex * Vtx(EdgeFst(k)).DistTo(Vtx(EdgeEnd(k)));
        AnyEdgeAt(m, -1, [&](int, int u) {
            if (u == na || u == nb || IsCorner(u) || PosOf(u).DistTo(Pt(k)) > tol) return false;
            made = u;
            return true;
        });
    }
    if (made > 0) {
        x = made;
        PlanRecordNode(rec, x);
    } else if (fine) {
        x = fine->GetNode();
        PlanRecordNode(rec, x);
    } else {
        x = rec ? PlanNode(rec->GetPoint(), rec) : PlanNode(Pt(k), nullptr);
    }
    if (m > 0) {
        PlanRemoveAdp(c);
        PlanInsertAdp(nearEnd ? na : nb, x, m);
        if (!fine && made < 1) {
            gmItrPt copy(rec ? *rec : (k == 1 ? *itrPt1 : *itrPt2));
            copy.SetEdge(gmEdge(half, m, 0, 0));
            copy.SetNode(x);
            PlanItrRecord(copy);
        }
    }
    return x;
}

CsTrmElem::PosClass CsTrmElem::ClassAt(int k)
{
    // A corner held on a coarse edge's line is not taken for a point near it
    // either: the point gets a node of its own, where the move would leave
    // the cut a tenth of an edge off the line.
    const PosClass c = ClassOf(Pos(k));
    const int v = c == Low ? EdgeEnd(k) : (c == Upp ? EdgeFst(k) : -1);
    return v >= 0 && (MustStay(k, v) || TurnsCoarseEdge(v, Pt(k))) ? Mid : c;
}

bool CsTrmElem::MustStay(int k, int v) const
{
    const double len = k == 1 ? edgeLen1 : edgeLen2;
    // A point this near is the vertex itself, unless moving there swings a
    // neighbour's edge off a tip's node the line reaches straight from it.
    if (DstToVtx(k, v) < kStayNear * len) return DstToVtx(k, v) > kSamePoint && StrandsEdgeNode(v, Pt(k), true);
    if (OnLineAlready(Nd(v)) && DstToVtx(k, v) > kSamePoint && LineBendsOffVertex(k, v)) return true;
    // Elements already cut around the vertex are shaped by it.
    if (MoveSpoilsNeighbour(v, Pt(k))) return true;
    return !MayMove(v, Pt(k));
}

namespace {
// Whether p lies strictly inside the segment from s to t, away from its ends.
bool InsideSegment(const gmPnt3D& p, const gmPnt3D& s, const gmPnt3D& t)
{
    const gmVec3D st = t - s;
    const double len2 = st.SqrLen();
    if (!(len2 > 0.0)) return false;
    const double u = (p - s).Dot(st) / len2;
    return u > kFeatOffset && u < 1.0 - kFeatOffset && p.DistTo(s, t) <= kOnVertex * std::sqrt(len2);
}
}  // namespace

bool CsTrmElem::MoveSpoilsNeighbour(int v, const gmPnt3D& to) const
{
    const int node = Nd(v);
    std::vector<int> around;
    dataManage.GetNodeTpyElArr(node, around);
    for (const int e : around) {
        if (e == srcElem || !dataManage.IsValidElem(e)) continue;
        const CsDataElem& el = dataManage.GetElem(e);
        const int n = el.GetNodeNum();
        if (!el.IsShell() || (n != 3 && n != 4)) continue;
        gmPnt3D q[4];
        for (int i = 0; i < n; ++i) q[i] = el[i] == node ? Vtx(v) : PosOf(el[i]);
        gmVec3D facing = (q[1] - q[0]).Cross(q[2] - q[0]);
        if (n == 4) facing += (q[2] - q[0]).Cross(q[3] - q[0]);
        const double size = facing.Length();
        if (!(size > 0.0)) continue;
        // Twice the area of triangle i j k, along the element's facing.
        const auto tri = [&](int i, int j, int k) { return (q[j] - q[i]).Cross(q[k] - q[i]).Dot(facing) / size; };
        const double eps = kNeighbourShare * size;
        const auto sound = [&]() {
            return n == 3 ? tri(0, 1, 2) > eps
                          : (tri(0, 1, 2) > eps && tri(0, 2, 3) > eps) || (tri(1, 2, 3) > eps && tri(1, 3, 0) > eps);
        };
        if (!sound()) continue;
        for (int i = 0; i < n; ++i) {
            if (el[i] == node) q[i] = to;
        }
        if (!sound()) return true;
    }
    return StrandsEdgeNode(v, to) || SweepsLineTip(v, to);
}

double CsTrmElem::OffCoarseEdge(int v, const gmPnt3D& to) const
{
    const CsDataAdpv* c = hashOpr ? hashOpr->GetCsAdpNd(Nd(v)) : nullptr;
    const int n1 = c ? dataManage.GetNdidFromExid(c->GetN1()) : 0;
    const int n2 = c ? dataManage.GetNdidFromExid(c->GetN2()) : 0;
    if (n1 < 1 || n2 < 1) return 0.0;
    const gmPnt3D a = PosInMesh(n1), b = PosInMesh(n2);
    const double off = to.DistTo(a, b);
    return off > kOnVertex * a.DistTo(b) ? off : 0.0;
}

bool CsTrmElem::JustOffCoarseEdge(int v, const gmPnt3D& to) const
{
    // A tip this near a coarse edge, yet off it, the coarse element finds
    // beside its edge too and gives a node of its own; taken by the fine
    // side for the hanging node, the same place would get two nodes.
    const double off = OffCoarseEdge(v, to);
    return off > 0.0 && off <= kSamePoint;
}

bool CsTrmElem::SweepsLineTip(int v, const gmPnt3D& to) const
{
    // The fine side may move a hanging node off its coarse edge onto a
    // crossing. A tip of the line in the triangle a neighbour's edge sweeps
    // on the way is then left outside that neighbour, and the coarse element
    // across, whose edge still runs straight, has no piece there either: the
    // tip's piece is lost and the mesh opens along the moved edges.
    const int node = Nd(v);
    if (!trmLine || !elemt || !(OffCoarseEdge(v, to) > 0.0)) return false;
    const int count = trmLine->GetUcsCount();
    if (count < 3) return false;
    const gmCrdSys& cs = elemt->GetUcs();
    const gmPnt2D from(Vtx(v).InUcs(cs)), onto(to.InUcs(cs));
    return AnyEdgeAt(node, srcElem, [&](int, int w) {
        if (IsOwnEdge(v, w)) return false;
        const gmPnt2D far(PosInMesh(w).InUcs(cs));
        const double turn = Turn2(far, from, onto);
        if (std::fabs(turn) <= kSamePoint * from.DistTo(far)) return false;
        // A closed line's last point repeats its first; an open line's ends are no tips.
        const bool open = trmLine->IsLancing();
        const int segs = count - 1;
        for (int j = open ? 1 : 0; j < segs; ++j) {
            const gmPnt2D t(trmLine->GetUcsAt(j));
            const gmPnt2D p(trmLine->GetUcsAt(open ? j - 1 : (j + segs - 1) % segs));
            const gmPnt2D q(trmLine->GetUcsAt(open ? j + 1 : (j + 1) % segs));
            const double in = t.DistTo(p);
            const double out = q.DistTo(t);
            if (!(in > 0.0 && out > 0.0)) continue;
            const double bend = (t - p).Dot(q - t) / (in * out);
            if (bend > kSharpTurn) continue;
            const double s = turn > 0.0 ? 1.0 : -1.0;
            // A tip this near the moved edge is taken onto it by the neighbour's cut.
            if (s * Turn2(far, from, t) > 0.0 && s * Turn2(from, onto, t) > 0.0 &&
                s * Turn2(onto, far, t) > kSamePoint * onto.DistTo(far))
                return true;
        }
        return false;
    });
}

bool CsTrmElem::StrandsEdgeNode(int v, const gmPnt3D& to, bool tipOnly) const
{
    // An edge at the vertex may carry nodes a neighbour's cut made on the
    // line between its ends (a tip of the line poking out past the edge).
    // Moved, the vertex swings the edge off them: the edge's element, cut
    // later, finds no crossing left there, and the nodes open the mesh. That
    // takes one node on an edge ending on the line, where the moved edge is a
    // chord, and two on any other: a single one is where the line crosses
    // the edge, and the element's cut takes it by the edge's record, unless
    // the line runs straight from the moved corner to it, leaving no
    // crossing between them (a move of a tenth of the edge or less is the
    // corner itself). With tipOnly only such a node counts, and a short move
    // too where the edge's far end lies off the line: the line crosses the
    // edge at the node there rather than running along it. The element's
    // own edges get this cut's nodes.
    const int node = Nd(v);
    return AnyEdgeAt(node, srcElem, [&](int, int w) {
        if (IsOwnEdge(v, w)) return false;
        const std::vector<int> stranded = StrandedOnEdge(node, w, to, false);
        if (stranded.empty()) return false;
        const gmPnt3D a = PosInMesh(node);
        if (a.DistTo(to) > kStayNear * a.DistTo(PosInMesh(w)) || (tipOnly && !OnTrimLine(PosInMesh(w)))) {
            for (const int x : stranded) {
                const gmPnt3D p = PosInMesh(x);
                if (OnTrimLine(p) && OnTrimLine((p + to) * 0.5)) return true;
            }
        }
        return !tipOnly && (stranded.size() >= 2 || OnTrimLine(PosOf(w)));
    });
}

bool CsTrmElem::SwingsOffEdgeNode(int v, const gmPnt3D& to) const
{
    // A neighbour's cut may have put a node inside an edge of another
    // element at this vertex, to be split there later: swung off the edge,
    // the node is left on neither side, and the mesh opens. The element's
    // own edges get the cut's own nodes.
    const int node = Nd(v);
    return AnyEdgeAt(node, srcElem, [&](int, int w) { return !IsOwnEdge(v, w) && SwingsOffEdgeNode(node, w, to); });
}

bool CsTrmElem::SwingsOffEdgeNode(int node, int w, const gmPnt3D& to) const
{
    // The node may belong only to pieces at the edge's far end, such as the
    // line's tip a neighbour cut out between two crossings of the edge.
    return !StrandedOnEdge(node, w, to, true).empty();
}

bool CsTrmElem::IsOwnEdge(int v, int w) const
{
    const int n = NodeNum();
    return w == Nd((v + 1) % n) || w == Nd((v + n - 1) % n);
}

gmPnt3D CsTrmElem::PosInMesh(int node) { return dataManage.GetNode(node).GetPoint(); }

std::vector<int> CsTrmElem::StrandedOnEdge(int node, int w, const gmPnt3D& to, bool farEnd) const
{
    // Where the neighbours have them, not where this cut plans them.
    const gmPnt3D a = PosInMesh(node);
    const gmPnt3D b = PosInMesh(w);
    // A hanging node follows its coarse edge's middle on its own.
    const int m = AdpNodeOn(node, w);
    std::vector<int> stranded;
    const auto check = [&](int x) {
        if (x < 1 || x == node || x == w || x == m) return;
        const gmPnt3D p = PosInMesh(x);
        // Taken as the moved corner's place, the node stays on the edge.
        if (InsideSegment(p, a, b) && !InsideSegment(p, to, b) && p.DistTo(to) > kOnVertex * a.DistTo(b) &&
            std::find(stranded.begin(), stranded.end(), x) == stranded.end())
            stranded.push_back(x);
    };
    std::vector<int> around;
    dataManage.GetNodeTpyElArr(node, around);
    if (farEnd) {
        std::vector<int> atFar;
        dataManage.GetNodeTpyElArr(w, atFar);
        around.insert(around.end(), atFar.begin(), atFar.end());
    }
    for (const int e : around) {
        if (!dataManage.IsValidElem(e)) continue;
        const CsDataElem& el = dataManage.GetElem(e);
        for (int i = 0; i < el.GetNodeNum(); ++i) check(el[i]);
    }
    // A tip's nodes may belong only to the piece cut off beyond the edge,
    // which the edge's records still name.
    if (hashOpr && !farEnd) {
        const gmEdge edge(node, w, 0, 0);
        for (const CsItem<gmItrPt>* item = hashOpr->GetItemItrPt(node, w); item; item = item->GetNext()) {
            if (item->GetData().GetEdge() == edge) check(item->GetData().GetNode());
        }
    }
    return stranded;
}

bool CsTrmElem::PinnedByCoarseEdge(int v, int k) const
{
    if (!hashOpr || DstToVtx(k, v) < kStayNear * (k == 1 ? edgeLen1 : edgeLen2)) return false;
    const int node = Nd(v);
    return AnyEdgeAt(node, -1, [this, v, k, node](int, int w) {
        // The element's own coarse edges are left to its cutter's rules, and
        // a fine element's corners keep the moves the coarse side's rules
        // expect along the coarse edge the element lies on.
        const int m = w == node || IsCorner(w) ? 0 : AdpNodeOn(node, w);
        if (m < 1 || IsCorner(m)) return false;
        const gmPnt3D far = PosOf(w);
        return Pt(k).DistTo(Vtx(v), far) > kOnVertex * Vtx(v).DistTo(far);
    });
}

bool CsTrmElem::TurnsCoarseEdge(int v, const gmPnt3D& to, bool ownToo) const
{
    if (!hashOpr) return false;
    const int node = Nd(v);
    // An earlier cut moved the hanging node along its coarse edge onto the
    // line, or a cut makes a node on one of its halves: neither follows the
    // edge's middle. Moved off that edge's line, this end would leave them
    // off the coarse element's edge, and the two sides would cut the line at
    // different places.
    return AnyEdgeAt(node, -1, [&](int, int w) {
        // The element's own coarse edges are left to its cutter's rules,
        // which put the fine side's nodes on its outline, unless the corner
        // is moved off the edge, which then has no crossing left there.
        const int m = IsCorner(w) && !ownToo ? 0 : AdpNodeOn(node, w);
        const auto cutOnHalf = [&](int u) {
            const gmItrPt* p = hashOpr->GetItrPt(m, u);
            if (p && p->GetNode() > 0 && p->GetNode() != m && p->GetNode() != u) return true;
            // With more points, the next pair of this element starts at this
            // pair's point on the half and makes its node there.
            for (int k = 1; k <= 2 && itrPtNum >= 3 && itrPt1 && itrPt2; ++k) {
                if (EdgeFst(k) < 0 || EdgeEnd(k) < 0) continue;
                const gmEdge e(Nd(EdgeFst(k)), Nd(EdgeEnd(k)), 0, 0);
                if (e == gmEdge(m, u, 0, 0) && Pt(k).DistTo(PosOf(node)) > kSamePoint) return true;
            }
            return false;
        };
        if (m < 1) return false;
        const gmPnt3D a = PosOf(node);
        const gmPnt3D b = PosOf(w);
        const double tol = kOnVertex * a.DistTo(b);
        // The line crosses the far half well inside, where a fine corner
        // would not go onto it, and the moved edge's far half no longer
        // reaches it: the fine side makes its node there, the coarse element
        // none. A far end on the line already leaves the edge a chord of it.
        const auto losesCrossing = [&]() {
            double nearEnd = 1.0;
            const int far = LineCrossings(PosOf(m), b, &nearEnd);
            return !IsCorner(w) && !OnLineAlready(w) && far > 0 && nearEnd > ratio &&
                   LineCrossings((to + b) * 0.5, b) < far;
        };
        if (!(OnLineAlready(m) || cutOnHalf(node) || cutOnHalf(w) || losesCrossing())) return false;
        if (PosOf(m).DistTo(a, b) > tol || to.DistTo(a, b) <= tol) return false;
        // Onto a crossing that the line reaches straight from the hanging
        // node, the fine side's edge between them runs along the line: the
        // coarse element, which then takes the hanging node as a corner, has
        // no crossing there to place differently.
        for (int k = 1; k <= 2 && itrPt1 && itrPt2; ++k) {
            bool onLine = false;
            if (to.DistTo(Pt(k)) <= tol && !LineBendsOff(k, PosOf(m), &onLine) && onLine) return false;
        }
        return true;
    });
}

bool CsTrmElem::LineBendsOffVertex(int k, int v) const { return LineBendsOff(k, Vtx(v)); }

bool CsTrmElem::LineBendsOff(int k, const gmPnt3D& from, bool* onLine) const
{
    if (onLine) *onLine = false;
    const gmItrPt* point = k == 1 ? itrPt1 : itrPt2;
    if (!trmLine || !elemt || !point) return false;
    const int segs = trmLine->GetUcsCount() - 1;
    const int idx = point->GetLineIdx();
    if (segs < 1 || idx < 0) return false;
    // In the line's own plane, where its points are given.
    const gmCrdSys& cs = elemt->GetUcs();
    const auto at = [&](int j) { return gmPnt2D(trmLine->GetUcsAt(((j % segs) + segs) % segs)); };
    const gmPnt2D c(from.InUcs(cs));
    const gmPnt2D p(Pt(k).InUcs(cs));
    // The segment the vertex lies on, among those next to the point's.
    int best = 0;
    double bestDst = 1.0e30;
    for (int d = -kBendSegs; d <= kBendSegs; ++d) {
        // A lancing line is open: it does not run on past its ends.
        if (trmLine->IsLancing() && (idx + d < 0 || idx + d + 1 > segs)) continue;
        const double dst = c.MinDst(at(idx + d), at(idx + d + 1));
        if (dst < bestDst) {
            bestDst = dst;
            best = d;
        }
    }
    const double chord = c.DistTo(p);
    if (bestDst > kSamePoint) return false;
    if (onLine) *onLine = true;
    double stray = 0.0;
    for (int d = std::min(best, 0) + 1; d <= std::max(best, 0); ++d) stray = std::max(stray, at(idx + d).DistTo(c, p));
    return stray > kBendShare * chord;
}

bool CsTrmElem::OnTrimLine(const gmPnt3D& p) const
{
    if (!trmLine || !elemt) return false;
    const int count = trmLine->GetUcsCount();
    const gmPnt2D c(p.InUcs(elemt->GetUcs()));
    for (int j = 0; j + 1 < count; ++j) {
        if (c.MinDst(gmPnt2D(trmLine->GetUcsAt(j)), gmPnt2D(trmLine->GetUcsAt(j + 1))) <= kSamePoint) return true;
    }
    return false;
}

int CsTrmElem::LineCrossings(const gmPnt3D& a, const gmPnt3D& b, double* nearEnd) const
{
    if (!trmLine || !elemt) return 0;
    const int count = trmLine->GetUcsCount();
    const gmPnt2D p(a.InUcs(elemt->GetUcs()));
    const gmPnt2D q(b.InUcs(elemt->GetUcs()));
    int found = 0;
    for (int j = 0; j + 1 < count; ++j) {
        const gmPnt2D c(trmLine->GetUcsAt(j));
        const gmPnt2D d(trmLine->GetUcsAt(j + 1));
        const double sc = Turn2(p, q, c);
        const double sd = Turn2(p, q, d);
        const double sp = Turn2(c, d, p);
        const double sq = Turn2(c, d, q);
        if ((sc > 0.0) == (sd > 0.0) || (sp > 0.0) == (sq > 0.0) || sp == sq) continue;
        // A crossing at an end belongs to the vertex there.
        const double t = sp / (sp - sq);
        const double len = p.DistTo(q);
        if (t * len <= kSamePoint || (1.0 - t) * len <= kSamePoint) continue;
        ++found;
        if (nearEnd) *nearEnd = std::min(*nearEnd, std::min(t, 1.0 - t));
    }
    return found;
}

bool CsTrmElem::StandsOffEdgeFor(int m, int a, int b, int k) const
{
    if (!OnLineAlready(m) || PosOf(m).DistTo(PosOf(a), PosOf(b)) <= kSamePoint) return false;
    bool onLine = false;
    if (LineBendsOff(k, PosOf(m), &onLine) || !onLine) return false;
    // Standing for the point, the node also starts the piece's edge to the
    // other point, which must not cut off a bend of the line at this one.
    return !(itrPtNum == 2 && itrPt1 && itrPt2 && LineBendsOff(3 - k, PosOf(m)));
}

bool CsTrmElem::OnLineAlready(int node) const
{
    return hashOpr && hashOpr->GetItemItrNd(node) != nullptr;
}

bool CsTrmElem::HeldOnLine(int v, int k) const
{
    return OnLineAlready(Nd(v)) && DstToVtx(k, v) > kSamePoint;
}

bool CsTrmElem::HeldAway(int v, int k) const
{
    // Coarse edges and their halves keep the rules that place their nodes
    // with the hanging node's.
    const int a = Nd(EdgeFst(k)), b = Nd(EdgeEnd(k));
    if (hashOpr->IsAdptvNode(a) || hashOpr->IsAdptvNode(b) || AdpNodeOn(a, b) > 0) return false;
    return OnLineAlready(Nd(v)) && DstToVtx(k, v) >= kStayNear * (k == 1 ? edgeLen1 : edgeLen2);
}

bool CsTrmElem::StaysInside(const gmPnt3D& p, int v, const gmPnt3D& to) const
{
    const int n = NodeNum();
    return Cross2(to, Vtx((v + 1) % n), p, srcNormal) > 0.0 && Cross2(Vtx((v + n - 1) % n), to, p, srcNormal) > 0.0;
}

bool CsTrmElem::SwingsPastFeature(int v, int k) const
{
    const int n = NodeNum();
    const int t = (featEdge + 1) % n;
    if (featNode < 1 || featEdge < 0 || (v != featEdge && v != t)) return false;
    const gmPnt3D& f = v == featEdge ? Pt(k) : Vtx(featEdge);
    const gmPnt3D& e = v == t ? Pt(k) : Vtx(t);
    // A corner still inside is cut here as it was; only one past the moved
    // edge is left to the neighbour.
    return Cross2(f, e, prjPt, srcNormal) <= kSamePoint * f.DistTo(e);
}

void CsTrmElem::MoveVertex(int i, const gmPnt3D& p)
{
    if (!MayMove(i, p)) return;
    // A corner an earlier cut put on the line stays there: moving it along the
    // line would pull away the pieces that cut built on it (and the line's
    // corner it may carry); the cut goes through it where it is.
    if (OnLineAlready(Nd(i)) && Vtx(i).DistTo(p) > kSamePoint) return;
    vtxArr[static_cast<size_t>(i)] = p;
    moves.emplace_back(Nd(i), p);
    vertexMoves.emplace_back(i, p);
}

std::vector<std::array<int, 3>> CsTrmElem::HangingOnMovedEnds() const
{
    std::vector<std::array<int, 3>> found;
    const auto moved = [this](int x) {
        return std::any_of(moves.begin(), moves.end(), [&](const auto& m) {
            return m.first == x && dataManage.GetNode(x).GetPoint().DistTo(m.second) > 1e-9;
        });
    };
    // Only the element's own coarse edges, and only once the other end is on
    // the line too (an earlier cut put it there, or this one moves it): an
    // end still to move would pull the edge again later, when the hanging
    // node may be a corner of the coarse side's pieces and can no longer
    // follow.
    const int count = NodeNum();
    for (int i = 0; i < count; ++i) {
        const int n = Nd(i);
        if (!moved(n)) continue;
        for (const int w : {Nd((i + 1) % count), Nd((i + count - 1) % count)}) {
            int d = 0;
            if (hashOpr->GetAdpNdS(n, w, d) && (OnLineAlready(w) || moved(w))) found.push_back({n, w, d});
        }
    }
    return found;
}

void CsTrmElem::KeepHangingOnMiddle(const std::vector<std::array<int, 3>>& followers)
{
    for (const auto& f : followers) {
        const int d = f[2];
        // The constraint went with this cut, or the fine side put the node on
        // the line (it stands for a crossing there): it follows no middle.
        if (hashOpr->GetAdpNdS(f[0], f[1]) != d || OnLineAlready(d)) continue;
        if (std::any_of(moves.begin(), moves.end(), [d](const auto& m) { return m.first == d; })) continue;
        // The fine side cut at the node already: its pieces and the nodes it
        // left on the halves were built on the old middle.
        const auto inPiece = [d](const std::vector<int>& p) { return std::find(p.begin(), p.end(), d) != p.end(); };
        if (IsCorner(d) || inPiece(rewriteArr) || std::any_of(addArr.begin(), addArr.end(), inPiece) ||
            AnyEdgeAt(d, -1, [this, d](int, int w) { return hashOpr->GetItrPt(d, w) != nullptr; }))
            continue;
        const gmPnt3D& a = dataManage.GetNode(f[0]).GetPoint();
        const gmPnt3D& b = dataManage.GetNode(f[1]).GetPoint();
        // Moved along the edge's line, the ends leave the node on the edge.
        const double length = a.DistTo(b);
        if ((dataManage.GetNode(d).GetPoint() - a).Cross(b - a).Length() <= 1e-6 * length * length) continue;
        const gmPnt3D middle = (a + b) * 0.5;
        dataManage.SetNode(d, middle);
    }
}

void CsTrmElem::MoveVertexOnPt(int v, int k)
{
    // A corner already on the feature point stays there: it carries the
    // line's corner, which matters more than a crossing near it.
    if (v != featVtx) {
        if (MayMove(v, Pt(k))) {
            MoveVertex(v, Pt(k));
            if (Vtx(v).DistTo(Pt(k)) <= kSamePoint && hashOpr && hashOpr->IsAdptvNode(Nd(v)))
                cornersOnCrossings.push_back(Nd(v));
        } else if (MustStay(k, v)) {
            // The crossing is too far from the vertex to be taken as it.
            stayRefused = true;
        } else {
            // The crossing is taken as the vertex that must stay.
            PlanRecordNode(HshPt(k), Nd(v));
        }
    }
    if (EdgeFst(k) == v) Pos(k) = 1.0;
    if (EdgeEnd(k) == v) Pos(k) = 0.0;
}

void CsTrmElem::MoveNode(int node, const gmPnt3D& p)
{
    if (IsPlannedNode(node)) {
        plannedNodes[static_cast<size_t>(node - baseNodes - 1)].point = p;
        return;
    }
    moves.emplace_back(node, p);
    const auto it = std::find(nodeArr.begin(), nodeArr.end(), node);
    if (it != nodeArr.end()) vtxArr[static_cast<size_t>(it - nodeArr.begin())] = p;
}

void CsTrmElem::PlanRemoveAdp(const CsDataAdpv& c) { adpChanges.push_back({false, c, 0, 0, 0}); }

void CsTrmElem::PlanInsertAdp(int n1, int n2, int node) { adpChanges.push_back({true, CsDataAdpv(), n1, n2, node}); }

void CsTrmElem::PlanRecordNode(gmItrPt* record, int node)
{
    if (record && node > 0) recordNodes.emplace_back(record, node);
}

void CsTrmElem::PlanTrimNode(int node)
{
    if (node > 0) trimNodes.push_back(node);
}

int CsTrmElem::AdpNodeOn(int n1, int n2, CsDataAdpv* found) const
{
    if (!hashOpr || IsPlannedNode(n1) || IsPlannedNode(n2)) return 0;
    const CsDataAdpv* c = hashOpr->GetCsAdpNd(n1, n2);
    if (!c) return 0;
    for (const AdpChange& change : adpChanges) {
        if (!change.insert && change.removed == *c) return 0;
    }
    if (found) *found = *c;
    return dataManage.GetNdidFromExid(c->GetNode());
}

void CsTrmElem::AddNodePrjPt() { prjPtNode = PlanNode(prjPt, nullptr); }

void CsTrmElem::AddElement(int part, int count, const int* nodes)
{
    const int e = dataManage.AddElem(part, count, nodes);
    newElemMap.AddNewElem(e);
    if (dataManage.IsValidElem(srcElem)) dataManage.SetThickness(e, dataManage.GetElem(srcElem).GetThickness());
}

void CsTrmElem::MoveCutNodeToFeature(int x1, int x2)
{
    if (featNode > 0 || featVtx >= 0 || featInner || featEdge < 0 || !featDone) return;
    const int n = NodeNum();
    // Only a node this cut makes moves: one the neighbour made already
    // carries the neighbour's pieces.
    int moved = 0;
    if (featEdge == edge1[0] && IsPlannedNode(x1) && x1 != x2) {
        MoveNode(x1, FootOnEdge(prjPt, edge1[0], (edge1[0] + 1) % n));
        moved = x1;
    } else if (featEdge == edge2[0] && IsPlannedNode(x2) && x1 != x2) {
        MoveNode(x2, FootOnEdge(prjPt, edge2[0], (edge2[0] + 1) % n));
        moved = x2;
    }
    // The node stands for the line's corner now: a later cut moving it back
    // onto its crossing would pull this cut's chord across that corner.
    PlanTrimNode(moved);
}

void CsTrmElem::FillAdjctNodes()
{
    for (int k = 1; k <= 2; ++k) {
        if (ItrNode(k) > 0) continue;
        gmItrPt* point = k == 1 ? itrPt1 : itrPt2;
        const int x = GetAdpEdgeNode(Pos(k), point);
        if (x > 0) {
            ItrNode(k) = x;
            PlanRecordNode(HshPt(k), x);
            continue;
        }
        ItrNode(k) = hashOpr->FindEdgeExistNode(gmEdge(Nd(EdgeFst(k)), Nd(EdgeEnd(k)), EdgeFst(k), EdgeEnd(k)));
    }
}

bool CsTrmElem::CutSpike(int v)
{
    if (featInner) {
        const int n = NodeNum();
        const int at = static_cast<int>(std::find(nodeArr.begin(), nodeArr.end(), v) - nodeArr.begin());
        if (at >= n) return false;
        return CutAlong(v, Nd((at + (n + 1) / 2) % n));
    }
    if (featNode > 0) return CutAlong(v, featNode);
    return false;
}

int CsTrmElem::FeatureNode()
{
    if (featInner) {
        if (prjPtNode == 0) AddNodePrjPt();
        return prjPtNode;
    }
    if (featNode > 0) return featNode;
    if (featVtx >= 0) return Nd(featVtx);
    return 0;
}

// ------------------------------------------------- splitting a polygon

namespace {

using Poly = std::vector<int>;

struct Decomposition {
    std::vector<Poly> pieces;
    double quality = -1.0;  // the worst corner of all pieces; < 0: none found
};

}  // namespace

std::vector<int> CsTrmElem::BoundaryCycle() const
{
    const int n = NodeNum();
    std::vector<std::pair<double, int>> onEdge[4];
    const auto insert = [&](int node, int e) {
        if (node < 1 || e < 0 || e >= n || std::find(nodeArr.begin(), nodeArr.end(), node) != nodeArr.end()) return;
        for (const auto& list : onEdge) {
            for (const auto& entry : list) {
                if (entry.second == node) return;
            }
        }
        const gmPnt3D& a = Vtx(e);
        const gmVec3D ab = Vtx((e + 1) % n) - a;
        const double t = ab.SqrLen() > 0.0 ? (PosOf(node) - a).Dot(ab) / ab.SqrLen() : 0.0;
        onEdge[e].emplace_back(t, node);
    };
    // The feature node first: the same node may also stand for a point.
    if (featNode > 0) insert(featNode, featEdge);
    for (const auto& extra : extraEdgeNodes) insert(extra.first, extra.second);
    if (itrPt1) insert(itrNode1, edge1[0]);
    if (itrPt2) insert(itrNode2, edge2[0]);
    std::vector<int> cycle;
    for (int i = 0; i < n; ++i) {
        cycle.push_back(Nd(i));
        std::sort(onEdge[i].begin(), onEdge[i].end());
        for (const auto& entry : onEdge[i]) cycle.push_back(entry.second);
    }
    return cycle;
}

void CsTrmElem::CutAtMovedCorners()
{
    if (HasPieces() || featVtx < 0 || !itrPt1 || !itrPt2) return;
    // The corner a crossing went to, when one did.
    const auto cornerAt = [this](int k) {
        const double t = Pos(k);
        const int v = t <= 0.0 ? EdgeEnd(k) : (t >= 1.0 ? EdgeFst(k) : -1);
        return v >= 0 && Vtx(v).DistTo(Pt(k)) <= kSamePoint ? Nd(v) : 0;
    };
    const int n1 = cornerAt(1);
    const int n2 = cornerAt(2);
    if (n1 < 1 || n2 < 1 || n1 == n2 || n1 == Nd(featVtx) || n2 == Nd(featVtx)) return;
    CutAlong(n1, n2);
}

bool CsTrmElem::FeatureOffCutEdge(int x1, int x2) const
{
    if (!featDone || featEdge < 0 || featNode > 0 || featVtx >= 0 || featInner || x1 == x2) return false;
    return (featEdge == edge1[0] && !IsPlannedNode(x1)) || (featEdge == edge2[0] && !IsPlannedNode(x2));
}

bool CsTrmElem::CutAlong(int x1, int x2)
{
    if (x1 < 1 || x2 < 1 || x1 == x2) return false;
    if (FeatureOffCutEdge(x1, x2)) {
        // The line's corner lies by a cut edge whose node cannot go there (a
        // corner or the neighbour's node): the pieces meet at a node on the
        // corner rather than cutting it off along the chord.
        featInner = 1;
        if (CutAlongThrough(x1, x2)) return true;
        DropInnerFeature();
    } else if (FeatureBesideChord(x1, x2)) {
        // The line's corner by a cut edge whose crossings follow each other
        // on the outline: the chord parts nothing, and the corner's side
        // would go with the element. The pieces meet at a node on the corner.
        featInner = 1;
        if (CutAlongThrough(x1, x2)) return true;
        DropInnerFeature();
    }
    return CutAlongThrough(x1, x2);
}

bool CsTrmElem::FeatureBesideChord(int x1, int x2)
{
    if (!featDone || featEdge < 0 || featNode > 0 || featVtx >= 0 || featInner || x1 == x2) return false;
    if (featEdge != edge1[0] && featEdge != edge2[0]) return false;
    // Close to the edge the corner is cut off along it, as the neighbour
    // across does.
    const int n = NodeNum();
    const gmPnt3D& a = Vtx(featEdge);
    const gmPnt3D& b = Vtx((featEdge + 1) % n);
    if (prjPt.DistTo(a, b) <= kStayNear * a.DistTo(b)) return false;
    itrNode1 = x1;
    itrNode2 = x2;
    const std::vector<int> cycle = BoundaryCycle();
    const auto i1 = std::find(cycle.begin(), cycle.end(), x1);
    const auto i2 = std::find(cycle.begin(), cycle.end(), x2);
    if (i1 == cycle.end() || i2 == cycle.end()) return false;
    const long m = static_cast<long>(cycle.size());
    const long d = ((i2 - i1) % m + m) % m;
    return d == 1 || d == m - 1;
}

void CsTrmElem::DropInnerFeature()
{
    featInner = 0;
    if (prjPtNode > 0 && prjPtNode == baseNodes + static_cast<int>(plannedNodes.size())) plannedNodes.pop_back();
    prjPtNode = 0;
}

bool CsTrmElem::KeepWithEdgeNode(int x1, int x2)
{
    wholeCycle = true;
    const bool done = CutAlongThrough(x1, x2);
    wholeCycle = false;
    return done;
}

bool CsTrmElem::CutAlongThrough(int x1, int x2)
{
    MoveCutNodeToFeature(x1, x2);
    const int mid = FeatureNode();

    itrNode1 = x1;
    itrNode2 = x2;
    const Poly cycle = BoundaryCycle();
    const auto onCycle = [&cycle](int node) { return std::find(cycle.begin(), cycle.end(), node) != cycle.end(); };
    if (!onCycle(x1) || !onCycle(x2)) return false;

    std::vector<Poly> polys{cycle};
    // Splits the polygon holding u and v along u -> inner -> v.
    const auto split = [&polys](int u, const Poly& inner, int v) {
        if (u == v) return inner.empty();
        for (size_t k = 0; k < polys.size(); ++k) {
            const Poly& poly = polys[k];
            const auto iu = std::find(poly.begin(), poly.end(), u);
            const auto iv = std::find(poly.begin(), poly.end(), v);
            if (iu == poly.end() || iv == poly.end()) continue;
            const int m = static_cast<int>(poly.size());
            const int su = static_cast<int>(iu - poly.begin());
            const int sv = static_cast<int>(iv - poly.begin());
            if (inner.empty() && ((su + 1) % m == sv || (sv + 1) % m == su)) return true;
            Poly one;
            for (int i = su;; i = (i + 1) % m) {
                one.push_back(poly[static_cast<size_t>(i)]);
                if (i == sv) break;
            }
            one.insert(one.end(), inner.rbegin(), inner.rend());
            Poly two;
            for (int i = sv;; i = (i + 1) % m) {
                two.push_back(poly[static_cast<size_t>(i)]);
                if (i == su) break;
            }
            two.insert(two.end(), inner.begin(), inner.end());
            if (one.size() < 3 || two.size() < 3) return false;
            polys[k] = std::move(one);
            polys.insert(polys.begin() + static_cast<long>(k) + 1, std::move(two));
            return true;
        }
        return false;
    };
    bool ok = true;
    if (mid < 1 || mid == x1 || mid == x2) {
        ok = split(x1, {}, x2);
    } else if (onCycle(mid)) {
        ok = split(x1, {}, mid) && split(mid, {}, x2);
    } else {
        ok = split(x1, {mid}, x2);
    }
    // A cut along the outline parts nothing; kept whole with the nodes on its
    // edges, the element still takes the fine side's node as a corner.
    if (!ok || (polys.size() < 2 && !(wholeCycle && static_cast<int>(cycle.size()) > NodeNum()))) return false;

    // Each polygon becomes the triangles and quadrilaterals whose worst
    // corner is best.
    const gmVec3D nrm = srcNormal;
    const auto cornerSine = [&](const Poly& p, size_t i) {
        const size_t m = p.size();
        const gmPnt3D c = PosOf(p[i]);
        const gmVec3D u = PosOf(p[(i + m - 1) % m]) - c;
        const gmVec3D w = PosOf(p[(i + 1) % m]) - c;
        const double lu = u.Length();
        const double lw = w.Length();
        if (lu <= 0.0 || lw <= 0.0) return -1.0;
        return w.Cross(u).Dot(nrm) / (lu * lw);
    };
    const auto pieceQuality = [&](const Poly& p) {
        double q = 1.0;
        for (size_t i = 0; i < p.size(); ++i) q = std::min(q, cornerSine(p, i));
        return q;
    };
    std::function<Decomposition(const Poly&)> best = [&](const Poly& p) {
        Decomposition result;
        const size_t m = p.size();
        if (m < 3) return result;
        if (m <= 4) {
            const double q = pieceQuality(p);
            if (q > 0.0) {
                result.pieces = {p};
                result.quality = q;
            }
            if (m == 3) return result;
        }
        // The piece on the edge p0-p1: a triangle (p0, p1, pk) or a
        // quadrilateral (p0, p1, pk, pk+1), the rest split recursively.
        const auto consider = [&](const Poly& piece, const Poly& left, const Poly& right) {
            const double q = pieceQuality(piece);
            if (q <= result.quality || q <= 0.0) return;
            std::vector<Poly> pieces{piece};
            double worst = q;
            for (const Poly* side : {&left, &right}) {
                if (side->size() < 3) continue;
                const Decomposition d = best(*side);
                if (d.quality <= 0.0) return;
                worst = std::min(worst, d.quality);
                pieces.insert(pieces.end(), d.pieces.begin(), d.pieces.end());
            }
            if (worst > result.quality) {
                result.quality = worst;
                result.pieces = std::move(pieces);
            }
        };
        for (size_t k = 2; k < m; ++k) {
            if (m == 3) break;
            consider({p[0], p[1], p[k]}, Poly(p.begin() + 1, p.begin() + static_cast<long>(k) + 1),
                     [&] { Poly r(p.begin() + static_cast<long>(k), p.end()); r.push_back(p[0]); return r; }());
            if (k + 1 < m && m > 4) {
                consider({p[0], p[1], p[k], p[k + 1]}, Poly(p.begin() + 1, p.begin() + static_cast<long>(k) + 1),
                         [&] { Poly r(p.begin() + static_cast<long>(k) + 1, p.end()); r.push_back(p[0]); return r; }());
            }
        }
        return result;
    };
    std::vector<Poly> pieces;
    for (const Poly& p : polys) {
        const Decomposition d = best(p);
        if (d.quality <= 0.0) return false;
        pieces.insert(pieces.end(), d.pieces.begin(), d.pieces.end());
    }
    Rewrite(pieces.front());
    for (size_t i = 1; i < pieces.size(); ++i) Add(pieces[i]);
    return true;
}

// -------------------------------------------------- check and commit

bool CsTrmElem::CheckPieces() const
{
    if (stayRefused) return false;
    const auto area = [this](const std::vector<int>& p) {
        double sum = 0.0;
        const gmPnt3D o = PosOf(p[0]);
        for (size_t i = 1; i + 1 < p.size(); ++i) sum += Cross2(o, PosOf(p[i]), PosOf(p[i + 1]), srcNormal);
        return 0.5 * sum;
    };
    // The element's outline after the cut: its corners where they go and the
    // nodes made on its edges.
    const std::vector<int> outline = BoundaryCycle();
    const double whole = area(outline);
    if (!(whole > 0.0) || !(area(nodeArr) > 0.0)) return false;
    const double eps = kMinAreaShare * whole;
    const auto sound = [&](const std::vector<int>& p) {
        if (p.size() != 3 && p.size() != 4) return false;
        for (size_t i = 0; i < p.size(); ++i) {
            if (p[i] < 1) return false;
            for (size_t j = i + 1; j < p.size(); ++j) {
                if (p[i] == p[j]) return false;
            }
        }
        if (p.size() == 3) return area(p) > eps;
        // A quadrilateral is sound when one of its diagonals leaves two
        // triangles turned like the element: convex or with one reflex corner,
        // never crossed over itself.
        const gmPnt3D q[4] = {PosOf(p[0]), PosOf(p[1]), PosOf(p[2]), PosOf(p[3])};
        const auto tri = [&](int i, int j, int k) { return 0.5 * Cross2(q[i], q[j], q[k], srcNormal); };
        return (tri(0, 1, 2) > eps && tri(0, 2, 3) > eps) || (tri(1, 2, 3) > eps && tri(1, 3, 0) > eps);
    };
    if (!HasPieces()) return sound(nodeArr);
    const auto known = [&](const std::vector<int>& p) {
        for (const int node : p) {
            if (node != prjPtNode && std::find(outline.begin(), outline.end(), node) == outline.end()) return false;
        }
        return true;
    };
    if (!known(rewriteArr)) return false;
    for (const std::vector<int>& p : addArr) {
        if (!known(p)) return false;
    }
    double sum = 0.0;
    if (!rewriteArr.empty()) {
        if (!sound(rewriteArr)) return false;
        sum += area(rewriteArr);
    }
    for (const std::vector<int>& p : addArr) {
        if (!sound(p)) return false;
        sum += area(p);
    }
    // The pieces cover the element: all positive, so a gap or an overlap
    // shows in the sum.
    if (rewriteArr.empty()) sum += area(nodeArr);
    // A node planned inside the element that no piece uses would be left over.
    if (prjPtNode > 0) {
        bool used = std::find(rewriteArr.begin(), rewriteArr.end(), prjPtNode) != rewriteArr.end();
        for (const std::vector<int>& p : addArr) used = used || std::find(p.begin(), p.end(), prjPtNode) != p.end();
        if (!used) return false;
    }
    return std::fabs(sum - whole) <= 1e-6 * whole;
}

bool CsTrmElem::Commit()
{
    if (!HasPieces()) {
        // Without pieces only the element's own corners move; nodes, records
        // and constraint changes made for pieces would be left hanging.
        plannedNodes.clear();
        moves.clear();
        for (const auto& vm : vertexMoves) moves.emplace_back(Nd(vm.first), vm.second);
        adpChanges.clear();
        newRecords.clear();
        // A crossing taken as a corner that must stay is kept, as a corner's move is.
        recordNodes.erase(std::remove_if(recordNodes.begin(), recordNodes.end(),
                                         [this](const auto& rn) { return !IsCorner(rn.second); }),
                          recordNodes.end());
        trimNodes.clear();
        splitPlan.clear();
        prjPtNode = 0;
    }
    if (!CheckPieces()) {
        prjPtNode = 0;
        movedNode = 0;
        ClearPlan();
        return false;
    }
    for (size_t j = 0; j < plannedNodes.size(); ++j) {
        const PlannedNode& pn = plannedNodes[j];
        if (pn.record) {
            pn.record->SetPoint(pn.point);
            pn.record->AddNode();
        } else {
            dataManage.AddNode(pn.point);
        }
    }
    for (const auto& rn : recordNodes) rn.first->SetNode(rn.second);
    // The same segment's crossing may already be recorded on the edge without
    // a node (the element across took a corner for it): the node made now
    // goes into that record, since the repairs split the element across, cut
    // already, only at the node its edge's record names.
    for (const gmItrPt& p : newRecords) {
        gmItrPt* stored = hashOpr->GetExistItrPt(p);
        if (stored && stored->GetNode() < 1 && p.GetNode() > 0) {
            stored->SetPoint(p.GetPoint());
            stored->SetNode(p.GetNode());
        } else {
            hashOpr->InsertItrPt(p);
        }
    }
    const std::vector<std::array<int, 3>> followers = HangingOnMovedEnds();
    for (const auto& vm : vertexMoves) {
        elemt->SetVertex(vm.second, vm.first);
        hashOpr->InsertItrNd(Nd(vm.first));
    }
    for (const auto& m : moves) dataManage.SetNode(m.first, m.second);
    for (const AdpChange& c : adpChanges) {
        if (c.insert)
            hashOpr->InsertAdpNd(c.n1, c.n2, c.node);
        else
            hashOpr->RemoveAdpNd(c.removed);
    }
    KeepHangingOnMiddle(followers);
    for (const int node : trimNodes) hashOpr->InsertItrNd(node);
    const int part = elemt->GetPartID();
    if (!rewriteArr.empty()) elemt->ResetElement(part, rewriteArr.data(), static_cast<int>(rewriteArr.size()));
    for (const std::vector<int>& p : addArr) {
        AddElement(part, static_cast<int>(p.size()), p.data());
        if (copyFlags && dataManage.IsValidElem(srcElem)) {
            const int e = dataManage.GetElemNumber();
            if (dataManage.GetElem(srcElem).IsInner()) dataManage.SetInner(e);
            if (dataManage.GetElem(srcElem).IsToDel()) dataManage.SetToDel(e);
        }
    }
    if (forgetRecord && HasPieces()) {
        if (forgetRecord->GetFstElemt() == srcElem) forgetRecord->SetFstElemt(0);
        if (forgetRecord->GetSecElemt() == srcElem) forgetRecord->SetSecElemt(0);
    }
    splitElArr.insert(splitElArr.end(), splitPlan.begin(), splitPlan.end());
    // Registered now: a later pair of the same call starts its own.
    hashOpr->InsertItrNd(prjPtNode);
    hashOpr->InsertItrNd(movedNode);
    ClearPlan();
    return true;
}
