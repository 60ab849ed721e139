// The check after every operation: a copy of the model taken when the
// operation begins, a difference taken when it ends, and the checks run over
// the difference and its neighbours only. The geometry here is its own: the
// cutters' tables and plane tests are not consulted, so that a fault in them
// cannot hide itself.
#include "qdstrimalgo_verify.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"
#include "qdstrimalgo_verify_track.h"
#include "qdstrimbase.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <tuple>
#include <utility>

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

namespace {

// Flags of a node during one inspection.
constexpr unsigned char kMarked = 1;    // made, moved, or on an element or constraint that changed
constexpr unsigned char kZone = 2;      // a corner of an input element a curve sample lies on
constexpr unsigned char kUsed = 4;      // on an element that will be written
constexpr unsigned char kRegion = 8;    // on an element that is inspected
constexpr unsigned char kContext = 16;  // a corner of an input element an inspected piece came from
constexpr unsigned char kLink = 32;     // an end of the coarse edge of a hanging node that is looked at

// Two nodes closer than this share of the typical element lie at one point.
constexpr double kSamePoint = 1e-6;
// A point this close to an edge, as a share of the edge, lies on it.
constexpr double kOnEdge = 1e-6;
// A quadrilateral whose corner turns by less than this sine has three nodes on one line.
constexpr double kFlatSine = 1e-6;
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
std::string Text(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

int NodeId(int n) { return dataManage.GetNodeExid(n); }
int ElemId(int e) { return dataManage.GetElemExid(e); }
gmPnt3D NodeAt(int n) { return dataManage.GetNode(n).GetPoint(); }

bool Written(const CsDataElem& el) { return !el.IsToDel() && !el.IsDeleted(); }

// The corners of a triangle or quadrilateral shell; 0 for anything else.
int Corners(const CsDataElem& el)
{
    const int n = el.GetNodeNum();
    return el.IsShell() && (n == 3 || n == 4) ? n : 0;
}

// The node list of an element, without a heap allocation.
struct Ring {
    int count = 0;
    int node[kMaxElemNodes] = {};
};

Ring RingOf(int e)
{
    const CsDataElem& el = dataManage.GetElem(e);
    Ring r;
    r.count = el.GetNodeNum();
    std::copy(el.NodeList(), el.NodeList() + r.count, r.node);
    return r;
}

// Twice the vector area of an element as it is now.
gmVec3D AreaOf(const Ring& r)
{
    gmVec3D sum(0.0, 0.0, 0.0);
    const gmPnt3D o = dataManage.GetNode(r.node[0]).GetPoint();
    for (int i = 1; i + 1 < r.count; ++i) {
        sum += (dataManage.GetNode(r.node[i]).GetPoint() - o).Cross(dataManage.GetNode(r.node[i + 1]).GetPoint() - o);
    }
    return sum;
}

std::vector<int> NodesOf(int e)
{
    const CsDataElem& el = dataManage.GetElem(e);
    std::vector<int> nodes(static_cast<size_t>(el.GetNodeNum()));
    for (int k = 0; k < el.GetNodeNum(); ++k) nodes[static_cast<size_t>(k)] = el[k];
    return nodes;
}

// Whether q stands over triangle a-b-c, its foot on the triangle's plane
// inside the triangle; unit is the triangle's facing and off q's height over
// it. False for a triangle with no area.
bool OverTriangle(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& q, gmVec3D& unit, double& off)
{
    const gmVec3D n = (b - a).Cross(c - a);
    const double twice = n.Length();
    if (!(twice > 0.0)) return false;
    unit = n / twice;
    off = (q - a).Dot(unit);
    const gmPnt3D foot = q - unit * off;
    const double l1 = (c - b).Cross(foot - b).Dot(unit) / twice;
    const double l2 = (a - c).Cross(foot - c).Dot(unit) / twice;
    return l1 >= -kInside && l2 >= -kInside && 1.0 - l1 - l2 >= -kInside;
}

// Twice the vector area of a polygon; its direction is the facing.
gmVec3D AreaVector(const std::vector<gmPnt3D>& p)
{
    gmVec3D sum(0.0, 0.0, 0.0);
    for (size_t i = 1; i + 1 < p.size(); ++i) sum += (p[i] - p[0]).Cross(p[i + 1] - p[0]);
    return sum;
}


std::vector<CsCutConstraint> CurrentConstraints()
{
    std::vector<CsCutConstraint> out;
    const auto add = [&out](const CsDataAdpv& c) {
        out.push_back({std::min(c.GetN1(), c.GetN2()), std::max(c.GetN1(), c.GetN2()), c.GetNode()});
    };
    // During a run the operator's table is the truth; the model's list
    // follows it when an operation brings the constraints up to date.
    if (const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd()) {
        for (int b = 0; b < table->Capacity(); ++b) {
            for (const CsItem<CsDataAdpv>* item = table->GetItem(b); item; item = item->GetNext()) add(item->GetData());
        }
    } else {
        for (const CsDataAdpv& c : dataManage.GetAdpvArr()) add(c);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// ------------------------------------------------------------ inspection

// The median longest edge of a spread of the input's elements: the scale of
// the grids and of "at one point".
double TypicalSize(const CsCutSnapshot& snap)
{
    std::vector<double> sizes;
    const size_t count = snap.points.size();
    const size_t step = std::max<size_t>(1, snap.elems.size() / 2048);
    for (size_t i = 0; i < snap.elems.size(); i += step) {
        const CsCutSnapshot::Elem& s = snap.elems[i];
        if (!s.live) continue;
        double longest = 0.0;
        for (int k = 0; k < s.count; ++k) {
            const size_t a = static_cast<size_t>(s.node[k]);
            const size_t b = static_cast<size_t>(s.node[(k + 1) % s.count]);
            if (a < 1 || b < 1 || a > count || b > count) continue;
            longest = std::max(longest, snap.points[a - 1].DistTo(snap.points[b - 1]));
        }
        if (longest > 0.0) sizes.push_back(longest);
    }
    if (sizes.empty()) return 1.0;
    std::nth_element(sizes.begin(), sizes.begin() + static_cast<long>(sizes.size() / 2), sizes.end());
    return sizes[sizes.size() / 2];
}

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

class Inspection {
public:
    Inspection(const CsCutSnapshot& snap, const CsCutTracks& tracks, const std::string& name, bool lance, double size)
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
    // Whether an element this operation removed lies within `reach` of p (global).
    bool RemovedNear(const gmPnt3D& p, double reach);
    // Whether a sample lies over a written piece of the input element it lies over.
    bool KeptAt(const CsCutSample& s);

    void Fault(Plan& plan, CsCutFaultKind kind, const gmPnt3D& where, const std::string& text) const;
    void Expand(int a, int b, int elem, bool real, int depth);
    int Hanging(int a, int b, const std::vector<CsCutConstraint>& list, bool written) const;
    // The input element a piece came from (itself when it is one), 0 when unknown.
    int Source(int elem) const;
    gmVec3D ParentFacing(int elem) const;
    // The node's place among the inspected nodes; their count when it is not one.
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
    // hanging node, is inspected.
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
    // Per inspected node, once asked: its distance to the curves (infinite
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

void Inspection::Run(Plan& plan)
{
    samples_ = tracks_.samples;
    Diff();
    MarkConstraints();
    Gather();
    Local();
    Outline();
    CheckElements(plan);
    CheckEdges(plan);
    CheckDuplicates(plan);
    CheckConstraints(plan);
    if (!tracks_.Empty()) {
        CheckCoverage(plan);
        if (!lance_) CheckSides(plan);
    }
}

void Inspection::Fault(Plan& plan, CsCutFaultKind kind, const gmPnt3D& where, const std::string& text) const
{
    if (plan.faults.size() >= kMaxFaults) return;
    std::string head = name_;
    int curve = -1;
    if (!tracks_.Empty()) tracks_.Distance(where, gmVec3D(0.0, 0.0, 0.0), kCutInf, &curve);
    if (curve >= 0) head += ", curve " + tracks_.curves[static_cast<size_t>(curve)].id;
    plan.faults.push_back({kind, head + ": " + text});
}

// ---- the difference

void Inspection::Diff()
{
    mark_.assign(static_cast<size_t>(n1_) + 1, 0);
    const auto mark = [this](int n) {
        if (n >= 1 && n <= n1_) mark_[static_cast<size_t>(n)] |= kMarked;
    };
    const bool sampling = !samples_.empty();
    std::vector<size_t> sampled;
    nodeCells_.assign(tracks_.spaces.size(), {});
    padCells_.assign(tracks_.spaces.size(), 0);
    for (size_t sp = 0; sp < tracks_.spaces.size(); ++sp) {
        if (tracks_.sampleGrid[sp].Empty()) continue;
        sampled.push_back(sp);
        nodeCells_[sp].resize(3 * snap_.points.size());
        // A 3D curve over an element may run off it by its gap.
        const CsCutGrid& grid = tracks_.sampleGrid[sp];
        if (!tracks_.spaces[sp].flat) padCells_[sp] = grid.Cell(tracks_.maxGap + kCutOnCurve) - grid.Cell(0.0) + 1;
    }
    // One pass over the nodes: those that moved, and the cell of each in
    // the grids of samples.
    const std::vector<CsDataNode>& nodes = dataManage.GetNodeArr();
    for (int n = 1; n <= n0_; ++n) {
        const gmPnt3D& q = snap_.points[static_cast<size_t>(n - 1)];
        if (n <= n1_) {
            const gmPnt3D& p = nodes[static_cast<size_t>(n - 1)].GetPoint();
            if (p.x() != q.x() || p.y() != q.y() || p.z() != q.z()) mark_[static_cast<size_t>(n)] |= kMarked;
        }
        for (const size_t sp : sampled) {
            const gmPnt3D c = tracks_.spaces[sp].To(q);
            const CsCutGrid& grid = tracks_.sampleGrid[sp];
            int* cell = &nodeCells_[sp][3 * static_cast<size_t>(n - 1)];
            cell[0] = static_cast<int>(grid.Cell(c.x()));
            cell[1] = static_cast<int>(grid.Cell(c.y()));
            cell[2] = tracks_.spaces[sp].flat ? 0 : static_cast<int>(grid.Cell(c.z()));
        }
    }
    differs_.assign(static_cast<size_t>(e1_) + 1, 0);
    const std::vector<CsDataElem>& elems = dataManage.GetElemArr();
    for (int i = 1; i <= e1_; ++i) {
        const CsDataElem& el = elems[static_cast<size_t>(i - 1)];
        const int count = Corners(el);
        const bool live = count > 0 && Written(el);
        bool same = false;
        if (i <= e0_) {
            const CsCutSnapshot::Elem& s = snap_.elems[static_cast<size_t>(i - 1)];
            bool sameNodes = s.count == count;
            const int* ids = el.NodeList();
            for (int k = 0; sameNodes && k < count; ++k) sameNodes = s.node[k] == ids[k];
            same = sameNodes && s.live == live;
            // The curves are looked for over the blank that is kept: an
            // element removed whole holds none of it.
            if (sampling && s.live && (live || !sameNodes)) Locate(i);
            if (!same) {
                for (int k = 0; k < s.count; ++k) mark(s.node[k]);
            }
        }
        if (same) continue;
        for (int k = 0; k < el.GetNodeNum(); ++k) mark(el.NodeList()[k]);
        differs_[static_cast<size_t>(i)] = Written(el) ? 1 : 2;
        if (Written(el) && el.IsShell()) changed_.push_back(i);
        else if (count > 0 && (i > e0_ || snap_.elems[static_cast<size_t>(i - 1)].live)) removed_.push_back(i);
    }

    for (const CsCutCorner& c : tracks_.corners) cornerSize_ = std::max(cornerSize_, samples_[c.sample].size);
    for (const CsCutSample& s : samples_) {
        if (s.elem == 0) continue;
        const CsCutSnapshot::Elem& e = snap_.elems[static_cast<size_t>(s.elem - 1)];
        for (int k = 0; k < e.count; ++k) {
            if (e.node[k] >= 1 && e.node[k] <= n1_) mark_[static_cast<size_t>(e.node[k])] |= kZone;
        }
    }
}

void Inspection::Locate(int elem)
{
    const CsCutSnapshot::Elem& e = snap_.elems[static_cast<size_t>(elem - 1)];
    for (int k = 0; k < e.count; ++k) {
        if (e.node[k] < 1 || e.node[k] > n0_) return;
    }
    gmPnt3D g[4];
    bool read = false;
    for (size_t sp = 0; sp < tracks_.spaces.size(); ++sp) {
        const CsCutGrid& grid = tracks_.sampleGrid[sp];
        if (grid.Empty()) continue;
        const std::vector<int>& cells = nodeCells_[sp];
        long long from[3];
        long long to[3];
        for (int d = 0; d < 3; ++d) {
            from[d] = to[d] = cells[3 * static_cast<size_t>(e.node[0] - 1) + static_cast<size_t>(d)];
            for (int k = 1; k < e.count; ++k) {
                const long long c = cells[3 * static_cast<size_t>(e.node[k] - 1) + static_cast<size_t>(d)];
                from[d] = std::min(from[d], c);
                to[d] = std::max(to[d], c);
            }
            from[d] -= padCells_[sp];
            to[d] += padCells_[sp];
        }
        if (!grid.Occupied(from, to)) continue;
        if (!read) {
            for (int k = 0; k < e.count; ++k) g[k] = snap_.points[static_cast<size_t>(e.node[k] - 1)];
            read = true;
        }
        const CsCutSpace& space = tracks_.spaces[sp];
        gmPnt3D p[4];
        gmPnt3D lo(kCutInf, kCutInf, kCutInf);
        gmPnt3D hi(-kCutInf, -kCutInf, -kCutInf);
        for (int k = 0; k < e.count; ++k) {
            p[k] = space.To(g[k]);
            for (int d = 0; d < 3; ++d) {
                lo[d] = std::min(lo[d], p[k][d]);
                hi[d] = std::max(hi[d], p[k][d]);
            }
        }
        const double pad = space.flat ? 1e-7 * h_ : tracks_.maxGap + kCutOnCurve;
        grid.Visit(geCutShifted(lo, -pad), geCutShifted(hi, pad), [&](int index) {
            CsCutSample& s = samples_[static_cast<size_t>(index)];
            if (space.flat && s.elem != 0) return;
            const double gap = tracks_.curves[s.curve].gap;
            for (int t = 1; t + 1 < e.count; ++t) {
                const gmPnt3D& a = space.flat ? p[0] : g[0];
                const gmPnt3D& b = space.flat ? p[t] : g[t];
                const gmPnt3D& c = space.flat ? p[t + 1] : g[t + 1];
                gmVec3D unit;
                double off = 0.0;
                if (!OverTriangle(a, b, c, s.at, unit, off)) continue;
                if (!space.flat && std::fabs(off) > gap + kCutOnCurve) continue;
                if (!space.flat && std::fabs(off) >= s.offset) continue;
                const gmPnt3D foot = s.at - unit * off;
                double longest = 0.0;
                for (int k = 0; k < e.count; ++k) longest = std::max(longest, g[k].DistTo(g[(k + 1) % e.count]));
                s.elem = elem;
                s.offset = std::fabs(off);
                s.foot = space.flat ? s.at : foot;
                s.normal = space.flat ? gmVec3D(0.0, 0.0, 1.0) : unit;
                s.size = longest;
                break;
            }
        });
    }
}

void Inspection::MarkConstraints()
{
    now_ = CurrentConstraints();
    std::vector<CsCutConstraint> changed;
    std::set_symmetric_difference(snap_.constraints.begin(), snap_.constraints.end(), now_.begin(), now_.end(),
                                  std::back_inserter(changed));
    for (const CsCutConstraint& c : changed) {
        for (const int exid : {c.lo, c.hi, c.node}) {
            const int n = dataManage.GetNdidFromExid(exid);
            if (n >= 1 && n <= n1_) mark_[static_cast<size_t>(n)] |= kMarked;
        }
    }
    // Without constraints there is nothing to look up by exid.
    if (now_.empty()) return;
    const int maxExid = dataManage.GetNodeMaxNo();
    if (maxExid >= 0 && maxExid <= 16 * std::max(n1_, 1) + 1024) {
        byExid_.assign(static_cast<size_t>(maxExid) + 1, 0);
        for (int n = 1; n <= n1_; ++n) {
            const int x = NodeId(n);
            if (x >= 0 && x <= maxExid) byExid_[static_cast<size_t>(x)] = mark_[static_cast<size_t>(n)];
        }
    }
    // The coarse element of a hanging node that is looked at meets its fine
    // side along halves of its edge: it must be looked at too, and so on up
    // the levels.
    for (int level = 0; level < 4; ++level) {
        bool more = false;
        for (const CsCutConstraint& c : now_) {
            if (!Flagged(c.node, kMarked | kZone | kLink)) continue;
            for (const int exid : {c.lo, c.hi}) {
                if (Flagged(exid, kMarked | kZone | kLink)) continue;
                const int n = dataManage.GetNdidFromExid(exid);
                if (n < 1 || n > n1_) continue;
                mark_[static_cast<size_t>(n)] |= kLink;
                if (!byExid_.empty()) byExid_[static_cast<size_t>(exid)] |= kLink;
                more = true;
            }
        }
        if (!more) break;
    }
}

bool Inspection::Flagged(int exid, unsigned char flags) const
{
    if (byExid_.empty()) {
        const int n = dataManage.GetNdidFromExid(exid);
        return n >= 1 && n <= n1_ && (mark_[static_cast<size_t>(n)] & flags);
    }
    return exid >= 0 && static_cast<size_t>(exid) < byExid_.size() && (byExid_[static_cast<size_t>(exid)] & flags);
}

void Inspection::Gather()
{
    const std::vector<CsDataElem>& elems = dataManage.GetElemArr();
    for (int i = 1; i <= e1_; ++i) {
        // An element that is not written now needs no second look; one as it
        // was is read from the compact copy.
        if (differs_[static_cast<size_t>(i)] == 2) continue;
        if (i <= e0_ && !differs_[static_cast<size_t>(i)]) {
            const CsCutSnapshot::Elem& s = snap_.elems[static_cast<size_t>(i - 1)];
            if (s.count > 0) {
                if (!s.live) continue;
                bool near = false;
                for (int k = 0; k < s.count; ++k) {
                    const int n = s.node[k];
                    mark_[static_cast<size_t>(n)] |= kUsed;
                    near = near || Touched(n);
                }
                if (near) region_.push_back(i);
                continue;
            }
        }
        const CsDataElem& el = elems[static_cast<size_t>(i - 1)];
        if (!Written(el)) continue;
        bool near = false;
        for (int k = 0; k < el.GetNodeNum(); ++k) {
            const int n = el.NodeList()[k];
            if (n < 1 || n > n1_) continue;
            mark_[static_cast<size_t>(n)] |= kUsed;
            near = near || Touched(n);
        }
        if (near && Corners(el) > 0) region_.push_back(i);
    }
    for (const int e : region_) {
        const CsDataElem& el = dataManage.GetElem(e);
        for (int k = 0; k < el.GetNodeNum(); ++k) mark_[static_cast<size_t>(el[k])] |= kRegion;
        // The input element a piece came from holds the outline the piece
        // may lie along.
        const int from = Source(e);
        if (from == 0) continue;
        const CsCutSnapshot::Elem& s = snap_.elems[static_cast<size_t>(from - 1)];
        for (int k = 0; k < s.count; ++k) mark_[static_cast<size_t>(s.node[k])] |= kContext;
    }
    for (int i = 1; i <= e0_; ++i) {
        const CsCutSnapshot::Elem& s = snap_.elems[static_cast<size_t>(i - 1)];
        if (!s.live) continue;
        for (int k = 0; k < s.count; ++k) {
            if (mark_[static_cast<size_t>(s.node[k])] & (kRegion | kZone | kContext)) {
                context_.push_back(i);
                break;
            }
        }
    }
}

int Inspection::Hanging(int a, int b, const std::vector<CsCutConstraint>& list, bool written) const
{
    const int ea = NodeId(a);
    const int eb = NodeId(b);
    const CsCutConstraint key{std::min(ea, eb), std::max(ea, eb), std::numeric_limits<int>::min()};
    for (auto it = std::lower_bound(list.begin(), list.end(), key); it != list.end() && it->lo == key.lo && it->hi == key.hi;
         ++it) {
        const int d = dataManage.GetNdidFromExid(it->node);
        if (d < 1 || d > n1_ || d == a || d == b) continue;
        if (written && !(mark_[static_cast<size_t>(d)] & kUsed)) continue;
        return d;
    }
    return 0;
}

void Inspection::Expand(int a, int b, int elem, bool real, int depth)
{
    // A coarse edge carrying a hanging node meets its fine side as two halves.
    const int m = depth < 8 ? Hanging(a, b, now_, true) : 0;
    if (m > 0) {
        Expand(a, m, elem, false, depth + 1);
        Expand(m, b, elem, false, depth + 1);
        return;
    }
    if (Touched(a) || Touched(b)) edges_.push_back({a, b, elem, real});
}

size_t Inspection::Local(int node) const
{
    const auto it = std::lower_bound(rnodes_.begin(), rnodes_.end(), node);
    return it != rnodes_.end() && *it == node ? static_cast<size_t>(it - rnodes_.begin()) : rnodes_.size();
}

void Inspection::Local()
{
    for (const int e : region_) {
        const Ring r = RingOf(e);
        for (int k = 0; k < r.count; ++k) {
            rnodes_.push_back(r.node[k]);
            byNode_.emplace_back(r.node[k], e);
        }
    }
    std::sort(rnodes_.begin(), rnodes_.end());
    rnodes_.erase(std::unique(rnodes_.begin(), rnodes_.end()), rnodes_.end());
    std::sort(byNode_.begin(), byNode_.end());
    size_.assign(rnodes_.size(), 0.0);
    onCurve_.assign(rnodes_.size(), OnCurves());
    normal_.assign(rnodes_.size(), gmVec3D(0.0, 0.0, 0.0));
    for (const int e : region_) {
        const Ring r = RingOf(e);
        gmPnt3D p[kMaxElemNodes];
        for (int k = 0; k < r.count; ++k) p[k] = NodeAt(r.node[k]);
        // The size at a place is that of the input element there: the pieces
        // a cut leaves may be much smaller.
        double longest = 0.0;
        for (int k = 0; k < r.count; ++k) longest = std::max(longest, p[k].DistTo(p[(k + 1) % r.count]));
        if (const int from = Source(e)) {
            const CsCutSnapshot::Elem& was = snap_.elems[static_cast<size_t>(from - 1)];
            for (int k = 0; k < was.count; ++k) {
                longest = std::max(longest, snap_.points[static_cast<size_t>(was.node[k] - 1)].DistTo(
                                                snap_.points[static_cast<size_t>(was.node[(k + 1) % was.count] - 1)]));
            }
        }
        const gmVec3D area = AreaOf(r);
        for (int k = 0; k < r.count; ++k) {
            const size_t l = Local(r.node[k]);
            size_[l] = std::max(size_[l], longest);
            normal_[l] += area;
        }
        for (int k = 0; k < r.count; ++k) Expand(r.node[k], r.node[(k + 1) % r.count], e, true, 0);
    }
    std::sort(edges_.begin(), edges_.end());
    for (size_t i = 0; i < edges_.size(); ++i) {
        const DirEdge back{edges_[i].v, edges_[i].u, std::numeric_limits<int>::min(), false};
        const auto it = std::lower_bound(edges_.begin(), edges_.end(), back);
        if (it != edges_.end() && it->u == back.u && it->v == back.v) continue;
        free_.push_back(i);
        freeFrom_.emplace_back(edges_[i].u, i);
        freeTo_.emplace_back(edges_[i].v, i);
    }
    std::sort(freeFrom_.begin(), freeFrom_.end());
    std::sort(freeTo_.begin(), freeTo_.end());
}

void Inspection::Outline()
{
    // The outline of the blank as the operation found it, around what
    // changed: edges of the input elements there that no other element met.
    outline_ = CsCutGrid(h_);
    std::vector<DirEdge> edges;
    const unsigned char around = kRegion | kZone | kContext;
    std::vector<int> stack;
    for (const int i : context_) {
        const CsCutSnapshot::Elem& s = snap_.elems[static_cast<size_t>(i - 1)];
        for (int k = 0; k < s.count; ++k) {
            // Coarse edges are met by their halves.
            std::vector<std::pair<int, int>> todo{{s.node[k], s.node[(k + 1) % s.count]}};
            for (int guard = 0; !todo.empty() && guard < 64; ++guard) {
                const auto [a, b] = todo.back();
                todo.pop_back();
                const int m = Hanging(a, b, snap_.constraints, false);
                if (m > 0 && m <= n0_) {
                    todo.emplace_back(a, m);
                    todo.emplace_back(m, b);
                } else if ((mark_[static_cast<size_t>(a)] | mark_[static_cast<size_t>(b)]) & around) {
                    edges.push_back({a, b, i, true});
                }
            }
        }
    }
    std::sort(edges.begin(), edges.end());
    for (const DirEdge& e : edges) {
        const DirEdge back{e.v, e.u, std::numeric_limits<int>::min(), false};
        const auto it = std::lower_bound(edges.begin(), edges.end(), back);
        if (it != edges.end() && it->u == back.u && it->v == back.v) continue;
        const gmPnt3D& a = snap_.points[static_cast<size_t>(e.u - 1)];
        const gmPnt3D& b = snap_.points[static_cast<size_t>(e.v - 1)];
        const gmPnt3D lo(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::min(a.z(), b.z()));
        const gmPnt3D hi(std::max(a.x(), b.x()), std::max(a.y(), b.y()), std::max(a.z(), b.z()));
        outline_.Add(static_cast<int>(outlineSegs_.size()), lo, hi);
        outlineSegs_.emplace_back(a, b);
    }
    outline_.Finish();
}

bool Inspection::OnOutline(const gmPnt3D& p, double tol) const
{
    bool on = false;
    outline_.Visit(geCutShifted(p, -tol), geCutShifted(p, tol), [&](int i) {
        const auto& seg = outlineSegs_[static_cast<size_t>(i)];
        on = on || geCutSegDist(p, seg.first, seg.second) <= tol;
    });
    return on;
}

bool Inspection::OnCurve(int node, double* off) const
{
    const size_t l = Local(node);
    if (l < onCurve_.size() && onCurve_[l].off >= 0.0) {
        if (off) *off = onCurve_[l].off;
        return onCurve_[l].on;
    }
    const gmPnt3D p = NodeAt(node);
    const gmVec3D n = NodeNormal(node);
    const double size = Size(node);
    double d = tracks_.Distance(p, n, std::max(size, kCutOnCurve));
    // The cutter drops a curve off the surface along the normal of the input
    // element it cuts; at a crease the mean normal of the node looks at it askew.
    for (auto it = std::lower_bound(byNode_.begin(), byNode_.end(), std::make_pair(node, 0));
         d > kCutOnCurve && it != byNode_.end() && it->first == node; ++it) {
        const gmVec3D facing = ParentFacing(it->second);
        if (facing.SqrLen() > 0.0) d = std::min(d, tracks_.Distance(p, geCutUnit(facing), std::max(size, kCutOnCurve)));
    }
    const bool on = d <= kCutOnCurve || ByCorner(p, n, size);
    if (l < onCurve_.size()) onCurve_[l] = {d, on};
    if (off) *off = d;
    return on;
}

bool Inspection::ByCorner(const gmPnt3D& p, const gmVec3D& normal, double size) const
{
    bool by = false;
    tracks_.VisitCorners(p, normal, kCutQuarter * std::max(size, cornerSize_), [&](size_t k, double dist) {
        const CsCutSample& at = samples_[tracks_.corners[k].sample];
        by = by || dist <= kCutQuarter * std::max(size, at.size);
    });
    return by;
}

// Both ends on a curve and the edge following it to within a quarter of an element.
bool Inspection::CutEdge(int u, int v, int elem) const
{
    if (!OnCurve(u, nullptr) || !OnCurve(v, nullptr)) return false;
    const gmPnt3D mid = NodeAt(u) + (NodeAt(v) - NodeAt(u)) * 0.5;
    const double reach = std::max(kCutOnCurve, kCutQuarter * std::max(Size(u), Size(v)));
    return tracks_.Distance(mid, geCutUnit(AreaOf(RingOf(elem))), reach) <= reach;
}

// A node left at the middle of a coarse edge whose coarse element went: the
// two halves on either side of it are one chord of the cut.
bool Inspection::HalfOfChord(size_t edge) const
{
    const DirEdge& e = edges_[edge];
    const auto chord = [this](int a, int m, int b) {
        const gmPnt3D pa = NodeAt(a);
        const gmPnt3D pb = NodeAt(b);
        if (geCutSegDist(NodeAt(m), pa, pb) > kOnEdge * pa.DistTo(pb)) return false;
        return OnCurve(a, nullptr) && OnCurve(b, nullptr);
    };
    for (auto it = std::lower_bound(freeFrom_.begin(), freeFrom_.end(), std::make_pair(e.v, size_t{0}));
         it != freeFrom_.end() && it->first == e.v; ++it) {
        if (chord(e.u, e.v, edges_[it->second].v)) return true;
    }
    for (auto it = std::lower_bound(freeTo_.begin(), freeTo_.end(), std::make_pair(e.u, size_t{0}));
         it != freeTo_.end() && it->first == e.u; ++it) {
        if (chord(edges_[it->second].u, e.u, e.v)) return true;
    }
    return false;
}

bool Inspection::OnSlit(int node) const
{
    const auto has = [node](const std::vector<std::pair<int, size_t>>& list) {
        const auto it = std::lower_bound(list.begin(), list.end(), std::make_pair(node, size_t{0}));
        return it != list.end() && it->first == node;
    };
    return has(freeFrom_) || has(freeTo_);
}

// ---- the checks

int Inspection::Source(int elem) const
{
    int from = elem;
    const CsHash<CsHashOpr::ElemPair>* pairs = hashOper.GetHashElemPair();
    for (int step = 0; from > e0_ && pairs && step < 64; ++step) {
        const CsItem<CsHashOpr::ElemPair>* item = pairs->Find(from);
        from = item ? item->GetData().second : 0;
    }
    return from >= 1 && from <= e0_ && snap_.elems[static_cast<size_t>(from - 1)].count > 0 ? from : 0;
}

gmVec3D Inspection::ParentFacing(int elem) const
{
    const int from = Source(elem);
    if (from == 0) return gmVec3D(0.0, 0.0, 0.0);
    const CsCutSnapshot::Elem& s = snap_.elems[static_cast<size_t>(from - 1)];
    std::vector<gmPnt3D> p;
    for (int k = 0; k < s.count; ++k) p.push_back(snap_.points[static_cast<size_t>(s.node[k] - 1)]);
    return p.size() >= 3 ? AreaVector(p) : gmVec3D(0.0, 0.0, 0.0);
}

void Inspection::CheckElements(Plan& plan)
{
    for (const int e : changed_) {
        const CsDataElem& el = dataManage.GetElem(e);
        const int count = el.GetNodeNum();
        const std::vector<int> nd = NodesOf(e);
        if (count != 3 && count != 4) {
            Fault(plan, CsCutFaultKind::kBadElement, nd.empty() || nd[0] < 1 || nd[0] > n1_ ? gmPnt3D() : NodeAt(nd[0]),
                  Text("element %d has %d nodes, not 3 or 4", ElemId(e), count));
            continue;
        }
        if (std::any_of(nd.begin(), nd.end(), [this](int n) { return n < 1 || n > n1_; })) {
            Fault(plan, CsCutFaultKind::kBadElement, gmPnt3D(), Text("element %d names a node that does not exist", ElemId(e)));
            continue;
        }
        std::vector<gmPnt3D> p;
        for (const int n : nd) p.push_back(NodeAt(n));
        const gmPnt3D at = p[0];
        bool repeated = false;
        for (int i = 0; i < count && !repeated; ++i) {
            for (int j = i + 1; j < count && !repeated; ++j) {
                if (nd[static_cast<size_t>(i)] != nd[static_cast<size_t>(j)]) continue;
                repeated = true;
                Fault(plan, CsCutFaultKind::kBadElement, at,
                      Text("element %d repeats node %d", ElemId(e), NodeId(nd[static_cast<size_t>(i)])));
            }
        }
        if (repeated) continue;
        const gmVec3D area = AreaVector(p);
        double perimeter = 0.0;
        for (int k = 0; k < count; ++k) perimeter += p[static_cast<size_t>(k)].DistTo(p[static_cast<size_t>((k + 1) % count)]);
        if (!(area.Length() > 1e-10 * perimeter * perimeter)) {
            Fault(plan, CsCutFaultKind::kBadElement, at, Text("element %d has no area", ElemId(e)));
            continue;
        }
        const gmVec3D parent = ParentFacing(e);
        if (parent.SqrLen() > 0.0 && area.Dot(parent) <= 0.0) {
            Fault(plan, CsCutFaultKind::kFlipped, at, Text("element %d faces away from the element it was cut from", ElemId(e)));
            continue;
        }
        if (count != 4) continue;
        const gmVec3D facing = geCutUnit(area);
        for (int k = 0; k < 4; ++k) {
            const gmVec3D in = p[static_cast<size_t>(k)] - p[static_cast<size_t>((k + 3) % 4)];
            const gmVec3D out = p[static_cast<size_t>((k + 1) % 4)] - p[static_cast<size_t>(k)];
            const double lengths = in.Length() * out.Length();
            const double sine = lengths > 0.0 ? in.Cross(out).Dot(facing) / lengths : 0.0;
            if (sine > kFlatSine) continue;
            Fault(plan, CsCutFaultKind::kConcave, p[static_cast<size_t>(k)],
                  Text(sine > -kFlatSine ? "quadrilateral %d has three corners on one line at node %d"
                                         : "quadrilateral %d is concave at node %d",
                       ElemId(e), NodeId(nd[static_cast<size_t>(k)])));
            break;
        }
    }
}

void Inspection::CheckEdges(Plan& plan)
{
    for (size_t i = 0; i < edges_.size();) {
        size_t j = i + 1;
        while (j < edges_.size() && edges_[j].u == edges_[i].u && edges_[j].v == edges_[i].v) ++j;
        if (j - i > 1 && (Marked(edges_[i].u) || Marked(edges_[i].v))) {
            Fault(plan, CsCutFaultKind::kFoldedEdge, NodeAt(edges_[i].u),
                  Text("elements %d and %d both run along edge %d-%d the same way: the mesh folds there",
                       ElemId(edges_[i].elem), ElemId(edges_[i + 1].elem), NodeId(edges_[i].u), NodeId(edges_[i].v)));
        }
        i = j;
    }
    const bool cutting = !tracks_.Empty();
    std::vector<int> reported;
    for (const size_t f : free_) {
        const DirEdge& e = edges_[f];
        if (!Marked(e.u) && !Marked(e.v)) continue;
        const gmPnt3D a = NodeAt(e.u);
        const gmPnt3D b = NodeAt(e.v);
        const gmPnt3D mid = a + (b - a) * 0.5;
        const double tol = kOnEdge * std::max(h_, std::max(Size(e.u), Size(e.v)));
        if (OnOutline(a, tol) && OnOutline(b, tol) && OnOutline(mid, tol)) continue;
        if (cutting && (CutEdge(e.u, e.v, e.elem) || HalfOfChord(f))) continue;

        // Not a boundary: a node left on this edge by a neighbour is what a
        // split of this element would join.
        if (e.real) {
            const auto stranded = [&](int x) {
                double t = 0.0;
                return x != e.u && x != e.v && geCutSegDist(NodeAt(x), a, b, &t) <= kOnEdge * a.DistTo(b) && t > 0.0 && t < 1.0;
            };
            int found = 0;
            for (auto it = std::lower_bound(freeFrom_.begin(), freeFrom_.end(), std::make_pair(e.v, size_t{0}));
                 !found && it != freeFrom_.end() && it->first == e.v; ++it) {
                if (stranded(edges_[it->second].v)) found = edges_[it->second].v;
            }
            for (auto it = std::lower_bound(freeTo_.begin(), freeTo_.end(), std::make_pair(e.u, size_t{0}));
                 !found && it != freeTo_.end() && it->first == e.u; ++it) {
                if (stranded(edges_[it->second].u)) found = edges_[it->second].u;
            }
            if (found) plan.splits.push_back({e.elem, e.u, e.v, found});
        }

        if (!cutting) {
            Fault(plan, CsCutFaultKind::kOpenEdge, mid,
                  Text("element %d: edge %d-%d is open but does not lie on the blank's outline (a crack)",
                       ElemId(e.elem), NodeId(e.u), NodeId(e.v)));
            continue;
        }
        double offU = 0.0;
        double offV = 0.0;
        const bool onU = OnCurve(e.u, &offU);
        const bool onV = OnCurve(e.v, &offV);
        if (onU && onV) {
            Fault(plan, CsCutFaultKind::kEdgeOffCurve, mid,
                  Text("element %d: boundary edge %d-%d strays from the curve between its ends", ElemId(e.elem),
                       NodeId(e.u), NodeId(e.v)));
            continue;
        }
        const int off = onU ? e.v : e.u;
        const double dist = onU ? offV : offU;
        // Both boundary edges at a node off the curve say the same.
        if (std::find(reported.begin(), reported.end(), off) != reported.end()) continue;
        reported.push_back(off);
        if (dist <= Size(off)) {
            Fault(plan, CsCutFaultKind::kNodeOffCurve, NodeAt(off),
                  Text("element %d: node %d of the new boundary lies %.3g off the curve", ElemId(e.elem), NodeId(off),
                       dist));
        } else {
            Fault(plan, CsCutFaultKind::kOpenEdge, mid,
                  Text("element %d: edge %d-%d is open but lies neither on the blank's outline nor on the curve (a crack)",
                       ElemId(e.elem), NodeId(e.u), NodeId(e.v)));
        }
    }
}

void Inspection::CheckDuplicates(Plan& plan)
{
    const double tol = kSamePoint * h_;
    std::vector<std::pair<double, int>> order;
    for (const int n : rnodes_) order.emplace_back(NodeAt(n).x(), n);
    std::sort(order.begin(), order.end());
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i + 1; j < order.size() && order[j].first - order[i].first <= tol; ++j) {
            int a = order[i].second;
            int b = order[j].second;
            if (!Marked(a) && !Marked(b)) continue;
            if (NodeAt(a).DistTo(NodeAt(b)) > tol) continue;
            if (a <= n0_ && b <= n0_ &&
                snap_.points[static_cast<size_t>(a - 1)].DistTo(snap_.points[static_cast<size_t>(b - 1)]) <= tol)
                continue;
            // The copies a slit makes are both ends of its free edges; whether
            // the slit runs where the curve does is judged with those edges.
            if (lance_ && OnSlit(a) && OnSlit(b)) continue;
            if (a > b) std::swap(a, b);
            Fault(plan, CsCutFaultKind::kDuplicateNode, NodeAt(a),
                  Text("nodes %d and %d are distinct but lie at one point", NodeId(a), NodeId(b)));
            // Joining two nodes of a slit would close it.
            if (!lance_) plan.merges.emplace_back(b, a);
        }
    }
}

void Inspection::CheckConstraints(Plan& plan)
{
    const auto near = [this](int exid) { return Flagged(exid, kMarked); };
    const auto used = [this](int n) { return n >= 1 && n <= n1_ && (mark_[static_cast<size_t>(n)] & kUsed); };
    for (const CsCutConstraint& c : now_) {
        if (!near(c.node) && !near(c.lo) && !near(c.hi)) continue;
        const int d = dataManage.GetNdidFromExid(c.node);
        // A hanging node that is not written takes its constraint out of the file.
        if (!used(d)) continue;
        const int a = dataManage.GetNdidFromExid(c.lo);
        const int b = dataManage.GetNdidFromExid(c.hi);
        if (!used(a) || !used(b)) {
            Fault(plan, CsCutFaultKind::kConstraintNode, NodeAt(d),
                  Text("the constraint of hanging node %d names node %d, which is not written", c.node,
                       used(a) ? c.hi : c.lo));
            continue;
        }
        const gmPnt3D pa = NodeAt(a);
        const gmPnt3D pb = NodeAt(b);
        const double off = NodeAt(d).DistTo(pa + (pb - pa) * 0.5);
        if (off > kOnEdge * std::max(pa.DistTo(pb), h_)) {
            Fault(plan, CsCutFaultKind::kHangingOffEdge, NodeAt(d),
                  Text("hanging node %d lies %.3g off the middle of its edge %d-%d", c.node, off, c.lo, c.hi));
        }
        if (!Touched(a) && !Touched(b)) continue;
        int owners = 0;
        for (auto it = std::lower_bound(byNode_.begin(), byNode_.end(), std::make_pair(a, 0));
             it != byNode_.end() && it->first == a; ++it) {
            const std::vector<int> nd = NodesOf(it->second);
            const size_t k = static_cast<size_t>(std::find(nd.begin(), nd.end(), a) - nd.begin());
            if (nd[(k + 1) % nd.size()] == b || nd[(k + nd.size() - 1) % nd.size()] == b) ++owners;
        }
        if (owners != 1) {
            Fault(plan, CsCutFaultKind::kCoarseEdge, NodeAt(d),
                  Text("the coarse edge %d-%d of hanging node %d belongs to %d written elements, not one", c.lo, c.hi,
                       c.node, owners));
        }
    }
}

void Inspection::CheckCoverage(Plan& plan)
{
    // The free edges near what changed, in each curve space.
    std::vector<CsCutGrid> grids(tracks_.spaces.size(), CsCutGrid(h_));
    std::vector<std::vector<std::pair<gmPnt3D, gmPnt3D>>> segs(tracks_.spaces.size());
    // The input's outline there too, as each curve space sees it.
    std::vector<CsCutGrid> rims(tracks_.spaces.size(), CsCutGrid(h_));
    std::vector<std::vector<std::pair<gmPnt3D, gmPnt3D>>> rimSegs(tracks_.spaces.size());
    const auto boxOf = [](const gmPnt3D& a, const gmPnt3D& b) {
        return std::make_pair(gmPnt3D(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::min(a.z(), b.z())),
                              gmPnt3D(std::max(a.x(), b.x()), std::max(a.y(), b.y()), std::max(a.z(), b.z())));
    };
    for (size_t s = 0; s < tracks_.spaces.size(); ++s) {
        for (const auto& seg : outlineSegs_) {
            const gmPnt3D a = tracks_.spaces[s].To(seg.first);
            const gmPnt3D b = tracks_.spaces[s].To(seg.second);
            const auto box = boxOf(a, b);
            rims[s].Add(static_cast<int>(rimSegs[s].size()), box.first, box.second);
            rimSegs[s].emplace_back(a, b);
        }
        rims[s].Finish();
    }
    const auto onRim = [&](size_t sp, const gmPnt3D& q, double tol) {
        bool on = false;
        rims[sp].Visit(geCutShifted(q, -tol), geCutShifted(q, tol), [&](int k) {
            const auto& seg = rimSegs[sp][static_cast<size_t>(k)];
            on = on || geCutSegDist(q, seg.first, seg.second) <= tol;
        });
        return on;
    };
    for (size_t s = 0; s < tracks_.spaces.size(); ++s) {
        for (size_t k = 0; k < free_.size(); ++k) {
            const DirEdge& e = edges_[free_[k]];
            const gmPnt3D a = tracks_.spaces[s].To(NodeAt(e.u));
            const gmPnt3D b = tracks_.spaces[s].To(NodeAt(e.v));
            grids[s].Add(static_cast<int>(k), gmPnt3D(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::min(a.z(), b.z())),
                         gmPnt3D(std::max(a.x(), b.x()), std::max(a.y(), b.y()), std::max(a.z(), b.z())));
            segs[s].emplace_back(a, b);
        }
        grids[s].Finish();
    }
    size_t lastFailed = samples_.size();
    for (size_t i = 0; i < samples_.size(); ++i) {
        const CsCutSample& s = samples_[i];
        if (s.elem == 0) continue;
        // A stretch of a 3D curve running along the surface's normal stands over
        // one point of the surface, which the stretches on either side cut: it has
        // no sides of its own.
        if (s.along.Cross(s.normal).Length() < kSteepShare) continue;
        // A curve running along the blank's outline, within the cut's own
        // tolerance of it, is cut there by that outline: a trim needs no new
        // boundary, a slit has no second side to open.
        const size_t sp = tracks_.SpaceOf(s.curve);
        if (onRim(sp, s.foot, kCutOnCurve)) continue;
        const double r = kCutQuarter * s.size;
        const gmPnt3D q = s.foot;
        bool any = false;
        bool left = false;
        bool right = false;
        grids[sp].Visit(geCutShifted(q, -r), geCutShifted(q, r), [&](int k) {
            const auto& seg = segs[sp][static_cast<size_t>(k)];
            if (geCutSegDist(q, seg.first, seg.second) > r) return;
            any = true;
            if (!lance_) return;
            // The element lies left of its edge as it runs it; which way the
            // edge runs against the curve says which side that is. (Its centre
            // would mislead for a sliver between a chord and the curve.)
            const DirEdge& edge = edges_[free_[static_cast<size_t>(k)]];
            const Ring owner = RingOf(edge.elem);
            gmVec3D facing(0.0, 0.0, 0.0);
            const gmPnt3D o = tracks_.spaces[sp].To(NodeAt(owner.node[0]));
            for (int j = 1; j + 1 < owner.count; ++j) {
                facing += (tracks_.spaces[sp].To(NodeAt(owner.node[j])) - o).Cross(tracks_.spaces[sp].To(NodeAt(owner.node[j + 1])) - o);
            }
            const gmVec3D run = seg.second - seg.first;
            const double side = run.Dot(s.along) * facing.Dot(s.normal);
            if (side > 0.0) left = true;
            if (side < 0.0) right = true;
        });
        const bool failed = lance_ ? !(left && right) : !any;
        if (!failed) continue;
        const bool continues = lastFailed + 1 == i && samples_[lastFailed].curve == s.curve;
        lastFailed = i;
        if (continues) continue;
        const CsDataElem& now = dataManage.GetElem(s.elem);
        const CsCutSnapshot::Elem& was = snap_.elems[static_cast<size_t>(s.elem - 1)];
        bool same = Corners(now) == was.count && Written(now);
        for (int k = 0; same && k < was.count; ++k) same = now[k] == was.node[k];
        const std::string& id = tracks_.curves[s.curve].id;
        const std::string head = name_ + ", curve " + id + ": ";
        if (plan.faults.size() >= kMaxFaults) break;
        if (lance_) {
            plan.faults.push_back({CsCutFaultKind::kNoSlit,
                                   head + Text("the curve is not slit near (%.6g, %.6g, %.6g) over element %d: %s",
                                               s.at.x(), s.at.y(), s.at.z(), ElemId(s.elem),
                                               left || right ? "a free edge on one side only" : "no free edge on either side")});
            continue;
        }
        // A stretch removed whole by another curve of the operation needs no boundary.
        bool excused = false;
        for (size_t c = 0; c < tracks_.curves.size() && !excused; ++c) {
            if (c == s.curve || tracks_.curves[c].space != sp || !tracks_.spaces[sp].flat) continue;
            const CsCutNear n = tracks_.Nearest(sp, s.at, gmVec3D(0.0, 0.0, 0.0), kCutInf, static_cast<int>(c));
            if (n.curve < 0 || n.dist <= r) continue;
            const bool inside = tracks_.Inside(c, n, s.at);
            excused = tracks_.curves[c].flag > 0 ? inside : !inside;
        }
        // Seeds on both sides of a 3D curve keep both: nothing removed there, no boundary needed.
        if (!excused && !tracks_.spaces[sp].flat) excused = !RemovedNear(q, s.size);
        // Nor where nothing is kept on either side, as in an island a 3D trim's seed
        // does not reach: with no free edge near, a sample over removed material has
        // none kept within reach. (A chord cut short of the curve leaves a free edge
        // off the curve, which the closure check names.)
        if (!excused && !same) excused = !KeptAt(s);
        if (excused) continue;
        if (same) {
            plan.faults.push_back({CsCutFaultKind::kUncut,
                                   head + Text("the curve runs uncut through kept element %d near (%.6g, %.6g, %.6g)",
                                               ElemId(s.elem), s.at.x(), s.at.y(), s.at.z())});
        } else {
            plan.faults.push_back({CsCutFaultKind::kUncut,
                                   head + Text("the curve is not cut near (%.6g, %.6g, %.6g) over element %d: no boundary "
                                               "within a quarter of an element",
                                               s.at.x(), s.at.y(), s.at.z(), ElemId(s.elem))});
        }
    }
}

bool Inspection::RemovedNear(const gmPnt3D& p, double reach)
{
    if (!removedIndexed_) {
        removedGrid_ = CsCutGrid(h_);
        for (const int e : removed_) {
            gmPnt3D lo(kCutInf, kCutInf, kCutInf);
            gmPnt3D hi(-kCutInf, -kCutInf, -kCutInf);
            for (const int n : NodesOf(e)) {
                const gmPnt3D q = NodeAt(n);
                for (int d = 0; d < 3; ++d) {
                    lo[d] = std::min(lo[d], q[d]);
                    hi[d] = std::max(hi[d], q[d]);
                }
            }
            removedGrid_.Add(e, lo, hi);
        }
        removedGrid_.Finish();
        removedIndexed_ = true;
    }
    bool near = false;
    removedGrid_.Visit(geCutShifted(p, -reach), geCutShifted(p, reach), [&](int) { near = true; });
    return near;
}

bool Inspection::KeptAt(const CsCutSample& s)
{
    if (!piecesIndexed_) {
        for (const int e : changed_) pieces_.emplace_back(Source(e), e);
        std::sort(pieces_.begin(), pieces_.end());
        piecesIndexed_ = true;
    }
    const CsCutSpace& space = tracks_.spaces[tracks_.SpaceOf(s.curve)];
    const gmPnt3D q = space.flat ? s.at : s.foot;
    auto it = std::lower_bound(pieces_.begin(), pieces_.end(), std::make_pair(s.elem, 0));
    for (; it != pieces_.end() && it->first == s.elem; ++it) {
        const std::vector<int> nodes = NodesOf(it->second);
        std::vector<gmPnt3D> p;
        for (const int n : nodes) p.push_back(space.flat ? space.To(NodeAt(n)) : NodeAt(n));
        gmVec3D unit;
        double off = 0.0;
        for (size_t t = 1; t + 1 < p.size(); ++t)
            if (OverTriangle(p[0], p[t], p[t + 1], q, unit, off)) return true;
    }
    return false;
}

void Inspection::CheckSides(Plan& plan)
{
    for (const int n : rnodes_) {
        // A node on a curve, or farther than its element from them all, says
        // nothing of a side.
        double off = 0.0;
        if (OnCurve(n, &off) || !std::isfinite(off)) continue;
        const double size = Size(n);
        const gmPnt3D p = NodeAt(n);
        for (size_t c = 0; c < tracks_.curves.size(); ++c) {
            double dist = 0.0;
            if (!tracks_.Removes(c, p, size, dist) || dist <= kCutOnCurve) continue;
            const auto it = std::lower_bound(byNode_.begin(), byNode_.end(), std::make_pair(n, 0));
            if (plan.faults.size() >= kMaxFaults) return;
            plan.faults.push_back({CsCutFaultKind::kAcross,
                                   name_ + ", curve " + tracks_.curves[c].id +
                                       Text(": kept element %d reaches across the curve: its node %d lies %.3g inside "
                                            "the removed side",
                                            ElemId(it->second), NodeId(n), dist)});
            break;
        }
    }
}

// ------------------------------------------------------------ repairs

bool SoundPiece(const std::vector<int>& nodes, const gmVec3D& facing, double& worst)
{
    std::vector<gmPnt3D> p;
    for (const int n : nodes) p.push_back(NodeAt(n));
    const gmVec3D area = AreaVector(p);
    double perimeter = 0.0;
    for (size_t k = 0; k < p.size(); ++k) perimeter += p[k].DistTo(p[(k + 1) % p.size()]);
    if (!(area.Dot(facing) > 1e-10 * perimeter * perimeter * facing.Length())) return false;
    const gmVec3D unit = geCutUnit(area);
    worst = 1.0;
    for (size_t k = 0; k < p.size(); ++k) {
        const gmVec3D in = p[k] - p[(k + p.size() - 1) % p.size()];
        const gmVec3D out = p[(k + 1) % p.size()] - p[k];
        const double lengths = in.Length() * out.Length();
        const double sine = lengths > 0.0 ? in.Cross(out).Dot(unit) / lengths : 0.0;
        worst = std::min(worst, sine);
    }
    return worst > kFlatSine;
}

bool NamedByConstraint(int node)
{
    const int exid = NodeId(node);
    for (const CsCutConstraint& c : CurrentConstraints()) {
        if (c.lo == exid || c.hi == exid || c.node == exid) return true;
    }
    return false;
}

// The written elements on a node, from a pass over the whole model: joins
// are few.
std::vector<int> ElemsOn(int node)
{
    std::vector<int> out;
    const std::vector<CsDataElem>& elems = dataManage.GetElemArr();
    for (size_t i = 0; i < elems.size(); ++i) {
        const CsDataElem& el = elems[i];
        if (!Written(el)) continue;
        for (int k = 0; k < el.GetNodeNum(); ++k) {
            if (el[k] == node) {
                out.push_back(static_cast<int>(i) + 1);
                break;
            }
        }
    }
    return out;
}

std::string Merge(int drop, int keep)
{
    if (drop == keep || NamedByConstraint(drop) || NamedByConstraint(keep)) return std::string();
    const std::vector<int> users = ElemsOn(drop);
    if (users.empty()) return std::string();
    for (const int e : users) {
        if (dataManage.GetElem(e).GetNodeIdx(keep) >= 0) return std::string();
    }
    CsNdElemTpy& tpy = dataManage.GetTopology();
    for (const int e : users) {
        std::vector<int> nd = NodesOf(e);
        std::replace(nd.begin(), nd.end(), drop, keep);
        const CsDataElem& el = dataManage.GetElem(e);
        dataManage.SetElem(el.GetPrtid(), e, static_cast<int>(nd.size()), nd.data());
        if (!tpy.IsEmpty()) {
            tpy.RemoveNodeTpyElemt(drop, e);
            tpy.AddNodeTpyElemt(keep, e, 0);
        }
    }
    return Text("Mesh check: nodes %d and %d at one point joined into node %d", NodeId(keep), NodeId(drop), NodeId(keep));
}

std::string SplitAt(const Split& s)
{
    if (!dataManage.IsValidElem(s.elem) || !hashOper.GetHashElemMap()) return std::string();
    const CsDataElem& el = dataManage.GetElem(s.elem);
    if (!Written(el) || Corners(el) == 0) return std::string();
    const std::vector<int> nd = NodesOf(s.elem);
    const int n = static_cast<int>(nd.size());
    const int k = el.GetNodeIdx(s.a);
    if (k < 0 || nd[static_cast<size_t>((k + 1) % n)] != s.b || el.GetNodeIdx(s.node) >= 0) return std::string();
    // A coarse edge with its hanging node is not for this repair.
    const int ea = NodeId(s.a);
    const int eb = NodeId(s.b);
    for (const CsCutConstraint& c : CurrentConstraints()) {
        if (c.lo == std::min(ea, eb) && c.hi == std::max(ea, eb)) return std::string();
    }
    std::vector<gmPnt3D> p;
    for (const int x : nd) p.push_back(NodeAt(x));
    const gmVec3D facing = AreaVector(p);
    const auto at = [&](int i) { return nd[static_cast<size_t>((k + i) % n)]; };
    std::vector<std::pair<std::vector<int>, std::vector<int>>> options;
    if (n == 3) {
        options.push_back({{s.a, s.node, at(2)}, {s.node, s.b, at(2)}});
    } else {
        options.push_back({{s.a, s.node, at(2), at(3)}, {s.node, s.b, at(2)}});
        options.push_back({{s.a, s.node, at(3)}, {s.node, s.b, at(2), at(3)}});
    }
    double best = -1.0;
    size_t chosen = options.size();
    for (size_t o = 0; o < options.size(); ++o) {
        double w1 = 0.0;
        double w2 = 0.0;
        if (!SoundPiece(options[o].first, facing, w1) || !SoundPiece(options[o].second, facing, w2)) continue;
        if (std::min(w1, w2) > best) {
            best = std::min(w1, w2);
            chosen = o;
        }
    }
    if (chosen == options.size()) return std::string();
    const std::vector<int>& kept = options[chosen].first;
    const std::vector<int>& added = options[chosen].second;
    const int part = el.GetPrtid();
    const double thickness = el.GetThickness();
    const bool inner = el.IsInner();
    dataManage.SetElem(part, s.elem, static_cast<int>(kept.size()), kept.data());
    const int made = dataManage.AddElem(part, static_cast<int>(added.size()), added.data());
    dataManage.SetThickness(made, thickness);
    if (inner) dataManage.SetInner(made);
    // The new piece carries the records of the element it was cut from.
    CsElemMap map;
    map.SetSrcElem(s.elem);
    map.AddNewElem(made);
    hashOper.AddNewElemMap(map);
    CsNdElemTpy& tpy = dataManage.GetTopology();
    if (!tpy.IsEmpty()) {
        for (const int x : nd) {
            if (std::find(kept.begin(), kept.end(), x) == kept.end()) tpy.RemoveNodeTpyElemt(x, s.elem);
        }
        for (const int x : kept) tpy.AddNodeTpyElemt(x, s.elem, 0);
        for (const int x : added) tpy.AddNodeTpyElemt(x, made, 0);
    }
    return Text("Mesh check: element %d split at node %d, which lay on its edge %d-%d", ElemId(s.elem), NodeId(s.node),
                ea, eb);
}

}  // namespace

// ------------------------------------------------------------ the check

CsCutVerify::CsCutVerify(const std::vector<gmTrmLine*>& lines)
{
    for (gmTrmLine* line : lines) {
        if (!line) continue;
        if (name_.empty()) {
            name_ = std::string(dynamic_cast<const gmCut3DLine*>(line) ? "3D " : "2D ") +
                    (line->IsLancing() ? "lance" : "trim");
        }
        lines_.push_back(line);
    }
    if (name_.empty()) name_ = "cut";
}

CsCutVerify::~CsCutVerify() = default;

void CsCutVerify::Begin()
{
    auto snap = std::make_unique<CsCutSnapshot>();
    const std::vector<CsDataElem>& elems = dataManage.GetElemArr();
    snap->elems.resize(elems.size());
    for (size_t i = 0; i < elems.size(); ++i) {
        const CsDataElem& el = elems[i];
        CsCutSnapshot::Elem& s = snap->elems[i];
        const int count = Corners(el);
        s.count = static_cast<signed char>(count);
        for (int k = 0; k < 4; ++k) s.node[k] = k < count ? el.NodeList()[k] : 0;
        s.live = count > 0 && Written(el);
    }
    const std::vector<CsDataNode>& nodes = dataManage.GetNodeArr();
    snap->points.resize(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) snap->points[i] = nodes[i].GetPoint();
    snap->constraints = CurrentConstraints();
    snap_ = std::move(snap);
}

bool CsCutVerify::Check(Stage stage)
{
    faults_.clear();
    repairs_.clear();
    if (!snap_) return true;
    // The lines the operation walks: a trim skips straight lines, and a 3D
    // trim a line with a seed that names no node.
    std::vector<gmTrmLine*> used;
    bool lance = false;
    if (stage == kCut) {
        for (gmTrmLine* line : lines_) {
            lance = lance || line->IsLancing();
            if (!line->IsLancing() && line->IsStraight()) continue;
            if (const auto* solid = dynamic_cast<const gmCut3DLine*>(line); solid && !line->IsLancing()) {
                const std::vector<int> seeds = solid->Seeds();
                if (!std::all_of(seeds.begin(), seeds.end(),
                                 [](int s) { return dataManage.IsValidNode(dataManage.GetNdidFromExid(s)); }))
                    continue;
            }
            used.push_back(line);
        }
    }
    const double size = TypicalSize(*snap_);
    const CsCutTracks tracks(used, size);
    const std::string name = stage == kRefinement ? std::string("adaptive refinement") : name_;
    for (int round = 1;; ++round) {
        Plan plan;
        Inspection(*snap_, tracks, name, stage == kCut && lance, size).Run(plan);
        if (plan.faults.empty()) return true;
        bool repaired = false;
        if (round < kRounds) {
            std::vector<std::pair<int, int>> merges = plan.merges;
            std::sort(merges.begin(), merges.end());
            merges.erase(std::unique(merges.begin(), merges.end()), merges.end());
            // Each join looks at every element: a mesh with more than a few
            // such pairs is not one a repair should mend.
            if (merges.size() > kMaxJoins) merges.clear();
            for (const auto& [drop, keep] : merges) {
                const std::string done = Merge(drop, keep);
                if (done.empty()) continue;
                repairs_.push_back(done);
                ShowLine(done);
                repaired = true;
            }
            for (const Split& s : plan.splits) {
                const std::string done = SplitAt(s);
                if (done.empty()) continue;
                repairs_.push_back(done);
                ShowLine(done);
                repaired = true;
            }
        }
        if (!repaired) {
            faults_ = plan.faults;
            Show(stage);
            return false;
        }
    }
}

void CsCutVerify::Show(Stage stage) const
{
    const std::string name = stage == kRefinement ? std::string("adaptive refinement") : name_;
    ShowLine(Text("The mesh the %s made fails its check (%d fault%s); nothing is written", name.c_str(),
                  static_cast<int>(faults_.size()), faults_.size() == 1 ? "" : "s"));
    for (size_t i = 0; i < faults_.size() && i < kShown; ++i) ShowLine(kCsCutRefusalHead + faults_[i].text);
}
