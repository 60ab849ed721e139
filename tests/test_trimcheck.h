// An independent reading of a trimmed dynain against the blank it came from:
// its own fixed-column parser and its own plane geometry, so that a fault in
// the program's geometry or writer cannot hide itself.
#ifndef TEST_TRIMCHECK_H
#define TEST_TRIMCHECK_H

#include "test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace trimcheck {

using P3 = std::array<double, 3>;
using P2 = std::array<double, 2>;

struct Shell {
    int id = 0;
    int pid = 0;
    std::vector<int> nodes;  // 3 or 4 distinct ids
    double thick = 0.0;
};

struct Dynain {
    std::map<int, P3> nodes;
    std::vector<Shell> shells;
    std::vector<std::array<int, 3>> adaptive;  // dependent, edge node 1, edge node 2
    std::map<int, std::vector<std::string>> stress;  // id -> header rest and lines
    std::map<int, std::vector<std::string>> strain;
    std::map<int, std::string> spc;  // node id -> the rest of its boundary constraint card
    int maxNode = 0;
    int maxElem = 0;
};

inline int Col(const std::string& line, size_t at, size_t width)
{
    if (at >= line.size()) return 0;
    return std::atoi(line.substr(at, width).c_str());
}

inline double ColD(const std::string& line, size_t at, size_t width)
{
    if (at >= line.size()) return 0.0;
    return std::atof(line.substr(at, width).c_str());
}

inline Dynain Parse(const std::string& text)
{
    Dynain d;
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '$') continue;
        lines.push_back(line);
    }
    std::string section;
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        if (!line.empty() && line[0] == '*') {
            section = line;
            continue;
        }
        if (section == "*NODE") {
            const int id = Col(line, 0, 8);
            d.nodes[id] = {ColD(line, 8, 16), ColD(line, 24, 16), ColD(line, 40, 16)};
            d.maxNode = std::max(d.maxNode, id);
        } else if (section.rfind("*ELEMENT_SHELL", 0) == 0) {
            Shell s;
            s.id = Col(line, 0, 8);
            s.pid = Col(line, 8, 8);
            for (int i = 0; i < 4; ++i) {
                const int n = Col(line, 16 + 8 * static_cast<size_t>(i), 8);
                if (std::find(s.nodes.begin(), s.nodes.end(), n) == s.nodes.end()) s.nodes.push_back(n);
            }
            if (section.find("THICKNESS") != std::string::npos && k + 1 < lines.size()) {
                // The fourth value is the one an element keeps.
                s.thick = ColD(lines[++k], 48, 16);
            }
            d.maxElem = std::max(d.maxElem, s.id);
            d.shells.push_back(s);
        } else if (section == "*BOUNDARY_SPC_NODE") {
            d.spc[Col(line, 0, 10)] = line.substr(std::min<size_t>(10, line.size()));
        } else if (section == "*CONSTRAINED_ADAPTIVITY") {
            d.adaptive.push_back({Col(line, 0, 10), Col(line, 10, 10), Col(line, 20, 10)});
        } else if (section == "*INITIAL_STRESS_SHELL") {
            const int id = Col(line, 0, 10);
            const int nplane = Col(line, 10, 10);
            const int nthick = Col(line, 20, 10);
            const int nhisv = Col(line, 30, 10);
            const int count = nplane * nthick * (1 + (nhisv + 7) / 8);
            // The header's counts only: a trailing field of the input may be dropped.
            std::vector<std::string> record{line.substr(std::min<size_t>(10, line.size()), 30)};
            for (int i = 0; i < count && k + 1 < lines.size(); ++i) record.push_back(lines[++k]);
            d.stress[id] = record;
        } else if (section == "*INITIAL_STRAIN_SHELL") {
            const int id = Col(line, 0, 10);
            std::vector<std::string> record;
            for (int i = 0; i < 2 && k + 1 < lines.size(); ++i) record.push_back(lines[++k]);
            d.strain[id] = record;
        }
    }
    return d;
}

inline Dynain ParseFile(const std::string& path) { return Parse(testutil::ReadFile(path)); }

// ------------------------------------------------------------ plane geometry

using Poly = std::vector<P2>;

inline double SignedArea(const Poly& p)
{
    double a = 0.0;
    for (size_t i = 0; i < p.size(); ++i) {
        const P2& u = p[i];
        const P2& v = p[(i + 1) % p.size()];
        a += u[0] * v[1] - v[0] * u[1];
    }
    return 0.5 * a;
}

// The part of any simple polygon inside a convex, anticlockwise window
// (Sutherland-Hodgman); its area is exact even where the result folds.
inline Poly ClipByConvex(Poly subject, const Poly& window)
{
    for (size_t i = 0; i < window.size() && !subject.empty(); ++i) {
        const P2 a = window[i];
        const P2 b = window[(i + 1) % window.size()];
        const auto side = [&](const P2& p) { return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]); };
        Poly out;
        for (size_t j = 0; j < subject.size(); ++j) {
            const P2 p = subject[j];
            const P2 q = subject[(j + 1) % subject.size()];
            const double sp = side(p);
            const double sq = side(q);
            if (sp >= 0) out.push_back(p);
            if ((sp >= 0) != (sq >= 0)) {
                const double t = sp / (sp - sq);
                out.push_back({p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])});
            }
        }
        subject = out;
    }
    return subject;
}

// Area of a convex anticlockwise polygon that lies inside a closed curve.
inline double AreaInside(const Poly& convex, const Poly& curve)
{
    Poly c = curve;
    if (SignedArea(c) < 0) std::reverse(c.begin(), c.end());
    return std::fabs(SignedArea(ClipByConvex(c, convex)));
}

inline double SegDist(const P2& p, const P2& a, const P2& b)
{
    const double dx = b[0] - a[0];
    const double dy = b[1] - a[1];
    const double l2 = dx * dx + dy * dy;
    double t = l2 > 0 ? ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / l2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p[0] - a[0] - t * dx, p[1] - a[1] - t * dy);
}

inline double DistToCurve(const P2& p, const Poly& curve)
{
    double best = 1e300;
    for (size_t i = 0; i + 1 < curve.size(); ++i) best = std::min(best, SegDist(p, curve[i], curve[i + 1]));
    return best;
}

inline bool Inside(const P2& p, const Poly& curve)
{
    bool in = false;
    for (size_t i = 0, j = curve.size() - 1; i < curve.size(); j = i++) {
        const P2& a = curve[i];
        const P2& b = curve[j];
        if ((a[1] > p[1]) != (b[1] > p[1]) && p[0] < (b[0] - a[0]) * (p[1] - a[1]) / (b[1] - a[1]) + a[0]) in = !in;
    }
    return in;
}

inline Poly PolyOf(const Dynain& d, const Shell& s)
{
    Poly p;
    for (const int n : s.nodes) p.push_back({d.nodes.at(n)[0], d.nodes.at(n)[1]});
    return p;
}

inline P2 Centroid(const Poly& p)
{
    P2 c{0, 0};
    for (const P2& q : p) {
        c[0] += q[0] / static_cast<double>(p.size());
        c[1] += q[1] / static_cast<double>(p.size());
    }
    return c;
}

// ------------------------------------------------------------ invariants

// Ids, node use and element shape of any output, against its input.
inline void ExpectSoundMesh(const Dynain& in, const Dynain& out)
{
    std::set<int> used;
    std::set<int> ids;
    for (const Shell& s : out.shells) {
        EXPECT_TRUE(ids.insert(s.id).second) << "element id " << s.id << " written twice";
        EXPECT_TRUE(s.nodes.size() == 3 || s.nodes.size() == 4) << "element " << s.id << " has " << s.nodes.size()
                                                                 << " distinct nodes";
        for (const int n : s.nodes) {
            EXPECT_TRUE(out.nodes.count(n)) << "element " << s.id << " uses unwritten node " << n;
            used.insert(n);
        }
        if (!in.shells.empty() && s.id > in.maxElem) continue;
        const bool known = std::any_of(in.shells.begin(), in.shells.end(), [&](const Shell& t) { return t.id == s.id; });
        EXPECT_TRUE(known) << "element " << s.id << " is neither an input element nor above the input's ids";
    }
    for (const auto& [id, p] : out.nodes) {
        EXPECT_TRUE(used.count(id)) << "node " << id << " is written but used by no element";
        if (!in.nodes.count(id)) {
            EXPECT_GT(id, in.maxNode) << "new node " << id << " does not lie above the input's ids";
        }
    }
    for (const auto& c : out.adaptive) {
        for (const int n : c) EXPECT_TRUE(out.nodes.count(n)) << "constraint names unwritten node " << n;
        if (!out.nodes.count(c[0]) || !out.nodes.count(c[1]) || !out.nodes.count(c[2])) continue;
        const P3& d = out.nodes.at(c[0]);
        const P3& a = out.nodes.at(c[1]);
        const P3& b = out.nodes.at(c[2]);
        const double len = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
        const double off = std::hypot(d[0] - 0.5 * (a[0] + b[0]), d[1] - 0.5 * (a[1] + b[1]), d[2] - 0.5 * (a[2] + b[2]));
        EXPECT_LT(off, 1e-6 * std::max(1.0, len)) << "hanging node " << c[0] << " is off the middle of its edge";
        int owners = 0;
        for (const Shell& s : out.shells) {
            for (size_t i = 0; i < s.nodes.size(); ++i) {
                const int u = s.nodes[i];
                const int v = s.nodes[(i + 1) % s.nodes.size()];
                if ((u == c[1] && v == c[2]) || (u == c[2] && v == c[1])) ++owners;
            }
        }
        EXPECT_EQ(owners, 1) << "coarse edge " << c[1] << "-" << c[2] << " of hanging node " << c[0];
    }
}

// The mesh closes up. Every edge is used by two elements in opposite
// directions or lies on the outer boundary: along a free edge of the input or
// on the cut (onCut judges an edge by its end points). A coarse edge with a
// hanging node counts as its two halves. No two nodes share a point unless
// the input had them there already, or, for a slit, both lie on the cut.
using EdgeTest = std::function<bool(const P3&, const P3&)>;

inline double SegDist3(const P3& p, const P3& a, const P3& b)
{
    const P3 d{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double l2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double t =
        l2 > 0
            ? std::clamp(((p[0] - a[0]) * d[0] + (p[1] - a[1]) * d[1] + (p[2] - a[2]) * d[2]) / l2, 0.0, 1.0)
            : 0.0;
    return std::hypot(p[0] - a[0] - t * d[0], p[1] - a[1] - t * d[1], p[2] - a[2] - t * d[2]);
}

// Directed edges with every coarse edge replaced by its halves; a count per
// edge, so that an edge used twice the same way shows.
inline std::map<std::pair<int, int>, int> DirectedEdges(const Dynain& d)
{
    std::map<std::pair<int, int>, int> hanging;
    for (const auto& c : d.adaptive) hanging[{std::min(c[1], c[2]), std::max(c[1], c[2])}] = c[0];
    std::map<std::pair<int, int>, int> edges;
    for (const Shell& s : d.shells) {
        std::vector<std::pair<int, int>> todo;
        for (size_t i = 0; i < s.nodes.size(); ++i)
            todo.push_back({s.nodes[i], s.nodes[(i + 1) % s.nodes.size()]});
        while (!todo.empty()) {
            const auto [u, v] = todo.back();
            todo.pop_back();
            const auto m = hanging.find({std::min(u, v), std::max(u, v)});
            if (m == hanging.end()) {
                ++edges[{u, v}];
            } else {
                todo.push_back({u, m->second});
                todo.push_back({m->second, v});
            }
        }
    }
    return edges;
}

inline void ExpectClosedMesh(const Dynain& in, const Dynain& out, double h, const EdgeTest& onCut,
                             bool slit = false)
{
    std::vector<std::array<P3, 2>> free;
    const auto inEdges = DirectedEdges(in);
    for (const auto& [e, n] : inEdges) {
        if (!inEdges.count({e.second, e.first}))
            free.push_back({in.nodes.at(e.first), in.nodes.at(e.second)});
    }
    // A node moved along the outline leaves an edge that spans parts of two
    // free input edges: its ends and its middle each lie on one of them.
    const auto onFreeAt = [&](const P3& p) {
        return std::any_of(free.begin(), free.end(), [&](const auto& f) { return SegDist3(p, f[0], f[1]) < 1e-4 * h; });
    };
    const auto onFree = [&](const P3& a, const P3& b) {
        const P3 m{0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1]), 0.5 * (a[2] + b[2])};
        return onFreeAt(a) && onFreeAt(b) && onFreeAt(m);
    };
    const auto outEdges = DirectedEdges(out);
    std::multimap<int, int> openFrom, openTo;
    for (const auto& [e, n] : outEdges) {
        if (!outEdges.count({e.second, e.first})) {
            openFrom.emplace(e.first, e.second);
            openTo.emplace(e.second, e.first);
        }
    }
    // A hanging node whose coarse element went stays at the middle of the
    // coarse edge: the two halves make one chord of the cut.
    const auto halfOfCut = [&](int u, int v) {
        const auto chord = [&](int a, int m, int b) {
            return out.nodes.count(a) && out.nodes.count(b) &&
                   SegDist3(out.nodes.at(m), out.nodes.at(a), out.nodes.at(b)) < 1e-6 * h &&
                   onCut(out.nodes.at(a), out.nodes.at(b));
        };
        for (auto [it, end] = openFrom.equal_range(v); it != end; ++it)
            if (chord(u, v, it->second)) return true;
        for (auto [it, end] = openTo.equal_range(u); it != end; ++it)
            if (chord(it->second, u, v)) return true;
        return false;
    };
    for (const auto& [e, n] : outEdges) {
        const int back = outEdges.count({e.second, e.first}) ? outEdges.at({e.second, e.first}) : 0;
        EXPECT_TRUE(n == 1 && back <= 1) << "edge " << e.first << "-" << e.second << " used " << n
                                         << " times this way, " << back << " the other";
        if (back > 0 || !out.nodes.count(e.first) || !out.nodes.count(e.second)) continue;
        const P3& a = out.nodes.at(e.first);
        const P3& b = out.nodes.at(e.second);
        EXPECT_TRUE(onFree(a, b) || onCut(a, b) || halfOfCut(e.first, e.second))
            << "open edge " << e.first << "-" << e.second << " from " << a[0] << "," << a[1] << "," << a[2]
            << " to " << b[0] << "," << b[1] << "," << b[2];
    }
    std::vector<std::pair<P3, int>> points;
    for (const auto& [id, p] : out.nodes) points.push_back({p, id});
    std::sort(points.begin(), points.end());
    for (size_t i = 0; i < points.size(); ++i) {
        for (size_t j = i + 1; j < points.size() && points[j].first[0] - points[i].first[0] < 1e-6 * h; ++j) {
            const P3& p = points[i].first;
            const P3& q = points[j].first;
            if (std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) >= 1e-6 * h) continue;
            const int u = points[i].second, v = points[j].second;
            const bool before = in.nodes.count(u) && in.nodes.count(v) && in.nodes.at(u) == in.nodes.at(v);
            EXPECT_TRUE(before || (slit && onCut(p, q)))
                << "nodes " << u << " and " << v << " both at " << p[0] << "," << p[1] << "," << p[2];
        }
    }
}

// The region a trim keeps, seen along z: inside every trim-out curve and
// outside every hole.
struct FlatJob {
    std::vector<Poly> keepInside;  // trim-out curves
    std::vector<Poly> removeInside;  // hole curves
};

inline bool KeptPoint(const FlatJob& job, const P2& p)
{
    for (const Poly& c : job.keepInside)
        if (!Inside(p, c)) return false;
    for (const Poly& c : job.removeInside)
        if (Inside(p, c)) return false;
    return true;
}

// Whether a closed curve turns by more than 30 degrees at its vertex k.
inline bool SharpAt(const Poly& c, size_t k)
{
    const size_t n = c.size() - 1;  // closed: the last point repeats the first
    const P2& a = c[(k + n - 1) % n];
    const P2& v = c[k % n];
    const P2& b = c[(k + 1) % n];
    const double ux = v[0] - a[0], uy = v[1] - a[1], wx = b[0] - v[0], wy = b[1] - v[1];
    return (ux * wx + uy * wy) / (std::hypot(ux, uy) * std::hypot(wx, wy)) < 0.866;
}

// The sharp corners of the curves (turning by more than 30 degrees), each
// with the height of the input element it lies in: the cutter may put a
// corner's node on that element's nearest edge, up to a fifth of the height
// off the corner. A coarse element of an adaptive blank allows more than the
// blank's typical one (h); h stays the least, since the element cut at the
// corner may be a coarser neighbour of the one holding it.
struct SharpCorners {
    SharpCorners(const Dynain& in, const FlatJob& job, double h)
    {
        for (const auto* list : {&job.keepInside, &job.removeInside}) {
            for (const Poly& c : *list) {
                for (size_t i = 0; i + 1 < c.size(); ++i) {
                    if (!SharpAt(c, i)) continue;
                    double height = 0.0;
                    for (const Shell& s : in.shells) {
                        const Poly e = PolyOf(in, s);
                        if (!Inside(c[i], e)) continue;
                        double longest = 0.0;
                        for (size_t k = 0; k < e.size(); ++k) {
                            const P2& a = e[k];
                            const P2& b = e[(k + 1) % e.size()];
                            longest = std::max(longest, std::hypot(b[0] - a[0], b[1] - a[1]));
                        }
                        height = std::fabs(SignedArea(e)) * (e.size() == 3 ? 2.0 : 1.0) / longest;
                    }
                    at.push_back({c[i], std::max(height, h)});
                }
            }
        }
    }
    // The height at the sharp corner p lies within share of it, or 0.
    double Near(const P2& p, double share) const
    {
        for (const auto& [c, height] : at) {
            if (std::hypot(p[0] - c[0], p[1] - c[1]) < share * height) return height;
        }
        return 0.0;
    }
    std::vector<std::pair<P2, double>> at;
};

// The largest distance of a closed curve from its chords no longer than d
// that pass over no sharp vertex: how far a cut that crosses an element on one
// straight chord may stray from the curve. Each vertex is judged against the
// chord between the points half of d before and after it along the curve.
inline double Sag(const Poly& c, double d)
{
    const size_t n = c.size() - 1;
    const auto at = [&](size_t k) { return c[k % n]; };
    const auto walk = [&](size_t k, bool forward, std::vector<P2>& passed) {
        double left = 0.5 * d;
        for (size_t step = 0; step < n; ++step) {
            const size_t from = forward ? k + step : k + n - step;
            const size_t to = forward ? from + 1 : from - 1;
            const P2 p = at(from), q = at(to);
            const double l = std::hypot(q[0] - p[0], q[1] - p[1]);
            if (l >= left || SharpAt(c, to)) {
                const double t = std::min(1.0, left / l);
                return P2{p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])};
            }
            left -= l;
            passed.push_back(q);
        }
        return at(k);
    };
    double worst = 0.0;
    for (size_t k = 0; k < n; ++k) {
        if (SharpAt(c, k)) continue;
        std::vector<P2> passed{at(k)};
        const P2 a = walk(k, false, passed);
        const P2 b = walk(k, true, passed);
        for (const P2& p : passed) worst = std::max(worst, SegDist(p, a, b));
    }
    return worst;
}

// How far the kept area may stray from the exact one. Inside an element the
// cut runs straight from crossing to crossing and keeps only the vertices
// where the curve turns by more than 30 degrees, so it strays from the curve
// by the sag of chords about as long as an element edge (a chord along a
// whole diagonal stays within one element), and between a gently curving arc
// and its chord lies two thirds of sag times chord. Nodes snapped onto the
// curve add nothing: they lie on it. A sharp corner costs more: its node may
// sit at the foot on the nearest element edge, up to a fifth of the element's
// height off the corner, which shifts under two hundredths of an element.
inline double ChordTolerance(const Dynain& in, const FlatJob& job, double h)
{
    double longest = 0.0;
    for (const Shell& s : in.shells) {
        const Poly e = PolyOf(in, s);
        for (size_t i = 0; i < e.size(); ++i) {
            longest = std::max(longest, std::hypot(e[i][0] - e[(i + 1) % e.size()][0], e[i][1] - e[(i + 1) % e.size()][1]));
        }
    }
    double tolerance = 0.0;
    for (const auto* list : {&job.keepInside, &job.removeInside}) {
        for (const Poly& c : *list) {
            double length = 0.0;
            for (size_t i = 0; i + 1 < c.size(); ++i) length += std::hypot(c[i + 1][0] - c[i][0], c[i + 1][1] - c[i][1]);
            tolerance += 2.0 / 3.0 * Sag(c, longest) * length;
        }
    }
    for (const auto& corner : SharpCorners(in, job, h).at) tolerance += 0.02 * corner.second * corner.second;
    return tolerance;
}

// The curves may not overlap one another: each hole lies inside every
// trim-out curve or outside all of them. Trim-out curves may overlap when all
// of them are convex.
inline double KeptAreaOf(const Dynain& in, const FlatJob& job, const Shell& s)
{
    Poly e = PolyOf(in, s);
    if (SignedArea(e) < 0) std::reverse(e.begin(), e.end());
    double kept = std::fabs(SignedArea(e));
    if (job.keepInside.size() > 1) {
        Poly piece = e;
        for (Poly window : job.keepInside) {
            if (SignedArea(window) < 0) std::reverse(window.begin(), window.end());
            piece = ClipByConvex(piece, window);
        }
        kept = std::fabs(SignedArea(piece));
    }
    for (const Poly& c : job.keepInside) kept = std::min(kept, AreaInside(e, c));
    for (const Poly& c : job.removeInside) kept -= AreaInside(e, c);
    return std::max(0.0, kept);
}

inline double ExactKeptArea(const Dynain& in, const FlatJob& job)
{
    double total = 0.0;
    for (const Shell& s : in.shells) total += KeptAreaOf(in, job, s);
    return total;
}

}  // namespace trimcheck

#endif
