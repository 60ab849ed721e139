// The cutting operations that cut the blank along their trim lines: the
// common run sequence, 2D trimming (a curve seen along a direction, an inside
// and an outside), 3D trimming (a curve on the part, the side kept chosen by
// a seed node) and lancing.
#ifndef QDSTRIMALGO_H
#define QDSTRIMALGO_H

#include "qdsgeombase.h"
#include "qdsgeomline.h"
#include "qdstrimbase.h"

#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

class CsPathCut;

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
    // Splits the shells the lines cross (or enclose, with the closed switch)
    // one adaptive level finer, before any cut; 0.
    int RefineMesh();
    // Splits element e into quadrilaterals around a centre node; a coarse
    // neighbour whose hanging node e holds is appended to work.
    void QuadElement(int e, CsNdElemTpy& tpy, std::vector<int>& work, std::vector<int>& levels);

    // Rewrites src as the first piece and adds the others as elements derived
    // from it (part, thickness, flags, element map, topology).
    void ReplaceByPieces(int src, const std::vector<std::vector<int>>& pieces);
    // Drops the adaptive constraints a cut left without their coarse edge or
    // without any element on their hanging node.
    void DropStaleConstraints();

    // The operation found the job cannot give a sound result; the run must stop.
    bool IsAborted() const { return aborted; }

    const std::vector<int>& GetTrmElemArr() const { return trmElemArr; }
    int GetElemNum() const { return elemNum; }

protected:
    // Reports that a line could not be cut soundly and stops the run.
    void ShowCutFailure(const char* operation, const CsString& id, const char* why);
    // The banner that opens an operation and its start line.
    static void ShowBegin(const char* title, const char* start);
    // The result line of an operation (with an optional hint after a
    // failure) and the closing line: failed when nothing was cut.
    void ShowEnd(const char* failed, const char* hint, const char* finished) const;
    // "The Current <kind> Line ID" of the line being cut, and the progress
    // line when a pass over it added elements.
    static void ShowLineId(const char* kind, const CsString& id);
    static void ShowGrowth(const char* kind, const CsString& id, int from, int to);
    // Keeps the model's node-to-element lists exact after elem changed nodes.
    static void SyncTopology(int elem, const std::vector<int>& oldNodes);
    static std::vector<int> NodesOf(int elem);

    int elemNum = 0;
    std::vector<gmTrmLine*> trmLineArr;
    // The elements the current line changed or made.
    std::vector<int> trmElemArr;
    // A cutter stopped, or the check refused the mesh: the end message gives no
    // hint about the input then, the messages before it say what is wrong.
    bool aborted = false;
    // The walk cut or removed something (the end message says so).
    bool succeeded = false;
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
    // Marks what the line removes: elements along the path by the path's
    // direction, their sibling pieces through edges off the path, every other
    // element by its centre.
    void MarkSides(const gmCut2DLine& line, const std::vector<std::pair<int, int>>& path);
    void SpreadToSiblings(const std::vector<std::pair<int, int>>& path, std::map<int, int>& side) const;
};

class CsLaserTrm : public CsAlgoTrm {
public:
    CsLaserTrm(const CsTrmLineOwners& lines, int unused) : CsAlgoTrm(lines, unused) {}

    void MessageBegin() override;
    void MessageEnd() override;
    int TrimElemArr() override;

    // Keeps what the seeds reach, marks the rest to delete.
    void GroupElement();

private:
    std::vector<int> keepElArr;
    std::vector<char> removedBefore;
    // The edges the lines' paths run along (the seed fill stops at them) and their nodes.
    std::set<std::pair<int, int>> barrier;
    std::set<int> pathNodes;
};

// Slits the blank along open or closed lancing lines: the path of each line
// is cut into the mesh as trimming does, then the elements on each side of it
// but one get copies of its nodes. Nothing is removed.
class CsAlgoLce : public CsAlgoTrm {
public:
    explicit CsAlgoLce(const CsTrmLineOwners& lines);

    void MessageBegin() override;
    void MessageEnd() override;
    int TrimElemArr() override;
    // Opens the slit along a cut path: the elements on each side of it but
    // one get their own copies of its nodes, so an inner end stays whole.
    void SlitAlong(const CsPathCut& cut);
};

class CsLance2D : public CsAlgoLce {
public:
    explicit CsLance2D(const CsTrmLineOwners& lines);
    void MessageBegin() override;
    void MessageEnd() override;
};

class CsLance3D : public CsAlgoLce {
public:
    explicit CsLance3D(const CsTrmLineOwners& lines);
    void MessageBegin() override;
    void MessageEnd() override;
};

#endif
