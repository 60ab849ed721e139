#include "qdsgeombase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEps = 1e-12;

double Deg(double degrees) { return degrees * kPi / 180.0; }

void ExpectNear2(const gmPnt2D& p, double x, double y, double tol = kEps)
{
    EXPECT_NEAR(p.x(), x, tol);
    EXPECT_NEAR(p.y(), y, tol);
}

void ExpectNear3(const gmPnt3D& p, double x, double y, double z, double tol = kEps)
{
    EXPECT_NEAR(p.x(), x, tol);
    EXPECT_NEAR(p.y(), y, tol);
    EXPECT_NEAR(p.z(), z, tol);
}

void ExpectNear3(const gmVec3D& v, double x, double y, double z, double tol = kEps)
{
    ExpectNear3(v.Coord(), x, y, z, tol);
}

// Segment of the given length centred on c, at the given angle to the x axis.
gmLin2D SegmentAt(const gmPnt2D& c, double angle, double length)
{
    const gmVec2D d(std::cos(angle) * length, std::sin(angle) * length);
    return gmLin2D(c - d * 0.5, d);
}

} // namespace

// ---- defaults, constants, conversions -------------------------------------------------------

TEST(GeomDefaults, ValueTypesStartAtTheirDocumentedValues)
{
    ExpectNear2(gmPnt2D(), 0, 0, 0);
    ExpectNear3(gmPnt3D(), 0, 0, 0, 0);
    ExpectNear2(gmVec2D().Coord(), 1, 0, 0);
    ExpectNear3(gmVec3D(), 0, 0, 1, 0);

    const gmCrdSys cs;
    ExpectNear3(cs.GetU(), 1, 0, 0, 0);
    ExpectNear3(cs.GetV(), 0, 1, 0, 0);
    ExpectNear3(cs.GetW(), 0, 0, 1, 0);
    ExpectNear3(cs.GetOri(), 0, 0, 0, 0);

    const gmLin2D l2;
    ExpectNear2(l2.Location(), 0, 0, 0);
    ExpectNear2(l2.Direction().Coord(), 1, 0, 0);
    const gmLin3D l3;
    ExpectNear3(l3.Location(), 0, 0, 0, 0);
    ExpectNear3(l3.Direction(), 0, 0, 1, 0);
}

TEST(GeomDefaults, ClassConstants)
{
    ExpectNear3(gmVec3D::AxisX, 1, 0, 0, 0);
    ExpectNear3(gmVec3D::AxisY, 0, 1, 0, 0);
    ExpectNear3(gmVec3D::AxisZ, 0, 0, 1, 0);
    ExpectNear3(gmVec3D::ZeroV, 0, 0, 0, 0);
    EXPECT_TRUE(gmVec3D::ZeroV.IsZero());
}

TEST(GeomConversions, Between2DAnd3DAndArrays)
{
    const gmPnt2D p2(1.5, -2.5);
    ExpectNear3(gmPnt3D(p2), 1.5, -2.5, 0, 0);
    ExpectNear3(p2.AsPnt3D(), 1.5, -2.5, 0, 0);
    const gmPnt3D p3(4, 5, 6);
    ExpectNear2(gmPnt2D(p3), 4, 5, 0);
    ExpectNear2(p3.AsPnt2D(), 4, 5, 0);

    ExpectNear3(p3.AsVector(), 4, 5, 6, 0);
    ExpectNear3(gmVec3D(7, 8, 9).AsPoint(), 7, 8, 9, 0);
    ExpectNear2(p2.AsVector().AsPoint(), 1.5, -2.5, 0);
    ExpectNear3(gmVec3D(gmVec2D(3, 4)), 3, 4, 0, 0);
    ExpectNear2(gmVec2D(gmVec3D(3, 4, 5)).Coord(), 3, 4, 0);

    const float fa[3] = {1.0f, 2.0f, 3.0f};
    const double da[3] = {-1.0, -2.0, -3.0};
    ExpectNear3(gmPnt3D(fa), 1, 2, 3, 0);
    ExpectNear3(gmVec3D(da), -1, -2, -3, 0);
    ExpectNear2(gmPnt2D(da), -1, -2, 0);

    gmPnt3D q;
    q.Set(fa);
    ExpectNear3(q, 1, 2, 3, 0);
    double out[3] = {0, 0, 0};
    q.AsPoint(out);
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[2], 3.0);
    float fout[2] = {0, 0};
    p2.AsPoint(fout);
    EXPECT_EQ(fout[0], 1.5f);
    EXPECT_EQ(fout[1], -2.5f);
}

TEST(GeomAccess, IndexAndComponentAccessors)
{
    gmPnt3D p(1, 2, 3);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[1], 2);
    EXPECT_EQ(p[2], 3);
    p[1] = 7;
    p.x() = 9;
    p.SetZ(-1);
    ExpectNear3(p, 9, 7, -1, 0);

    gmVec3D v(1, 2, 3);
    v[2] = 5;
    EXPECT_EQ(v.z(), 5);

    gmPnt2D q(1, 2);
    q[0] = 3;
    q.SetY(4);
    ExpectNear2(q, 3, 4, 0);

    gmCrdSys cs;
    cs[1] = gmVec3D(0, 0, 2);
    ExpectNear3(cs.GetV(), 0, 0, 2, 0);
    ExpectNear3(cs[2], 0, 0, 1, 0);
    const gmCrdSys& constCs = cs;
    ExpectNear3(constCs[0], 1, 0, 0, 0);
    ExpectNear3(constCs[1], 0, 0, 2, 0);
    ExpectNear3(constCs[2], 0, 0, 1, 0);
    const gmPnt2D constQ(5, 6);
    EXPECT_EQ(constQ[1], 6);
    const gmVec2D constV(7, 8);
    EXPECT_EQ(constV[0], 7);
}

#ifndef NDEBUG
TEST(GeomAccessDeathTest, BadIndexStopsWithTheAssertionText)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gmPnt2D p2;
    gmPnt3D p3;
    gmVec3D v3;
    gmCrdSys cs;
    EXPECT_DEATH((void)p2[2], "i >=0 && i <= 1");
    EXPECT_DEATH((void)p2[-1], "i >=0 && i <= 1");
    EXPECT_DEATH((void)p3[3], "i >=0 && i <= 2");
    EXPECT_DEATH((void)v3[3], "i >=0 && i <= 2");
    EXPECT_DEATH((void)cs[3], "dim >=0 && dim <= 2");
}
#endif

// ---- arithmetic -----------------------------------------------------------------------------

TEST(GeomArithmetic, PointsAndVectors)
{
    const gmPnt3D a(1, 2, 3);
    const gmPnt3D b(4, 6, 3);
    const gmVec3D ab = b - a;
    ExpectNear3(ab, 3, 4, 0, 0);
    ExpectNear3(a + ab, 4, 6, 3, 0);
    ExpectNear3(b - ab, 1, 2, 3, 0);
    ExpectNear3(a + b, 5, 8, 6, 0);
    ExpectNear3(a * 2.0, 2, 4, 6, 0);
    ExpectNear3(2.0 * a, 2, 4, 6, 0);
    ExpectNear3(a / 2.0, 0.5, 1, 1.5, 0);
    ExpectNear3(a.Reversed(), -1, -2, -3, 0);
    EXPECT_DOUBLE_EQ(a.DistTo(b), 5.0);
    EXPECT_DOUBLE_EQ(a.SqrDst(b), 25.0);
    EXPECT_DOUBLE_EQ(gmPnt3D(3, 4, 0).Modulus(), 5.0);
    EXPECT_DOUBLE_EQ(gmPnt3D(3, 4, 0).SqrModulus(), 25.0);

    gmPnt3D c = a;
    c += ab;
    c -= gmVec3D(1, 1, 1);
    c *= 2.0;
    c /= 4.0;
    ExpectNear3(c, 1.5, 2.5, 1, 0);
    c.Reverse();
    ExpectNear3(c, -1.5, -2.5, -1, 0);

    gmVec3D v(1, 0, 0);
    v += gmVec3D(0, 1, 0);
    v -= gmVec3D(0, 0, 1);
    ExpectNear3(v, 1, 1, -1, 0);
    ExpectNear3(-v, -1, -1, 1, 0);
    ExpectNear3(v * 3.0, 3, 3, -3, 0);
    ExpectNear3(v / 2.0, 0.5, 0.5, -0.5, 0);
    EXPECT_DOUBLE_EQ(v.SqrLen(), 3.0);
    EXPECT_DOUBLE_EQ(v * gmVec3D(2, 3, 4), 1.0);
    ExpectNear3(gmVec3D::AxisX ^ gmVec3D::AxisY, 0, 0, 1, 0);
    ExpectNear3(gmVec3D::AxisY.Cross(gmVec3D::AxisX), 0, 0, -1, 0);

    const gmVec2D u(1, 2);
    const gmVec2D w(3, 5);
    EXPECT_DOUBLE_EQ(u ^ w, 1 * 5 - 2 * 3);
    EXPECT_DOUBLE_EQ(u.Cross(w), -1.0);
    EXPECT_DOUBLE_EQ(u * w, 13.0);
    ExpectNear2((u + w).Coord(), 4, 7, 0);
    ExpectNear2((u - w).Coord(), -2, -3, 0);
    ExpectNear2(gmPnt2D(1, 1) + u, 2, 3, 0);
    ExpectNear2((gmPnt2D(1, 1) - gmPnt2D(4, 5)).Coord(), -3, -4, 0);
    EXPECT_DOUBLE_EQ(gmPnt2D(1, 1).DistTo(gmPnt2D(4, 5)), 5.0);
}

// ---- normalise and IsZero at their 1e-4 boundary -------------------------------------------

TEST(GeomNormalize, ShortVectorsBecomeZero3D)
{
    gmVec3D shortV(0, 0, 5e-5);
    shortV.Normalize();
    ExpectNear3(shortV, 0, 0, 0, 0);

    gmVec3D longV(0, 0, 2e-4);
    longV.Normalize();
    ExpectNear3(longV, 0, 0, 1);

    // Exactly at the boundary: not greater than 1e-4, so zero.
    ExpectNear3(gmVec3D(1e-4, 0, 0).Normalized(), 0, 0, 0, 0);
    ExpectNear3(gmVec3D::ZeroV.Normalized(), 0, 0, 0, 0);

    const gmVec3D v(3, 0, 4);
    ExpectNear3(v.Normalized(), 0.6, 0, 0.8);
    ExpectNear3(v, 3, 0, 4, 0);  // the copy is normalised, not v
}

TEST(GeomNormalize, ShortVectorsBecomeZero2D)
{
    gmVec2D shortV(5e-5, 0);
    shortV.Normalize();
    ExpectNear2(shortV.Coord(), 0, 0, 0);
    gmVec2D longV(0, -2e-4);
    longV.Normalize();
    ExpectNear2(longV.Coord(), 0, -1);
    ExpectNear2(gmVec2D(3, 4).Normalized().Coord(), 0.6, 0.8);
}

TEST(GeomIsZero, BoundaryAtLength1em4)
{
    EXPECT_TRUE(gmVec3D(0, 0, 9e-5).IsZero());
    EXPECT_FALSE(gmVec3D(0, 0, 1.1e-4).IsZero());
    EXPECT_TRUE(gmVec3D(6e-5, 6e-5, 0).IsZero());   // length 8.5e-5
    EXPECT_FALSE(gmVec3D(8e-5, 8e-5, 0).IsZero());  // length 1.13e-4
    EXPECT_TRUE(gmVec2D(9e-5, 0).IsZero());
    EXPECT_FALSE(gmVec2D(0, 1.1e-4).IsZero());
    EXPECT_FALSE(gmVec2D().IsZero());
}

// ---- distances to lines and segments --------------------------------------------------------

TEST(GeomLineDistance, WithinPoint01ReadsAsZero3D)
{
    const gmLin3D line(gmPnt3D(0, 0, 0), gmPnt3D(10, 0, 0));
    EXPECT_EQ(line.Distance(gmPnt3D(5, 0.009, 0)), 0.0);
    EXPECT_NEAR(line.Distance(gmPnt3D(5, 0.011, 0)), 0.011, 1e-12);
    EXPECT_NEAR(line.SqrDist(gmPnt3D(5, 0.009, 0)), 0.009 * 0.009, 1e-15);
    EXPECT_NEAR(line.Distance(gmPnt3D(-50, 0, 3)), 3.0, 1e-12);  // infinite, not a segment
    EXPECT_EQ(gmPnt3D(5, 0, 0.009).DistTo(line), 0.0);
    EXPECT_NEAR(gmPnt3D(5, 0, 0.011).DistTo(gmPnt3D(0, 0, 0), gmPnt3D(10, 0, 0)), 0.011, 1e-12);
}

TEST(GeomLineDistance, WithinPoint01ReadsAsZero2D)
{
    const gmLin2D line(gmPnt2D(0, 0), gmPnt2D(0, 10));
    EXPECT_EQ(line.Distance(gmPnt2D(0.009, 3)), 0.0);
    EXPECT_NEAR(line.Distance(gmPnt2D(-0.011, 3)), 0.011, 1e-12);
    EXPECT_EQ(gmPnt2D(0.009, 30).DistTo(line), 0.0);
    EXPECT_NEAR(gmPnt2D(4, 30).DistTo(gmPnt2D(0, 0), gmPnt2D(0, 10)), 4.0, 1e-12);
}

TEST(GeomLineDistance, LineFromTwoPointsKeepsUnnormalisedDirection)
{
    const gmLin3D l3(gmPnt3D(1, 1, 1), gmPnt3D(4, 5, 1));
    ExpectNear3(l3.Location(), 1, 1, 1, 0);
    ExpectNear3(l3.Direction(), 3, 4, 0, 0);
    const gmLin2D l2(gmPnt2D(1, 1), gmPnt2D(-2, 5));
    ExpectNear2(l2.Direction().Coord(), -3, 4, 0);
}

TEST(GeomLineDistance, ShortDirectionIsIgnored)
{
    // |d|^2 = 2.5e-5 <= 1e-4: distance to the location.
    const gmLin3D shortLine(gmPnt3D(0, 0, 0), gmVec3D(0.005, 0, 0));
    EXPECT_NEAR(shortLine.SqrDist(gmPnt3D(3, 4, 0)), 25.0, 1e-12);
    // |d|^2 = 1.21e-4 > 1e-4: perpendicular distance.
    const gmLin3D usable(gmPnt3D(0, 0, 0), gmVec3D(0.011, 0, 0));
    EXPECT_NEAR(usable.SqrDist(gmPnt3D(3, 4, 0)), 16.0, 1e-9);

    const gmLin2D shortLine2(gmPnt2D(0, 0), gmVec2D(0, 0.005));
    EXPECT_NEAR(shortLine2.SqrDist(gmPnt2D(3, 4)), 25.0, 1e-12);
    const gmLin2D usable2(gmPnt2D(0, 0), gmVec2D(0, 0.011));
    EXPECT_NEAR(usable2.SqrDist(gmPnt2D(3, 4)), 9.0, 1e-9);
}

TEST(GeomMinDst, BeyondEndsAndInterior3D)
{
    const gmPnt3D p1(0, 0, 0);
    const gmPnt3D p2(10, 0, 0);
    EXPECT_NEAR(gmPnt3D(13, 4, 0).MinDst(p1, p2), 5.0, 1e-12);   // beyond p2
    EXPECT_NEAR(gmPnt3D(-3, 0, 4).MinDst(p1, p2), 5.0, 1e-12);   // before p1
    EXPECT_NEAR(gmPnt3D(5, 4, 0).MinDst(p1, p2), 4.0, 1e-12);    // interior: line distance
    EXPECT_EQ(gmPnt3D(5, 0.009, 0).MinDst(p1, p2), 0.0);         // interior snaps like the line
    EXPECT_NEAR(gmPnt3D(10.009, 0, 0).MinDst(p1, p2), 0.009, 1e-12);  // beyond p2: no snapping
    EXPECT_NEAR(gmPnt3D(13, 4, 0).MinDst(p2, p1), 5.0, 1e-12);   // orientation does not matter
}

TEST(GeomMinDst, BeyondEndsAndInterior2D)
{
    const gmPnt2D p1(0, 0);
    const gmPnt2D p2(0, 10);
    EXPECT_NEAR(gmPnt2D(4, 13).MinDst(p1, p2), 5.0, 1e-12);
    EXPECT_NEAR(gmPnt2D(-4, -3).MinDst(p1, p2), 5.0, 1e-12);
    EXPECT_NEAR(gmPnt2D(-4, 7).MinDst(p1, p2), 4.0, 1e-12);
    EXPECT_EQ(gmPnt2D(0.009, 7).MinDst(p1, p2), 0.0);
}

TEST(GeomMinDst, PointLikeSegmentMeasuresFromItsStart)
{
    // |e|^2 = 2.5e-7 <= 1e-6: distance to p1, without the 0.01 snap.
    const gmPnt3D p1(1, 1, 1);
    const gmPnt3D p2(1.0005, 1, 1);
    EXPECT_NEAR(gmPnt3D(1, 1, 1.009).MinDst(p1, p2), 0.009, 1e-12);
    EXPECT_NEAR(gmPnt3D(1, 4, 5).MinDst(p1, p2), 5.0, 1e-12);
    const gmPnt2D q1(1, 1);
    const gmPnt2D q2(1, 1.0005);
    EXPECT_NEAR(gmPnt2D(4, 5).MinDst(q1, q2), 5.0, 1e-12);
}

// ---- line and segment intersection ---------------------------------------------------------

TEST(GeomLineInterLine, CrossingParallelAndCoincident)
{
    gmPnt2D out(-99, -99);
    const gmLin2D a(gmPnt2D(0, 0), gmVec2D(2, 2));
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(0, 4), gmVec2D(1, -1)), out), 1);
    ExpectNear2(out, 2, 2);

    // Infinite lines: the crossing may lie outside both "segments".
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(10, 0), gmVec2D(0, 1)), out), 1);
    ExpectNear2(out, 10, 10);

    out.Set(-99, -99);
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(1, 0), gmVec2D(3, 3)), out), 0);  // parallel
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(5, 5), gmVec2D(-1, -1)), out), 2);  // coincident
    ExpectNear2(out, -99, -99, 0);                                                  // not written
    // The other line has (almost) no direction: nothing, even on this line.
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(5, 5), gmVec2D(0.001, 0.001)), out), 0);
}

TEST(GeomLineInterLine, HalfDegreeIsParallelOneDegreeCrosses)
{
    gmPnt2D out;
    const gmLin2D base(gmPnt2D(0, 0), gmVec2D(1, 0));
    const gmPnt2D off(0, 1);
    EXPECT_EQ(base.LineInterLine(gmLin2D(off, gmVec2D(std::cos(Deg(0.5)), std::sin(Deg(0.5)))), out), 0);
    EXPECT_EQ(base.LineInterLine(gmLin2D(off, gmVec2D(std::cos(Deg(1.0)), std::sin(Deg(1.0)))), out), 1);
    ExpectNear2(out, -1.0 / std::tan(Deg(1.0)), 0, 1e-9);
    // The same 0.5 degree pair through a common point: read as one line.
    EXPECT_EQ(base.LineInterLine(gmLin2D(gmPnt2D(0, 0), gmVec2D(std::cos(Deg(0.5)), std::sin(Deg(0.5)))), out), 2);
}

TEST(GeomSegmtInterSegmt, CrossingAtTheMiddles)
{
    gmPnt2D out;
    const gmLin2D a(gmPnt2D(0, 0), gmPnt2D(2, 2));
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(0, 2), gmPnt2D(2, 0)), out), 1);
    ExpectNear2(out, 1, 1);
    out.Set(0, 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0, 2), gmPnt2D(2, 0), out), 1);
    ExpectNear2(out, 1, 1);
    // Lines cross, segments do not.
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(3, 5), gmPnt2D(5, 3), out), 0);
}

TEST(GeomSegmtInterSegmt, StartNotReportedEndReported)
{
    gmPnt2D out(-99, -99);
    const gmLin2D a(gmPnt2D(0, 0), gmPnt2D(1, 0));
    // Meeting only at this segment's start point (t = 0).
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0, -1), gmPnt2D(0, 1), out), 0);
    ExpectNear2(out, -99, -99, 0);
    // This segment's end (t = 1) inside the other segment.
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1, -1), gmPnt2D(1, 1), out), 1);
    ExpectNear2(out, 1, 0);
}

TEST(GeomSegmtInterSegmt, ParameterWindows)
{
    gmPnt2D out;
    const gmLin2D a(gmPnt2D(0, 0), gmPnt2D(1, 0));
    // This segment: t up to 1.0002.
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1.00015, -1), gmPnt2D(1.00015, 1), out), 1);
    ExpectNear2(out, 1.00015, 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1.0003, -1), gmPnt2D(1.0003, 1), out), 0);
    // This segment: t from 1e-4.
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.00015, -1), gmPnt2D(0.00015, 1), out), 1);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.00005, -1), gmPnt2D(0.00005, 1), out), 0);
    // The other segment: s up to 1.0001 (its end reaches this segment's interior).
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.5, -1), gmPnt2D(0.5, 0.00005), out), 1);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.5, -1), gmPnt2D(0.5, -0.00005), out), 1);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.5, -1), gmPnt2D(0.5, -0.00015), out), 0);
    // The other segment: s from 1e-4 (a crossing at its start is not reported either).
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.5, 0), gmPnt2D(0.5, 1), out), 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.5, -0.0002), gmPnt2D(0.5, 1), out), 1);
}

TEST(GeomSegmtInterSegmt, ParameterWindowBoundsAreInclusive)
{
    // Chosen so that the parameters come out as exactly the bounds.
    gmPnt2D out;
    const gmLin2D a(gmPnt2D(0, 0), gmVec2D(1, 0));
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(1e-4, -1), gmVec2D(0, 2)), out), 1);
    ExpectNear2(out, 1e-4, 0, 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(1.0002, -1), gmVec2D(0, 2)), out), 1);
    ExpectNear2(out, 1.0002, 0, 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(0.5, -1e-4), gmVec2D(0, 1)), out), 1);
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(0.5, -1.0001), gmVec2D(0, 1)), out), 1);
}

TEST(GeomSegmtInterSegmt, HalfDegreeIsParallelOneDegreeCrosses)
{
    gmPnt2D out;
    const gmLin2D a = SegmentAt(gmPnt2D(0, 0), 0.0, 20.0);
    EXPECT_EQ(a.SegmtInterSegmt(SegmentAt(gmPnt2D(0, 0), Deg(0.5), 20.0), out), 0);
    EXPECT_EQ(a.SegmtInterSegmt(SegmentAt(gmPnt2D(0, 0), Deg(1.0), 20.0), out), 1);
    ExpectNear2(out, 0, 0, 1e-9);
}

TEST(GeomSegmtInterSegmt, CollinearOverlapReportsThisEnd)
{
    gmPnt2D out(-99, -99);
    const gmLin2D a(gmPnt2D(0, 0), gmPnt2D(2, 0));
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1, 0), gmPnt2D(3, 0), out), 1);
    ExpectNear2(out, 2, 0, 0);
    // The other segment runs the opposite way.
    out.Set(-99, -99);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(3, 0), gmPnt2D(1, 0), out), 1);
    ExpectNear2(out, 2, 0, 0);
    // This end at the other's end: r = 1 < 1.0001.
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1, 0), gmPnt2D(2, 0), out), 1);
    // This end at the other's start (r = 0), beyond the other's end, or behind its start.
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(2, 0), gmPnt2D(3, 0), out), 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0.5, 0), gmPnt2D(1.5, 0), out), 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(3, 0), gmPnt2D(5, 0), out), 0);
    // Common start point: the directions are compared instead.
    EXPECT_EQ(gmLin2D(gmPnt2D(0, 0), gmPnt2D(1, 0)).SegmtInterSegmt(gmPnt2D(0, 0), gmPnt2D(2, 0), out), 1);
    ExpectNear2(out, 1, 0, 0);
    // Start points 0.005 apart across the lines: still compared by direction, so they overlap.
    EXPECT_EQ(gmLin2D(gmPnt2D(0, 0), gmPnt2D(1, 0)).SegmtInterSegmt(gmPnt2D(0, 0.005), gmPnt2D(2, 0.005), out), 1);
    ExpectNear2(out, 1, 0, 0);
}

TEST(GeomSegmtInterSegmt, CollinearEndMustBeAheadOfOtherStartByItsParameter)
{
    // Measured as a fraction of the other segment (length 100): 5e-5 is too close, 2e-4 is not.
    gmPnt2D out;
    const gmLin2D a(gmPnt2D(0, 0), gmPnt2D(2, 0));
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1.995, 0), gmPnt2D(101.995, 0), out), 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1.98, 0), gmPnt2D(101.98, 0), out), 1);
    ExpectNear2(out, 2, 0, 0);
}

TEST(GeomSegmtInterSegmt, CollinearOffsetBoundaryAtPoint01)
{
    gmPnt2D out;
    const gmPnt2D q1(1, 0);
    const gmPnt2D q2(3, 0);
    EXPECT_EQ(gmLin2D(gmPnt2D(0, 0.009), gmPnt2D(2, 0.009)).SegmtInterSegmt(q1, q2, out), 1);
    ExpectNear2(out, 2, 0.009);
    EXPECT_EQ(gmLin2D(gmPnt2D(0, 0.011), gmPnt2D(2, 0.011)).SegmtInterSegmt(q1, q2, out), 0);
    // Parallel but far apart.
    EXPECT_EQ(gmLin2D(gmPnt2D(0, 1), gmPnt2D(2, 1)).SegmtInterSegmt(q1, q2, out), 0);
}

TEST(GeomSegmtInterSegmt, PointLikeSegmentsMeetNothing)
{
    gmPnt2D out;
    const gmLin2D a(gmPnt2D(0, 0), gmPnt2D(2, 0));
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(1, 0), gmPnt2D(1, 0), out), 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(2, 0), gmPnt2D(2, 0), out), 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmPnt2D(0, 0), gmPnt2D(0, 0), out), 0);
}

// ---- coordinate systems and angles ---------------------------------------------------------

TEST(GeomCrdSys, InUcsDoesNotSubtractTheOrigin)
{
    gmCrdSys cs;
    cs.SetOri(gmPnt3D(10, 10, 10));
    const gmPnt3D p(1, 2, 3);
    ExpectNear3(p.InUcs(cs), 1, 2, 3, 0);
    ExpectNear3(p, 1, 2, 3, 0);  // unchanged
    gmPnt3D q = p;
    q.AsUcs(cs);
    ExpectNear3(q, 1, 2, 3, 0);
}

TEST(GeomCrdSys, ProjectsOnTheAxes)
{
    // A rotation by 90 degrees about z.
    gmCrdSys cs(gmVec3D(0, 2, 0), gmVec3D(-3, 0, 0), gmVec3D(0, 0, 5));
    ExpectNear3(cs.GetU(), 0, 1, 0);
    ExpectNear3(cs.GetV(), -1, 0, 0);
    ExpectNear3(gmPnt3D(1, 2, 3).InUcs(cs), 2, -1, 3);

    // SetUVW keeps the axes as given: a plain projection, not a rotation.
    cs.SetUVW(gmVec3D(2, 0, 0), gmVec3D(1, 1, 0), gmVec3D(0, 0, 1));
    ExpectNear3(cs.GetU(), 2, 0, 0, 0);
    ExpectNear3(gmPnt3D(1, 2, 3).InUcs(cs), 2, 3, 3);
}

TEST(GeomCrdSys, ConstructorNormalisesButDoesNotOrthogonalise)
{
    const gmCrdSys cs(gmVec3D(5, 0, 0), gmVec3D(1, 1, 0), gmVec3D(0, 0, 1e-5));
    ExpectNear3(cs.GetU(), 1, 0, 0);
    ExpectNear3(cs.GetV(), std::sqrt(0.5), std::sqrt(0.5), 0);
    ExpectNear3(cs.GetW(), 0, 0, 0, 0);  // too short to normalise
    ExpectNear3(cs.GetOri(), 0, 0, 0, 0);
    gmCrdSys copy = cs;
    copy.SetU(gmVec3D(0, 0, 3));
    ExpectNear3(copy.GetU(), 0, 0, 3, 0);
    ExpectNear3(cs.GetU(), 1, 0, 0);
}

TEST(GeomAngle, AngleWith)
{
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(-1, 0, 0)), kPi, 1e-15);
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(3, 0, 0)), 0.0, 1e-15);
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(0, 0, 7)), kPi / 2, 1e-15);
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(1, 1, 0)), kPi / 4, 1e-15);
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(-1, 1, 0)), 3 * kPi / 4, 1e-15);
}

// ---- invariants over random input -----------------------------------------------------------

TEST(GeomInvariants, SegmtInterSegmtResultLiesOnBothSegments)
{
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> coord(-100.0, 100.0);
    std::uniform_real_distribution<double> param(0.05, 0.95);
    std::uniform_real_distribution<double> angle(0.0, 2 * kPi);
    std::uniform_real_distribution<double> len(0.5, 50.0);
    int checked = 0;
    for (int i = 0; i < 2000; ++i) {
        const gmPnt2D x(coord(rng), coord(rng));
        const double a1 = angle(rng);
        const double a2 = angle(rng);
        if (std::fabs(std::sin(a1 - a2)) < 0.1)
            continue;  // clearly non-parallel pairs only
        const gmVec2D d1 = gmVec2D(std::cos(a1), std::sin(a1)) * len(rng);
        const gmVec2D d2 = gmVec2D(std::cos(a2), std::sin(a2)) * len(rng);
        const gmLin2D s1(x - d1 * param(rng), d1);
        const gmLin2D s2(x - d2 * param(rng), d2);

        gmPnt2D out;
        ASSERT_EQ(s1.SegmtInterSegmt(s2, out), 1) << "pair " << i;
        EXPECT_NEAR(out.DistTo(x), 0.0, 1e-9);
        EXPECT_LT(s1.SqrDist(out), 1e-18 * d1.SqrLen() + 1e-20);
        EXPECT_LT(s2.SqrDist(out), 1e-18 * d2.SqrLen() + 1e-20);
        const double t = (out - s1.Location()).Dot(d1) / d1.SqrLen();
        const double s = (out - s2.Location()).Dot(d2) / d2.SqrLen();
        EXPECT_GT(t, 0.0);
        EXPECT_LT(t, 1.0);
        EXPECT_GT(s, 0.0);
        EXPECT_LT(s, 1.0);

        // The same pair read the other way round meets at the same point.
        gmPnt2D back;
        ASSERT_EQ(s2.SegmtInterSegmt(s1, back), 1);
        EXPECT_NEAR(back.DistTo(out), 0.0, 1e-9);
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

TEST(GeomInvariants, OrthonormalFrameConversionPreservesDistances)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-10.0, 10.0);
    for (int i = 0; i < 200; ++i) {
        const gmVec3D a(coord(rng), coord(rng), coord(rng));
        const gmVec3D b(coord(rng), coord(rng), coord(rng));
        if ((a ^ b).Length() < 1.0)
            continue;
        const gmVec3D w = (a ^ b).Normalized();
        const gmVec3D u = a.Normalized();
        const gmCrdSys cs(u, w ^ u, w);
        const gmPnt3D p(coord(rng), coord(rng), coord(rng));
        const gmPnt3D q(coord(rng), coord(rng), coord(rng));
        EXPECT_NEAR(p.InUcs(cs).DistTo(q.InUcs(cs)), p.DistTo(q), 1e-9);
        EXPECT_NEAR(p.InUcs(cs).Modulus(), p.Modulus(), 1e-9);
        // Angles survive too, and AngleWith is symmetric and within [0, pi].
        const double ang = a.AngleWith(b);
        EXPECT_NEAR(ang, b.AngleWith(a), 1e-12);
        EXPECT_GE(ang, 0.0);
        EXPECT_LE(ang, kPi);
        EXPECT_NEAR(a.AsPoint().InUcs(cs).AsVector().AngleWith(b.AsPoint().InUcs(cs).AsVector()), ang, 1e-9);
    }
}

TEST(GeomInvariants, NormalisedVectorsHaveUnitLengthAndCrossIsOrthogonal)
{
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> coord(-1e3, 1e3);
    for (int i = 0; i < 200; ++i) {
        const gmVec3D a(coord(rng), coord(rng), coord(rng));
        const gmVec3D b(coord(rng), coord(rng), coord(rng));
        EXPECT_NEAR(a.Normalized().Length(), 1.0, 1e-12);
        const gmVec3D c = a ^ b;
        EXPECT_NEAR(c.Normalized() * a.Normalized(), 0.0, 1e-9);
        EXPECT_NEAR(c.Normalized() * b.Normalized(), 0.0, 1e-9);
        // Line distance is unchanged by moving the line's location along its direction.
        const gmPnt3D p(coord(rng), coord(rng), coord(rng));
        const gmLin3D l1(gmPnt3D(0, 0, 0), a);
        const gmLin3D l2(gmPnt3D(0, 0, 0) + a * 3.0, a * 0.5);
        EXPECT_NEAR(l1.Distance(p), l2.Distance(p), 1e-6);
    }
}
