// The unstructured blanks in tests/data/gmsh, meshed by a real mesher: each is
// checked for what the cutters take for granted of any blank, and the program
// reads and anneals them (the unstructured sweep cuts them).
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
        blank_ = trimcheck::Parse(text_);
        ASSERT_FALSE(blank_.nodes.empty());
        ASSERT_FALSE(blank_.shells.empty());
    }

    std::string text_;
    Dynain blank_;
};

// What the cutters take for granted of any blank. Seen along z every element
// turns anticlockwise (for a warped quad too: the normal from its diagonals
// has twice the projected area as z), is no sliver, and a quad is convex;
// every edge runs once each way or lies on the outline, and the corners
// round an interior node add up to one full turn, so the projection covers
// the plate once and no two nodes share a point.
TEST_P(GmshBlank, IsSound)
{
    trimcheck::ExpectSoundMesh(blank_, blank_);
    std::map<int, double> turn;
    for (const Shell& s : blank_.shells) {
        const Poly p = trimcheck::PolyOf(blank_, s);
        EXPECT_GT(trimcheck::SignedArea(p), 1e-2 * Longest(p) * Longest(p))
            << "element " << s.id << " is flipped, flat or a sliver";
        const size_t n = p.size();
        for (size_t i = 0; i < n; ++i) {
            const P2& a = p[(i + n - 1) % n];
            const P2& o = p[i];
            const P2& b = p[(i + 1) % n];
            EXPECT_GT(cutjudge::Cross(o, b, a), 0.0) << "element " << s.id << " is not convex at node " << s.nodes[i];
            turn[s.nodes[i]] += std::atan2(cutjudge::Cross(o, b, a), (b[0] - o[0]) * (a[0] - o[0]) + (b[1] - o[1]) * (a[1] - o[1]));
        }
    }
    const auto edges = trimcheck::DirectedEdges(blank_);
    std::set<int> outline;
    for (const auto& [e, count] : edges) {
        EXPECT_EQ(count, 1) << "edge " << e.first << "-" << e.second << " runs the same way twice";
        if (!edges.count({e.second, e.first})) outline.insert(e.first);
    }
    for (const auto& [node, angle] : turn) {
        if (outline.count(node)) {
            EXPECT_LT(angle, 2 * kPi - 1e-6) << "boundary node " << node;
        } else {
            EXPECT_NEAR(angle, 2 * kPi, 1e-6) << "interior node " << node << " is not covered once";
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

}  // namespace
