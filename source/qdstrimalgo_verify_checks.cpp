// The judging half of the mesh check: closure, duplicates, sound elements,
// constraints, and the curve covered by the cut, over what the operation
// changed and its neighbours.
#include "qdstrimalgo_verify_survey.h"

#include "qdsmessage.h"
#include "qdstrimbase.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace cssurvey {

bool Survey::OnOutline(const gmPnt3D& p, double tol) const
{
    bool on = false;
    outline_.Visit(geCutShifted(p, -tol), geCutShifted(p, tol), [&](int i) {
        const auto& seg = outlineSegs_[static_cast<size_t>(i)];
        on = on || geCutSegDist(p, seg.first, seg.second) <= tol;
    });
    return on;
}

bool Survey::OnCurve(int node, double* off) const
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

bool Survey::ByCorner(const gmPnt3D& p, const gmVec3D& normal, double size) const
{
    bool by = false;
    tracks_.VisitCorners(p, normal, kCutQuarter * std::max(size, cornerSize_), [&](size_t k, double dist) {
        const CsCutSample& at = samples_[tracks_.corners[k].sample];
        by = by || dist <= kCutQuarter * std::max(size, at.size);
    });
    return by;
}

// Both ends on a curve and the edge following it to within a quarter of an element.
bool Survey::CutEdge(int u, int v, int elem) const
{
    if (!OnCurve(u, nullptr) || !OnCurve(v, nullptr)) return false;
    const gmPnt3D mid = NodeAt(u) + (NodeAt(v) - NodeAt(u)) * 0.5;
    const double reach = std::max(kCutOnCurve, kCutQuarter * std::max(Size(u), Size(v)));
    return tracks_.Distance(mid, geCutUnit(AreaOf(RingOf(elem))), reach) <= reach;
}

// A node left at the middle of a coarse edge whose coarse element went: the
// two halves on either side of it are one chord of the cut.
bool Survey::HalfOfChord(size_t edge) const
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

bool Survey::OnSlit(int node) const
{
    const auto has = [node](const std::vector<std::pair<int, size_t>>& list) {
        const auto it = std::lower_bound(list.begin(), list.end(), std::make_pair(node, size_t{0}));
        return it != list.end() && it->first == node;
    };
    return has(freeFrom_) || has(freeTo_);
}

// ---- the checks

int Survey::Source(int elem) const
{
    int from = elem;
    const CsHash<CsHashOpr::ElemPair>* pairs = hashOper.GetHashElemPair();
    for (int step = 0; from > e0_ && pairs && step < 64; ++step) {
        const CsItem<CsHashOpr::ElemPair>* item = pairs->Find(from);
        from = item ? item->GetData().second : 0;
    }
    return from >= 1 && from <= e0_ && snap_.elems[static_cast<size_t>(from - 1)].count > 0 ? from : 0;
}

std::vector<gmPnt3D> Survey::ParentPoints(int elem) const
{
    std::vector<gmPnt3D> p;
    const int from = Source(elem);
    if (from == 0) return p;
    const CsCutSnapshot::Elem& s = snap_.elems[static_cast<size_t>(from - 1)];
    for (int k = 0; k < s.count; ++k) p.push_back(snap_.points[static_cast<size_t>(s.node[k] - 1)]);
    return p;
}

gmVec3D Survey::ParentFacing(int elem) const
{
    const std::vector<gmPnt3D> p = ParentPoints(elem);
    return p.size() >= 3 ? AreaVector(p) : gmVec3D(0.0, 0.0, 0.0);
}

bool Survey::TurnedInView(int elem, const std::vector<gmPnt3D>& points) const
{
    // A 2D cut splits what its vector sees: a piece turned over in that view is
    // folded there, however its corners stand in space. Where the parent stands
    // nearly edge-on to the vector the view says nothing.
    const std::vector<gmPnt3D> parent = ParentPoints(elem);
    if (parent.size() < 3) return false;
    const double whole = AreaVector(parent).Length();
    for (const CsCutSpace& space : tracks_.spaces) {
        if (!space.flat) continue;
        std::vector<gmPnt3D> was, now;
        for (const gmPnt3D& q : parent) was.push_back(space.To(q));
        for (const gmPnt3D& q : points) now.push_back(space.To(q));
        const double seenWas = AreaVector(was).z();
        if (std::fabs(seenWas) < kSeenShare * whole) continue;
        if (AreaVector(now).z() * seenWas <= 0.0) return true;
    }
    return false;
}

std::vector<gmPnt3D> Survey::PointsOf(int elem) const
{
    std::vector<gmPnt3D> p;
    for (const int n : NodesOf(elem)) p.push_back(NodeAt(n));
    return p;
}

void Survey::CheckElements(Plan& plan)
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
        double longest = 0.0;
        for (int k = 0; k < count; ++k) {
            const double edge = p[static_cast<size_t>(k)].DistTo(p[static_cast<size_t>((k + 1) % count)]);
            perimeter += edge;
            longest = std::max(longest, edge);
        }
        if (!(area.Length() > 1e-10 * perimeter * perimeter)) {
            Fault(plan, CsCutFaultKind::kBadElement, at, Text("element %d has no area", ElemId(e)));
            continue;
        }
        // A sliver a cut made would set the next stage's time step by its width.
        if (0.5 * area.Length() < kFlatShare * longest * longest) {
            Fault(plan, CsCutFaultKind::kBadElement, at,
                  Text("element %d is a sliver: area %.3g against its longest edge %.3g", ElemId(e), 0.5 * area.Length(), longest));
            continue;
        }
        const gmVec3D parent = ParentFacing(e);
        if (parent.SqrLen() > 0.0 && area.Dot(parent) <= 0.0) {
            Fault(plan, CsCutFaultKind::kFlipped, at, Text("element %d faces away from the element it was cut from", ElemId(e)));
            continue;
        }
        if (TurnedInView(e, p)) {
            Fault(plan, CsCutFaultKind::kFlipped, at,
                  Text("element %d, seen along the cut's vector, lies turned over against the element it was cut from",
                       ElemId(e)));
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

void Survey::CheckEdges(Plan& plan)
{
    for (size_t i = 0; i < edges_.size();) {
        size_t j = i + 1;
        while (j < edges_.size() && edges_[j].u == edges_[i].u && edges_[j].v == edges_[i].v) ++j;
        if (j - i > 1 && (Marked(edges_[i].u) || Marked(edges_[i].v))) {
            Fault(plan, CsCutFaultKind::kFoldedEdge, NodeAt(edges_[i].u),
                  Text("elements %d and %d both run along edge %d-%d the same way: the mesh folds there",
                       ElemId(edges_[i].elem), ElemId(edges_[i + 1].elem), NodeId(edges_[i].u), NodeId(edges_[i].v)));
        }
        // Two pieces of one element do not fold back over each other: a piece
        // folded over its neighbour across a shared edge may still face like a
        // warped parent. (They may crease: pieces on the bilinear surface of a
        // strongly warped element, one of them a sliver beside a chord that
        // floats over that surface, can turn by a right angle.)
        const DirEdge back{edges_[i].v, edges_[i].u, std::numeric_limits<int>::min(), false};
        const auto it = std::lower_bound(edges_.begin(), edges_.end(), back);
        if (j - i == 1 && edges_[i].real && it != edges_.end() && it->u == back.u && it->v == back.v && it->real &&
            edges_[i].elem < it->elem && Source(edges_[i].elem) != 0 && Source(edges_[i].elem) == Source(it->elem)) {
            const gmVec3D a = AreaVector(PointsOf(edges_[i].elem)), b = AreaVector(PointsOf(it->elem));
            if (a.Dot(b) <= -kFoldCosine * a.Length() * b.Length()) {
                Fault(plan, CsCutFaultKind::kFlipped, NodeAt(edges_[i].u),
                      Text("elements %d and %d, cut from one element, fold over each other along edge %d-%d",
                           ElemId(edges_[i].elem), ElemId(it->elem), NodeId(edges_[i].u), NodeId(edges_[i].v)));
            }
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

void Survey::CheckDuplicates(Plan& plan)
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

void Survey::CheckConstraints(Plan& plan)
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

void Survey::CheckCoverage(Plan& plan)
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
        const CsDataElem& now = dataManage.GetElem(s.elem);
        const CsCutSnapshot::Elem& was = snap_.elems[static_cast<size_t>(s.elem - 1)];
        bool same = Corners(now) == was.count && Written(now);
        for (int k = 0; same && k < was.count; ++k) same = now[k] == was.node[k];
        const std::string& id = tracks_.curves[s.curve].id;
        const std::string head = name_ + ", curve " + id + ": ";
        if (plan.faults.size() >= kMaxFaults) break;
        // One fault for each stretch of faulty samples. Excused samples do not
        // start one: an excuse at one end of a stretch does not cover the rest.
        const auto report = [&] {
            const bool continues = lastFailed + 1 == i && samples_[lastFailed].curve == s.curve;
            lastFailed = i;
            return !continues;
        };
        if (lance_) {
            if (!report()) continue;
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
        // Seeds on both sides of a 3D curve keep both: nothing removed there, no
        // boundary needed. The curve must still run along edges there: through an
        // element's inside it was never cut, and a seed's fill leaking through
        // that gap removes nothing too.
        if (!excused && !tracks_.spaces[sp].flat) excused = !RemovedNear(q, r) && OnAnEdge(s, same, r);
        // Nor where nothing is kept on either side, as in an island a 3D trim's seed
        // does not reach: with no free edge near, a sample over removed material has
        // none kept within reach. (A chord cut short of the curve leaves a free edge
        // off the curve, which the closure check names.)
        if (!excused && !same) excused = !KeptAt(s);
        if (excused || !report()) continue;
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

bool Survey::RemovedNear(const gmPnt3D& p, double reach)
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

std::vector<int> Survey::PiecesOf(int elem)
{
    if (!piecesIndexed_) {
        for (const int e : changed_) pieces_.emplace_back(Source(e), e);
        std::sort(pieces_.begin(), pieces_.end());
        piecesIndexed_ = true;
    }
    std::vector<int> out;
    for (auto it = std::lower_bound(pieces_.begin(), pieces_.end(), std::make_pair(elem, 0));
         it != pieces_.end() && it->first == elem; ++it) {
        out.push_back(it->second);
    }
    return out;
}

bool Survey::OnAnEdge(const CsCutSample& s, bool same, double reach)
{
    const CsCutSpace& space = tracks_.spaces[tracks_.SpaceOf(s.curve)];
    const gmPnt3D q = space.flat ? s.at : s.foot;
    const std::vector<int> rings = same ? std::vector<int>{s.elem} : PiecesOf(s.elem);
    for (const int e : rings) {
        const std::vector<int> nodes = NodesOf(e);
        for (size_t k = 0; k < nodes.size(); ++k) {
            const gmPnt3D a = NodeAt(nodes[k]);
            const gmPnt3D b = NodeAt(nodes[(k + 1) % nodes.size()]);
            if (geCutSegDist(q, space.flat ? space.To(a) : a, space.flat ? space.To(b) : b) <= reach) return true;
        }
    }
    return false;
}

bool Survey::KeptAt(const CsCutSample& s)
{
    const CsCutSpace& space = tracks_.spaces[tracks_.SpaceOf(s.curve)];
    const gmPnt3D q = space.flat ? s.at : s.foot;
    for (const int piece : PiecesOf(s.elem)) {
        const std::vector<int> nodes = NodesOf(piece);
        std::vector<gmPnt3D> p;
        for (const int n : nodes) p.push_back(space.flat ? space.To(NodeAt(n)) : NodeAt(n));
        gmVec3D unit;
        double off = 0.0;
        for (size_t t = 1; t + 1 < p.size(); ++t)
            if (OverTriangle(p[0], p[t], p[t + 1], q, unit, off)) return true;
    }
    return false;
}

void Survey::CheckSides(Plan& plan)
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

void Survey::CheckSlitEnds(Plan& plan)
{
    // Where the outline of what is written turns back on itself, from one copy
    // of a node to the other, a slit ends. It may end only at an end of an open
    // lancing curve: anywhere else the slit is shut, however open it stands on
    // either side (as where a closed curve's corner broke it in two).
    std::map<int, int> next;  // the free edge leaving a node, -1 where several do
    for (const size_t f : free_) {
        const auto [it, fresh] = next.emplace(edges_[f].u, edges_[f].v);
        if (!fresh) it->second = -1;
    }
    for (const size_t f : free_) {
        const int a = edges_[f].u, n = edges_[f].v;
        const auto out = next.find(n);
        if (out == next.end() || out->second < 0 || out->second == a || !Marked(n)) continue;
        const double size = Size(n);
        if (NodeAt(a).DistTo(NodeAt(out->second)) > 1e-9 * size) continue;
        if (OnOutline(NodeAt(n), kCutOnCurve)) continue;
        bool atEnd = false;
        const double reach = std::max(kCutOnCurve, kCutQuarter * size);
        for (const CsCutCurve& c : tracks_.curves) {
            if (c.flag != 0 || c.pts.size() < 2) continue;
            const gmPnt3D p = tracks_.spaces[c.space].To(NodeAt(n));
            if (!c.closed) atEnd = atEnd || p.DistTo(c.pts.front()) <= reach || p.DistTo(c.pts.back()) <= reach;
            // Nor can a slit open at a sharp vertex of the curve where its sides,
            // as far out as the slit's last edge, stand no wider apart than a
            // node may stand off the curve on each side.
            const gmPnt3D q = tracks_.spaces[c.space].To(NodeAt(a));
            const size_t m = c.pts.size();
            for (size_t v = 0; v < m && !atEnd; ++v) {
                if ((c.closed && v + 1 == m) || p.DistTo(c.pts[v]) > 1e-3 * size) continue;
                if (!c.closed && (v == 0 || v + 1 == m)) continue;
                const gmVec3D u = geCutUnit(c.pts[v == 0 ? m - 2 : v - 1] - c.pts[v]);
                const gmVec3D w = geCutUnit(c.pts[v + 1] - c.pts[v]);
                const double half = 0.5 * std::acos(std::clamp(u.Dot(w), -1.0, 1.0));
                atEnd = 2.0 * p.DistTo(q) * std::tan(half) <= 2.0 * kCutOnCurve;
            }
        }
        if (atEnd) continue;
        Fault(plan, CsCutFaultKind::kNoSlit, NodeAt(n),
              Text("the slit is shut at node %d, away from the ends of the curve", NodeId(n)));
    }
}

// ------------------------------------------------------------ repairs


}  // namespace cssurvey
