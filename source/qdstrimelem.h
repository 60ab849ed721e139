// The base of the element cutters: one shell element, one trim line and the
// points where the line crosses the element's edges become smaller elements
// whose edges follow the line.
//
// A cut is planned before anything is written: the handlers record the nodes
// to make, the vertices to move, the constraint changes and the pieces; the
// plan is checked (no repeated node, no piece without area, every piece turned
// like the element it came from, the pieces covering the element) and only
// then applied to the model. A plan that fails the check leaves the model and
// the tables exactly as they were, and the element stays uncut.
#ifndef QDSTRIMELEM_H
#define QDSTRIMELEM_H

#include "qdsgeombase.h"
#include "qdstrimbase.h"

#include <array>
#include <functional>
#include <utility>
#include <vector>

class gmTrmLine;

class CsTrmElem {
public:
    CsTrmElem(CsHashOpr* opr, gmTrmLine* line);
    virtual ~CsTrmElem() = default;
    CsTrmElem(const CsTrmElem&) = delete;
    CsTrmElem& operator=(const CsTrmElem&) = delete;

    void SetData(double ratioIn, double minDstIn, CsHashOpr* opr);
    // Whether a vertex may move onto a crossing. A vertex that may not stays:
    // a crossing within a tenth of the edge from it is taken as the vertex,
    // one farther off gets a node of its own, and where only the move would
    // do, the element stays uncut. Every vertex may move when none is given.
    using MoveCheck = std::function<bool(int node, const gmPnt3D& to)>;
    void SetMoveCheck(MoveCheck check) { mayMove = std::move(check); }
    // Cuts one element; non-zero exactly when the cut added an element.
    int Trimming(gmTrmLine* line, gmElemt* elem, const std::vector<gmItrPt>& points);

    const CsElemMap& GetNewElemMap() const { return newElemMap; }
    const std::vector<int>& GetSplitElArr() const { return splitElArr; }
    int GetPrjPtNode() const { return prjPtNode; }
    int GetMovedNode() const { return movedNode; }
    // The last pair lay on one edge of the element.
    bool IsOnSameEdge() const { return onSameEdge; }

protected:
    virtual int Trim1ItrPt();
    virtual int Trim2ItrPt() { return 0; }
    virtual int Trim3ItrPt();
    virtual int Trim2OnEdge() { return 0; }

    // ---- shared steps
    int InitData();
    void Exchange();
    void SortItrPtArr();
    bool HasFeatPnt();
    // The line's point farthest from the pair's chord; -1 when none stands
    // off it or, unless anyTurn, the line runs nearly straight through it.
    int GetMaxDstLnPnt(gmPnt3D& prj, bool anyTurn = false);
    int GetMinDstEdge(double& dst) const;
    void CheckFeatPnt();
    int SetEdgeItrPt(int e);
    int GetAdpEdgeNode(double pos, gmItrPt* point);
    // Both points on a coarse edge carrying a hanging node: the hanging node
    // becomes a corner and each point takes the node of its half, shared
    // with the fine neighbour there. 0 when the edge has no hanging node.
    int TrimEdgeAtAdpNd();
    // The pair is the line's corner poking just across a coarse edge: two
    // points on it closer than distinct crossings elsewhere may be.
    bool PokesAcrossCoarseEdge() const;
    void AddElement(int part, int count, const int* nodes);
    void AddNodePrjPt();

    // ---- geometry of the element being cut, with the planned moves
    int NodeNum() const { return static_cast<int>(nodeArr.size()); }
    int Nd(int i) const;
    bool IsCorner(int node) const;
    const gmPnt3D& Vtx(int i) const;
    // The position of any node, planned nodes and moves included.
    gmPnt3D PosOf(int node) const;
    // Point k (1 or 2) of the pair.
    const gmPnt3D& Pt(int k) const { return k == 1 ? itrPt1->GetPoint() : itrPt2->GetPoint(); }
    double& Pos(int k) { return k == 1 ? pos1 : pos2; }
    int& ItrNode(int k) { return k == 1 ? itrNode1 : itrNode2; }
    gmItrPt* HshPt(int k) const { return k == 1 ? hshItrPt1 : hshItrPt2; }
    int EdgeFst(int k) const { return k == 1 ? edge1[0] : edge2[0]; }
    int EdgeEnd(int k) const { return k == 1 ? edge1[1] : edge2[1]; }
    double DstToVtx(int k, int v) const { return Pt(k).DistTo(Vtx(v)); }
    // Vertex v sits on point k: a move put it there.
    bool OnPoint(int v, int k) const { return DstToVtx(k, v) <= 1e-9 * (k == 1 ? edgeLen1 : edgeLen2); }
    // Distance of a point from the line through vertices i and j.
    double DstToEdgeLine(const gmPnt3D& p, int i, int j) const;
    // The height of vertex v over the line through vertices i and j.
    double Height(int v, int i, int j) const { return DstToEdgeLine(Vtx(v), i, j); }

    // ---- planning
    // The node for point k: the one it has, or one planned at the point
    // through its table record (so the neighbour finds it). Sets itrNode k.
    int NodeAt(int k);
    // Plans vertex i at p (the model node moves with it on commit).
    void MoveVertex(int i, const gmPnt3D& p);
    // Moves vertex v onto point k: the point's node becomes v's node and its
    // position 1 (edge starts at v) or 0 (edge ends at v).
    void MoveVertexOnPt(int v, int k);
    void MoveNode(int node, const gmPnt3D& p);
    int PlanNode(const gmPnt3D& p, gmItrPt* record);
    bool IsPlannedNode(int node) const { return node > baseNodes; }
    void PlanRemoveAdp(const CsDataAdpv& c);
    void PlanInsertAdp(int n1, int n2, int node);
    void PlanItrRecord(const gmItrPt& p) { newRecords.push_back(p); }
    void PlanRecordNode(gmItrPt* record, int node);
    void PlanTrimNode(int node);
    // The hanging node on edge n1-n2 unless its constraint is to go.
    int AdpNodeOn(int n1, int n2, CsDataAdpv* found = nullptr) const;
    void Rewrite(std::vector<int> nodes) { rewriteArr = std::move(nodes); }
    void Add(std::vector<int> nodes) { addArr.push_back(std::move(nodes)); }
    bool HasPieces() const { return !rewriteArr.empty() || !addArr.empty(); }
    // The foot of p on the segment between vertices i and j, kept off both
    // ends: a node meant to lie on an edge must lie on it, or the neighbour
    // across the edge and this element would overlap or leave a gap.
    gmPnt3D FootOnEdge(const gmPnt3D& p, int i, int j) const;

    // Splits the element along x1 -> (feature) -> x2, both on its boundary,
    // and plans the pieces; false when no sound split exists.
    bool CutAlong(int x1, int x2);
    bool CutAlongThrough(int x1, int x2);
    // A corner moved onto point 2 next to point 1's node on the same edge:
    // the cut runs along the moved edge, and the element keeps its shape
    // with that node on its boundary.
    bool KeepWithEdgeNode(int x1, int x2);
    // Whether the line's corner was put by a cut edge whose node is not this
    // cut's own and so cannot be moved onto it.
    bool FeatureOffCutEdge(int x1, int x2) const;
    // Whether the line's corner lies by a cut edge while x1 and x2 follow
    // each other on the outline (sets the pair's nodes to them).
    bool FeatureBesideChord(int x1, int x2);
    // Corners moved onto both crossings and onto the line's corner with no
    // pieces made leave the element lying across the line: it is split along
    // the line through those corners.
    void CutAtMovedCorners();
    // The corners in order with the nodes planned or found on each edge.
    std::vector<int> BoundaryCycle() const;
    // A feature point next to a cut edge takes that edge's new node.
    void MoveCutNodeToFeature(int x1, int x2);
    // Both points pass near corner v, which moved onto one of them: the line
    // only dips into the element, so it is split from v through the feature.
    bool CutSpike(int v);
    // Gives up the node planned for the line's corner inside the element.
    void DropInnerFeature();
    // For each point without a node: a hanging node on its edge or a node
    // another point already has there.
    void FillAdjctNodes();
    // Point k lies farther than minDst from vertex v, or vertex v must stay:
    // it may not move onto the point, it would turn a coarse edge held on its
    // line, or, where the line has no corner between the points, it ends a
    // neighbour's coarse edge.
    bool Far(int k, int v) const
    {
        return DstToVtx(k, v) > minDst || MustStay(k, v) || TurnsCoarseEdge(v, Pt(k)) ||
               (featIdx < 0 && PinnedByCoarseEdge(v, k));
    }
    // Vertex v may not move onto point k, which is not so near it that the
    // cut may pass through the vertex instead.
    bool MustStay(int k, int v) const;
    // A point after pair k lies on an edge at one of the moved corners, away
    // from where the corner went.
    bool LaterPointLeft(int k, const std::vector<int>& moved) const;
    // The line has no sharp corner from point `first` to the last one.
    bool LineSmoothFrom(int first) const;
    // Whether the line, from where it passes vertex v to point k, bends away
    // from the straight run between them: taking the point as the vertex
    // would cut across the bend.
    bool LineBendsOffVertex(int k, int v) const;
    // The same from a position; onLine tells whether it lies on the line
    // near point k at all.
    bool LineBendsOff(int k, const gmPnt3D& from, bool* onLine = nullptr) const;
    // Whether moving vertex v to `to` folds or flattens another element
    // that has its node as a corner.
    bool MoveSpoilsNeighbour(int v, const gmPnt3D& to) const;
    // Whether moving vertex v to `to` swings a neighbour's edge off nodes of
    // the line lying inside it, which its element's cut would then miss;
    // with tipOnly, only off a node the line runs straight to from `to`.
    bool StrandsEdgeNode(int v, const gmPnt3D& to, bool tipOnly = false) const;
    // Whether moving hanging node v off its coarse edge to `to` sweeps a
    // neighbour's edge at it over a sharp corner of the line.
    bool SweepsLineTip(int v, const gmPnt3D& to) const;
    // How far `to` lies off the coarse edge of hanging node v; 0 on it, or
    // when v is no hanging node.
    double OffCoarseEdge(int v, const gmPnt3D& to) const;
    // Whether `to` lies off that coarse edge by no more than a tip the
    // coarse element takes as its own beside the edge.
    bool JustOffCoarseEdge(int v, const gmPnt3D& to) const;
    // Whether moving vertex v to `to` swings a neighbour's edge off any node
    // that lies inside it, left there by another neighbour's cut.
    bool SwingsOffEdgeNode(int v, const gmPnt3D& to) const;
    // The same for the neighbours' edge from `node` to w.
    bool SwingsOffEdgeNode(int node, int w, const gmPnt3D& to) const;
    // Whether w is a neighbour of vertex v along the element's outline.
    bool IsOwnEdge(int v, int w) const;
    // The nodes inside edge node-w, as the mesh has it, that the edge moved
    // from node to `to` would leave off it, the edge's hanging node aside:
    // corners of the elements at node (and at w with `farEnd`), or else
    // nodes the edge's records name.
    std::vector<int> StrandedOnEdge(int node, int w, const gmPnt3D& to, bool farEnd) const;
    static gmPnt3D PosInMesh(int node);
    // Whether vertex v, too far from point k to be taken as it, ends a
    // neighbour's coarse edge that moving it onto the point would turn: the
    // hanging node would follow the edge's middle off the line, away from
    // the node the fine side made there.
    bool PinnedByCoarseEdge(int v, int k) const;
    // Even a point close to it leaves vertex v where it is when the vertex
    // ends a neighbour's coarse edge: turned, that edge would take its
    // hanging node back to its middle, away from the nodes the fine side
    // makes on its halves.
    bool PinnedNear(int k, int v) const { return featIdx < 0 && PinnedByCoarseEdge(v, k); }
    // Whether moving vertex v to `to` takes it off the line of a coarse edge
    // it ends whose hanging node a cut put on the line along that edge, or
    // whose halves carry a node a cut made. With ownToo the element's own
    // coarse edges count as well: a corner moved onto the line's corner, or
    // onto a crossing of its other edge, leaves the coarse edge no crossing
    // to meet the fine side's nodes at.
    bool TurnsCoarseEdge(int v, const gmPnt3D& to, bool ownToo = false) const;
    // The move check of the caller and the coarse edges' together, the
    // element's own included.
    bool MayMove(int v, const gmPnt3D& to) const
    {
        return (!mayMove || mayMove(Nd(v), to)) && !TurnsCoarseEdge(v, to, true);
    }
    // The feature node of the path, by the classification: F inside, E on an
    // edge, the moved corner's node, or 0.
    int FeatureNode();

    // Position classes of the handler names.
    enum PosClass { Low = 0, Mid = 1, Upp = 2 };
    PosClass ClassOf(double t) const { return t < ratio ? Low : (t < 1.0 - ratio ? Mid : Upp); }
    // The class of point k, Mid when the vertex it would move onto it must stay.
    PosClass ClassAt(int k);
    // Whether the vertex shared by two adjacent cut edges may move onto the
    // feature point, both crossings then becoming that vertex.
    bool SharedVertexMayMove() const;
    // Whether cut edge k pins the vertex shared with the other cut edge: it
    // carries a node the neighbour made or the hanging node of a coarse edge,
    // either of which would be left off the edge if the vertex moved.
    bool EdgeHoldsVertex(int k) const;
    // Whether an edge at vertex v, in any element, carries a node a cut made
    // on it: moved onto the line's corner, the vertex would pull that edge
    // away from the node.
    bool HoldsEdgeNode(int v) const;
    // Whether a cut of this operation put the node on the line already.
    bool OnLineAlready(int node) const;
    // Whether p lies on the trim line, within a cut's tolerance.
    bool OnTrimLine(const gmPnt3D& p) const;
    // How often the trim line crosses segment a-b away from its ends.
    // nearEnd, if given, is lowered to the nearest crossing's share of a-b
    // from either end.
    int LineCrossings(const gmPnt3D& a, const gmPnt3D& b, double* nearEnd = nullptr) const;
    // Hanging node m of edge a-b, which the fine side moved off that edge
    // onto the line, stands for point k as it is: the line runs straight from
    // it to the point, so the fine pieces' edges ending there stay on it.
    bool StandsOffEdgeFor(int m, int a, int b, int k) const;
    // Vertex v stays where an earlier cut put it on the line instead of
    // moving onto point k: the cut must reach point k by a node of its own.
    bool HeldOnLine(int v, int k) const;
    // Held on the line and farther than a tenth of point k's edge from it:
    // too far for the cut to pass through the vertex instead.
    bool HeldAway(int v, int k) const;
    bool FeatCornerIs(int v) const { return featVtx >= 0 && featVtx == v; }
    // Point p stays inside the element when vertex v moves to `to`.
    bool StaysInside(const gmPnt3D& p, int v, const gmPnt3D& to) const;
    // Whether moving vertex v onto point k swings the edge the line's corner
    // node was planned on past the line's corner: the corner would be left to
    // the neighbour, which cuts it again without this element's node.
    bool SwingsPastFeature(int v, int k) const;

    // ---- the data of one cut
    int itrPtNum = 0;
    int srcElem = 0;
    int prjPtNode = 0;
    int movedNode = 0;
    double ratio = 0.25;
    double minDst = 1.0;
    int edge1[2] = {0, 0};
    int edge2[2] = {0, 0};
    int itrNode1 = 0;
    int itrNode2 = 0;
    int curPair = 2;
    double pos1 = 0.0;
    double pos2 = 0.0;
    double edgeLen1 = 0.0;
    double endDst1 = 0.0;
    double edgeLen2 = 0.0;
    double endDst2 = 0.0;
    gmItrPt* itrPt1 = nullptr;
    gmItrPt* itrPt2 = nullptr;
    gmItrPt* hshItrPt1 = nullptr;
    gmItrPt* hshItrPt2 = nullptr;
    int featIdx = -1;
    int featVtx = -1;
    int featEdge = -1;
    int featNode = 0;
    int featInner = 0;
    int featDone = 0;
    gmPnt3D prjPt;
    CsElemMap newElemMap;
    std::vector<int> splitElArr;
    // Hanging nodes an earlier pair of points of this element moved onto a
    // crossing, as corners.
    std::vector<int> cornersOnCrossings;
    std::vector<gmItrPt> itrPtArr;
    gmElemt* elemt = nullptr;
    gmTrmLine* trmLine = nullptr;
    CsHashOpr* hashOpr = nullptr;
    bool onSameEdge = false;
    MoveCheck mayMove;
    // A vertex that must stay was to move onto a crossing far from it: the
    // plan is refused and the element stays uncut.
    bool stayRefused = false;
    // KeepWithEdgeNode: the boundary with its edge nodes is split whole.
    bool wholeCycle = false;

private:
    struct PlannedNode {
        gmPnt3D point;
        gmItrPt* record;
    };
    struct AdpChange {
        bool insert;
        CsDataAdpv removed;
        int n1, n2, node;
    };

    void ClearPlan();
    void StartPlan();
    // Checks the plan; applies it when sound. True when applied.
    bool Commit();
    // The coarse edges whose ends this plan moves, with their hanging nodes.
    std::vector<std::array<int, 3>> HangingOnMovedEnds() const;
    // Hanging nodes follow the middle of their coarse edge at once: the fine
    // side cut later against the old middle would miss the coarse edge.
    void KeepHangingOnMiddle(const std::vector<std::array<int, 3>>& followers);
    bool CheckPieces() const;

    std::vector<int> nodeArr;
    std::vector<gmPnt3D> vtxArr;
    gmVec3D srcNormal;
    int baseNodes = 0;
    std::vector<PlannedNode> plannedNodes;
    std::vector<std::pair<int, gmPnt3D>> moves;
    std::vector<std::pair<int, gmPnt3D>> vertexMoves;
    std::vector<AdpChange> adpChanges;
    std::vector<gmItrPt> newRecords;
    std::vector<std::pair<gmItrPt*, int>> recordNodes;
    std::vector<int> trimNodes;
    std::vector<int> splitPlan;
    std::vector<int> rewriteArr;
    std::vector<std::vector<int>> addArr;

protected:
    // Nodes known to lie on an edge of the element besides the pair's.
    std::vector<std::pair<int, int>> extraEdgeNodes;
    // The one-point case copies the source's inner and to-delete marks.
    bool copyFlags = false;
    // A hash record that is to forget the element being cut (same-edge cuts).
    gmItrPt* forgetRecord = nullptr;
};

#endif
