// The cutting operations that walk the blank along their trim lines: the
// common run sequence with its repairs, 2D trimming (a curve seen along a
// direction, an inside and an outside) and 3D trimming (a curve on the part,
// the side kept chosen by a seed node).
#ifndef QDSTRIMALGO_H
#define QDSTRIMALGO_H

#include "qdsgeombase.h"
#include "qdsgeomline.h"
#include "qdstrimbase.h"
#include "qdstrimquad.h"
#include "qdstrimtria.h"

#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

using CsTrmLineOwners = std::vector<std::unique_ptr<gmTrmLine>>;

class CsAlgoTrm {
public:
    // The lines stay owned by the caller; the integer is not used.
    CsAlgoTrm(const CsTrmLineOwners& lines, int unused);
    virtual ~CsAlgoTrm() = default;
    CsAlgoTrm(const CsAlgoTrm&) = delete;
    CsAlgoTrm& operator=(const CsAlgoTrm&) = delete;

    virtual void Update();
    virtual void MessageBegin() {}
    virtual void MessageEnd() {}
    // The variant's walk for all its lines; non-zero when a line changed the mesh.
    virtual int TrimElemArr() = 0;

    // The whole operation; non-zero when the walk succeeded.
    int Trimming();
    // Cuts one element with the cutter of its shape; non-zero when pieces were added.
    int TrimElement(gmTrmLine* line, gmElemt& elem, std::vector<gmItrPt>& points);
    void AddElemArr();
    void UniqueElemArr();
    // Whether node, near an end of edge a-b, must still split the element:
    // that end was put on the line by an earlier cut and will not move onto
    // the node, or the node is the line's own (a corner of the line put on
    // the edge); it lies on the edge and would leave a crack beside it.
    bool HeldBeside(int node, int a, int b, double r) const;
    void CheckEdgNode();
    void CheckElement();
    void CheckElement(int elem);
    double GetMinDst() const;
    void SetMinDst(double d);
    // Splits the shells the lines cross (or enclose, with the closed switch)
    // one adaptive level finer, before any cut; 0.
    int RefineMesh();
    // Splits element e into quadrilaterals around a centre node; a coarse
    // neighbour whose hanging node e holds is appended to work.
    void QuadElement(int e, CsNdElemTpy& tpy, std::vector<int>& work, std::vector<int>& levels);

    // The operation found the job cannot give a sound result; the run must stop.
    bool IsAborted() const { return aborted; }

    const std::vector<int>& GetElemArr() const { return elemArr; }
    const std::vector<int>& GetTrmElemArr() const { return trmElemArr; }
    int GetElemNum() const { return elemNum; }
    double GetMinDstValue() const { return minDst; }

protected:
    // The derived-element rule of every split: a new element next to src,
    // with its flags and thickness, listed and mapped; src is rewritten.
    // False (nothing changed) when a piece would have no area or would face
    // away from src.
    bool SplitElement(int src, const std::vector<int>& srcNodes, const std::vector<int>& newNodes);
    // The banner that opens an operation and its start line.
    static void ShowBegin(const char* title, const char* start);
    // The result line of an operation (with an optional hint after a
    // failure) and the closing line: failed when no line cut anything.
    void ShowEnd(const char* failed, const char* hint, const char* finished) const;
    // "The Current <kind> Line ID" of the line being cut, and the progress
    // line when a pass over it added elements.
    static void ShowLineId(const char* kind, const CsString& id);
    static void ShowGrowth(const char* kind, const CsString& id, int from, int to);
    // The element across edge n1-n2 that really has that edge, 0 when none.
    static int NextElem(int elem, int n1, int n2);
    // The same, or, where the edge is half of a coarse edge (one of its nodes
    // hangs there), the coarse element across it; 0 when none.
    static int NeighbourAcross(int elem, int n1, int n2);
    // Stores the element's crossings in the intersection table. A crossing on
    // an edge that is part of a longer edge of the neighbour, whose cut already
    // put a node at that very point, takes that node instead of a second one.
    void AddItrPtArr(int elem, const std::vector<gmItrPt>& points);
    // Lists for the repairs the elements across the edges the crossings lie
    // on; acrossCoarse also takes the coarse element across half of its edge.
    void ListNeighbours(int elem, const std::vector<gmItrPt>& points, bool acrossCoarse);
    // Files the outcome of one cut on the walk. Pieces that still carry the
    // line (again) go back on the walk; others join the cut and the fresh
    // lists. An element left uncut goes to the repairs when toRepair.
    void FileCut(int elem, bool cut, bool again, bool toRepair, std::vector<int>& fresh);
    // Keeps the model's node-to-element lists exact after elem changed nodes.
    static void SyncTopology(int elem, const std::vector<int>& oldNodes);
    static std::vector<int> NodesOf(int elem);
    // Splits a quadrilateral in two at its first corner that is nearly flat
    // (or, with reflexToo, turned the wrong way); true when it split.
    bool SplitBadCorner(int elem, bool reflexToo);
    // splitElArr is only ever changed through these, which keep
    // splitWaiting, its members, for the cutter's lookups.
    void WaitForSplit(int elem);
    void ClearSplitList();

    int elemNum = 0;
    double minDst = 1.0e10;
    std::vector<gmTrmLine*> trmLineArr;
    std::vector<int> elemArr;
    std::vector<int> trmElemArr;
    std::vector<int> splitElArr;
    std::unordered_set<int> splitWaiting;
    CsTrmTria triaTrm;
    CsTrmQuad quadTrm;
    CsTrmElem* curTrmElem = nullptr;
    bool aborted = false;
    // Some line of this operation cut the blank (trmElemArr holds the last line's cuts only).
    bool lineCut = false;
};

// The adaptive level of every element, read from the constraints: elements
// joined by edges without a hanging node form a group, a group's level is
// one above the group on the coarse side of its constraints.
class CsCalAdpLevel {
public:
    // levels: one entry per element, overwritten by Calculate.
    CsCalAdpLevel(std::vector<int>& levels, const CsNdElemTpy& tpy);

    // 0, or -1 without constraints (levels are left as they are).
    int Calculate();
    // Gives the element and everything joined to it group g; -1 when the
    // element already had a group.
    int CheckAdpNeibEle(int elemIdx, int group);
    // A coarse-side chain that returns to a group on it counts that group as 0.
    int GetAdpLevel(int group) const;

    const std::vector<int>& GetFineGrpArr() const { return fineGrpArr; }
    const std::vector<int>& GetCoarseGrpArr() const { return coarseGrpArr; }
    const std::vector<int>& GetLevelArr() const { return levelArr; }

private:
    int& Fine(int x) { return fineGrpArr[static_cast<size_t>(x - 1)]; }
    int& Coarse(int x) { return coarseGrpArr[static_cast<size_t>(x - 1)]; }
    int& Group(int e) { return elemLevel[static_cast<size_t>(e - 1)]; }
    void SeedFineSide(int c, int d, int p);
    // The first constraint with this dependent node, 0 when none.
    int FirstOfNode(int exid) const;

    std::vector<int> fineGrpArr;
    std::vector<int> coarseGrpArr;
    std::vector<int> levelArr;
    std::vector<int>& elemLevel;
    const CsNdElemTpy& topology;
    std::vector<CsDataAdpv> adpvArr;
    int adpvNum = 0;
    std::vector<std::pair<int, int>> firstByNode;  // (dependent exid, constraint), sorted
};

class CsToolTrm : public CsAlgoTrm {
public:
    explicit CsToolTrm(const CsTrmLineOwners& lines) : CsAlgoTrm(lines, 0) {}

    void MessageBegin() override;
    void MessageEnd() override;
    int TrimElemArr() override;

    void SortTrmLnByArea();
    void CheckElemInOut(const gmCut2DLine& line);
};

class CsLaserTrm : public CsAlgoTrm {
public:
    CsLaserTrm(const CsTrmLineOwners& lines, int unused) : CsAlgoTrm(lines, unused) {}

    void MessageBegin() override;
    void MessageEnd() override;
    int TrimElemArr() override;

    // Keeps what the seeds reach, marks the rest to delete.
    void GroupElement();
    void GroupElement(int node, const CsNdElemTpy& tpy);
    int GroupElement(int node, const CsNdElemTpy& tpy, std::vector<int>& next);

private:
    void CollectTrimNodes();
    // Elements marked for removal before this operation, and their pieces.
    std::vector<char> RemovedBefore() const;

    std::vector<int> visitNdArr;
    std::vector<int> keepElArr;
    std::vector<char> removedBefore;
    int removedBeforeCount = 0;
};

// Slits the blank along open or closed lancing lines: the walk cuts the
// elements as trimming does, then one side of the chain of nodes gets copies
// of those nodes. Nothing is removed.
class CsAlgoLce : public CsAlgoTrm {
public:
    explicit CsAlgoLce(const CsTrmLineOwners& lines);
    ~CsAlgoLce() override;

    void MessageBegin() override;
    void MessageEnd() override;
    int TrimElemArr() override;
    // 1 and out when p falls on the element.
    virtual int ProjectToElem(int elem, const gmPnt3D& p, gmPnt3D& out);

    int LanceElement(gmTrmLine* line);
    int CheckHshItrNode();
    int SearchItrElemnt();
    int GetBoundaryNode();
    void CheckLineEndPnt(gmTrmLine* line);
    int CheckLineEndPnt(int elem, const gmPnt3D& end);
    int CheckTwoEndNode(int node);
    int CheckElemItrPnt(int elem, int& node);
    void SplitItrElement();
    void CheckSideElement(int elem, std::vector<int>& pending);
    int LanceSideElemArr();
    int SplitElemItrNd(int elem, const gmItrPt& pt);
    void CheckAdpNode();
    bool IsBdryNode(int node) const;

    // The rows of the line-end table, in table order; 0 for an end the table could not close.
    enum EndCase {
        kEndNone,
        kEndSnap, kEndAtB, kEndEdgePA, kEndEdgeQ, kEndInside,
        kEndNiSnapAB, kEndNiSnapP, kEndNiSnapQ, kEndNiEdgePA, kEndNiEntry, kEndNiEdgeBQ, kEndNiEdgeQ, kEndNiInside
    };
    // The row each closed line end took, in the order the ends were closed.
    const std::vector<int>& GetEndCases() const { return endCases; }
    int GetLineStartNode() const { return lineStartNode; }
    int GetLineEndNode() const { return lineEndNode; }
    const std::vector<int>& GetSideElemArr() const { return sideElemArr; }

protected:
    int lineStartNode = 0;
    int lineEndNode = 0;
    std::vector<int> elemMarks;
    std::vector<int> sideElemArr;
    std::unique_ptr<CsHash<int>> bdryNodes;
    std::unique_ptr<CsHash<std::pair<int, int>>> nodeCopies;
    gmTrmLine* curLine = nullptr;
    std::vector<int> endCases;

private:
    bool IsItrNode(int node) const;
    bool IsInnerEnd(int node) const;
    // Rewrites src and adds the pieces as one derived set; refused (nothing
    // changed, reported) when a piece has no area, faces away from src or the
    // pieces do not tile src.
    bool SplitPieces(int src, std::vector<int> srcNodes, std::vector<std::vector<int>> pieces,
                     std::vector<int>* added = nullptr);
    // Stands for the end's node in the node lists given to EndOnEdge.
    static constexpr int kAtEnd = -1;
    // The chain's end on edge x-y of elem, at the foot of q: a hanging node
    // there slides to it, else a node is made there. elem becomes nd and the
    // pieces are added, then the element across the edge is split at the
    // node. 0, with nothing changed, when elem cannot be split so.
    int EndOnEdge(int elem, int x, int y, const gmPnt3D& q, std::vector<int> nd,
                  std::vector<std::vector<int>> pieces);
    // node lies on edge u-w of elem: it becomes a corner there, the corner
    // at the edge's other end going to a triangle of its own.
    bool SplitAtNode(int elem, int u, int w, int node);
    // Whether edge u-w of elem lies on the blank's outline.
    bool IsOpenEdge(int elem, int u, int w) const;
    // Whether node may move to q: a node on the blank's outline only slides along it.
    bool KeepsOutline(int node, const gmPnt3D& q) const;
    // Moves node to q unless an element around it would fold; false then.
    bool MoveNodeSoundly(int node, const gmPnt3D& q);
};

class CsLance2D : public CsAlgoLce {
public:
    explicit CsLance2D(const CsTrmLineOwners& lines);
    void MessageBegin() override;
    void MessageEnd() override;
    int ProjectToElem(int elem, const gmPnt3D& p, gmPnt3D& out) override;
};

class CsLance3D : public CsAlgoLce {
public:
    explicit CsLance3D(const CsTrmLineOwners& lines);
    void MessageBegin() override;
    void MessageEnd() override;
    int ProjectToElem(int elem, const gmPnt3D& p, gmPnt3D& out) override;
};

#endif
