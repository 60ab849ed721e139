// The dynain writer's choice of what to write, on models changed the way
// cutting changes them: removed elements, new pieces recorded in element maps.
#include "qdsdatabase.h"
#include "qdsfile_state.h"
#include "qdsfile_writer.h"
#include "qdsmessage.h"
#include "qdstrimbase.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <sstream>

using testutil::ReadFile;
using testutil::ScratchDir;

namespace {

// Two quadrilaterals side by side (parts 1 and 2); nodes 1-6, element 10 on
// the left, 20 on the right. Node 3 is clamped in system 5, node 6 in the
// global system; node 5 hangs on the edge 2-6 of element 20.
const char* const kBlank =
    "*KEYWORD\n"
    "*NODE\n"
    "       1             0.0             0.0             0.0\n"
    "       2            10.0             0.0             0.0\n"
    "       3            20.0             0.0             0.0\n"
    "       4             0.0            10.0             0.0\n"
    "       5            10.0             5.0             0.0\n"
    "       6            10.0            10.0             0.0\n"
    "       7            20.0            10.0             0.0\n"
    "*ELEMENT_SHELL\n"
    "      10       1       1       2       6       4\n"
    "      20       2       2       3       7       6\n"
    "*BOUNDARY_SPC_NODE\n"
    "         3         5         1         1         1         0         0         0\n"
    "         6         0         0         0         1         0         0         0\n"
    "*DEFINE_COORDINATE_SYSTEM\n"
    "         5       0.0       0.0       0.0       1.0       0.0       0.0\n"
    "       0.0       1.0       0.0\n"
    "*CONSTRAINED_ADAPTIVITY\n"
    "         5         2         6\n"
    "*INITIAL_STRESS_SHELL\n"
    "        10         1         1         0\n"
    " 0.000e+0 1.000e+2 0.000e+0 0.000e+0 0.000e+0 0.000e+0 0.000e+0 0.000e+0\n"
    "        20         1         1         0\n"
    " 0.000e+0 2.000e+2 0.000e+0 0.000e+0 0.000e+0 0.000e+0 0.000e+0 0.000e+0\n"
    "*END\n";

class Writer : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Whatever an earlier test left in the process-wide model goes first.
        hashOper.Release();
        dataManage.Release();
        CsMessage::Free();
        testutil::WriteFile(dir_.file("blank.dynain"), kBlank);
        CsDataInfo info;
        info.dataFile = dir_.file("blank.dynain").c_str();
        info.partThick = {{1, 1.5}};  // the shells have no thickness of their own
        dataManage.SetDataInfo(info);
        CsReadData reader(info.dataFile, 0);
        ASSERT_EQ(reader.OpenFile(CsFile::READ), 1);
        testing::internal::CaptureStdout();
        const int read = reader.ReadFile();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(read, 1);
        dataManage.UpdateElemNd();
    }
    void TearDown() override
    {
        hashOper.Release();
        dataManage.Release();
        CsMessage::Free();
    }
    // Writes the model; the file's text.
    std::string Write(int expected = 1)
    {
        CsWrtDynin writer(dir_.file("out.dynain").c_str());
        EXPECT_EQ(writer.OpenFile(CsFile::WRITE), 1);
        testing::internal::CaptureStdout();
        EXPECT_EQ(writer.WriteFile(), expected);
        shown_ = testing::internal::GetCapturedStdout();
        writer.CloseFile();
        return ReadFile(dir_.file("out.dynain"));
    }
    ScratchDir dir_{"writer"};
    std::string shown_;
};

// The data lines of the file's sections of one keyword.
std::vector<std::string> Section(const std::string& text, const std::string& keyword)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (line[0] == '*') current = line;
        else if (current == keyword && line[0] != '$') out.push_back(line);
    }
    return out;
}

}  // namespace

TEST_F(Writer, NodesOfRemovedElementsAndWhatHangsOnThemAreLeftOut)
{
    dataManage.SetToDel(dataManage.GetElidFromExid(20));
    const std::string text = Write();
    // Nodes 3 and 7 belonged only to element 20; node 6 is still used by 10.
    EXPECT_EQ(text.find("\n       3"), std::string::npos);
    EXPECT_EQ(text.find("\n       7"), std::string::npos);
    EXPECT_NE(text.find("\n       6"), std::string::npos);
    // Node 3's constraint and the system only it referred to go with it.
    EXPECT_EQ(text.find("*DEFINE_COORDINATE_SYSTEM"), std::string::npos);
    EXPECT_NE(text.find("         6         0         0         0         1         0         0         0"),
              std::string::npos);
    // Node 5 is used by no element: its constraint cannot be written.
    EXPECT_EQ(text.find("*CONSTRAINED_ADAPTIVITY"), std::string::npos);
    EXPECT_NE(shown_.find("No Constrained node Left"), std::string::npos);
    // The removed element and its stress record are gone.
    EXPECT_EQ(text.find("\n      20"), std::string::npos);
    EXPECT_EQ(text.find("        20         1"), std::string::npos);
    EXPECT_NE(text.find("        10         1         1         0"), std::string::npos);
    // A shell read without a thickness card takes its section's thickness.
    const std::vector<std::string> elements = Section(text, "*ELEMENT_SHELL_THICKNESS");
    ASSERT_EQ(elements.size(), 2u);
    for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(std::atof(elements[1].substr(16 * c, 16).c_str()), 1.5) << elements[1];
}

TEST_F(Writer, PiecesFollowTheirSourceAndInheritItsRecords)
{
    // Element 20 is cut into two pieces, one of them cut again, and removed.
    ASSERT_EQ(hashOper.CreateHash(), 1);
    const int src = dataManage.GetElidFromExid(20);
    const int n2 = dataManage.GetNdidFromExid(2), n3 = dataManage.GetNdidFromExid(3);
    const int n6 = dataManage.GetNdidFromExid(6), n7 = dataManage.GetNdidFromExid(7);
    const int tri1[3] = {n2, n3, n7};
    const int tri2[3] = {n2, n7, n6};
    const int a = dataManage.AddElem(2, 3, tri1);
    const int b = dataManage.AddElem(2, 3, tri2);
    CsElemMap first;
    first.SrcElem = src;
    first.NewElemArr = {a, b};
    ASSERT_EQ(hashOper.AddNewElemMap(first), 1);
    const int c = dataManage.AddElem(2, 3, tri2);
    CsElemMap second;
    second.SrcElem = b;
    second.NewElemArr = {c};
    hashOper.AddNewElemMap(second);
    dataManage.SetToDel(src);
    dataManage.SetToDel(b);

    const std::string text = Write();
    std::vector<std::string> cards, stressHeaders;
    const std::vector<std::string> elements = Section(text, "*ELEMENT_SHELL_THICKNESS");
    for (size_t k = 0; k < elements.size(); k += 2) cards.push_back(elements[k].substr(0, 8));
    for (const std::string& line : Section(text, "*INITIAL_STRESS_SHELL"))
        if (line.size() == 40) stressHeaders.push_back(line.substr(0, 10));
    // Pieces come right after their source, in the order they were made;
    // removed elements (20 and piece b) are not written.
    EXPECT_EQ(cards, (std::vector<std::string>{"      10", "      21", "      23"}));
    EXPECT_EQ(stressHeaders, (std::vector<std::string>{"        10", "        21", "        23"}));
    // A triangle repeats its third node.
    EXPECT_NE(text.find("      21       2       2       3       7       7"), std::string::npos);
}

TEST_F(Writer, NothingLeftToWriteFails)
{
    dataManage.SetToDel(dataManage.GetElidFromExid(10));
    dataManage.SetToDel(dataManage.GetElidFromExid(20));
    Write(0);
    EXPECT_NE(shown_.find("Fail to Output node data"), std::string::npos);
    bool recorded = false;
    for (const CsString& s : CsMessage().GetMsgArr()) recorded = recorded || s == "No Valid Node Left\n";
    EXPECT_TRUE(recorded);
}

TEST_F(Writer, AConstraintWhoseCoarseEdgeLostAnEndIsLeftOut)
{
    // Node 5 stays on a new triangle, node 2 with it, but node 6, the other
    // end of its coarse edge, goes with both old elements.
    ASSERT_EQ(hashOper.CreateHash(), 1);
    const int tri[3] = {dataManage.GetNdidFromExid(2), dataManage.GetNdidFromExid(3), dataManage.GetNdidFromExid(5)};
    dataManage.AddElem(2, 3, tri);
    dataManage.SetToDel(dataManage.GetElidFromExid(10));
    dataManage.SetToDel(dataManage.GetElidFromExid(20));
    const std::string text = Write();
    EXPECT_NE(text.find("\n       5"), std::string::npos);
    EXPECT_EQ(text.find("\n       6"), std::string::npos);
    EXPECT_EQ(text.find("*CONSTRAINED_ADAPTIVITY"), std::string::npos) << text;
}
