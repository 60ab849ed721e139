// The 3D cut line: element frame, window and gap tests, and the spatial index that keeps
// those tests to the segments near each element.
#include "qdsgeomline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>

namespace {

// Crossing of an element edge with a curve segment, both in the element's frame.
constexpr double kEdgeLow = 0.001;
constexpr double kEdgeHigh = 1.01;
constexpr double kSegLow = -0.001;
constexpr double kSegHigh = 1.001;
constexpr double kCollinearOffset = 0.1;
// Window around the element: widening for the crossing test and for the intersection points.
constexpr double kWindowTest = 0.001;
constexpr double kWindowPoints = 0.01;
// Slack on the gap.
constexpr double kGapSlack = 1e-6;
// Inside test: how far beyond the curve's rectangle the mid point may lie.
constexpr double kInsideSlack = 0.01;
constexpr double kGapMin = 0.001;
constexpr double kGapMax = 250.0;

// A hit of segment C-D (length L) on an element lies, in the element's frame, within
// 0.01 x the longest edge of the element's vertex rectangle (the edge parameter reaches
// 1.01), and the segment end inside the gap band lies within 2.001 L of it (the segment
// parameter reaches -0.001 and 1.001; a collinear hit reports an edge end within 1.001 L of C).
// The index inflates every segment's box by kReachPerLength x L and widens the element's box
// by kReachPerEdge x its longest edge, both a little beyond those bounds.
constexpr double kReachPerLength = 2.01;
constexpr double kReachPerEdge = 0.011;
// Rounding of the frame conversions, relative to the coordinates' size.
constexpr double kRoundingRel = 1e-7;
constexpr double kRoundingAbs = 1e-6;
// A frame is a rotation when its axes are unit and orthogonal to this.
constexpr double kRotationTol = 1e-9;
// A segment whose inflated box covers more cells than this is kept aside and looked at for
// every element (its box is still compared).
constexpr size_t kMaxCellsPerSegment = 64;

struct Box {
    std::array<double, 3> lo;
    std::array<double, 3> hi;
    bool Overlaps(const Box& o) const
    {
        for (int a = 0; a < 3; ++a)
            if (hi[a] < o.lo[a] || o.hi[a] < lo[a])
                return false;
        return true;
    }
};

double MaxAbs(const gmPnt3D& p) { return std::max({std::fabs(p.x()), std::fabs(p.y()), std::fabs(p.z())}); }

bool IsRotation(const gmCrdSys& cs)
{
    const gmVec3D& u = cs.GetU();
    const gmVec3D& v = cs.GetV();
    const gmVec3D& w = cs.GetW();
    return std::fabs(u.SqrLen() - 1.0) < kRotationTol && std::fabs(v.SqrLen() - 1.0) < kRotationTol &&
           std::fabs(w.SqrLen() - 1.0) < kRotationTol && std::fabs(u.Dot(v)) < kRotationTol &&
           std::fabs(u.Dot(w)) < kRotationTol && std::fabs(v.Dot(w)) < kRotationTol;
}

// The element as the window and edge tests see it.
struct ElemView {
    ElemView(const gmElemt& e, double widen, double gap)
        : u(e.GetUcsVtxArr()), g(e.GetVtxArr()), nodes(e.GetNodeArr()), n(e.GetNodNum()), id(e.GetElemID())
    {
        xlo = xhi = u[0].x();
        ylo = yhi = u[0].y();
        for (int k = 1; k < n; ++k) {
            xlo = std::min(xlo, u[static_cast<size_t>(k)].x());
            xhi = std::max(xhi, u[static_cast<size_t>(k)].x());
            ylo = std::min(ylo, u[static_cast<size_t>(k)].y());
            yhi = std::max(yhi, u[static_cast<size_t>(k)].y());
        }
        xlo -= widen;
        ylo -= widen;
        xhi += widen;
        yhi += widen;
        const gmCrdSys& cs = e.GetUcs();
        z0 = cs.GetOri().InUcs(cs).z();
        band = gap + kGapSlack;
    }

    // Both ends to one side of the window, or both beyond the gap.
    bool Skips(const gmPnt3D& p, const gmPnt3D& q) const
    {
        return (p.x() < xlo && q.x() < xlo) || (p.x() > xhi && q.x() > xhi) || (p.y() < ylo && q.y() < ylo) ||
               (p.y() > yhi && q.y() > yhi) || (std::fabs(p.z() - z0) > band && std::fabs(q.z() - z0) > band);
    }

    const std::vector<gmPnt3D>& u;
    const std::vector<gmPnt3D>& g;
    const std::vector<int>& nodes;
    int n;
    int id;
    double xlo, xhi, ylo, yhi, z0, band;
};

// Segment seg (p to q, frame coordinates) against every edge: true at the first hit when
// points is null; otherwise appends every new hit.
bool TestSegment(const ElemView& e, int seg, const gmPnt3D& p, const gmPnt3D& q, std::vector<gmItrPt>* points)
{
    if (e.Skips(p, q))
        return false;
    gmPnt3D x;
    bool hit = false;
    for (int k = 1; k <= e.n; ++k) {
        const gmPnt3D& a = e.u[static_cast<size_t>(k - 1)];
        const gmPnt3D& b = e.u[static_cast<size_t>(k)];
        if (!gmCut3DLine::SegmntInterSegmt(a, b, p, q, x))
            continue;
        if (points == nullptr)
            return true;
        hit = true;
        // The crossing's place along the edge, carried over to the edge in space.
        const double edge = gmPnt2D(b.x(), b.y()).DistTo(gmPnt2D(a.x(), a.y()));
        const double r = edge > 0.0 ? gmPnt2D(x.x(), x.y()).DistTo(gmPnt2D(a.x(), a.y())) / edge : 1.0;
        const gmPnt3D& ga = e.g[static_cast<size_t>(k - 1)];
        const gmPnt3D& gb = e.g[static_cast<size_t>(k)];
        gmItrPt pt(ga + (gb - ga) * r, seg);
        gmEdge ed(e.nodes[static_cast<size_t>(k - 1)], e.nodes[static_cast<size_t>(k % e.n)], k - 1, k % e.n);
        ed.AddElemnt(e.id);
        pt.SetEdge(ed);
        if (!gmTrmLine::IsItrPtInArr(*points, pt))
            points->push_back(pt);
    }
    return hit;
}

}  // namespace

// ------------------------------------------------------------------ index

// Sparse uniform grid over the segments' inflated boxes: (cell key, segment) pairs sorted by
// key, so a query is a few binary searches and its result does not depend on any hashing.
class gmCut3DLine::Index {
public:
    explicit Index(const std::vector<gmPnt3D>& pts)
    {
        const size_t segs = pts.size() < 2 ? 0 : pts.size() - 1;
        boxes_.resize(segs);
        double scale = 0.0;
        for (const gmPnt3D& p : pts)
            scale = std::max(scale, MaxAbs(p));
        pad_ = kRoundingAbs + kRoundingRel * scale;
        std::vector<double> sides(segs);
        for (size_t i = 0; i < segs; ++i) {
            const gmPnt3D& p = pts[i];
            const gmPnt3D& q = pts[i + 1];
            const double reach = kReachPerLength * p.DistTo(q) + pad_ + kRoundingRel * kReachPerLength * p.DistTo(q);
            Box& b = boxes_[i];
            for (int a = 0; a < 3; ++a) {
                b.lo[static_cast<size_t>(a)] = std::min(p[a], q[a]) - reach;
                b.hi[static_cast<size_t>(a)] = std::max(p[a], q[a]) + reach;
            }
            sides[i] = std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
        }
        if (segs == 0)
            return;
        for (int a = 0; a < 3; ++a) {
            origin_[static_cast<size_t>(a)] = boxes_[0].lo[static_cast<size_t>(a)];
            double top = boxes_[0].hi[static_cast<size_t>(a)];
            for (const Box& b : boxes_) {
                origin_[static_cast<size_t>(a)] = std::min(origin_[static_cast<size_t>(a)], b.lo[static_cast<size_t>(a)]);
                top = std::max(top, b.hi[static_cast<size_t>(a)]);
            }
            extent_[static_cast<size_t>(a)] = top - origin_[static_cast<size_t>(a)];
        }
        // Cells about the size of a typical inflated segment box, but not so many per axis
        // that the keys overflow.
        std::nth_element(sides.begin(), sides.begin() + static_cast<long>(segs / 2), sides.end());
        const double longest = std::max({extent_[0], extent_[1], extent_[2]});
        cell_ = std::max({sides[segs / 2], longest / kMaxPerAxis, 1e-9});
        for (int a = 0; a < 3; ++a)
            dims_[static_cast<size_t>(a)] = static_cast<int64_t>(extent_[static_cast<size_t>(a)] / cell_) + 1;

        std::vector<std::pair<int64_t, int>> entries;
        for (size_t i = 0; i < segs; ++i) {
            std::array<int64_t, 3> lo{};
            std::array<int64_t, 3> hi{};
            CellRange(boxes_[i], lo, hi);
            const size_t cells = static_cast<size_t>((hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1));
            if (cells > kMaxCellsPerSegment) {
                wide_.push_back(static_cast<int>(i));
                continue;
            }
            for (int64_t x = lo[0]; x <= hi[0]; ++x)
                for (int64_t y = lo[1]; y <= hi[1]; ++y)
                    for (int64_t z = lo[2]; z <= hi[2]; ++z)
                        entries.emplace_back(Key(x, y, z), static_cast<int>(i));
        }
        std::sort(entries.begin(), entries.end());
        keys_.reserve(entries.size());
        segs_.reserve(entries.size());
        for (const auto& e : entries) {
            if (keys_.empty() || keys_.back() != e.first) {
                keys_.push_back(e.first);
                starts_.push_back(segs_.size());
            }
            segs_.push_back(e.second);
        }
        starts_.push_back(segs_.size());
    }

    double Pad() const { return pad_; }

    // Ascending indices of the segments whose inflated box overlaps the query box.
    void Query(const Box& query, std::vector<int>& out) const
    {
        out.clear();
        if (boxes_.empty())
            return;
        std::array<int64_t, 3> lo{};
        std::array<int64_t, 3> hi{};
        CellRange(query, lo, hi);
        const double cells = static_cast<double>(hi[0] - lo[0] + 1) * static_cast<double>(hi[1] - lo[1] + 1) *
                             static_cast<double>(hi[2] - lo[2] + 1);
        if (cells > static_cast<double>(keys_.size())) {
            // A query this large is cheaper as one pass over the boxes.
            for (size_t i = 0; i < boxes_.size(); ++i)
                if (boxes_[i].Overlaps(query))
                    out.push_back(static_cast<int>(i));
            return;
        }
        for (int64_t x = lo[0]; x <= hi[0]; ++x) {
            for (int64_t y = lo[1]; y <= hi[1]; ++y) {
                const auto first = std::lower_bound(keys_.begin(), keys_.end(), Key(x, y, lo[2]));
                for (auto it = first; it != keys_.end() && *it <= Key(x, y, hi[2]); ++it) {
                    const size_t c = static_cast<size_t>(it - keys_.begin());
                    for (size_t e = starts_[c]; e < starts_[c + 1]; ++e)
                        if (boxes_[static_cast<size_t>(segs_[e])].Overlaps(query))
                            out.push_back(segs_[e]);
                }
            }
        }
        for (const int i : wide_)
            if (boxes_[static_cast<size_t>(i)].Overlaps(query))
                out.push_back(i);
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }

private:
    static constexpr double kMaxPerAxis = 4096.0;

    int64_t Key(int64_t x, int64_t y, int64_t z) const { return (x * dims_[1] + y) * dims_[2] + z; }

    // The cells a box covers, clamped into the grid.
    void CellRange(const Box& b, std::array<int64_t, 3>& lo, std::array<int64_t, 3>& hi) const
    {
        for (size_t a = 0; a < 3; ++a) {
            const double l = std::clamp((b.lo[a] - origin_[a]) / cell_, 0.0, static_cast<double>(dims_[a] - 1));
            const double h = std::clamp((b.hi[a] - origin_[a]) / cell_, 0.0, static_cast<double>(dims_[a] - 1));
            lo[a] = static_cast<int64_t>(l);
            hi[a] = static_cast<int64_t>(h);
        }
    }

    std::vector<Box> boxes_;
    std::array<double, 3> origin_{};
    std::array<double, 3> extent_{};
    std::array<int64_t, 3> dims_{{1, 1, 1}};
    double cell_ = 1.0;
    double pad_ = 0.0;
    std::vector<int64_t> keys_;
    std::vector<size_t> starts_;
    std::vector<int> segs_;
    std::vector<int> wide_;
};

// -------------------------------------------------------------------- line

gmCut3DLine::gmCut3DLine() { SetKind(Kind3D); }

gmCut3DLine::gmCut3DLine(const std::vector<gmPnt3D>& points, int flag) : gmTrmLine(points, flag)
{
    SetKind(Kind3D);
}

gmCut3DLine::~gmCut3DLine() = default;

// The index is a cache of the points: a copy builds its own when it first needs one.
gmCut3DLine::gmCut3DLine(const gmCut3DLine& o) : gmTrmLine(o), m_seed(o.m_seed), m_seed2(o.m_seed2), m_gap(o.m_gap) {}

gmCut3DLine& gmCut3DLine::operator=(const gmCut3DLine& o)
{
    if (this != &o) {
        gmTrmLine::operator=(o);
        m_seed = o.m_seed;
        m_seed2 = o.m_seed2;
        m_gap = o.m_gap;
        m_index.reset();
    }
    return *this;
}

std::vector<int> gmCut3DLine::Seeds() const
{
    // The first seed always counts: a missing one must still be reported as invalid.
    std::vector<int> seeds{m_seed};
    if (m_seed2 != 0) seeds.push_back(m_seed2);
    return seeds;
}

void gmCut3DLine::SetGap(double gap) { m_gap = std::clamp(gap, kGapMin, kGapMax); }

int gmCut3DLine::SegmntInterSegmt(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d, gmPnt3D& out)
{
    const gmVec2D d1(b.x() - a.x(), b.y() - a.y());
    const gmVec2D d2(d.x() - c.x(), d.y() - c.y());
    const gmVec2D w(c.x() - a.x(), c.y() - a.y());
    double t = 0.0;
    const int crossed = geCrossEdge(d1, d2, w, {kEdgeLow, kEdgeHigh, kSegLow, kSegHigh}, t);
    if (crossed >= 0) {
        if (crossed) out = a + (b - a) * t;
        return crossed;
    }

    if (gmPnt2D(c.x(), c.y()).DistTo(gmPnt2D(a.x(), a.y()), gmPnt2D(b.x(), b.y())) > kCollinearOffset)
        return 0;
    if (!geEndAlong(d1, d2, w, gmVec2D(b.x() - c.x(), b.y() - c.y()), kSegHigh)) return 0;
    out = b;
    return 1;
}

int gmCut3DLine::IsIntersectedPlain(gmElemt& element)
{
    if (!element.MakeLcs() || GetCount() == 0)
        return 0;
    const gmCrdSys& cs = element.GetUcs();
    const ElemView view(element, kWindowTest, m_gap);
    gmPnt3D prev = GetAt(0).InUcs(cs);
    for (int i = 1; i < GetCount(); ++i) {
        const gmPnt3D cur = GetAt(i).InUcs(cs);
        if (TestSegment(view, i - 1, prev, cur, nullptr))
            return 1;
        prev = cur;
    }
    return 0;
}

int gmCut3DLine::InterElementPlain(gmElemt& element, std::vector<gmItrPt>& points)
{
    if (!element.MakeLcs() || GetCount() == 0)
        return 0;
    const gmCrdSys& cs = element.GetUcs();
    std::vector<gmPnt3D> local(GetPntArr().size());
    for (size_t i = 0; i < local.size(); ++i)
        local[i] = GetPntArr()[i].InUcs(cs);
    const size_t before = points.size();
    const ElemView view(element, kWindowPoints, m_gap);
    for (size_t i = 1; i < local.size(); ++i)
        TestSegment(view, static_cast<int>(i) - 1, local[i - 1], local[i], &points);
    SetUcsPntArr(std::move(local));
    return static_cast<int>(points.size() - before);
}

bool gmCut3DLine::Candidates(const gmElemt& element, std::vector<int>& segments)
{
    const gmCrdSys& cs = element.GetUcs();
    if (!IsRotation(cs))
        return false;
    if (!m_index || m_indexRevision != Revision()) {
        m_index = std::make_unique<Index>(GetPntArr());
        m_indexRevision = Revision();
    }

    // The element's vertex rectangle and gap band in its frame, widened by the reach of a hit.
    const std::vector<gmPnt3D>& u = element.GetUcsVtxArr();
    const int n = element.GetNodNum();
    double xlo = u[0].x(), xhi = xlo, ylo = u[0].y(), yhi = ylo;
    double longest = 0.0;
    double scale = MaxAbs(u[0]);
    for (int k = 1; k <= n; ++k) {
        const gmPnt3D& p = u[static_cast<size_t>(k)];
        xlo = std::min(xlo, p.x());
        xhi = std::max(xhi, p.x());
        ylo = std::min(ylo, p.y());
        yhi = std::max(yhi, p.y());
        longest = std::max(longest, gmPnt2D(p.x(), p.y()).DistTo(gmPnt2D(u[k - 1].x(), u[k - 1].y())));
        scale = std::max(scale, MaxAbs(p));
    }
    const double z0 = cs.GetOri().InUcs(cs).z();
    scale = std::max(scale, std::fabs(z0));
    const double pad = m_index->Pad() + kRoundingAbs + kRoundingRel * scale;
    const double reach = kReachPerEdge * longest + kWindowPoints + pad;
    const std::array<double, 2> xs{xlo - reach, xhi + reach};
    const std::array<double, 2> ys{ylo - reach, yhi + reach};
    const double band = m_gap + kGapSlack + pad;
    const std::array<double, 2> zs{z0 - band, z0 + band};

    // Its box in global coordinates: the frame is a rotation, so a corner is xU + yV + zW.
    Box query{{{0.0, 0.0, 0.0}}, {{0.0, 0.0, 0.0}}};
    bool first = true;
    for (const double x : xs) {
        for (const double y : ys) {
            for (const double z : zs) {
                const gmVec3D c = cs.GetU() * x + cs.GetV() * y + cs.GetW() * z;
                for (int a = 0; a < 3; ++a) {
                    const size_t s = static_cast<size_t>(a);
                    query.lo[s] = first ? c[a] : std::min(query.lo[s], c[a]);
                    query.hi[s] = first ? c[a] : std::max(query.hi[s], c[a]);
                }
                first = false;
            }
        }
    }
    for (size_t a = 0; a < 3; ++a) {
        query.lo[a] -= pad;
        query.hi[a] += pad;
    }
    m_index->Query(query, segments);
    return true;
}

int gmCut3DLine::IsIntersected(gmElemt& element)
{
    if (!element.MakeLcs() || GetCount() == 0)
        return 0;
    std::vector<int> segments;
    if (!Candidates(element, segments))
        return IsIntersectedPlain(element);
    const gmCrdSys& cs = element.GetUcs();
    const ElemView view(element, kWindowTest, m_gap);
    for (const int s : segments) {
        if (TestSegment(view, s, GetAt(s).InUcs(cs), GetAt(s + 1).InUcs(cs), nullptr))
            return 1;
    }
    return 0;
}

int gmCut3DLine::InterElement(gmElemt& element, std::vector<gmItrPt>& points)
{
    if (!element.MakeLcs() || GetCount() == 0)
        return 0;
    std::vector<int> segments;
    if (!Candidates(element, segments))
        return InterElementPlain(element, points);
    const gmCrdSys& cs = element.GetUcs();
    const size_t before = points.size();
    const ElemView view(element, kWindowPoints, m_gap);
    for (const int s : segments)
        TestSegment(view, s, GetAt(s).InUcs(cs), GetAt(s + 1).InUcs(cs), &points);
    // The cutters read the curve in this element's frame; it is converted as they read it.
    SetUcsFrame(cs);
    return static_cast<int>(points.size() - before);
}

int gmCut3DLine::IsInside(gmElemt& element)
{
    if (!element.MakeLcs() || GetCount() == 0)
        return 0;
    const gmCrdSys& cs = element.GetUcs();
    const int n = GetCount();
    const auto poly = std::make_unique<float[][2]>(static_cast<size_t>(n));
    float xlo = 0.0f, xhi = 0.0f, ylo = 0.0f, yhi = 0.0f;
    for (int i = 0; i < n; ++i) {
        const gmPnt3D p = GetAt(i).InUcs(cs);
        float* v = poly[i];
        v[0] = static_cast<float>(p.x());
        v[1] = static_cast<float>(p.y());
        xlo = i == 0 ? v[0] : std::min(xlo, v[0]);
        xhi = i == 0 ? v[0] : std::max(xhi, v[0]);
        ylo = i == 0 ? v[1] : std::min(ylo, v[1]);
        yhi = i == 0 ? v[1] : std::max(yhi, v[1]);
    }
    const gmPnt3D mid = element.GetMidPt().InUcs(cs);
    const float pt[2] = {static_cast<float>(mid.x()), static_cast<float>(mid.y())};
    const float slack = static_cast<float>(kInsideSlack);
    if (pt[0] < xlo - slack || pt[0] > xhi + slack || pt[1] < ylo - slack || pt[1] > yhi + slack)
        return 0;
    return geNodeInPolygon(pt, poly.get(), n) ? 1 : 0;
}
