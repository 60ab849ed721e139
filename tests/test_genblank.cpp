// The blank generator's files, checked with a reader of their own: fixed
// columns as the cards define them, nothing shared with the program's readers.
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::ScratchDir;

namespace {

int Generate(const std::string& args, const std::string& log = "/dev/null")
{
    const std::string command = "'" CORVEX_GENBLANK "' " + args + " > '" + log + "' 2>&1";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

using Point = std::array<double, 3>;

struct Element {
    int id = 0;
    int part = 0;
    std::array<int, 4> nodes{};
    bool triangle() const { return nodes[2] == nodes[3]; }
    std::vector<int> corners() const { return {nodes.begin(), nodes.end() - (triangle() ? 1 : 0)}; }
};

struct ParsedBlank {
    std::vector<std::pair<int, Point>> nodes;
    std::map<int, Point> nodeAt;
    std::vector<Element> elements;
    std::vector<std::array<int, 3>> adaptive;
    std::vector<std::array<int, 8>> spcs;
    std::vector<int> systems;
    std::map<int, int> stressRecords;  // element id -> records
    std::map<int, int> strainRecords;
    std::vector<std::string> problems;  // layout faults, with the line
};

int Int(const std::string& line, std::size_t from, std::size_t width)
{
    return std::atoi(line.substr(from, width).c_str());
}

double Real(const std::string& line, std::size_t field, std::size_t width, std::size_t skip = 0)
{
    return std::strtod(line.substr(skip + field * width, width).c_str(), nullptr);
}

ParsedBlank Parse(const std::string& path)
{
    ParsedBlank b;
    std::istringstream in(ReadFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    // A line of the wrong length, or a real field not as printf writes it (the
    // form the program writes its own fields in), is a layout fault.
    const auto layout = [&b](const std::string& what, const std::string& l, std::size_t length, std::size_t width,
                             std::size_t skip = 0) {
        if (length && l.size() != length)
            b.problems.push_back(what + " length: " + l);
        for (std::size_t at = skip; at < l.size(); at += width) {
            const std::string field = l.substr(at, width);
            const int precision = width == 16 ? 9 : 3;
            if (field != testutil::PrintfField(std::strtod(field.c_str(), nullptr), static_cast<int>(field.size()), precision))
                b.problems.push_back(what + " field '" + field + "' is not in printf's form");
        }
    };
    std::string section;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        if (line.empty() || line[0] == '$')
            continue;
        if (line[0] == '*') {
            section = line;
        } else if (section == "*NODE") {
            layout("node", line, 56, 16, 8);
            const Point p{Real(line, 0, 16, 8), Real(line, 1, 16, 8), Real(line, 2, 16, 8)};
            b.nodes.emplace_back(Int(line, 0, 8), p);
            b.nodeAt[Int(line, 0, 8)] = p;
        } else if (section == "*BOUNDARY_SPC_NODE") {
            std::array<int, 8> spc{};
            for (std::size_t f = 0; f < 8; ++f)
                spc[f] = Int(line, 10 * f, 10);
            b.spcs.push_back(spc);
        } else if (section == "*DEFINE_COORDINATE_SYSTEM") {
            if (line.size() <= 69)
                b.problems.push_back("coordinate system card too short: " + line);
            b.systems.push_back(Int(line, 0, 10));
            layout("coordinate system", line, 0, 10, 10);
            layout("coordinate system", lines[++k], 0, 10);
        } else if (section == "*CONSTRAINED_ADAPTIVITY") {
            b.adaptive.push_back({Int(line, 0, 10), Int(line, 10, 10), Int(line, 20, 10)});
        } else if (section == "*ELEMENT_SHELL_THICKNESS") {
            Element e{Int(line, 0, 8), Int(line, 8, 8), {}};
            for (std::size_t n = 0; n < 4; ++n)
                e.nodes[n] = Int(line, 16 + 8 * n, 8);
            b.elements.push_back(e);
            const std::string& card = lines[++k];
            layout("thickness card", card, 64, 16);
            for (std::size_t f = 0; f < 4; ++f)
                if (!(Real(card, f, 16) > 0.5 && Real(card, f, 16) < 1.5))
                    b.problems.push_back("thickness: " + card);
        } else if (section == "*INITIAL_STRESS_SHELL") {
            if (line.size() != 50 || Int(line, 10, 10) != 1 || Int(line, 40, 10) != 0)
                b.problems.push_back("stress header: " + line);
            ++b.stressRecords[Int(line, 0, 10)];
            const int nthick = Int(line, 20, 10);
            const int nhisv = Int(line, 30, 10);
            for (int point = 0; point < nthick; ++point) {
                const std::string& stress = lines[++k];
                layout("stress line", stress, 80, 10);
                bool sane = std::fabs(Real(stress, 0, 10)) < 1.0 && Real(stress, 7, 10) >= 0.0 && Real(stress, 7, 10) <= 0.4;
                for (std::size_t s = 1; s < 7; ++s)
                    sane = sane && std::fabs(Real(stress, s, 10)) <= 600.0;
                if (!sane)
                    b.problems.push_back("integration point, stress or plastic strain: " + stress);
                for (int left = nhisv; left > 0; left -= 8)
                    layout("history line", lines[++k], 10u * static_cast<std::size_t>(std::min(left, 8)), 10);
            }
        } else if (section == "*INITIAL_STRAIN_SHELL") {
            if (line.size() != 10)
                b.problems.push_back("strain header: " + line);
            ++b.strainRecords[Int(line, 0, 10)];
            layout("strain line", lines[++k], 60, 10);
            layout("strain line", lines[++k], 60, 10);
        } else {
            b.problems.push_back("data outside a known section: " + line);
        }
    }
    return b;
}

double Distance(const Point& a, const Point& b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// What every generated mesh must be: laid out as the cards define, unique ids,
// every node named existing, each directed edge used once (one orientation,
// no fold), each hanging node at the middle of a coarse edge one element owns
// and between two fine ones, and (with state) one stress and strain record
// per element.
void ExpectSoundMesh(const ParsedBlank& b, bool state, double shortest = 0.0, double longest = 1e300)
{
    for (std::size_t k = 0; k < std::min<std::size_t>(b.problems.size(), 5); ++k)
        ADD_FAILURE() << b.problems[k];
    EXPECT_EQ(b.problems.size(), 0u);
    ASSERT_FALSE(b.nodes.empty());
    ASSERT_FALSE(b.elements.empty());
    EXPECT_EQ(b.nodeAt.size(), b.nodes.size()) << "repeated node id";
    std::set<int> elementIds;
    std::map<std::pair<int, int>, int> directed;
    std::map<int, int> elementsAtNode;
    for (const Element& e : b.elements) {
        EXPECT_TRUE(elementIds.insert(e.id).second) << "repeated element id " << e.id;
        const std::vector<int> c = e.corners();
        EXPECT_EQ(std::set<int>(c.begin(), c.end()).size(), c.size()) << "element " << e.id << " repeats a node";
        for (std::size_t k = 0; k < c.size(); ++k) {
            ASSERT_EQ(b.nodeAt.count(c[k]), 1u) << "element " << e.id << " names missing node " << c[k];
            ++directed[{c[k], c[(k + 1) % c.size()]}];
            ++elementsAtNode[c[k]];
        }
        for (std::size_t k = 0; k < c.size(); ++k) {
            const double length = Distance(b.nodeAt.at(c[k]), b.nodeAt.at(c[(k + 1) % c.size()]));
            EXPECT_TRUE(length >= shortest && length <= longest) << "element " << e.id << " edge " << length;
        }
        if (state) {
            EXPECT_EQ(b.stressRecords.count(e.id) ? b.stressRecords.at(e.id) : 0, 1) << "element " << e.id;
            EXPECT_EQ(b.strainRecords.count(e.id) ? b.strainRecords.at(e.id) : 0, 1) << "element " << e.id;
        }
    }
    EXPECT_EQ(b.stressRecords.size(), state ? b.elements.size() : 0u);
    EXPECT_EQ(b.strainRecords.size(), state ? b.elements.size() : 0u);
    for (const auto& [edge, count] : directed)
        EXPECT_EQ(count, 1) << "edge " << edge.first << "-" << edge.second << " runs the same way twice";
    const auto uses = [&](int p, int q) { return (directed.count({p, q}) ? 1 : 0) + (directed.count({q, p}) ? 1 : 0); };
    std::set<int> dependents;
    for (const auto& [d, a, c] : b.adaptive) {
        EXPECT_TRUE(dependents.insert(d).second) << "node " << d << " constrained twice";
        ASSERT_TRUE(b.nodeAt.count(d) && b.nodeAt.count(a) && b.nodeAt.count(c));
        for (std::size_t k = 0; k < 3; ++k) {
            const double mid = 0.5 * (b.nodeAt.at(a)[k] + b.nodeAt.at(c)[k]);
            EXPECT_NEAR(b.nodeAt.at(d)[k], mid, 1e-8 * (1.0 + std::fabs(mid))) << "node " << d;
        }
        EXPECT_EQ(uses(a, c), 1) << "the coarse edge " << a << "-" << c << " belongs to one element";
        EXPECT_EQ(uses(d, a), 1) << "fine edge " << d << "-" << a;
        EXPECT_EQ(uses(d, c), 1) << "fine edge " << d << "-" << c;
        EXPECT_EQ(elementsAtNode[d], 2) << "the two fine elements share node " << d;
    }
}

ParsedBlank GenerateAndParse(const ScratchDir& dir, const std::string& name, const std::string& args)
{
    const std::string path = dir.file(name);
    EXPECT_EQ(Generate(args + " -o '" + path + "'"), 0) << args;
    return Parse(path);
}

struct Case {
    const char* shape;
    int levels;
    int nthick;
    int nhisv;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.shape << ", levels " << c.levels << ", nthick " << c.nthick << ", nhisv " << c.nhisv;
}

class GeneratedBlank : public ::testing::TestWithParam<Case> {};

TEST_P(GeneratedBlank, IsAConsistentFormedMesh)
{
    const Case c = GetParam();
    ScratchDir dir("genblank");
    const ParsedBlank b = GenerateAndParse(dir, "blank.dynain", std::string("--shape ") + c.shape + " --elements 3000 --levels " +
                                                                    std::to_string(c.levels) + " --nthick " + std::to_string(c.nthick) +
                                                                    " --nhisv " + std::to_string(c.nhisv) + " --seed 5");
    ExpectSoundMesh(b, true, 0.4, 12.0);
    EXPECT_GT(b.elements.size(), 2000u);
    EXPECT_LT(b.elements.size(), 4500u);
    EXPECT_FALSE(b.adaptive.empty());
    EXPECT_GT(b.nodes.front().first, 1) << "ids do not start at 1";
    std::set<int> parts;
    int triangles = 0;
    for (const Element& e : b.elements) {
        parts.insert(e.part);
        triangles += e.triangle() ? 1 : 0;
    }
    EXPECT_GE(parts.size(), 3u);
    EXPECT_GT(triangles, 0);
    EXPECT_LT(triangles, static_cast<int>(b.elements.size()) / 5) << "mostly quadrilaterals";

    // Constraints in the global system and in the one local system, which is defined.
    ASSERT_EQ(b.systems.size(), 1u);
    std::set<int> systems;
    for (const auto& spc : b.spcs) {
        systems.insert(spc[1]);
        EXPECT_EQ(b.nodeAt.count(spc[0]), 1u);
    }
    EXPECT_EQ(systems, (std::set<int>{0, b.systems[0]}));
}

INSTANTIATE_TEST_SUITE_P(ShapesAndLevels, GeneratedBlank,
                         ::testing::Values(Case{"flat", 1, 3, 0}, Case{"flat", 2, 5, 10}, Case{"cup", 1, 7, 4},
                                           Case{"cup", 2, 4, 10}, Case{"hat", 1, 6, 10}, Case{"hat", 2, 3, 4}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return std::string(param.param.shape) + "_levels" + std::to_string(param.param.levels);
                         });

// On a flat sheet of 8 mm cells, one-level hanging nodes sit on 8 mm edges and
// two-level ones on 4 mm edges.
TEST(GeneratedBlankRefinement, LevelsNestAsDeepAsAsked)
{
    ScratchDir dir("genblank");
    const std::pair<int, std::set<long>> rows[] = {{2, {4000, 8000}}, {1, {8000}}, {0, {}}};
    for (const auto& [levels, expected] : rows) {
        const ParsedBlank b = GenerateAndParse(dir, "flat.dynain", "--shape flat --size 8 --elements 2000 --no-state --levels " +
                                                                       std::to_string(levels));
        ExpectSoundMesh(b, false);
        std::set<long> lengths;
        for (const auto& [d, a, c] : b.adaptive)
            lengths.insert(std::lround(Distance(b.nodeAt.at(a), b.nodeAt.at(c)) * 1000.0));
        EXPECT_EQ(lengths, expected) << "levels " << levels;
    }
}

// Whole cells of whole sizes put every node on a lattice of a quarter cell,
// exactly; bending the sheet changes the heights only, and keeps the mesh.
TEST(GeneratedBlankLattice, WholeCellsLieOnTheLatticeAndBendingKeepsThePlanView)
{
    ScratchDir dir("genblank");
    const std::string args = "--shape flat --size 10 --cells 10x6 --levels 2 --seed 3";
    const ParsedBlank flat = GenerateAndParse(dir, "lattice.dynain", args);
    ExpectSoundMesh(flat, true);
    std::set<int> hanging;
    for (const auto& [d, a, c] : flat.adaptive)
        hanging.insert(d);
    EXPECT_FALSE(hanging.empty());
    Point high{0.0, 0.0, 0.0};
    for (const auto& [id, p] : flat.nodes) {
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(p[k], k == 2 ? 0.0 : 2.5 * std::round(p[k] / 2.5)) << "node " << id;
            high[k] = std::max(high[k], p[k]);
        }
    }
    EXPECT_EQ(high, (Point{100.0, 60.0, 0.0}));
    for (const std::string bend : {"cylinder", "dome"}) {
        SCOPED_TRACE(bend);
        const ParsedBlank b = GenerateAndParse(dir, bend + ".dynain", args + " --bend " + bend);
        ExpectSoundMesh(b, true);
        ASSERT_EQ(b.nodes.size(), flat.nodes.size());
        ASSERT_EQ(b.elements.size(), flat.elements.size());
        for (std::size_t k = 0; k < b.elements.size(); ++k)
            EXPECT_EQ(b.elements[k].nodes, flat.elements[k].nodes);
        // The surface rises from the middle by a tenth of the half width
        // (half diagonal) to the edge, and a cylinder's height follows x alone.
        const double rise = bend == "cylinder" ? 5.0 : 0.1 * std::hypot(50.0, 30.0);
        std::map<double, double> heightAt;
        for (const auto& [id, p] : b.nodes) {
            const Point& q = flat.nodeAt.at(id);
            EXPECT_EQ(p[0], q[0]);
            EXPECT_EQ(p[1], q[1]);
            if (p[0] == 0 && p[1] == 0) {
                EXPECT_NEAR(p[2], rise, 1e-8) << "the corner";
            }
            if (hanging.count(id))
                continue;
            EXPECT_GE(p[2], 0.0);
            EXPECT_LE(p[2], rise + 1e-9);
            if (bend == "cylinder" && !heightAt.emplace(p[0], p[2]).second) {
                EXPECT_EQ(heightAt[p[0]], p[2]) << "node " << id;
            }
        }
    }
}

TEST(GeneratedBlankRuns, SameArgumentsSameBytesOtherSeedOtherBytes)
{
    ScratchDir dir("genblank");
    for (const char* shape : {"flat", "cup", "hat"}) {
        const std::string args = std::string("--shape ") + shape + " --elements 1500 --nhisv 10";
        ASSERT_EQ(Generate(args + " -o '" + dir.file("a.dynain") + "'"), 0);
        ASSERT_EQ(Generate(args + " -o '" + dir.file("b.dynain") + "'"), 0);
        ASSERT_EQ(Generate(args + " --seed 2 -o '" + dir.file("c.dynain") + "'"), 0);
        const std::string a = ReadFile(dir.file("a.dynain"));
        EXPECT_GT(a.size(), 100000u);
        EXPECT_EQ(a, ReadFile(dir.file("b.dynain"))) << shape;
        EXPECT_NE(a, ReadFile(dir.file("c.dynain"))) << shape;
    }
}

TEST(GeneratedBlankRuns, HelpNamesEveryOptionAndBadValuesAreRefused)
{
    ScratchDir dir("genblank");
    ASSERT_EQ(Generate("--help", dir.file("help.txt")), 0);
    const std::string help = ReadFile(dir.file("help.txt"));
    for (const char* option : {"--shape", "--elements", "--levels", "--nthick", "--nhisv", "--seed", "--size",
                               "--cells", "--bend", "--thickness", "--no-state", "--deck", "--output"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (const char* bad : {"--nthick 8", "--nhisv 5", "--shape dome", "--frobnicate 1", "--shape cup --cells 10x6",
                            "--shape flat --bend saddle", "--shape flat --cells 10"})
        EXPECT_EQ(Generate(bad), 2) << bad;
}

// The cards of a deck, as keyword -> data lines (comments left out).
std::multimap<std::string, std::vector<std::string>> Cards(const std::string& text)
{
    std::multimap<std::string, std::vector<std::string>> cards;
    std::istringstream in(text);
    std::vector<std::string>* current = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '$')
            continue;
        if (line[0] == '*')
            current = &cards.emplace(line, std::vector<std::string>{})->second;
        else if (current)
            current->push_back(line);
    }
    return cards;
}

TEST(GeneratedDecks, IncludeTheBlankAndNameItsParts)
{
    for (const std::string kind : {"anneal", "trim2d"}) {
        SCOPED_TRACE(kind);
        ScratchDir dir("genblank");
        const ParsedBlank b = GenerateAndParse(dir, "hat.dynain", "--shape hat --elements 1000 --deck " + kind);
        const auto cards = Cards(ReadFile(dir.file("hat_" + kind + ".dyn")));
        ASSERT_EQ(cards.count("*INCLUDE"), 1u);
        EXPECT_EQ(cards.find("*INCLUDE")->second, std::vector<std::string>{"hat.dynain"});
        EXPECT_EQ(cards.count("*KEYWORD_ID"), 1u);

        std::set<int> parts;
        for (const Element& e : b.elements)
            parts.insert(e.part);
        const auto sets = cards.equal_range("*SET_PART_LIST");
        ASSERT_NE(sets.first, sets.second);
        for (auto it = sets.first; it != sets.second; ++it) {
            ASSERT_EQ(it->second.size(), 2u);
            std::istringstream ids(it->second[1]);
            for (int id = 0; ids >> id;)
                EXPECT_EQ(parts.count(id), 1u) << "names unknown id " << id;
        }
        if (kind == "anneal") {
            EXPECT_EQ(cards.count("*CONTROL_ANNEAL"), 2u);
            continue;
        }
        // A closed curve inside the blank's extent in x and y.
        for (const char* card : {"*ELEMENT_TRIM", "*PART", "*SECTION_SHELL", "*DEFINE_VECTOR"})
            EXPECT_GE(cards.count(card), 1u) << card;
        const auto curve = cards.find("*DEFINE_CURVE_TRIM");
        ASSERT_NE(curve, cards.end());
        ASSERT_GT(curve->second.size(), 10u);
        EXPECT_EQ(curve->second[1], curve->second.back()) << "closed";
        Point low{1e300, 1e300, 0}, high{-1e300, -1e300, 0};
        for (const auto& [id, p] : b.nodes)
            for (std::size_t k = 0; k < 2; ++k) {
                low[k] = std::min(low[k], p[k]);
                high[k] = std::max(high[k], p[k]);
            }
        for (std::size_t k = 1; k < curve->second.size(); ++k) {
            double x = 0.0;
            double y = 0.0;
            ASSERT_EQ(std::sscanf(curve->second[k].c_str(), "%lf%lf", &x, &y), 2);
            EXPECT_TRUE(x > low[0] && x < high[0] && y > low[1] && y < high[1]) << x << " " << y;
        }
    }
}

}  // namespace
