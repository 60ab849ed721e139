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
    std::vector<std::string> reals16;
    std::vector<std::string> reals10;
};

int Int(const std::string& line, std::size_t from, std::size_t width)
{
    return std::atoi(line.substr(from, width).c_str());
}

// Splits a line into fixed fields, each kept for the format check.
std::vector<double> Reals(const std::string& line, std::size_t width, std::vector<std::string>& keep)
{
    std::vector<double> values;
    for (std::size_t at = 0; at < line.size(); at += width) {
        keep.push_back(line.substr(at, width));
        values.push_back(std::strtod(keep.back().c_str(), nullptr));
    }
    return values;
}

ParsedBlank Parse(const std::string& path)
{
    ParsedBlank b;
    std::istringstream in(ReadFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::string section;
    int nthick = 0;
    int nhisv = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        const auto fault = [&](const std::string& what) { b.problems.push_back(what + ": " + line); };
        if (line.empty() || line[0] == '$')
            continue;
        if (line[0] == '*') {
            section = line;
            continue;
        }
        if (section == "*NODE") {
            if (line.size() != 56)
                fault("node line length");
            const std::vector<double> x = Reals(line.substr(8), 16, b.reals16);
            const Point p{x[0], x[1], x[2]};
            b.nodes.emplace_back(Int(line, 0, 8), p);
            b.nodeAt[Int(line, 0, 8)] = p;
        } else if (section == "*BOUNDARY_SPC_NODE") {
            std::array<int, 8> spc{};
            for (std::size_t f = 0; f < 8; ++f)
                spc[f] = Int(line, 10 * f, 10);
            b.spcs.push_back(spc);
        } else if (section == "*DEFINE_COORDINATE_SYSTEM") {
            if (line.size() <= 69)
                fault("coordinate system card too short");
            b.systems.push_back(Int(line, 0, 10));
            Reals(line.substr(10), 10, b.reals10);
            Reals(lines[++k], 10, b.reals10);
        } else if (section == "*CONSTRAINED_ADAPTIVITY") {
            b.adaptive.push_back({Int(line, 0, 10), Int(line, 10, 10), Int(line, 20, 10)});
        } else if (section == "*ELEMENT_SHELL_THICKNESS") {
            Element e;
            e.id = Int(line, 0, 8);
            e.part = Int(line, 8, 8);
            for (std::size_t n = 0; n < 4; ++n)
                e.nodes[n] = Int(line, 16 + 8 * n, 8);
            b.elements.push_back(e);
            const std::string& card = lines[++k];
            if (card.size() != 64)
                fault("thickness card length");
            for (const double t : Reals(card, 16, b.reals16))
                if (!(t > 0.5 && t < 1.5))
                    fault("thickness");
        } else if (section == "*INITIAL_STRESS_SHELL") {
            if (line.size() != 50 || Int(line, 10, 10) != 1 || Int(line, 40, 10) != 0)
                fault("stress header");
            ++b.stressRecords[Int(line, 0, 10)];
            nthick = Int(line, 20, 10);
            nhisv = Int(line, 30, 10);
            for (int point = 0; point < nthick; ++point) {
                const std::string& stress = lines[++k];
                if (stress.size() != 80)
                    fault("stress line length");
                const std::vector<double> v = Reals(stress, 10, b.reals10);
                if (std::fabs(v[0]) >= 1.0 || v[7] < 0.0 || v[7] > 0.4)
                    fault("integration point or plastic strain");
                for (std::size_t s = 1; s < 7; ++s)
                    if (std::fabs(v[s]) > 600.0)
                        fault("stress beyond 600");
                for (int left = nhisv; left > 0; left -= 8) {
                    const std::string& history = lines[++k];
                    if (history.size() != 10u * static_cast<std::size_t>(std::min(left, 8)))
                        fault("history line length");
                    Reals(history, 10, b.reals10);
                }
            }
        } else if (section == "*INITIAL_STRAIN_SHELL") {
            if (line.size() != 10)
                fault("strain header");
            ++b.strainRecords[Int(line, 0, 10)];
            for (int side = 0; side < 2; ++side) {
                const std::string& strain = lines[++k];
                if (strain.size() != 60)
                    fault("strain line length");
                Reals(strain, 10, b.reals10);
            }
        } else {
            fault("data outside a known section");
        }
    }
    return b;
}

double Distance(const Point& a, const Point& b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

std::vector<int> Corners(const Element& e)
{
    return e.triangle() ? std::vector<int>{e.nodes[0], e.nodes[1], e.nodes[2]}
                        : std::vector<int>{e.nodes.begin(), e.nodes.end()};
}

// Directed edges: on a consistently oriented mesh each appears once at most.
std::map<std::pair<int, int>, int> DirectedEdges(const ParsedBlank& b)
{
    std::map<std::pair<int, int>, int> edges;
    for (const Element& e : b.elements) {
        const std::vector<int> c = Corners(e);
        for (std::size_t k = 0; k < c.size(); ++k)
            ++edges[{c[k], c[(k + 1) % c.size()]}];
    }
    return edges;
}

void ExpectWellFormed(const ParsedBlank& b)
{
    for (const std::string& problem : b.problems)
        ADD_FAILURE() << problem;
    ASSERT_FALSE(b.nodes.empty());
    ASSERT_FALSE(b.elements.empty());
}

void ExpectUniqueIdsAndEveryNodeExists(const ParsedBlank& b)
{
    EXPECT_EQ(b.nodeAt.size(), b.nodes.size()) << "repeated node id";
    std::set<int> elementIds;
    for (const Element& e : b.elements) {
        EXPECT_TRUE(elementIds.insert(e.id).second) << "repeated element id " << e.id;
        const std::vector<int> c = Corners(e);
        EXPECT_EQ(std::set<int>(c.begin(), c.end()).size(), c.size()) << "element " << e.id << " repeats a node";
        for (const int n : c)
            EXPECT_EQ(b.nodeAt.count(n), 1u) << "element " << e.id << " names missing node " << n;
    }
}

void ExpectHangingNodesAtEdgeMiddles(const ParsedBlank& b)
{
    const auto directed = DirectedEdges(b);
    const auto uses = [&](int p, int q) {
        const auto count = [&](int x, int y) {
            const auto found = directed.find({x, y});
            return found == directed.end() ? 0 : found->second;
        };
        return count(p, q) + count(q, p);
    };
    std::map<int, int> elementsAtNode;
    for (const Element& e : b.elements)
        for (const int n : Corners(e))
            ++elementsAtNode[n];
    std::set<int> dependents;
    for (const auto& [d, a, c] : b.adaptive) {
        EXPECT_TRUE(dependents.insert(d).second) << "node " << d << " constrained twice";
        ASSERT_TRUE(b.nodeAt.count(d) && b.nodeAt.count(a) && b.nodeAt.count(c));
        const Point& pd = b.nodeAt.at(d);
        const Point& pa = b.nodeAt.at(a);
        const Point& pc = b.nodeAt.at(c);
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(pd[k], 0.5 * (pa[k] + pc[k]), 1e-8 * (1.0 + std::fabs(pd[k]))) << "node " << d;
        EXPECT_EQ(uses(a, c), 1) << "the coarse edge " << a << "-" << c << " belongs to one element";
        EXPECT_EQ(uses(d, a), 1) << "fine edge " << d << "-" << a;
        EXPECT_EQ(uses(d, c), 1) << "fine edge " << d << "-" << c;
        EXPECT_EQ(elementsAtNode[d], 2) << "the two fine elements share node " << d;
    }
}

void ExpectConsistentOrientation(const ParsedBlank& b)
{
    for (const auto& [edge, count] : DirectedEdges(b))
        EXPECT_EQ(count, 1) << "edge " << edge.first << "-" << edge.second << " runs the same way twice";
}

void ExpectOneStressAndStrainRecordPerElement(const ParsedBlank& b)
{
    EXPECT_EQ(b.stressRecords.size(), b.elements.size());
    EXPECT_EQ(b.strainRecords.size(), b.elements.size());
    for (const Element& e : b.elements) {
        EXPECT_EQ(b.stressRecords.count(e.id) ? b.stressRecords.at(e.id) : 0, 1) << "element " << e.id;
        EXPECT_EQ(b.strainRecords.count(e.id) ? b.strainRecords.at(e.id) : 0, 1) << "element " << e.id;
    }
}

void ExpectPrintfForms(const ParsedBlank& b)
{
    const auto Printed = [](const std::string& field, int precision) {
        return testutil::PrintfField(std::strtod(field.c_str(), nullptr), static_cast<int>(field.size()), precision);
    };
    int wrong = 0;
    for (const std::string& field : b.reals16)
        if (field != Printed(field, 9) && ++wrong < 5)
            ADD_FAILURE() << "'" << field << "' is printed '" << Printed(field, 9) << "'";
    for (const std::string& field : b.reals10)
        if (field != Printed(field, 3) && ++wrong < 5)
            ADD_FAILURE() << "'" << field << "' is printed '" << Printed(field, 3) << "'";
    EXPECT_EQ(wrong, 0);
}

void ExpectEdgeLengthsWithin(const ParsedBlank& b, double low, double high)
{
    for (const Element& e : b.elements) {
        const std::vector<int> c = Corners(e);
        for (std::size_t k = 0; k < c.size(); ++k) {
            const double length = Distance(b.nodeAt.at(c[k]), b.nodeAt.at(c[(k + 1) % c.size()]));
            EXPECT_TRUE(length >= low && length <= high) << "element " << e.id << " edge " << length;
        }
    }
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
    const std::string path = dir.file("blank.dynain");
    ASSERT_EQ(Generate(std::string("--shape ") + c.shape + " --elements 3000 --levels " + std::to_string(c.levels) +
                       " --nthick " + std::to_string(c.nthick) + " --nhisv " + std::to_string(c.nhisv) +
                       " --seed 5 -o '" + path + "'"),
              0);
    const ParsedBlank b = Parse(path);
    ExpectWellFormed(b);
    ExpectUniqueIdsAndEveryNodeExists(b);
    ExpectHangingNodesAtEdgeMiddles(b);
    ExpectConsistentOrientation(b);
    ExpectOneStressAndStrainRecordPerElement(b);
    ExpectPrintfForms(b);
    ExpectEdgeLengthsWithin(b, 0.4, 12.0);

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
std::set<long> ConstrainedEdgeLengths(const std::string& args)
{
    ScratchDir dir("genblank");
    const std::string path = dir.file("flat.dynain");
    EXPECT_EQ(Generate("--shape flat --size 8 --elements 2000 --no-state " + args + " -o '" + path + "'"), 0);
    const ParsedBlank b = Parse(path);
    std::set<long> lengths;
    for (const auto& [d, a, c] : b.adaptive)
        lengths.insert(std::lround(Distance(b.nodeAt.at(a), b.nodeAt.at(c)) * 1000.0));
    EXPECT_TRUE(b.stressRecords.empty());
    return lengths;
}

TEST(GeneratedBlankRefinement, LevelsNestAsDeepAsAsked)
{
    EXPECT_EQ(ConstrainedEdgeLengths("--levels 2"), (std::set<long>{4000, 8000}));
    EXPECT_EQ(ConstrainedEdgeLengths("--levels 1"), (std::set<long>{8000}));
    EXPECT_TRUE(ConstrainedEdgeLengths("--levels 0").empty());
}

// Whole cells of whole sizes put every node on a lattice of a quarter cell,
// exactly; bending the sheet changes the heights only, and keeps the mesh.
TEST(GeneratedBlankLattice, WholeCellsLieOnTheLatticeAndBendingKeepsThePlanView)
{
    ScratchDir dir("genblank");
    std::map<std::string, ParsedBlank> blanks;
    for (const std::string bend : {"", "cylinder", "dome"}) {
        const std::string path = dir.file("lattice" + bend + ".dynain");
        ASSERT_EQ(Generate("--shape flat --size 10 --cells 10x6 --levels 2 --seed 3" + (bend.empty() ? "" : " --bend " + bend) +
                           " -o '" + path + "'"),
                  0);
        blanks[bend] = Parse(path);
        const ParsedBlank& b = blanks[bend];
        ExpectWellFormed(b);
        ExpectHangingNodesAtEdgeMiddles(b);
        ExpectConsistentOrientation(b);
    }
    const ParsedBlank& flat = blanks[""];
    std::set<int> hanging;
    for (const auto& [d, a, c] : flat.adaptive)
        hanging.insert(d);
    EXPECT_FALSE(hanging.empty());
    double high[2] = {0.0, 0.0};
    for (const auto& [id, p] : flat.nodes) {
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(p[static_cast<std::size_t>(k)], 2.5 * std::round(p[static_cast<std::size_t>(k)] / 2.5)) << "node " << id;
            high[k] = std::max(high[k], p[static_cast<std::size_t>(k)]);
        }
        EXPECT_EQ(p[2], 0.0);
    }
    EXPECT_EQ(high[0], 100.0);
    EXPECT_EQ(high[1], 60.0);
    for (const std::string bend : {"cylinder", "dome"}) {
        const ParsedBlank& b = blanks[bend];
        ASSERT_EQ(b.nodes.size(), flat.nodes.size()) << bend;
        ASSERT_EQ(b.elements.size(), flat.elements.size()) << bend;
        for (std::size_t k = 0; k < b.elements.size(); ++k)
            EXPECT_EQ(b.elements[k].nodes, flat.elements[k].nodes) << bend;
        // The surface rises from the middle by a tenth of the half width
        // (half diagonal) to the edge, and a cylinder's height follows x alone.
        const double rise = bend == "cylinder" ? 5.0 : 0.1 * std::hypot(50.0, 30.0);
        std::map<double, double> heightAt;
        for (const auto& [id, p] : b.nodes) {
            const Point& q = flat.nodeAt.at(id);
            EXPECT_EQ(p[0], q[0]);
            EXPECT_EQ(p[1], q[1]);
            if (hanging.count(id))
                continue;
            EXPECT_GE(p[2], 0.0);
            EXPECT_LE(p[2], rise + 1e-9);
            if (bend == "cylinder" && !heightAt.emplace(p[0], p[2]).second) {
                EXPECT_EQ(heightAt[p[0]], p[2]) << "node " << id;
            }
        }
        const auto corner = std::find_if(b.nodes.begin(), b.nodes.end(), [](const auto& n) { return n.second[0] == 0 && n.second[1] == 0; });
        ASSERT_NE(corner, b.nodes.end());
        EXPECT_NEAR(corner->second[2], rise, 1e-8) << bend;
    }
    EXPECT_EQ(Generate("--shape cup --cells 10x6"), 2);
    EXPECT_EQ(Generate("--shape flat --bend saddle"), 2);
    EXPECT_EQ(Generate("--shape flat --cells 10"), 2);
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
    EXPECT_EQ(Generate("--nthick 8"), 2);
    EXPECT_EQ(Generate("--nhisv 5"), 2);
    EXPECT_EQ(Generate("--shape dome"), 2);
    EXPECT_EQ(Generate("--frobnicate 1"), 2);
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
        ScratchDir dir("genblank");
        ASSERT_EQ(Generate("--shape hat --elements 1000 --deck " + kind + " -o '" + dir.file("part.dynain") + "'"), 0);
        const std::string deck = ReadFile(dir.file("part_" + kind + ".dyn"));
        ASSERT_FALSE(deck.empty()) << kind;
        const auto cards = Cards(deck);
        ASSERT_EQ(cards.count("*INCLUDE"), 1u);
        EXPECT_EQ(cards.find("*INCLUDE")->second, std::vector<std::string>{"part.dynain"});
        EXPECT_EQ(cards.count("*KEYWORD_ID"), 1u);

        const ParsedBlank b = Parse(dir.file("part.dynain"));
        std::set<int> parts;
        for (const Element& e : b.elements)
            parts.insert(e.part);
        const auto sets = cards.equal_range("*SET_PART_LIST");
        ASSERT_NE(sets.first, sets.second);
        for (auto it = sets.first; it != sets.second; ++it) {
            ASSERT_EQ(it->second.size(), 2u);
            std::istringstream ids(it->second[1]);
            for (int id = 0; ids >> id;)
                EXPECT_EQ(parts.count(id), 1u) << kind << " names part " << id;
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
        double low[2] = {1e300, 1e300};
        double high[2] = {-1e300, -1e300};
        for (const auto& [id, p] : b.nodes)
            for (int k = 0; k < 2; ++k) {
                low[k] = std::min(low[k], p[static_cast<std::size_t>(k)]);
                high[k] = std::max(high[k], p[static_cast<std::size_t>(k)]);
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
