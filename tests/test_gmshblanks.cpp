// The unstructured blanks in tests/data/gmsh, meshed by a real mesher: each is
// checked for what the cutters take for granted of any blank, and the program
// reads, anneals and trims them.
#include "test_helpers.h"
#include "test_sweeprun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using trimcheck::Dynain;
using trimcheck::P2;
using trimcheck::P3;
using trimcheck::Poly;
using trimcheck::Shell;

namespace {

namespace fs = std::filesystem;

const double kPi = 3.14159265358979323846;

std::string Folder()
{
    return std::string(CORVEX_TEST_DATA) + "/gmsh";
}

std::string PathOf(const std::string& name)
{
    return Folder() + "/" + name + ".dynain";
}

std::vector<std::string> BlankNames()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder()))
        if (entry.path().extension() == ".dynain") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int Int(const std::string& line, size_t at, size_t width)
{
    return at < line.size() ? std::atoi(line.substr(at, width).c_str()) : 0;
}

// The element cards as written. The shared reader folds a repeated node away,
// which would let a quad with a repeated corner pass for a triangle.
struct Card {
    int id = 0;
    int pid = 0;
    std::array<int, 4> nodes{};
    std::array<double, 4> thickness{};
};

std::vector<Card> ElementCards(const std::vector<std::string>& lines)
{
    std::vector<Card> cards;
    bool inside = false;
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        if (!line.empty() && line[0] == '*') inside = line == "*ELEMENT_SHELL_THICKNESS";
        if (!inside || line.empty() || line[0] == '*' || line[0] == '$' || k + 1 >= lines.size()) continue;
        Card c;
        c.id = Int(line, 0, 8);
        c.pid = Int(line, 8, 8);
        for (size_t n = 0; n < 4; ++n) c.nodes[n] = Int(line, 16 + 8 * n, 8);
        const std::string& thick = lines[++k];
        for (size_t n = 0; n < 4; ++n)
            c.thickness[n] = std::atof(thick.substr(std::min(16 * n, thick.size()), 16).c_str());
        cards.push_back(c);
    }
    return cards;
}

// What a file looks like line by line: its keywords in order, the lengths of
// each section's data lines, and every real field as it is printed.
struct Layout {
    std::vector<std::string> keywords;
    std::map<std::string, std::set<size_t>> lengths;
    std::vector<std::string> reals16;
    std::vector<std::string> reals10;
};

void Fields(const std::string& line, size_t from, size_t width, std::vector<std::string>& into)
{
    for (size_t at = from; at < line.size(); at += width) into.push_back(line.substr(at, width));
}

Layout LayoutOf(const std::vector<std::string>& lines)
{
    Layout l;
    std::string section;
    size_t recordLeft = 0;  // data lines left in the current stress or strain record
    for (const std::string& line : lines) {
        if (!line.empty() && line[0] == '*') {
            section = line;
            l.keywords.push_back(line);
            recordLeft = 0;
            continue;
        }
        if (line.empty() || line[0] == '$') continue;
        l.lengths[section].insert(line.size());
        const bool header = recordLeft == 0;
        if (section == "*NODE") {
            Fields(line, 8, 16, l.reals16);
        } else if (section == "*ELEMENT_SHELL_THICKNESS") {
            if (line.size() == 64) Fields(line, 0, 16, l.reals16);
        } else if (section == "*DEFINE_COORDINATE_SYSTEM") {
            Fields(line, line.size() > 60 ? 10 : 0, 10, l.reals10);
        } else if (section == "*INITIAL_STRESS_SHELL") {
            if (header) {
                const size_t nthick = static_cast<size_t>(Int(line, 20, 10));
                const size_t nhisv = static_cast<size_t>(Int(line, 30, 10));
                recordLeft = static_cast<size_t>(Int(line, 10, 10)) * nthick * (1 + (nhisv + 7) / 8);
            } else {
                Fields(line, 0, 10, l.reals10);
                --recordLeft;
            }
        } else if (section == "*INITIAL_STRAIN_SHELL") {
            if (header) {
                recordLeft = 2;
            } else {
                Fields(line, 0, 10, l.reals10);
                --recordLeft;
            }
        }
    }
    return l;
}

// A blank of the structured generator with the same integration points and
// history variables: the layout every blank here copies.
const Layout& GeneratorLayout()
{
    static const Layout layout = [] {
        testutil::ScratchDir dir("gmsh-reference");
        const std::string command = "'" CORVEX_GENBLANK
                                    "' --shape flat --elements 100 --levels 0 --nthick 3 --nhisv 4 -o '" +
                                    dir.file("blank.dynain") + "' > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0) std::abort();
        return LayoutOf(Lines(testutil::ReadFile(dir.file("blank.dynain"))));
    }();
    return layout;
}

double Cross(const P2& o, const P2& a, const P2& b)
{
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

double Longest(const Poly& p)
{
    double longest = 0.0;
    for (size_t i = 0; i < p.size(); ++i)
        longest = std::max(
            longest, std::hypot(p[(i + 1) % p.size()][0] - p[i][0], p[(i + 1) % p.size()][1] - p[i][1]));
    return longest;
}

class GmshBlank : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        text_ = testutil::ReadFile(PathOf(GetParam()));
        ASSERT_FALSE(text_.empty()) << PathOf(GetParam());
        lines_ = Lines(text_);
        blank_ = trimcheck::Parse(text_);
        ASSERT_FALSE(blank_.nodes.empty());
        ASSERT_FALSE(blank_.shells.empty());
    }

    std::string text_;
    std::vector<std::string> lines_;
    Dynain blank_;
};

TEST_P(GmshBlank, CopiesTheGeneratorsLayout)
{
    const Layout mine = LayoutOf(lines_);
    const Layout& reference = GeneratorLayout();
    EXPECT_EQ(mine.keywords, reference.keywords);
    EXPECT_EQ(mine.lengths, reference.lengths);
    const auto printed = [](const std::string& field, int precision) {
        return testutil::PrintfField(std::strtod(field.c_str(), nullptr), static_cast<int>(field.size()),
                                     precision);
    };
    int wrong = 0;
    for (const std::string& field : mine.reals16)
        if (field != printed(field, 9) && ++wrong <= 5)
            ADD_FAILURE() << "'" << field << "' prints '" << printed(field, 9) << "'";
    for (const std::string& field : mine.reals10)
        if (field != printed(field, 3) && ++wrong <= 5)
            ADD_FAILURE() << "'" << field << "' prints '" << printed(field, 3) << "'";
    EXPECT_EQ(wrong, 0);
}

TEST_P(GmshBlank, IdsFromOneAndEveryCardNamesDistinctExistingNodes)
{
    int expected = 1;
    for (const auto& [id, p] : blank_.nodes)
        EXPECT_EQ(id, expected++) << "node ids run 1, 2, ... without gaps";
    const std::vector<Card> cards = ElementCards(lines_);
    ASSERT_EQ(cards.size(), blank_.shells.size());
    std::set<int> used;
    for (size_t k = 0; k < cards.size(); ++k) {
        const Card& c = cards[k];
        EXPECT_EQ(c.id, static_cast<int>(k) + 1) << "element ids run 1, 2, ... in file order";
        EXPECT_EQ(c.pid, 1) << "element " << c.id;
        // A triangle repeats its third node as the fourth, and only that one.
        const size_t corners = c.nodes[2] == c.nodes[3] ? 3 : 4;
        const std::set<int> distinct(c.nodes.begin(), c.nodes.begin() + static_cast<long>(corners));
        EXPECT_EQ(distinct.size(), corners) << "element " << c.id << " repeats a corner";
        for (size_t n = 0; n < corners; ++n) {
            EXPECT_TRUE(blank_.nodes.count(c.nodes[n]))
                << "element " << c.id << " names missing node " << c.nodes[n];
            used.insert(c.nodes[n]);
        }
        for (const double t : c.thickness) EXPECT_GT(t, 0.0) << "element " << c.id;
    }
    EXPECT_EQ(used.size(), blank_.nodes.size()) << "a node no element uses";
}

// Seen along z, every element turns anticlockwise, so its normal has a
// positive z (for a warped quad too: the normal from its diagonals has twice
// the projected area as z); it is no sliver, and a quad is convex.
TEST_P(GmshBlank, ElementsFaceUpAreSoundAndQuadsConvex)
{
    for (const Shell& s : blank_.shells) {
        const Poly p = trimcheck::PolyOf(blank_, s);
        const double area = trimcheck::SignedArea(p);
        EXPECT_GT(area, 1e-2 * Longest(p) * Longest(p))
            << "element " << s.id << " is flipped, flat or a sliver";
        if (p.size() != 4) continue;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_GT(Cross(p[i], p[(i + 1) % 4], p[(i + 2) % 4]), 0.0)
                << "quad " << s.id << " is not convex at node " << s.nodes[(i + 1) % 4];
        }
    }
}

// Every interior edge is used twice, once each way; the free edges close into
// simple loops (one in and one out at each of their nodes); and the element
// corners around an interior node add up to one full turn in projection, so
// the projection along z covers the plate once. No two nodes share a point.
TEST_P(GmshBlank, MeshClosesUpAndProjectsOneToOne)
{
    const auto edges = trimcheck::DirectedEdges(blank_);
    std::map<int, int> freeOut;
    std::map<int, int> freeIn;
    for (const auto& [e, count] : edges) {
        EXPECT_EQ(count, 1) << "edge " << e.first << "-" << e.second << " runs the same way twice";
        if (edges.count({e.second, e.first})) continue;
        ++freeOut[e.first];
        ++freeIn[e.second];
    }
    EXPECT_FALSE(freeOut.empty());
    for (const auto& [node, count] : freeOut) {
        EXPECT_EQ(count, 1) << "free edges leave node " << node << " " << count << " times";
        EXPECT_EQ(freeIn[node], 1) << "free edges reach node " << node << " " << freeIn[node] << " times";
    }

    std::map<int, double> turn;
    for (const Shell& s : blank_.shells) {
        const Poly p = trimcheck::PolyOf(blank_, s);
        const size_t n = p.size();
        for (size_t i = 0; i < n; ++i) {
            const P2& a = p[(i + n - 1) % n];
            const P2& o = p[i];
            const P2& b = p[(i + 1) % n];
            const double dot = (b[0] - o[0]) * (a[0] - o[0]) + (b[1] - o[1]) * (a[1] - o[1]);
            turn[s.nodes[i]] += std::atan2(Cross(o, b, a), dot);
        }
    }
    for (const auto& [node, angle] : turn) {
        if (freeOut.count(node)) {
            EXPECT_LT(angle, 2 * kPi - 1e-6) << "boundary node " << node;
        } else {
            EXPECT_NEAR(angle, 2 * kPi, 1e-6) << "interior node " << node << " is not covered once";
        }
    }

    // Far above the single precision the program reads coordinates in.
    const double apart = 1e-3;
    std::vector<std::pair<P3, int>> points;
    for (const auto& [id, p] : blank_.nodes) points.push_back({p, id});
    std::sort(points.begin(), points.end());
    for (size_t i = 0; i < points.size(); ++i) {
        for (size_t j = i + 1; j < points.size() && points[j].first[0] - points[i].first[0] < apart; ++j) {
            const P3& p = points[i].first;
            const P3& q = points[j].first;
            EXPECT_GE(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), apart)
                << "nodes " << points[i].second << " and " << points[j].second << " share a point";
        }
    }
}

// One stress record (one plane, three points through the thickness, four
// history variables) and one strain record per element, none for an element
// that is not there, and no two alike: a piece's records name its parent.
TEST_P(GmshBlank, EveryElementHasItsOwnStressAndStrainRecords)
{
    EXPECT_EQ(blank_.stress.size(), blank_.shells.size());
    EXPECT_EQ(blank_.strain.size(), blank_.shells.size());
    std::set<std::vector<std::string>> stresses;
    std::set<std::vector<std::string>> strains;
    for (const Shell& s : blank_.shells) {
        ASSERT_TRUE(blank_.stress.count(s.id)) << "element " << s.id << " has no stress record";
        ASSERT_TRUE(blank_.strain.count(s.id)) << "element " << s.id << " has no strain record";
        const std::vector<std::string>& stress = blank_.stress.at(s.id);
        EXPECT_EQ(stress.front(), "         1         3         4") << "element " << s.id;
        EXPECT_EQ(stress.size(), 1u + 3u * 2u) << "element " << s.id;
        EXPECT_EQ(blank_.strain.at(s.id).size(), 2u) << "element " << s.id;
        EXPECT_TRUE(stresses.insert({stress.begin() + 1, stress.end()}).second)
            << "element " << s.id << " carries another element's stresses";
        EXPECT_TRUE(strains.insert(blank_.strain.at(s.id)).second)
            << "element " << s.id << " carries another element's strains";
    }
}

// The program reads the blank whole: annealing keeps every node and element
// as they were and halves each element's own stresses, its integration points
// and plastic strains left alone.
TEST_P(GmshBlank, ProgramAnnealsItWhole)
{
    testutil::ScratchDir dir("gmsh-anneal");
    testutil::WriteFile(dir.file("blank.dynain"), text_);
    testutil::WriteFile(
        dir.file("job.dyn"),
        "*KEYWORD\n*KEYWORD_ID\njob\n*SET_PART_LIST\n$      SID\n         1\n         1\n"
        "*CONTROL_ANNEAL\n$      SID         R\n         1       0.5\n*INCLUDE\nblank.dynain\n*END\n");
    const testutil::RunResult run = testutil::RunProgram(dir, "job.dyn");
    ASSERT_EQ(run.status, 0) << run.out;
    const Dynain out = trimcheck::ParseFile(dir.file("job.dynain"));

    // Coordinates and thicknesses are single-precision values: they come
    // back exactly.
    EXPECT_EQ(out.nodes, blank_.nodes);
    ASSERT_EQ(out.shells.size(), blank_.shells.size());
    for (size_t k = 0; k < out.shells.size(); ++k) {
        EXPECT_EQ(out.shells[k].id, blank_.shells[k].id);
        EXPECT_EQ(out.shells[k].nodes, blank_.shells[k].nodes) << "element " << blank_.shells[k].id;
        EXPECT_EQ(out.shells[k].thick, blank_.shells[k].thick) << "element " << blank_.shells[k].id;
    }
    EXPECT_EQ(out.strain, blank_.strain);
    ASSERT_EQ(out.stress.size(), blank_.stress.size());
    const auto field = [](const std::string& line, size_t f) {
        return std::atof(line.substr(10 * f, 10).c_str());
    };
    for (const auto& [id, record] : blank_.stress) {
        ASSERT_TRUE(out.stress.count(id)) << "element " << id;
        const std::vector<std::string>& annealed = out.stress.at(id);
        ASSERT_EQ(annealed.size(), record.size()) << "element " << id;
        for (size_t line = 1; line < record.size(); line += 2) {
            EXPECT_EQ(field(annealed[line], 0), field(record[line], 0)) << "element " << id;
            EXPECT_EQ(field(annealed[line], 7), field(record[line], 7)) << "element " << id;
            for (size_t f = 1; f < 7; ++f) {
                const double half = 0.5 * field(record[line], f);
                EXPECT_NEAR(field(annealed[line], f), half, 1e-3 * std::fabs(half))
                    << "element " << id << " field " << f;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Blanks, GmshBlank, ::testing::ValuesIn(BlankNames()), testutil::TestName);

// The folder is there and mixes what a cutter meets: all-triangle, all-quad and
// mixed meshes, flat and formed blanks, outlines with holes.
TEST(GmshBlanks, FolderHoldsEveryKindOfMesh)
{
    const std::vector<std::string> names = BlankNames();
    ASSERT_GE(names.size(), 12u);
    std::set<std::string> kinds;
    for (const std::string& name : names) {
        const Dynain d = trimcheck::ParseFile(PathOf(name));
        size_t quads = 0;
        double low = 0.0;
        double high = 0.0;
        for (const Shell& s : d.shells) quads += s.nodes.size() == 4 ? 1 : 0;
        for (const auto& [id, p] : d.nodes) {
            low = std::min(low, p[2]);
            high = std::max(high, p[2]);
        }
        kinds.insert(quads == 0 ? "triangles" : quads == d.shells.size() ? "quads" : "mixed");
        kinds.insert(high - low > 1.0 ? "formed" : "flat");
        // Free edges closing into more than one loop: a hole.
        const auto edges = trimcheck::DirectedEdges(d);
        std::map<int, int> next;
        for (const auto& [e, n] : edges)
            if (!edges.count({e.second, e.first})) next[e.first] = e.second;
        size_t loops = 0;
        std::set<int> seen;
        for (const auto& [start, to] : next) {
            if (seen.count(start)) continue;
            ++loops;
            for (int at = start; seen.insert(at).second; at = next[at]) {
            }
        }
        if (loops > 1) kinds.insert("holes");
    }
    for (const char* kind : {"triangles", "quads", "mixed", "formed", "flat", "holes"})
        EXPECT_TRUE(kinds.count(kind)) << "no blank with " << kind;
}

// Trimming along z through the program, judged like the cuts of the
// structured blanks (kept area, every piece with its parent's records, the
// mesh closed along the cut): an ellipse kept from every blank, flat or
// formed, crossing the notch and the L's corner where there is one, and on the
// flat ones a round hole as well, where it fits clear of the blank's own.
struct TrimCase {
    std::string blank;
    bool hole = false;
    P2 centre{};
    double radius = 0.0;
};

void PrintTo(const TrimCase& c, std::ostream* out)
{
    *out << c.blank;
    if (c.hole) *out << " with a hole at " << c.centre[0] << "," << c.centre[1] << " radius " << c.radius;
}

Poly Ellipse(double cx, double cy, double a, double b, int n)
{
    Poly p;
    for (int k = 0; k <= n; ++k) {
        const double t = 2 * kPi * ((k % n) + 0.3) / n;
        p.push_back({cx + a * std::cos(t), cy + b * std::sin(t)});
    }
    return p;
}

// A cut along z leaves every new or moved node on the sheet: seen along z it
// lies in an element of the input, at a height within that element's corners'
// (the output is written in single precision).
void ExpectNodesOnTheSheet(const Dynain& in, const Dynain& out)
{
    const double tolerance = 1e-4;
    for (const auto& [id, p] : out.nodes) {
        const auto old = in.nodes.find(id);
        if (old != in.nodes.end() && old->second == p) continue;
        const P2 q{p[0], p[1]};
        bool onSheet = false;
        for (const Shell& s : in.shells) {
            const Poly e = trimcheck::PolyOf(in, s);
            bool near = trimcheck::Inside(q, e);
            for (size_t i = 0; i < e.size() && !near; ++i)
                near = trimcheck::SegDist(q, e[i], e[(i + 1) % e.size()]) < tolerance;
            if (!near) continue;
            double low = 1e300;
            double high = -1e300;
            for (const int n : s.nodes) {
                low = std::min(low, in.nodes.at(n)[2]);
                high = std::max(high, in.nodes.at(n)[2]);
            }
            if (p[2] > low - tolerance && p[2] < high + tolerance) {
                onSheet = true;
                break;
            }
        }
        EXPECT_TRUE(onSheet) << "node " << id << " at " << p[0] << "," << p[1] << "," << p[2]
                             << " is off the sheet";
    }
}

class GmshTrim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(GmshTrim, CutsLikeAStructuredBlank)
{
    const TrimCase& c = GetParam();
    testutil::ScratchDir dir("gmsh-trim");
    const std::string text = testutil::ReadFile(PathOf(c.blank));
    const Dynain in = trimcheck::Parse(text);
    ASSERT_FALSE(in.shells.empty());
    testutil::WriteFile(dir.file("blank.dynain"), text);
    std::vector<std::pair<int, Poly>> curves{{-1, Ellipse(50.0, 30.0, 41.0, 23.5, 72)}};
    if (c.hole) curves.push_back({1, Ellipse(c.centre[0], c.centre[1], c.radius, c.radius, 64)});
    const sweep::Job job = sweep::FlatJob(curves);
    testutil::WriteFile(dir.file("job.dyn"), sweep::DeckFor(in, job, "blank.dynain"));
    const testutil::RunResult run = testutil::RunProgram(dir, "job.dyn");
    ASSERT_EQ(run.status, 0) << run.out;
    const Dynain out = trimcheck::ParseFile(dir.file("job.dynain"));
    sweep::ExpectJudged(in, out, job);
    ExpectNodesOnTheSheet(in, out);
}

std::vector<TrimCase> TrimCases()
{
    std::vector<TrimCase> cases;
    for (const std::string& name : BlankNames()) cases.push_back({name});
    // Holes a few elements across: one in plain ground, one widening the
    // blank's own hole, one around a hole off-centre, one below a notch.
    cases.push_back({"quaddom-rect-flat", true, {50.0, 30.0}, 13.0});
    cases.push_back({"mixed-hole-flat", true, {50.0, 30.0}, 17.0});
    cases.push_back({"tria-holes-flat", true, {30.0, 30.0}, 15.0});
    cases.push_back({"quad-notch-flat", true, {50.0, 25.0}, 12.0});
    return cases;
}

std::string TrimName(const ::testing::TestParamInfo<TrimCase>& info)
{
    std::string name = info.param.blank + (info.param.hole ? "_hole" : "");
    std::replace_if(
        name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Blanks, GmshTrim, ::testing::ValuesIn(TrimCases()), TrimName);

}  // namespace
