// The bundled example jobs, run through the real program on a scratch copy of each folder:
// every deck, blank and curve file must be read whole; annealing, trimming and lancing jobs
// end normally with an output.
#include "test_trimcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::ScratchDir;

namespace {

namespace fs = std::filesystem;

const char* const kNormalEnd = "N o r m a l      t e r m i n a t i o n";
const char* const kNoCut = "Invalid gap or trimming direction";

std::vector<std::string> ExampleNames()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(CORVEX_EXAMPLES))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What a deck asks for, read on its own terms rather than with the program's reader.
struct Deck {
    std::string file;
    std::string jobId;
    std::string blank;
    int sets2d = 0;
    int sets3d = 0;
    std::vector<std::string> igesFiles;
    bool anneal = false;
};

// Data lines are read without comments, blanks trimmed; cards in any case.
Deck ReadDeck(const fs::path& path)
{
    Deck deck;
    deck.file = path.filename().string();
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path.string()));
    for (std::string line; std::getline(in, line);) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '$') continue;
        lines.push_back(line.substr(first, line.find_last_not_of(" \t\r") + 1 - first));
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
        std::string card = lines[k];
        std::transform(card.begin(), card.end(), card.begin(), [](unsigned char c) { return std::toupper(c); });
        const bool hasData = k + 1 < lines.size() && lines[k + 1][0] != '*';
        if (card == "*KEYWORD_ID" && hasData) deck.jobId = lines[k + 1];
        if (card == "*INCLUDE" && hasData) deck.blank = lines[k + 1];
        if (card == "*CONTROL_ANNEAL") deck.anneal = true;
        const bool is2d = card == "*DEFINE_CURVE_TRIM";
        const bool is3d = card == "*DEFINE_CURVE_TRIM_3D" || card == "*DEFINE_CURVE_TRIM_NEW";
        if ((is2d || is3d) && hasData) {
            (is2d ? deck.sets2d : deck.sets3d)++;
            std::istringstream values(lines[k + 1]);
            int id = 0;
            int type = 0;
            values >> id >> type;
            if (type == 2 && k + 2 < lines.size()) deck.igesFiles.push_back(lines[k + 2]);
        }
    }
    return deck;
}

bool Shows(const std::string& out, const std::string& text) { return out.find(text) != std::string::npos; }

std::string CountLine(const char* label, int count) { return label + std::to_string(count) + "\n"; }

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, IsReadWholeAndEndsNormally)
{
    const fs::path source = fs::path(CORVEX_EXAMPLES) / GetParam();
    ScratchDir dir("example");
    fs::copy(source, dir.path(), fs::copy_options::recursive);

    std::vector<fs::path> decks;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().extension() == ".dyn") decks.push_back(entry.path());
    ASSERT_EQ(decks.size(), 1u) << "one deck per example folder";
    const Deck deck = ReadDeck(decks.front());
    ASSERT_FALSE(deck.blank.empty()) << deck.file << " includes no blank";
    ASSERT_TRUE(fs::exists(dir.path() / deck.blank)) << deck.blank << " is not in the folder";
    for (const std::string& iges : deck.igesFiles)
        ASSERT_TRUE(fs::exists(dir.path() / iges)) << iges << " is not in the folder";
#ifndef CORVEX_IGES_LIBRARY
    if (!deck.igesFiles.empty()) GTEST_SKIP() << "the IGES translator library is not built here";
#endif
    const trimcheck::Dynain blank = trimcheck::ParseFile((dir.path() / deck.blank).string());
    const int adaptive = static_cast<int>(blank.adaptive.size());
    ASSERT_FALSE(blank.nodes.empty());
    ASSERT_FALSE(blank.shells.empty());

    const testutil::RunResult run = RunProgram(dir, deck.file);
    SCOPED_TRACE(run.out);

    // Curve sets come before the blank, and a lost set is only reported on the way.
    EXPECT_FALSE(Shows(run.out, "No IGES Dll found"));
    EXPECT_FALSE(Shows(run.out, "will be discarded"));
    EXPECT_FALSE(Shows(run.out, "Fail to read curve"));
    if (!deck.anneal) {
        EXPECT_GT(deck.sets2d + deck.sets3d, 0) << "a cutting example without a curve set";
        EXPECT_TRUE(Shows(run.out, "Success to read trim curves\n"));
    }
    // The reader announces each kind of set, with its count, only when there is one.
    EXPECT_EQ(Shows(run.out, "Number of Curve Set 2D: "), deck.sets2d > 0);
    EXPECT_EQ(Shows(run.out, "Number of Curve Set 3D: "), deck.sets3d > 0);
    EXPECT_EQ(Shows(run.out, CountLine("Number of Curve Set 2D: ", deck.sets2d)), deck.sets2d > 0);
    EXPECT_EQ(Shows(run.out, CountLine("Number of Curve Set 3D: ", deck.sets3d)), deck.sets3d > 0);

    EXPECT_TRUE(Shows(run.out, CountLine("Number of Nodes:    ", static_cast<int>(blank.nodes.size()))));
    EXPECT_TRUE(Shows(run.out, CountLine("Number of Elements: ", static_cast<int>(blank.shells.size()))));
    EXPECT_TRUE(adaptive == 0 || Shows(run.out, CountLine("Number of Adaptive Nodes: ", adaptive)));
    EXPECT_TRUE(Shows(run.out, "Success to read node and element data\n"));
    EXPECT_TRUE(Shows(run.out, "Success to read the dyna input deck"));

    // Every example, annealing or cutting, must end normally and write its output.
    const std::string output = (deck.jobId.empty() ? std::string("dynain") : deck.jobId) + ".dynain";
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Shows(run.out, kNormalEnd));
    EXPECT_FALSE(Shows(run.out, kNoCut));
    EXPECT_GT(fs::exists(dir.path() / output) ? fs::file_size(dir.path() / output) : 0u, 0u) << output;
    if (!deck.anneal) {
        const bool lance = GetParam().rfind("lance", 0) == 0;
        const char* done = lance ? (deck.sets3d > 0 ? "3D Lancing finished successfully" : "2D Lancing finished successfully")
                                 : (deck.sets3d > 0 ? "3D trimming finished successfully" : "2D trimming finished successfully");
        EXPECT_TRUE(Shows(run.out, done));
    }
    if (GetParam() == "refine") {
        // The refinement runs before the cut and adds constraints along the curve.
        EXPECT_TRUE(Shows(run.out, "Refinements finished\n"));
        const size_t before = run.out.find("Adaptive constrains before refinement: ");
        const size_t after = run.out.find("Adaptive constrains after refinement: ");
        ASSERT_NE(before, std::string::npos);
        ASSERT_NE(after, std::string::npos);
        EXPECT_EQ(std::atoi(run.out.c_str() + before + 39), adaptive);
        EXPECT_GT(std::atoi(run.out.c_str() + after + 38), adaptive);
    }
    // The run works on its copy; the blank it read is left as it was.
    EXPECT_EQ(ReadFile((dir.path() / deck.blank).string()), ReadFile((source / deck.blank).string()));
}

INSTANTIATE_TEST_SUITE_P(Folders, Example, ::testing::ValuesIn(ExampleNames()), testutil::TestName);

// Every folder is documented with the command that runs it, and the kinds of job the
// examples are meant to show are all there.
TEST(Examples, AreListedWithTheirCommandAndCoverEveryKindOfJob)
{
    const std::vector<std::string> names = ExampleNames();
    const std::string readme = ReadFile(std::string(CORVEX_EXAMPLES) + "/README.md");
    for (const std::string& name : names) {
        EXPECT_TRUE(Shows(readme, "| " + name + " |")) << name << " has no line in examples/README.md";
        EXPECT_TRUE(Shows(readme, "`bash tools/run-example.sh " + name + "`")) << name;
    }
    for (const char* wanted : {"anneal", "trim2d-out", "trim2d-hole", "lance2d", "trim3d", "lance3d", "refine"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), wanted), names.end()) << wanted;
    }
}

}  // namespace
