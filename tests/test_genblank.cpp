// The blank generator's files: their structure read by trimcheck's reader
// (nothing shared with the program's), their layout, which the program
// reads byte-exactly, checked here column by column.
#include "test_helpers.h"
#include "test_trimcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using namespace testutil;
using trimcheck::Col;
using trimcheck::Dynain;
using trimcheck::P3;

namespace {

// Whether a line is `skip` columns (the integer fields the reader takes by
// column), then `reals` real fields as printf writes them (the form the
// program writes its own in), and nothing more.
bool LaidOut(const std::string& l, std::size_t skip, int reals = 0, std::size_t width = 10)
{
    std::string expected = l.substr(0, skip);
    for (int i = 0; i < reals; ++i)
        expected += testutil::PrintfField(trimcheck::ColD(l, expected.size(), width), static_cast<int>(width), width == 16 ? 9 : 3);
    return l.size() >= skip && l == expected;
}

// What trimcheck's reader takes on trust: the layout of every line, header
// fields, and how many records each card has (the reader keeps one per id).
struct Layout {
    std::vector<std::string> faults;
    std::map<std::string, int> records;  // card -> records
    int system = 0;  // the id of the local coordinate system
};

Layout ReadLayout(const std::string& text)
{
    Layout r;
    std::vector<std::pair<std::string, std::string>> lines;  // card, data line
    std::istringstream in(text);
    std::string card;
    for (std::string l; std::getline(in, l);)
        if (!l.empty() && l[0] == '*') card = l;
        else if (!l.empty() && l[0] != '$') lines.emplace_back(card, l);
    std::size_t k = 0;
    // The line laid out as LaidOut says, and right in what else it must be.
    const auto laid = [&](const std::string& l, std::size_t skip, int reals = 0, std::size_t width = 10, bool right = true) {
        if (!right || !LaidOut(l, skip, reals, width)) r.faults.push_back(lines[k].first + ": " + l);
    };
    const auto next = [&]() -> const std::string& { return lines.at(++k).second; };
    for (; k < lines.size(); ++k) {
        const auto& [section, l] = lines[k];
        ++r.records[section];
        if (section == "*NODE") laid(l, 8, 3, 16);
        else if (section == "*BOUNDARY_SPC_NODE") laid(l, 80);
        else if (section == "*CONSTRAINED_ADAPTIVITY") laid(l, 30);
        else if (section == "*DEFINE_COORDINATE_SYSTEM") {
            r.system = Col(l, 0, 10);
            laid(l, 10, 6);
            laid(next(), 0, 3);
        } else if (section == "*ELEMENT_SHELL_THICKNESS") {
            // Only a triangle repeats a node: its third, as its fourth.
            const std::set<int> nodes{Col(l, 16, 8), Col(l, 24, 8), Col(l, 32, 8), Col(l, 40, 8)};
            laid(l, 48, 0, 10, nodes.size() == (Col(l, 32, 8) == Col(l, 40, 8) ? 3u : 4u));
            laid(next(), 0, 4, 16);
        } else if (section == "*INITIAL_STRESS_SHELL") {
            laid(l, 50, 0, 10, Col(l, 10, 10) == 1 && Col(l, 40, 10) == 0);
            // At each point a line of the point, six stresses and the plastic
            // strain, then the history variables, 8 a line.
            for (int point = Col(l, 20, 10); point > 0; --point)
                for (int left = Col(l, 30, 10) + 8; left > 0; left -= 8) laid(next(), 0, std::min(left, 8));
        } else if (section == "*INITIAL_STRAIN_SHELL") {
            laid(l, 10);
            for (int side = 0; side < 2; ++side) laid(next(), 0, 6);
        } else {
            r.faults.push_back("data outside a known card: " + l);
        }
    }
    return r;
}

// What every generated mesh must be, beyond trimcheck's sound mesh (unique
// ids, nodes named and used, each hanging node at the middle of a coarse edge
// one element owns): laid out as the cards define, one node per id, with
// state one stress and one strain record per element, edges of a sane
// length, each directed edge used once (one orientation, no fold), each
// hanging node between two fine elements that halve the coarse edge, and
// boundary constraints in the global system and the one local system, which
// is defined.
void ExpectFormedMesh(const Dynain& d, Layout layout, bool state, double shortest, double longest)
{
    for (std::size_t k = 0; k < std::min<std::size_t>(layout.faults.size(), 5); ++k) ADD_FAILURE() << layout.faults[k];
    ASSERT_FALSE(d.shells.empty());
    trimcheck::ExpectSoundMesh(d, d);
    EXPECT_EQ(layout.records["*NODE"], static_cast<int>(d.nodes.size())) << "repeated node id";
    const int records = state ? static_cast<int>(d.shells.size()) : 0;
    EXPECT_TRUE(layout.records["*INITIAL_STRESS_SHELL"] == records && layout.records["*INITIAL_STRAIN_SHELL"] == records)
        << "one stress and one strain record per element";
    std::map<std::pair<int, int>, int> directed;
    std::map<int, int> elementsAt;
    for (const trimcheck::Shell& s : d.shells) {
        EXPECT_TRUE(!state || (d.stress.count(s.id) && d.strain.count(s.id))) << "element " << s.id << " lacks a record";
        for (std::size_t k = 0; k < s.nodes.size(); ++k) {
            const int u = s.nodes[k], v = s.nodes[(k + 1) % s.nodes.size()];
            ++directed[{u, v}];
            ++elementsAt[u];
            const P3 &a = d.nodes.at(u), &b = d.nodes.at(v);
            const double length = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
            EXPECT_TRUE(length >= shortest && length <= longest) << "element " << s.id << " edge " << length;
        }
    }
    for (const auto& [edge, count] : directed)
        EXPECT_EQ(count, 1) << "edge " << edge.first << "-" << edge.second << " runs the same way twice";
    const auto uses = [&directed](int p, int q) { return directed.count({p, q}) + directed.count({q, p}); };
    std::set<int> dependents;
    for (const auto& [h, a, c] : d.adaptive) {
        EXPECT_TRUE(dependents.insert(h).second) << "node " << h << " constrained twice";
        EXPECT_TRUE(uses(h, a) == 1 && uses(h, c) == 1 && elementsAt[h] == 2)
            << "hanging node " << h << " lies between two fine elements, each with one half of the coarse edge";
    }
    EXPECT_EQ(layout.records["*DEFINE_COORDINATE_SYSTEM"], 1);
    std::set<int> systems;
    for (const auto& [node, rest] : d.spc) {
        systems.insert(Col(rest, 0, 10));
        EXPECT_EQ(d.nodes.count(node), 1u) << "boundary constraint on missing node " << node;
    }
    EXPECT_EQ(systems, (std::set<int>{0, layout.system}));
}

// Runs the generator and expects its blank formed, with edges between the
// lengths given.
Dynain Generate(const ScratchDir& dir, const std::string& name, const std::string& args, double lo = 0, double hi = 1e300)
{
    SCOPED_TRACE(args);
    const testutil::RunResult run = RunTool(dir, CORVEX_GENBLANK, args + " -o '" + dir.file(name) + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string text = ReadFile(dir.file(name));
    const Dynain d = trimcheck::Parse(text);
    ExpectFormedMesh(d, ReadLayout(text), args.find("--no-state") == std::string::npos, lo, hi);
    return d;
}

// Every shape at one and two levels, with state of several sizes.
TEST(GeneratedBlank, IsAConsistentFormedMesh)
{
    ScratchDir dir("genblank");
    const std::tuple<const char*, int, int, int> cases[] = {{"flat", 1, 3, 0}, {"flat", 2, 5, 10}, {"cup", 1, 7, 4},
                                                            {"cup", 2, 4, 10}, {"hat", 1, 6, 10}, {"hat", 2, 3, 4}};
    for (const auto& [shape, levels, nthick, nhisv] : cases) {
        const std::string args = std::string("--shape ") + shape + " --elements 3000 --levels " + std::to_string(levels) +
                                 " --nthick " + std::to_string(nthick) + " --nhisv " + std::to_string(nhisv) + " --seed 5";
        SCOPED_TRACE(args);
        const Dynain d = Generate(dir, "blank.dynain", args, 0.4, 12.0);
        EXPECT_TRUE(d.shells.size() > 2000u && d.shells.size() < 4500u) << d.shells.size() << " elements";
        EXPECT_FALSE(d.adaptive.empty());
        EXPECT_TRUE(!d.nodes.empty() && d.nodes.begin()->first > 1) << "ids do not start at 1";
        std::set<int> parts;
        int triangles = 0;
        for (const trimcheck::Shell& s : d.shells) parts.insert(s.pid), triangles += s.nodes.size() == 3 ? 1 : 0;
        EXPECT_GE(parts.size(), 3u);
        EXPECT_TRUE(triangles > 0 && triangles < static_cast<int>(d.shells.size()) / 5) << triangles << ": mostly quadrilaterals";
    }
}

// Flat sheets of whole cells. On 8 mm cells, one-level hanging nodes sit on
// 8 mm edges and two-level ones on 4 mm edges. Whole cells of whole sizes put
// every node on a lattice of a quarter cell, exactly; bending the sheet
// changes the heights only, and keeps the mesh.
TEST(GeneratedFlatSheets, LevelsNestAsDeepAsAskedOnALatticeThatBendingKeepsInPlan)
{
    ScratchDir dir("genblank");
    const std::pair<int, std::set<long>> rows[] = {{2, {4000, 8000}}, {1, {8000}}, {0, {}}};
    for (const auto& [levels, expected] : rows) {
        const Dynain d = Generate(dir, "flat.dynain", "--shape flat --size 8 --elements 2000 --no-state --levels " +
                                                          std::to_string(levels));
        std::set<long> lengths;
        for (const auto& [h, a, c] : d.adaptive)
            lengths.insert(std::lround(1000.0 * std::hypot(d.nodes.at(a)[0] - d.nodes.at(c)[0], d.nodes.at(a)[1] - d.nodes.at(c)[1])));
        EXPECT_EQ(lengths, expected) << "levels " << levels;
    }

    const std::string args = "--shape flat --size 10 --cells 10x6 --levels 2 --seed 3";
    const Dynain flat = Generate(dir, "lattice.dynain", args);
    std::set<int> hanging;
    for (const auto& c : flat.adaptive) hanging.insert(c[0]);
    EXPECT_FALSE(hanging.empty());
    P3 high{0.0, 0.0, 0.0};
    for (const auto& [id, p] : flat.nodes)
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(p[k], k == 2 ? 0.0 : 2.5 * std::round(p[k] / 2.5)) << "node " << id;
            high[k] = std::max(high[k], p[k]);
        }
    EXPECT_EQ(high, (P3{100.0, 60.0, 0.0}));
    for (const std::string bend : {"cylinder", "dome"}) {
        SCOPED_TRACE(bend);
        const Dynain b = Generate(dir, bend + ".dynain", args + " --bend " + bend);
        ASSERT_EQ(b.nodes.size(), flat.nodes.size());
        EXPECT_TRUE(std::equal(b.shells.begin(), b.shells.end(), flat.shells.begin(), flat.shells.end(),
                               [](const auto& x, const auto& y) { return x.nodes == y.nodes; }));
        // The surface rises from the middle by a tenth of the half width
        // (half diagonal) to the edge, and a cylinder's height follows x alone.
        const double rise = bend == "cylinder" ? 5.0 : 0.1 * std::hypot(50.0, 30.0);
        std::map<double, double> heightAt;
        for (const auto& [id, p] : b.nodes) {
            const P3& q = flat.nodes.at(id);
            EXPECT_TRUE(p[0] == q[0] && p[1] == q[1]) << "node " << id << " moved in plan";
            EXPECT_TRUE(p[0] != 0 || p[1] != 0 || std::fabs(p[2] - rise) < 1e-8) << "the corner at " << p[2];
            if (hanging.count(id)) continue;
            EXPECT_TRUE(p[2] >= 0.0 && p[2] <= rise + 1e-9) << "node " << id << " at height " << p[2];
            EXPECT_TRUE(bend != "cylinder" || heightAt.emplace(p[0], p[2]).first->second == p[2]) << "node " << id;
        }
    }
}

TEST(GeneratedBlankRuns, SameArgumentsSameBytesOtherSeedOtherBytesHelpAndBadValues)
{
    ScratchDir dir("genblank");
    for (const char* shape : {"flat", "cup", "hat"}) {
        const std::string args = std::string("--shape ") + shape + " --elements 1500 --nhisv 10";
        const auto text = [&](const std::string& extra) {
            EXPECT_EQ(RunTool(dir, CORVEX_GENBLANK, args + extra + " -o out.dynain").status, 0);
            return ReadFile(dir.file("out.dynain"));
        };
        const std::string a = text("");
        EXPECT_GT(a.size(), 100000u);
        EXPECT_EQ(a, text("")) << shape;
        EXPECT_NE(a, text(" --seed 2")) << shape;
    }
    const testutil::RunResult help = RunTool(dir, CORVEX_GENBLANK, "--help");
    ASSERT_EQ(help.status, 0);
    for (const char* option : {"--shape", "--elements", "--levels", "--nthick", "--nhisv", "--seed", "--size",
                               "--cells", "--bend", "--thickness", "--no-state", "--deck", "--output"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    for (const char* bad : {"--nthick 8", "--nhisv 5", "--shape dome", "--frobnicate 1", "--shape cup --cells 10x6",
                            "--shape flat --bend saddle", "--shape flat --cells 10"})
        EXPECT_EQ(RunTool(dir, CORVEX_GENBLANK, bad).status, 2) << bad;
}

// The cards of a deck, as keyword -> data lines (comments left out).
std::multimap<std::string, std::vector<std::string>> Cards(const std::string& text)
{
    std::multimap<std::string, std::vector<std::string>> cards;
    std::istringstream in(text);
    std::vector<std::string>* current = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '*') current = &cards.emplace(line, std::vector<std::string>{})->second;
        else if (current && !line.empty() && line[0] != '$') current->push_back(line);
    }
    return cards;
}

// The decks name the blank's parts; the cutting deck's curve is closed and
// lies inside the blank's extent in x and y. (Other tests run both decks.)
TEST(GeneratedDecks, NameTheBlanksPartsAndCutInsideIt)
{
    for (const std::string kind : {"anneal", "trim2d"}) {
        SCOPED_TRACE(kind);
        ScratchDir dir("genblank");
        const Dynain b = Generate(dir, "hat.dynain", "--shape hat --elements 1000 --deck " + kind);
        const auto cards = Cards(ReadFile(dir.file("hat_" + kind + ".dyn")));
        std::set<int> parts;
        for (const trimcheck::Shell& s : b.shells) parts.insert(s.pid);
        const auto sets = cards.equal_range("*SET_PART_LIST");
        ASSERT_NE(sets.first, sets.second);
        for (auto it = sets.first; it != sets.second; ++it) {
            ASSERT_EQ(it->second.size(), 2u);
            std::istringstream ids(it->second[1]);
            for (int id = 0; ids >> id;) EXPECT_EQ(parts.count(id), 1u) << "names unknown id " << id;
        }
        EXPECT_EQ(cards.count("*CONTROL_ANNEAL"), kind == "anneal" ? 2u : 0u);
        if (kind == "anneal") continue;
        for (const char* card : {"*ELEMENT_TRIM", "*PART", "*SECTION_SHELL", "*DEFINE_VECTOR"})
            EXPECT_GE(cards.count(card), 1u) << card;
        const auto curve = cards.find("*DEFINE_CURVE_TRIM");
        ASSERT_NE(curve, cards.end());
        ASSERT_GT(curve->second.size(), 10u);
        EXPECT_EQ(curve->second[1], curve->second.back()) << "closed";
        P3 low{1e300, 1e300, 0}, high{-1e300, -1e300, 0};
        for (const auto& [id, p] : b.nodes)
            for (std::size_t k = 0; k < 2; ++k) low[k] = std::min(low[k], p[k]), high[k] = std::max(high[k], p[k]);
        for (std::size_t k = 1; k < curve->second.size(); ++k) {
            double x = 0.0, y = 0.0;
            ASSERT_EQ(std::sscanf(curve->second[k].c_str(), "%lf%lf", &x, &y), 2);
            EXPECT_TRUE(x > low[0] && x < high[0] && y > low[1] && y < high[1]) << x << " " << y;
        }
    }
}

}  // namespace
