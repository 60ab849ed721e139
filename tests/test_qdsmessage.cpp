#include "qdsexception.h"
#include "qdsmessage.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Recorded()
{
    std::vector<std::string> out;
    for (const CsString& s : CsMessage().GetMsgArr()) out.push_back(s.str());
    return out;
}

class MessageList : public ::testing::Test {
protected:
    void SetUp() override { CsMessage::Free(); }
    void TearDown() override { CsMessage::Free(); }
};

}  // namespace

TEST_F(MessageList, RecordingRules)
{
    CsMessage quiet;  // an empty message records nothing
    EXPECT_TRUE(Recorded().empty());

    CsMessage msg("first");
    msg.Set("second");
    msg.Add("-piece");
    EXPECT_EQ(msg.GetText(), "second-piece");
    testing::internal::CaptureStdout();
    msg.ShowMessage("a prompt");  // prompts are printed, never recorded
    msg.ShowMessage();
    msg.ShowNewLine(2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a promptsecond-piece\n\n\n");
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"first", "second", "-piece"}));
}

TEST_F(MessageList, ErrorsAreRecordedWhenBuilt)
{
    try {
        throw CsErrorMessage("Invalid node id = 7\n", "source/qdsdatabase", 702);
    } catch (CsException& e) {
        e.Set("Exceptional Termination of the Solver");
    }
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"Invalid node id = 7\n", "Exceptional Termination of the Solver"}));
}
