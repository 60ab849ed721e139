// The transforms a deck's cards build (the card order and the sense of a
// rotation are tested with the deck reader).
#include "qdsfile_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>

namespace {

constexpr float kPiF = 3.14159265358979f;

CsTransform Translation(float dx, float dy, float dz)
{
    const float d[3] = {dx, dy, dz};
    CsTransform t;
    t.SetTrans(d);
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

template <class Transform>
Pt Apply(const Transform& t, Pt p)
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

} // namespace

// Id 0 is "no transform" wherever a deck may name one.
TEST(KeyTransformTest, IdZeroOrNegativeDoesNothing)
{
    for (int id : {0, -3}) {
        KeyTransform t(id);
        t.Add(Translation(10, 20, 30));
        ExpectPt(Apply(t, {1, 2, 3}), 1.0f, 2.0f, 3.0f);
    }
}

// An axis of 1e-6 or less gives no rotation; a longer one, however short, a full one.
TEST(Transform, AxisOf1em6OrLessGivesIdentity)
{
    const float pnt[3] = {5, 6, 7};
    const float tiny[3] = {1e-7f, 0, 0};
    ExpectPt(Apply(Rotation(tiny, pnt, 1.0f), {1, 2, 3}), 1.0f, 2.0f, 3.0f);
    const float small[3] = {0, 2e-6f, 0};
    const Pt turned = Apply(Rotation(small, pnt, kPiF), {1, 2, 3});
    EXPECT_NEAR(turned.x, 9.0f, 1e-5f);  // half a turn about the y axis through pnt
}

// A rotation keeps a point's distance from the axis point and its position
// along the axis; the opposite angle turns it back.
TEST(TransformInvariants, RotationKeepsTheAxisFrameAndTurnsBack)
{
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    std::uniform_real_distribution<float> angle(-2 * kPiF, 2 * kPiF);
    for (int i = 0; i < 500; ++i) {
        const float dir[3] = {coord(rng), coord(rng), coord(rng)};
        const float pnt[3] = {coord(rng), coord(rng), coord(rng)};
        const double len = std::sqrt(double(dir[0]) * dir[0] + double(dir[1]) * dir[1] + double(dir[2]) * dir[2]);
        if (len < 1.0)
            continue;
        const float ang = angle(rng);
        const Pt before = {coord(rng), coord(rng), coord(rng)};
        const Pt after = Apply(Rotation(dir, pnt, ang), before);

        const auto frame = [&](const Pt& p) {
            const double w[3] = {double(p.x) - pnt[0], double(p.y) - pnt[1], double(p.z) - pnt[2]};
            return std::make_pair(std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]),
                                  (w[0] * dir[0] + w[1] * dir[1] + w[2] * dir[2]) / len);
        };
        // Single precision on coordinates up to ~150 from the axis point.
        EXPECT_NEAR(frame(after).first, frame(before).first, 1e-3) << "case " << i;
        EXPECT_NEAR(frame(after).second, frame(before).second, 1e-3) << "case " << i;
        ExpectPt(Apply(Rotation(dir, pnt, -ang), after), before.x, before.y, before.z, 1e-3f);
    }
}
