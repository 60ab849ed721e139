// The 2D cut line: grid, crossing test, inside test and intersection records; and the float
// polygon helpers shared with the 3D cut line.
#include "qdsgeomline.h"

#include <algorithm>
#include <cmath>

namespace {

// The grid's rectangle reaches this far beyond the curve on every side.
constexpr double kGridMargin = 3.0;
// Default grid, and the bounds that apply once the curve spans more than kGridAdaptive in
// both directions.
constexpr int kGridDefault = 128;
constexpr double kGridAdaptive = 48.0;
constexpr double kCellMin = 1.5;
constexpr double kCellMax = 15.0;
constexpr int kCellsMin = 16;
constexpr int kCellsMax = 192;
// A segment end this close (in cell units) to a cell boundary is registered on both sides.
constexpr double kCellBoundary = 0.001;

// Crossing of an element edge with a curve segment.
constexpr double kSqrSine = 1e-5;
constexpr double kEdgeLow = 0.001;
constexpr double kEdgeHigh = 1.002;
constexpr double kSegLow = 1e-5;
constexpr double kSegHigh = 1.001;
// An edge parallel to a curve segment runs along it when its end lies on the
// segment's line within the tilt the parallel test allows over the edge's
// length: an edge a fixed distance beside the line is not on it, however
// long the segment (whose far start then looks collinear from the edge).
constexpr double kCollinearShare = 0.0031623;  // sqrt(kSqrSine)
// Past this share of a curve segment, a crossing lies beyond its end.
constexpr double kPastEnd = 1.0 + 1e-9;
// A crossing this near a corner (relative to the edge) stands for any other
// crossing just after the corner.
constexpr double kCornerSeen = 0.005;
// Inside test: how far beyond the curve's own extent a point may lie and still be looked at.
constexpr double kInsideSlack = 0.01;
// Vertical segments and vertex hits of the ray casts.
constexpr double kVertical = 1e-6;

// Cell coordinate truncated toward zero; values far outside the grid become -1 or count,
// which keeps every "outside" test of the edge walk and fits an int.
int TruncCell(double v, int count)
{
    if (!(v > -1.0))
        return -1;
    if (v >= static_cast<double>(count))
        return count;
    return static_cast<int>(v);
}

}  // namespace

gmCut2DLine::gmCut2DLine() : m_pntLcs(1)
{
    SetKind(Kind2D);
}

gmCut2DLine::gmCut2DLine(const std::vector<gmPnt3D>& points, int flag) : gmTrmLine(points, flag)
{
    SetKind(Kind2D);
}

int gmCut2DLine::SetUcs(const gmCrdSys& cs)
{
    m_ucs = cs;
    return Partition();
}

int gmCut2DLine::SetData(const std::vector<gmPnt3D>& points)
{
    Set(points);
    return Partition();
}

void gmCut2DLine::CvtToUcs()
{
    std::vector<gmPnt3D> local = GetPntArr();
    if (!m_pntLcs) {
        for (gmPnt3D& p : local)
            p.AsUcs(m_ucs);
    }
    SetUcsPntArr(std::move(local));
}

void gmCut2DLine::GetOuter()
{
    const int n = GetUcsCount();
    m_xmin = m_xmax = GetUcsAt(0).x();
    m_ymin = m_ymax = GetUcsAt(0).y();
    for (int i = 1; i < n; ++i) {
        const gmPnt3D p = GetUcsAt(i);
        m_xmin = std::min(m_xmin, p.x());
        m_xmax = std::max(m_xmax, p.x());
        m_ymin = std::min(m_ymin, p.y());
        m_ymax = std::max(m_ymax, p.y());
    }
    m_xmin -= kGridMargin;
    m_ymin -= kGridMargin;
    m_xmax += kGridMargin;
    m_ymax += kGridMargin;
}

void gmCut2DLine::GetOuter(double& xmin, double& ymin, double& xmax, double& ymax) const
{
    xmin = m_xmin;
    ymin = m_ymin;
    xmax = m_xmax;
    ymax = m_ymax;
}

int gmCut2DLine::Partition()
{
    if (GetCount() < 2)
        return 0;
    CvtToUcs();
    AutoClose();
    GetOuter();

    const double ex = m_xmax - m_xmin;
    const double ey = m_ymax - m_ymin;
    m_nx = m_ny = kGridDefault;
    m_dx = ex / kGridDefault;
    m_dy = ey / kGridDefault;
    if (ex > kGridAdaptive && ey > kGridAdaptive) {
        auto resize = [](double extent, int& count, double& size) {
            size = std::clamp(extent / kGridDefault, kCellMin, kCellMax);
            count = std::clamp(static_cast<int>(extent / size), kCellsMin, kCellsMax);
            size = extent / count;
        };
        resize(ex, m_nx, m_dx);
        resize(ey, m_ny, m_dy);
    }

    m_grid.assign(static_cast<size_t>(m_nx), RowArray(static_cast<size_t>(m_ny)));
    const int segments = GetUcsCount() - 1;
    for (int i = 0; i < segments; ++i) {
        const gmPnt3D p = GetUcsAt(i);
        const gmPnt3D q = GetUcsAt(i + 1);
        auto range = [](double a, double b, int count, int& lo, int& hi) {
            const double low = std::min(a, b);
            const double high = std::max(a, b);
            lo = std::clamp(TruncCell(low, count), 0, count - 1);
            hi = std::clamp(TruncCell(high, count), 0, count - 1);
            if (low - lo < kCellBoundary)
                lo = std::max(lo - 1, 0);
            if (high - hi < kCellBoundary)
                hi = std::min(hi + 1, count - 1);
        };
        int klo = 0, khi = 0, jlo = 0, jhi = 0;
        range((p.x() - m_xmin) / m_dx, (q.x() - m_xmin) / m_dx, m_nx, klo, khi);
        range((p.y() - m_ymin) / m_dy, (q.y() - m_ymin) / m_dy, m_ny, jlo, jhi);
        for (int j = jlo; j <= jhi; ++j)
            for (int k = klo; k <= khi; ++k)
                m_grid[static_cast<size_t>(k)][static_cast<size_t>(j)].push_back(i);
    }
    return 1;
}

const std::vector<int>& gmCut2DLine::GetCell(int k, int j) const
{
    return m_grid[static_cast<size_t>(k)][static_cast<size_t>(j)];
}

void gmCut2DLine::GetCorner(double& xmin, double& ymin, double& xmax, double& ymax) const
{
    xmin = ymin = xmax = ymax = 0.0;
    const int n = GetUcsCount();
    if (n == 0)
        return;
    xmin = xmax = GetUcsAt(0).x();
    ymin = ymax = GetUcsAt(0).y();
    for (int i = 1; i < n; ++i) {
        const gmPnt3D p = GetUcsAt(i);
        xmin = std::min(xmin, p.x());
        xmax = std::max(xmax, p.x());
        ymin = std::min(ymin, p.y());
        ymax = std::max(ymax, p.y());
    }
}

gmCut2DLine::Cell gmCut2DLine::CellOf(const gmPnt3D& local) const
{
    return Cell{TruncCell((local.x() - m_xmin) / m_dx, m_nx), TruncCell((local.y() - m_ymin) / m_dy, m_ny)};
}

gmCut2DLine::Cell gmCut2DLine::Clamped(Cell c) const
{
    return Cell{std::clamp(c.k, 0, m_nx - 1), std::clamp(c.j, 0, m_ny - 1)};
}

int gmCut2DLine::SegmntInterSegmt(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d,
                                  gmPnt3D& out, int mode) const
{
    const gmPnt3D a1 = mode ? a : a.InUcs(m_ucs);
    const gmPnt3D b1 = mode ? b : b.InUcs(m_ucs);
    const gmVec2D d1(b1.x() - a1.x(), b1.y() - a1.y());
    const gmVec2D d2(d.x() - c.x(), d.y() - c.y());
    const gmVec2D w(c.x() - a1.x(), c.y() - a1.y());
    double t = 0.0;
    const int crossed = geCrossEdge(d1, d2, w, {kEdgeLow, kEdgeHigh, kSegLow, kSegHigh}, t);
    if (crossed >= 0) {
        if (crossed) out = a + (b - a) * t;
        return crossed;
    }

    // Parallel: an edge running along the curve reports its end inside the curve segment.
    const double d1d1 = d1.SqrLen();
    if (d1d1 < kSqrSine || d2.SqrLen() < kSqrSine)
        return 0;
    if (gmPnt2D(b1).DistTo(gmPnt2D(c), gmPnt2D(d)) > kCollinearShare * std::sqrt(d1d1)) return 0;
    if (!geEndAlong(d1, d2, w, gmVec2D(b1.x() - c.x(), b1.y() - c.y()), kSegHigh)) return 0;
    out = b;
    return 1;
}

int gmCut2DLine::VecArrInterSegmt(const std::vector<int>& indices, const gmPnt3D& a, const gmPnt3D& b,
                                  std::vector<gmItrPt>& points) const
{
    int hits = 0;
    gmPnt3D out;
    const int count = GetUcsCount();
    const gmPnt3D a1 = a.InUcs(m_ucs);
    const gmPnt3D b1 = b.InUcs(m_ucs);
    const auto side = [&](const gmPnt3D& p) {
        return (b1.x() - a1.x()) * (p.y() - a1.y()) - (b1.y() - a1.y()) * (p.x() - a1.x());
    };
    for (const int i : indices) {
        const gmPnt3D& c = GetUcsAt(i);
        const gmPnt3D& d = GetUcsAt(i + 1);
        if (!SegmntInterSegmt(a, b, c, d, out, 0)) continue;
        // Found just past the segment's end, the crossing is that point of
        // the line touching the edge: where the next segment turns back to
        // the side the segment came from, the line does not cross the edge.
        const gmPnt3D o = out.InUcs(m_ucs);
        const gmVec2D cd(d.x() - c.x(), d.y() - c.y());
        const double len2 = cd.SqrLen();
        const double s = len2 > 0.0 ? gmVec2D(o.x() - c.x(), o.y() - c.y()).Dot(cd) / len2 : 0.0;
        const bool closed = count > 2 && GetUcsAt(0).DistTo(GetUcsAt(count - 1)) <= 0.0;
        const int after = i + 2 < count ? i + 2 : (closed ? 1 : -1);
        if (s > kPastEnd && after >= 0 && side(c) * side(GetUcsAt(after)) > 0.0) continue;
        points.emplace_back(out, i);
        ++hits;
    }
    return hits;
}

int gmCut2DLine::IsIntersected(gmElemt& element)
{
    if (!element.IsShell() || m_grid.empty())
        return 0;
    const std::vector<gmPnt3D>& global = element.GetVtxArr();
    std::vector<gmPnt3D> local(global.size());
    for (size_t i = 0; i < global.size(); ++i)
        local[i] = global[i].InUcs(m_ucs);

    const int n = element.GetNodNum();
    Cell start = CellOf(local[0]);
    bool accepted = false;
    gmPnt3D out;
    for (int i = 1; i <= n; ++i) {
        Cell end = CellOf(local[static_cast<size_t>(i)]);
        if (!accepted) {
            // Edges wholly to one side of the grid are passed over until one reaches it.
            if (BesideGrid(start, end)) {
                start = end;
                continue;
            }
            accepted = true;
            start = Clamped(start);
        }
        end = Clamped(end);
        for (int j = std::min(start.j, end.j); j <= std::max(start.j, end.j); ++j) {
            for (int k = std::min(start.k, end.k); k <= std::max(start.k, end.k); ++k) {
                for (const int s : GetCell(k, j)) {
                    if (SegmntInterSegmt(global[static_cast<size_t>(i - 1)], global[static_cast<size_t>(i)],
                                         GetUcsAt(s), GetUcsAt(s + 1), out, 0))
                        return 1;
                }
            }
        }
        start = end;
    }
    return 0;
}

int gmCut2DLine::InterElement(gmElemt& element, std::vector<gmItrPt>& points)
{
    element.SetUcs(m_ucs);
    if (m_grid.empty())
        return 0;
    const std::vector<gmPnt3D>& global = element.GetVtxArr();
    const std::vector<gmPnt3D>& local = element.GetUcsVtxArr();
    const std::vector<int>& nodes = element.GetNodeArr();
    const int n = element.GetNodNum();
    const size_t before = points.size();

    Cell start = local.empty() ? Cell{0, 0} : CellOf(local[0]);
    bool accepted = false;
    std::vector<gmItrPt> found;
    std::vector<gmItrPt> nearStart;
    for (int i = 1; i <= n; ++i) {
        Cell end = CellOf(local[static_cast<size_t>(i)]);
        if (!accepted) {
            if (BesideGrid(start, end)) {
                start = end;
                continue;
            }
            accepted = true;
            start = Clamped(start);
        }
        end = Clamped(end);
        int k0 = std::min(start.k, end.k);
        const int k1 = std::max(start.k, end.k);
        int j0 = std::min(start.j, end.j);
        const int j1 = std::max(start.j, end.j);
        // A crossing on a cell boundary may be registered only in the cell below it.
        if (k0 == k1)
            k0 = std::max(k0 - 1, 0);
        if (j0 == j1)
            j0 = std::max(j0 - 1, 0);
        const gmEdge edge(nodes[static_cast<size_t>(i - 1)], nodes[static_cast<size_t>(i % n)], i - 1, i % n);
        const gmPnt3D& a = global[static_cast<size_t>(i - 1)];
        const gmPnt3D& b = global[static_cast<size_t>(i)];
        const double nearA = kEdgeLow * a.DistTo(b);
        for (int j = j0; j <= j1; ++j) {
            for (int k = k0; k <= k1; ++k) {
                found.clear();
                VecArrInterSegmt(GetCell(k, j), a, b, found);
                for (gmItrPt& p : found) {
                    gmEdge e = edge;
                    e.AddElemnt(element.GetElemID());
                    p.SetEdge(e);
                    if (!IsItrPtInArr(points, p))
                        points.push_back(p);
                }
                // The edge seen from its end: a crossing just after its start.
                for (const int s : GetCell(k, j)) {
                    gmPnt3D out;
                    if (!SegmntInterSegmt(b, a, GetUcsAt(s), GetUcsAt(s + 1), out, 0) ||
                        !(out.DistTo(a) > 0.0) || out.DistTo(a) >= nearA || (out - a).Dot(b - a) < 0.0)
                        continue;
                    gmItrPt p(out, s);
                    gmEdge e = edge;
                    e.AddElemnt(element.GetElemID());
                    p.SetEdge(e);
                    if (!IsItrPtInArr(nearStart, p)) nearStart.push_back(p);
                }
            }
        }
        start = end;
    }
    // A crossing just after an edge's start is left to the edge ending there,
    // which finds it on its extension; a line crossing that extension farther
    // out (running nearly along it) would be lost, and the element would see
    // one crossing where the line runs through it. Such a crossing is kept
    // when no crossing was found by that corner.
    const size_t regular = points.size();
    for (const gmItrPt& p : nearStart) {
        const gmPnt3D& corner = global[static_cast<size_t>(p.GetEdge().GetFstIdx())];
        const double len = corner.DistTo(global[static_cast<size_t>(p.GetEdge().GetFstIdx() + 1)]);
        bool seen = false;
        for (size_t q = before; q < regular && !seen; ++q)
            seen = points[q].GetPoint().DistTo(corner) < kCornerSeen * len;
        if (!seen) points.push_back(p);
    }
    return static_cast<int>(points.size() - before);
}

int gmCut2DLine::IsBetwUpper(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b)
{
    if (std::fabs(a.x() - b.x()) <= kVertical)
        return std::fabs(p.x() - a.x()) <= kVertical && p.y() > std::max(a.y(), b.y());
    // A crossing at the start vertex belongs to the segment that ends there.
    if (std::fabs(p.x() - a.x()) < kVertical)
        return 0;
    double y = b.y();
    if (std::fabs(p.x() - b.x()) >= kVertical) {
        if (p.x() < std::min(a.x(), b.x()) || p.x() > std::max(a.x(), b.x()))
            return 0;
        const double t = (p.x() - a.x()) / (b.x() - a.x());
        y = t * b.y() + (1.0 - t) * a.y();
    }
    return p.y() > y;
}

int gmCut2DLine::IsBetwBelow(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b)
{
    if (std::fabs(a.x() - b.x()) <= kVertical)
        return std::fabs(p.x() - a.x()) <= kVertical && std::min(a.y(), b.y()) > p.y();
    if (std::fabs(p.x() - a.x()) < kVertical)
        return 0;
    if (std::fabs(p.x() - b.x()) < kVertical)
        return b.y() > p.y();
    if (p.x() < std::min(a.x(), b.x()) || p.x() > std::max(a.x(), b.x()))
        return 0;
    // Single precision here (the upward count works in double): answers on the boundary depend on it.
    const float t = static_cast<float>((p.x() - a.x()) / (b.x() - a.x()));
    const float y = static_cast<float>(t * b.y() + (1.0 - t) * a.y());
    return y >= p.y();
}

bool gmCut2DLine::IsInArr(const std::vector<int>& list, int i)
{
    return std::find(list.begin(), list.end(), i) != list.end();
}

int gmCut2DLine::IsInside(const gmPnt3D& point) const
{
    if (m_grid.empty())
        return 0;
    const gmPnt3D p = point.InUcs(m_ucs);
    if (p.x() < m_xmin + kGridMargin - kInsideSlack || p.x() > m_xmax - kGridMargin + kInsideSlack ||
        p.y() < m_ymin + kGridMargin - kInsideSlack || p.y() > m_ymax - kGridMargin + kInsideSlack)
        return 0;
    const double kx = (p.x() - m_xmin) / m_dx;
    const double jy = (p.y() - m_ymin) / m_dy;
    if (kx < 0.0 || jy < 0.0 || kx >= m_nx || jy >= m_ny)
        return 0;
    const int k = static_cast<int>(kx);
    const int j = static_cast<int>(jy);

    // Cast the ray towards the nearer edge of the grid along one column.
    const bool down = j < m_ny / 2;
    std::vector<int> segments;
    for (int r = down ? 0 : j; r <= (down ? j : m_ny - 1); ++r) {
        const std::vector<int>& cell = GetCell(k, r);
        segments.insert(segments.end(), cell.begin(), cell.end());
    }
    // Each segment counts once; the count does not depend on the order.
    std::sort(segments.begin(), segments.end());
    segments.erase(std::unique(segments.begin(), segments.end()), segments.end());

    // Each segment spans its x range half open, so a ray through a vertex
    // counts it once where the curve passes and not at all (or twice) where
    // it only touches and turns back: curve points on round coordinates meet
    // element centres all the time.
    int count = 0;
    for (const int s : segments) {
        const gmPnt3D a = GetUcsAt(s);
        const gmPnt3D b = GetUcsAt(s + 1);
        if ((a.x() > p.x()) == (b.x() > p.x())) continue;
        const double y = a.y() + (p.x() - a.x()) / (b.x() - a.x()) * (b.y() - a.y());
        count += down ? (y < p.y() ? 1 : 0) : (y > p.y() ? 1 : 0);
    }
    return count % 2;
}

double gmCut2DLine::DistTo(const gmPnt3D& point, double within) const
{
    if (m_grid.empty()) return within;
    const gmPnt3D p = point.InUcs(m_ucs);
    const Cell lo = CellOf(gmPnt3D(p.x() - within, p.y() - within, 0.0));
    const Cell hi = CellOf(gmPnt3D(p.x() + within, p.y() + within, 0.0));
    if (BesideGrid(lo, hi)) return within;
    const Cell a = Clamped(lo), b = Clamped(hi);
    double best = within;
    for (int k = a.k; k <= b.k; ++k) {
        for (int j = a.j; j <= b.j; ++j) {
            for (const int s : GetCell(k, j)) {
                const gmPnt3D c = GetUcsAt(s), d = GetUcsAt(s + 1);
                const double dx = d.x() - c.x(), dy = d.y() - c.y();
                const double len2 = dx * dx + dy * dy;
                const double t = len2 > 0.0 ? std::clamp(((p.x() - c.x()) * dx + (p.y() - c.y()) * dy) / len2, 0.0, 1.0) : 0.0;
                best = std::min(best, std::hypot(p.x() - c.x() - t * dx, p.y() - c.y() - t * dy));
            }
        }
    }
    return best;
}

int gmCut2DLine::IsInside(gmElemt& element) { return IsInside(element.GetMidPt()); }

// ------------------------------------------------------------- float polygon

int geGetNearVertex(int dir, float y, const float poly[][2], int n, int start)
{
    int i = start;
    for (int step = 0; step < n; ++step) {
        i = dir < 1 ? (i == 0 ? n - 1 : i - 1) : (i + 1) % n;
        if (std::fabs(poly[i][1] - y) > static_cast<float>(kVertical))
            return i;
    }
    return -1;
}

bool geNodeInPolygon(const float pt[2], const float poly[][2], int n)
{
    const float eps = static_cast<float>(kVertical);
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const int j = (i + 1) % n;
        const float xi = poly[i][0];
        const float yi = poly[i][1];
        const float xj = poly[j][0];
        const float yj = poly[j][1];
        if (pt[1] < std::min(yi, yj) || pt[1] > std::max(yi, yj) || (xi > pt[0] && xj > pt[0]))
            continue;
        // An end vertex on the ray is handled as the start of the next edge.
        if (std::fabs(pt[1] - yj) < eps)
            continue;
        if (std::fabs(pt[1] - yi) < eps) {
            // The ray runs towards -x: a vertex on the far side of the point is not met.
            if (xi >= pt[0])
                continue;
            const int before = geGetNearVertex(0, pt[1], poly, n, i);
            const int after = geGetNearVertex(1, pt[1], poly, n, i);
            if (before < 0 || after < 0)
                continue;
            if ((poly[before][1] - pt[1]) * (poly[after][1] - pt[1]) < 0.0f)
                ++count;
            continue;
        }
        if (pt[0] > xi + (xj - xi) * (pt[1] - yi) / (yj - yi))
            ++count;
    }
    return count % 2 == 1;
}
