// Numbers the program does not change leave it as they came in: a node no
// operation moved is written with the text it was read with, a value read in
// another layout comes back as the very same double, and a thickness of 0.95
// is written as 9.500000000e-1, not as its nearest single-precision neighbour.
#include "test_helpers.h"
#include "test_sweeprun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

namespace {

using testutil::PrintfField;

constexpr double kPi = 3.14159265358979323846;

const std::string kThickness = PrintfField(0.95, 16, 9) + PrintfField(0.95, 16, 9) + PrintfField(0.95, 16, 9) +
                               PrintfField(0.95, 16, 9);

// The generated blank moved by (2.3, 0.7), so that its coordinates read 12.3
// and the like, every thickness 0.95. Most node lines are in the layout the
// program writes; every seventh is in plain decimals.
std::string ShiftedBlank()
{
    std::istringstream in(testutil::SmallGeneratedJob().blank);
    std::string out;
    std::string section;
    int row = 0;
    for (std::string line; std::getline(in, line);) {
        if (line[0] == '*') {
            section = line;
            row = 0;
        } else if (line[0] != '$' && section == "*NODE") {
            const double x = std::atof(line.substr(8, 16).c_str()) + 2.3;
            const double y = std::atof(line.substr(24, 16).c_str()) + 0.7;
            char text[96];
            if (++row % 7 == 0) std::snprintf(text, sizeof text, "%s%16.4f%16.4f%16.4f", line.substr(0, 8).c_str(), x, y, 0.0);
            else std::snprintf(text, sizeof text, "%s%s%s%s", line.substr(0, 8).c_str(), PrintfField(x, 16, 9).c_str(),
                               PrintfField(y, 16, 9).c_str(), PrintfField(0.0, 16, 9).c_str());
            line = text;
        } else if (line[0] != '$' && section == "*ELEMENT_SHELL_THICKNESS" && ++row % 2 == 0) {
            line = kThickness;
        }
        out += line + "\n";
    }
    return out;
}

// The data lines of a section by the id in their first eight columns.
std::map<int, std::string> Lines(const std::string& text, const std::string& keyword)
{
    std::map<int, std::string> lines;
    std::istringstream in(text);
    std::string section;
    for (std::string line; std::getline(in, line);) {
        if (line[0] == '*') section = line;
        else if (line[0] != '$' && section == keyword) lines[std::atoi(line.substr(0, 8).c_str())] = line;
    }
    return lines;
}

// Nodes away from every curve (all of them without one) come back with their
// text, or, where the input used other columns, with their values exactly;
// every thickness card holds 0.95 four times.
void ExpectKeptAsRead(const std::string& input, const std::string& output, const trimcheck::Poly& curve, double away)
{
    const std::map<int, std::string> before = Lines(input, "*NODE");
    const std::map<int, std::string> after = Lines(output, "*NODE");
    int compared = 0;
    for (const auto& [id, line] : after) {
        const auto old = before.find(id);
        if (old == before.end()) continue;
        const double x = std::atof(old->second.substr(8, 16).c_str());
        const double y = std::atof(old->second.substr(24, 16).c_str());
        if (!curve.empty() && trimcheck::DistToCurve({x, y}, curve) < away) continue;
        ++compared;
        if (old->second.find('e') != std::string::npos) {
            EXPECT_EQ(line, old->second) << "node " << id;
        } else {
            for (size_t at : {8, 24, 40}) {
                EXPECT_EQ(std::atof(line.substr(at, 16).c_str()), std::atof(old->second.substr(at, 16).c_str()))
                    << "node " << id << ": " << line;
            }
        }
    }
    EXPECT_GT(compared, 20);
    std::istringstream in(output);
    bool thickness = false;
    int cards = 0;
    for (std::string line; std::getline(in, line);) {
        if (line[0] == '*') {
            thickness = line == "*ELEMENT_SHELL_THICKNESS";
        } else if (thickness && line[0] != '$' && line.find('e') != std::string::npos) {
            ++cards;
            EXPECT_EQ(line, kThickness);
        }
    }
    EXPECT_GT(cards, 0);
}

}  // namespace

// Annealing keeps every node; trimming those away from the curve.
TEST(Precision, AnnealingAndTrimmingWriteWhatTheyLeaveAsRead)
{
    testutil::ScratchDir dir("precision");
    const std::string blank = ShiftedBlank();
    testutil::WriteFile(dir.file("blank.dynain"), blank);
    testutil::WriteFile(dir.file("anneal.dyn"), testutil::SmallGeneratedJob().annealDeck);
    const testutil::RunResult annealed = testutil::RunProgram(dir, "anneal.dyn");
    ASSERT_EQ(annealed.status, 0) << annealed.out;
    ExpectKeptAsRead(blank, testutil::ReadFile(dir.file("genblank_anneal.dynain")), {}, 0.0);

    // A round hole in the middle, kept 1.5 element lengths away from.
    const trimcheck::Dynain in = trimcheck::Parse(blank);
    double cx = 0.0, cy = 0.0, h = 0.0;
    for (const auto& [id, p] : in.nodes) cx = std::max(cx, 0.5 * p[0]), cy = std::max(cy, 0.5 * p[1]);
    for (const auto& s : in.shells) {
        const trimcheck::Poly e = trimcheck::PolyOf(in, s);
        for (size_t k = 0; k < e.size(); ++k)
            h = std::max(h, std::hypot(e[k][0] - e[(k + 1) % e.size()][0], e[k][1] - e[(k + 1) % e.size()][1]));
    }
    trimcheck::Poly hole;
    for (int k = 0; k <= 24; ++k) hole.push_back({cx + 0.5 * cy * std::cos(k * kPi / 12), cy + 0.5 * cy * std::sin(k * kPi / 12)});
    testutil::WriteFile(dir.file("job.dyn"), sweep::DeckFor(in, sweep::JobAlongZ({{1, hole}}), "blank.dynain"));
    const testutil::RunResult trimmed = testutil::RunProgram(dir, "job.dyn");
    ASSERT_EQ(trimmed.status, 0) << trimmed.out;
    ExpectKeptAsRead(blank, testutil::ReadFile(dir.file("job.dynain")), hole, 1.5 * h);
}
