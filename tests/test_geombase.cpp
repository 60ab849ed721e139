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

// The element frames are normalised with this: a vector is zero by its
// length (not its components) below 1e-4, and then normalises to zero.
TEST(GeomNormalize, ShortVectorsAreZeroByTheirLength)
{
    struct Case { gmVec3D v; bool zero; };
    const Case cases[] = {{{6e-5, 6e-5, 0}, true}, {{8e-5, 8e-5, 0}, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v.Length());
        const double unit = c.zero ? 0.0 : 1.0 / c.v.Length();
        EXPECT_EQ(c.v.IsZero(), c.zero);
        ExpectNear3(c.v.Normalized().AsPoint(), c.v.x() * unit, c.v.y() * unit, 0);
        const gmVec2D v2(c.v.x(), c.v.y());
        EXPECT_EQ(v2.IsZero(), c.zero);
        ExpectNear2(v2.Normalized().Coord(), v2.x() * unit, v2.y() * unit);
    }
}

// ---- distances to lines and segments --------------------------------------------------------

// The cutters' collinear tests read distances through this 0.01 snap.
TEST(GeomLineDistance, WithinPoint01ReadsAsZero)
{
    const gmLin3D l3(gmPnt3D(0, 0, 0), gmPnt3D(10, 0, 0));
    EXPECT_EQ(l3.Distance(gmPnt3D(5, 0.009, 0)), 0.0);
    EXPECT_NEAR(l3.Distance(gmPnt3D(5, 0.011, 0)), 0.011, 1e-12);
    EXPECT_NEAR(l3.SqrDist(gmPnt3D(5, 0.009, 0)), 0.009 * 0.009, 1e-15);  // only Distance snaps
    EXPECT_NEAR(l3.Distance(gmPnt3D(-50, 0, 3)), 3.0, 1e-12);  // infinite, not a segment

    EXPECT_EQ(gmPnt2D(0.009, 3).DistTo(gmPnt2D(0, 0), gmPnt2D(0, 10)), 0.0);
    EXPECT_NEAR(gmPnt2D(-0.011, 3).DistTo(gmPnt2D(0, 0), gmPnt2D(0, 10)), 0.011, 1e-12);
}

// A curve segment shorter than 0.01 has no direction: distance to its start.
TEST(GeomLineDistance, ShortDirectionIsIgnored)
{
    EXPECT_NEAR(gmLin2D(gmPnt2D(0, 0), gmVec2D(0, 0.005)).SqrDist(gmPnt2D(3, 4)), 25.0, 1e-12);
    EXPECT_NEAR(gmLin2D(gmPnt2D(0, 0), gmVec2D(0, 0.011)).SqrDist(gmPnt2D(3, 4)), 9.0, 1e-9);
}

TEST(GeomMinDst, EndsSnapOnlyInsideAndPointLikeSegments)
{
    const gmPnt3D p1(0, 0, 0);
    const gmPnt3D p2(10, 0, 0);
    EXPECT_EQ(gmPnt3D(5, 0.009, 0).MinDst(p1, p2), 0.0);              // interior snaps like the line
    EXPECT_NEAR(gmPnt3D(10.009, 0, 0).MinDst(p1, p2), 0.009, 1e-12);  // beyond p2: no snapping
    // |e|^2 = 2.5e-7 <= 1e-6: distance to p1, without the 0.01 snap.
    EXPECT_NEAR(gmPnt3D(1, 1, 1.009).MinDst(gmPnt3D(1, 1, 1), gmPnt3D(1.0005, 1, 1)), 0.009, 1e-12);
}

// ---- line and segment intersection ---------------------------------------------------------

// Lines and segments share one parallel test: 0.5 degree is parallel, 1 degree crosses.
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

// This t in [1e-4, 1.0002], the other's s in [1e-4, 1.0001], bounds included:
// each bound met exactly, and once just outside.
TEST(GeomSegmtInterSegmt, InclusiveParameterWindows)
{
    gmPnt2D out;
    const gmLin2D a(gmPnt2D(0, 0), gmVec2D(1, 0));
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(1e-4, -1), gmVec2D(0, 2)), out), 1);
    ExpectNear2(out, 1e-4, 0, 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(1.0002, -1), gmVec2D(0, 2)), out), 1);
    ExpectNear2(out, 1.0002, 0, 0);
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(0.5, -1e-4), gmVec2D(0, 1)), out), 1);
    EXPECT_EQ(a.SegmtInterSegmt(gmLin2D(gmPnt2D(0.5, -1.0001), gmVec2D(0, 1)), out), 1);

    CheckSegments(gmLin2D(gmPnt2D(0, 0), gmPnt2D(1, 0)),
                  {{"t = 5e-5", {0.00005, -1}, {0.00005, 1}, 0, {}},
                   {"t = 1.0003", {1.0003, -1}, {1.0003, 1}, 0, {}},
                   {"at the other's start (s = 0)", {0.5, 0}, {0.5, 1}, 0, {}},
                   {"s = 1.00015", {0.5, -1}, {0.5, -0.00015}, 0, {}}});
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
                   {"point-like other inside", {1, 0}, {1, 0}, 0, {}}});
    // Starts 0.005 apart across the lines: too close to give a direction, so
    // the directions are compared instead.
    CheckSegments(gmLin2D(gmPnt2D(0, 0), gmPnt2D(1, 0)), {{"starts 0.005 apart", {0, 0.005}, {2, 0.005}, 1, {1, 0}}});
    // Parallel lines count as collinear up to 0.01 apart.
    CheckSegments(gmLin2D(gmPnt2D(0, 0.009), gmPnt2D(2, 0.009)), {{"0.009 apart", {1, 0}, {3, 0}, 1, {2, 0.009}}});
    CheckSegments(gmLin2D(gmPnt2D(0, 0.011), gmPnt2D(2, 0.011)), {{"0.011 apart", {1, 0}, {3, 0}, 0, {}}});
}

// ---- coordinate systems ---------------------------------------------------------------------

// The cutters rely on InUcs projecting onto the axes as given, origin ignored.
TEST(GeomCrdSys, InUcsProjectsOnTheAxesWithoutSubtractingTheOrigin)
{
    gmCrdSys cs;
    cs.SetUVW(gmVec3D(0, 1, 0), gmVec3D(-1, 0, 0), gmVec3D(0, 0, 1));
    cs.SetOri(gmPnt3D(10, 10, 10));
    ExpectNear3(gmPnt3D(1, 2, 3).InUcs(cs), 2, -1, 3);
    // SetUVW keeps the axes as given: a plain projection, not a rotation.
    cs.SetUVW(gmVec3D(2, 0, 0), gmVec3D(1, 1, 0), gmVec3D(0, 0, 1));
    ExpectNear3(gmPnt3D(1, 2, 3).InUcs(cs), 2, 3, 3);
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
        // The same pair read the other way round meets at the same point.
        gmPnt2D back;
        ASSERT_EQ(s2.SegmtInterSegmt(s1, back), 1);
        EXPECT_NEAR(back.DistTo(out), 0.0, 1e-9);
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

TEST(GeomInvariants, OrthonormalFrameConversionPreservesDistancesAndAngles)
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
        EXPECT_NEAR(a.AsPoint().InUcs(cs).AsVector().AngleWith(b.AsPoint().InUcs(cs).AsVector()), a.AngleWith(b), 1e-9);
    }
}
