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
    void CheckEdgNode();
    void CheckElement();
    void CheckElement(int elem);
    double GetMinDst() const;
    void SetMinDst(double d);
    // Adaptive refinement is not part of this version: reports so, changes nothing.
    int RefineMesh();

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
    // The element across edge n1-n2 that really has that edge, 0 when none.
    static int NextElem(int elem, int n1, int n2);
    // Keeps the model's node-to-element lists exact after elem changed nodes.
    static void SyncTopology(int elem, const std::vector<int>& oldNodes);
    static std::vector<int> NodesOf(int elem);

    int elemNum = 0;
    double minDst = 1.0e10;
    std::vector<gmTrmLine*> trmLineArr;
    std::vector<int> elemArr;
    std::vector<int> trmElemArr;
    std::vector<int> splitElArr;
    CsTrmTria triaTrm;
    CsTrmQuad quadTrm;
    CsTrmElem* curTrmElem = nullptr;
    bool aborted = false;
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

#endif
