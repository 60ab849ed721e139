// The check after every operation: a copy of the model taken when the
// operation begins, a difference taken when it ends, and the checks run over
// the difference and its neighbours only. The geometry here is its own: the
// cutters' tables and plane tests are not consulted, so that a fault in them
// cannot hide itself.
#include "qdstrimalgo_verify_survey.h"


#include "qdsdatabase.h"
#include "qdsmessage.h"
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

namespace cssurvey {

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

// ------------------------------------------------------------ survey

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


void Survey::Run(Plan& plan)
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
        if (lance_) CheckSlitEnds(plan);
    }
}

void Survey::Fault(Plan& plan, CsCutFaultKind kind, const gmPnt3D& where, const std::string& text) const
{
    if (plan.faults.size() >= kMaxFaults) return;
    std::string head = name_;
    int curve = -1;
    if (!tracks_.Empty()) tracks_.Distance(where, gmVec3D(0.0, 0.0, 0.0), kCutInf, &curve);
    if (curve >= 0) head += ", curve " + tracks_.curves[static_cast<size_t>(curve)].id;
    plan.faults.push_back({kind, head + ": " + text});
}

// ---- the difference

void Survey::Diff()
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

void Survey::Locate(int elem)
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

void Survey::MarkConstraints()
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

bool Survey::Flagged(int exid, unsigned char flags) const
{
    if (byExid_.empty()) {
        const int n = dataManage.GetNdidFromExid(exid);
        return n >= 1 && n <= n1_ && (mark_[static_cast<size_t>(n)] & flags);
    }
    return exid >= 0 && static_cast<size_t>(exid) < byExid_.size() && (byExid_[static_cast<size_t>(exid)] & flags);
}

void Survey::Gather()
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

int Survey::Hanging(int a, int b, const std::vector<CsCutConstraint>& list, bool written) const
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

void Survey::Expand(int a, int b, int elem, bool real, int depth)
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

size_t Survey::Local(int node) const
{
    const auto it = std::lower_bound(rnodes_.begin(), rnodes_.end(), node);
    return it != rnodes_.end() && *it == node ? static_cast<size_t>(it - rnodes_.begin()) : rnodes_.size();
}

void Survey::Local()
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

void Survey::Outline()
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


}  // namespace cssurvey

using namespace cssurvey;

namespace {

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
        Survey(*snap_, tracks, name, stage == kCut && lance, size).Run(plan);
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
