// What the judge of a cut reads and measures with: the job's curves, the
// input mesh in plan view with its buckets for nearness, and plain plane
// geometry. It shares nothing with the program's own geometry.
#ifndef SWEEP_CUTJUDGE_PLAN_H
#define SWEEP_CUTJUDGE_PLAN_H

#include "dynain.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace cutjudge {

using trimcheck::Dynain;
using trimcheck::P2;
using trimcheck::P3;
using trimcheck::Poly;
using trimcheck::Shell;

enum class Op { kTrim2D, kTrim3D, kLance2D, kLance3D };

inline const char* OpName(Op op)
{
    switch (op) {
        case Op::kTrim2D:
            return "trim2d";
        case Op::kTrim3D:
            return "trim3d";
        case Op::kLance2D:
            return "lance2d";
        case Op::kLance3D:
            return "lance3d";
    }
    return "?";
}

inline bool IsLance(Op op)
{
    return op == Op::kLance2D || op == Op::kLance3D;
}
inline bool Is3D(Op op)
{
    return op == Op::kTrim3D || op == Op::kLance3D;
}

// One curve card: 2D curves have z = 0; a closed curve repeats its first point.
struct Curve {
    Op op = Op::kTrim2D;
    int flag = -1;  // 2D trims: -1 keeps the inside, 1 removes it
    std::vector<P3> points;
    int seed = 0;  // 3D trims: the input node whose side is kept
};

// Every curve of a job does the same operation.
struct Job {
    std::vector<Curve> curves;
    // Refined before the cut: new nodes off the new boundary may sit at
    // element centres and midsides.
    bool refined = false;
    Op op() const { return curves.empty() ? Op::kTrim2D : curves.front().op; }
};

inline std::string Fixed(double v, int decimals = 3)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

inline std::string At(const P3& p)
{
    return "(" + Fixed(p[0], 4) + ", " + Fixed(p[1], 4) + ", " + Fixed(p[2], 4) + ")";
}

inline std::string At(const P2& p)
{
    return "(" + Fixed(p[0], 4) + ", " + Fixed(p[1], 4) + ")";
}

inline P2 Plan(const P3& p)
{
    return {p[0], p[1]};
}

// The program keeps coordinates in single precision: a node it did not move
// may come back rounded to float.
inline bool SamePoint(const P3& a, const P3& b)
{
    for (int k = 0; k < 3; ++k)
        if (std::fabs(a[k] - b[k]) > 3e-7 * std::max(std::fabs(a[k]), std::fabs(b[k])) + 1e-9) return false;
    return true;
}

inline double Dist(const P2& a, const P2& b)
{
    return std::hypot(a[0] - b[0], a[1] - b[1]);
}

inline double Cross(const P2& o, const P2& a, const P2& b)
{
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// ------------------------------------------------------------ plane buckets

// Items by the square cells their boxes touch, for nearness queries on
// meshes of any layout.
class Buckets {
public:
    Buckets() = default;
    Buckets(double x0, double y0, double x1, double y1, double cell)
        : x0_(x0), y0_(y0), cell_(std::max(cell, 1e-9))
    {
        nx_ = std::clamp(static_cast<int>((x1 - x0) / cell_) + 1, 1, 4096);
        ny_ = std::clamp(static_cast<int>((y1 - y0) / cell_) + 1, 1, 4096);
        cells_.resize(static_cast<size_t>(nx_) * static_cast<size_t>(ny_));
    }
    void Add(int item, double xa, double ya, double xb, double yb)
    {
        ForCells(xa, ya, xb, yb, [&](size_t c) { cells_[c].push_back(item); });
    }
    // Calls f for each item in a cell the box touches; an item may come twice.
    template <typename F>
    void Visit(double xa, double ya, double xb, double yb, F f) const
    {
        ForCells(xa, ya, xb, yb, [&](size_t c) {
            for (const int i : cells_[c]) f(i);
        });
    }

private:
    template <typename F>
    void ForCells(double xa, double ya, double xb, double yb, F f) const
    {
        if (cells_.empty()) return;
        const int i0 = Index(xa, x0_, nx_), i1 = Index(xb, x0_, nx_);
        const int j0 = Index(ya, y0_, ny_), j1 = Index(yb, y0_, ny_);
        for (int j = j0; j <= j1; ++j)
            for (int i = i0; i <= i1; ++i)
                f(static_cast<size_t>(j) * static_cast<size_t>(nx_) + static_cast<size_t>(i));
    }
    int Index(double v, double origin, int n) const
    {
        const double k = std::floor((v - origin) / cell_);
        return static_cast<int>(std::clamp(k, 0.0, static_cast<double>(n - 1)));
    }
    double x0_ = 0, y0_ = 0, cell_ = 1;
    int nx_ = 0, ny_ = 0;
    std::vector<std::vector<int>> cells_;
};

// Plane segments with their nearness queries.
class Segments {
public:
    Segments() = default;
    Segments(std::vector<std::array<P2, 2>> segments, double cell) : seg_(std::move(segments))
    {
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (const auto& s : seg_)
            for (const P2& p : s)
                x0 = std::min(x0, p[0]), y0 = std::min(y0, p[1]), x1 = std::max(x1, p[0]),
                y1 = std::max(y1, p[1]);
        if (seg_.empty()) return;
        index_ = Buckets(x0, y0, x1, y1, cell);
        for (size_t i = 0; i < seg_.size(); ++i) {
            const auto& s = seg_[i];
            index_.Add(static_cast<int>(i), std::min(s[0][0], s[1][0]), std::min(s[0][1], s[1][1]),
                       std::max(s[0][0], s[1][0]), std::max(s[0][1], s[1][1]));
        }
    }
    // The distance to the nearest segment, or `within` when none is nearer.
    double Nearest(const P2& p, double within) const
    {
        double best = within;
        index_.Visit(p[0] - within, p[1] - within, p[0] + within, p[1] + within, [&](int i) {
            best = std::min(best, trimcheck::SegDist(p, seg_[static_cast<size_t>(i)][0],
                                                     seg_[static_cast<size_t>(i)][1]));
        });
        return best;
    }
    // The segments within r of p, each once.
    std::vector<int> Near(const P2& p, double r) const
    {
        std::set<int> found;
        index_.Visit(p[0] - r, p[1] - r, p[0] + r, p[1] + r, [&](int i) {
            if (trimcheck::SegDist(p, seg_[static_cast<size_t>(i)][0], seg_[static_cast<size_t>(i)][1]) <= r)
                found.insert(i);
        });
        return {found.begin(), found.end()};
    }
    const std::array<P2, 2>& operator[](size_t i) const { return seg_[i]; }
    size_t size() const { return seg_.size(); }

private:
    std::vector<std::array<P2, 2>> seg_;
    Buckets index_;
};

// The unit normal of an element, its corners taken in order; zero for one with no area.
inline P3 UnitNormal(const Dynain& d, const Shell& s)
{
    P3 area{0, 0, 0};
    for (size_t k = 0; k < s.nodes.size(); ++k) {
        const P3& a = d.nodes.at(s.nodes[k]);
        const P3& b = d.nodes.at(s.nodes[(k + 1) % s.nodes.size()]);
        area[0] += a[1] * b[2] - a[2] * b[1];
        area[1] += a[2] * b[0] - a[0] * b[2];
        area[2] += a[0] * b[1] - a[1] * b[0];
    }
    const double length = std::hypot(area[0], area[1], area[2]);
    if (length == 0.0) return area;
    return {area[0] / length, area[1] / length, area[2] / length};
}

// ------------------------------------------------------------ the input mesh

// The input seen along z: its elements, their sizes, and its outline.
class PlanMesh {
public:
    explicit PlanMesh(const Dynain& d) : d_(d)
    {
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        std::vector<double> edges;
        for (const Shell& s : d.shells) {
            Poly p = trimcheck::PolyOf(d, s);
            double longest = 0.0;
            for (size_t i = 0; i < p.size(); ++i) {
                const double l = Dist(p[i], p[(i + 1) % p.size()]);
                longest = std::max(longest, l);
                edges.push_back(l);
                x0 = std::min(x0, p[i][0]), y0 = std::min(y0, p[i][1]), x1 = std::max(x1, p[i][0]),
                y1 = std::max(y1, p[i][1]);
            }
            poly_.push_back(p);
            longest_.push_back(longest);
            area_.push_back(trimcheck::SignedArea(p));
        }
        std::sort(edges.begin(), edges.end());
        h_ = edges.empty() ? 1.0 : edges[edges.size() / 2];
        index_ = Buckets(x0, y0, x1, y1, h_);
        for (size_t e = 0; e < poly_.size(); ++e) {
            double a = 1e300, b = 1e300, c = -1e300, f = -1e300;
            for (const P2& p : poly_[e])
                a = std::min(a, p[0]), b = std::min(b, p[1]), c = std::max(c, p[0]), f = std::max(f, p[1]);
            index_.Add(static_cast<int>(e), a, b, c, f);
        }
        std::vector<std::array<P2, 2>> outline;
        const auto edgesIn = trimcheck::DirectedEdges(d);
        for (const auto& [e, n] : edgesIn) {
            if (!edgesIn.count({e.second, e.first}))
                outline.push_back({Plan(d.nodes.at(e.first)), Plan(d.nodes.at(e.second))});
        }
        outline_ = Segments(outline, h_);
        std::vector<std::array<P2, 2>> all;
        for (const Poly& p : poly_)
            for (size_t i = 0; i < p.size(); ++i) all.push_back({p[i], p[(i + 1) % p.size()]});
        edges_ = Segments(all, h_);
    }

    double h() const { return h_; }
    size_t size() const { return poly_.size(); }
    const Poly& poly(size_t e) const { return poly_[e]; }
    double area(size_t e) const { return area_[e]; }
    double longest(size_t e) const { return longest_[e]; }
    const Shell& shell(size_t e) const { return d_.shells[e]; }
    const Segments& outline() const { return outline_; }
    const Segments& edges() const { return edges_; }

    // The elements holding p, or lying within tol of it.
    std::vector<int> Holding(const P2& p, double tol = 0.0) const
    {
        std::set<int> found;
        index_.Visit(p[0] - tol, p[1] - tol, p[0] + tol, p[1] + tol, [&](int e) {
            const Poly& q = poly_[static_cast<size_t>(e)];
            bool in = trimcheck::Inside(p, q);
            for (size_t i = 0; i < q.size() && !in && tol > 0.0; ++i)
                in = trimcheck::SegDist(p, q[i], q[(i + 1) % q.size()]) <= tol;
            if (in) found.insert(e);
        });
        return {found.begin(), found.end()};
    }
    bool OnBlank(const P2& p) const { return !Holding(p, 1e-9 * h_).empty(); }
    // The size of an element at p: the longest edge of the largest element
    // holding it (the coarse side on a refinement border), or the typical one.
    double SizeAt(const P2& p) const
    {
        double size = 0.0;
        for (const int e : Holding(p, 1e-6 * h_)) size = std::max(size, longest_[static_cast<size_t>(e)]);
        return size > 0.0 ? size : h_;
    }
    // How far a point lies from the input's surface, where it lies over the
    // input; 0 elsewhere. Triangles of both diagonals of a quadrilateral
    // are tried, so a slightly warped element takes either.
    // The unit normals of the elements over p.
    // The normals of the elements at p, or within tol of it.
    std::vector<P3> NormalsAt(const P2& p, double tol = 0.0) const
    {
        std::vector<P3> normals;
        for (const int e : Holding(p, std::max(tol, 1e-6 * h_))) {
            const P3 n = UnitNormal(d_, d_.shells[static_cast<size_t>(e)]);
            if (n[0] != 0.0 || n[1] != 0.0 || n[2] != 0.0) normals.push_back(n);
        }
        return normals;
    }

    double SurfaceGap(const P3& p) const
    {
        double best = 1e300;
        bool over = false;
        for (const int e : Holding(Plan(p), 1e-6 * h_)) {
            const Shell& s = d_.shells[static_cast<size_t>(e)];
            const size_t n = s.nodes.size();
            for (size_t first = 0; first < (n == 4 ? 2u : 1u); ++first) {
                for (size_t k = 1; k + 1 < n; ++k) {
                    const P3& a = d_.nodes.at(s.nodes[first]);
                    const P3& b = d_.nodes.at(s.nodes[(first + k) % n]);
                    const P3& c = d_.nodes.at(s.nodes[(first + k + 1) % n]);
                    const double det = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
                    if (std::fabs(det) < 1e-30) continue;
                    const double u = ((p[0] - a[0]) * (c[1] - a[1]) - (p[1] - a[1]) * (c[0] - a[0])) / det;
                    const double v = ((b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])) / det;
                    if (u < -1e-6 || v < -1e-6 || u + v > 1 + 1e-6) continue;
                    over = true;
                    // Measured across the triangle, not along z: on a steep wall a
                    // small slip along the surface is a large step in z.
                    const P3 ab{b[0] - a[0], b[1] - a[1], b[2] - a[2]},
                        ac{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
                    const P3 up{ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2],
                                ab[0] * ac[1] - ab[1] * ac[0]};
                    const double length = std::hypot(up[0], up[1], up[2]);
                    const double z = a[2] + u * (b[2] - a[2]) + v * (c[2] - a[2]);
                    best = std::min(best, std::fabs(z - p[2]) * std::fabs(up[2]) / length);
                }
            }
            if (n == 4 && over) best = std::min(best, BilinearGap(s, p));
        }
        return over ? best : 0.0;
    }

    // How far p lies from the bilinear surface of a quadrilateral, across it
    // (the program lays points inside a warped element on that surface).
    double BilinearGap(const Shell& s, const P3& p) const
    {
        double u = 0.0, v = 0.0;
        if (!BilinearUV(s, {p[0], p[1]}, u, v) || u < -1e-6 || u > 1 + 1e-6 || v < -1e-6 || v > 1 + 1e-6) return 1e300;
        const Corners c = CornersOf(s);
        const P3 a{Du(c, v, 0), Du(c, v, 1), Du(c, v, 2)}, b{Dv(c, u, 0), Dv(c, u, 1), Dv(c, u, 2)};
        const P3 up{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        const double length = std::hypot(up[0], up[1], up[2]);
        return length > 0.0 ? std::fabs(Mix(c, u, v, 2) - p[2]) * std::fabs(up[2]) / length : 1e300;
    }

    // The height of a quadrilateral's bilinear surface over plan point p (a
    // point just off the element on the surface carried on); false when the
    // element stands on edge in plan there.
    bool BilinearHeight(const Shell& s, const P2& p, double& z) const
    {
        double u = 0.0, v = 0.0;
        if (!BilinearUV(s, p, u, v) || u < -0.5 || u > 1.5 || v < -0.5 || v > 1.5) return false;
        z = Mix(CornersOf(s), u, v, 2);
        return true;
    }

private:
    using Corners = std::array<P3, 4>;
    Corners CornersOf(const Shell& s) const
    {
        Corners c;
        for (size_t k = 0; k < 4; ++k) c[k] = d_.nodes.at(s.nodes[k]);
        return c;
    }
    static double Mix(const Corners& c, double u, double v, int i)
    {
        return (1 - u) * (1 - v) * c[0][i] + u * (1 - v) * c[1][i] + u * v * c[2][i] + (1 - u) * v * c[3][i];
    }
    static double Du(const Corners& c, double v, int i) { return (1 - v) * (c[1][i] - c[0][i]) + v * (c[2][i] - c[3][i]); }
    static double Dv(const Corners& c, double u, int i) { return (1 - u) * (c[3][i] - c[0][i]) + u * (c[2][i] - c[1][i]); }
    // Where the bilinear surface lies over plan point p, by its parameters.
    bool BilinearUV(const Shell& s, const P2& p, double& u, double& v) const
    {
        const Corners c = CornersOf(s);
        u = 0.5;
        v = 0.5;
        for (int it = 0; it < 30; ++it) {
            const double det = Du(c, v, 0) * Dv(c, u, 1) - Du(c, v, 1) * Dv(c, u, 0);
            if (det == 0.0) return false;
            const double rx = p[0] - Mix(c, u, v, 0), ry = p[1] - Mix(c, u, v, 1);
            const double su = (rx * Dv(c, u, 1) - ry * Dv(c, u, 0)) / det, sv = (Du(c, v, 0) * ry - Du(c, v, 1) * rx) / det;
            u += su;
            v += sv;
        }
        return true;
    }

    const Dynain& d_;
    std::vector<Poly> poly_;
    std::vector<double> longest_;
    std::vector<double> area_;
    double h_ = 1.0;
    Buckets index_;
    Segments outline_;
    Segments edges_;
};

// ------------------------------------------------------------ the curves

struct PlanCurve {
    Poly points;
    bool closed = false;
    std::vector<size_t> sharp;  // vertices where the curve turns by more than 30 degrees
};

// Whether the curve turns by more than 30 degrees at vertex k (an open
// curve's ends do not turn).
inline bool TurnsSharply(const PlanCurve& c, size_t k)
{
    if (c.closed) return trimcheck::SharpAt(c.points, k);
    if (k == 0 || k + 1 >= c.points.size()) return false;
    const P2& a = c.points[k - 1];
    const P2& v = c.points[k];
    const P2& b = c.points[k + 1];
    const double ux = v[0] - a[0], uy = v[1] - a[1], wx = b[0] - v[0], wy = b[1] - v[1];
    const double l = std::hypot(ux, uy) * std::hypot(wx, wy);
    return l > 0 && (ux * wx + uy * wy) / l < 0.866;
}

inline PlanCurve PlanOf(const Curve& c)
{
    PlanCurve p;
    for (const P3& q : c.points) {
        const P2 x = Plan(q);
        if (p.points.empty() || Dist(p.points.back(), x) > 0.0) p.points.push_back(x);
    }
    // A trim line is closed whether or not the card repeats its first point.
    const bool repeats = p.points.size() > 2 && Dist(p.points.front(), p.points.back()) < 1e-9;
    p.closed = repeats || !IsLance(c.op);
    if (p.closed && !repeats) p.points.push_back(p.points.front());
    const size_t n = p.closed ? p.points.size() - 1 : p.points.size();
    for (size_t k = 0; k < n; ++k)
        if (TurnsSharply(p, k)) p.sharp.push_back(k);
    return p;
}

}  // namespace cutjudge

#endif
