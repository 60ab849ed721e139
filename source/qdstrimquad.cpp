#include "qdstrimquad.h"

#include "qdsdatabase.h"
#include "qdsgeomline.h"

#include <algorithm>
#include <cmath>

namespace {

// Both points on one edge: each within this of the edge's line.
constexpr double kOnEdgeLine = 0.01;
// A point within this share of its edge from a corner is taken for it.
constexpr double kSamePointEdge = 0.1;

}  // namespace

int CsTrmQuad::Trim2ItrPt()
{
    if (!InitData()) return 0;
    if (edge1[1] == edge2[0]) {
        Trim2Adjct();
    } else if (edge1[0] == edge2[0] && edge1[1] == edge2[1]) {
        onSameEdge = true;
        Trim2OnEdge();
    } else {
        Trim2Oppst();
    }
    return 1;
}

// ============================================================ adjacent

void CsTrmQuad::Trim2Adjct()
{
    CheckAdjctFeatPnt();
    FillAdjctNodes();
    if (itrNode1 > 0 && itrNode2 > 0)
        TrimAdjct2Nods();
    else if (itrNode1 > 0)
        TrimAdjctFstNd();
    else if (itrNode2 > 0)
        TrimAdjctEndNd();
    else
        TrimAdjctNull();
}

void CsTrmQuad::CheckAdjctFeatPnt()
{
    if (!Adjacent() || !HasFeatPnt()) return;
    featDone = 1;
    const int a = A(), b = B(), c = C(), d = D();
    // The point nearer the feature point picks the corners looked at: its
    // edge's two and the fourth corner.
    const int k = Pt(1).DistTo(prjPt) <= Pt(2).DistTo(prjPt) ? 1 : 2;
    const int region[3] = {k == 1 ? a : b, k == 1 ? b : c, d};
    const auto dst = [this](int v) { return prjPt.DistTo(Vtx(v)); };
    // The corner that would take the line's corner ends a coarse edge of this
    // element whose halves carry the fine side's nodes: moved, it would leave
    // them off the edge. The line's corner is then cut inside: put on an edge
    // instead, it would drop the tip the corner stood for.
    bool heldByCoarseEdge = false;
    for (int i = 0; i < 3 && featVtx < 0; ++i) {
        const int v = region[i];
        const bool onCutEdge = i < 2;
        if ((v == b && !SharedVertexMayMove()) || OnLineAlready(Nd(v)) || HoldsEdgeNode(v) || MoveSpoilsNeighbour(v, prjPt) ||
            TurnsCoarseEdge(v, prjPt) || JustOffCoarseEdge(v, prjPt))
            continue;
        bool nearest = true;
        for (int j = 0; j < 3; ++j) {
            if (j == i) continue;
            const double other = dst(region[j]);
            nearest = nearest && (onCutEdge ? dst(v) < 0.5 * other : dst(v) * 1.3 < other);
        }
        if (!nearest) continue;
        // A corner beyond an adaptive edge stays where it is while the point
        // on that edge has no node: its hanging node would lose its edge.
        if (v == c && itrNode2 < 1 && dst(v) / std::max(dst(b), 1e-12) > 0.4 && AdpNodeOn(Nd(b), Nd(c)) > 0) continue;
        if (TurnsCoarseEdge(v, prjPt, true)) {
            heldByCoarseEdge = true;
            continue;
        }
        featVtx = v;
    }
    if (featVtx >= 0) {
        MoveVertex(featVtx, prjPt);
        movedNode = Nd(featVtx);
        if (featVtx == a) pos1 = 1.0;
        if (featVtx == b) {
            pos1 = 0.0;
            pos2 = 1.0;
        }
        if (featVtx == c) pos2 = 0.0;
        return;
    }
    double dmin = 0.0;
    const int e = GetMinDstEdge(dmin);
    const double cutLen = k == 1 ? edgeLen1 : edgeLen2;
    // A point that is the shared corner itself leaves the line's corner
    // nothing to cut along on the other point's edge: it stays inside.
    const bool alongCut = (itrNode1 == Nd(B()) && e == edge2[0]) || (itrNode2 == Nd(B()) && e == edge1[0]);
    if (e >= 0 && cutLen > 0.0 && dmin / cutLen < 0.2 && !alongCut && !heldByCoarseEdge) {
        featEdge = e;
        if (e != edge1[0] && e != edge2[0]) SetEdgeItrPt(e);
        return;
    }
    featInner = 1;
}

void CsTrmQuad::TrimAdjct2Nods()
{
    const int x1 = itrNode1, x2 = itrNode2;
    if (x1 < 1 || x2 < 1) return;
    const int a = Nd(A()), b = Nd(B()), c = Nd(C()), d = Nd(D());
    if (IsCorner(x1) || IsCorner(x2) || FeatureOffCutEdge(x1, x2)) {
        CutAlong(x1, x2);
        return;
    }
    if (featInner) {
        const int f = FeatureNode();
        Rewrite({f, x1, b, x2});
        Add({f, x2, c, d});
        Add({f, d, a, x1});
    } else if (featNode < 1) {
        if (FeatCornerIs(A())) {
            Rewrite({a, x1, b, x2});
            Add({a, x2, c, d});
        } else if (FeatCornerIs(C())) {
            Rewrite({c, x1, b, x2});
            Add({a, x1, c, d});
        } else if (FeatCornerIs(D())) {
            Rewrite({d, x1, b, x2});
            Add({d, a, x1});
            Add({d, x2, c});
        } else {
            MoveCutNodeToFeature(x1, x2);
            if (1.0 - pos2 > pos1) {
                Add({d, a, x1, x2});
                Add({c, d, x2});
            } else {
                Add({d, x1, x2, c});
                Add({d, a, x1});
            }
            Rewrite({x1, b, x2});
        }
    } else {
        const int e = featNode;
        Rewrite({e, x1, b, x2});
        if (featEdge != C()) {
            Add({e, x2, c, d});
            Add({e, a, x1});
        } else {
            Add({e, x2, c});
            Add({e, d, a, x1});
        }
    }
}

void CsTrmQuad::TrimAdjctNull()
{
    static void (CsTrmQuad::*const table[3][3])() = {
        {&CsTrmQuad::TrimAdjLowLowr, &CsTrmQuad::TrimAdjLowMidl, &CsTrmQuad::TrimAdjLowUppr},
        {&CsTrmQuad::TrimAdjMidLowr, &CsTrmQuad::TrimAdjMidMidl, &CsTrmQuad::TrimAdjMidUppr},
        {&CsTrmQuad::TrimAdjUppLowr, &CsTrmQuad::TrimAdjUppMidl, &CsTrmQuad::TrimAdjUppUppr}};
    (this->*table[ClassAt(1)][ClassAt(2)])();
}

void CsTrmQuad::TrimAdjctFstNd()
{
    switch (ClassAt(2)) {
    case Low: TrimAdjEndLowr(); break;
    case Mid: TrimAdjEndMidl(); break;
    case Upp: TrimAdjEndUppr(); break;
    }
}

void CsTrmQuad::TrimAdjctEndNd()
{
    switch (ClassAt(1)) {
    case Low: TrimAdjFstLowr(); break;
    case Mid: TrimAdjFstMidl(); break;
    case Upp: TrimAdjFstUppr(); break;
    }
}

void CsTrmQuad::TrimAdjMidMidl()
{
    if (featDone) {
        if (FeatCornerIs(C())) {
            NodeAt(1);
            TrimAdjEndMidl();
        } else if (FeatCornerIs(A())) {
            NodeAt(2);
            TrimAdjFstMidl();
        } else if (FeatCornerIs(B()) && featEdge < 0) {
            return;
        } else {
            NodeAt(1);
            NodeAt(2);
            TrimAdjct2Nods();
        }
        return;
    }
    if (pos1 > 0.4 && pos2 < 0.7) {
        NodeAt(1);
        NodeAt(2);
        TrimAdjct2Nods();
        return;
    }
    const double s1 = DstToVtx(1, B());
    const double s2 = DstToVtx(2, B());
    // A corner that must stay is not pulled onto either point.
    if (std::min(s1, s2) > minDst || MustStay(1, B()) || MustStay(2, B())) {
        NodeAt(1);
        NodeAt(2);
        TrimAdjct2Nods();
    } else if (s1 < minDst && s2 < minDst) {
        MoveVertexOnPt(B(), s1 <= s2 ? 1 : 2);
    } else if (s2 < s1) {
        NodeAt(1);
        MoveVertexOnPt(B(), 2);
        TrimAdjEndUppr();
    } else {
        NodeAt(2);
        MoveVertexOnPt(B(), 1);
        TrimAdjFstLowr();
    }
}

void CsTrmQuad::TrimAdjMidLowr()
{
    NodeAt(1);
    TrimAdjEndLowr();
}

void CsTrmQuad::TrimAdjMidUppr()
{
    if (featDone && !featInner) {
        if (FeatCornerIs(A())) MoveVertexOnPt(B(), 2);
        if (!FeatCornerIs(B())) {
            NodeAt(1);
            TrimAdjEndUppr();
        }
        return;
    }
    if (Far(2, B()) && pos2 < 0.8) {
        NodeAt(2);
        TrimAdjFstMidl();
    } else {
        NodeAt(1);
        TrimAdjEndUppr();
    }
}

void CsTrmQuad::TrimAdjLowLowr()
{
    if (pos1 > 0.2 && !FeatCornerIs(B())) {
        NodeAt(1);
        TrimAdjEndLowr();
        return;
    }
    MoveVertexOnPt(B(), 1);
    MoveVertexOnPt(C(), 2);
    CutAlong(Nd(B()), Nd(C()));
}

void CsTrmQuad::TrimAdjLowMidl()
{
    if (pos1 > 0.2) {
        NodeAt(1);
        TrimAdjEndMidl();
        return;
    }
    MoveVertexOnPt(B(), 1);
    NodeAt(2);
    TrimAdjFstLowr();
}

void CsTrmQuad::TrimAdjLowUppr()
{
    // The shared corner took the line's corner: both points became that
    // corner, and the element keeps its shape around it.
    if (FeatCornerIs(B()) && featEdge < 0 && !featInner) return;
    if (!featInner && featEdge < 0 && !FeatCornerIs(D()) && !FeatCornerIs(B())) {
        if (DstToVtx(1, B()) > 2.0 * minDst && pos1 > 0.2) {
            NodeAt(1);
            TrimAdjEndUppr();
        } else if (DstToVtx(2, B()) > 2.0 * minDst && pos2 < 0.8 && !FeatCornerIs(C())) {
            NodeAt(2);
            TrimAdjFstLowr();
        } else {
            const int k = DstToVtx(1, B()) <= DstToVtx(2, B()) ? 1 : 2;
            MoveVertexOnPt(B(), k);
            CutSpike(Nd(B()));
        }
        return;
    }
    NodeAt(1);
    NodeAt(2);
    TrimAdjct2Nods();
}

void CsTrmQuad::TrimAdjUppLowr()
{
    if (Far(1, A()) && pos1 < 0.8) NodeAt(1);
    if (Far(2, C()) && pos2 > 0.2) NodeAt(2);
    if (itrNode1 > 0 && itrNode2 > 0) {
        TrimAdjct2Nods();
    } else if (itrNode1 > 0) {
        TrimAdjEndLowr();
    } else if (itrNode2 > 0) {
        TrimAdjFstUppr();
    } else {
        MoveVertexOnPt(A(), 1);
        MoveVertexOnPt(C(), 2);
        CutAlong(Nd(A()), Nd(C()));
    }
}

void CsTrmQuad::TrimAdjUppMidl()
{
    if (!FeatCornerIs(B()) && Far(1, A()) && (pos1 < 0.8 || PinnedNear(1, A())) && !FeatCornerIs(A())) NodeAt(1);
    if (!FeatCornerIs(C())) NodeAt(2);
    if (itrNode2 > 0) {
        if (itrNode1 > 0)
            TrimAdjct2Nods();
        else
            TrimAdjFstUppr();
    } else if (itrNode1 > 0) {
        TrimAdjEndMidl();
    } else {
        MoveVertexOnPt(A(), 1);
        itrNode1 = Nd(A());
        TrimAdjEndMidl();
    }
}

void CsTrmQuad::TrimAdjUppUppr()
{
    // Moved onto point 1, a would swing its other edge past the line's
    // corner inside the element, which no piece could then hold.
    int x1 = 0;
    if (featInner && !StaysInside(prjPt, A(), Pt(1))) {
        x1 = NodeAt(1);
    } else {
        MoveVertexOnPt(A(), 1);
        x1 = Nd(A());
    }
    int x2 = 0;
    if (Far(2, B()) && pos2 < 0.8) {
        x2 = NodeAt(2);
    } else {
        MoveVertexOnPt(B(), 2);
        x2 = Nd(B());
    }
    CutAlong(x1, x2);
}

void CsTrmQuad::TrimAdjEndLowr()
{
    // Moved onto point 2, c would swing its other edge past the line's corner
    // inside the element, or away from the node planned for it on that edge,
    // and the cut through that corner could not be made.
    const bool featureLost = (featInner && !StaysInside(prjPt, C(), Pt(2))) || SwingsPastFeature(C(), 2);
    if ((Far(2, C()) && pos2 > 0.2 && pos1 > ratio) || featureLost) {
        NodeAt(2);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(C(), 2);
    CutAlong(itrNode1, Nd(C()));
}

void CsTrmQuad::TrimAdjEndMidl()
{
    // A feature corner that took the nearby vertex decides the class.
    const auto cornerCases = [this]() {
        if (FeatCornerIs(B())) {
            pos2 = 1.0;
            featVtx = -1;
            TrimAdjEndUppr();
            return true;
        }
        if (FeatCornerIs(C())) {
            pos2 = 0.0;
            featVtx = -1;
            TrimAdjEndLowr();
            return true;
        }
        return false;
    };
    if (pos2 < 0.5 && DstToVtx(2, C()) < minDst && !MustStay(2, C())) {
        if (cornerCases()) return;
        if (!featDone) {
            MoveVertexOnPt(C(), 2);
            TrimAdjEndLowr();
            return;
        }
    } else if (pos2 > 0.5 && DstToVtx(2, B()) < minDst && !MustStay(2, B())) {
        if (cornerCases()) return;
        if (!featInner && !EdgeHoldsVertex(1)) {
            MoveVertexOnPt(B(), 2);
            TrimAdjEndUppr();
            return;
        }
    }
    NodeAt(2);
    TrimAdjct2Nods();
}

void CsTrmQuad::TrimAdjEndUppr()
{
    if (itrPtNum >= 3) {
        // The coarse edge's handling moved the shared corner onto the point:
        // the move stands even without pieces, and would leave the node the
        // neighbour made on the other cut edge off this element's boundary.
        const bool moved = OnPoint(B(), 2);
        if (moved && itrNode1 > 0 && !IsPlannedNode(itrNode1)) CutAlong(itrNode1, Nd(B()));
        if (moved) return;
        // With more points the corner must not move. The point gets a node,
        // or the piece of the line between the two would be left uncut, its
        // element kept or removed whole; left whole, a coarse edge would miss
        // the node the fine side makes at the point on its half.
        const bool pastCorner = itrNode1 > 0 && !IsCorner(itrNode1) && DstToVtx(2, B()) > kSamePointEdge * edgeLen2;
        if (!pastCorner && (featEdge >= 0 || AdpNodeOn(Nd(EdgeFst(2)), Nd(EdgeEnd(2))) < 1)) return;
        NodeAt(2);
        TrimAdjct2Nods();
        return;
    }
    if ((pos2 < 0.8 && Far(2, B())) || (featIdx >= 0 && HeldOnLine(B(), 2))) {
        NodeAt(2);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(B(), 2);
    if (CutAlong(itrNode1, Nd(B()))) return;
    const bool moved = OnPoint(B(), 2);
    // Only on a coarse edge, where the fine side's node on its half must stay
    // on this element's boundary, or for a node a neighbour made (as the
    // coarse side does on the half this edge is): dropped, it would leave the
    // neighbour's edge split where this one is not. A lance needs a slit,
    // which this has not.
    if (moved && itrNode1 > 0 && !IsCorner(itrNode1) &&
        (hashOpr->GetCsAdpNd(Nd(A()), Nd(B())) || !IsPlannedNode(itrNode1)) && !trmLine->IsLancing())
        KeepWithEdgeNode(itrNode1, Nd(B()));
}

void CsTrmQuad::TrimAdjFstLowr()
{
    if (itrPtNum >= 3) {
        const bool moved = OnPoint(B(), 1);
        if (!moved && itrNode2 > 0 && !IsCorner(itrNode2) && DstToVtx(1, B()) > kSamePointEdge * edgeLen1) {
            NodeAt(1);
            TrimAdjct2Nods();
        }
        return;
    }
    if ((Far(1, B()) && pos2 > 0.2 && pos1 > 0.2) || (featIdx >= 0 && HeldOnLine(B(), 1))) {
        NodeAt(1);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(B(), 1);
    if (CutAlong(Nd(B()), itrNode2)) return;
    // The neighbour's node on the other cut edge, left next to the moved
    // corner with nothing to cut off, stays a corner of this element: dropped,
    // it would leave the neighbour's edge split where this one is not.
    if (OnPoint(B(), 1) && itrNode2 > 0 && !IsCorner(itrNode2) && !IsPlannedNode(itrNode2) && !trmLine->IsLancing())
        KeepWithEdgeNode(Nd(B()), itrNode2);
}

void CsTrmQuad::TrimAdjFstMidl()
{
    const auto cornerCases = [this]() {
        if (FeatCornerIs(B())) {
            pos1 = 0.0;
            featVtx = -1;
            TrimAdjFstLowr();
            return true;
        }
        if (FeatCornerIs(A())) {
            pos1 = 1.0;
            featVtx = -1;
            TrimAdjFstUppr();
            return true;
        }
        return false;
    };
    if (pos1 < 0.35 && DstToVtx(1, B()) < minDst && !MustStay(1, B())) {
        if (cornerCases()) return;
        if (!featInner && !EdgeHoldsVertex(2)) {
            MoveVertexOnPt(B(), 1);
            TrimAdjFstLowr();
            return;
        }
    } else if (pos1 > 0.65 && DstToVtx(1, A()) < minDst && !MustStay(1, A())) {
        if (cornerCases()) return;
        if (!featInner) {
            MoveVertexOnPt(A(), 1);
            TrimAdjFstUppr();
            return;
        }
    }
    NodeAt(1);
    TrimAdjct2Nods();
}

void CsTrmQuad::TrimAdjFstUppr()
{
    const bool featureLost = featInner && !StaysInside(prjPt, A(), Pt(1));
    if ((Far(1, A()) && pos1 < 0.8 && !FeatCornerIs(A())) || featureLost) {
        NodeAt(1);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(A(), 1);
    CutAlong(Nd(A()), itrNode2);
}

// ============================================================ opposite

void CsTrmQuad::Trim2Oppst()
{
    GetOppst2Nodes();
    CheckOppstFeatPnt();
    if (itrNode1 > 0 && itrNode2 > 0)
        TrimOppst2Nods();
    else if (itrNode1 < 1)
        TrimOppstNull();
    else
        TrimOppstFstNd();
}

void CsTrmQuad::GetOppst2Nodes()
{
    for (int k = 1; k <= 2; ++k) {
        if (ItrNode(k) > 0) continue;
        const int x = GetAdpEdgeNode(Pos(k), k == 1 ? itrPt1 : itrPt2);
        if (x > 0) {
            ItrNode(k) = x;
            PlanRecordNode(HshPt(k), x);
        }
    }
    for (int k = 1; k <= 2; ++k) {
        if (ItrNode(k) > 0) continue;
        ItrNode(k) = HndlEdgeItrPnt(k == 1 ? itrPt1 : itrPt2);
    }
    if (itrNode1 < 1 && itrNode2 > 0) Exchange();
}

int CsTrmQuad::HndlEdgeItrPnt(gmItrPt* point)
{
    const int k = point == itrPt1 ? 1 : 2;
    const int fst = EdgeFst(k);
    const int end = EdgeEnd(k);
    const int na = Nd(fst);
    const int nb = Nd(end);
    const int found = hashOpr->FindEdgeExistNode(gmEdge(na, nb, fst, end));
    if (found > 0) return found;
    const double t = Pos(k);
    const double e = Pt(k).DistTo(Vtx(end));
    const double len = Vtx(fst).DistTo(Vtx(end));
    // A new node; a hanging node on the edge keeps hanging on the part of
    // the edge the node leaves it, and the fine neighbour across the other
    // part finds the node under its own edge.
    const auto make = [&](bool nearEnd) {
        const int x = NodeAt(k);
        CsDataAdpv c;
        const int m = AdpNodeOn(na, nb, &c);
        if (m > 0) {
            PlanRemoveAdp(c);
            PlanInsertAdp(nearEnd ? na : nb, x, m);
            gmItrPt copy(*point);
            copy.SetEdge(gmEdge(nearEnd ? nb : na, m, 0, 0));
            copy.SetNode(x);
            PlanItrRecord(copy);
        }
        return x;
    };
    // A corner an earlier cut put on the line, or one that ends a coarse
    // edge, stays; so does one whose move would swing a neighbour's edge off
    // a node of the line, except on a coarse edge whose hanging node, or one
    // of whose halves, carries a node a cut made: a node of this cut's own
    // would drag the hanging node, and those nodes with it, along the edge.
    // And one, not taken for the point, whose move would swing a neighbour's
    // edge off any node inside it, or a hanging node whose move off its
    // coarse edge would sweep a neighbour's edge over a tip of the line. A
    // point well away from a corner gets a node of its own rather than being
    // taken for the corner.
    const int hanging = AdpNodeOn(na, nb);
    const bool dragsCutNodes =
        hanging > 0 && (OnLineAlready(hanging) || hashOpr->FindEdgeExistNode(gmEdge(na, hanging, 0, 0)) > 0 ||
                        hashOpr->FindEdgeExistNode(gmEdge(hanging, nb, 0, 0)) > 0);
    const auto stays = [&](int v) {
        return HeldAway(v, k) || PinnedByCoarseEdge(v, k) || (!dragsCutNodes && StrandsEdgeNode(v, Pt(k))) ||
               SweepsLineTip(v, Pt(k)) ||
               (DstToVtx(k, v) >= kSamePointEdge * len && SwingsOffEdgeNode(v, Pt(k)));
    };
    switch (ClassOf(t)) {
    case Low:
        if ((e > minDst && t > 0.2) || stays(end)) return make(true);
        MoveVertexOnPt(end, k);
        return 0;
    case Mid:
        if (t < 0.3 && e < minDst - 0.001 && !stays(end)) {
            MoveVertexOnPt(end, k);
            return 0;
        }
        if (t >= 0.7 && len - e < minDst - 0.001 && !stays(fst)) {
            MoveVertexOnPt(fst, k);
            return 0;
        }
        return make(t < 0.5);
    case Upp:
        if ((len - e > minDst && t < 0.8) || stays(fst)) return make(false);
        MoveVertexOnPt(fst, k);
        return 0;
    }
    return 0;
}

void CsTrmQuad::CheckOppstFeatPnt()
{
    if (Adjacent() || !HasFeatPnt()) return;
    featDone = 1;
    const int k = Pt(1).DistTo(prjPt) <= Pt(2).DistTo(prjPt) ? 1 : 2;
    const auto dst = [this](int v) { return prjPt.DistTo(Vtx(v)); };
    const int e0 = EdgeFst(k);
    const int e1 = EdgeEnd(k);
    // The corner next to the cut edge: the nearer of the other two.
    const int o0 = (e1 + 1) % 4;
    const int o1 = (e0 + 3) % 4;
    const int side = dst(o0) <= dst(o1) ? o0 : o1;
    const int region[3] = {e0, e1, side};
    // As for adjacent points: a corner held by its own coarse edge leaves the
    // line's corner inside.
    bool heldByCoarseEdge = false;
    for (int i = 0; i < 3 && featVtx < 0; ++i) {
        const int v = region[i];
        if (OnLineAlready(Nd(v)) || HoldsEdgeNode(v) || MoveSpoilsNeighbour(v, prjPt) || TurnsCoarseEdge(v, prjPt) ||
            JustOffCoarseEdge(v, prjPt))
            continue;
        double ratioToOthers = 1.0e30;
        for (int j = 0; j < 3; ++j) {
            if (j != i) ratioToOthers = std::min(ratioToOthers, dst(region[j]) / std::max(dst(v), 1e-12));
        }
        if (i < 2) {
            if (ItrNode(k) < 1 && 1.0 / ratioToOthers < 0.6) featVtx = v;
        } else if (ratioToOthers > 1.7) {
            featVtx = v;
        } else if (ratioToOthers > 1.3 && dst(v) <= 3.0 * minDst) {
            // Between 1.3 and 1.7 a corner far from the point keeps its
            // place and the point goes to the side edge.
            featVtx = v;
        }
        if (featVtx == v && TurnsCoarseEdge(v, prjPt, true)) {
            featVtx = -1;
            heldByCoarseEdge = true;
        }
    }
    if (featVtx >= 0) {
        MoveVertex(featVtx, prjPt);
        movedNode = Nd(featVtx);
        // A point whose edge's other end already moved onto it stays there:
        // the moved corner only ends that edge, which now runs along the line.
        for (int p = 1; p <= 2; ++p) {
            if (EdgeFst(p) == featVtx && !OnPoint(EdgeEnd(p), p)) Pos(p) = 1.0;
            if (EdgeEnd(p) == featVtx && !OnPoint(EdgeFst(p), p)) Pos(p) = 0.0;
        }
        return;
    }
    double dmin = 0.0;
    const int e = GetMinDstEdge(dmin);
    const double cutLen = k == 1 ? edgeLen1 : edgeLen2;
    const double limit = e == edge1[1] ? 0.5 * ratio : 0.2;
    if (e >= 0 && cutLen > 0.0 && dmin / cutLen < limit && !heldByCoarseEdge) {
        featEdge = e;
        if (e != edge1[0] && e != edge2[0]) SetEdgeItrPt(e);
        return;
    }
    featInner = 1;
}

void CsTrmQuad::TrimOppst2Nods()
{
    const int x1 = itrNode1, x2 = itrNode2;
    if (x1 < 1 || x2 < 1) return;
    if (IsCorner(x1) || IsCorner(x2) || FeatureOffCutEdge(x1, x2)) {
        CutAlong(x1, x2);
        return;
    }
    const int a = Nd(A()), b = Nd(B()), c = Nd(C()), d = Nd(D());
    if (featInner) {
        const int f = FeatureNode();
        if (pos1 < 0.5 && pos2 < 0.5) {
            Add({f, a, x1});
            Add({f, x2, d, a});
            Rewrite({f, x1, b, c});
            Add({f, c, x2});
        } else {
            Add({f, d, a, x1});
            Add({f, x2, d});
            Rewrite({f, x1, b});
            Add({f, b, c, x2});
        }
    } else if (featNode < 1) {
        if (featVtx < 0) {
            MoveCutNodeToFeature(x1, x2);
            Add({a, x1, x2, d});
            Rewrite({x1, b, c, x2});
        } else if (FeatCornerIs(A()) || FeatCornerIs(D())) {
            const int v = Nd(featVtx);
            Add({v, x1, x2});
            if (v == d)
                Add({d, a, x1});
            else
                Add({a, x2, d});
            Rewrite({x1, b, c, x2});
        } else {
            const int v = Nd(featVtx);
            Add({v, x2, x1});
            if (v == c)
                Add({c, x1, b});
            else
                Add({b, c, x2});
            Rewrite({a, x1, x2, d});
        }
    } else {
        const int e = featNode;
        if (featEdge != B()) {
            Add({e, x1, x2});
            Rewrite({x1, b, c, x2});
            Add({e, a, x1});
            Add({e, x2, d});
        } else {
            Add({e, x2, x1});
            Rewrite({a, x1, x2, d});
            Add({e, x1, b});
            Add({e, c, x2});
        }
    }
}

void CsTrmQuad::TrimOppstNull()
{
    static void (CsTrmQuad::*const table[3][3])() = {
        {&CsTrmQuad::TrimOppstLowLowr, &CsTrmQuad::TrimOppstLowMidl, &CsTrmQuad::TrimOppstLowUppr},
        {&CsTrmQuad::TrimOppstMidLowr, &CsTrmQuad::TrimOppstMidMidl, &CsTrmQuad::TrimOppstMidUppr},
        {&CsTrmQuad::TrimOppstUppLowr, &CsTrmQuad::TrimOppstUppMidl, &CsTrmQuad::TrimOppstUppUppr}};
    (this->*table[ClassAt(1)][ClassAt(2)])();
}

void CsTrmQuad::TrimOppstFstNd()
{
    switch (ClassAt(2)) {
    case Low: TrimOppstEndLowr(); break;
    case Mid: TrimOppstEndMidl(); break;
    case Upp: TrimOppstEndUppr(); break;
    }
}

// Both corners sit on the points (moved there by HndlEdgeItrPnt): the cut runs
// between them.
void CsTrmQuad::TrimOppstLowLowr() { CutAlong(Nd(B()), Nd(D())); }
void CsTrmQuad::TrimOppstLowUppr() { CutAlong(Nd(B()), Nd(C())); }
void CsTrmQuad::TrimOppstUppUppr() { CutAlong(Nd(A()), Nd(C())); }
void CsTrmQuad::TrimOppstUppLowr()
{
    Exchange();
    TrimOppstLowUppr();
}

// A point in the middle of its edge always gets a node or a corner from
// HndlEdgeItrPnt, so these classes do not reach here without one.
void CsTrmQuad::TrimOppstLowMidl() {}
void CsTrmQuad::TrimOppstMidLowr() {}
void CsTrmQuad::TrimOppstMidMidl() {}
void CsTrmQuad::TrimOppstMidUppr() {}
void CsTrmQuad::TrimOppstUppMidl() {}

void CsTrmQuad::TrimOppstEndMidl()
{
    NodeAt(2);
    TrimOppst2Nods();
}

void CsTrmQuad::TrimOppstEndLowr()
{
    if (!FeatCornerIs(D()) && pos2 > 0.2) {
        NodeAt(2);
        TrimOppst2Nods();
        return;
    }
    MoveVertexOnPt(D(), 2);
    CutAlong(itrNode1, Nd(D()));
}

void CsTrmQuad::TrimOppstEndUppr()
{
    if (Far(2, C()) && pos2 < 0.8) {
        NodeAt(2);
        TrimOppst2Nods();
        return;
    }
    MoveVertexOnPt(C(), 2);
    CutAlong(itrNode1, Nd(C()));
}

// ============================================================ same edge

int CsTrmQuad::Trim2OnEdge()
{
    if (NodeNum() != 4) return 0;
    if (TrimEdgeAtAdpNd()) return 1;
    // Poking across, the corner has no room for the same-edge rules.
    if (PokesAcrossCoarseEdge()) return 0;
    const gmLin3D line(Vtx(edge1[0]), Vtx(edge1[1]));
    if (std::sqrt(line.SqrDist(Pt(1))) > kOnEdgeLine || std::sqrt(line.SqrDist(Pt(2))) > kOnEdgeLine) return 0;
    if (Pt(2).DistTo(Vtx(edge1[0])) < Pt(1).DistTo(Vtx(edge1[0]))) Exchange();
    HasFeatPnt();
    CheckFeatPnt();
    // The same-edge rules place no node on another edge: a line's corner by
    // one is kept inside rather than dropped, which would cut past it.
    if (featEdge >= 0 && featEdge != edge1[0]) {
        featEdge = -1;
        featInner = 1;
    }
    const bool hadNode = itrNode1 > 0 || itrNode2 > 0;
    if (!hadNode) {
        TrimEdgeNull();
    } else {
        const int q = itrNode1 > 0 ? itrNode1 : itrNode2;
        const gmPnt3D at = PosOf(q);
        if (at.DistTo(Pt(1)) <= at.DistTo(Pt(2)))
            TrimEdgeFstNd();
        else
            TrimEdgeEndNd();
        forgetRecord = hshItrPt1;
    }
    return 1;
}

void CsTrmQuad::TrimEdgeNull()
{
    if (itrNode1 > 0 || FeatCornerIs(A()) || FeatCornerIs(B())) return;
    itrNode2 = Nd(B());
    switch (ClassAt(1)) {
    case Low:
        MoveVertexOnPt(B(), 1);
        break;
    case Mid:
        itrNode2 = 0;
        NodeAt(1);
        TrimEdgeFstNd();
        break;
    case Upp:
        // Moved onto point 1, a would swing its other edge past a corner of
        // the line inside the element, which no piece could then hold.
        if (featInner && !StaysInside(prjPt, A(), Pt(1))) {
            itrNode2 = 0;
            NodeAt(1);
            TrimEdgeFstNd();
            break;
        }
        MoveVertexOnPt(A(), 1);
        // The same holds for b and point 2: the point then gets a node.
        if (ClassAt(2) == Low && (!featInner || StaysInside(prjPt, B(), Pt(2)))) {
            MoveVertexOnPt(B(), 2);
            // With both corners of the edge on the points, a line that turns
            // deep inside the element would leave it whole across its corner,
            // to be kept or removed entire; one that turns by the edge would
            // be cut off along it, as no node of the edge can go to it. The
            // corner is kept as a node inside, where the pieces meet.
            const bool onPoints = OnPoint(A(), 1) && OnPoint(B(), 2);
            if (onPoints && featEdge == edge1[0]) {
                featEdge = -1;
                featInner = 1;
                if (!CutAlong(Nd(A()), Nd(B()))) {
                    DropInnerFeature();
                    featEdge = edge1[0];
                }
            } else if (onPoints && featInner) {
                CutAlong(Nd(A()), Nd(B()));
            }
        } else if (featIdx >= 0 && OnPoint(A(), 1)) {
            // The line turns inside the element: moving the corner alone would
            // cut past its corner, which a split at the other point later loses.
            // Point 2 by a corner that stays gets a node of its own.
            if (ClassAt(2) == Low) itrNode2 = 0;
            CutAlong(Nd(A()), NodeAt(2));
        }
        break;
    }
}

void CsTrmQuad::TrimEdgeFstNd()
{
    const int x1 = NodeAt(1);
    int x2 = Nd(B());
    // Moved onto point 2, b would swing its other edge past a corner of the
    // line inside the element: the corner would be cut off with no piece.
    const bool featureStays = !featInner || StaysInside(prjPt, B(), Pt(2));
    // With the line's corner by the edge, point 2 is taken as b, unless b is
    // a hanging node well away from it: the coarse element across makes a
    // node of its own there, which b, kept at its coarse edge's middle,
    // would skip.
    const bool farFromHanging = ClassOf(Pos(2)) != Low && hashOpr && hashOpr->IsAdptvNode(Nd(B()));
    if (ClassAt(2) == Low && featureStays && !FeatCornerIs(B()) && !FeatCornerIs(A())) {
        MoveVertexOnPt(B(), 2);
    } else if (!((featEdge == A() && !farFromHanging) || FeatCornerIs(A()))) {
        itrNode2 = 0;
        x2 = NodeAt(2);
    }
    if (featInner && x2 != Nd(B())) {
        const int p = Nd((A() + 3) % 4), a = Nd(A()), b = Nd(B()), q = Nd((B() + 1) % 4);
        const int f = FeatureNode();
        itrNode2 = x2;
        Add({f, q, p});
        Add({f, p, a, x1});
        Rewrite({f, x1, x2});
        Add({f, x2, b, q});
        return;
    }
    CutAlong(x1, x2);
}

void CsTrmQuad::TrimEdgeEndNd()
{
    const int x2 = NodeAt(2);
    int x1 = Nd(A());
    // Moved onto point 1, a would swing its other edge past the line's corner
    // beside it: the corner would be left outside with no piece to hold it.
    const bool featureLost = featIdx >= 0 && !StaysInside(prjPt, A(), Pt(1));
    if (ClassAt(1) == Upp && !featureLost && !FeatCornerIs(A()) && !FeatCornerIs(B())) {
        MoveVertexOnPt(A(), 1);
    } else if (featureLost || !(featEdge == A() || FeatCornerIs(B()))) {
        itrNode1 = 0;
        x1 = NodeAt(1);
    }
    CutAlong(x1, x2);
}
