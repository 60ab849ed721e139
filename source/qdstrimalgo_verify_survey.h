// The inside of the mesh check: a copy of the model when an operation
// begins, and the survey of what the operation changed, shared by the
// file that gathers the difference and the one that judges it.
#ifndef QDSTRIMALGO_VERIFY_SURVEY_H
#define QDSTRIMALGO_VERIFY_SURVEY_H

#include "qdstrimalgo_verify.h"

#include "qdsdatabase.h"
#include "qdstrimalgo_verify_track.h"

#include <string>
#include <tuple>
#include <utility>
#include <vector>

// A constraint by exids: its coarse edge (smaller id first) and its hanging node.
struct CsCutConstraint {
    int lo = 0;
    int hi = 0;
    int node = 0;

    friend bool operator<(const CsCutConstraint& a, const CsCutConstraint& b)
    {
        return std::tie(a.lo, a.hi, a.node) < std::tie(b.lo, b.hi, b.node);
    }
    friend bool operator==(const CsCutConstraint& a, const CsCutConstraint& b)
    {
        return a.lo == b.lo && a.hi == b.hi && a.node == b.node;
    }
};

struct CsCutSnapshot {
    struct Elem {
        int node[4];
        signed char count;  // 3 or 4; 0 for anything but a triangle or quadrilateral shell
        bool live;          // it would have been written
    };
    std::vector<Elem> elems;
    std::vector<gmPnt3D> points;
    std::vector<CsCutConstraint> constraints;  // sorted
};

namespace cssurvey {


// Flags of a node during one survey.
constexpr unsigned char kMarked = 1;    // made, moved, or on an element or constraint that changed
constexpr unsigned char kZone = 2;      // a corner of an input element a curve sample lies on
constexpr unsigned char kUsed = 4;      // on an element that will be written
constexpr unsigned char kRegion = 8;    // on an element that is surveyed
constexpr unsigned char kContext = 16;  // a corner of an input element a surveyed piece came from
constexpr unsigned char kLink = 32;     // an end of the coarse edge of a hanging node that is looked at

// Two nodes closer than this share of the typical element lie at one point.
constexpr double kSamePoint = 1e-6;
// A point this close to an edge, as a share of the edge, lies on it.
constexpr double kOnEdge = 1e-6;
// A quadrilateral whose corner turns by less than this sine has three nodes on one line.
constexpr double kFlatSine = 1e-6;
// A piece whose area is below this share of its longest edge squared is a sliver.
constexpr double kFlatShare = 1e-4;
// Two pieces of one element whose facings turn by more than 120 degrees (this
// cosine, negated) fold back over each other: less than 60 degrees lie between them.
constexpr double kFoldCosine = 0.5;
// A parent seen along a 2D cut's vector at less than this share of its area
// stands too steep for the view to tell which way a piece of it faces.
constexpr double kSeenShare = 0.2;
// Barycentric slack: a point on an element's edge lies on the element.
constexpr double kInside = 1e-9;
// A curve's tangent closer than this sine to the surface's normal runs across
// the surface, not along it.
constexpr double kSteepShare = 0.1;
constexpr size_t kShown = 10;
constexpr size_t kMaxFaults = 200;
constexpr int kRounds = 3;
constexpr size_t kMaxJoins = 64;


std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));
int NodeId(int n);
int ElemId(int e);
gmPnt3D NodeAt(int n);
bool Written(const CsDataElem& el);
// The corners of a triangle or quadrilateral shell; 0 for anything else.
int Corners(const CsDataElem& el);

struct Ring {
    int count = 0;
    int node[kMaxElemNodes] = {};
};

Ring RingOf(int e);
// Twice the vector area of an element as it is now.
gmVec3D AreaOf(const Ring& r);
std::vector<int> NodesOf(int e);
// Whether q stands over triangle a-b-c, its foot on the triangle's plane
// inside the triangle; unit is the triangle's facing and off q's height over
// it. False for a triangle with no area.
bool OverTriangle(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& q, gmVec3D& unit, double& off);
// Twice the vector area of a polygon; its direction is the facing.
gmVec3D AreaVector(const std::vector<gmPnt3D>& p);
std::vector<CsCutConstraint> CurrentConstraints();
// The median longest edge of a spread of the input's elements: the scale of
// the grids and of "at one point".
double TypicalSize(const CsCutSnapshot& snap);

struct Split {
    int elem;
    int a;
    int b;
    int node;
};

struct Plan {
    std::vector<CsCutFault> faults;
    std::vector<std::pair<int, int>> merges;  // (node dropped, node kept)
    std::vector<Split> splits;
};

struct DirEdge {
    int u;
    int v;
    int elem;
    bool real;  // an edge of the element itself, not half of a coarse one

    friend bool operator<(const DirEdge& a, const DirEdge& b)
    {
        return std::tie(a.u, a.v, a.elem) < std::tie(b.u, b.v, b.elem);
    }
};

class Survey {
public:
    Survey(const CsCutSnapshot& snap, const CsCutTracks& tracks, const std::string& name, bool lance, double size)
        : snap_(snap), tracks_(tracks), name_(name), lance_(lance), h_(size),
          e0_(static_cast<int>(snap.elems.size())), n0_(static_cast<int>(snap.points.size())),
          e1_(dataManage.GetElemNumber()), n1_(dataManage.GetNodeNumber())
    {
    }

    void Run(Plan& plan);

private:
    void Diff();
    void Locate(int elem);
    void MarkConstraints();
    // Whether the node of this exid carries one of the flags.
    bool Flagged(int exid, unsigned char flags) const;
    void Gather();
    void Local();
    void Outline();
    void CheckElements(Plan& plan);
    void CheckEdges(Plan& plan);
    void CheckDuplicates(Plan& plan);
    void CheckConstraints(Plan& plan);
    void CheckCoverage(Plan& plan);
    void CheckSides(Plan& plan);
    void CheckSlitEnds(Plan& plan);
    // Whether an element this operation removed lies within `reach` of p (global).
    bool RemovedNear(const gmPnt3D& p, double reach);
    // Whether a sample lies over a written piece of the input element it lies over.
    bool KeptAt(const CsCutSample& s);
    // Whether a sample lies within `reach` of an edge of the written pieces of the
    // input element it lies over (of that element itself when the cut left it).
    bool OnAnEdge(const CsCutSample& s, bool same, double reach);
    // The written elements standing for an input element, by the pieces index.
    std::vector<int> PiecesOf(int elem);

    void Fault(Plan& plan, CsCutFaultKind kind, const gmPnt3D& where, const std::string& text) const;
    void Expand(int a, int b, int elem, bool real, int depth);
    int Hanging(int a, int b, const std::vector<CsCutConstraint>& list, bool written) const;
    // The input element a piece came from (itself when it is one), 0 when unknown.
    int Source(int elem) const;
    gmVec3D ParentFacing(int elem) const;
    // The corners of the input element a piece came from; none when unknown.
    std::vector<gmPnt3D> ParentPoints(int elem) const;
    // Whether a piece with these corners lies turned over against its parent as
    // a 2D cut of this operation sees both.
    bool TurnedInView(int elem, const std::vector<gmPnt3D>& points) const;
    std::vector<gmPnt3D> PointsOf(int elem) const;
    // The node's place among the surveyed nodes; their count when it is not one.
    size_t Local(int node) const;
    double Size(int node) const
    {
        const size_t l = Local(node);
        return l < size_.size() ? size_[l] : h_;
    }
    gmVec3D NodeNormal(int node) const
    {
        const size_t l = Local(node);
        return l < normal_.size() ? geCutUnit(normal_[l]) : gmVec3D(0.0, 0.0, 0.0);
    }
    bool OnOutline(const gmPnt3D& p, double tol) const;
    bool OnCurve(int node, double* off) const;
    // Whether p stands for a sharp corner or an open end of a curve: within a
    // quarter of the element there (the larger of the one at p, of size
    // `size`, and the input element holding the corner).
    bool ByCorner(const gmPnt3D& p, const gmVec3D& normal, double size) const;
    bool CutEdge(int u, int v, int elem) const;
    bool HalfOfChord(size_t edge) const;
    // Whether a free edge starts or ends at the node.
    bool OnSlit(int node) const;
    bool Marked(int n) const { return (mark_[static_cast<size_t>(n)] & kMarked) != 0; }
    // Looked at: every element on the node, and the coarse element of its
    // hanging node, is surveyed.
    bool Touched(int n) const { return (mark_[static_cast<size_t>(n)] & (kMarked | kZone | kLink)) != 0; }

    const CsCutSnapshot& snap_;
    const CsCutTracks& tracks_;
    const std::string& name_;
    const bool lance_;
    const double h_;  // the typical element size of the input
    const int e0_;
    const int n0_;
    const int e1_;
    const int n1_;

    std::vector<unsigned char> mark_;
    std::vector<CsCutSample> samples_;
    double cornerSize_ = 0.0;  // the largest input element holding a corner
    std::vector<int> changed_;
    std::vector<int> removed_;  // elements this operation took out of the output
    std::vector<char> differs_;  // per element: 0 as it was, 1 changed and written, 2 changed otherwise
    // Per curve space, the cell of every input node in its grid of samples
    // (three to a node), so that an element far from the curves costs no
    // arithmetic on coordinates.
    std::vector<std::vector<int>> nodeCells_;
    std::vector<long long> padCells_;
    std::vector<int> region_;
    std::vector<int> context_;
    std::vector<CsCutConstraint> now_;
    std::vector<unsigned char> byExid_;  // mark_ by exid, when the ids are dense enough
    std::vector<int> rnodes_;
    std::vector<double> size_;
    std::vector<gmVec3D> normal_;
    // Per surveyed node, once asked: its distance to the curves (infinite
    // beyond its element) and whether it stands on them.
    struct OnCurves {
        double off = -1.0;
        bool on = false;
    };
    mutable std::vector<OnCurves> onCurve_;
    std::vector<std::pair<int, int>> byNode_;  // (node, region element), sorted
    std::vector<DirEdge> edges_;
    std::vector<size_t> free_;                 // edges used once, no way back
    std::vector<std::pair<int, size_t>> freeFrom_;  // (node, free edge) sorted
    std::vector<std::pair<int, size_t>> freeTo_;
    CsCutGrid outline_;
    CsCutGrid removedGrid_;
    bool removedIndexed_ = false;
    std::vector<std::pair<int, int>> pieces_;  // (input element, written piece), sorted
    bool piecesIndexed_ = false;
    std::vector<std::pair<gmPnt3D, gmPnt3D>> outlineSegs_;
};

}  // namespace cssurvey

#endif
