// Small elements, curves and rigid motions for the geometry tests.
#ifndef TEST_GEOMHELPERS_H
#define TEST_GEOMHELPERS_H

#include "qdsgeomline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace geomtest {

// An element outside the model: nodes numbered first, first + 1, ...
inline gmElemt MakeElem(const std::vector<gmPnt3D>& pts, int id = 1, int firstNode = 1)
{
    std::vector<int> nodes;
    for (size_t i = 0; i < pts.size(); ++i)
        nodes.push_back(firstNode + static_cast<int>(i));
    return gmElemt(id, 1, nodes, pts);
}

inline gmElemt UnitSquare() { return MakeElem({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}); }

// A rigid motion: rotation by an orthonormal frame, then a shift.
struct Motion {
    gmCrdSys frame;
    gmVec3D shift{0, 0, 0};
    gmPnt3D operator()(const gmPnt3D& p) const
    {
        const gmVec3D v = frame.GetU() * p.x() + frame.GetV() * p.y() + frame.GetW() * p.z() + shift;
        return gmPnt3D(v);
    }
    std::vector<gmPnt3D> operator()(const std::vector<gmPnt3D>& pts) const
    {
        std::vector<gmPnt3D> out;
        for (const gmPnt3D& p : pts)
            out.push_back((*this)(p));
        return out;
    }
};

// A rotation about a random axis.
inline Motion RandomMotion(std::mt19937& rng, double maxShift)
{
    std::normal_distribution<double> n(0.0, 1.0);
    std::uniform_real_distribution<double> s(-maxShift, maxShift);
    gmVec3D a(n(rng), n(rng), n(rng));
    a.Normalize();
    gmVec3D b(n(rng), n(rng), n(rng));
    const gmVec3D w = a;
    const gmVec3D u = (b - w * b.Dot(w)).Normalized();
    Motion m;
    m.frame.SetUVW(u, w.Cross(u), w);
    m.shift = gmVec3D(s(rng), s(rng), s(rng));
    return m;
}

inline void ExpectNear(const gmPnt3D& a, const gmPnt3D& b, double tol)
{
    EXPECT_NEAR(a.x(), b.x(), tol);
    EXPECT_NEAR(a.y(), b.y(), tol);
    EXPECT_NEAR(a.z(), b.z(), tol);
}

inline void ExpectNear(const gmVec3D& a, const gmVec3D& b, double tol) { ExpectNear(a.AsPoint(), b.AsPoint(), tol); }

// A frame is orthonormal and right-handed.
inline void ExpectRightHanded(const gmCrdSys& cs)
{
    EXPECT_NEAR(cs.GetU().Length(), 1.0, 1e-12);
    EXPECT_NEAR(cs.GetV().Length(), 1.0, 1e-12);
    EXPECT_NEAR(cs.GetW().Length(), 1.0, 1e-12);
    EXPECT_NEAR(cs.GetU().Dot(cs.GetV()), 0.0, 1e-12);
    ExpectNear(cs.GetU().Cross(cs.GetV()), cs.GetW(), 1e-12);
}

// Two answers of a crossing test for one element agree record by record, the
// edges' directions included; 'map' takes the first answer's points to the second's.
template <class Map>
inline void ExpectSameCrossings(const std::vector<gmItrPt>& a, const std::vector<gmItrPt>& b, Map map, double tol)
{
    ASSERT_EQ(a.size(), b.size());
    for (size_t k = 0; k < a.size(); ++k) {
        EXPECT_EQ(a[k].GetLineIdx(), b[k].GetLineIdx());
        EXPECT_EQ(a[k].GetEdge(), b[k].GetEdge());
        EXPECT_EQ(a[k].GetEdge().GetFstNode(), b[k].GetEdge().GetFstNode());
        EXPECT_EQ(a[k].GetEdge().GetEndNode(), b[k].GetEdge().GetEndNode());
        ExpectNear(map(a[k].GetPoint()), b[k].GetPoint(), tol);
    }
}

// Square curve (closed by the line itself) of side 'side' at the origin.
inline std::vector<gmPnt3D> Square(double side, double z = 0.0)
{
    return {{0, 0, z}, {side, 0, z}, {side, side, z}, {0, side, z}};
}

}  // namespace geomtest

#endif
