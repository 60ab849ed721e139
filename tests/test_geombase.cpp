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

// A segment p-q against this one, its expected result and (for 1) the meeting point.
struct SegCase {
    const char* what;
    gmPnt2D p, q;
    int result;
    gmPnt2D at;
};

void CheckSegments(const gmLin2D& a, const std::vector<SegCase>& cases)
{
    for (const SegCase& c : cases) {
        SCOPED_TRACE(c.what);
        gmPnt2D out(-99, -99);
        ASSERT_EQ(a.SegmtInterSegmt(c.p, c.q, out), c.result);
        if (c.result == 1)
            ExpectNear2(out, c.at.x(), c.at.y(), 1e-12);
        else
            ExpectNear2(out, -99, -99, 0);  // not written
    }
}

} // namespace

// The sign conventions the cutting code's orientation tests depend on.
TEST(GeomArithmetic, CrossProductOrientation)
{
    ExpectNear3(gmVec3D::AxisX ^ gmVec3D::AxisY, 0, 0, 1, 0);
    ExpectNear3(gmVec3D::AxisY.Cross(gmVec3D::AxisZ), 1, 0, 0, 0);
    ExpectNear3(gmVec3D(1, 2, 3) ^ gmVec3D(4, 5, 6), -3, 6, -3, 0);
    EXPECT_DOUBLE_EQ(gmVec2D(1, 2) ^ gmVec2D(3, 5), -1.0);  // a.x*b.y - a.y*b.x
    EXPECT_DOUBLE_EQ(gmVec3D(1, 1, -1) * gmVec3D(2, 3, 4), 1.0);
}

// ---- normalise and IsZero at their 1e-4 boundary -------------------------------------------

// A vector shorter than 1e-4 (its length, not a component) is zero; one no
// longer normalises to zero.
TEST(GeomNormalize, ShortVectorsAreZeroAndNormaliseToZero)
{
    struct Case { gmVec3D v; bool zero, normalisesToZero; };
    const Case cases[] = {{{0, 0, 5e-5}, true, true},     {{0, 0, 9e-5}, true, true},   {{0, 0, 1e-4}, false, true},
                          {{0, 0, 1.1e-4}, false, false}, {{0, 0, 2e-4}, false, false}, {{0, 0, 5.0}, false, false},
                          {{6e-5, 6e-5, 0}, true, true},  {{8e-5, 8e-5, 0}, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v.Length());
        const double unit = c.normalisesToZero ? 0.0 : 1.0 / c.v.Length();
        EXPECT_EQ(c.v.IsZero(), c.zero);
        ExpectNear3(c.v.Normalized(), c.v.x() * unit, c.v.y() * unit, c.v.z() * unit);
        const gmVec2D v2(c.v.x(), -c.v.y() - c.v.z());  // the same length in the plane
        EXPECT_EQ(v2.IsZero(), c.zero);
        ExpectNear2(v2.Normalized().Coord(), v2.x() * unit, v2.y() * unit);
    }
    const gmVec3D v(3, 0, 4);
    ExpectNear3(v.Normalized(), 0.6, 0, 0.8);
    ExpectNear3(v, 3, 0, 4, 0);  // the copy is normalised, not v
}

// ---- distances to lines and segments --------------------------------------------------------

TEST(GeomLineDistance, WithinPoint01ReadsAsZero)
{
    const gmLin3D l3(gmPnt3D(0, 0, 0), gmPnt3D(10, 0, 0));
    EXPECT_EQ(l3.Distance(gmPnt3D(5, 0.009, 0)), 0.0);
    EXPECT_NEAR(l3.Distance(gmPnt3D(5, 0.011, 0)), 0.011, 1e-12);
    EXPECT_NEAR(l3.SqrDist(gmPnt3D(5, 0.009, 0)), 0.009 * 0.009, 1e-15);  // only Distance snaps
    EXPECT_NEAR(l3.Distance(gmPnt3D(-50, 0, 3)), 3.0, 1e-12);  // infinite, not a segment
    EXPECT_EQ(gmPnt3D(5, 0, 0.009).DistTo(gmPnt3D(0, 0, 0), gmPnt3D(10, 0, 0)), 0.0);

    const gmLin2D l2(gmPnt2D(0, 0), gmPnt2D(0, 10));
    EXPECT_EQ(l2.Distance(gmPnt2D(0.009, 3)), 0.0);
    EXPECT_NEAR(l2.Distance(gmPnt2D(-0.011, 3)), 0.011, 1e-12);
    EXPECT_NEAR(gmPnt2D(4, 30).DistTo(gmPnt2D(0, 0), gmPnt2D(0, 10)), 4.0, 1e-12);
}

TEST(GeomLineDistance, ShortDirectionIsIgnored)
{
    // |d|^2 = 2.5e-5 <= 1e-4: distance to the location; 1.21e-4: perpendicular distance.
    EXPECT_NEAR(gmLin3D(gmPnt3D(0, 0, 0), gmVec3D(0.005, 0, 0)).SqrDist(gmPnt3D(3, 4, 0)), 25.0, 1e-12);
    EXPECT_NEAR(gmLin3D(gmPnt3D(0, 0, 0), gmVec3D(0.011, 0, 0)).SqrDist(gmPnt3D(3, 4, 0)), 16.0, 1e-9);
    EXPECT_NEAR(gmLin2D(gmPnt2D(0, 0), gmVec2D(0, 0.005)).SqrDist(gmPnt2D(3, 4)), 25.0, 1e-12);
    EXPECT_NEAR(gmLin2D(gmPnt2D(0, 0), gmVec2D(0, 0.011)).SqrDist(gmPnt2D(3, 4)), 9.0, 1e-9);
}

TEST(GeomMinDst, BeyondEndsAndInterior)
{
    const gmPnt3D p1(0, 0, 0);
    const gmPnt3D p2(10, 0, 0);
    EXPECT_NEAR(gmPnt3D(13, 4, 0).MinDst(p1, p2), 5.0, 1e-12);        // beyond p2
    EXPECT_NEAR(gmPnt3D(-3, 0, 4).MinDst(p1, p2), 5.0, 1e-12);        // before p1
    EXPECT_NEAR(gmPnt3D(5, 4, 0).MinDst(p1, p2), 4.0, 1e-12);         // interior: line distance
    EXPECT_EQ(gmPnt3D(5, 0.009, 0).MinDst(p1, p2), 0.0);              // interior snaps like the line
    EXPECT_NEAR(gmPnt3D(10.009, 0, 0).MinDst(p1, p2), 0.009, 1e-12);  // beyond p2: no snapping
    EXPECT_NEAR(gmPnt3D(13, 4, 0).MinDst(p2, p1), 5.0, 1e-12);        // orientation does not matter

    const gmPnt2D q1(0, 0);
    const gmPnt2D q2(0, 10);
    EXPECT_NEAR(gmPnt2D(4, 13).MinDst(q1, q2), 5.0, 1e-12);
    EXPECT_NEAR(gmPnt2D(-4, -3).MinDst(q1, q2), 5.0, 1e-12);
    EXPECT_EQ(gmPnt2D(0.009, 7).MinDst(q1, q2), 0.0);
}

TEST(GeomMinDst, PointLikeSegmentMeasuresFromItsStart)
{
    // |e|^2 = 2.5e-7 <= 1e-6: distance to p1, without the 0.01 snap.
    const gmPnt3D p1(1, 1, 1);
    const gmPnt3D p2(1.0005, 1, 1);
    EXPECT_NEAR(gmPnt3D(1, 1, 1.009).MinDst(p1, p2), 0.009, 1e-12);
    EXPECT_NEAR(gmPnt3D(1, 4, 5).MinDst(p1, p2), 5.0, 1e-12);
    EXPECT_NEAR(gmPnt2D(4, 5).MinDst(gmPnt2D(1, 1), gmPnt2D(1, 1.0005)), 5.0, 1e-12);
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
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(1, 0), gmVec2D(3, 3)), out), 0);    // parallel
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(5, 5), gmVec2D(-1, -1)), out), 2);  // coincident
    ExpectNear2(out, -99, -99, 0);                                                 // not written
    // The other line has (almost) no direction: nothing, even on this line.
    EXPECT_EQ(a.LineInterLine(gmLin2D(gmPnt2D(5, 5), gmVec2D(0.001, 0.001)), out), 0);
}

TEST(GeomLineInterLine, HalfDegreeIsParallelOneDegreeCrosses)
{
    gmPnt2D out;
    const gmLin2D base(gmPnt2D(0, 0), gmVec2D(1, 0));
    const gmVec2D half(std::cos(Deg(0.5)), std::sin(Deg(0.5)));
    const gmVec2D one(std::cos(Deg(1.0)), std::sin(Deg(1.0)));
    EXPECT_EQ(base.LineInterLine(gmLin2D(gmPnt2D(0, 1), half), out), 0);
    EXPECT_EQ(base.LineInterLine(gmLin2D(gmPnt2D(0, 1), one), out), 1);
    ExpectNear2(out, -1.0 / std::tan(Deg(1.0)), 0, 1e-9);
    // The same 0.5 degree pair through a common point: read as one line.
    EXPECT_EQ(base.LineInterLine(gmLin2D(gmPnt2D(0, 0), half), out), 2);
}

TEST(GeomSegmtInterSegmt, CrossingsAndParameterWindows)
{
    CheckSegments(gmLin2D(gmPnt2D(0, 0), gmPnt2D(2, 2)),
                  {{"middles", {0, 2}, {2, 0}, 1, {1, 1}},
                   {"lines cross, segments do not", {3, 5}, {5, 3}, 0, {}}});
    // Unit segment along x: this t in [1e-4, 1.0002], the other's s in [1e-4, 1.0001].
    CheckSegments(gmLin2D(gmPnt2D(0, 0), gmPnt2D(1, 0)),
                  {{"at this start (t = 0)", {0, -1}, {0, 1}, 0, {}},
                   {"at this end (t = 1)", {1, -1}, {1, 1}, 1, {1, 0}},
                   {"t = 1.00015", {1.00015, -1}, {1.00015, 1}, 1, {1.00015, 0}},
                   {"t = 1.0003", {1.0003, -1}, {1.0003, 1}, 0, {}},
                   {"t = 1.5e-4", {0.00015, -1}, {0.00015, 1}, 1, {0.00015, 0}},
                   {"t = 5e-5", {0.00005, -1}, {0.00005, 1}, 0, {}},
                   {"s = 1.00005", {0.5, -1}, {0.5, 0.00005}, 1, {0.5, 0}},
                   {"s = 0.99995", {0.5, -1}, {0.5, -0.00005}, 1, {0.5, 0}},
                   {"s = 0.99985", {0.5, -1}, {0.5, -0.00015}, 0, {}},
                   {"at the other's start (s = 0)", {0.5, 0}, {0.5, 1}, 0, {}},
                   {"s = 2e-4", {0.5, -0.0002}, {0.5, 1}, 1, {0.5, 0}}});
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
    CheckSegments(gmLin2D(gmPnt2D(0, 0), gmPnt2D(2, 0)),
                  {{"overlap", {1, 0}, {3, 0}, 1, {2, 0}},
                   {"overlap, other reversed", {3, 0}, {1, 0}, 1, {2, 0}},
                   {"this end at the other's end (r = 1)", {1, 0}, {2, 0}, 1, {2, 0}},
                   {"this end at the other's start (r = 0)", {2, 0}, {3, 0}, 0, {}},
                   {"this end beyond the other's end", {0.5, 0}, {1.5, 0}, 0, {}},
                   {"this end behind the other's start", {3, 0}, {5, 0}, 0, {}},
                   // 5e-5 of the other's length 100 ahead is too close; 2e-4 is not.
                   {"end just ahead of a long other", {1.995, 0}, {101.995, 0}, 0, {}},
                   {"end ahead of a long other", {1.98, 0}, {101.98, 0}, 1, {2, 0}},
                   {"point-like other inside", {1, 0}, {1, 0}, 0, {}},
                   {"point-like other at this end", {2, 0}, {2, 0}, 0, {}},
                   {"point-like other at this start", {0, 0}, {0, 0}, 0, {}}});
    // Common start point, or starts 0.005 apart across the lines: compared by direction.
    CheckSegments(gmLin2D(gmPnt2D(0, 0), gmPnt2D(1, 0)),
                  {{"common start", {0, 0}, {2, 0}, 1, {1, 0}},
                   {"starts 0.005 apart", {0, 0.005}, {2, 0.005}, 1, {1, 0}}});
    // Parallel lines count as collinear up to 0.01 apart.
    CheckSegments(gmLin2D(gmPnt2D(0, 0.009), gmPnt2D(2, 0.009)), {{"0.009 apart", {1, 0}, {3, 0}, 1, {2, 0.009}}});
    CheckSegments(gmLin2D(gmPnt2D(0, 0.011), gmPnt2D(2, 0.011)), {{"0.011 apart", {1, 0}, {3, 0}, 0, {}}});
    CheckSegments(gmLin2D(gmPnt2D(0, 1), gmPnt2D(2, 1)), {{"far apart", {1, 0}, {3, 0}, 0, {}}});
}

// ---- coordinate systems and angles ---------------------------------------------------------

TEST(GeomCrdSys, InUcsProjectsOnTheAxesWithoutSubtractingTheOrigin)
{
    // A rotation by 90 degrees about z, axes normalised by the constructor.
    gmCrdSys cs(gmVec3D(0, 2, 0), gmVec3D(-3, 0, 0), gmVec3D(0, 0, 5));
    cs.SetOri(gmPnt3D(10, 10, 10));
    ExpectNear3(gmPnt3D(1, 2, 3).InUcs(cs), 2, -1, 3);
    gmPnt3D q(1, 2, 3);
    q.AsUcs(cs);
    ExpectNear3(q, 2, -1, 3);

    // SetUVW keeps the axes as given: a plain projection, not a rotation.
    cs.SetUVW(gmVec3D(2, 0, 0), gmVec3D(1, 1, 0), gmVec3D(0, 0, 1));
    ExpectNear3(gmPnt3D(1, 2, 3).InUcs(cs), 2, 3, 3);
}

TEST(GeomCrdSys, ConstructorNormalisesButDoesNotOrthogonalise)
{
    const gmCrdSys cs(gmVec3D(5, 0, 0), gmVec3D(1, 1, 0), gmVec3D(0, 0, 1e-5));
    ExpectNear3(cs.GetU(), 1, 0, 0);
    ExpectNear3(cs.GetV(), std::sqrt(0.5), std::sqrt(0.5), 0);
    ExpectNear3(cs.GetW(), 0, 0, 0, 0);  // too short to normalise
}

TEST(GeomAngle, AngleWith)
{
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(-1, 0, 0)), kPi, 1e-15);
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(3, 0, 0)), 0.0, 1e-15);
    EXPECT_NEAR(gmVec3D(1, 0, 0).AngleWith(gmVec3D(0, 0, 7)), kPi / 2, 1e-15);
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
        // Moving both ends of a segment moves the point's distance with them.
        const gmVec3D shift(coord(rng), coord(rng), coord(rng));
        EXPECT_NEAR(p.MinDst(gmPnt3D(0, 0, 0), b.AsPoint()),
                    (p + shift).MinDst(gmPnt3D(0, 0, 0) + shift, b.AsPoint() + shift), 1e-6);
    }
}
