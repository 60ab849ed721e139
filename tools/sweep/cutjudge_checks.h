// The judge's checks of the cut against its curves: that the cut covers the
// curve, that the outline stays, the kept area, what lies away from the
// curves, and the slit of a lance. Part of the Judge of cutjudge.h.
#ifndef SWEEP_CUTJUDGE_CHECKS_H
#define SWEEP_CUTJUDGE_CHECKS_H

#include "cutjudge.h"

namespace cutjudge {

// ---------------------------------------------------------- the cut covers the curve

// The side of the curve the owner of a new free edge lies on, seen along
// the curve where it passes the edge: +1 left, -1 right.
inline int Judge::SideOf(size_t fresh) const
{
    const auto& seg = fresh_[fresh];
    const P2 m{0.5 * (seg[0][0] + seg[1][0]), 0.5 * (seg[0][1] + seg[1][1])};
    double best = 1e300;
    P2 dir{0, 0};
    for (const PlanCurve& c : curves_) {
        for (size_t i = 0; i + 1 < c.points.size(); ++i) {
            const double d = trimcheck::SegDist(m, c.points[i], c.points[i + 1]);
            if (d < best)
                best = d,
                dir = {c.points[i + 1][0] - c.points[i][0], c.points[i + 1][1] - c.points[i][1]};
        }
    }
    // The owner lies left of its edge when it turns counterclockwise: the
    // edge's run along the curve says the side, which a sliver's centre,
    // next to the curve itself, cannot.
    // A piece of a steep element may turn over in plan while facing its
    // parent in space: its parent's turn is the one that counts.
    const size_t owner = static_cast<size_t>(freshOwner_[fresh]);
    const double along = dir[0] * (seg[1][0] - seg[0][0]) + dir[1] * (seg[1][1] - seg[0][1]);
    const double turn = owner < turn_.size() && turn_[owner] != 0.0
                            ? turn_[owner]
                            : trimcheck::SignedArea(trimcheck::PolyOf(out_, out_.shells[owner]));
    return (along > 0) == (turn > 0) ? 1 : -1;
}

inline void Judge::CheckCoverage()
{
    std::vector<int> sides;
    if (lance_)
        for (size_t i = 0; i < fresh_.size(); ++i) sides.push_back(SideOf(i));
    for (size_t k = 0; k < curves_.size(); ++k) {
        const PlanCurve& c = curves_[k];
        int missing = 0;
        double worst = 0.0;
        P2 worstAt{0, 0};
        std::string worstSide;
        for (size_t i = 0; i + 1 < c.points.size(); ++i) {
            const P2 a = c.points[i], b = c.points[i + 1];
            const double len = Dist(a, b);
            const int steps = std::max(1, static_cast<int>(std::ceil(len / (0.1 * h_))));
            const P2 normal{-(b[1] - a[1]) / len, (b[0] - a[0]) / len};
            for (int s = 0; s <= steps; ++s) {
                if (s == steps && i + 2 < c.points.size()) continue;
                const double t = static_cast<double>(s) / steps;
                const P2 p{a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])};
                // Where the curve runs within the snapping width of the
                // outline, the outline is the cut: a node there counts as
                // on the curve, and a strip that thin is no material.
                const double snap = kOnCurve + 1e-3 * h_;
                if (!mesh_.OnBlank(p) || mesh_.outline().Nearest(p, snap) < snap) continue;
                const double eps = 1e-3 * h_;
                if (!lance_ && Kept({p[0] + eps * normal[0], p[1] + eps * normal[1]}) ==
                                   Kept({p[0] - eps * normal[0], p[1] - eps * normal[1]}))
                    continue;
                const double reach = 0.25 * mesh_.SizeAt(p);
                double gap = 0.0;
                std::string side;
                if (!lance_) {
                    gap = fresh_.Nearest(p, 10 * reach);
                } else {
                    double left = 10 * reach, right = 10 * reach;
                    for (const int f : fresh_.Near(p, 10 * reach)) {
                        const double d = trimcheck::SegDist(p, fresh_[static_cast<size_t>(f)][0],
                                                            fresh_[static_cast<size_t>(f)][1]);
                        (sides[static_cast<size_t>(f)] > 0 ? left : right) =
                            std::min(sides[static_cast<size_t>(f)] > 0 ? left : right, d);
                    }
                    gap = std::max(left, right);
                    side = left > right ? " on its left side" : " on its right side";
                }
                if (gap > reach) {
                    ++missing;
                    if (gap - reach > worst) worst = gap - reach, worstAt = p, worstSide = side;
                }
            }
        }
        if (missing > 0) {
            Fault("coverage",
                  "curve " + std::to_string(k + 1) + ": " + std::to_string(missing) +
                      " points over the blank lie farther than a quarter element from a new free edge" +
                      ", the worst " + At(worstAt) + worstSide + ", " +
                      Fixed(worst + 0.25 * mesh_.SizeAt(worstAt)) + " from one");
        }
    }
}

// ---------------------------------------------------------- the outline stays

inline void Judge::CheckOutline()
{
    std::vector<std::array<P2, 2>> open;
    for (const auto& [from, to] : openFrom_) open.push_back({PlanNode(from), PlanNode(to)});
    const Segments free(open, h_);
    const Segments& outline = mesh_.outline();
    int lost = 0;
    P2 first{0, 0};
    for (size_t i = 0; i < outline.size(); ++i) {
        for (int s = 0; s < 8; ++s) {
            const double t = (s + 0.5) / 8;
            const P2 p{outline[i][0][0] + t * (outline[i][1][0] - outline[i][0][0]),
                       outline[i][0][1] + t * (outline[i][1][1] - outline[i][0][1])};
            if (!Kept(p) || OffCurve(p) <= kOnCurve + 1e-3 * h_ || CornerReach(p) > 0.0) continue;
            if (free.Nearest(p, 1e-5 * h_) < 1e-5 * h_) continue;
            if (lost++ == 0) first = p;
        }
    }
    if (lost > 0)
        Fault("outline", "the kept part's outline leaves the input's outline: " + std::to_string(lost) +
                             " points of it are lost, the first at " + At(first));
}

// ---------------------------------------------------------- area

inline void Judge::CheckArea()
{
    double whole = 0.0;
    for (size_t e = 0; e < mesh_.size(); ++e) whole += std::fabs(mesh_.area(e));
    if (lance_) {
        if (std::fabs(keptArea_ - whole) > 1e-6 * whole)
            Fault("lance-area",
                  "the lanced blank has area " + Fixed(keptArea_) + ", the input " + Fixed(whole));
        std::set<int> ids;
        for (const Shell& s : out_.shells) ids.insert(s.id);
        for (const Shell& s : in_.shells)
            if (!ids.count(s.id)) Fault("lance-area", "lancing removed element " + std::to_string(s.id));
        return;
    }
    const double exact = reached_.empty() ? trimcheck::ExactKeptArea(in_, region_) : seedKeptArea_;
    const double tolerance = trimcheck::ChordTolerance(in_, region_, h_) + 1e-6 * whole + seedAreaSlack_;
    if (std::fabs(keptArea_ - exact) > tolerance)
        Fault("area", "kept area " + Fixed(keptArea_) + ", exactly " + Fixed(exact) + ": off by " +
                          Fixed(keptArea_ - exact) + ", allowed " + Fixed(tolerance));
}

// ---------------------------------------------------------- away from the curves

inline void Judge::CheckUntouched()
{
    for (size_t e = 0; e < mesh_.size(); ++e) {
        const Shell& s = mesh_.shell(e);
        double near = 1e300;
        for (const P2& v : mesh_.poly(e)) near = std::min(near, OffCurve(v));
        if (near < 2.5 * mesh_.longest(e)) continue;
        const bool kept = Kept(trimcheck::Centroid(mesh_.poly(e)));
        const auto found = ids_.find(s.id);
        if ((found != ids_.end()) != kept) {
            Fault("far-changed", "element " + std::to_string(s.id) + " at " +
                                     At(trimcheck::Centroid(mesh_.poly(e))) +
                                     ", far from the curves, was " + (kept ? "removed" : "kept"));
            continue;
        }
        if (!kept) continue;
        if (found->second->nodes != s.nodes)
            Fault("far-changed",
                  "element " + std::to_string(s.id) + ", far from the curves, changed its nodes");
        for (const int n : s.nodes)
            if (HasNode(n) && !SamePoint(Node(n), in_.nodes.at(n)))
                Fault("far-changed",
                      "node " + std::to_string(n) + ", far from the curves, moved to " + At(Node(n)));
    }
}

// ---------------------------------------------------------- the slit

// A slit node at a sharp tip of the curve that one side's outline passes
// once, its two free edges ending on copies of one node: the wedge inside
// the tip, too thin there for an element, went to the other side. Only
// where that wedge is narrower than two snapping widths at the copies.
inline bool Judge::ThinTip(int n) const
{
    if (openFrom_.count(n) != 1 || openTo_.count(n) != 1) return false;
    const P3 q = Node(openFrom_.find(n)->second), r = Node(openTo_.find(n)->second);
    if (!SamePoint(q, r)) return false;
    const P2 tip = PlanNode(n);
    for (const PlanCurve& c : curves_) {
        const size_t m = c.points.size();
        for (size_t k = 0; k < m; ++k) {
            if (Dist(c.points[k], tip) > 1e-3 * h_) continue;
            if (!c.closed && (k == 0 || k + 1 == m)) return false;
            const P2& before = c.points[k == 0 ? m - 2 : k - 1];
            const P2& after = c.points[k + 1 == m ? 1 : k + 1];
            const double a = std::atan2(before[1] - tip[1], before[0] - tip[0]);
            const double b = std::atan2(after[1] - tip[1], after[0] - tip[0]);
            double angle = std::fabs(a - b);
            if (angle > M_PI) angle = 2 * M_PI - angle;
            return 2.0 * Dist(tip, Plan(q)) * std::tan(0.5 * angle) <= 2.0 * kOnCurve;
        }
    }
    return false;
}

inline void Judge::CheckSlit()
{
    std::set<int> slitNodes;
    for (const auto& ends : freshEnds_) slitNodes.insert(ends.begin(), ends.end());
    std::set<int> innerEnds;
    for (const Curve& card : job_.curves) {
        const PlanCurve c = PlanOf(card);
        if (c.closed) continue;
        for (const P3& end3 : {card.points.front(), card.points.back()}) {
            const P2 end = Plan(end3);
            if (!mesh_.OnBlank(end) || mesh_.outline().Nearest(end, 1e-3 * h_) < 1e-3 * h_) continue;
            int nearest = 0;
            double best = 1e300;
            for (const int n : slitNodes) {
                const double d = Apart(Node(n), end3);
                if (d < best) best = d, nearest = n;
            }
            const double size = mesh_.SizeAt(end);
            const bool onEdge = mesh_.edges().Nearest(end, 1e-3 * h_) < 1e-3 * h_;
            if (!nearest || best > 0.1 * size) {
                Fault("slit-end",
                      "the slit stops " + Fixed(best) + " short of the line's inner end " + At(end));
                continue;
            }
            if (onEdge && best > kOnCurve)
                Fault("slit-end", "the line's inner end " + At(end) +
                                      " lies on an element edge but has no node there (nearest " +
                                      Fixed(best) + ")");
            innerEnds.insert(nearest);
            if (twin_.count(nearest))
                Fault("slit-end-doubled", "the slit's inner end node " + std::to_string(nearest) +
                                              " at " + At(Node(nearest)) +
                                              " is doubled: the slit opens past its end");
        }
    }
    int single = 0;
    int firstSingle = 0;
    for (const int n : slitNodes) {
        if (innerEnds.count(n) || twin_.count(n)) continue;
        if (ThinTip(n)) continue;
        if (single++ == 0) firstSingle = n;
    }
    if (single > 0)
        Fault("slit-not-doubled", std::to_string(single) +
                                      " nodes along the slit are not doubled, the first " +
                                      std::to_string(firstSingle) + " at " + At(Node(firstSingle)));
}

}  // namespace cutjudge

#endif
