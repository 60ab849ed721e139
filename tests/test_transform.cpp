#include "qdsfile_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr float kPiF = 3.14159265358979f;

CsTransform Translation(float dx, float dy, float dz)
{
    const float d[3] = {dx, dy, dz};
    CsTransform t;
    t.SetTrans(d);
    return t;
}

CsTransform Scaling(float sx, float sy, float sz)
{
    const float s[3] = {sx, sy, sz};
    CsTransform t;
    t.SetScale(s);
    return t;
}

// Direction first, then a point on the axis, then the angle, as a deck's rotation line gives them.
CsTransform Rotation(const float dir[3], const float point[3], float angle)
{
    const float p[7] = {dir[0], dir[1], dir[2], point[0], point[1], point[2], angle};
    CsTransform t;
    t.SetRotate(p);
    return t;
}

struct Pt {
    float x, y, z;
};

Pt Apply(const CsTransform& t, Pt p)
{
    t.Trans(p.x, p.y, p.z);
    return p;
}

Pt Apply(const KeyTransform& t, Pt p)
{
    t.Trans(p.x, p.y, p.z);
    return p;
}

void ExpectPt(const Pt& p, float x, float y, float z, float tol = 0.0f)
{
    EXPECT_NEAR(p.x, x, tol);
    EXPECT_NEAR(p.y, y, tol);
    EXPECT_NEAR(p.z, z, tol);
}

void ExpectIdentity(const float m[4][4])
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(m[r][c], r == c ? 1.0f : 0.0f) << "entry " << r << "," << c;
}

// Distance of p from the axis through a with unit direction u, and its position along the axis.
void AxisFrame(const double p[3], const double a[3], const double u[3], double& radial, double& along)
{
    const double w[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
    along = w[0] * u[0] + w[1] * u[1] + w[2] * u[2];
    const double r[3] = {w[0] - along * u[0], w[1] - along * u[1], w[2] - along * u[2]};
    radial = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
}

} // namespace

// Translation and scaling stay in single precision, the precision of the node coordinates.
TEST(Transform, TranslationAndScalingInSinglePrecision)
{
    ExpectPt(Apply(CsTransform(), {1.5f, -2.0f, 3.0f}), 1.5f, -2.0f, 3.0f);
    ExpectPt(Apply(Translation(0.1f, 0.2f, -0.3f), {0.7f, 0.25f, 1e7f}), 0.7f + 0.1f, 0.25f + 0.2f, 1e7f - 0.3f);
    ExpectPt(Apply(Scaling(2, 3, 0.1f), {1, 1, 3}), 2.0f, 3.0f, 3.0f * 0.1f);
}

TEST(KeyTransformTest, IdZeroOrNegativeDoesNothing)
{
    for (int id : {0, -3}) {
        KeyTransform t(id);
        t.Add(Translation(10, 20, 30));
        t.Add(Scaling(2, 2, 2));
        ExpectPt(Apply(t, {1, 2, 3}), 1.0f, 2.0f, 3.0f);
    }
}

// Counter-clockwise seen from the axis tip; the random invariants below cannot tell the sense.
TEST(Transform, RotationAboutAnAxisThroughAPoint)
{
    const float dir[3] = {0, 0, 1};
    const float pnt[3] = {1, 0, 0};
    ExpectPt(Apply(Rotation(dir, pnt, kPiF / 2), {2, 0, 0}), 1.0f, 1.0f, 0.0f, 1e-6f);

    // The same axis given as a second point (1,0,3) instead of a direction.
    float m[4][4];
    const float b[3] = {1, 0, 3};
    SetRotateMat4x4(pnt, b, kPiF / 2, m, 0);
    EXPECT_NEAR(m[0][0] * 2 + m[0][3], 1.0f, 1e-6f);
    EXPECT_NEAR(m[1][0] * 2 + m[1][3], 1.0f, 1e-6f);
    EXPECT_NEAR(m[2][0] * 2 + m[2][3], 0.0f, 1e-6f);
}

TEST(Transform, AxisOf1em6OrLessGivesIdentity)
{
    const float pnt[3] = {5, 6, 7};
    const float tiny[3] = {1e-7f, 0, 0};
    ExpectPt(Apply(Rotation(tiny, pnt, 1.0f), {1, 2, 3}), 1.0f, 2.0f, 3.0f);
    const float small[3] = {0, 2e-6f, 0};
    const Pt turned = Apply(Rotation(small, pnt, kPiF), {1, 2, 3});
    EXPECT_NEAR(turned.x, 9.0f, 1e-5f);  // half a turn about the y axis through pnt

    float m[4][4];
    const float zero[3] = {0, 0, 0};
    SetRotateMat4x4(pnt, zero, 0.5f, m, 1);
    ExpectIdentity(m);
    SetRotateMat4x4(pnt, pnt, 0.5f, m, 0);  // second point equal to the first
    ExpectIdentity(m);
}

TEST(Transform, geUnitFallsBackToZBelow1em6)
{
    struct Case { float in[3]; float out[3]; };
    const Case cases[] = {{{0, 0, 0}, {0, 0, 1}},
                          {{5e-7f, 0, 0}, {0, 0, 1}},
                          {{0, 2e-6f, 0}, {0, 1, 0}},
                          {{3, 0, -4}, {0.6f, 0, -0.8f}}};
    for (const Case& c : cases) {
        float v[3] = {c.in[0], c.in[1], c.in[2]};
        geUnit(v);
        ExpectPt({v[0], v[1], v[2]}, c.out[0], c.out[1], c.out[2], 1e-7f);
    }
}

TEST(TransformInvariants, RotationKeepsDistanceToTheAxisAndPositionAlongIt)
{
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    std::uniform_real_distribution<float> angle(-2 * kPiF, 2 * kPiF);
    for (int i = 0; i < 500; ++i) {
        const float dir[3] = {coord(rng), coord(rng), coord(rng)};
        const float pnt[3] = {coord(rng), coord(rng), coord(rng)};
        if (std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]) < 1.0f)
            continue;
        const float ang = angle(rng);
        const CsTransform rot = Rotation(dir, pnt, ang);
        const Pt before = {coord(rng), coord(rng), coord(rng)};
        const Pt after = Apply(rot, before);

        float unit[3] = {dir[0], dir[1], dir[2]};
        geUnit(unit);
        const double u[3] = {unit[0], unit[1], unit[2]};
        const double a[3] = {pnt[0], pnt[1], pnt[2]};
        const double p0[3] = {before.x, before.y, before.z};
        const double p1[3] = {after.x, after.y, after.z};
        double r0, h0, r1, h1;
        AxisFrame(p0, a, u, r0, h0);
        AxisFrame(p1, a, u, r1, h1);
        // Single precision on coordinates up to ~150 from the axis point.
        EXPECT_NEAR(r1, r0, 1e-3) << "case " << i;
        EXPECT_NEAR(h1, h0, 1e-3) << "case " << i;

        // Rotating back by the opposite angle returns the point.
        ExpectPt(Apply(Rotation(dir, pnt, -ang), after), before.x, before.y, before.z, 1e-3f);

        // The matrix of the axis given as a direction is orthonormal.
        float m[4][4];
        SetRotateMat4x4(pnt, dir, ang, m, 1);
        for (int r = 0; r < 3; ++r)
            for (int s = 0; s < 3; ++s)
                EXPECT_NEAR(m[r][0] * m[s][0] + m[r][1] * m[s][1] + m[r][2] * m[s][2], r == s ? 1.0f : 0.0f, 1e-5f);
        EXPECT_EQ(std::vector<float>({m[3][0], m[3][1], m[3][2], m[3][3]}), std::vector<float>({0, 0, 0, 1}));
    }
}

