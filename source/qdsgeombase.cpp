#include "qdsgeombase.h"

#include <cmath>

// Constant-initialised (constexpr constructor), so valid before any dynamic initialisation.
const gmVec3D gmVec3D::AxisX(1.0, 0.0, 0.0);
const gmVec3D gmVec3D::AxisY(0.0, 1.0, 0.0);
const gmVec3D gmVec3D::AxisZ(0.0, 0.0, 1.0);
const gmVec3D gmVec3D::ZeroV(0.0, 0.0, 0.0);

namespace {

// Collinear overlap: this segment's end must lie ahead of the other's start by more than this
// (a scalar product, so in squared length units).
constexpr double kTolAhead = 1e-4;

// Distance of p to the segment p1-p2, shared by the 2D and 3D points.
template <class Pnt, class Lin>
double SegmentDistance(const Pnt& p, const Pnt& p1, const Pnt& p2)
{
    const auto e = p2 - p1;
    const double ee = e.SqrLen();
    if (ee <= gmTolSqrSegment)
        return p.DistTo(p1);
    const double t = (p - p1).Dot(e) / ee;
    if (t < 0.0)
        return p.DistTo(p1);
    if (t > 1.0)
        return p.DistTo(p2);
    return Lin(p1, p2).Distance(p);
}

// This line (P1, d1) against another (P2, d2): w = P2 - P1, c = d1 x d2.
struct LinePair {
    LinePair(const gmLin2D& a, const gmLin2D& b)
        : d1(a.Direction()), d2(b.Direction()), w(b.Location() - a.Location()), c(d1.Cross(d2)),
          d1d1(d1.SqrLen()), d2d2(d2.SqrLen())
    {
    }
    // Not parallel: the squared sine of the angle exceeds the tolerance.
    bool Crossing() const { return c * c > gmTolSqrSine * d1d1 * d2d2; }

    const gmVec2D d1;
    const gmVec2D d2;
    const gmVec2D w;
    const double c;
    const double d1d1;
    const double d2d2;
};

} // namespace

double gmPnt2D::MinDst(const gmPnt2D& p1, const gmPnt2D& p2) const
{
    return SegmentDistance<gmPnt2D, gmLin2D>(*this, p1, p2);
}

double gmPnt3D::MinDst(const gmPnt3D& p1, const gmPnt3D& p2) const
{
    return SegmentDistance<gmPnt3D, gmLin3D>(*this, p1, p2);
}

double gmVec3D::AngleWith(const gmVec3D& v) const
{
    return std::atan2(Cross(v).Length(), Dot(v));
}

int gmLin2D::LineInterLine(const gmLin2D& other, gmPnt2D& out) const
{
    const LinePair pair(*this, other);
    if (pair.Crossing()) {
        out = m_loc + pair.d1 * (pair.w.Cross(pair.d2) / pair.c);
        return 1;
    }
    if (pair.d2d2 < gmTolSqrDirection)
        return 0;
    const double wd1 = pair.w.Cross(pair.d1);
    if (wd1 * wd1 > gmTolSqrSine * pair.d1d1 * pair.w.SqrLen())
        return 0;
    return 2;
}

int gmLin2D::SegmtInterSegmt(const gmLin2D& other, gmPnt2D& out) const
{
    const LinePair pair(*this, other);
    const gmVec2D& d1 = pair.d1;
    const gmVec2D& d2 = pair.d2;
    const gmVec2D& w = pair.w;

    if (pair.Crossing()) {
        const double t = w.Cross(d2) / pair.c;
        const double s = w.Cross(d1) / pair.c;
        if (t < gmTolParamLow || t > gmTolParamHighThis || s < gmTolParamLow || s > gmTolParamHighOther)
            return 0;
        out = m_loc + d1 * t;
        return 1;
    }

    // Parallel: only collinear overlapping segments meet, and then at this segment's end.
    if (other.Distance(m_loc) > gmTolCollinear)
        return 0;
    gmVec2D v = w;
    double q = w.SqrLen();
    if (q < gmTolSqrDirection) {
        // The start points coincide: test the directions against each other instead.
        v = d2;
        q = pair.d1d1;
    }
    const double vd1 = v.Cross(d1);
    if (vd1 * vd1 > gmTolSqrSine * pair.d1d1 * q)
        return 0;
    const double d2len = std::sqrt(pair.d2d2);
    if (d2len == 0.0)
        return 0;  // a point-like other segment contains no end point
    const gmPnt2D end = m_loc + d1;
    const gmVec2D fromStart = end - other.m_loc;
    const double r = fromStart.Length() / d2len;
    if (r > gmTolParamLow && r < gmTolParamHighOther && fromStart.Dot(d2) > kTolAhead) {
        out = end;
        return 1;
    }
    return 0;
}

int gmLin2D::SegmtInterSegmt(const gmPnt2D& p1, const gmPnt2D& p2, gmPnt2D& out) const
{
    return SegmtInterSegmt(gmLin2D(p1, p2), out);
}
