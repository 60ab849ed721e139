// Annealing jobs run through the real program: what reaches the output, what
// is scaled, and that a failing run leaves no output and its inputs intact.
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

using testutil::ListDir;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::ScratchDir;

namespace {

std::string F10(double v) { return testutil::PrintfField(v, 10, 3); }

std::string I(int v, int width)
{
    char text[32];
    std::snprintf(text, sizeof text, "%*d", width, v);
    return text;
}

// A 3 x 2 patch of quadrilaterals (parts 1 and 2) plus one triangle, with a
// boundary constraint in a local system, one adaptive constraint and stress
// and strain sections, in the layout a solver writes.
struct Blank {
    std::string nodes, elements, extra, stress, strain;
    std::string Text() const
    {
        return "*KEYWORD\n" + nodes + elements + extra + stress + strain + "*END\n";
    }
};

Blank MakeBlank()
{
    Blank b;
    b.nodes = "*NODE\n";
    for (int j = 0; j <= 2; ++j)
        for (int i = 0; i <= 3; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%8d%16.6f%16.6f%16.6f\n", 101 + i + 4 * j, 10.0 * i, 10.0 * j, 0.5 * i);
            b.nodes += line;
        }
    b.nodes += "     200         35.0000          5.0000          0.0000\n";
    b.elements = "*ELEMENT_SHELL_THICKNESS\n";
    int eid = 11;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i) {
            const int n1 = 101 + i + 4 * j;
            b.elements += I(eid++, 8) + I(i == 0 ? 1 : 2, 8) + I(n1, 8) + I(n1 + 1, 8) + I(n1 + 5, 8) + I(n1 + 4, 8) +
                          "\n" + "             0.9             0.9             0.9            0.85\n";
        }
    b.elements += I(40, 8) + I(2, 8) + I(104, 8) + I(200, 8) + I(108, 8) + I(108, 8) + "\n" +
                  "             0.8             0.8             0.8             0.8\n";
    b.extra = "*BOUNDARY_SPC_NODE\n" + I(101, 10) + I(7, 10) + I(1, 10) + I(1, 10) + I(1, 10) + I(0, 10) + I(0, 10) +
              I(0, 10) + "\n" + "*DEFINE_COORDINATE_SYSTEM\n" + I(7, 10) + F10(0) + F10(0) + F10(0) + F10(1) + F10(0) +
              F10(0) + "\n" + F10(0) + F10(1) + F10(0) + "\n" + "*CONSTRAINED_ADAPTIVITY\n" + I(106, 10) + I(105, 10) +
              I(107, 10) + "\n";
    std::string history = "";
    for (int h = 0; h < 8; ++h) history += F10(h + 0.5);
    b.stress = "*INITIAL_STRESS_SHELL\n";
    b.strain = "*INITIAL_STRAIN_SHELL\n";
    for (int e : {11, 12, 13, 14, 15, 16, 40}) {
        b.stress += I(e, 10) + I(1, 10) + I(3, 10) + I(10, 10) + "\n";
        for (int p = 0; p < 3; ++p) {
            b.stress += F10(p - 1.0) + F10(200.0 + e) + F10(-100.0 + p) + F10(1.5) + F10(12.5) + F10(0) + F10(-3.25) +
                        F10(0.05 * p) + "\n" + history + "\n" + F10(8.5) + F10(-9.5) + "\n";
        }
        b.strain += I(e, 10) + "\n" + F10(0.01) + F10(-0.002) + F10(0) + F10(0.003) + F10(0) + F10(0) + "\n" +
                    F10(0.012) + F10(-0.004) + F10(0) + F10(0.003) + F10(0) + F10(0) + "\n";
    }
    return b;
}

std::string Deck(const std::string& keyId, double reduction, const std::string& include = "blank.dynain")
{
    return "*KEYWORD\n*KEYWORD_ID\n" + keyId + "\n*SET_PART_LIST\n         1\n         1\n*CONTROL_ANNEAL\n" +
           I(1, 10) + F10(reduction) + "\n*INCLUDE\n" + include + "\n*END\n";
}

// The output split into its keyword sections (keyword -> data lines),
// sections of the same keyword appended in order.
std::map<std::string, std::vector<std::string>> Sections(const std::string& text)
{
    std::map<std::string, std::vector<std::string>> out;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '*') {
            current = line;
            out[current];
        } else if (!line.empty() && line[0] != '$') {
            out[current].push_back(line);
        }
    }
    return out;
}

double Field(const std::string& line, int f, int width = 10) { return std::atof(line.substr(f * width, width).c_str()); }

}  // namespace

// The input read with CR LF ends, an element id of eight digits that fills
// its columns, a wedge, and the stresses in two sections with the strains
// between them and a comment between two records. Only part 1 is in the set:
// its stresses scale, everything else comes back as it went in.
TEST(AnnealJob, OnlyTheStressesOfTheSetChange)
{
    ScratchDir dir("roundtrip");
    Blank blank = MakeBlank();
    // A wedge repeats its fifth and sixth corners.
    blank.elements += "*ELEMENT_SOLID\n" + I(50, 8) + I(3, 8) + I(101, 8) + I(102, 8) + I(105, 8) + I(106, 8) + I(109, 8) +
                      I(109, 8) + I(110, 8) + I(110, 8) + "\n";
    const std::string old = I(12, 8) + I(2, 8) + I(102, 8);
    blank.elements.replace(blank.elements.find(old), old.size(), I(12345678, 8) + I(2, 8) + I(102, 8));
    blank.stress.replace(blank.stress.find(I(12, 10) + I(1, 10)), 10, I(12345678, 10));
    blank.strain.replace(blank.strain.find(I(12, 10) + "\n"), 10, I(12345678, 10));
    const std::string all = blank.stress;
    const size_t cut = all.find(I(14, 10) + I(1, 10)), second = all.find(I(15, 10) + I(1, 10));
    blank.stress = all.substr(0, cut) + "$ a comment between records\n" + all.substr(cut, second - cut);
    blank.strain += "*INITIAL_STRESS_SHELL\n" + all.substr(second);
    std::string crlf;
    for (char c : blank.Text()) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    testutil::WriteFile(dir.file("blank.dynain"), crlf);
    testutil::WriteFile(dir.file("job.dyn"), Deck("same", 0.25));
    const auto r = RunProgram(dir, "job.dyn");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string text = ReadFile(dir.file("same.dynain"));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const size_t s1 = text.find("*INITIAL_STRESS_SHELL"), st = text.find("*INITIAL_STRAIN_SHELL");
    EXPECT_LT(s1, st);
    EXPECT_LT(st, text.find("*INITIAL_STRESS_SHELL", s1 + 1));
    EXPECT_NE(text.find("*INITIAL_STRESS_SHELL", s1 + 1), std::string::npos);
    const auto in = Sections(blank.Text());
    const auto out = Sections(text);

    // Every node is used; coordinates come back within single precision.
    ASSERT_EQ(out.at("*NODE").size(), in.at("*NODE").size());
    for (size_t k = 0; k < in.at("*NODE").size(); ++k) {
        const std::string& a = in.at("*NODE")[k];
        const std::string& b = out.at("*NODE")[k];
        EXPECT_EQ(a.substr(0, 8), b.substr(0, 8));
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(std::atof(a.substr(8 + 16 * c, 16).c_str()), std::atof(b.substr(8 + 16 * c, 16).c_str()), 1e-5);
        }
    }
    // Element cards unchanged but for the thickness, written once four times
    // from the last input value.
    const auto& ein = in.at("*ELEMENT_SHELL_THICKNESS");
    const auto& eout = out.at("*ELEMENT_SHELL_THICKNESS");
    ASSERT_EQ(eout.size(), ein.size());
    for (size_t k = 0; k < ein.size(); k += 2) {
        EXPECT_EQ(eout[k].substr(0, 48), ein[k].substr(0, 48));
        const double t = std::atof(ein[k + 1].substr(48).c_str());
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(std::atof(eout[k + 1].substr(16 * c, 16).c_str()), t, 1e-6);
    }
    EXPECT_EQ(out.at("*ELEMENT_SOLID"), in.at("*ELEMENT_SOLID"));
    EXPECT_EQ(out.at("*BOUNDARY_SPC_NODE"), (std::vector<std::string>{I(101, 10) + I(7, 10) + I(1, 10) + I(1, 10) +
                                                                       I(1, 10) + I(0, 10) + I(0, 10) + I(0, 10)}));
    EXPECT_EQ(out.at("*DEFINE_COORDINATE_SYSTEM").size(), 2u);
    EXPECT_EQ(out.at("*CONSTRAINED_ADAPTIVITY"), in.at("*CONSTRAINED_ADAPTIVITY"));
    // Strains are never scaled, nor stresses outside the set: every character stays.
    EXPECT_EQ(out.at("*INITIAL_STRAIN_SHELL"), in.at("*INITIAL_STRAIN_SHELL"));
    const auto& sin = in.at("*INITIAL_STRESS_SHELL");
    const auto& sout = out.at("*INITIAL_STRESS_SHELL");
    ASSERT_EQ(sout.size(), sin.size());
    // Record layout: header, then per point one stress and two history lines.
    for (size_t h = 0; h < sin.size(); h += 10) {
        const bool partOne = sin[h].substr(0, 10) == I(11, 10) || sin[h].substr(0, 10) == I(14, 10);
        for (size_t k = h; k < h + 10; ++k) {
            if (!partOne || k == h) {
                EXPECT_EQ(sout[k], sin[k]);
                continue;
            }
            const bool stressLine = (k - h - 1) % 3 == 0;
            const int fields = stressLine ? 8 : ((k - h - 1) % 3 == 1 ? 8 : 2);
            for (int f = 0; f < fields; ++f) {
                const double expected = Field(sin[k], f) * (stressLine && (f == 0 || f == 7) ? 1.0 : 0.75);
                EXPECT_NEAR(Field(sout[k], f), expected, std::fabs(expected) * 1e-3 + 1e-12) << sout[k];
            }
            EXPECT_EQ(sout[k].size(), static_cast<size_t>(10 * fields));
        }
    }
    // The inputs are untouched and nothing else is left behind.
    EXPECT_EQ(ReadFile(dir.file("blank.dynain")), crlf);
    EXPECT_EQ(ListDir(dir), "blank.dynain job.dyn same.dynain same.messag same.report.json ");
}

// A header with an NTENSR field, a file cut inside a record, and a header
// promising more lines than follow before the next keyword.
TEST(AnnealJob, UncertainOrTruncatedBlocksFailWithoutOutput)
{
    const std::string whole = MakeBlank().Text();
    const std::string h13 = I(13, 10) + I(1, 10) + I(3, 10) + I(10, 10), h40 = I(40, 10) + I(1, 10) + I(3, 10);
    const std::pair<std::string, std::string> cases[] = {
        {whole.substr(0, whole.find(h13)) + h13 + I(6, 10) + whole.substr(whole.find(h13) + h13.size()), "Element: 13 "},
        {whole.substr(0, whole.find("*INITIAL_STRAIN_SHELL") - 25), "Element: "},
        {whole.substr(0, whole.find(h40)) + I(40, 10) + I(1, 10) + I(5, 10) + whole.substr(whole.find(h40) + 30),
         "Element: 40 "},
    };
    for (const auto& [state, element] : cases) {
        SCOPED_TRACE(element);
        ScratchDir dir("bad");
        testutil::WriteFile(dir.file("blank.dynain"), state);
        testutil::WriteFile(dir.file("job.dyn"), Deck("bad", 0.2));
        testutil::WriteFile(dir.file("bad.dynain"), "an older result\n");
        const auto r = RunProgram(dir, "job.dyn");
        EXPECT_EQ(r.status, 255);
        EXPECT_NE(r.out.find("Fail to output dynain file"), std::string::npos);
        EXPECT_NE(r.out.find(element), std::string::npos) << r.out;
        EXPECT_EQ(ReadFile(dir.file("bad.dynain")), "an older result\n");
        EXPECT_EQ(ListDir(dir), "bad.dynain bad.messag bad.report.json blank.dynain job.dyn ");
    }
}

namespace {

// Counts of what a keyword file holds: data lines per keyword.
std::map<std::string, size_t> Counts(const std::string& text)
{
    std::map<std::string, size_t> out;
    for (const auto& [keyword, lines] : Sections(text)) out[keyword] = lines.size();
    return out;
}

}  // namespace

// Generated blanks of every shape, refined two levels deep, go through the
// program without losing a card, and the program's own output reads back to
// the very same file.
TEST(AnnealJob, GeneratedBlanksPassWholeAndReadBackIdentically)
{
    for (const std::string shape : {"flat", "cup", "hat"}) {
        ScratchDir dir("gen-" + shape);
        const std::string command = "'" CORVEX_GENBLANK "' --shape " + shape +
                                    " --elements 1500 --levels 2 --nhisv 10 --deck anneal -o '" +
                                    dir.file("blank.dynain") + "' > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        auto r = RunProgram(dir, "blank_anneal.dyn");
        ASSERT_EQ(r.status, 0) << r.out;
        const std::string first = ReadFile(dir.file("genblank_anneal.dynain"));
        EXPECT_EQ(Counts(first), Counts(ReadFile(dir.file("blank.dynain")))) << shape;

        testutil::WriteFile(dir.file("again.dyn"), Deck("again", 0.0, "genblank_anneal.dynain"));
        r = RunProgram(dir, "again.dyn");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(ReadFile(dir.file("again.dynain")), first) << shape;
    }
}
