#include "qdsdatabase.h"
#include "qdsdynadef_set.h"
#include "qdsfile_deck.h"
#include "qdsmessage.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using testutil::ScratchDir;

namespace {

class CurveSet : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override
    {
        dataManage.Release();
        CsMessage::Free();
    }

    // Scans a deck and converts its curve sets into the model's curves.
    int Convert(const std::string& text)
    {
        const std::string path = dir_.file("curves.dyn");
        testutil::WriteFile(path, text);
        reader_ = std::make_unique<CsReadDyna>(CsString(path.c_str()));
        EXPECT_EQ(reader_->OpenFile(CsFile::READ), 1);
        reader_->ScanCards();
        return reader_->SetLineData();
    }

    static bool Logged(const std::string& text)
    {
        for (const CsString& entry : CsMessage().GetMsgArr()) {
            if (entry.str() == text) return true;
        }
        return false;
    }

    static bool IgesLibraryPresent()
    {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        return !ec && std::filesystem::exists(exe.parent_path() / "libigesdll.so");
    }

    ScratchDir dir_{"curveset"};
    std::unique_ptr<CsReadDyna> reader_;
};

}  // namespace

// A set's values reach each of its curves, numbered from 1 (IgesPolylines
// numbers several); a 2D set projects along the vector it names, else along z;
// set 0 is skipped.
TEST_F(CurveSet, SetValuesAndTheNamedProjectionReachEveryCurve)
{
    EXPECT_EQ(Convert("*DEFINE_VECTOR\n3 0 0 0 0 2 0\n"
                      "*DEFINE_CURVE_TRIM\n1 0 1 3 0.5\n0 0\n1 1\n"
                      "*DEFINE_CURVE_TRIM\n2 0 1 4 0.5\n0 0\n1 1\n"
                      "*DEFINE_CURVE_TRIM\n0 0 1 3 0.5\n0 0\n1 1\n"
                      "*DEFINE_CURVE_TRIM_3D\n5 0 -1 0 0.25 4.0 12\n0 0 0\n0 0 1\n"),
              1);
    const auto& lines = dataManage.GetLineArr();
    ASSERT_EQ(lines.size(), 3u);
    const auto& first = static_cast<const CsTrmCrv2D&>(*lines[0]);
    EXPECT_EQ(std::vector<int>({first.GetSetid(), first.GetExid(), first.GetFlag()}), std::vector<int>({1, 1, 1}));
    EXPECT_DOUBLE_EQ(first.GetRatio(), 0.5);
    EXPECT_DOUBLE_EQ(first.GetPrjDir().y(), 1.0);
    EXPECT_EQ(lines[1]->GetSetid(), 2);
    EXPECT_DOUBLE_EQ(static_cast<const CsTrmCrv2D&>(*lines[1]).GetPrjDir().z(), 1.0);
    const auto& spatial = static_cast<const CsTrmCrv3D&>(*lines[2]);
    EXPECT_EQ(std::vector<int>({spatial.GetSetid(), spatial.GetExid(), spatial.GetFlag(), spatial.GetSeed()}),
              std::vector<int>({5, 1, -1, 12}));
    EXPECT_DOUBLE_EQ(spatial.GetGap(), 4.0);
    EXPECT_DOUBLE_EQ(spatial.GetRatio(), 0.25);
    // The sets hand their curves over.
    EXPECT_TRUE(reader_->GetCrvSets2D()[0].TrmCrvArr().empty());
}

TEST_F(CurveSet, IgesNamesNeedTheirExtension)
{
    CsCrvSet2D set;
    std::vector<int> counts(CsCrvSet::kMaxIgesLines, 0);
    const auto points = std::make_unique<float[][3]>(CsCrvSet::kMaxIgesPoints);
    EXPECT_EQ(set.IgesLine("outline.stp", counts.data(), points.get()), 0);
    EXPECT_EQ(set.IgesLine("noextension", counts.data(), points.get()), 0);
    EXPECT_FALSE(set.GetIGES());  // no file name
}

TEST_F(CurveSet, IgesPolylinesBecomeCurvesOfTheSet)
{
    if (!IgesLibraryPresent()) GTEST_SKIP() << "the IGES library is not built";
    const std::string sample = std::string(CORVEX_TEST_DATA) + "/iges/sample_curves.igs";
    std::filesystem::copy_file(sample, dir_.path() / "Sample.IGS");

    // Once by a name relative to the deck, once by an absolute one.
    EXPECT_EQ(Convert("*DEFINE_CURVE_TRIM\n7 2 1 0 0.5\nSample.IGS\n"
                      "*DEFINE_CURVE_TRIM_3D\n8 2 1 0 0.5 2.0 3\n" + sample + "\n"),
              1);
    const auto& lines = dataManage.GetLineArr();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.size() % 2, 0u);
    const size_t half = lines.size() / 2;
    EXPECT_EQ(half, 10u);  // the polylines the sample holds
    for (size_t i = 0; i < half; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(lines[i]->IsCrv2D());
        EXPECT_EQ(lines[i]->GetSetid(), 7);
        EXPECT_EQ(lines[i]->GetExid(), static_cast<int>(i) + 1);
        EXPECT_FALSE(lines[half + i]->IsCrv2D());
        EXPECT_EQ(lines[half + i]->GetExid(), static_cast<int>(i) + 1);
        EXPECT_EQ(lines[i]->GetPoints().size(), lines[half + i]->GetPoints().size());
        EXPECT_GE(lines[i]->GetPoints().size(), 2u);
    }
}

// A point that is no finite number, or lies beyond 1e15, is still a point of
// its curve (not the curve's end): the conversion stops at it and names it.
TEST_F(CurveSet, PointsBeyondEveryBlankStopTheConversionByTheirPlace)
{
    struct Row { const char* deck; const char* point; };
    for (const Row& row : {
             Row{"*DEFINE_CURVE_TRIM\n4 0 1 0 0.5\n0 0\n1 0\ninf 2\n1 1\n", "curve set 4, curve 1: point 3 is (inf, 2, 0)"},
             Row{"*DEFINE_CURVE_TRIM\n4 0 1 0 0.5\n0 0\n1e400 2\n", "curve set 4, curve 1: point 2 is (inf, 2, 0)"},
             Row{"*DEFINE_CURVE_TRIM\n4 0 1 0 0.5\n0 0\n1 0\n1 2e15\n", "curve set 4, curve 1: point 3 is (1, 2e+15, 0)"},
             Row{"*DEFINE_CURVE_TRIM_3D\n5 0 1 0 0.25 2.0 7\n"
                 "       0.0       0.0       0.0\n       1.0       nan       3.0\n",
                 "curve set 5, curve 1: point 2 is (1, nan, 3)"},
         }) {
        SCOPED_TRACE(row.deck);
        EXPECT_EQ(Convert(row.deck), 0);
        EXPECT_TRUE(Logged("Invalid trim curve point in " + std::string(row.point) +
                           "; coordinates must be finite and within 1e15"));
        CsMessage::Free();
        dataManage.Release();
    }
    // The bound itself is a coordinate.
    EXPECT_EQ(Convert("*DEFINE_CURVE_TRIM\n4 0 1 0 0.5\n0 0\n1e15 0\n1 1\n"), 1);
    ASSERT_EQ(dataManage.GetLineArr().size(), 1u);
    EXPECT_EQ(dataManage.GetLineArr()[0]->GetPoints().size(), 3u);
}
