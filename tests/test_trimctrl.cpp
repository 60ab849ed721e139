#include "qdsdatabase.h"
#include "qdsmessage.h"
#include "qdstrimctrl.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::RunResult;
using testutil::ScratchDir;

namespace {

class DeckArgs : public ::testing::Test {
protected:
    void TearDown() override
    {
        CsMessage::Free();
        dataManage.SetCurWorkPath("");
    }
};

const char* const kBanner =
    "\n"
    "    _________________________________________________________\n"
    "    |                                                       |\n"
    "    |  Corvexandrilo, A  program  for  Cutting  the  Blank  |\n"
    "    |  or Anneal in Sheet Forming Analysis                  |\n";

}  // namespace

// Accepted names become absolute and show nothing; a refused one (last) still
// places the log beside it. Refused names in the working directory are in
// Program.RefusedArgumentsAndMissingDecksFail.
TEST_F(DeckArgs, AcceptedNamesBecomeAbsoluteAndRefusedOnesPlaceTheLog)
{
    const std::string cwd = std::filesystem::current_path().string();
    struct Case { std::vector<CsString> args; bool valid; std::string path; };
    const Case cases[] = {
        {{"deck.dyn"}, true, cwd + "/deck.dyn"},
        {{"/abs/dir/Deck.DYN"}, true, "/abs/dir/Deck.DYN"},
        {{"./deck.dyn"}, true, "./deck.dyn"},
        {{"dir\\sub\\deck.dyn"}, true, cwd + "/dir/sub/deck.dyn"},
        {{"deck.dyn.bak"}, true, cwd + "/deck.dyn"},
        {{"my", "deck.dyn"}, true, cwd + "/mydeck.dyn"},
        {{"==deck.dyn"}, true, cwd + "/deck.dyn"},
        {{"../../jobs/deck.dyn"}, true, cwd + "/../../jobs/deck.dyn"},
        {{"_x/deck.dyn"}, true, cwd + "/_x/deck.dyn"},
        {{"/tmp/jobs/blank.DYNAIN"}, false, "/tmp/jobs/blank.DYNAIN"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        const CsDeckArgs r = ResolveDeckArgs(c.args);
        const std::string shown = testing::internal::GetCapturedStdout();
        EXPECT_EQ(r.valid, c.valid) << c.path;
        EXPECT_EQ(r.path.str(), c.path);
        EXPECT_TRUE(!c.valid || shown.empty()) << shown;
    }
    EXPECT_EQ(dataManage.GetCurWorkPath(), "/tmp/jobs");
}

// Every refusal fails the run; whatever the way in, the log is left beside
// the deck named, or in the directory when none was, and holds what was
// recorded, not the prompts or the banner.
TEST(Program, RefusedArgumentsAndMissingDecksFail)
{
    ScratchDir dir("args");
    std::filesystem::create_directory(dir.path() / "folder.dyn");
    const std::string here = dir.path().string();
    const std::string end = "Fail to read the dyna input deck\n\nThe Solver is terminated\n\n*** Error\n";
    const struct { const char* args; const char* input; std::vector<std::string> shown; std::string logStart; } rows[] = {
        // Empty answers are read again without a new prompt.
        {"", "\n   \nquit\n", {kBanner, "  Please input a dyn file:\n >" + end}, "VEK Solver Message\n\n\n" + end},
        {"", "", {"The Solver is terminated"}, ""},  // end of input at the prompt ends like quit
        {"deck.dynain", "", {"Input File: deck.dynain\nNot a dyn file (*.dyn)\n\n*** Error\n"}, ""},
        {"deck memory=100m", "", {"Input File: deck\nNot a dyn file (*.dyn)\n"}, ""},
        {"absent.dyn", "", {"Input file: " + here + "/absent.dyn\n\n\nFail to open the file\n\n" + end}, ""},
        {"folder.dyn", "", {"Fail to open the file"}, ""},
        // "y" drops everything recorded before it, the log's head included.
        {"", "notes.txt\ny\nmissing.dyn\nn\n", {"Not a dyn file (*.dyn)", " Invalid dyn file or path"},
         "Input file: " + here + "/missing.dyn\n\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.args) + " / " + row.input);
        std::filesystem::remove(dir.file("messag"));
        const RunResult r = RunProgram(dir, row.args, row.input);
        EXPECT_EQ(r.status, 255);
        for (const std::string& text : row.shown) EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
        ASSERT_TRUE(std::filesystem::exists(dir.file("messag")));
        EXPECT_EQ(ReadFile(dir.file("messag")).rfind(row.logStart, 0), 0u) << ReadFile(dir.file("messag"));
    }
}

// What a first-time user tries: options are answered (the first one decides,
// also over a deck named with it) without a banner or a run, and without
// leaving a log or report behind.
TEST(FrontDoor, OptionsAreAnsweredWithoutARun)
{
    ScratchDir dir("front-door");
    testutil::CopyExample(dir, "anneal");
    const std::string files = testutil::ListDir(dir);
    const std::string help = RunProgram(dir, "--help").out;
    for (const char* topic : {"DECK.dyn", "prompt", "--version", ".dynain", ".messag", ".report.json", "255",
                              "corvexandrilo-view", "examples/README.md"}) {
        EXPECT_NE(help.find(topic), std::string::npos) << topic;
    }
    EXPECT_EQ(help.find("Corvexandrilo, A"), std::string::npos);
    const std::string version =
        "corvexandrilo Version: " + CsHeadMsg().VersionText().str() + " Date: " + qdxGetBulidDate().str() + "\n";
    const std::string unknown = "corvexandrilo: unknown option ";
    const struct { const char* args; int status; std::string out; } rows[] = {
        {"--help", 0, help},
        {"-h", 0, help},
        {"deck.dyn --help", 0, help},
        {"--version", 0, version},
        {"--frobnicate", 255, unknown + "--frobnicate (--help lists the options)\n"},
        {"anneal.dyn --verbose", 255, unknown + "--verbose (--help lists the options)\n"},
        {"--", 255, unknown + "-- (--help lists the options)\n"},
    };
    for (const auto& row : rows) {
        const RunResult r = RunProgram(dir, row.args);
        EXPECT_EQ(r.status, row.status) << row.args;
        EXPECT_EQ(r.out, row.out) << row.args;
        EXPECT_EQ(testutil::ListDir(dir), files) << row.args;
    }
}

// A job id climbing out of the directory still names outputs a plain listing
// shows, beside the deck.
TEST(FrontDoor, DottedKeyIdGivesVisibleOutputsBesideTheDeck)
{
    ScratchDir dir("front-door-keyid");
    testutil::CopyExample(dir, "anneal");
    std::string deck = ReadFile(dir.file("anneal.dyn"));
    deck.replace(deck.find("anneal_demo"), 11, "../X");
    testutil::WriteFile(dir.file("anneal.dyn"), deck);
    const RunResult r = RunProgram(dir, "anneal.dyn");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("N o r m a l      t e r m i n a t i o n"), std::string::npos);
    EXPECT_EQ(testutil::ListDir(dir), "___X.dynain ___X.messag ___X.report.json anneal.dyn blank.dynain ");
}
