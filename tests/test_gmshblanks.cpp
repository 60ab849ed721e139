// The unstructured blanks in tests/data/gmsh, meshed by a real mesher: each is
// checked for what the cutters take for granted of any blank, and the program
// reads and anneals them (the unstructured sweep cuts them).
#include "test_helpers.h"
#include "test_sweeprun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using trimcheck::Dynain;
using trimcheck::P2;
using trimcheck::Poly;
using trimcheck::Shell;

namespace {

const double kPi = 3.14159265358979323846;
const std::string kFolder = std::string(CORVEX_TEST_DATA) + "/gmsh/";

std::vector<std::string> BlankNames()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kFolder))
        if (entry.path().extension() == ".dynain") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class GmshBlank : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        text_ = testutil::ReadFile(kFolder + GetParam() + ".dynain");
        blank_ = trimcheck::Parse(text_);
        ASSERT_FALSE(blank_.nodes.empty() || blank_.shells.empty()) << GetParam();
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
        const size_t n = p.size();
        double longest = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const P2 &a = p[(i + n - 1) % n], &o = p[i], &b = p[(i + 1) % n];
            longest = std::max(longest, std::hypot(b[0] - o[0], b[1] - o[1]));
            EXPECT_GT(cutjudge::Cross(o, b, a), 0.0) << "element " << s.id << " is not convex at node " << s.nodes[i];
            turn[s.nodes[i]] += std::atan2(cutjudge::Cross(o, b, a), (b[0] - o[0]) * (a[0] - o[0]) + (b[1] - o[1]) * (a[1] - o[1]));
        }
        EXPECT_GT(trimcheck::SignedArea(p), 1e-2 * longest * longest) << "element " << s.id << " is flipped, flat or a sliver";
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
    std::set<std::vector<std::string>> stresses, strains;
    for (const Shell& s : blank_.shells) {
        ASSERT_TRUE(blank_.stress.count(s.id) && blank_.strain.count(s.id)) << "element " << s.id << " lacks a record";
        const std::vector<std::string>& stress = blank_.stress.at(s.id);
        EXPECT_EQ(stress.front(), "         1         3         4") << "element " << s.id;
        EXPECT_TRUE(stress.size() == 1u + 3u * 2u && blank_.strain.at(s.id).size() == 2u) << "element " << s.id;
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
        const Shell &now = out.shells[k], &was = blank_.shells[k];
        EXPECT_TRUE(now.id == was.id && now.nodes == was.nodes && now.thick == was.thick) << "element " << was.id;
    }
    EXPECT_EQ(out.strain, blank_.strain);
    ASSERT_EQ(out.stress.size(), blank_.stress.size());
    const auto field = [](const std::string& line, size_t f) { return std::atof(line.substr(10 * f, 10).c_str()); };
    for (const auto& [id, record] : blank_.stress) {
        ASSERT_TRUE(out.stress.count(id) && out.stress.at(id).size() == record.size()) << "element " << id;
        for (size_t line = 1; line < record.size(); line += 2) {
            for (size_t f = 0; f < 8; ++f) {
                const bool kept = f == 0 || f == 7;  // the point's place and its plastic strain
                const double want = (kept ? 1.0 : 0.5) * field(record[line], f);
                EXPECT_NEAR(field(out.stress.at(id)[line], f), want, kept ? 0.0 : 1e-3 * std::fabs(want))
                    << "element " << id << " field " << f;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Blanks, GmshBlank, ::testing::ValuesIn(BlankNames()), testutil::TestName);

}  // namespace
