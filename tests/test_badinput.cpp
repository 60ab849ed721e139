// Bad inputs run through the real program. Whatever is wrong, a run ends
// with a message saying so and exit status 255, leaves nothing behind but its
// message log, and reads its inputs without changing a byte of them.
#include "test_helpers.h"
#include "test_sweeprun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>

using testutil::ReadFile;
using testutil::ScratchDir;
using testutil::WriteFile;

namespace {

namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;

// Every file and directory below a root, by relative path: the bytes of a
// file, a marker for a directory.
using Tree = std::map<std::string, std::string>;

Tree Snapshot(const fs::path& root)
{
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        tree[name] = entry.is_directory() ? std::string("<directory>") : ReadFile(entry.path().string());
    }
    return tree;
}

using Inputs = testutil::GeneratedJob;

const Inputs& Generated() { return testutil::SmallGeneratedJob(); }

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no '" << from << "' to replace";
        return text;
    }
    return text.replace(at, from.size(), to);
}

// The offset just past the n-th line end at or after from.
size_t AfterLines(const std::string& text, size_t from, int n)
{
    for (int k = 0; k < n; ++k) from = text.find('\n', from) + 1;
    return from;
}

// The line holding offset at.
std::string LineAt(const std::string& text, size_t at)
{
    const size_t begin = text.rfind('\n', at) + 1;
    return text.substr(begin, text.find('\n', at) - begin);
}

// One IGES line: 72 columns of data, the section letter and the sequence number.
std::string IgesLine(const std::string& data, char section, int sequence)
{
    char tail[16];
    std::snprintf(tail, sizeof tail, "%c%7d", section, sequence);
    return data + std::string(72 - data.size(), ' ') + tail + "\n";
}

// count straight lines (entity 110), each an independent curve.
std::string IgesWithLines(int count)
{
    std::string text = IgesLine("", 'S', 1);
    const std::string global[] = {"1H,,1H;,8Hmany.igs,8Hmany.igs,6Hcorvex,3H1.0,32,38,6,308,15,8Hmany.igs,",
                                  "1.0,2,2HMM,1,1.0,15H20240101.000000,0.001,1000.0,,,11,0,,;"};
    text += IgesLine(global[0], 'G', 1) + IgesLine(global[1], 'G', 2);
    std::string directory;
    std::string parameters;
    for (int k = 0; k < count; ++k) {
        char line[96];
        std::snprintf(line, sizeof line, "%8d%8d%8d%8d%8d%8d%8d%8d%8s", 110, k + 1, 0, 0, 0, 0, 0, 0, "00000000");
        directory += IgesLine(line, 'D', 2 * k + 1);
        std::snprintf(line, sizeof line, "%8d%8d%8d%8d%8d%8s%8s%8s%8d", 110, 0, 0, 1, 0, "", "", "", 0);
        directory += IgesLine(line, 'D', 2 * k + 2);
        const double y = 0.01 * k;
        std::snprintf(line, sizeof line, "110,%.2f,%.2f,0.0,%.2f,%.2f,0.0;", -5.0, y, 120.0, y);
        char with[96];
        std::snprintf(with, sizeof with, "%-64s%8d", line, 2 * k + 1);
        parameters += IgesLine(with, 'P', k + 1);
    }
    char terminate[80];
    std::snprintf(terminate, sizeof terminate, "S%7dG%7dD%7dP%7d", 1, 2, 2 * count, count);
    return text + directory + parameters + IgesLine(terminate, 'T', 1);
}

// A job: its deck, and its other files by name (kDirectory makes a directory).
const std::string kDirectory = "<directory>";
using Files = std::map<std::string, std::string>;

struct Case {
    const char* name;
    std::string deck;
    Files files;
    std::vector<std::string> messages;
    // Put in front of the program in "sh -c" (limits, traps).
    std::string prefix = "";
};

const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = [] {
        const Inputs& in = Generated();
        const std::string& blank = in.blank;
        const std::string& anneal = in.annealDeck;
        const Files withBlank = {{"blank.dynain", blank}};
        std::vector<Case> list;
        // The annealing deck on a state file of the given text.
        const auto state = [anneal](const char* name, const std::string& text, std::vector<std::string> messages) {
            return Case{name, anneal, {{"blank.dynain", text}}, std::move(messages)};
        };

        // The deck itself; a missing deck, or one that is a directory, is in test_trimctrl.
        std::mt19937 random(7);
        std::string bytes(20000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        list.push_back({"deck of random bytes", bytes, withBlank,
                        {"No 'ELEMENT_TRIM' card or invalid 'INCLUDE' card", "Fail to read the dyna input deck"}});
        list.push_back({"deck without an include", Replace(anneal, "*INCLUDE\nblank.dynain\n", ""), withBlank,
                        {"No 'ANNEAL' card or invalid 'INCLUDE' card", "Fail to read the dyna input deck"}});

        // The state file it includes; stress blocks cut short are in test_annealjob.
        list.push_back({"include missing", anneal, {}, {"Fail to Open the File: blank.dynain", "Maybe it does not exist"}});
        list.push_back({"include is a directory", anneal, {{"blank.dynain", kDirectory}},
                        {"Fail to Open the File: blank.dynain", "Fail to read the dyna input deck"}});
        list.push_back({"include is a device that never ends", Replace(anneal, "\nblank.dynain\n", "\n/dev/zero\n"), {},
                        {"Fail to Open the File: /dev/zero", "Fail to read the dyna input deck"}});
        list.push_back(state("include empty", "", {"Fail to read node and element data", "Fail to read the dyna input deck"}));
        const std::string element = LineAt(blank, AfterLines(blank, blank.find("*ELEMENT_SHELL_THICKNESS"), 2));
        list.push_back(state("element naming a node that does not exist",
                             Replace(blank, element, element.substr(0, 24) + "  999999" + element.substr(32)),
                             {"Invalid node id = 999999", "Exceptional Termination of the Solver"}));
        const std::string node = LineAt(blank, AfterLines(blank, blank.find("*NODE"), 2));
        list.push_back(state("duplicate node ids",
                             Replace(blank, node + "\n", node + "\n" + node.substr(0, 8) + "  5.000000000e+0" + node.substr(24) + "\n"),
                             {"Duplicate node id = 2301", "Exceptional Termination of the Solver"}));
        for (const char* value : {"             nan", "           1e300"}) {
            list.push_back(state(value[13] == 'n' ? "coordinate NaN" : "coordinate 1e300",
                                 Replace(blank, node, node.substr(0, 8) + value + node.substr(24)),
                                 {"Invalid node id = 2301", "Exceptional Termination of the Solver"}));
        }
        const std::string stress = LineAt(blank, AfterLines(blank, blank.find("*INITIAL_STRESS_SHELL"), 2));
        list.push_back(state("stress line of 10000 characters",
                             Replace(blank, stress, stress + std::string(10000 - stress.size(), '7')),
                             {"Fail to output dynain file"}));

        // The output.
        list.push_back({"output name is an existing directory", anneal,
                        {{"blank.dynain", blank}, {"genblank_anneal.dynain", kDirectory}}, {"Fail to output dynain file"}});
        list.push_back(state("write failure in the middle of the output", blank, {"Fail to output dynain file"}));
        // 48 blocks of 512 bytes: room for the console and the log, not the output.
        list.back().prefix = "trap '' XFSZ; ulimit -f 48;";
        list.push_back({"output name equal to the state file", Replace(anneal, "genblank_anneal", "blank"), withBlank,
                        {"is an input file of this job; it is not overwritten"}});

        // Trim curves from IGES files.
        const auto iges = [withBlank](const char* name, Files files, std::vector<std::string> messages) {
            files.insert(withBlank.begin(), withBlank.end());
            return Case{name, testutil::IgesDeck("curves.igs"), std::move(files), std::move(messages)};
        };
        const std::vector<std::string> unusable = {"Fail to Get the Curve Data, Defined Curve Set ID = 1",
                                                   "The Curve Set: 1 will be discarded", "Fail to read curve",
                                                   "Fail to read the dyna input deck"};
        list.push_back(iges("IGES file missing", {}, unusable));
        list.push_back(iges("IGES file empty", {{"curves.igs", ""}}, unusable));
        std::string garbage;
        for (int k = 0; k < 300; ++k) garbage += IgesLine("110,1.0,2.0,garbage;" + std::to_string(k), 'X', k);
        list.push_back(iges("IGES file of garbage", {{"curves.igs", garbage}}, unusable));
        // A straight line cannot be a trim curve: the first one stops the run.
        list.push_back(iges("IGES file with 2000 curves", {{"curves.igs", IgesWithLines(2000)}},
                            {"IGES file holds 2000 curves: only the first 1000 fit", "Number of Curve Set 2D: 1",
                             "Trim curve 1_1 is refused: it encloses no area", "The solver is terminated"}));
#ifdef CORVEX_IGESWRITE
        const ScratchDir written("igeswrite");
        const std::string command = "'" CORVEX_IGESWRITE "' -o '" + written.file("curves.igs") +
                                    "' polyline 10 10 0 90 10 0 1e300 50 0 10 10 0 > /dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        list.push_back(iges("IGES curve with a point beyond every range", {{"curves.igs", ReadFile(written.file("curves.igs"))}},
                            {"Invalid trim curve point in curve set 1, curve 1: point 3 is (inf, 50, 0)",
                             "Fail to read the dyna input deck"}));
#endif

        // Trim curves on the generated blank, around its middle.
        const trimcheck::Dynain flat = trimcheck::Parse(blank);
        double cx = 0.0, cy = 0.0;
        for (const auto& [id, p] : flat.nodes) cx = std::max(cx, 0.5 * p[0]), cy = std::max(cy, 0.5 * p[1]);
        const double r = 0.4 * std::min(cx, cy);
        const auto circle = [](double x, double y, double radius) {
            trimcheck::Poly p;
            for (int k = 0; k < 16; ++k) p.push_back({x + radius * std::cos(k * kPi / 8), y + radius * std::sin(k * kPi / 8)});
            return p;
        };
        using Curves = std::vector<std::pair<int, trimcheck::Poly>>;
        // Points that are no finite number, from a deck, are in test_curveset.
        const auto curves = [flat, withBlank](const char* name, const Curves& cards, std::vector<std::string> messages) {
            return Case{name, sweep::DeckFor(flat, sweep::JobAlongZ(cards), "blank.dynain"), withBlank, std::move(messages)};
        };
        // Curves that cannot say which side of them is which. The two lobes
        // of the eight meet where the angle is 0 and where it is a half turn:
        // between points 20 and 21, and on the way from point 40 back to 1.
        trimcheck::Poly eight;
        for (int k = 0; k < 40; ++k) {
            const double a = 2 * kPi * (k + 0.5) / 40;
            eight.push_back({cx + 1.5 * r * std::sin(a), cy + 0.6 * r * std::sin(2 * a)});
        }
        list.push_back(curves("figure eight", {{1, eight}},
                              {"Trim curve 1_1 is refused: it crosses itself where segment 20 (points 20 to 21) "
                               "meets segment 40 (points 40 to 1)",
                               "The solver is terminated"}));
        list.push_back(curves("curve out and back along one line",
                              {{-1, {{cx - r, cy - r}, {cx, cy}, {cx + r, cy + r}, {cx, cy}}}},
                              {"Trim curve 1_1 is refused: it encloses no area", "The solver is terminated"}));
        list.push_back(curves("lance crossing itself",
                              {{0, {{cx - r, cy - r}, {cx + r, cy + r}, {cx + r, cy - r}, {cx - r, cy + r}}}},
                              {"Lance curve 1_1 is refused: it crosses itself where segment 1 (points 1 to 2) "
                               "meets segment 3 (points 3 to 4)",
                               "The solver is terminated"}));
        list.push_back(curves("lance of no length",
                              {{0, {{cx, cy}, {cx, cy + 0.0015}, {cx, cy}}}},
                              {"Lance curve 1_1 is refused: it has no length", "The solver is terminated"}));
        list.push_back(curves("trim curve back along itself a thousandth apart",
                              {{-1, {{cx - r, cy - r}, {cx + r, cy - r}, {cx + r, cy}, {cx - 0.5 * r, cy},
                                     {cx - 0.6 * r, cy + 0.1 * r}, {cx - 0.4 * r, cy + 0.001}, {cx + 0.9 * r, cy + 0.001},
                                     {cx + 0.9 * r, cy + r}, {cx - r, cy + r}}}},
                              {"Trim curve 1_1 is refused: it crosses itself where segment 3 (points 3 to 4) "
                               "meets segment 5 (points 5 to 6)",
                               "The solver is terminated"}));
        // Each keeps its inside, so nothing can remain; the smaller one comes
        // second and finds nothing left to cut.
        list.push_back(curves("two disjoint trim-out curves",
                              {{-1, circle(cx - 0.5 * cx, cy, r)}, {-1, circle(cx + 0.5 * cx, cy, 0.8 * r)}},
                              {"Trim curve 2_1 meets no element of the blank",
                               "No element is left after trimming: the trim curves remove the whole blank"}));
        return list;
    }();
    return cases;
}

}  // namespace

TEST(BadInput, EndsWithAMessageNoOutputAndInputsUntouched)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        ScratchDir dir("badinput");
        WriteFile(dir.file("job.dyn"), c.deck);
        for (const auto& [name, text] : c.files) {
            if (text == kDirectory) fs::create_directory(dir.path() / name);
            else WriteFile(dir.file(name), text);
        }
        const Tree before = Snapshot(dir.path());
        const testutil::RunResult r =
            c.prefix.empty() ? testutil::RunProgram(dir, "job.dyn")
                             : testutil::RunTool(dir, "/bin/sh", "-c \"" + c.prefix + " exec '" CORVEX_EXE "' job.dyn\"");
        EXPECT_EQ(r.status, 255) << r.out;
        for (const std::string& message : c.messages) EXPECT_NE(r.out.find(message), std::string::npos) << message << "\n" << r.out;
        EXPECT_TRUE(r.out.find("*** Error") != std::string::npos ||
                    r.out.find("Exceptional Termination of the Solver") != std::string::npos);
        EXPECT_EQ(r.out.find("N o r m a l"), std::string::npos);

        // Every input as it was; nothing new but the message log and the run report.
        const Tree after = Snapshot(dir.path());
        for (const auto& [name, bytes] : before) {
            const auto found = after.find(name);
            ASSERT_NE(found, after.end()) << name << " is gone";
            EXPECT_TRUE(found->second == bytes) << name << " was changed";
        }
        for (const auto& [name, bytes] : after) {
            if (before.count(name)) continue;
            const std::string file = fs::path(name).filename().string();
            const bool report = file == "report.json" ||
                                (file.size() > 12 && file.compare(file.size() - 12, 12, ".report.json") == 0);
            EXPECT_TRUE(file == "messag" || fs::path(file).extension() == ".messag" || report)
                << name << " was left behind";
        }
    }
}
