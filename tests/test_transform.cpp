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

TEST(Transform, DefaultIsIdentityTranslation)
{
    const CsTransform t;
    EXPECT_EQ(t.GetKind(), CsTransform::kTranslation);
    ExpectIdentity(t.GetMatrix());
    const Pt p = Apply(t, {1.5f, -2.0f, 3.0f});
    EXPECT_EQ(p.x, 1.5f);
    EXPECT_EQ(p.y, -2.0f);
    EXPECT_EQ(p.z, 3.0f);
}

TEST(Transform, ParametersSitInTheirMatrixSlots)
{
    const CsTransform tr = Translation(1, 2, 3);
    EXPECT_EQ(tr.GetKind(), CsTransform::kTranslation);
    EXPECT_EQ(tr.GetMatrix()[0][3], 1.0f);
    EXPECT_EQ(tr.GetMatrix()[1][3], 2.0f);
    EXPECT_EQ(tr.GetMatrix()[2][3], 3.0f);

    const CsTransform sc = Scaling(4, 5, 6);
    EXPECT_EQ(sc.GetKind(), CsTransform::kScaling);
    EXPECT_EQ(sc.GetMatrix()[3][0], 4.0f);
    EXPECT_EQ(sc.GetMatrix()[3][1], 5.0f);
    EXPECT_EQ(sc.GetMatrix()[3][2], 6.0f);
    EXPECT_EQ(sc.GetMatrix()[0][0], 1.0f);

    const float dir[3] = {0, 0, 1};
    const float pnt[3] = {0, 0, 0};
    EXPECT_EQ(Rotation(dir, pnt, 0.3f).GetKind(), CsTransform::kRotation);
}

TEST(Transform, TranslationAndScalingInSinglePrecision)
{
    const Pt p = Apply(Translation(0.1f, 0.2f, -0.3f), {0.7f, 0.25f, 1e7f});
    EXPECT_EQ(p.x, 0.7f + 0.1f);
    EXPECT_EQ(p.y, 0.25f + 0.2f);
    EXPECT_EQ(p.z, 1e7f - 0.3f);
    const Pt q = Apply(Scaling(2, 3, 0.1f), {1, 1, 3});
    EXPECT_EQ(q.x, 2.0f);
    EXPECT_EQ(q.y, 3.0f);
    EXPECT_EQ(q.z, 3.0f * 0.1f);
}

TEST(Transform, ChainAppliesInListOrder)
{
    KeyTransform translateThenScale(1);
    translateThenScale.Add(Translation(10, 0, 0));
    translateThenScale.Add(Scaling(2, 2, 2));
    const Pt a = Apply(translateThenScale, {1, 0, 0});
    EXPECT_EQ(a.x, 22.0f);
    EXPECT_EQ(a.y, 0.0f);
    EXPECT_EQ(a.z, 0.0f);

    KeyTransform scaleThenTranslate(2);
    scaleThenTranslate.Add(Scaling(2, 2, 2));
    scaleThenTranslate.Add(Translation(10, 0, 0));
    const Pt b = Apply(scaleThenTranslate, {1, 0, 0});
    EXPECT_EQ(b.x, 12.0f);
    EXPECT_EQ(b.y, 0.0f);
    EXPECT_EQ(b.z, 0.0f);
}

TEST(Transform, RotationAboutAnAxisThroughAPoint)
{
    const float dir[3] = {0, 0, 1};
    const float pnt[3] = {1, 0, 0};
    const Pt p = Apply(Rotation(dir, pnt, kPiF / 2), {2, 0, 0});
    EXPECT_NEAR(p.x, 1.0f, 1e-6f);
    EXPECT_NEAR(p.y, 1.0f, 1e-6f);
    EXPECT_NEAR(p.z, 0.0f, 1e-6f);
    // Points on the axis stay put; the axis length does not matter.
    const float longDir[3] = {0, 0, 25};
    const Pt q = Apply(Rotation(longDir, pnt, 1.1f), {1, 0, 7});
    EXPECT_NEAR(q.x, 1.0f, 1e-6f);
    EXPECT_NEAR(q.y, 0.0f, 1e-6f);
    EXPECT_NEAR(q.z, 7.0f, 1e-6f);
}

TEST(Transform, DegenerateAxisGivesIdentity)
{
    const float tiny[3] = {1e-7f, 0, 0};
    const float pnt[3] = {5, 6, 7};
    const CsTransform t = Rotation(tiny, pnt, 1.0f);
    ExpectIdentity(t.GetMatrix());
    const Pt p = Apply(t, {1, 2, 3});
    EXPECT_EQ(p.x, 1.0f);
    EXPECT_EQ(p.y, 2.0f);
    EXPECT_EQ(p.z, 3.0f);

    float m[4][4];
    const float zero[3] = {0, 0, 0};
    SetRotateMat4x4(pnt, zero, 0.5f, m, 1);
    ExpectIdentity(m);
    // Second point equal to the first: no axis either.
    SetRotateMat4x4(pnt, pnt, 0.5f, m, 0);
    ExpectIdentity(m);
}

TEST(Transform, SecondPointDefinesTheAxis)
{
    // Axis from (1,0,0) to (1,0,3): the same rotation as direction (0,0,1) through (1,0,0).
    float m[4][4];
    const float a[3] = {1, 0, 0};
    const float b[3] = {1, 0, 3};
    SetRotateMat4x4(a, b, kPiF / 2, m, 0);
    const float x = 2, y = 0, z = 0;
    EXPECT_NEAR(m[0][0] * x + m[0][1] * y + m[0][2] * z + m[0][3], 1.0f, 1e-6f);
    EXPECT_NEAR(m[1][0] * x + m[1][1] * y + m[1][2] * z + m[1][3], 1.0f, 1e-6f);
    EXPECT_NEAR(m[2][0] * x + m[2][1] * y + m[2][2] * z + m[2][3], 0.0f, 1e-6f);
    EXPECT_EQ(m[3][0], 0.0f);
    EXPECT_EQ(m[3][3], 1.0f);
}

TEST(Transform, MatrixHelpers)
{
    float id[4][4];
    id[1][2] = 9.0f;
    SetMat4x4Identity(id);
    ExpectIdentity(id);

    // b is replaced by a x b, not b x a: a swaps rows 0 and 1, b scales row 0.
    float a[4][4];
    float b[4][4];
    SetMat4x4Identity(a);
    SetMat4x4Identity(b);
    a[0][0] = 0; a[0][1] = 1;
    a[1][0] = 1; a[1][1] = 0;
    b[0][0] = 5;
    b[0][3] = 7;
    MultiplyMat4x4(a, b);
    EXPECT_EQ(b[0][0], 0.0f);
    EXPECT_EQ(b[0][1], 1.0f);
    EXPECT_EQ(b[1][0], 5.0f);
    EXPECT_EQ(b[1][3], 7.0f);
    EXPECT_EQ(b[0][3], 0.0f);
    EXPECT_EQ(b[3][3], 1.0f);
}

TEST(Transform, geUnit)
{
    float zero[3] = {0, 0, 0};
    geUnit(zero);
    EXPECT_EQ(zero[0], 0.0f);
    EXPECT_EQ(zero[1], 0.0f);
    EXPECT_EQ(zero[2], 1.0f);

    float tiny[3] = {5e-7f, 0, 0};
    geUnit(tiny);
    EXPECT_EQ(tiny[0], 0.0f);
    EXPECT_EQ(tiny[2], 1.0f);

    float v[3] = {3, 0, -4};
    geUnit(v);
    EXPECT_FLOAT_EQ(v[0], 0.6f);
    EXPECT_FLOAT_EQ(v[1], 0.0f);
    EXPECT_FLOAT_EQ(v[2], -0.8f);

    float small[3] = {0, 2e-6f, 0};
    geUnit(small);
    EXPECT_FLOAT_EQ(small[1], 1.0f);
}

TEST(KeyTransformTest, IdZeroOrNegativeDoesNothing)
{
    for (int id : {0, -3}) {
        KeyTransform t(id);
        t.Add(Translation(10, 20, 30));
        t.Add(Scaling(2, 2, 2));
        EXPECT_FALSE(t.IsEmpty());
        const Pt p = Apply(t, {1, 2, 3});
        EXPECT_EQ(p.x, 1.0f);
        EXPECT_EQ(p.y, 2.0f);
        EXPECT_EQ(p.z, 3.0f);
    }
    const KeyTransform empty;
    EXPECT_EQ(empty.GetId(), 0);
    EXPECT_TRUE(empty.IsEmpty());
    const Pt p = Apply(empty, {4, 5, 6});
    EXPECT_EQ(p.x, 4.0f);
}

TEST(KeyTransformTest, IsAPlainValue)
{
    KeyTransform original(7);
    original.Add(Translation(1, 0, 0));
    std::vector<KeyTransform> stored;
    stored.push_back(original);
    stored.emplace_back(8);
    original.Add(Translation(1, 0, 0));

    EXPECT_EQ(stored[0].GetId(), 7);
    EXPECT_EQ(stored[0].GetList().size(), 1u);
    EXPECT_EQ(original.GetList().size(), 2u);
    EXPECT_EQ(Apply(stored[0], {0, 0, 0}).x, 1.0f);
    EXPECT_EQ(Apply(original, {0, 0, 0}).x, 2.0f);

    KeyTransform assigned;
    assigned = stored[0];
    EXPECT_EQ(assigned.GetId(), 7);
    EXPECT_EQ(Apply(assigned, {0, 0, 0}).x, 1.0f);
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
        const Pt back = Apply(Rotation(dir, pnt, -ang), after);
        EXPECT_NEAR(back.x, before.x, 1e-3f);
        EXPECT_NEAR(back.y, before.y, 1e-3f);
        EXPECT_NEAR(back.z, before.z, 1e-3f);
    }
}

TEST(TransformInvariants, RotationMatrixIsOrthonormal)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> coord(-5.0f, 5.0f);
    for (int i = 0; i < 200; ++i) {
        const float dir[3] = {coord(rng), coord(rng), coord(rng)};
        const float pnt[3] = {coord(rng), coord(rng), coord(rng)};
        float m[4][4];
        SetRotateMat4x4(pnt, dir, coord(rng), m, 1);
        for (int r = 0; r < 3; ++r)
            for (int s = 0; s < 3; ++s) {
                const float dot = m[r][0] * m[s][0] + m[r][1] * m[s][1] + m[r][2] * m[s][2];
                EXPECT_NEAR(dot, r == s ? 1.0f : 0.0f, 1e-5f);
            }
        EXPECT_EQ(m[3][0], 0.0f);
        EXPECT_EQ(m[3][1], 0.0f);
        EXPECT_EQ(m[3][2], 0.0f);
        EXPECT_EQ(m[3][3], 1.0f);
    }
}
