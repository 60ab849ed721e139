// The judge of a cut: reads any output dynain against its input and the
// curves of the job, on any mesh (no grid is assumed), and says what is wrong
// where. It returns findings instead of failing a test, so that a sweep can
// count wrong configurations and still run the rest.
//
// It shares nothing with the program's geometry: the parser and the plane
// geometry are those of dynain.h. Regions and areas are judged in
// the view along z: 2D trims and lances in the sweeps project along z, and
// the blanks they cut (graphs over the x-y plane) show every element unfolded
// in that view, so a 3D curve lying on such a blank cuts there what its plan
// view cuts in the plane. Where a 3D cut meets a steep, warped element the
// plan view misleads, so a node's place on the curve is also measured across
// the normals of the elements under it, and a piece is seen along its
// parent's normal.
#ifndef SWEEP_CUTJUDGE_H
#define SWEEP_CUTJUDGE_H

#include "cutjudge_plan.h"

namespace cutjudge {

// ------------------------------------------------------------ the judge

// The rules, by the names the findings carry:
//   ids               element ids unique, new ids above the input's; every node written and used
//   hanging           a constraint names written nodes, its node sits at the middle of its
//                     coarse edge, one element has that edge and some element a half of it
//   edge-twice        no edge is used twice the same way
//   open-edge         an edge used once lies on the input's outline or on the cut: its ends on a
//                     curve, its middle within the curve's sag over a chord that long (a slit:
//                     every point within a tenth of an element)
//   coincident        no two nodes at one point, but the sides of a slit on the curve
//   clamp             a slit's copy of a node with a boundary constraint has the same constraint
//   parent, records, flipped, flat, concave
//                     every piece lies by an input element with its part, thickness and records,
//                     faces like it, is not flat and, a quadrilateral, strictly convex
//   removed-piece     no piece lies in the removed region, half an element clear of the curve
//   node-off-curve    new and moved nodes, and every node of the new boundary, lie on a curve
//                     (0.02) or stand for one of its sharp corners (within a quarter element of
//                     it; a slit's within a tenth)
//   node-off-surface  new and moved nodes lie on the input's surface (a fiftieth of an element)
//   coverage          every point of a curve over the blank where the kept region ends lies within
//                     a quarter element of a new free edge; along a slit, on both sides
//   outline           the input's outline stays wherever the kept region meets it off the curve
//   area, lance-area  the kept area is the exact clip of the input within the chord allowance;
//                     a lance removes nothing
//   far-changed       elements 2.5 elements clear of every curve are kept or removed whole
//   slit-end          a slit reaches within a tenth of an element of its line's inner end, with a
//                     node at the end where the end lies on an element edge
//   slit-end-doubled  the inner end's node is shared by both sides
//   slit-not-doubled  every other node along a slit has its copy
class Judge {
public:
    Judge(const Dynain& in, const Dynain& out, const Job& job) : in_(in), out_(out), job_(job), mesh_(in)
    {
        h_ = mesh_.h();
        lance_ = IsLance(job.op());
        SetUpCurves();
        SetUpSeedReach();
        if (out.shells.empty()) {
            Fault("empty", "the output has no element");
            return;
        }
        SetUpOutput();
        CheckIds();
        CheckConstraints();
        CheckEdges();
        CheckCoincidentNodes();
        CheckElements();
        CheckNodes();
        CheckCoverage();
        CheckOutline();
        CheckArea();
        CheckUntouched();
        if (lance_) CheckSlit();
    }

    const std::vector<std::string>& faults() const { return faults_; }
    // The rules broken, by their short names.
    const std::set<std::string>& rules() const { return rules_; }
    bool ok() const { return faults_.empty(); }
    // The first findings, one a line, and how many more there were.
    std::string Summary(size_t most = 8) const
    {
        std::string text;
        for (size_t i = 0; i < faults_.size() && i < most; ++i) text += "  " + faults_[i] + "\n";
        if (faults_.size() > most) text += "  ... and " + std::to_string(faults_.size() - most) + " more\n";
        return text;
    }

private:
    // ---------------------------------------------------------- set-up

    // A finding: the rule it breaks, and what is wrong where.
    void Fault(const char* rule, const std::string& what)
    {
        rules_.insert(rule);
        // The first few findings of a rule say enough; a flood hides the cause.
        if (++perRule_[rule] <= 6) faults_.push_back(std::string("[") + rule + "] " + what);
    }

    void SetUpCurves()
    {
        std::vector<std::array<P2, 2>> segments;
        for (const Curve& c : job_.curves) {
            const PlanCurve p = PlanOf(c);
            for (size_t i = 0; i + 1 < p.points.size(); ++i)
                segments.push_back({p.points[i], p.points[i + 1]});
            if (!lance_) {
                bool keepInside = c.flag == -1;
                if (c.op == Op::kTrim3D) {
                    const auto seed = in_.nodes.find(c.seed);
                    keepInside = seed != in_.nodes.end() && trimcheck::Inside(Plan(seed->second), p.points);
                }
                (keepInside ? region_.keepInside : region_.removeInside).push_back(p.points);
            }
            for (const size_t k : p.sharp) {
                const P2& v = p.points[k];
                // A lance's corner must be followed to a tenth of an element, a trim's to a quarter.
                corners_.push_back({v, (lance_ ? 0.1 : 0.25) * mesh_.SizeAt(v)});
            }
            curves_.push_back(p);
        }
        curveSegments_ = Segments(segments, h_);
    }

    double OffCurve(const P2& p) const { return curveSegments_.Nearest(p, 1e300); }

    // How far from a sharp corner it stands for p may lie, or 0 when none is near.
    double CornerReach(const P2& p) const
    {
        for (const auto& [c, reach] : corners_)
            if (Dist(p, c) <= reach) return reach;
        return 0.0;
    }

    // How far p lies from the curves as the cut sees them: in plan, and for a
    // 3D cut also across the surface's normal under p, where a curve above or
    // below a steep surface meets it away from its plan view.
    // How far q lies from p as the cut sees it: in plan, and for a 3D cut
    // also across the normal of each element under p, along which the cut
    // drops the curve.
    double Apart(const P3& p, const P3& q) const
    {
        double best = Dist(Plan(p), Plan(q));
        if (!Is3D(job_.op())) return best;
        for (const P3& n : mesh_.NormalsAt(Plan(p))) {
            const P3 d = Across(p, q, n);
            best = std::min(best, std::hypot(d[0], d[1], d[2]));
        }
        return best;
    }

    // q - p without its part along the unit normal n.
    static P3 Across(const P3& p, const P3& q, const P3& n)
    {
        P3 d{q[0] - p[0], q[1] - p[1], q[2] - p[2]};
        const double up = d[0] * n[0] + d[1] * n[1] + d[2] * n[2];
        for (int k = 0; k < 3; ++k) d[k] -= up * n[k];
        return d;
    }

    // Off the curve in plan or, in 3D, as any element there drops the curve
    // along its own normal onto the surface. A node on an edge whose end the
    // cut moved onto the curve stands a hair off that edge as the input had
    // it: the element beyond, within the tolerance, is there too.
    double Off(const P3& p) const
    {
        const double plan = OffCurve(Plan(p));
        if (!Is3D(job_.op()) || plan <= kOnCurve) return plan;
        return std::min(plan, OffAcross(p, mesh_.NormalsAt(Plan(p), kOnCurve)));
    }

    // Off the curve as it drops along one of these normals.
    double OffAcross(const P3& p, const std::vector<P3>& normals) const
    {
        double best = 1e300;
        for (const P3& n : normals) {
            const auto across = [&](const P3& q) { return Across(p, q, n); };
            for (const Curve& c : job_.curves) {
                for (size_t i = 0; i + 1 < c.points.size(); ++i) {
                    const P3 a = across(c.points[i]), b = across(c.points[i + 1]);
                    const P3 ab{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
                    const double len2 = ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2];
                    const double t =
                        len2 > 0.0 ? std::clamp(-(a[0] * ab[0] + a[1] * ab[1] + a[2] * ab[2]) / len2, 0.0, 1.0) : 0.0;
                    best = std::min(best, std::hypot(a[0] + t * ab[0], a[1] + t * ab[1], a[2] + t * ab[2]));
                }
            }
        }
        return best;
    }

    bool NodeOnCurve(const P3& p) const { return Off(p) <= kOnCurve || CornerReach(Plan(p)) > 0.0; }

    bool Kept(const P2& p) const
    {
        if (lance_) return true;
        if (!trimcheck::KeptPoint(region_, p)) return false;
        if (reached_.empty()) return true;
        for (const int e : mesh_.Holding(p, 1e-6 * h_))
            if (reached_[static_cast<size_t>(e)] && Reached(static_cast<size_t>(e), p)) return true;
        return false;
    }

    // An element the curve parts into several kept pieces: its kept samples
    // on a lattice over the element, each with its piece, and which pieces the
    // seed reaches.
    struct Pieces {
        std::vector<P2> at;
        std::vector<int> piece;
        std::vector<char> reached;
    };
    static constexpr int kLattice = 32;

    // The piece of element e at p: 0 for an element kept in one piece, -1
    // where no kept sample lies near.
    int PieceAt(size_t e, const P2& p) const
    {
        const auto found = pieces_.find(e);
        if (found == pieces_.end()) return 0;
        const Pieces& ps = found->second;
        double best = 2.0 * std::sqrt(std::fabs(mesh_.area(e))) / kLattice;
        int piece = -1;
        for (size_t i = 0; i < ps.at.size(); ++i) {
            const double d = Dist(ps.at[i], p);
            if (d < best) best = d, piece = ps.piece[i];
        }
        return piece;
    }

    bool Reached(size_t e, const P2& p) const
    {
        const auto found = pieces_.find(e);
        if (found == pieces_.end()) return true;
        const int piece = PieceAt(e, p);
        return piece >= 0 && found->second.reached[static_cast<size_t>(piece)];
    }

    // Samples the kept part of element e on a lattice (a triangle as a quadrilateral
    // with two corners at one point) and parts them into pieces joined through kept
    // neighbours; keeps them when there are several pieces.
    void FindPieces(size_t e)
    {
        // Two kept pieces need the removed side to reach the outline twice:
        // four changes between kept and removed round it.
        const Poly& outline = mesh_.poly(e);
        int changes = 0;
        bool last = false;
        for (size_t k = 0; k < outline.size(); ++k) {
            const P2& a = outline[k];
            const P2& b = outline[(k + 1) % outline.size()];
            for (int i = 0; i < kLattice; ++i) {
                const double t = static_cast<double>(i) / kLattice;
                const bool kept = trimcheck::KeptPoint(region_, {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])});
                if ((k > 0 || i > 0) && kept != last) ++changes;
                last = kept;
            }
        }
        if (changes < 3) return;
        Poly q = outline;
        if (q.size() == 3) q.push_back(q[2]);
        if (q.size() != 4) return;
        const int n = kLattice + 1;
        std::vector<int> index(static_cast<size_t>(n * n), -1);
        Pieces ps;
        const auto at = [&](double u, double v) {
            P2 r{0.0, 0.0};
            const double w[4] = {(1 - u) * (1 - v), u * (1 - v), u * v, (1 - u) * v};
            for (int k = 0; k < 4; ++k) r[0] += w[k] * q[k][0], r[1] += w[k] * q[k][1];
            return r;
        };
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const P2 p = at(static_cast<double>(i) / kLattice, static_cast<double>(j) / kLattice);
                if (!trimcheck::KeptPoint(region_, p)) continue;
                index[static_cast<size_t>(j * n + i)] = static_cast<int>(ps.at.size());
                ps.at.push_back(p);
            }
        std::vector<int> parent(ps.at.size());
        for (size_t i = 0; i < parent.size(); ++i) parent[i] = static_cast<int>(i);
        const auto root = [&](int x) {
            while (parent[static_cast<size_t>(x)] != x) x = parent[static_cast<size_t>(x)] = parent[static_cast<size_t>(parent[static_cast<size_t>(x)])];
            return x;
        };
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const int a = index[static_cast<size_t>(j * n + i)];
                if (a < 0) continue;
                for (const auto& [di, dj] : {std::pair<int, int>{1, 0}, {0, 1}}) {
                    if (i + di >= n || j + dj >= n) continue;
                    const int b = index[static_cast<size_t>((j + dj) * n + i + di)];
                    const P2 m = at((i + 0.5 * di) / kLattice, (j + 0.5 * dj) / kLattice);
                    if (b >= 0 && trimcheck::KeptPoint(region_, m)) parent[static_cast<size_t>(root(a))] = root(b);
                }
            }
        std::map<int, int> number;
        for (size_t i = 0; i < ps.at.size(); ++i) {
            const int r = root(static_cast<int>(i));
            if (!number.count(r)) number.emplace(r, static_cast<int>(number.size()));
            ps.piece.push_back(number.at(r));
        }
        if (number.size() < 2) return;
        ps.reached.assign(number.size(), 0);
        pieces_[e] = std::move(ps);
    }

    // A 3D trim keeps what its seed reaches over the blank without crossing
    // the curve: kept parts of elements joined through a kept stretch of
    // their shared edge. What the kept region holds beyond is an island that
    // goes with the removed side.
    void SetUpSeedReach()
    {
        if (job_.curves.size() != 1 || job_.op() != Op::kTrim3D) return;
        const auto seed = in_.nodes.find(job_.curves.front().seed);
        if (seed == in_.nodes.end()) return;
        std::map<std::pair<int, int>, std::vector<size_t>> byEdge;
        std::vector<double> kept(mesh_.size());
        for (size_t e = 0; e < mesh_.size(); ++e) {
            const Shell& s = mesh_.shell(e);
            kept[e] = trimcheck::KeptAreaOf(in_, region_, s);
            for (size_t k = 0; k < s.nodes.size(); ++k) {
                const int a = s.nodes[k], b = s.nodes[(k + 1) % s.nodes.size()];
                byEdge[{std::min(a, b), std::max(a, b)}].push_back(e);
            }
        }
        // A hanging node's halves and their coarse edge are one edge between their elements.
        for (const auto& c : in_.adaptive) {
            const std::pair<int, int> whole{std::min(c[1], c[2]), std::max(c[1], c[2])},
                first{std::min(c[1], c[0]), std::max(c[1], c[0])}, second{std::min(c[0], c[2]), std::max(c[0], c[2])};
            std::vector<size_t> all;
            for (const auto& key : {whole, first, second})
                all.insert(all.end(), byEdge[key].begin(), byEdge[key].end());
            for (const auto& key : {whole, first, second}) byEdge[key] = all;
        }
        for (size_t e = 0; e < mesh_.size(); ++e)
            if (kept[e] > 0.0 && kept[e] < std::fabs(mesh_.area(e)) * (1.0 - 1e-9)) FindPieces(e);
        reached_.assign(mesh_.size(), 0);
        std::vector<std::pair<size_t, int>> todo;
        // Marks a piece reached; false when it was already.
        // An element kept only in a rounding's sliver (a curve along its edges)
        // is not kept: the seed's way does not pass through it.
        const auto reach = [&](size_t e, int piece) {
            if (piece < 0 || kept[e] <= 1e-6 * std::fabs(mesh_.area(e))) return false;
            const auto found = pieces_.find(e);
            if (found != pieces_.end()) {
                char& r = found->second.reached[static_cast<size_t>(piece)];
                if (r) return false;
                r = 1;
            } else if (reached_[e]) {
                return false;
            }
            reached_[e] = 1;
            todo.push_back({e, piece});
            return true;
        };
        const P2 seedAt = Plan(seed->second);
        for (size_t e = 0; e < mesh_.size(); ++e) {
            const std::vector<int>& n = mesh_.shell(e).nodes;
            if (std::find(n.begin(), n.end(), seed->first) != n.end()) reach(e, PieceAt(e, seedAt));
        }
        if (todo.empty()) {
            reached_.clear();
            return;
        }
        while (!todo.empty()) {
            const auto [e, piece] = todo.back();
            todo.pop_back();
            const std::vector<int>& n = mesh_.shell(e).nodes;
            for (size_t k = 0; k < n.size(); ++k) {
                const int a = n[k], b = n[(k + 1) % n.size()];
                const P2 pa = Plan(in_.nodes.at(a)), pb = Plan(in_.nodes.at(b));
                for (int i = 1; i < kLattice; ++i) {
                    const double t = static_cast<double>(i) / kLattice;
                    const P2 p{pa[0] + t * (pb[0] - pa[0]), pa[1] + t * (pb[1] - pa[1])};
                    if (!trimcheck::KeptPoint(region_, p) || PieceAt(e, p) != piece) continue;
                    for (const size_t f : byEdge[{std::min(a, b), std::max(a, b)}])
                        if (f != e) reach(f, PieceAt(f, p));
                }
            }
        }
        seedKeptArea_ = 0.0;
        for (size_t e = 0; e < mesh_.size(); ++e) {
            if (!reached_[e]) continue;
            const auto found = pieces_.find(e);
            if (found == pieces_.end()) {
                seedKeptArea_ += kept[e];
                continue;
            }
            // An element kept in part: its reached pieces' share of its kept samples,
            // which measures their area to about a tenth.
            const Pieces& ps = found->second;
            size_t in = 0;
            for (const int piece : ps.piece) in += ps.reached[static_cast<size_t>(piece)] ? 1 : 0;
            seedKeptArea_ += kept[e] * static_cast<double>(in) / static_cast<double>(ps.piece.size());
            if (in < ps.piece.size()) seedAreaSlack_ += 0.1 * kept[e];
        }
    }

    void SetUpOutput()
    {
        // Directed edges with every coarse edge replaced by its halves, and
        // the elements that use each.
        std::map<std::pair<int, int>, int> hanging;
        for (const auto& c : out_.adaptive) hanging[{std::min(c[1], c[2]), std::max(c[1], c[2])}] = c[0];
        for (size_t e = 0; e < out_.shells.size(); ++e) {
            const Shell& s = out_.shells[e];
            std::vector<std::pair<int, int>> todo;
            for (size_t i = 0; i < s.nodes.size(); ++i)
                todo.push_back({s.nodes[i], s.nodes[(i + 1) % s.nodes.size()]});
            while (!todo.empty()) {
                const auto [u, v] = todo.back();
                todo.pop_back();
                const auto m = hanging.find({std::min(u, v), std::max(u, v)});
                if (m == hanging.end() || m->second == u || m->second == v) {
                    edges_[{u, v}].push_back(static_cast<int>(e));
                } else {
                    todo.push_back({u, m->second});
                    todo.push_back({m->second, v});
                }
            }
        }
        for (const auto& c : out_.adaptive) dependents_.insert(c[0]);
        for (const Shell& s : out_.shells) ids_[s.id] = &s;
    }

    bool HasNode(int id) const { return out_.nodes.count(id) > 0; }
    P3 Node(int id) const { return out_.nodes.at(id); }
    P2 PlanNode(int id) const { return Plan(out_.nodes.at(id)); }

    bool OnOutline(const P2& a, const P2& b) const
    {
        const double tol = 1e-4 * h_;
        const P2 m{0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1])};
        return mesh_.outline().Nearest(a, tol) < tol && mesh_.outline().Nearest(b, tol) < tol &&
               mesh_.outline().Nearest(m, tol) < tol;
    }

    // ---------------------------------------------------------- ids

    void CheckIds()
    {
        std::set<int> ids;
        std::set<int> used;
        for (const Shell& s : out_.shells) {
            if (!ids.insert(s.id).second)
                Fault("ids", "element id " + std::to_string(s.id) + " is written twice");
            if (s.nodes.size() != 3 && s.nodes.size() != 4)
                Fault("ids", "element " + std::to_string(s.id) + " has " + std::to_string(s.nodes.size()) +
                                 " distinct nodes");
            for (const int n : s.nodes) {
                if (!HasNode(n))
                    Fault("ids", "element " + std::to_string(s.id) + " uses node " + std::to_string(n) +
                                     ", which is not written");
                used.insert(n);
            }
            if (s.id <= in_.maxElem && !std::any_of(in_.shells.begin(), in_.shells.end(),
                                                    [&](const Shell& t) { return t.id == s.id; }))
                Fault("ids", "element " + std::to_string(s.id) +
                                 " is neither an input element nor above the input's ids");
        }
        for (const auto& [id, p] : out_.nodes) {
            if (!used.count(id))
                Fault("ids",
                      "node " + std::to_string(id) + " at " + At(p) + " is written but used by no element");
            if (!in_.nodes.count(id) && id <= in_.maxNode)
                Fault("ids", "new node " + std::to_string(id) + " at " + At(p) +
                                 " does not lie above the input's node ids");
        }
    }

    // ---------------------------------------------------------- hanging nodes

    void CheckConstraints()
    {
        std::map<std::pair<int, int>, int> raw;  // undirected element edges as written
        for (const Shell& s : out_.shells)
            for (size_t i = 0; i < s.nodes.size(); ++i) {
                const int u = s.nodes[i], v = s.nodes[(i + 1) % s.nodes.size()];
                ++raw[{std::min(u, v), std::max(u, v)}];
            }
        std::set<int> seen;
        for (const auto& c : out_.adaptive) {
            const std::string what = "hanging node " + std::to_string(c[0]) + " on " + std::to_string(c[1]) +
                                     "-" + std::to_string(c[2]);
            if (!seen.insert(c[0]).second) Fault("hanging", what + ": the node hangs twice");
            if (!HasNode(c[0]) || !HasNode(c[1]) || !HasNode(c[2])) {
                Fault("hanging", what + ": the constraint names a node that is not written");
                continue;
            }
            const P3 d = Node(c[0]), a = Node(c[1]), b = Node(c[2]);
            const double len = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
            const double off = std::hypot(d[0] - 0.5 * (a[0] + b[0]), d[1] - 0.5 * (a[1] + b[1]),
                                          d[2] - 0.5 * (a[2] + b[2]));
            const double scale = std::max({1.0, std::fabs(a[0]), std::fabs(a[1]), std::fabs(a[2])});
            if (off > 1e-6 * scale + 1e-6 * len)
                Fault("hanging", what + ": the node at " + At(d) + " is " + Fixed(off, 4) +
                                     " off the middle of its edge");
            const auto coarse = raw.find({std::min(c[1], c[2]), std::max(c[1], c[2])});
            if (coarse == raw.end() || coarse->second != 1)
                Fault("hanging", what + ": the coarse edge belongs to " +
                                     std::to_string(coarse == raw.end() ? 0 : coarse->second) +
                                     " elements, not one");
            // A half without its fine element is an open edge, which the
            // closed-mesh rule judges; with neither the constraint ties nothing.
            const bool halves = raw.count({std::min(c[0], c[1]), std::max(c[0], c[1])}) ||
                                raw.count({std::min(c[0], c[2]), std::max(c[0], c[2])});
            if (!halves) Fault("hanging", what + ": no element has either half of the coarse edge");
        }
    }

    // ---------------------------------------------------------- closed mesh

    // Whether an open edge lies on the cut: its ends on a curve and its
    // points no farther from the curves than the curve strays from a chord
    // of that length (a slit: a tenth of an element everywhere).
    bool OnCut(const P3& a3, const P3& b3) const
    {
        if (!NodeOnCurve(a3) || !NodeOnCurve(b3)) return false;
        const P2 a = Plan(a3), b = Plan(b3);
        const double size = mesh_.SizeAt({0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1])});
        const auto along = [&](double t) {
            return P3{a3[0] + t * (b3[0] - a3[0]), a3[1] + t * (b3[1] - a3[1]), a3[2] + t * (b3[2] - a3[2])};
        };
        if (lance_) {
            for (const double t : {0.25, 0.5, 0.75}) {
                if (Off(along(t)) > 0.1 * size) return false;
            }
            return true;
        }
        double sag = 0.0;
        for (const PlanCurve& c : curves_) {
            double segment = 0.0;
            for (size_t i = 0; i + 1 < c.points.size(); ++i)
                segment = std::max(segment, Dist(c.points[i], c.points[i + 1]));
            sag = std::max(sag, trimcheck::Sag(c.points, Dist(a, b)) + trimcheck::Sag(c.points, segment));
        }
        const double corner = 0.5 * std::max(CornerReach(a), CornerReach(b));
        const double middle = Off(along(0.5));
        if (middle <= sag + corner + kOnCurve + 0.5 * (Off(a3) + Off(b3)) || !Is3D(job_.op())) return true;
        // In 3D each element there judges the edge by the curve as its own
        // normal drops it: bends the curve makes in height become bends
        // across a steep face, and an end on a crease stands where the other
        // face's drop put it.
        for (const P3& n : mesh_.NormalsAt(Plan(along(0.5)))) {
            // A frame across n: the curve as this element sees it.
            P3 u = Across({0.0, 0.0, 0.0}, std::fabs(n[0]) < 0.9 ? P3{1.0, 0.0, 0.0} : P3{0.0, 1.0, 0.0}, n);
            const double lu = std::hypot(u[0], u[1], u[2]);
            for (double& x : u) x /= lu;
            const P3 v{n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2], n[0] * u[1] - n[1] * u[0]};
            const auto seen = [&](const P3& p) {
                return P2{p[0] * u[0] + p[1] * u[1] + p[2] * u[2], p[0] * v[0] + p[1] * v[1] + p[2] * v[2]};
            };
            // How far the curve strays from the chord between the ends' feet
            // on it, and at most its sag over a chord that long anywhere.
            double stray = 0.0, sagged = 0.0;
            const P2 sa = seen(a3), sb = seen(b3);
            for (const Curve& c : job_.curves) {
                trimcheck::Poly dropped;
                double segment = 0.0;
                for (const P3& p : c.points) {
                    dropped.push_back(seen(p));
                    if (dropped.size() > 1) segment = std::max(segment, Dist(dropped[dropped.size() - 2], dropped.back()));
                }
                sagged = std::max(sagged, trimcheck::Sag(dropped, Dist(sa, sb)) + trimcheck::Sag(dropped, segment));
                const auto foot = [&](const P2& q) {
                    size_t best = 0;
                    for (size_t i = 0; i + 1 < dropped.size(); ++i)
                        if (trimcheck::SegDist(q, dropped[i], dropped[i + 1]) < trimcheck::SegDist(q, dropped[best], dropped[best + 1]))
                            best = i;
                    return best;
                };
                size_t i = foot(sa), j = foot(sb);
                // Only the curve the edge's ends lie on.
                if (trimcheck::SegDist(sa, dropped[i], dropped[i + 1]) > 0.1 * size ||
                    trimcheck::SegDist(sb, dropped[j], dropped[j + 1]) > 0.1 * size)
                    continue;
                if (i > j) std::swap(i, j);
                double inner = 0.0, outer = 0.0;
                for (size_t k = 0; k + 1 < dropped.size(); ++k) {
                    const double d = trimcheck::SegDist(dropped[k + 1], sa, sb);
                    if (k + 1 > i && k + 1 <= j) inner = std::max(inner, d);
                    else outer = std::max(outer, d);
                }
                const bool closed = SamePoint(c.points.front(), c.points.back());
                stray = std::max(stray, closed ? std::min(inner, outer) : inner);
            }
            const double ends = OffAcross(a3, {n}) + OffAcross(b3, {n});
            if (OffAcross(along(0.5), {n}) <= std::min(stray, sagged) + corner + kOnCurve + 0.5 * std::min(ends, 0.2 * size)) return true;
        }
        return false;
    }

    // A node left at the middle of a chord of the cut, where the coarse
    // element of a hanging node went or was slit: its open neighbours on both
    // sides make the chord.
    bool MiddleOfChord(int node) const
    {
        const auto from = openFrom_.equal_range(node);
        const auto to = openTo_.equal_range(node);
        for (auto a = to.first; a != to.second; ++a) {
            for (auto b = from.first; b != from.second; ++b) {
                const P2 pa = PlanNode(a->second), pb = PlanNode(b->second);
                if (trimcheck::SegDist(PlanNode(node), pa, pb) < 1e-5 * h_ && OnCut(Node(a->second), Node(b->second)))
                    return true;
            }
        }
        return false;
    }

    void CheckEdges()
    {
        for (const auto& [e, owners] : edges_) {
            if (owners.size() > 1) {
                Fault("edge-twice",
                      "edge " + std::to_string(e.first) + "-" + std::to_string(e.second) + " is used " +
                          std::to_string(owners.size()) + " times the same way (elements " +
                          std::to_string(out_.shells[static_cast<size_t>(owners[0])].id) + " and " +
                          std::to_string(out_.shells[static_cast<size_t>(owners[1])].id) + ")");
            }
            if (edges_.count({e.second, e.first}) || !HasNode(e.first) || !HasNode(e.second)) continue;
            openFrom_.emplace(e.first, e.second);
            openTo_.emplace(e.second, e.first);
        }
        std::vector<std::array<P2, 2>> fresh;
        for (const auto& [e, owners] : edges_) {
            if (edges_.count({e.second, e.first}) || !HasNode(e.first) || !HasNode(e.second)) continue;
            const P2 a = PlanNode(e.first), b = PlanNode(e.second);
            if (OnOutline(a, b)) continue;
            fresh.push_back({a, b});
            freshOwner_.push_back(owners.front());
            freshEnds_.push_back({e.first, e.second});
            const bool chord = MiddleOfChord(e.first) || MiddleOfChord(e.second);
            if (!OnCut(Node(e.first), Node(e.second)) && !chord) {
                const P3 pa = Node(e.first), pb = Node(e.second);
                const P3 m{0.5 * (pa[0] + pb[0]), 0.5 * (pa[1] + pb[1]), 0.5 * (pa[2] + pb[2])};
                Fault("open-edge", "open edge " + std::to_string(e.first) + "-" + std::to_string(e.second) +
                                       " of element " +
                                       std::to_string(out_.shells[static_cast<size_t>(owners.front())].id) +
                                       " from " + At(Node(e.first)) + " to " + At(Node(e.second)) +
                                       " is neither on the outline nor on the cut (ends " +
                                       Fixed(Off(pa)) + " and " + Fixed(Off(pb)) + ", middle " +
                                       Fixed(Off(m)) + " off the curve)");
            }
        }
        fresh_ = Segments(fresh, h_);
    }

    // ---------------------------------------------------------- coincident nodes

    void CheckCoincidentNodes()
    {
        std::vector<std::pair<P3, int>> points;
        for (const auto& [id, p] : out_.nodes) points.push_back({p, id});
        std::sort(points.begin(), points.end());
        const double tol = 1e-5 * h_;
        std::map<int, std::vector<int>> with;
        for (size_t i = 0; i < points.size(); ++i) {
            for (size_t j = i + 1; j < points.size() && points[j].first[0] - points[i].first[0] < tol; ++j) {
                const P3& p = points[i].first;
                const P3& q = points[j].first;
                if (std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) >= tol) continue;
                with[points[i].second].push_back(points[j].second);
                with[points[j].second].push_back(points[i].second);
            }
        }
        for (const auto& [u, others] : with) {
            const P3 p = Node(u);
            for (const int v : others) {
                if (v < u) continue;
                const bool before =
                    in_.nodes.count(u) && in_.nodes.count(v) && in_.nodes.at(u) == in_.nodes.at(v);
                // The sides of a slit each have a copy of its nodes: two along
                // the slit, more where sides meet only at one point, as where a
                // closed lance touches the outline at a vertex. A copy too many
                // leaves an open edge off the cut, which the closed-mesh rule finds.
                const bool slit = lance_ && NodeOnCurve(p);
                if (before) continue;
                if (slit) {
                    twin_[u] = v;
                    twin_[v] = u;
                    CheckClampCopied(u, v);
                    CheckClampCopied(v, u);
                    continue;
                }
                Fault("coincident", "nodes " + std::to_string(u) + " and " + std::to_string(v) +
                                        " both lie at " + At(p) + (lance_ ? " off the slit" : ""));
            }
        }
    }

    // A node the slit doubled is held on both sides as it was held before.
    void CheckClampCopied(int node, int copy)
    {
        const auto held = in_.spc.find(node);
        if (held == in_.spc.end() || in_.nodes.count(copy)) return;
        const auto kept = out_.spc.find(copy);
        if (kept == out_.spc.end() || kept->second != held->second)
            Fault("clamp", "node " + std::to_string(copy) + ", the slit's copy of node " + std::to_string(node) +
                               ", lost its boundary constraint");
    }

    // ---------------------------------------------------------- elements

    // The input element a piece comes from: the same id, or, for a new
    // element, the input element with its part, thickness and records that
    // holds the piece (placed with its old nodes where they were) or lies
    // nearest to it.
    const Shell* ParentOf(const Shell& s, double& parentArea) const
    {
        if (s.id <= in_.maxElem) {
            for (size_t e = 0; e < mesh_.size(); ++e)
                if (mesh_.shell(e).id == s.id) return parentArea = mesh_.area(e), &mesh_.shell(e);
            return nullptr;
        }
        Poly before;
        for (const int n : s.nodes) {
            // A slit's copy of an input node stood where that node did.
            const auto twin = twin_.find(n);
            const int was = !in_.nodes.count(n) && twin != twin_.end() ? twin->second : n;
            const auto old = in_.nodes.find(was);
            before.push_back(Plan(old != in_.nodes.end() ? old->second : out_.nodes.at(n)));
        }
        const P2 home = trimcheck::Centroid(before);
        const Shell* parent = nullptr;
        double nearest = 0.5 * h_;
        for (const int e : mesh_.Holding(home, 0.5 * h_)) {
            const Shell& t = mesh_.shell(static_cast<size_t>(e));
            const bool records = (!out_.stress.count(s.id) ||
                                  (in_.stress.count(t.id) && in_.stress.at(t.id) == out_.stress.at(s.id))) &&
                                 (!out_.strain.count(s.id) ||
                                  (in_.strain.count(t.id) && in_.strain.at(t.id) == out_.strain.at(s.id)));
            if (!records || t.pid != s.pid || std::fabs(t.thick - s.thick) > 1e-6 * std::fabs(t.thick))
                continue;
            const Poly& tp = mesh_.poly(static_cast<size_t>(e));
            double d = trimcheck::Inside(home, tp) ? 0.0 : 1e300;
            for (size_t i = 0; i < tp.size() && d > 0.0; ++i)
                d = std::min(d, trimcheck::SegDist(home, tp[i], tp[(i + 1) % tp.size()]));
            if (d < nearest || (d == 0.0 && !parent)) {
                nearest = d;
                parent = &t;
                parentArea = mesh_.area(static_cast<size_t>(e));
            }
        }
        return parent;
    }

    // The piece's corners seen along the normal of the input element it came
    // from, turned so that the parent's own area is positive.
    Poly AlongNormalOf(const Shell& parent, const Shell& piece) const
    {
        const P3 n = UnitNormal(in_, parent);
        // Any unit vector across n, and the third completing a right-handed frame.
        P3 u = std::fabs(n[0]) < 0.9 ? P3{0, -n[2], n[1]} : P3{n[2], 0, -n[0]};
        const double lu = std::hypot(u[0], u[1], u[2]);
        u = {u[0] / lu, u[1] / lu, u[2] / lu};
        const P3 v{n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2], n[0] * u[1] - n[1] * u[0]};
        Poly view;
        for (const int id : piece.nodes) {
            const P3& p = out_.nodes.at(id);
            view.push_back({p[0] * u[0] + p[1] * u[1] + p[2] * u[2], p[0] * v[0] + p[1] * v[1] + p[2] * v[2]});
        }
        return view;
    }

    void CheckElements()
    {
        turn_.assign(out_.shells.size(), 0.0);
        for (const Shell& s : out_.shells) {
            if (s.nodes.size() < 3 ||
                !std::all_of(s.nodes.begin(), s.nodes.end(), [&](int n) { return HasNode(n); }))
                continue;
            const std::string name = "element " + std::to_string(s.id);
            Poly piece = trimcheck::PolyOf(out_, s);
            double area = trimcheck::SignedArea(piece);
            const P2 centre = trimcheck::Centroid(piece);
            double parentArea = 0.0;
            const Shell* parent = ParentOf(s, parentArea);
            // Signed as its parent faces: a piece of a steep element may turn
            // over in plan while facing its parent in space, and the plan areas
            // of such a fold still add up to the parent's.
            keptArea_ += parent && parentArea < 0.0 ? -area : parent ? area : std::fabs(area);
            if (parent) turn_[static_cast<size_t>(&s - out_.shells.data())] = parentArea;
            if (!parent) {
                Fault("parent", name + " at " + At(centre) +
                                    " lies by no input element with its part, thickness and records");
                continue;
            }
            // A 3D cut's pieces are seen along their parent's normal: on a steep,
            // warped element the view along z may turn a sound piece over.
            if (Is3D(job_.op())) {
                piece = AlongNormalOf(*parent, s);
                area = trimcheck::SignedArea(piece);
                parentArea = 1.0;
            }
            double longest = 0.0;
            for (size_t i = 0; i < piece.size(); ++i)
                longest = std::max(longest, Dist(piece[i], piece[(i + 1) % piece.size()]));
            if (std::fabs(area) < 1e-4 * longest * longest) {
                Fault("flat", name + " at " + At(centre) + " is flat (area " + Fixed(std::fabs(area), 6) +
                                  ", longest edge " + Fixed(longest) + ")");
            } else if (area * parentArea <= 0.0) {
                Fault("flipped", name + " at " + At(centre) + " faces the other way than its parent " +
                                     std::to_string(parent->id));
            } else if (piece.size() == 4) {
                const double sign = area > 0 ? 1.0 : -1.0;
                for (size_t k = 0; k < 4; ++k) {
                    const P2& a = piece[(k + 3) % 4];
                    const P2& v = piece[k];
                    const P2& b = piece[(k + 1) % 4];
                    const double turn = sign * Cross(a, v, b) / (Dist(a, v) * Dist(v, b));
                    if (turn < 1e-3) {
                        Fault("concave",
                              name + " is " +
                                  (turn < -1e-3 ? "concave or folded"
                                                : "a quadrilateral with three corners on one line") +
                                  " at node " + std::to_string(s.nodes[k]) + " " + At(Node(s.nodes[k])));
                        break;
                    }
                }
            }
            if (s.pid != parent->pid)
                Fault("records", name + " has part " + std::to_string(s.pid) + ", its parent " +
                                     std::to_string(parent->id) + " part " + std::to_string(parent->pid));
            if (std::fabs(s.thick - parent->thick) > 1e-6 * std::fabs(parent->thick))
                Fault("records", name + " has thickness " + Fixed(s.thick, 6) + ", its parent " +
                                     std::to_string(parent->id) + " " + Fixed(parent->thick, 6));
            if (in_.stress.count(parent->id) &&
                (!out_.stress.count(s.id) || out_.stress.at(s.id) != in_.stress.at(parent->id)))
                Fault("records",
                      name + " does not carry the stress record of its parent " + std::to_string(parent->id));
            if (in_.strain.count(parent->id) &&
                (!out_.strain.count(s.id) || out_.strain.at(s.id) != in_.strain.at(parent->id)))
                Fault("records",
                      name + " does not carry the strain record of its parent " + std::to_string(parent->id));
            if (!lance_ && !Kept(centre) && OffCurve(centre) > 0.5 * mesh_.SizeAt(centre))
                Fault("removed-piece", name + " at " + At(centre) + " lies in the removed region, " +
                                           Fixed(OffCurve(centre)) + " from the curve");
        }
    }

    // ---------------------------------------------------------- nodes

    void CheckNodes()
    {
        std::set<int> onCut;
        for (const auto& ends : freshEnds_) onCut.insert(ends.begin(), ends.end());
        for (const auto& [id, p] : out_.nodes) {
            const auto old = in_.nodes.find(id);
            const bool fresh = old == in_.nodes.end();
            const bool moved = !fresh && !SamePoint(old->second, p);
            if (!fresh && !moved && !onCut.count(id)) continue;
            // A hanging node is judged with its constraint.
            if (dependents_.count(id)) continue;
            // One that lost its constraint where its coarse element went stays at the middle of the coarse
            // edge.
            const auto was = std::find_if(in_.adaptive.begin(), in_.adaptive.end(),
                                          [node = id](const auto& a) { return a[0] == node; });
            if (was != in_.adaptive.end() && HasNode((*was)[1]) && HasNode((*was)[2])) {
                const P3 a = Node((*was)[1]), b = Node((*was)[2]);
                if (std::hypot(0.5 * (a[0] + b[0]) - p[0], 0.5 * (a[1] + b[1]) - p[1]) < 1e-5 * h_) continue;
            }
            const P2 q = Plan(p);
            const bool refinedAway = job_.refined && fresh && !onCut.count(id);
            if (!refinedAway && !NodeOnCurve(p) && !MiddleOfChord(id)) {
                Fault("node-off-curve", std::string(fresh   ? "new"
                                                    : moved ? "moved"
                                                            : "cut") +
                                            " node " + std::to_string(id) + " at " + At(p) + " lies " +
                                            Fixed(Off(p)) + " off the curve" +
                                            (onCut.count(id) ? " on the new boundary" : ""));
            }
            if (fresh || moved) {
                const double gap = mesh_.SurfaceGap(p);
                // The cutters place nodes a few thousandths of an element off
                // the element's plane; a node off by a fiftieth is misplaced.
                if (gap > 0.02 * mesh_.SizeAt(q))
                    Fault("node-off-surface", std::string(fresh ? "new" : "moved") + " node " +
                                                  std::to_string(id) + " at " + At(p) + " lies " +
                                                  Fixed(gap, 4) + " off the blank's surface");
            }
        }
    }

    // The checks of cutjudge_checks.h: the cut covers the curve, the outline
    // stays, the area, what lies away from the curves, the slit.
    int SideOf(size_t fresh) const;
    void CheckCoverage();
    void CheckOutline();
    void CheckArea();
    void CheckUntouched();
    bool ThinTip(int n) const;
    void CheckSlit();

    static constexpr double kOnCurve = 0.02;

    const Dynain& in_;
    const Dynain& out_;
    const Job& job_;
    PlanMesh mesh_;
    double h_ = 1.0;
    bool lance_ = false;
    std::vector<PlanCurve> curves_;
    std::vector<double> turn_;   // by output element: its parent's area in plan, signed
    std::vector<char> reached_;  // by input element: a 3D trim's seed reaches its kept part
    double seedKeptArea_ = 0.0;
    double seedAreaSlack_ = 0.0;  // the sampled share of elements kept in part
    std::map<size_t, Pieces> pieces_;  // by input element parted into several kept pieces
    Segments curveSegments_;
    std::vector<std::pair<P2, double>> corners_;
    trimcheck::FlatJob region_;
    std::map<std::pair<int, int>, std::vector<int>> edges_;
    std::multimap<int, int> openFrom_, openTo_;
    Segments fresh_;  // new free edges: open, and not on the input's outline
    std::vector<int> freshOwner_;
    std::vector<std::array<int, 2>> freshEnds_;
    std::set<int> dependents_;
    std::map<int, const Shell*> ids_;
    std::map<int, int> twin_;
    double keptArea_ = 0.0;
    std::vector<std::string> faults_;
    std::set<std::string> rules_;
    std::map<std::string, int> perRule_;
};

}  // namespace cutjudge

#include "cutjudge_checks.h"

#endif
