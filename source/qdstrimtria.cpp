#include "qdstrimtria.h"

#include <algorithm>

namespace {
// The share of the edge the line's corner must stand off it to be cut out.
constexpr double kDeepTurn = 0.2;
// Below this share of the edge the point is the corner itself.
constexpr double kNodeOff = 0.02;
}  // namespace

int CsTrmTria::Trim2ItrPt()
{
    if (!InitData()) return 0;
    if (edge1[1] == edge2[0] && edge1[0] != edge2[0]) {
        Trim2Adjct();
    } else {
        onSameEdge = edge1[0] == edge2[0];
        Trim2OnEdge();
    }
    return 1;
}

int CsTrmTria::Trim2OnEdge()
{
    if (TrimEdgeAtAdpNd()) return 1;
    // Poking across, the corner has no room for the same-edge rules.
    if (PokesAcrossCoarseEdge()) return 0;
    // Left whole, the triangle keeps its edge straight past the line's
    // corner; that only stays closed while the neighbour across has no
    // node of its own at the crossings.
    if (edge1[0] != edge2[0] || (itrNode1 < 1 && itrNode2 < 1) || !HasFeatPnt()) return 0;
    // A line's corner near the edge is cut off along it; one that turns deep
    // inside takes a piece of its own, meeting the neighbour's nodes.
    const gmPnt3D& a = Vtx(edge1[0]);
    const gmPnt3D& b = Vtx(edge1[1]);
    if (prjPt.DistTo(a, b) <= kDeepTurn * a.DistTo(b)) return 0;
    if (Pt(2).DistTo(a) < Pt(1).DistTo(a)) Exchange();
    featDone = 1;
    featInner = 1;
    const int x1 = NodeAt(1);
    const int x2 = NodeAt(2);
    forgetRecord = hshItrPt1;
    return CutAlong(x1, x2) ? 1 : 0;
}

void CsTrmTria::Trim2Adjct()
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

void CsTrmTria::CheckAdjctFeatPnt()
{
    if (edge1[1] != edge2[0] || !HasFeatPnt()) return;
    featDone = 1;
    const int a = A(), b = B(), c = C();
    const double fa = std::max(prjPt.DistTo(Vtx(a)), 1e-12);
    const double fb = std::max(prjPt.DistTo(Vtx(b)), 1e-12);
    const double fc = std::max(prjPt.DistTo(Vtx(c)), 1e-12);
    const auto ratioOver = [this](int i, int j, int v) {
        const double h = Height(v, i, j);
        return h > 0.0 ? DstToEdgeLine(prjPt, i, j) / h : 1.0e30;
    };
    // The mirror images differ only in which of a and c is the near corner.
    const bool nearFirst = Pt(1).DistTo(prjPt) < Pt(2).DistTo(prjPt);
    const int nearV = nearFirst ? a : c;
    const int farV = nearFirst ? c : a;
    const double fNear = nearFirst ? fa : fc;
    const double fFar = nearFirst ? fc : fa;
    if (fb / fNear > 1.3) {
        if (fNear / fFar > 1.3)
            featVtx = farV;
        else if (fNear / fFar < 0.6)
            featVtx = nearV;
        else if (ratioOver(c, a, b) < 0.2) {
            featEdge = c;
            SetEdgeItrPt(c);
        } else {
            featInner = 1;
        }
    } else if (fb / fNear < ratio && SharedVertexMayMove()) {
        featVtx = b;
    } else if (nearFirst ? ratioOver(a, b, c) <= 0.2 : ratioOver(b, c, a) <= 0.2) {
        featEdge = nearFirst ? a : b;
    } else {
        featInner = 1;
    }
    if (featVtx >= 0 && (OnLineAlready(Nd(featVtx)) || HoldsEdgeNode(featVtx) || TurnsCoarseEdge(featVtx, prjPt, true) ||
                         JustOffCoarseEdge(featVtx, prjPt))) {
        featVtx = -1;
        featInner = 1;
    }
    if (featVtx >= 0) {
        MoveVertex(featVtx, prjPt);
        movedNode = Nd(featVtx);
        if (featVtx == b) {
            pos1 = 0.0;
            pos2 = 1.0;
        }
    }
}

void CsTrmTria::TrimAdjct2Nods()
{
    const int x1 = itrNode1, x2 = itrNode2;
    if (x1 < 1 || x2 < 1) return;
    if (IsCorner(x1) || IsCorner(x2) || FeatureOffCutEdge(x1, x2)) {
        CutAlong(x1, x2);
        return;
    }
    const int a = Nd(A()), b = Nd(B()), c = Nd(C());
    if (featInner) {
        const int f = FeatureNode();
        Rewrite({f, x1, b, x2});
        Add({f, x2, c});
        Add({f, c, a});
        Add({f, a, x1});
    } else if (featNode > 0) {
        const int e = featNode;
        Rewrite({e, x1, b, x2});
        Add({e, x2, c});
        Add({e, a, x1});
    } else if (FeatCornerIs(A())) {
        Rewrite({a, x1, b, x2});
        Add({a, x2, c});
    } else if (FeatCornerIs(C())) {
        Rewrite({c, x1, b, x2});
        Add({a, x1, c});
    } else {
        Add({a, x1, x2, c});
        Rewrite({x1, b, x2});
        MoveCutNodeToFeature(x1, x2);
    }
}

void CsTrmTria::TrimAdjctNull()
{
    static void (CsTrmTria::*const table[3][3])() = {
        {&CsTrmTria::TrimAdjLowLowr, &CsTrmTria::TrimAdjLowMidl, &CsTrmTria::TrimAdjLowUppr},
        {&CsTrmTria::TrimAdjMidLowr, &CsTrmTria::TrimAdjMidMidl, &CsTrmTria::TrimAdjMidUppr},
        {&CsTrmTria::TrimAdjUppLowr, &CsTrmTria::TrimAdjUppMidl, &CsTrmTria::TrimAdjUppUppr}};
    (this->*table[ClassAt(1)][ClassAt(2)])();
}

void CsTrmTria::TrimAdjctFstNd()
{
    switch (ClassAt(2)) {
    case Low: TrimAdjEndLowr(); break;
    case Mid: TrimAdjEndMidl(); break;
    case Upp: TrimAdjEndUppr(); break;
    }
}

void CsTrmTria::TrimAdjctEndNd()
{
    switch (ClassAt(1)) {
    case Low: TrimAdjFstLowr(); break;
    case Mid: TrimAdjFstMidl(); break;
    case Upp: TrimAdjFstUppr(); break;
    }
}

void CsTrmTria::TrimAdjMidMidl()
{
    if (FeatCornerIs(B())) return;
    NodeAt(1);
    TrimAdjEndMidl();
}

void CsTrmTria::TrimAdjMidLowr()
{
    if (FeatCornerIs(B())) return;
    NodeAt(1);
    TrimAdjEndLowr();
}

void CsTrmTria::TrimAdjMidUppr()
{
    if (FeatCornerIs(B())) return;
    if (Far(2, B()) && pos2 < 0.8) {
        NodeAt(2);
        TrimAdjFstMidl();
    } else if (featDone && !FeatCornerIs(A())) {
        NodeAt(1);
        TrimAdjEndUppr();
    } else {
        MoveVertexOnPt(B(), 2);
    }
}

void CsTrmTria::TrimAdjLowMidl()
{
    if (FeatCornerIs(B())) return;
    if (Far(1, B()) && pos1 > 0.2) {
        NodeAt(1);
        TrimAdjEndMidl();
    } else if (featDone) {
        NodeAt(2);
        TrimAdjFstLowr();
    } else {
        MoveVertexOnPt(B(), 1);
    }
}

void CsTrmTria::TrimAdjLowLowr()
{
    if (FeatCornerIs(B())) return;
    if (pos1 > 0.2) {
        NodeAt(1);
        TrimAdjEndLowr();
        return;
    }
    MoveVertexOnPt(B(), 1);
    MoveVertexOnPt(C(), 2);
    CutAlong(Nd(B()), Nd(C()));
}

void CsTrmTria::TrimAdjLowUppr()
{
    if (FeatCornerIs(B())) return;
    if (Far(1, B()) && pos1 > 0.2 && pos2 < 0.2) {
        NodeAt(1);
        TrimAdjEndUppr();
    } else if (Far(2, B()) && pos2 < 0.8) {
        NodeAt(2);
        TrimAdjFstLowr();
    } else {
        MoveVertexOnPt(B(), DstToVtx(1, B()) <= DstToVtx(2, B()) ? 1 : 2);
        CutSpike(Nd(B()));
    }
}

void CsTrmTria::TrimAdjUppLowr()
{
    if (Far(2, B()) && pos2 > 0.2) {
        NodeAt(2);
        TrimAdjFstUppr();
    } else if (Far(1, A()) && pos1 < 0.8 && !FeatCornerIs(A())) {
        NodeAt(1);
        TrimAdjEndLowr();
    } else {
        MoveVertexOnPt(A(), 1);
        MoveVertexOnPt(C(), 2);
        CutAlong(Nd(A()), Nd(C()));
    }
}

void CsTrmTria::TrimAdjUppMidl()
{
    if (Far(1, A()) && pos1 < 0.8 && !FeatCornerIs(A()) && !FeatCornerIs(B())) {
        NodeAt(1);
        TrimAdjEndMidl();
        return;
    }
    MoveVertexOnPt(A(), 1);
    NodeAt(2);
    TrimAdjFstUppr();
}

void CsTrmTria::TrimAdjUppUppr()
{
    if (FeatCornerIs(C())) return;
    if (Far(2, B()) && pos2 < 0.8) {
        NodeAt(2);
        TrimAdjFstUppr();
    } else if (Far(1, A()) && pos1 < 0.8 && !FeatCornerIs(A())) {
        NodeAt(1);
        TrimAdjEndUppr();
    } else {
        MoveVertexOnPt(A(), 1);
        MoveVertexOnPt(B(), 2);
        CutAlong(Nd(A()), Nd(B()));
    }
}

bool CsTrmTria::KeepsEdgeNode(int k, double off) const
{
    // Even near the corner, a node a neighbour made on the other cut edge
    // stays where its pieces meet it: the corner moved onto this point would
    // leave the sliver between that node and the moved edge to no element.
    // A coarse edge's point keeps the hanging node's rules, and a line's
    // corner near an edge keeps the feature's.
    const int o = 3 - k;
    const int node = k == 1 ? itrNode1 : itrNode2;
    return node > 0 && !IsPlannedNode(node) && !FeatCornerIs(B()) && featEdge < 0 && off > kNodeOff &&
           AdpNodeOn(Nd(EdgeFst(o)), Nd(EdgeEnd(o))) < 1;
}

void CsTrmTria::TrimAdjEndLowr()
{
    if (!FeatCornerIs(B()) && !FeatCornerIs(C()) && pos2 > 0.2) {
        NodeAt(2);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(C(), 2);
    CutAlong(itrNode1, Nd(C()));
}

void CsTrmTria::TrimAdjEndMidl()
{
    NodeAt(2);
    TrimAdjct2Nods();
}

void CsTrmTria::TrimAdjEndUppr()
{
    if ((!FeatCornerIs(B()) && !FeatCornerIs(C()) && pos2 < 0.8) || KeepsEdgeNode(1, 1.0 - pos2)) {
        NodeAt(2);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(B(), 2);
    CutAlong(itrNode1, Nd(B()));
}

void CsTrmTria::TrimAdjFstLowr()
{
    // Moved onto point 1, the shared corner would pull the other cut edge off
    // the node the neighbour made on it; a point within a tenth of the edge
    // from the corner is still taken as it.
    if (pos1 > 0.2 || (pos1 >= 0.1 && EdgeHoldsVertex(2) && !FeatCornerIs(B())) || KeepsEdgeNode(2, pos1)) {
        NodeAt(1);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(B(), 1);
    CutAlong(Nd(B()), itrNode2);
}

void CsTrmTria::TrimAdjFstMidl()
{
    NodeAt(1);
    TrimAdjct2Nods();
}

void CsTrmTria::TrimAdjFstUppr()
{
    if (pos1 < 0.8) {
        NodeAt(1);
        TrimAdjct2Nods();
        return;
    }
    MoveVertexOnPt(A(), 1);
    CutAlong(Nd(A()), itrNode2);
}
