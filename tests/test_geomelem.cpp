#include "qdsdatabase.h"
#include "qdsexception.h"
#include "test_geomhelpers.h"

#include <gtest/gtest.h>

using geomtest::ExpectNear;
using geomtest::MakeElem;

namespace {

// Distance of p from the plane through a, b, c.
double PlaneOffset(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c)
{
    const gmVec3D n = (b - a).Cross(c - a).Normalized();
    return std::fabs((p - a).Dot(n));
}

}  // namespace

// The frame the cutters work in: W the normal (of the diagonals for a warped
// quadrilateral), right-handed, kept once set; no frame under three nodes.
TEST(ElemFrame, NormalFrameKeptAndNeedsThreeNodes)
{
    gmElemt tri = MakeElem({{0, 0, 0}, {2, 0, 1}, {0, 3, 0}});
    ASSERT_EQ(tri.MakeLcs(), 1);
    geomtest::ExpectRightHanded(tri.GetUcs());
    EXPECT_NEAR(std::fabs(tri.GetUcs().GetW().Dot((gmVec3D(2, 0, 1).Cross(gmVec3D(0, 3, 0))).Normalized())), 1.0, 1e-12);
    tri.SetUcs(gmCrdSys());
    EXPECT_EQ(tri.MakeLcs(), 1);
    ExpectNear(tri.GetUcs().GetW(), gmVec3D(0, 0, 1), 0.0);

    gmElemt warped = MakeElem({{0, 0, 0}, {1, 0, 0.2}, {1, 1, 0}, {0, 1, 0.2}});
    ASSERT_EQ(warped.MakeLcs(), 1);
    geomtest::ExpectRightHanded(warped.GetUcs());
    ExpectNear(warped.GetUcs().GetW(), gmVec3D(0, 0, 1), 1e-12);
    // The inside tests look at the mean of five entries: the first vertex counts twice.
    ExpectNear(geomtest::UnitSquare().GetMidPt(), gmPnt3D(0.4, 0.4, 0), 1e-12);

    gmElemt line = MakeElem({{0, 0, 0}, {1, 0, 0}});
    EXPECT_EQ(line.MakeLcs(), 0);
    gmPnt3D out;
    EXPECT_EQ(line.Project(gmPnt3D(0.5, 0, 0), out, 0), 0);
}

TEST(ElemProject, SquareVertexInsideAndOutside)
{
    gmElemt e = geomtest::UnitSquare();
    gmPnt3D out(9, 9, 9);
    // On vertex 0 the ray has no direction.
    ASSERT_EQ(e.Project(gmPnt3D(0, 0, 0), out, 0), 1);
    ExpectNear(out, gmPnt3D(0, 0, 0), 0.0);
    EXPECT_EQ(e.Project(gmPnt3D(2, 2, 0), out, 0), 0);
    // A point above the plane drops onto it.
    ASSERT_EQ(e.Project(gmPnt3D(0.25, 0.75, 3.0), out, 0), 1);
    ExpectNear(out, gmPnt3D(0.25, 0.75, 0), 1e-12);
    // Local coordinates are taken as they are in mode 1.
    ASSERT_EQ(e.Project(gmPnt3D(0.3, 0.6, 0).InUcs(e.GetUcs()), out, 1), 1);
    ExpectNear(out, gmPnt3D(0.3, 0.6, 0), 1e-12);
}

TEST(ElemProject, WarpedQuadLandsOnAFanTriangle)
{
    const std::vector<gmPnt3D> v{{0, 0, 0}, {1, 0, 0.3}, {1.1, 1, 0}, {0, 0.9, 0.3}};
    gmElemt e = MakeElem(v);
    int onFirst = 0;
    int onSecond = 0;
    for (double x = 0.05; x < 1.0; x += 0.1) {
        for (double y = 0.05; y < 0.9; y += 0.1) {
            gmPnt3D out;
            if (!e.Project(gmPnt3D(x, y, 0.15), out, 0))
                continue;
            const double d1 = PlaneOffset(out, v[0], v[1], v[2]);
            const double d2 = PlaneOffset(out, v[0], v[2], v[3]);
            EXPECT_LT(std::min(d1, d2), 1e-9) << x << " " << y;
            onFirst += d1 < 1e-9;
            onSecond += d2 < 1e-9;
        }
    }
    EXPECT_GT(onFirst, 10);
    EXPECT_GT(onSecond, 10);
}

TEST(ElemProject, RigidMotionCommutes)
{
    std::mt19937 rng(7);
    const std::vector<gmPnt3D> v{{0, 0, 0}, {2, 0, 0.1}, {2.2, 1.5, 0}, {0.1, 1.4, 0.2}};
    for (int trial = 0; trial < 20; ++trial) {
        const geomtest::Motion m = geomtest::RandomMotion(rng, 50.0);
        gmElemt plain = MakeElem(v);
        gmElemt moved = MakeElem(m(v));
        for (const gmPnt3D& p : {gmPnt3D(0.5, 0.4, 0.3), gmPnt3D(1.5, 1.0, -0.2), gmPnt3D(1.0, 0.1, 0)}) {
            gmPnt3D a, b;
            ASSERT_EQ(plain.Project(p, a, 0), 1);
            ASSERT_EQ(moved.Project(m(p), b, 0), 1);
            ExpectNear(m(a), b, 1e-9);
        }
    }
}

// The vertex array holds the first vertex again at the end; that entry is not a vertex.
TEST(ElemAccess, BadPositionsThrowIndexErrors)
{
    gmElemt e = geomtest::UnitSquare();
    EXPECT_THROW(e.GetVertex(4), CsErrorIndex);
    EXPECT_THROW(e.GetUcsVtx(-1), CsErrorIndex);
    EXPECT_THROW(e.SetVertex(gmPnt3D(), 4), CsErrorIndex);
    EXPECT_THROW(e.GetNode(4), CsErrorIndex);
}

// Crossing records are one when their segment and undirected edge agree,
// wherever their points lie: the finders drop such repeats.
TEST(ItrPt, EqualByEdgeAndSegmentAndEdgeSides)
{
    gmItrPt a(gmPnt3D(1, 2, 3), 5);
    gmItrPt b(gmPnt3D(7, 8, 9), 5);
    a.SetEdge(gmEdge(10, 11, 0, 1));
    b.SetEdge(gmEdge(11, 10, 1, 0));
    EXPECT_TRUE(gmTrmLine::IsItrPtInArr({a}, b));
    b.SetLineIdx(6);
    EXPECT_FALSE(gmTrmLine::IsItrPtInArr({a}, b));

    const float xyz[3] = {1.5f, 2.5f, 0.0f};
    gmItrPt d(xyz, 42, 0);
    d.AddElement(43);
    d.AddElement(44);  // a third element replaces the second side
    EXPECT_EQ(d.GetFstElemt(), 42);
    EXPECT_EQ(d.GetSecElemt(), 44);
}

class ElemModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        dataManage.Release();
        for (int i = 0; i < 4; ++i)
            dataManage.AddNode(CsDataNode(100 + i, gmPnt3D(i == 1 || i == 2, i >= 2, 0)));
        const int ids[4] = {100, 101, 102, 103};
        dataManage.AddElem(CsDataElem(3, 500, 4, ids, kEleShell));
        dataManage.UpdateElemNd();
    }
    void TearDown() override { dataManage.Release(); }
};

TEST_F(ElemModel, ReadsAndChangesTheModel)
{
    gmElemt e(1);
    EXPECT_EQ(e.GetPartID(), 3);
    EXPECT_EQ(e.GetDataElem().GetExid(), 500);
    // A moved vertex moves the model's node, and a reread sees it.
    e.SetVertex(gmPnt3D(1.2, 1.1, 0), 2);
    ExpectNear(dataManage.GetNode(3).GetPoint(), gmPnt3D(1.2, 1.1, 0), 0.0);
    e.SetElement(1);
    ExpectNear(e.GetVertex(2), gmPnt3D(1.2, 1.1, 0), 0.0);

    // A crossing becomes a node once, however often it is asked for one.
    gmItrPt p(gmPnt3D(0.5, 0, 0), 0);
    const int before = dataManage.GetNodeNumber();
    const int node = p.AddNode();
    EXPECT_EQ(p.AddNode(), node);
    EXPECT_EQ(dataManage.GetNodeNumber(), before + 1);

    const int tri[3] = {1, 2, 3};
    e.ResetElement(3, tri, 9);  // refused: too many nodes
    EXPECT_EQ(dataManage.GetElem(1).GetNodeNum(), 4);
    e.ResetElement(3, tri, 3);
    EXPECT_EQ(dataManage.GetElem(1).GetNodeNum(), 3);
}

TEST_F(ElemModel, ANodeProjectsOntoTheFirstElementUnderIt)
{
    // A second square beside the first, and nodes above each and beside both.
    const int right = dataManage.AddNode(gmPnt3D(2, 0, 0));
    const int top = dataManage.AddNode(gmPnt3D(2, 1, 0));
    const int quad[4] = {2, right, top, 3};
    const int second = dataManage.AddElem(3, 4, quad);
    const int overFirst = dataManage.AddNode(gmPnt3D(0.25, 0.5, 3.0));
    const int overSecond = dataManage.AddNode(gmPnt3D(1.75, 0.5, -2.0));
    const int beside = dataManage.AddNode(gmPnt3D(5, 5, 0));
    EXPECT_EQ(dataManage.GetProjectedElem(overFirst), 1);
    EXPECT_EQ(dataManage.GetProjectedElem(overSecond), second);
    EXPECT_EQ(dataManage.GetProjectedElem(beside), 0);
    EXPECT_EQ(dataManage.GetProjectedElem(0), 0);
    EXPECT_EQ(dataManage.GetProjectedElem(999), 0);
}
