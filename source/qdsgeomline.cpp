// Polylines and the trim-line base.
#include "qdsgeomline.h"

#include <algorithm>
#include <cmath>
#include <cassert>
#include <utility>

namespace {

// Straightness: points closer than this to the first one do not fix the direction.
constexpr double kStraightStart = 0.05;
// Straightness: the largest offset from the line.
constexpr double kStraightOffset = 0.01;
// Closing: ends closer than this are snapped together.
constexpr double kCloseGap = 0.01;
// Simplification: almost collinear when the squared sine is below this.
constexpr double kSimplifySine = 0.001;
// Two directions whose squared sine is below this run parallel.
constexpr double kSqrSine = 1e-5;
// An edge end this share of a segment ahead of its start lies on it.
constexpr double kAhead = 0.001;

}  // namespace

// ------------------------------------------------------------------ polyline

void gmPlyLine::Set(const gmPlyLine& other)
{
    if (this == &other)
        return;
    Changing();
    m_gmPntArr = other.m_gmPntArr;
    m_dstTol = other.m_dstTol;
}

const gmPnt3D& gmPlyLine::GetAt(int index) const
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
    assert(index >=0 && index < m_gmPntArr.size());
#pragma GCC diagnostic pop
    return m_gmPntArr[static_cast<size_t>(index)];
}

void gmPlyLine::GetAt(float* xyz, int index) const { GetAt(index).AsPoint(xyz); }

gmPnt3D gmPlyLine::GetMidPoint() const
{
    if (m_gmPntArr.empty())
        return gmPnt3D();
    gmPnt3D sum;
    for (const gmPnt3D& p : m_gmPntArr)
        sum = sum + p;
    return sum / static_cast<double>(m_gmPntArr.size());
}

void gmPlyLine::Add(const gmPnt3D& p)
{
    Changing();
    m_gmPntArr.push_back(p);
}

void gmPlyLine::Add(const gmPlyLine& other)
{
    Changing();
    // Copy first: other may be this line.
    const std::vector<gmPnt3D> tail = other.m_gmPntArr;
    m_gmPntArr.insert(m_gmPntArr.end(), tail.begin(), tail.end());
}

void gmPlyLine::Insert(const gmPnt3D& p, int i)
{
    Changing();
    if (i < 0)
        m_gmPntArr.insert(m_gmPntArr.begin(), p);
    else if (i >= GetCount())
        m_gmPntArr.push_back(p);
    else
        m_gmPntArr.insert(m_gmPntArr.begin() + i, p);
}

void gmPlyLine::Set(const gmPnt3D& p, int i)
{
    if (m_gmPntArr.empty())
        return;
    Changing();
    m_gmPntArr[static_cast<size_t>(std::clamp(i, 0, GetCount() - 1))] = p;
}

void gmPlyLine::SetFirst(const gmPnt3D& p) { Set(p, 0); }

void gmPlyLine::SetLast(const gmPnt3D& p) { Set(p, GetCount() - 1); }

void gmPlyLine::Set(const std::vector<gmPnt3D>& points)
{
    if (points.empty())
        return;
    Changing();
    m_gmPntArr = points;
}

void gmPlyLine::RemoveFirst()
{
    if (m_gmPntArr.empty())
        return;
    Changing();
    m_gmPntArr.erase(m_gmPntArr.begin());
}

void gmPlyLine::RemoveLast()
{
    if (m_gmPntArr.empty())
        return;
    Changing();
    m_gmPntArr.pop_back();
}

void gmPlyLine::Reverse()
{
    Changing();
    std::reverse(m_gmPntArr.begin(), m_gmPntArr.end());
}

void gmPlyLine::SetDstTol(double tol) { m_dstTol = std::clamp(tol, 0.01, 1.0); }

void gmPlyLine::SimplifyLine()
{
    if (GetCount() < 3)
        return;
    Changing();
    const std::vector<gmPnt3D> work = std::move(m_gmPntArr);
    m_gmPntArr.clear();
    gmPnt3D a = work[0];
    m_gmPntArr.push_back(a);
    gmPnt3D b = work[1];
    for (size_t c = 2; c < work.size(); ++c) {
        const gmVec2D u(b.x() - a.x(), b.y() - a.y());
        const gmVec2D v(work[c].x() - b.x(), work[c].y() - b.y());
        const double cross = u.Cross(v);
        if (cross * cross < kSimplifySine * u.SqrLen() * v.SqrLen() || u.SqrLen() < m_dstTol) {
            b = work[c];
        } else if (v.SqrLen() < m_dstTol) {
            // c is too close to b: drop it, b stays.
        } else {
            m_gmPntArr.push_back(b);
            a = b;
            b = work[c];
        }
    }
    m_gmPntArr.push_back(work.back());
}

// ---------------------------------------------------------------- trim line

gmTrmLine::gmTrmLine(const std::vector<gmPnt3D>& points, int flag)
    : gmPlyLine(points), m_ucsPntArr(points), m_flag(flag)
{
}

int gmTrmLine::SetData(const std::vector<gmPnt3D>& points)
{
    Set(points);
    return 1;
}

void gmTrmLine::GetCorner(double& xmin, double& ymin, double& xmax, double& ymax) const
{
    xmin = ymin = xmax = ymax = 0.0;
    const std::vector<gmPnt3D>& pts = GetPntArr();
    if (pts.empty())
        return;
    xmin = xmax = pts[0].x();
    ymin = ymax = pts[0].y();
    for (const gmPnt3D& p : pts) {
        xmin = std::min(xmin, p.x());
        xmax = std::max(xmax, p.x());
        ymin = std::min(ymin, p.y());
        ymax = std::max(ymax, p.y());
    }
}

int gmTrmLine::IsIntersected(gmElemt& /*element*/) { return 1; }

int gmTrmLine::IsInside(gmElemt& /*element*/) { return IsLancing() ? 0 : m_autoClosed; }

int gmTrmLine::GetUcsCount() const
{
    return m_ucsPending ? GetCount() : static_cast<int>(m_ucsPntArr.size());
}

gmPnt3D gmTrmLine::GetUcsAt(int idx) const
{
    [[maybe_unused]] const int size = GetUcsCount();
    assert(idx >= 0 && idx < size);
    if (m_ucsPending)
        return GetAt(idx).InUcs(m_ucsFrame);
    return m_ucsPntArr[static_cast<size_t>(idx)];
}

gmPnt3D gmTrmLine::GetUcsLast() const { return GetUcsAt(GetUcsCount() - 1); }

void gmTrmLine::SetUcsPntArr(std::vector<gmPnt3D> points)
{
    m_ucsPending = false;
    m_ucsPntArr = std::move(points);
}

void gmTrmLine::SetUcsFrame(const gmCrdSys& cs)
{
    m_ucsPending = true;
    m_ucsFrame = cs;
}

void gmTrmLine::MaterializeUcs()
{
    if (!m_ucsPending)
        return;
    m_ucsPending = false;
    const std::vector<gmPnt3D>& pts = GetPntArr();
    m_ucsPntArr.resize(pts.size());
    for (size_t i = 0; i < pts.size(); ++i)
        m_ucsPntArr[i] = pts[i].InUcs(m_ucsFrame);
}

void gmTrmLine::AutoClose()
{
    if (GetCount() <= 2 || m_autoClosed)
        return;
    MaterializeUcs();
    if (GetFirst().DistTo(GetLast()) < kCloseGap) {
        SetLast(GetFirst());
        if (!m_ucsPntArr.empty())
            m_ucsPntArr.back() = m_ucsPntArr.front();
        m_autoClosed = 1;
    } else if (!IsLancing()) {
        const gmPnt3D first = GetFirst();
        Add(first);
        if (!m_ucsPntArr.empty())
            m_ucsPntArr.push_back(m_ucsPntArr.front());
        m_autoClosed = 0;
    }
}

bool gmTrmLine::IsStraight() const
{
    const int n = GetCount();
    if (n <= 2)
        return true;
    const gmPnt3D& a = GetAt(0);
    gmPnt3D b = GetAt(1);
    int i = 2;
    while (i < n && a.DistTo(b) <= kStraightStart) {
        b = GetAt(i);
        ++i;
    }
    if (i >= n - 1)
        return false;
    for (int j = i; j < n; ++j) {
        if (GetAt(j).DistTo(a, b) > kStraightOffset)
            return false;
    }
    return true;
}

bool gmTrmLine::IsItrPtInArr(const std::vector<gmItrPt>& points, const gmItrPt& point)
{
    return std::find(points.begin(), points.end(), point) != points.end();
}

void gmTrmLine::SetRatio(double ratio) { m_ratio = std::clamp(ratio, 0.2, 0.45); }

bool compare_area(const gmTrmLine* a, const gmTrmLine* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    a->GetCorner(x0, y0, x1, y1);
    const double areaA = 0.01 * (x1 - x0) * (y1 - y0);
    b->GetCorner(x0, y0, x1, y1);
    const double areaB = 0.01 * (x1 - x0) * (y1 - y0);
    return areaA > areaB;
}

int geCrossEdge(const gmVec2D& d1, const gmVec2D& d2, const gmVec2D& w, const gmCrossReach& reach, double& t)
{
    const double k = d1.Cross(d2);
    if (k * k <= kSqrSine * d1.SqrLen() * d2.SqrLen()) return -1;
    t = w.Cross(d2) / k;
    const double s = w.Cross(d1) / k;
    return t < reach.edgeLow || t > reach.edgeHigh || s < reach.segLow || s > reach.segHigh ? 0 : 1;
}

bool geEndAlong(const gmVec2D& d1, const gmVec2D& d2, const gmVec2D& w, const gmVec2D& u, double segHigh)
{
    const double d2d2 = d2.SqrLen();
    gmVec2D v = w;
    double q = w.SqrLen();
    if (q < kSqrSine) {
        v = d2;
        q = d2d2;
    }
    const double vd1 = v.Cross(d1);
    if (vd1 * vd1 > kSqrSine * d1.SqrLen() * q) return false;
    if (d2d2 == 0.0) return false;  // a point-like segment contains no edge end
    const double r = u.Length() / std::sqrt(d2d2);
    return r > kAhead && r < segHigh && u.Dot(d2) > kAhead;
}
