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
    void SetUp() override { TearDown(); }
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

// The points of the set's only curve.
template <class Set>
std::vector<gmPnt3D> CurvePoints(const Set& set)
{
    std::vector<gmPnt3D> pts;
    if (set.TrmCrvArr().size() == 1) set.TrmCrvArr()[0]->GetPtArr(pts);
    return pts;
}

double Single(double v) { return static_cast<double>(static_cast<float>(v)); }

}  // namespace

// A byte 0xFF is no end of file; *END is.
TEST_F(Deck, KeywordsAreMatchedWholeInAnyCaseAndPadding)
{
    const CsReadDyna& r = Scan(
        "*KEYWORD\n\xFF" "caf\xE9 notes\n"
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
        "1.25 0 0 0\n"
        "*END\n*PART\n3 4\n");
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
        "*PART\nBlank with a title line\n        11         3\n"
        "*PART\nabc def\nghi\n"
        "*CONTROL_ANNEAL\n3\n"
        "*DEFINE_VECTOR\n1 0 0 0 0 0 0\n"
        "*CONTROL_ADAPTIVE_CURVE\n\n1 0 2 0.5\n"
        "*SECTION_SHELL\n0\n1.0\n"
        "*ELEMENT_TRIM\n4\n");
    ASSERT_EQ(r.GetParts().size(), 1u);  // the title line is passed over
    EXPECT_EQ(r.GetParts()[0].partId, 11);
    EXPECT_TRUE(r.GetAnneals().empty());
    EXPECT_TRUE(r.GetVects().empty());   // zero-length direction
    EXPECT_EQ(r.GetCtrlAdp().refine, 0); // four values of five
    EXPECT_TRUE(r.GetSects().empty());
    EXPECT_EQ(r.GetTrimSets(), std::vector<int>{4});
}

// *INCLUDE_TRANSFORM is run through the program in test_trim2d.
TEST_F(Deck, FixedAndFreeFormatGiveTheSameRecords)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_VECTOR\n"
        "         5       1.0       2.0       3.0       1.0       2.0       7.0         9\n"
        "*DEFINE_VECTOR\n"
        "6, 1.0, 2.0, 3.0, 4.0, 2.0, 3.0, 9\n"
        "*CONTROL_ADAPTIVE_CURVE\n1, 0, 3, 0.1, 1\n");
    ASSERT_EQ(r.GetVects().size(), 2u);
    EXPECT_EQ(r.GetVects()[0].cid, 9);
    EXPECT_DOUBLE_EQ(r.GetVects()[0].dir.z(), 1.0);
    EXPECT_DOUBLE_EQ(r.GetVects()[0].tail.y(), 2.0);
    EXPECT_EQ(r.GetVects()[1].cid, 9);
    EXPECT_DOUBLE_EQ(r.GetVects()[1].dir.x(), 1.0);
    const CsCtrlAdp& adp = r.GetCtrlAdp();
    EXPECT_EQ(std::vector<int>({adp.refine, adp.level, adp.closed}), std::vector<int>({1, 3, 1}));
    EXPECT_EQ(adp.minLength, static_cast<double>(0.1f));  // stored in single precision, as read
}

TEST_F(Deck, PartSetLists)
{
    const CsReadDyna& r = Scan(
        "*SET_PART_LIST\n1\n12 34 5\n"
        "*SET_PART_LIST\n2\n3,4\n"
        "*SET_PART_LIST\n3\n         7         0         9\n        10\n"
        "*SET_PART_LIST\n0\n8\n"
        "*SET_PART_LIST\n4\nx\n"
        "*SET_PART_LIST\n5\n");
    const auto& sets = r.GetPartSets();
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_EQ(sets[0].parts, (std::vector<int>{12, 34, 5}));
    EXPECT_EQ(sets[1].parts, (std::vector<int>{3, 4}));  // free format
    EXPECT_EQ(sets[2].parts, (std::vector<int>{7, 10}));  // a zero ends its line only
    EXPECT_EQ(sets[3].setId, 4);
    EXPECT_TRUE(sets[3].parts.empty());
    EXPECT_EQ(r.GetMaxPartID(), 35);
}

// The trim flag of a 2D card is its third field; its local system sits in
// columns 51-60, or is the sixth comma field.
TEST_F(Deck, CurveCards2D)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_CURVE_TRIM\n"
        "         1         0         1         2      0.25         7         0         0\n"
        "$ the outline\n"
        "                 0.0                 0.0\n"
        "               100.0                 0.0\n"
        "               100.0                50.0\n"
        "*DEFINE_CURVE_TRIM\n2 0 1 0 0.5\n"
        "*DEFINE_CURVE_TRIM\n3,2,-1,0,0.5,8\n  cut.igs  \n");
    const auto& sets = r.GetCrvSets2D();
    ASSERT_EQ(sets.size(), 2u);  // set 2 has no point line
    EXPECT_EQ(sets[0].GetId(), 1);
    EXPECT_EQ(sets[0].GetVectId(), 2);
    EXPECT_EQ(sets[0].GetTrimFlag(), 1);
    EXPECT_EQ(sets[0].GetLcs(), 7);
    const std::vector<gmPnt3D> pts = CurvePoints(sets[0]);
    ASSERT_EQ(pts.size(), 3u);
    ExpectNear(pts[2], gmPnt3D(100, 50, 0), 0.0);
    EXPECT_EQ(sets[1].GetIgesFile(), "cut.igs");
    EXPECT_EQ(sets[1].GetTrimFlag(), -1);
    EXPECT_EQ(sets[1].GetLcs(), 8);
    EXPECT_TRUE(sets[1].TrmCrvArr().empty());
}

// Every format of a 3D card's point lines, where they end, and the seeds: a
// negative seed is its size, a lone second seed the only seed, and without a
// seed the curve can only lance.
TEST_F(Deck, CurveCards3D)
{
    const CsReadDyna& r = Scan(
        "*DEFINE_CURVE_TRIM_3D\n1 0 1 0 0.25 2.0 7\n$ free format\n1.5 -2.25 3\n  4\t5  6.125  \n"
        "*DEFINE_CURVE_TRIM_NEW\n2,1,0,0,0.25,2.0,0\n1.5,,3.0\n$ a comment between points\n -7.0 , 8.0 , 9.5 ,\n"
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
        "*DEFINE_CURVE_TRIM_3D\n5 0 1 0 0.25 2.0 7\n$ no point lines\n"
        "*DEFINE_CURVE_TRIM_3D\n6 2 1 0 0.25 3.0 -5\n  wall.igs\n1 2 3\n"
        "*DEFINE_CURVE_TRIM_3D\n7 0 1 0 0.25 2.0 7\n0 0 0\nnot a point\n5 5 5\n"
        "*DEFINE_CURVE_TRIM_3D\n8 0 1 0 0.25 2.0 7\n1 2\n"
        "*DEFINE_CURVE_TRIM_3D\n"
        "         9         2         0         0      0.25       2.0        -7       -12\na.igs\n"
        "*DEFINE_CURVE_TRIM_3D\n10,2,0,0,0.25,2.0,0,12\na.igs\n"
        "*DEFINE_CURVE_TRIM_3D\n11 2 1 0 0.25 2.0 0 0\na.igs\n"
        "*DEFINE_CURVE_TRIM_3D\n12 0 1 0 0.25 3.0\n");  // no seed field: dropped
    struct Row {
        int seed, seed2, flag;
        const char* iges;
        std::vector<gmPnt3D> points;
    };
    const Row rows[] = {
        {7, 0, 1, "", {{1.5, -2.25, 3}, {4, 5, 6.125}}},
        {0, 0, 0, "", {{1.5, 0, 3}, {-7, 8, 9.5}}},  // an empty comma field is 0
        {7, 0, 1, "", {{1, 2, 3}, {Single(-12.345678), Single(-23.456789), Single(-34.567891)}, {1, 0, 3}}},
        {7, 0, 1, "", {{1, 2, 3},
                       {Single(-123456.123456789012), Single(-2345.12345678901234), Single(-3.12345678901234567)},
                       {0, 5, 6}}},
        {7, 0, 1, "", {}},
        {5, 0, 1, "wall.igs", {}},
        {7, 0, 1, "", {{0, 0, 0}}},  // the points end at a line that is none
        {7, 0, 1, "", {}},           // two values make no 3D point
        {7, 12, 1, "a.igs", {}},
        {12, 0, 1, "a.igs", {}},
        {0, 0, 0, "a.igs", {}},
    };
    const auto& sets = r.GetCrvSets3D();
    ASSERT_EQ(sets.size(), std::size(rows));
    for (size_t k = 0; k < sets.size(); ++k) {
        SCOPED_TRACE("set " + std::to_string(k + 1));
        const Row& row = rows[k];
        EXPECT_EQ(sets[k].GetId(), static_cast<int>(k) + 1);
        EXPECT_EQ(std::vector<int>({sets[k].GetSeed(), sets[k].GetSeed2(), sets[k].GetTrimFlag()}),
                  std::vector<int>({row.seed, row.seed2, row.flag}));
        EXPECT_EQ(sets[k].GetIgesFile(), row.iges);
        EXPECT_EQ(sets[k].TrmCrvArr().empty(), row.points.empty());
        const std::vector<gmPnt3D> pts = CurvePoints(sets[k]);
        ASSERT_EQ(pts.size(), row.points.size());
        for (size_t p = 0; p < pts.size(); ++p) ExpectNear(pts[p], row.points[p], 0.0);
    }
    EXPECT_DOUBLE_EQ(sets[5].GetGap(), 3.0);
}

// An anneal of a set the deck does not define falls back to cutting, which
// needs its own card. A relative include is found beside the deck, an
// absolute one is taken as it is; the *CONTROL_ANNEAL card gives the share of
// stress to remove, the job keeps the rest.
TEST_F(Deck, JobInformation)
{
    Scan("*CONTROL_ANNEAL\n3 0.2\n*SET_PART_LIST\n4\n1\n*INCLUDE\nblank.dynain\n");
    EXPECT_EQ(reader_->SetAnnealData(), 0);
    EXPECT_TRUE(reader_->GetAnneals().empty());
    EXPECT_FALSE(reader_->IsAnneal());
    EXPECT_EQ(reader_->SetInfoData(), 0);
    EXPECT_TRUE(Logged("No 'ELEMENT_TRIM' card or invalid 'INCLUDE' card\n"));
    TearDown();

    Scan("*KEYWORD_ID\nanneal\n*CONTROL_ANNEAL\n4 0.25\n*SET_PART_LIST\n4\n1 2\n*INCLUDE\nsub/blank.dynain\n");
    EXPECT_EQ(reader_->SetAnnealData(), 1);
    EXPECT_TRUE(reader_->IsAnneal());
    const CsDataInfo& info = dataManage.GetDataInfo();
    EXPECT_EQ(info.keyId, "anneal");
    EXPECT_EQ(info.maxPart, 3);
    ASSERT_EQ(info.anneal.size(), 1u);
    EXPECT_FLOAT_EQ(info.anneal[0].GetScale(), 0.75f);
    EXPECT_EQ(info.dataFile, CsString((dir_.path() / "sub/blank.dynain").string().c_str()));
    TearDown();

    Scan("*ELEMENT_TRIM\n1\n*SET_PART_LIST\n1\n10 20\n*PART\n10 5\n*PART\n20 6\n"
         "*SECTION_SHELL\n5\n0.8\n*INCLUDE\n/data/press/blank.dynain\n");
    EXPECT_EQ(reader_->SetInfoData(), 1);
    EXPECT_EQ(dataManage.GetDataFileName(), "/data/press/blank.dynain");
    const CsDataInfo& cut = dataManage.GetDataInfo();
    ASSERT_EQ(cut.partThick.size(), 1u);  // part 20's section is missing
    EXPECT_EQ(cut.partThick[0].part, 10);
    EXPECT_DOUBLE_EQ(cut.partThick[0].thick, 0.8);
}

TEST_F(Deck, JobNames)
{
    EXPECT_EQ(Scan("*KEYWORD_ID\n  JOB 7\n").GetKeyID(), "JOB_7");
    // A word over the running bound (20 more per word) is cut at it.
    EXPECT_EQ(Scan("*KEYWORD_ID\nA 123456789012345678901234567890123456789012345\n").GetKeyID(),
              "A_12345678901234567890123456789012345678_9012345");
    EXPECT_EQ(Scan("*KEYWORD_JOBID\n   press line 4   \n").GetKeyID(), "press line 4");
    EXPECT_EQ(Scan("*KEYWORD_ID\n$ none\n*NODE\n").GetKeyID(), "");
}

TEST_F(Deck, NodesConstraintsAndCoordinateSystems)
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
         "*BOUNDARY_SPC_NODE\n1 0 1 1 1 0 0 0\n2 0 1\n"
         "*DEFINE_COORDINATE_SYSTEM\n"
         "         3       0.0       0.0       0.0       1.0       0.0       0.0\n"
         "       0.0       1.0       0.0\n"
         "*DEFINE_COORDINATE_VECTOR\n"
         "         4       1.0       0.0       0.0       0.0       1.0       0.0\n"
         "         5       short\n");
    const auto& nodes = dataManage.GetNodeArr();
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0].GetExid(), 1);
    ExpectNear(nodes[0].GetPoint(), gmPnt3D(1.5, 2.5, -3.0), 0.0);
    EXPECT_EQ(nodes[0].GetSpcCode(), 0);
    EXPECT_EQ(nodes[1].GetSpcCode(), 4 * 8 + 2);  // x translation, y rotation
    EXPECT_EQ(nodes[2].GetExid(), 3);             // after a comment holding '*'
    ExpectNear(nodes[2].GetPoint(), gmPnt3D(4, 5, 6), 0.0);
    EXPECT_EQ(nodes[3].GetExid(), 5);
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

// Operations apply in card order (a translation then a scaling in fixed
// columns is run through the program in test_trim2d). The six-point target
// frame is tilted and turned: both rotations are needed.
TEST_F(Deck, Transformations)
{
    Scan("*DEFINE_TRANSFORMATION\n2\nscale,2.0,2.0,2.0\ntransl,10.0,0.0,0.0\n"
         "*DEFINE_TRANSFORMATION\n3\n"
         "POINT              1       1.0       0.0       0.0\n"
         "POINT              2       1.0       0.0       5.0\n"
         "ROTATE             1         2      90.0\n"
         "*DEFINE_TRANSFORMATION\n4\nROTATE             1         2      90.0\n"
         "*DEFINE_TRANSFORMATION\n5\n"
         "ROTATE           0.0       0.0       1.0       1.0       0.0       0.0      90.0\n"
         "*DEFINE_TRANSFORMATION\n7\n"
         "POINT,1,1,2,3\nPOINT,2,4,2,3\nPOINT,3,1,5,3\n"
         "POINT,4,10,0,0\nPOINT,5,10,2,2\nPOINT,6,10,-2,2\n"
         "POS6P,1,2,3,4,5,6\n");
    ExpectNear(Moved(2, gmPnt3D(1, 0, 0)), gmPnt3D(12, 0, 0), 1e-4);
    ExpectNear(Moved(3, gmPnt3D(2, 0, 0)), gmPnt3D(1, 1, 0), 1e-4);
    EXPECT_TRUE(dataManage.GetTransform(4).GetList().empty());  // its points are undefined
    ExpectNear(Moved(5, gmPnt3D(2, 0, 0)), gmPnt3D(1, 1, 0), 1e-4);
    const gmPnt3D a[3] = {{1, 2, 3}, {4, 2, 3}, {1, 5, 3}};
    const gmPnt3D b[3] = {{10, 0, 0}, {10, 2, 2}, {10, -2, 2}};
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

TEST_F(Deck, CardsCutShortByTheEndOfTheFileStopTheScan)
{
    // Each deck ends inside a card, some without a final end of line.
    const char* decks[] = {
        "*NODE",
        "*NODE\n       1       0.0",
        "*SET_PART_LIST\n1",
        "*SECTION_SHELL\n1\n",
        "*DEFINE_CURVE_TRIM\n1 0 1 0 0.5",
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

TEST_F(Deck, ReadFileReportsTheMissingStateFileAndRefusesOtherFiles)
{
    CsReadDyna& r = Open("*ELEMENT_TRIM\n1\n*INCLUDE\nmissing.dynain\n"
                         "*DEFINE_CURVE_TRIM\n1 0 1 0 0.5\n0 0\n1 1\n");
    EXPECT_EQ(r.ReadFile(), 0);
    // The curves are read before the state file; its own messages are in test_badinput.
    for (const char* line : {"Number of Curve Set 2D: 1", "Success to read trim curves\n", "Fail to read node and element data\n"})
        EXPECT_TRUE(Logged(line)) << line;

    Scan("*ELEMENT_TRIM\n1\n", "job.k");
    EXPECT_EQ(reader_->ReadFile(), 0);
    CsReadDyna closed(CsString(path_.c_str()));
    EXPECT_EQ(closed.ReadFile(), 0);
}
