#include "qdstrimelem_split.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

namespace {

using Edge = std::pair<int, int>;

Edge Key(int a, int b) { return a < b ? Edge{a, b} : Edge{b, a}; }

// A point closer than this share of the element's size to a segment lies on
// it. Points the cut makes are kept much farther apart than this, so the
// share only absorbs the rounding of points computed on an edge.
const double kOnSegment = 1e-9;
// Delaunay flips need the fourth point clearly inside the circle: on a
// lattice four points are often cocircular, and a tie must not flip back and
// forth.
const double kInCircle = 1e-9;
// A diagonal passing closer than this share of its length to a point would
// make a sliver with it: such diagonals are only taken where nothing else
// closes the triangulation (a straight run of chain points otherwise fans
// into triangles of no area that no flip can mend, each flip quadrilateral
// being as flat as they are).
const double kSliverClearance = 0.01;
// A quadrilateral joined from two triangles keeps every corner below this
// cosine's angle away from flat (about 150 degrees), as the corner repair
// of whole elements demands.
const double kFlatCornerCos = -0.8660254;

class Splitter {
public:
    explicit Splitter(const CsSplitInput& in) : in_(in)
    {
        double xlo = 0.0, xhi = 0.0, ylo = 0.0, yhi = 0.0;
        for (size_t i = 0; i < in.points.size(); ++i) {
            const CsSplitPoint& p = in.points[i];
            xlo = i == 0 ? p.x : std::min(xlo, p.x);
            xhi = i == 0 ? p.x : std::max(xhi, p.x);
            ylo = i == 0 ? p.y : std::min(ylo, p.y);
            yhi = i == 0 ? p.y : std::max(yhi, p.y);
        }
        scale_ = std::max(xhi - xlo, yhi - ylo);
    }

    bool Run(std::vector<std::vector<int>>& pieces)
    {
        if (in_.outline.size() < 3 || scale_ <= 0.0 || OutlineArea() <= 0.0) return false;
        if (!TakeConstraints() || !Triangulate()) return false;
        Flip();
        Join(pieces);
        return true;
    }

private:
    const CsSplitPoint& P(int i) const { return in_.points[static_cast<size_t>(i)]; }

    double OutlineArea() const { return CsSplitArea(in_, in_.outline); }

    // Distance of p from the line a-b, signed: positive on the left.
    double Side(int a, int b, int p) const
    {
        const double len = std::hypot(P(b).x - P(a).x, P(b).y - P(a).y);
        return len > 0.0 ? CsSplitOrient(P(a), P(b), P(p)) / len : 0.0;
    }

    // Whether p lies on the open segment a-b.
    bool OnSegment(int a, int b, int p) const
    {
        if (p == a || p == b) return false;
        if (std::fabs(Side(a, b, p)) > kOnSegment * scale_) return false;
        const double dx = P(b).x - P(a).x, dy = P(b).y - P(a).y;
        const double t = ((P(p).x - P(a).x) * dx + (P(p).y - P(a).y) * dy) / (dx * dx + dy * dy);
        return t > 0.0 && t < 1.0;
    }

    // Whether segments a-b and c-d meet anywhere but at a shared end.
    bool Meet(int a, int b, int c, int d) const
    {
        const bool shared = a == c || a == d || b == c || b == d;
        if (shared) {
            // Two segments from one point meet again only when they overlap.
            const int o = (a == c || a == d) ? a : b;
            const int p = o == a ? b : a;
            const int q = (c == o) ? d : c;
            return OnSegment(o, p, q) || OnSegment(o, q, p);
        }
        if (OnSegment(a, b, c) || OnSegment(a, b, d) || OnSegment(c, d, a) || OnSegment(c, d, b)) return true;
        const double tol = kOnSegment * scale_;
        const double s1 = Side(a, b, c), s2 = Side(a, b, d);
        const double s3 = Side(c, d, a), s4 = Side(c, d, b);
        return ((s1 > tol && s2 < -tol) || (s1 < -tol && s2 > tol)) &&
               ((s3 > tol && s4 < -tol) || (s3 < -tol && s4 > tol));
    }

    bool InsideOutline(double x, double y) const
    {
        bool in = false;
        const size_t n = in_.outline.size();
        for (size_t i = 0, j = n - 1; i < n; j = i++) {
            const CsSplitPoint& a = P(in_.outline[i]);
            const CsSplitPoint& b = P(in_.outline[j]);
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
        }
        return in;
    }

    bool TakeConstraints()
    {
        const size_t n = in_.outline.size();
        for (size_t i = 0; i < n; ++i) AddFixed(in_.outline[i], in_.outline[(i + 1) % n]);
        for (const Edge& c : in_.chains) {
            if (c.first == c.second) continue;
            AddFixed(c.first, c.second);
        }
        const std::vector<Edge> fixed(fixed_.begin(), fixed_.end());
        for (size_t i = 0; i < fixed.size(); ++i) {
            for (size_t k = 0; k < in_.points.size(); ++k) {
                if (OnSegment(fixed[i].first, fixed[i].second, static_cast<int>(k))) return false;
            }
            for (size_t j = i + 1; j < fixed.size(); ++j) {
                if (Meet(fixed[i].first, fixed[i].second, fixed[j].first, fixed[j].second)) return false;
            }
        }
        edges_ = fixed;
        return true;
    }

    void AddFixed(int a, int b) { fixed_.insert(Key(a, b)); }

    // How close a-b passes to a point between its ends, as a share of its
    // length (large when no point lies beside it).
    double Clearance(int a, int b) const
    {
        const double dx = P(b).x - P(a).x, dy = P(b).y - P(a).y;
        const double len2 = dx * dx + dy * dy;
        double clearance = 1.0;
        for (size_t k = 0; k < in_.points.size(); ++k) {
            const int p = static_cast<int>(k);
            if (p == a || p == b) continue;
            const double t = ((P(p).x - P(a).x) * dx + (P(p).y - P(a).y) * dy) / len2;
            if (t > 0.0 && t < 1.0) clearance = std::min(clearance, std::fabs(Side(a, b, p)) / std::sqrt(len2));
        }
        return clearance;
    }

    // Every segment that crosses nothing, shortest first; those that graze a
    // point come last, the least grazing first, so that a strip too thin for
    // any clear diagonal still fans from its far corner rather than into
    // triangles of three points in a row. The triangulation that results is
    // refined into the constrained Delaunay one by flips.
    bool Triangulate()
    {
        const int count = static_cast<int>(in_.points.size());
        std::vector<std::tuple<bool, double, Edge>> candidates;
        for (int a = 0; a < count; ++a) {
            for (int b = a + 1; b < count; ++b) {
                if (fixed_.count({a, b})) continue;
                const double mx = 0.5 * (P(a).x + P(b).x), my = 0.5 * (P(a).y + P(b).y);
                if (!InsideOutline(mx, my)) continue;
                bool through = false;
                for (int k = 0; k < count && !through; ++k) through = OnSegment(a, b, k);
                if (through) continue;
                const double clearance = Clearance(a, b);
                const bool grazes = clearance < kSliverClearance;
                candidates.push_back(
                    {grazes, grazes ? -clearance : std::hypot(P(b).x - P(a).x, P(b).y - P(a).y), Edge{a, b}});
            }
        }
        std::sort(candidates.begin(), candidates.end());
        for (const auto& candidate : candidates) {
            const Edge& e = std::get<2>(candidate);
            const bool crosses = std::any_of(edges_.begin(), edges_.end(), [&](const Edge& f) {
                return Meet(e.first, e.second, f.first, f.second);
            });
            if (!crosses) edges_.push_back(e);
        }
        return CollectTriangles();
    }

    bool CollectTriangles()
    {
        const size_t count = in_.points.size();
        std::vector<std::vector<int>> around(count);
        for (const Edge& e : edges_) {
            around[static_cast<size_t>(e.first)].push_back(e.second);
            around[static_cast<size_t>(e.second)].push_back(e.first);
        }
        for (size_t v = 0; v < count; ++v) {
            const CsSplitPoint& o = in_.points[v];
            std::sort(around[v].begin(), around[v].end(), [&](int a, int b) {
                return std::atan2(P(a).y - o.y, P(a).x - o.x) < std::atan2(P(b).y - o.y, P(b).x - o.x);
            });
        }
        // The face left of u->v continues along v->w, w the neighbour of v just clockwise of u.
        const auto next = [&](int u, int v) {
            const std::vector<int>& list = around[static_cast<size_t>(v)];
            const size_t i = static_cast<size_t>(std::find(list.begin(), list.end(), u) - list.begin());
            return list[(i + list.size() - 1) % list.size()];
        };
        double area = 0.0;
        std::set<std::array<int, 3>> seen;
        for (const Edge& e : edges_) {
            for (const auto& [u, v] : {e, Edge{e.second, e.first}}) {
                const int w = next(u, v);
                if (next(v, w) != u || next(w, u) != v) continue;
                std::array<int, 3> t{u, v, w};
                std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
                if (!seen.insert(t).second) continue;
                const double a = CsSplitOrient(P(t[0]), P(t[1]), P(t[2]));
                if (a <= 0.0) continue;
                triangles_.push_back(t);
                area += 0.5 * a;
            }
        }
        // Every bounded face must be a triangle: the pieces then tile the outline.
        return !triangles_.empty() && std::fabs(area - OutlineArea()) <= 1e-9 * scale_ * scale_;
    }

    // The two triangles on each free (not fixed) edge, as (triangle, corner opposite the edge).
    std::map<Edge, std::vector<std::pair<size_t, int>>> FreeEdges() const
    {
        std::map<Edge, std::vector<std::pair<size_t, int>>> sides;
        for (size_t t = 0; t < triangles_.size(); ++t) {
            for (int k = 0; k < 3; ++k) {
                const int a = triangles_[t][static_cast<size_t>(k)];
                const int b = triangles_[t][static_cast<size_t>((k + 1) % 3)];
                const int c = triangles_[t][static_cast<size_t>((k + 2) % 3)];
                if (!fixed_.count(Key(a, b))) sides[Key(a, b)].push_back({t, c});
            }
        }
        return sides;
    }

    double InCircle(int a, int b, int c, int d) const
    {
        const double ax = P(a).x - P(d).x, ay = P(a).y - P(d).y;
        const double bx = P(b).x - P(d).x, by = P(b).y - P(d).y;
        const double cx = P(c).x - P(d).x, cy = P(c).y - P(d).y;
        return (ax * ax + ay * ay) * (bx * cy - cx * by) - (bx * bx + by * by) * (ax * cy - cx * ay) +
               (cx * cx + cy * cy) * (ax * by - bx * ay);
    }

    void Flip()
    {
        const size_t limit = 10 * in_.points.size() * in_.points.size() + 10;
        for (size_t round = 0; round < limit; ++round) {
            bool flipped = false;
            for (const auto& [edge, sides] : FreeEdges()) {
                if (sides.size() != 2) continue;
                const auto [t1, w] = sides[0];
                const auto [t2, x] = sides[1];
                // Triangle t1 is u, v, w counterclockwise; t2 lies right of u->v.
                const std::array<int, 3>& tri = triangles_[t1];
                const size_t k = static_cast<size_t>(std::find(tri.begin(), tri.end(), w) - tri.begin());
                const int u = tri[(k + 1) % 3];
                const int v = tri[(k + 2) % 3];
                const double s = scale_ * scale_;
                if (InCircle(u, v, w, x) <= kInCircle * s * s) continue;
                // The new diagonal w-x must separate u from v.
                if (Side(x, w, u) >= -kOnSegment * scale_ || Side(x, w, v) <= kOnSegment * scale_) continue;
                // Nor may a flip trade a clear diagonal for one that makes a sliver.
                if (Clearance(w, x) < std::min(kSliverClearance, Clearance(u, v))) continue;
                triangles_[t1] = {u, x, w};
                triangles_[t2] = {x, v, w};
                flipped = true;
                break;
            }
            if (!flipped) return;
        }
    }

    // Cosines of the four corners of a counterclockwise quadrilateral, or
    // false when it is not strictly convex.
    bool Corners(const std::array<int, 4>& q, std::array<double, 4>& cosines) const
    {
        for (size_t i = 0; i < 4; ++i) {
            const int prev = q[(i + 3) % 4], at = q[i], next = q[(i + 1) % 4];
            if (CsSplitOrient(P(prev), P(at), P(next)) <= 1e-6 * scale_ * scale_) return false;
            const double ux = P(prev).x - P(at).x, uy = P(prev).y - P(at).y;
            const double wx = P(next).x - P(at).x, wy = P(next).y - P(at).y;
            cosines[i] = (ux * wx + uy * wy) / (std::hypot(ux, uy) * std::hypot(wx, wy));
        }
        return true;
    }

    void Join(std::vector<std::vector<int>>& pieces)
    {
        struct Pair {
            double badness;
            size_t t1, t2;
            std::array<int, 4> quad;
        };
        std::vector<Pair> pairs;
        for (const auto& [edge, sides] : FreeEdges()) {
            if (sides.size() != 2) continue;
            const auto [t1, w] = sides[0];
            const auto [t2, x] = sides[1];
            const std::array<int, 3>& tri = triangles_[t1];
            const size_t k = static_cast<size_t>(std::find(tri.begin(), tri.end(), w) - tri.begin());
            const std::array<int, 4> quad{tri[(k + 1) % 3], x, tri[(k + 2) % 3], w};
            std::array<double, 4> cosines{};
            if (!Corners(quad, cosines)) continue;
            double badness = 0.0;
            bool flat = false;
            for (const double c : cosines) {
                flat = flat || c < kFlatCornerCos;
                badness = std::max(badness, std::fabs(c));
            }
            if (!flat) pairs.push_back({badness, t1, t2, quad});
        }
        std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.badness < b.badness; });
        std::vector<char> used(triangles_.size(), 0);
        for (const Pair& p : pairs) {
            if (used[p.t1] || used[p.t2]) continue;
            used[p.t1] = used[p.t2] = 1;
            pieces.push_back({p.quad.begin(), p.quad.end()});
        }
        for (size_t t = 0; t < triangles_.size(); ++t) {
            if (!used[t]) pieces.push_back({triangles_[t].begin(), triangles_[t].end()});
        }
    }

    const CsSplitInput& in_;
    double scale_ = 0.0;
    std::set<Edge> fixed_;
    std::vector<Edge> edges_;
    std::vector<std::array<int, 3>> triangles_;
};

}  // namespace

double CsSplitOrient(const CsSplitPoint& a, const CsSplitPoint& b, const CsSplitPoint& c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

double CsSplitArea(const CsSplitInput& in, const std::vector<int>& loop)
{
    double a = 0.0;
    const size_t n = loop.size();
    for (size_t i = 0; i < n; ++i) {
        const CsSplitPoint& u = in.points[static_cast<size_t>(loop[i])];
        const CsSplitPoint& v = in.points[static_cast<size_t>(loop[(i + 1) % n])];
        a += u.x * v.y - v.x * u.y;
    }
    return 0.5 * a;
}

bool CsSplitPolygon(const CsSplitInput& in, std::vector<std::vector<int>>& pieces)
{
    pieces.clear();
    Splitter splitter(in);
    if (splitter.Run(pieces)) return true;
    pieces.clear();
    return false;
}
