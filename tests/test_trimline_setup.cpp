#include "qdsdatabase.h"
#include "qdsgeomline.h"
#include "qdstrimctrl.h"
#include "test_geomhelpers.h"

#include <gtest/gtest.h>

using geomtest::ExpectNear;

namespace {

gmCrdSys UcsFor(const gmVec3D& dir)
{
    CsTrmCrv2D curve;
    curve.SetPrjDir(dir);
    gmCrdSys cs;
    EXPECT_EQ(curve.GetUcs(cs), 1);
    return cs;
}

void AddCurve(CsTrmCrv& c, int set, int exid, int flag, int points)
{
    c.SetSetid(set);
    c.SetExid(exid);
    c.SetFlag(flag);
    const std::vector<gmPnt3D> sq = geomtest::Square(10);
    for (int i = 0; i < points; ++i)
        c.AddPoint(sq[static_cast<size_t>(i % 4)]);
    dataManage.AddLine(c);
}

class TrimLineSetup : public ::testing::Test {
protected:
    void SetUp() override { dataManage.Release(); }
    void TearDown() override { dataManage.Release(); }
};

}  // namespace

// A 2D curve's points are coordinates of its projection plane: along z they
// are global x and y, along x global y and z.
TEST(ProjectionSystem, AxisDirections)
{
    gmCrdSys z = UcsFor(gmVec3D(0, 0, 1));
    ExpectNear(z.GetU(), gmVec3D(1, 0, 0), 1e-15);
    ExpectNear(z.GetV(), gmVec3D(0, 1, 0), 1e-15);
    gmCrdSys x = UcsFor(gmVec3D(3, 0, 0));
    ExpectNear(x.GetW(), gmVec3D(1, 0, 0), 1e-15);
    ExpectNear(x.GetV(), gmVec3D(0, 0, 1), 1e-15);
    ExpectNear(x.GetU(), gmVec3D(0, 1, 0), 1e-15);
    // A direction (nearly) opposite to the x axis once kept x as reference and
    // gave a system with zero U and V.
    for (const gmVec3D& d : {gmVec3D(0, -1, 0), gmVec3D(0, 0, -1), gmVec3D(0.2, -3, 0.5), gmVec3D(-5, 0, 0),
                             gmVec3D(-1, 0.1, 0.05)}) {
        const gmCrdSys cs = UcsFor(d);
        geomtest::ExpectRightHanded(cs);
        ExpectNear(cs.GetW(), d.Normalized(), 1e-15);
    }
}

TEST_F(TrimLineSetup, NoCurvesOrOnlyInvalidOnesGiveNoLines)
{
    EXPECT_FALSE(CsTrmCtrl().SetTrimLine());
    CsTrmCrv3D single;
    AddCurve(single, 1, 1, 1, 1);
    EXPECT_FALSE(CsTrmCtrl().SetTrimLine());
}

TEST_F(TrimLineSetup, CurvesAreSortedByFlagAndType)
{
    CsTrmCrv2D trim2D, lance2D, single, noId;
    CsTrmCrv3D trimIn, trimOut, lance3D;
    trim2D.SetRatio(0.9);
    trim2D.SetPrjDir(gmVec3D(1, 0, 0));
    trimIn.SetSeed(77);
    trimIn.SetGap(3.5);
    AddCurve(trim2D, 7, 2, -1, 4);
    AddCurve(lance2D, 7, 3, 0, 3);
    AddCurve(single, 7, 4, -1, 1);  // one point: skipped
    AddCurve(noId, 7, 0, -1, 4);    // no id: skipped
    AddCurve(trimIn, 8, 1, 1, 4);
    AddCurve(trimOut, 8, 2, -1, 4);
    AddCurve(lance3D, 9, 1, 0, 3);

    CsTrmCtrl ctrl;
    ASSERT_TRUE(ctrl.SetTrimLine());
    ASSERT_EQ(ctrl.GetTrim2D().size(), 1u);
    ASSERT_EQ(ctrl.GetLance2D().size(), 1u);
    ASSERT_EQ(ctrl.GetTrim3D().size(), 2u);
    ASSERT_EQ(ctrl.GetLance3D().size(), 1u);

    const auto& t2 = static_cast<const gmCut2DLine&>(*ctrl.GetTrim2D()[0]);
    EXPECT_STREQ(t2.GetExid().c_str(), "7_2");
    EXPECT_EQ(t2.GetRatio(), 0.45);
    EXPECT_TRUE(t2.IsTrmOut());
    ExpectNear(t2.GetUcs().GetW(), gmVec3D(1, 0, 0), 0.0);
    EXPECT_EQ(t2.GetCount(), 5);  // closed
    // Plane coordinates are the curve's own points.
    ExpectNear(t2.GetUcsAt(2), gmPnt3D(10, 10, 0), 0.0);

    EXPECT_TRUE(ctrl.GetLance2D()[0]->IsLancing());
    EXPECT_EQ(ctrl.GetLance2D()[0]->GetCount(), 3);  // a lance line stays open

    const auto& in = static_cast<const gmCut3DLine&>(*ctrl.GetTrim3D()[0]);
    EXPECT_STREQ(in.GetExid().c_str(), "8_1");
    EXPECT_EQ(in.GetSeed(), 77);
    EXPECT_EQ(in.GetGap(), 3.5);
    EXPECT_EQ(in.GetCount(), 5);
    EXPECT_STREQ(ctrl.GetTrim3D()[1]->GetExid().c_str(), "8_2");
    EXPECT_TRUE(ctrl.GetLance3D()[0]->IsTrm3DLine());
    EXPECT_EQ(ctrl.GetLance3D()[0]->GetCount(), 3);

    // A second setup builds the lists afresh.
    ASSERT_TRUE(ctrl.SetTrimLine());
    EXPECT_EQ(ctrl.GetTrim3D().size(), 2u);
}
