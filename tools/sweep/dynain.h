// An independent reading of a dynain: its own fixed-column parser and its own
// plane geometry, so that a fault in the program's geometry or writer cannot
// hide itself from the judge of cuts.
#ifndef SWEEP_DYNAIN_H
#define SWEEP_DYNAIN_H

#include "files.h"

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

inline Dynain ParseFile(const std::string& path) { return Parse(sweepio::ReadFile(path)); }

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
