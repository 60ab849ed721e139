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

std::string Cwd() { return std::filesystem::current_path().string(); }

class DeckArgs : public ::testing::Test {
protected:
    void TearDown() override
    {
        CsMessage::Free();
        dataManage.SetCurWorkPath("");
    }
    CsDeckArgs Resolve(std::vector<CsString> args)
    {
        testing::internal::CaptureStdout();
        CsDeckArgs r = ResolveDeckArgs(args);
        shown_ = testing::internal::GetCapturedStdout();
        return r;
    }
    std::string shown_;
};

const char* const kBanner =
    "\n"
    "    _________________________________________________________\n"
    "    |                                                       |\n"
    "    |  Corvexandrilo, A  program  for  Cutting  the  Blank  |\n"
    "    |  or Anneal in Sheet Forming Analysis                  |\n";

}  // namespace

TEST_F(DeckArgs, AcceptedNamesBecomeAbsolute)
{
    const std::string cwd = Cwd();
    struct Case { std::vector<CsString> args; std::string path; };
    const Case cases[] = {
        {{"deck.dyn"}, cwd + "/deck.dyn"},
        {{"/abs/dir/Deck.DYN"}, "/abs/dir/Deck.DYN"},
        {{"./deck.dyn"}, "./deck.dyn"},
        {{"dir\\sub\\deck.dyn"}, cwd + "/dir/sub/deck.dyn"},
        {{"deck.dyn.bak"}, cwd + "/deck.dyn"},
        {{"my", "deck.dyn"}, cwd + "/mydeck.dyn"},
        {{"==deck.dyn"}, cwd + "/deck.dyn"},
        {{"../../jobs/deck.dyn"}, cwd + "/../../jobs/deck.dyn"},
        {{"_x/deck.dyn"}, cwd + "/_x/deck.dyn"},
    };
    for (const Case& c : cases) {
        const CsDeckArgs r = Resolve(c.args);
        EXPECT_TRUE(r.valid) << c.path;
        EXPECT_EQ(r.path.str(), c.path);
        EXPECT_EQ(shown_, "");
    }
}

TEST_F(DeckArgs, RefusedNamesPlaceTheLogBesideThem)
{
    // A name in the working directory is in Program.RefusedArgumentsAndMissingDecksFail.
    const CsDeckArgs r = Resolve({"/tmp/jobs/blank.DYNAIN"});
    EXPECT_FALSE(r.valid);
    EXPECT_EQ(dataManage.GetCurWorkPath(), "/tmp/jobs");
}

TEST(Program, QuitAtThePromptFails)
{
    ScratchDir dir("quit");
    const RunResult r = RunProgram(dir, "", "\n   \nquit\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind(kBanner, 0), 0u);
    // Empty answers are read again without a new prompt.
    const std::string tail =
        "  Please input a dyn file:\n >Fail to read the dyna input deck\n\n"
        "The Solver is terminated\n\n*** Error\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    // The log holds what was recorded, not the prompts or the banner.
    EXPECT_EQ(ReadFile(dir.file("messag")),
              "VEK Solver Message\n\n\nFail to read the dyna input deck\n\n"
              "The Solver is terminated\n\n*** Error\n");
}

// Every refusal fails the run; whatever the way in, the log is left beside
// the deck named, or in the directory when none was.
TEST(Program, RefusedArgumentsAndMissingDecksFail)
{
    ScratchDir dir("args");
    std::filesystem::create_directory(dir.path() / "folder.dyn");
    const std::string missing = "Input file: " + dir.path().string() + "/absent.dyn\n\n\nFail to open the file\n\n"
                                "Fail to read the dyna input deck\n\nThe Solver is terminated\n\n*** Error\n";
    const struct {
        const char* args;
        const char* input;
        std::vector<std::string> shown;
    } rows[] = {
        {"", "", {"The Solver is terminated"}},  // end of input at the prompt ends like quit
        {"deck.dynain", "", {"Input File: deck.dynain\nNot a dyn file (*.dyn)\n\n*** Error\n"}},
        {"deck memory=100m", "", {"Input File: deck\nNot a dyn file (*.dyn)\n"}},
        {"absent.dyn", "", {missing}},
        {"folder.dyn", "", {"Fail to open the file"}},
        {"", "notes.txt\ny\nmissing.dyn\nn\n", {"Not a dyn file (*.dyn)", " Invalid dyn file or path"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.args) + " / " + row.input);
        std::filesystem::remove(dir.file("messag"));
        const RunResult r = RunProgram(dir, row.args, row.input);
        EXPECT_EQ(r.status, 255);
        for (const std::string& text : row.shown) EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
        EXPECT_TRUE(std::filesystem::exists(dir.file("messag")));
    }
    // "y" dropped everything recorded before it, the log's head included.
    const std::string log = ReadFile(dir.file("messag"));
    EXPECT_EQ(log.rfind("Input file: " + dir.path().string() + "/missing.dyn\n\n", 0), 0u) << log;
    EXPECT_EQ(log.find("notes.txt"), std::string::npos);
}

// What a first-time user tries: the usual options are answered without a
// banner and without leaving a log or report behind.
TEST(FrontDoor, HelpAndVersionAnswerAndWriteNothing)
{
    ScratchDir dir("front-door");
    const RunResult help = RunProgram(dir, "--help");
    EXPECT_EQ(help.status, 0);
    for (const char* topic : {"DECK.dyn", "prompt", "--version", ".dynain", ".messag", ".report.json", "255",
                              "corvexandrilo-view", "examples/README.md"}) {
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    }
    EXPECT_EQ(help.out.find("Corvexandrilo, A"), std::string::npos);
    EXPECT_EQ(RunProgram(dir, "-h").out, help.out);
    // An option wins over a deck named with it.
    EXPECT_EQ(RunProgram(dir, "deck.dyn --help").out, help.out);

    const RunResult version = RunProgram(dir, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "corvexandrilo Version: " + CsHeadMsg().VersionText().str() +
                               " Date: " + qdxGetBulidDate().str() + "\n");
    EXPECT_EQ(testutil::ListDir(dir), "");
}

TEST(FrontDoor, UnknownOptionIsRefusedWithoutARun)
{
    ScratchDir dir("front-door-unknown");
    testutil::CopyExample(dir, "anneal");
    const std::string files = testutil::ListDir(dir);
    for (const char* args : {"--frobnicate", "anneal.dyn --verbose", "--"}) {
        const RunResult r = RunProgram(dir, args);
        EXPECT_EQ(r.status, 255) << args;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        const std::string option = std::string(args).substr(std::string(args).find("--"));
        EXPECT_NE(r.out.find("unknown option " + option + " "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--help"), std::string::npos) << r.out;
        EXPECT_EQ(testutil::ListDir(dir), files) << args;
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
