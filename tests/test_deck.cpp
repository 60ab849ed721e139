#include "qdsdatabase.h"
#include "qdsfile_deck.h"
#include "qdsmessage.h"
#include "test_geomhelpers.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using geomtest::ExpectNear;
using testutil::ScratchDir;

namespace {

// A deck in a scratch directory, scanned into a fresh reader and a fresh model.
class Deck : public ::testing::Test {
protected:
    void SetUp() override
    {
        dataManage.Release();
        CsMessage::Free();
    }
    void TearDown() override
    {
        dataManage.Release();
        CsMessage::Free();
    }

    CsReadDyna& Open(const std::string& text, const std::string& name = "job.dyn")
    {
        path_ = dir_.file(name);
        testutil::WriteFile(path_, text);
        reader_ = std::make_unique<CsReadDyna>(CsString(path_.c_str()));
        EXPECT_EQ(reader_->OpenFile(CsFile::READ), 1);
        return *reader_;
    }

    CsReadDyna& Scan(const std::string& text, const std::string& name = "job.dyn")
    {
        Open(text, name).ScanCards();
        return *reader_;
    }

    static bool Logged(const std::string& text)
    {
        for (const CsString& entry : CsMessage().GetMsgArr()) {
            if (entry.str() == text) return true;
        }
        return false;
    }

    // Where the model's transformation with this id takes a point.
    static gmPnt3D Moved(int id, const gmPnt3D& p)
    {
        float x = static_cast<float>(p.x()), y = static_cast<float>(p.y()), z = static_cast<float>(p.z());
        dataManage.GetTransform(id).Trans(x, y, z);
        return gmPnt3D(x, y, z);
    }

    ScratchDir dir_{"deck"};
    std::string path_;
    std::unique_ptr<CsReadDyna> reader_;
};

}  // namespace

TEST_F(Deck, KeywordsAreMatchedWholeInAnyCaseAndPadding)
{
    const CsReadDyna& r = Scan(
        "*KEYWORD\n"
        "  *part  \n"
        "         1         7\n"
        "*PART_CONTACT\n"
        "         2         8\n"
        "*include_path\n"
        "wrong.dynain\n"
        "*Include\n"
        "  blank.dynain  \n"
        "*section_shell\n"
        "7\n"
        "1.25 0 0 0\n");
    ASSERT_EQ(r.GetParts().size(), 1u);
    EXPECT_EQ(r.GetParts()[0].partId, 1);
    EXPECT_EQ(r.GetParts()[0].sectId, 7);
    EXPECT_EQ(r.GetIncludeName(), "blank.dynain");
    ASSERT_EQ(r.GetSects().size(), 1u);
    EXPECT_DOUBLE_EQ(r.GetSects()[0].thick, 1.25);
    KeySect sect;
    EXPECT_EQ(r.FindKeySect(7, sect), 1);
    EXPECT_EQ(r.FindKeySect(8, sect), 0);
    EXPECT_TRUE(Logged("Fail to Find the Compliant Section Shell\n"));
}

TEST_F(Deck, MalformedCardsAreDroppedAndTheScanGoesOn)
{
    const CsReadDyna& r = Scan(
        "*PART\n"
        "Blank with a title line\n"
        "        11         3\n"
        "*PART\n"
        "abc def\n"
        "ghi\n"
        "*CONTROL_ANNEAL\n"
        "3\n"
        "*DEFINE_VECTOR\n"
        "1 0 0 0 0 0 0\n"
        "*CONTROL_ADAPTIVE_CURVE\n"
        "\n"
        "1 0 2 0.5\n"
        "*SECTION_SHELL\n"
        "0\n"
        "1.0\n"
        "*ELEMENT_TRIM\n"
        "4\n");
    ASSERT_EQ(r.GetParts().size(), 1u);  // the title line is passed over
    EXPECT_EQ(r.GetParts()[0].partId, 11);
    EXPECT_TRUE(r.GetAnneals().empty());
    EXPECT_TRUE(r.GetVects().empty());   // zero-length direction
    EXPECT_EQ(r.GetCtrlAdp().refine, 0); // four values of five
    EXPECT_TRUE(r.GetSects().empty());
    ASSERT_EQ(r.GetTrimSets().size(), 1u);
    EXPECT_EQ(r.GetTrimSets()[0], 4);
}

TEST_F(Deck, FixedAndFreeFormatGiveTheSameRecords)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_VECTOR\n"
        "         5       1.0       2.0       3.0       1.0       2.0       7.0         9\n"
        "*DEFINE_VECTOR\n"
        "6, 1.0, 2.0, 3.0, 4.0, 2.0, 3.0, 9\n"
        "*CONTROL_ADAPTIVE_CURVE\n"
        "1, 0, 3, 0.1, 1\n"
        "*INCLUDE_TRANSFORM\n"
        "blank.dynain\n"
        "0\n"
        "0\n"
        "1.0\n"
        "        12\n");
    ASSERT_EQ(r.GetVects().size(), 2u);
    EXPECT_EQ(r.GetVects()[0].cid, 9);
    EXPECT_DOUBLE_EQ(r.GetVects()[0].dir.z(), 1.0);
    EXPECT_DOUBLE_EQ(r.GetVects()[0].tail.y(), 2.0);
    EXPECT_EQ(r.GetVects()[1].cid, 9);
    EXPECT_DOUBLE_EQ(r.GetVects()[1].dir.x(), 1.0);
    const CsCtrlAdp& adp = r.GetCtrlAdp();
    EXPECT_EQ(adp.refine, 1);
    EXPECT_EQ(adp.level, 3);
    EXPECT_EQ(adp.closed, 1);
    // Stored in single precision, as read.
    EXPECT_EQ(adp.minLength, static_cast<double>(0.1f));
    EXPECT_EQ(r.GetIncludeName(), "blank.dynain");
    EXPECT_EQ(r.GetIncludeTrans(), 12);
}

TEST_F(Deck, PartSetLists)
{
    const CsReadDyna& r = Scan(
        "*SET_PART_LIST\n"
        "1\n"
        "12 34 5\n"
        "*SET_PART_LIST\n"
        "2\n"
        "3,4\n"
        "*SET_PART_LIST\n"
        "3\n"
        "         7         0         9\n"
        "        10\n"
        "*SET_PART_LIST\n"
        "0\n"
        "8\n"
        "*SET_PART_LIST\n"
        "4\n"
        "x\n"
        "*SET_PART_LIST\n"
        "5\n");
    const auto& sets = r.GetPartSets();
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_EQ(sets[0].parts, (std::vector<int>{12, 34, 5}));
    EXPECT_EQ(sets[1].parts, (std::vector<int>{3, 4}));  // free format
    EXPECT_EQ(sets[2].parts, (std::vector<int>{7, 10}));  // a zero ends its line only
    EXPECT_EQ(sets[3].setId, 4);
    EXPECT_TRUE(sets[3].parts.empty());
    EXPECT_EQ(r.GetMaxPartID(), 35);
}

TEST_F(Deck, CurveCards)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_CURVE_TRIM\n"
        "         1         0         1         2      0.25         0         0         0\n"
        "$ the outline\n"
        "                 0.0                 0.0\n"
        "               100.0                 0.0\n"
        "               100.0                50.0\n"
        "*DEFINE_CURVE_TRIM\n"
        "2 0 1 0 0.5\n"
        "*DEFINE_CURVE_TRIM\n"
        "3 2 1 0 0.5\n"
        "  cut.igs  \n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "4 2 0 0 0.25 3.0 -5\n"
        "outline.iges\n"
        "*DEFINE_CURVE_TRIM_NEW\n"
        "5 0 -1 0 0.25 3.0 0\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "6 0 1 0 0.25 3.0\n");
    const auto& sets2 = r.GetCrvSets2D();
    ASSERT_EQ(sets2.size(), 2u);  // set 2 has no point line
    EXPECT_EQ(sets2[0].GetId(), 1);
    EXPECT_EQ(sets2[0].GetVectId(), 2);
    ASSERT_EQ(sets2[0].TrmCrvArr().size(), 1u);
    std::vector<gmPnt3D> pts;
    sets2[0].TrmCrvArr()[0]->GetPtArr(pts);
    ASSERT_EQ(pts.size(), 3u);
    ExpectNear(pts[2], gmPnt3D(100, 50, 0), 0.0);
    EXPECT_EQ(sets2[1].GetIgesFile(), "cut.igs");
    EXPECT_TRUE(sets2[1].TrmCrvArr().empty());

    const auto& sets3 = r.GetCrvSets3D();
    ASSERT_EQ(sets3.size(), 2u);  // set 6 lacks its seed
    EXPECT_EQ(sets3[0].GetSeed(), 5);
    EXPECT_EQ(sets3[0].GetTrimFlag(), 1);
    EXPECT_DOUBLE_EQ(sets3[0].GetGap(), 3.0);
    EXPECT_EQ(sets3[0].GetIgesFile(), "outline.iges");
    EXPECT_EQ(sets3[1].GetTrimFlag(), 0);
}

TEST_F(Deck, CurveLocalSystemValueIsReadByColumnOrByField)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_CURVE_TRIM\n"
        "         1         0         1         0      0.25         7\n"
        "0 0\n1 0\n"
        "*DEFINE_CURVE_TRIM\n"
        "2,0,1,0,0.25,8\n"
        "0 0\n1 0\n");
    ASSERT_EQ(r.GetCrvSets2D().size(), 2u);
    EXPECT_EQ(r.GetCrvSets2D()[0].GetLcs(), 7);
    EXPECT_EQ(r.GetCrvSets2D()[1].GetLcs(), 8);
}

TEST_F(Deck, AnnealScaleIsTheShareKept)
{
    const CsReadDyna& r = Scan(
        "*CONTROL_ANNEAL\n"
        "3 0.2\n"
        "*CONTROL_ANNEAL\n"
        "4 1.5\n");
    ASSERT_EQ(r.GetAnneals().size(), 2u);
    EXPECT_EQ(r.GetAnneals()[0].GetSetId(), 3);
    EXPECT_FLOAT_EQ(r.GetAnneals()[0].GetScale(), 0.8f);
    EXPECT_FLOAT_EQ(r.GetAnneals()[1].GetScale(), 0.0f);
}

TEST_F(Deck, AnnealOfAnUndefinedSetFallsBackToCutting)
{
    CsReadDyna& r = Scan(
        "*CONTROL_ANNEAL\n3 0.2\n"
        "*SET_PART_LIST\n4\n1\n"
        "*INCLUDE\nblank.dynain\n");
    EXPECT_EQ(r.SetAnnealData(), 0);
    EXPECT_TRUE(r.GetAnneals().empty());
    EXPECT_FALSE(r.IsAnneal());
    EXPECT_EQ(r.SetInfoData(), 0);
    EXPECT_TRUE(Logged("No 'ELEMENT_TRIM' card or invalid 'INCLUDE' card\n"));
}

TEST_F(Deck, AnnealJobStoresItsInformation)
{
    CsReadDyna& r = Scan(
        "*KEYWORD_ID\nanneal\n"
        "*CONTROL_ANNEAL\n4 0.25\n"
        "*SET_PART_LIST\n4\n1 2\n"
        "*INCLUDE\nblank.dynain\n");
    EXPECT_EQ(r.SetAnnealData(), 1);
    EXPECT_TRUE(r.IsAnneal());
    const CsDataInfo& info = dataManage.GetDataInfo();
    EXPECT_EQ(info.keyId, "anneal");
    EXPECT_EQ(info.maxPart, 3);
    ASSERT_EQ(info.anneal.size(), 1u);
    EXPECT_FLOAT_EQ(info.anneal[0].GetScale(), 0.75f);
    EXPECT_EQ(info.dataFile, CsString((dir_.path() / "blank.dynain").string().c_str()));
}

TEST_F(Deck, CuttingJobCollectsPartThicknesses)
{
    CsReadDyna& r = Scan(
        "*ELEMENT_TRIM\n1\n"
        "*SET_PART_LIST\n1\n10 20\n"
        "*PART\n10 5\n*PART\n20 6\n"
        "*SECTION_SHELL\n5\n0.8\n"
        "*INCLUDE\nblank.dynain\n");
    EXPECT_EQ(r.SetInfoData(), 1);
    const CsDataInfo& info = dataManage.GetDataInfo();
    ASSERT_EQ(info.partThick.size(), 1u);  // part 20's section is missing
    EXPECT_EQ(info.partThick[0].part, 10);
    EXPECT_DOUBLE_EQ(info.partThick[0].thick, 0.8);
}

TEST_F(Deck, JobNames)
{
    EXPECT_EQ(Scan("*KEYWORD_ID\n  JOB 7\n").GetKeyID(), "JOB_7");
    // A word over the running bound (20 more per word) is cut at it.
    EXPECT_EQ(Scan("*KEYWORD_ID\nABCDEFGHIJKLMNOPQRSTUVWXY\n").GetKeyID(), "ABCDEFGHIJKLMNOPQRST_UVWXY");
    EXPECT_EQ(Scan("*KEYWORD_ID\nA 123456789012345678901234567890123456789012345\n").GetKeyID(),
              "A_12345678901234567890123456789012345678_9012345");
    EXPECT_EQ(Scan("*KEYWORD_JOBID\n   press line 4   \n").GetKeyID(), "press line 4");
    EXPECT_EQ(Scan("*KEYWORD_ID\n$ none\n*NODE\n").GetKeyID(), "");
}

TEST_F(Deck, NodeRows)
{
    Scan("*NODE\n"
         "$    nid               x               y               z      tc      rc\n"
         "       1             1.5             2.5            -3.0\n"
         "       2             0.0             0.0             0.0       1       2\n"
         "$*****\n"
         "3, 4.0, 5.0, 6.0\n"
         "       0             9.0             9.0             9.0\n"
         "       4             abc             0.0             0.0\n"
         "5 7.0 8.0 9.0\n"
         "*END\n");
    const auto& nodes = dataManage.GetNodeArr();
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0].GetExid(), 1);
    ExpectNear(nodes[0].GetPoint(), gmPnt3D(1.5, 2.5, -3.0), 0.0);
    EXPECT_EQ(nodes[0].GetSpcCode(), 0);
    EXPECT_EQ(nodes[1].GetSpcCode(), 4 * 8 + 2);  // x translation, y rotation
    EXPECT_EQ(nodes[2].GetExid(), 3);             // after a comment holding '*'
    ExpectNear(nodes[2].GetPoint(), gmPnt3D(4, 5, 6), 0.0);
    EXPECT_EQ(nodes[3].GetExid(), 5);
}

TEST_F(Deck, ConstraintsAndCoordinateSystems)
{
    Scan("*BOUNDARY_SPC_NODE\n"
         "1 0 1 1 1 0 0 0\n"
         "2 0 1\n"
         "*DEFINE_COORDINATE_SYSTEM\n"
         "         3       0.0       0.0       0.0       1.0       0.0       0.0\n"
         "       0.0       1.0       0.0\n"
         "*DEFINE_COORDINATE_VECTOR\n"
         "         4       1.0       0.0       0.0       0.0       1.0       0.0\n"
         "         5       short\n");
    EXPECT_EQ(dataManage.GetSpcNodeNum(), 1);
    ASSERT_EQ(dataManage.GetLCSNum(), 2);
    const KeyLCS& sys = dataManage.GetLCS(1);
    EXPECT_EQ(sys.cid, 3);
    EXPECT_EQ(sys.kind, KeyLCS::kBySystem);
    ExpectNear(sys.point[1], gmPnt3D(1, 0, 0), 0.0);
    ExpectNear(sys.point[2], gmPnt3D(0, 1, 0), 0.0);
    const KeyLCS& vec = dataManage.GetLCS(2);
    EXPECT_EQ(vec.kind, KeyLCS::kByVector);
    ExpectNear(vec.point[0], gmPnt3D(0, 0, 0), 0.0);
    ExpectNear(vec.point[1], gmPnt3D(1, 0, 0), 0.0);
}

TEST_F(Deck, TransformationsApplyInCardOrder)
{
    Scan("*DEFINE_TRANSFORMATION\n"
         "         1\n"
         "TRANSL          10.0       0.0       0.0\n"
         "SCALE            2.0       2.0       2.0\n"
         "*DEFINE_TRANSFORMATION\n"
         "2\n"
         "scale,2.0,2.0,2.0\n"
         "transl,10.0,0.0,0.0\n"
         "*DEFINE_TRANSFORMATION\n"
         "3\n"
         "POINT              1       1.0       0.0       0.0\n"
         "POINT              2       1.0       0.0       5.0\n"
         "ROTATE             1         2      90.0\n"
         "*DEFINE_TRANSFORMATION\n"
         "4\n"
         "ROTATE             1         2      90.0\n"
         "*DEFINE_TRANSFORMATION\n"
         "5\n"
         "ROTATE           0.0       0.0       1.0       1.0       0.0       0.0      90.0\n");
    ExpectNear(Moved(1, gmPnt3D(1, 0, 0)), gmPnt3D(22, 0, 0), 1e-4);
    ExpectNear(Moved(2, gmPnt3D(1, 0, 0)), gmPnt3D(12, 0, 0), 1e-4);
    ExpectNear(Moved(3, gmPnt3D(2, 0, 0)), gmPnt3D(1, 1, 0), 1e-4);
    EXPECT_TRUE(dataManage.GetTransform(4).GetList().empty());  // its points are undefined
    ExpectNear(Moved(5, gmPnt3D(2, 0, 0)), gmPnt3D(1, 1, 0), 1e-4);
}

TEST_F(Deck, SixPointPlacementMapsTheFirstFrameOntoTheSecond)
{
    // The target frame is tilted and turned: both rotations are needed.
    const gmPnt3D a[3] = {{1, 2, 3}, {4, 2, 3}, {1, 5, 3}};
    const gmPnt3D b[3] = {{10, 0, 0}, {10, 2, 2}, {10, -2, 2}};
    Scan("*DEFINE_TRANSFORMATION\n"
         "7\n"
         "POINT,1,1,2,3\nPOINT,2,4,2,3\nPOINT,3,1,5,3\n"
         "POINT,4,10,0,0\nPOINT,5,10,2,2\nPOINT,6,10,-2,2\n"
         "POS6P,1,2,3,4,5,6\n");
    ExpectNear(Moved(7, a[0]), b[0], 1e-4);
    const gmVec3D x = Moved(7, a[1]) - Moved(7, a[0]);
    const gmVec3D y = Moved(7, a[2]) - Moved(7, a[0]);
    const gmVec3D xb = (b[1] - b[0]).Normalized();
    const gmVec3D zb = (xb ^ (b[2] - b[0])).Normalized();
    EXPECT_NEAR(x.Normalized() * xb, 1.0, 1e-5);
    EXPECT_NEAR(x.Length(), 3.0, 1e-4);  // a rigid motion
    EXPECT_NEAR(y * zb, 0.0, 1e-4);      // the plane of the points too
    EXPECT_GT(y * (zb ^ xb), 0.0);
}

TEST_F(Deck, AByteFFDoesNotEndTheDeck)
{
    const CsReadDyna& r = Scan("*KEYWORD\n\xFF" "caf\xE9 notes\n*PART\n1 2\n*END\n*PART\n3 4\n");
    ASSERT_EQ(r.GetParts().size(), 1u);  // the second part is after *END
    EXPECT_EQ(r.GetParts()[0].partId, 1);
}

TEST_F(Deck, IncludePaths)
{
    CsReadDyna& r = Scan("*ELEMENT_TRIM\n1\n*INCLUDE\n/data/press/blank.dynain\n");
    EXPECT_EQ(r.SetInfoData(), 1);
    EXPECT_EQ(dataManage.GetDataFileName(), "/data/press/blank.dynain");

    CsReadDyna& s = Scan("*ELEMENT_TRIM\n1\n*INCLUDE\nsub/blank.dynain\n");
    EXPECT_EQ(s.SetInfoData(), 1);
    EXPECT_EQ(dataManage.GetDataFileName(), CsString((dir_.path() / "sub/blank.dynain").string().c_str()));
}

TEST_F(Deck, CardsCutShortByTheEndOfTheFileStopTheScan)
{
    // Each deck ends inside a card, some without a final end of line.
    const char* decks[] = {
        "*NODE",
        "*NODE\n       1       0.0",
        "*SET_PART_LIST\n1",
        "*SECTION_SHELL\n1\n",
        "*DEFINE_CURVE_TRIM\n1 0 1 0 0.5",
        "*DEFINE_CURVE_TRIM\n1 0 1 0 0.5\n1.0 2.0",
        "*DEFINE_CURVE_TRIM_3D\n1 2 1 0 0.5 2.0 3",
        "*DEFINE_TRANSFORMATION\n1\nPOINT 1",
        "*INCLUDE_TRANSFORM\nblank.dynain\n0\n",
        "*DEFINE_COORDINATE_SYSTEM\n         3       0.0       0.0       0.0       1.0       0.0       0.0",
        "*KEYWORD_ID",
        "*BOUNDARY_SPC_NODE\n1 0 1",
    };
    for (const char* deck : decks) {
        SCOPED_TRACE(deck);
        Scan(deck);
        dataManage.Release();
    }
    EXPECT_EQ(Scan("*DEFINE_CURVE_TRIM\n1 0 1 0 0.5\n1.0 2.0").GetCrvSets2D().size(), 1u);
}

TEST_F(Deck, ReadFileReportsTheMissingStateFile)
{
    CsReadDyna& r = Open("*ELEMENT_TRIM\n1\n*INCLUDE\nmissing.dynain\n"
                         "*DEFINE_CURVE_TRIM\n1 0 1 0 0.5\n0 0\n1 1\n");
    EXPECT_EQ(r.ReadFile(), 0);
    EXPECT_TRUE(Logged("Number of Curve Set 2D: 1"));
    EXPECT_TRUE(Logged("Success to read trim curves\n"));
    EXPECT_TRUE(Logged("Fail to Open the File: missing.dynain\n"));
    EXPECT_TRUE(Logged("Maybe it does not exist\n"));
    EXPECT_TRUE(Logged("Fail to read node and element data\n"));
}

TEST_F(Deck, ReadFileRefusesOtherFiles)
{
    Scan("*ELEMENT_TRIM\n1\n", "job.k");
    EXPECT_EQ(reader_->ReadFile(), 0);
    CsReadDyna closed(CsString(path_.c_str()));
    EXPECT_EQ(closed.ReadFile(), 0);
}

// The points of the set's only curve.
static std::vector<gmPnt3D> CurvePoints(const CsCrvSet3D& set)
{
    std::vector<gmPnt3D> pts;
    if (set.TrmCrvArr().size() == 1) set.TrmCrvArr()[0]->GetPtArr(pts);
    return pts;
}

static double Single(double v) { return static_cast<double>(static_cast<float>(v)); }

TEST_F(Deck, CurveCard3DPointLinesInEveryFormat)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_CURVE_TRIM_3D\n"
        "1 0 1 0 0.25 2.0 7\n"
        "$ free format\n"
        "1.5 -2.25 3\n"
        "  4\t5  6.125  \n"
        "*DEFINE_CURVE_TRIM_NEW\n"
        "2,1,0,0,0.25,2.0,0\n"
        "1.5,,3.0\n"
        "$ a comment between points\n"
        " -7.0 , 8.0 , 9.5 ,\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "         3         0         1         0      0.25       2.0         7\n"
        "       1.0       2.0       3.0\n"
        "-12.345678-23.456789-34.567891\n"
        "       1.0                 3.0\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "         4         0         1         0      0.25       2.0         7\n"
        "                 1.0                 2.0                 3.0\n"
        "-123456.123456789012-2345.12345678901234-3.12345678901234567\n"
        "                                     5.0                 6.0\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "5 0 1 0 0.25 2.0 7\n"
        "$ no point lines\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "6 2 1 0 0.25 2.0 7\n"
        "wall.igs\n"
        "1 2 3\n");
    const auto& sets = r.GetCrvSets3D();
    ASSERT_EQ(sets.size(), 6u);

    auto pts = CurvePoints(sets[0]);
    ASSERT_EQ(pts.size(), 2u);
    ExpectNear(pts[0], gmPnt3D(1.5, -2.25, 3), 0.0);
    ExpectNear(pts[1], gmPnt3D(4, 5, 6.125), 0.0);

    pts = CurvePoints(sets[1]);
    ASSERT_EQ(pts.size(), 2u);
    ExpectNear(pts[0], gmPnt3D(1.5, 0, 3), 0.0);  // an empty comma field is 0
    ExpectNear(pts[1], gmPnt3D(-7, 8, 9.5), 0.0);
    EXPECT_EQ(sets[1].GetTrimFlag(), 0);  // no seed: a lance curve

    pts = CurvePoints(sets[2]);
    ASSERT_EQ(pts.size(), 3u);
    ExpectNear(pts[0], gmPnt3D(1, 2, 3), 0.0);
    ExpectNear(pts[1], gmPnt3D(Single(-12.345678), Single(-23.456789), Single(-34.567891)), 0.0);
    ExpectNear(pts[2], gmPnt3D(1, 0, 3), 0.0);  // a blank fixed field is 0

    pts = CurvePoints(sets[3]);
    ASSERT_EQ(pts.size(), 3u);
    ExpectNear(pts[0], gmPnt3D(1, 2, 3), 0.0);
    ExpectNear(pts[1],
               gmPnt3D(Single(-123456.123456789012), Single(-2345.12345678901234), Single(-3.12345678901234567)),
               0.0);
    ExpectNear(pts[2], gmPnt3D(0, 5, 6), 0.0);

    // Without point lines the card stays as it was: a set without a curve.
    EXPECT_EQ(sets[4].GetId(), 5);
    EXPECT_TRUE(sets[4].TrmCrvArr().empty());
    // An IGES card reads its file name and no points.
    EXPECT_EQ(sets[5].GetIgesFile(), "wall.igs");
    EXPECT_TRUE(sets[5].TrmCrvArr().empty());
}

TEST_F(Deck, CurveCard3DPointsEndAtTheNextKeywordOrAtALineThatIsNoPoint)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_CURVE_TRIM_3D\n"
        "1 0 1 0 0.25 2.0 7\n"
        "0 0 0\n1 0 0\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "2 0 1 0 0.25 2.0 7\n"
        "0 0 0\nnot a point\n5 5 5\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "3 0 1 0 0.25 2.0 7\n"
        "1 2\n");
    const auto& sets = r.GetCrvSets3D();
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(CurvePoints(sets[0]).size(), 2u);
    EXPECT_EQ(sets[1].GetId(), 2);
    EXPECT_EQ(CurvePoints(sets[1]).size(), 1u);
    EXPECT_TRUE(sets[2].TrmCrvArr().empty());  // two values make no 3D point
}

TEST_F(Deck, CurveCard3DSecondSeed)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_CURVE_TRIM_3D\n"
        "1 2 1 0 0.25 2.0 7\n"
        "a.igs\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "         2         2         0         0      0.25       2.0        -7       -12\n"
        "a.igs\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "3,2,0,0,0.25,2.0,0,12\n"
        "a.igs\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "4 2 1 0 0.25 2.0 0 0\n"
        "a.igs\n");
    const auto& sets = r.GetCrvSets3D();
    ASSERT_EQ(sets.size(), 4u);
    // Seed, second seed and trim flag of each set.
    const int want[4][3] = {{7, 0, 1}, {7, 12, 1}, {12, 0, 1}, {0, 0, 0}};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(std::vector<int>({sets[k].GetSeed(), sets[k].GetSeed2(), sets[k].GetTrimFlag()}),
                  std::vector<int>(want[k], want[k] + 3)) << "set " << k + 1;
    }
    EXPECT_EQ(sets[3].GetIgesFile(), "a.igs");
}
