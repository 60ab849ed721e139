// Curve soundness: whether a polyline seen in a plane meets itself, how much area a closed
// one encloses, and the plane a curve in space is judged in.
#include "qdsgeomline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

namespace {

// Points and segments closer than this share of the curve's extent count as touching.
constexpr double kTouchShare = 1e-9;
// Consecutive points closer than this are one point, as a curve's ends are snapped together
// below it: two members of an imported curve that overlap by a hair at their joint must not
// read as a curve folding back onto itself.
constexpr double kSamePoint = 0.01;
// Cells are at least this share of the curve's length per segment, so that a few long
// segments among many short ones cannot make the grid walk long.
constexpr double kMinCellShare = 0.25;
// Parallel: the sine of the angle between two segments is at most this.
constexpr double kParallelSine = 1e-9;
// Jacobi sweeps for the 3 x 3 principal axes; each squares the off-diagonal error.
constexpr int kJacobiSweeps = 32;

double Cross(double ux, double uy, double vx, double vy) { return ux * vy - uy * vx; }

bool Same(const gmPnt2D& a, const gmPnt2D& b) { return a.x() == b.x() && a.y() == b.y(); }

// Twice the signed area of a, b, c: positive when c lies left of a-b.
double Orient(const gmPnt2D& a, const gmPnt2D& b, const gmPnt2D& c)
{
    return Cross(b.x() - a.x(), b.y() - a.y(), c.x() - a.x(), c.y() - a.y());
}

double PointSegmentDist(const gmPnt2D& p, const gmPnt2D& a, const gmPnt2D& b)
{
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    const double l2 = dx * dx + dy * dy;
    double t = l2 > 0.0 ? ((p.x() - a.x()) * dx + (p.y() - a.y()) * dy) / l2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x() - a.x() - t * dx, p.y() - a.y() - t * dy);
}

// Whether a-b and c-d run in one direction (or in opposite ones).
bool Parallel(const gmPnt2D& a, const gmPnt2D& b, const gmPnt2D& c, const gmPnt2D& d)
{
    const double ux = b.x() - a.x(), uy = b.y() - a.y();
    const double vx = d.x() - c.x(), vy = d.y() - c.y();
    return std::fabs(Cross(ux, uy, vx, vy)) <= kParallelSine * std::hypot(ux, uy) * std::hypot(vx, vy);
}

// Whether segments a-b and c-d cross or touch (within tol); along tells two that meet
// lying on one line from two that meet at an angle.
bool SegmentsMeet(const gmPnt2D& a, const gmPnt2D& b, const gmPnt2D& c, const gmPnt2D& d, double tol,
                  bool& along)
{
    if (std::max(a.x(), b.x()) + tol < std::min(c.x(), d.x()) || std::max(c.x(), d.x()) + tol < std::min(a.x(), b.x()) ||
        std::max(a.y(), b.y()) + tol < std::min(c.y(), d.y()) || std::max(c.y(), d.y()) + tol < std::min(a.y(), b.y()))
        return false;
    along = false;
    const double d1 = Orient(c, d, a);
    const double d2 = Orient(c, d, b);
    const double d3 = Orient(a, b, c);
    const double d4 = Orient(a, b, d);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
    if (PointSegmentDist(a, c, d) <= tol || PointSegmentDist(b, c, d) <= tol || PointSegmentDist(c, a, b) <= tol ||
        PointSegmentDist(d, a, b) <= tol) {
        along = Parallel(a, b, c, d);
        return true;
    }
    return false;
}

// The curve without repeated points: every point closer than merge to the one kept before
// it goes, and so does a point of a closed curve that close to its first. last[i] is the
// index (in the given points) where kept point i was last repeated, so that segment i of
// the result starts at given point last[i].
struct Thinned {
    std::vector<gmPnt2D> points;
    std::vector<int> last;
    bool closed = false;
};

Thinned Thin(const std::vector<gmPnt2D>& points, bool closed, double merge)
{
    Thinned t;
    t.closed = closed;
    const size_t n = points.size() - (closed && points.size() > 1 && Same(points.front(), points.back()) ? 1 : 0);
    for (size_t i = 0; i < n; ++i) {
        if (!t.points.empty() && t.points.back().DistTo(points[i]) <= merge) {
            t.last.back() = static_cast<int>(i);
            continue;
        }
        t.points.push_back(points[i]);
        t.last.push_back(static_cast<int>(i));
    }
    if (closed) {
        while (t.points.size() > 1 && t.points.back().DistTo(t.points.front()) <= merge) {
            t.points.pop_back();
            t.last.pop_back();
        }
        // The closing segment starts where the last kept point was last repeated, which is
        // how far the given curve runs before it returns to its start.
        t.last.back() = static_cast<int>(n) - 1;
        t.points.push_back(t.points.front());
        t.last.push_back(static_cast<int>(n));
    }
    return t;
}

// A pair of segments as found, compared by the given curve's segment indices.
struct Meeting {
    int first = -1;
    int second = -1;
    bool along = false;
    bool Before(int a, int b) const { return first < 0 || a < first || (a == first && b < second); }
};

}  // namespace

gmSelfCrossing geFindSelfCrossing(const std::vector<gmPnt2D>& points, bool closed,
                                  const std::function<bool(int, int)>& accept, double touch)
{
    gmSelfCrossing found;
    if (points.size() < 2) return found;
    // Points are checked to be finite when they are read; a grid over anything else has no cells.
    for (const gmPnt2D& p : points) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y())) return found;
    }
    double xmin = points[0].x(), xmax = xmin, ymin = points[0].y(), ymax = ymin;
    for (const gmPnt2D& p : points) {
        xmin = std::min(xmin, p.x());
        xmax = std::max(xmax, p.x());
        ymin = std::min(ymin, p.y());
        ymax = std::max(ymax, p.y());
    }
    const double tol = std::max(kTouchShare * std::max(xmax - xmin, ymax - ymin), touch);
    const Thinned t = Thin(points, closed, std::max(tol, kSamePoint));
    const int segments = static_cast<int>(t.points.size()) - 1;
    if (segments < 2) return found;

    Meeting best;
    const auto consider = [&](int i, int j, bool along) {
        int a = t.last[static_cast<size_t>(i)];
        int b = t.last[static_cast<size_t>(j)];
        if (a > b) std::swap(a, b);
        if (!best.Before(a, b) || (accept && !accept(a, b))) return;
        best = Meeting{a, b, along};
    };

    // Neighbours meet at their common point; they only count when they fold back onto
    // each other, the far end of one lying on the other.
    for (int i = 0; i + 1 < segments || (t.closed && i + 1 == segments && segments > 2); ++i) {
        const int j = (i + 1) % segments;
        const gmPnt2D& a = t.points[static_cast<size_t>(i)];
        const gmPnt2D& v = t.points[static_cast<size_t>(i + 1)];
        const gmPnt2D& b = t.points[static_cast<size_t>(j + 1)];
        if (PointSegmentDist(b, a, v) <= tol || PointSegmentDist(a, v, b) <= tol) consider(i, j, true);
    }

    // The others through a grid of cells about as large as a typical segment: each
    // segment is listed in the cells it passes through, and only segments sharing a cell
    // are compared.
    std::vector<double> lengths(static_cast<size_t>(segments));
    double total = 0.0;
    for (int i = 0; i < segments; ++i) {
        lengths[static_cast<size_t>(i)] = t.points[static_cast<size_t>(i)].DistTo(t.points[static_cast<size_t>(i + 1)]);
        total += lengths[static_cast<size_t>(i)];
    }
    std::nth_element(lengths.begin(), lengths.begin() + segments / 2, lengths.end());
    const double cell = std::max({lengths[static_cast<size_t>(segments / 2)], kMinCellShare * total / segments, tol});
    const double x0 = xmin - cell;
    const double y0 = ymin - cell;
    const int64_t rows = static_cast<int64_t>((ymax - y0) / cell) + 3;
    const auto column = [&](double x) { return static_cast<int64_t>(std::floor((x - x0) / cell)); };
    const auto row = [&](double y) { return static_cast<int64_t>(std::floor((y - y0) / cell)); };

    std::vector<std::pair<int64_t, int>> listed;
    listed.reserve(static_cast<size_t>(4 * segments));
    for (int s = 0; s < segments; ++s) {
        const gmPnt2D& a = t.points[static_cast<size_t>(s)];
        const gmPnt2D& b = t.points[static_cast<size_t>(s + 1)];
        const double dx = b.x() - a.x();
        const double dy = b.y() - a.y();
        for (int64_t k = column(std::min(a.x(), b.x()) - tol); k <= column(std::max(a.x(), b.x()) + tol); ++k) {
            // The part of the segment over column k (widened by tol), as a y range.
            double t0 = 0.0, t1 = 1.0;
            if (dx != 0.0) {
                const double left = (x0 + static_cast<double>(k) * cell - tol - a.x()) / dx;
                const double right = (x0 + static_cast<double>(k + 1) * cell + tol - a.x()) / dx;
                t0 = std::clamp(std::min(left, right), 0.0, 1.0);
                t1 = std::clamp(std::max(left, right), 0.0, 1.0);
            }
            const double ya = a.y() + t0 * dy;
            const double yb = a.y() + t1 * dy;
            for (int64_t r = row(std::min(ya, yb) - tol); r <= row(std::max(ya, yb) + tol); ++r)
                listed.emplace_back(k * rows + r, s);
        }
    }
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());

    const auto neighbours = [&](int i, int j) {
        return j - i == 1 || (t.closed && i == 0 && j == segments - 1);
    };
    for (size_t begin = 0; begin < listed.size();) {
        size_t end = begin + 1;
        while (end < listed.size() && listed[end].first == listed[begin].first) ++end;
        for (size_t p = begin; p < end; ++p) {
            const int i = listed[p].second;
            for (size_t q = p + 1; q < end; ++q) {
                const int j = listed[q].second;
                if (neighbours(i, j)) continue;
                const int a = std::min(t.last[static_cast<size_t>(i)], t.last[static_cast<size_t>(j)]);
                const int b = std::max(t.last[static_cast<size_t>(i)], t.last[static_cast<size_t>(j)]);
                if (!best.Before(a, b)) continue;
                bool along = false;
                if (SegmentsMeet(t.points[static_cast<size_t>(i)], t.points[static_cast<size_t>(i + 1)],
                                 t.points[static_cast<size_t>(j)], t.points[static_cast<size_t>(j + 1)], tol, along))
                    consider(i, j, along);
            }
        }
        begin = end;
    }
    found.first = best.first;
    found.second = best.second;
    found.along = best.along;
    return found;
}

double gePolygonArea(const std::vector<gmPnt2D>& points)
{
    if (points.size() < 3) return 0.0;
    // About the first point, so that a curve far from the origin keeps its digits.
    const gmPnt2D& o = points.front();
    double twice = 0.0;
    for (size_t i = 1; i + 1 < points.size(); ++i) {
        twice += Cross(points[i].x() - o.x(), points[i].y() - o.y(), points[i + 1].x() - o.x(),
                       points[i + 1].y() - o.y());
    }
    return 0.5 * twice;
}

double gePolylineLength(const std::vector<gmPnt2D>& points, bool closed)
{
    double length = 0.0;
    for (size_t i = 1; i < points.size(); ++i) length += points[i - 1].DistTo(points[i]);
    if (closed && points.size() > 1) length += points.back().DistTo(points.front());
    return length;
}

gmCrdSys geBestFitPlane(const std::vector<gmPnt3D>& points)
{
    gmCrdSys plane;
    if (points.empty()) return plane;
    double mean[3] = {0.0, 0.0, 0.0};
    for (const gmPnt3D& p : points)
        for (int k = 0; k < 3; ++k) mean[k] += p[k];
    for (double& m : mean) m /= static_cast<double>(points.size());
    std::array<std::array<double, 3>, 3> a{};
    for (const gmPnt3D& p : points) {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                a[static_cast<size_t>(r)][static_cast<size_t>(c)] += (p[r] - mean[r]) * (p[c] - mean[c]);
    }
    // Cyclic Jacobi rotations: a becomes diagonal, the columns of e its axes.
    std::array<std::array<double, 3>, 3> e{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    for (int sweep = 0; sweep < kJacobiSweeps; ++sweep) {
        const double off = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
        if (off == 0.0) break;
        for (size_t p = 0; p < 2; ++p) {
            for (size_t q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0) continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                for (size_t k = 0; k < 3; ++k) {
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (size_t k = 0; k < 3; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (size_t k = 0; k < 3; ++k) {
                    const double ekp = e[k][p], ekq = e[k][q];
                    e[k][p] = c * ekp - s * ekq;
                    e[k][q] = s * ekp + c * ekq;
                }
            }
        }
    }
    std::array<size_t, 3> order{0, 1, 2};
    std::stable_sort(order.begin(), order.end(), [&a](size_t i, size_t j) { return a[i][i] > a[j][j]; });
    const auto axis = [&e](size_t k) { return gmVec3D(e[0][k], e[1][k], e[2][k]); };
    const gmVec3D u = axis(order[0]);
    const gmVec3D v = axis(order[1]);
    plane.SetU(u);
    plane.SetV(v);
    plane.SetW(u.Cross(v));
    plane.SetOri(gmPnt3D(mean[0], mean[1], mean[2]));
    return plane;
}

gmCrdSys geEnclosingPlane(const std::vector<gmPnt3D>& points)
{
    const size_t n = points.size();
    if (n < 3) return geBestFitPlane(points);
    gmPnt3D centre(0.0, 0.0, 0.0);
    for (const gmPnt3D& p : points) centre = centre + p;
    centre /= static_cast<double>(n);
    gmVec3D area(0.0, 0.0, 0.0);
    double length = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const gmVec3D a = points[i] - centre, b = points[(i + 1) % n] - centre;
        area = area + a.Cross(b);
        length += (b - a).Length();
    }
    if (area.Length() <= 1e-12 * length * length) return geBestFitPlane(points);
    const gmVec3D w = area / area.Length();
    // Any axis across w will do: crossings and area do not turn with the plane.
    const gmVec3D seed = std::fabs(w.x()) < 0.9 ? gmVec3D(1.0, 0.0, 0.0) : gmVec3D(0.0, 1.0, 0.0);
    const gmVec3D u0 = seed - w * seed.Dot(w);
    const gmVec3D u = u0 / u0.Length();
    gmCrdSys plane;
    plane.SetU(u);
    plane.SetV(w.Cross(u));
    plane.SetW(w);
    plane.SetOri(centre);
    return plane;
}

std::vector<gmPnt2D> geInPlane(const std::vector<gmPnt3D>& points, const gmCrdSys& plane)
{
    std::vector<gmPnt2D> out;
    out.reserve(points.size());
    for (const gmPnt3D& p : points) {
        const gmVec3D d = p - plane.GetOri();
        out.emplace_back(d.Dot(plane.GetU()), d.Dot(plane.GetV()));
    }
    return out;
}

double geSegmentDistance(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d)
{
    const gmVec3D u = b - a;
    const gmVec3D v = d - c;
    const gmVec3D w = a - c;
    const double uu = u.Dot(u), uv = u.Dot(v), vv = v.Dot(v), uw = u.Dot(w), vw = v.Dot(w);
    const double det = uu * vv - uv * uv;
    // The closest points' parameters: first on the infinite lines, then each clamped to
    // its segment and the other recomputed against it.
    double s = det > 0.0 ? std::clamp((uv * vw - vv * uw) / det, 0.0, 1.0) : 0.0;
    double t = vv > 0.0 ? std::clamp((vw + s * uv) / vv, 0.0, 1.0) : 0.0;
    s = uu > 0.0 ? std::clamp((t * uv - uw) / uu, 0.0, 1.0) : 0.0;
    return ((a + u * s) - (c + v * t)).Length();
}
