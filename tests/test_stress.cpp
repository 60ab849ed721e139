#include "qdsanneal.h"
#include "qdsfile.h"
#include "qdsfile_stress.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Fast(float x, int width)
{
    char out[32];
    return std::string(out, static_cast<size_t>(FormatFixedField(out, x, width)));
}

void ExpectSameAsPrintf(float x)
{
    ASSERT_EQ(Fast(x, 10), testutil::PrintfField(x, 10, 3)) << std::hexfloat << x;
    ASSERT_EQ(Fast(x, 16), testutil::PrintfField(x, 16, 9)) << std::hexfloat << x;
}

// Fields of the given width concatenated, each right-justified.
std::string Fields(int width, const std::vector<std::string>& values)
{
    std::string line;
    for (const std::string& v : values) line += std::string(static_cast<size_t>(width) - v.size(), ' ') + v;
    return line;
}

std::string Formatted(int width, const std::vector<float>& values)
{
    std::string line;
    for (const float v : values) line += Fast(v, width);
    return line;
}

// What the state reader does with a record: the header, then its body lines.
template <class Record>
CsRecordStatus Feed(Record& record, const std::string& header, const std::vector<std::string>& body)
{
    const CsRecordStatus status = record.ReadHeader(header.c_str());
    if (status != CsRecordStatus::kOk) return status;
    EXPECT_EQ(record.GetBodyLineNum(), static_cast<int>(body.size()));
    for (int k = 0; k < record.GetBodyLineNum() && k < static_cast<int>(body.size()); ++k) {
        record.BodyLine(k) = body[static_cast<size_t>(k)].c_str();
    }
    return status;
}

template <class Record>
std::string Header(const Record& record, int eid)
{
    char out[kRecordHeaderSize];
    return std::string(out, static_cast<size_t>(record.FormatHeader(eid, out, sizeof out)));
}

}  // namespace

TEST(StressFormat, FixedFieldsEqualPrintf)
{
    // A stride through every bit pattern covers all exponents and signs.
    for (uint64_t bits = 0; bits <= 0xffffffffull; bits += 4099) {
        const uint32_t pattern = static_cast<uint32_t>(bits);
        float x = 0.0f;
        std::memcpy(&x, &pattern, sizeof x);
        if (std::isfinite(x)) ExpectSameAsPrintf(x);
    }
    // Decimal midpoints at the 4th and the 10th significant digit, and the
    // floats around them, in every decade a float reaches.
    std::mt19937 random(777);
    for (int exponent = -45; exponent <= 38; ++exponent) {
        for (int i = 0; i < 40; ++i) {
            const double digits4 = 1000 + static_cast<int>(random() % 9000) + 0.5;
            const double digits10 = 1e9 + static_cast<double>(random() % 9000000000u) + 0.5;
            for (const double mid : {digits4 * std::pow(10.0, exponent - 3), digits10 * std::pow(10.0, exponent - 9)}) {
                float x = static_cast<float>(mid);
                if (!std::isfinite(x)) continue;
                for (int step = 0; step < 3; ++step) x = std::nextafter(x, 0.0f);
                for (int step = 0; step < 6; ++step, x = std::nextafter(x, std::numeric_limits<float>::max())) {
                    ExpectSameAsPrintf(x);
                    ExpectSameAsPrintf(-x);
                }
            }
        }
    }
    // Carries into the next power of ten, exact ties and the extremes.
    for (const float x : {9.9995f, 9.99949f, 0.99995f, 99999.5f, 9.9999999995f, 1.0625f, 1.0635f, -2.5625f, 0.0f, -0.0f,
                          std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                          std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()})
        ExpectSameAsPrintf(x);
    EXPECT_EQ(Fast(std::numeric_limits<float>::quiet_NaN(), 10), testutil::PrintfField(std::nan(""), 10, 3));
    EXPECT_EQ(Fast(123.4f, 16), "  1.234000015e+2");
}

// The clamp keeps a negative share to remove from making stresses grow; a set
// without a card keeps its stresses.
TEST(AnnealScale, ClampedValidatedAndLookedUpBySet)
{
    EXPECT_EQ(CsAnneal(3, 1.7f).GetScale(), 1.0f);
    EXPECT_EQ(CsAnneal(3, -0.2f).GetScale(), 0.0f);
    EXPECT_FALSE(CsAnneal(0, 0.5f).IsValid());
    EXPECT_FALSE(CsAnneal(2, std::numeric_limits<float>::quiet_NaN()).IsValid());
    const std::vector<CsAnneal> list{CsAnneal(2, 0.25f), CsAnneal(3, 0.5f), CsAnneal(3, 0.75f)};
    EXPECT_EQ(GetAnnealScale(list, 3), 0.5f);
    EXPECT_EQ(GetAnnealScale(list, 4), 1.0f);
}

// One record of each layout annealed: which fields scale, the width of each line, and the
// header it is written back under (element 99).
TEST(StressAnneal, EachLayoutScalesItsStressesAndHistoryOnly)
{
    struct Case {
        const char* what;
        EleType kind;
        std::string header;
        std::vector<std::string> body;
        float scale;
        std::vector<std::string> annealed;
        std::string written;
    };
    const std::string shellStress = Fields(10, {"0.", "8.", "8.", "8.", "8.", "8.", "8.", "0."});
    const std::string history8 = Fields(10, std::vector<std::string>(8, "2."));
    const std::string history2 = Fields(10, {"4.", "6."});
    const std::string large1 = Fields(16, {"-0.5", "2.", "4.", "6.", "8."});
    const std::string large2 = Fields(16, {"10.", "12.", "0.3", "14.", "16."});
    const std::string large3 = Fields(16, {"18.", "20."});
    const Case cases[] = {
        {"shell: T and EPS kept", kEleShell, "         7         1         1",
         {Fields(10, {"-0.5", "200.", "100.", "0.", "0.", "0.", "0.", "0.1"})}, 0.5f,
         {" -5.000e-1  1.000e+2  5.000e+1  0.000e+0  0.000e+0  0.000e+0  0.000e+0  1.000e-1"},
         "        99         1         1         0"},
        {"solid: EPS scaled too, 70 columns", kEleSolid, "         3         1",
         {Fields(10, {"10.", "20.", "30.", "0.", "0.", "0.", "0.2"})}, 0.5f,
         {Formatted(10, {5.0f, 10.0f, 15.0f, 0.0f, 0.0f, 0.0f, 0.1f})}, "        99         1         0         0"},
        {"shell, NHISV 10: two history lines per point, the last one short", kEleShell,
         "        11         1         2        10", {shellStress, history8, history2, shellStress, history8, history2},
         0.25f,
         {Formatted(10, {0, 2, 2, 2, 2, 2, 2, 0}), Formatted(10, std::vector<float>(8, 0.5f)), Formatted(10, {1.0f, 1.5f}),
          Formatted(10, {0, 2, 2, 2, 2, 2, 2, 0}), Formatted(10, std::vector<float>(8, 0.5f)), Formatted(10, {1.0f, 1.5f})},
         "        99         1         2        10"},
        // NHISV 4: T, six stresses, EPS and four history values, three lines of five 16-column fields.
        {"large shell keeps T and EPS, and LARGE", kEleShell, "        21         1         2         4         0         1",
         {large1, large2, large3, large1, large2, large3}, 0.5f,
         {Formatted(16, {-0.5f, 1, 2, 3, 4}), Formatted(16, {5, 6, 0.3f, 7, 8}), Formatted(16, {9, 10}),
          Formatted(16, {-0.5f, 1, 2, 3, 4}), Formatted(16, {5, 6, 0.3f, 7, 8}), Formatted(16, {9, 10})},
         "        99         1         2         4         0         1"},
        // NHISV 3: seven values and three history values, (3 + 6) / 5 + 1 lines.
        {"large solid scales every value", kEleSolid, "         5         1         3         1",
         {Fields(16, {"2.", "2.", "2.", "2.", "2."}), Fields(16, {"2.", "0.2", "2.", "2.", "2."})}, 0.5f,
         {Formatted(16, {1, 1, 1, 1, 1}), Formatted(16, {1, 0.1f, 1, 1, 1})}, "        99         1         3         1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StressData record(c.kind);
        ASSERT_EQ(Feed(record, c.header, c.body), CsRecordStatus::kOk);
        record.Anneal(c.scale);
        for (size_t k = 0; k < c.annealed.size(); ++k)
            EXPECT_EQ(record.GetBodyLine(static_cast<int>(k)).str(), c.annealed[k]) << "line " << k;
        EXPECT_EQ(Header(record, 99), c.written);
    }
}

// Rows run in order on one record of each kind, as the reader reuses one for a
// whole section: a blank NHISV after one of 9 must read as none, and a blank
// NHISV in front of LARGE must not be taken for a missing field.
TEST(RecordHeaders, LayoutsAreReadOrRefusedNamingTheElement)
{
    const CsRecordStatus ok = CsRecordStatus::kOk, error = CsRecordStatus::kError, end = CsRecordStatus::kEnd;
    struct Row {
        bool strain;
        EleType kind;
        const char* header;
        CsRecordStatus status;
        int lines;
        const char* named = nullptr;    // in the error's description
        const char* written = nullptr;  // the header written back under element 18
    };
    const Row rows[] = {
        {false, kEleShell, "         1         1         5     ", ok, 5},
        {false, kEleShell, "         1         1         5         9     ", ok, 15},
        {false, kEleShell, "         1         4         3                             1", ok, 12 * 2},
        {false, kEleShell, "2,4,3,16", ok, 12 * 3},
        {false, kEleShell, " 3 1 2 0", ok, 2},
        {false, kEleShell, "        42         1         5         0         6", error, 0, "Element: 42"},
        {false, kEleShell, " -5.000e-1  1.000e+2  5.000e+1", error, 0, "-5.000e-1"},
        {false, kEleShell, "        43         1         5         0         0         2", error, 0},
        {false, kEleShell, "        44         1         5         0         0         0         3", error, 0},
        {false, kEleShell, "        45         0         5", error, 0},
        {false, kEleShell, "        46         1 100000000", error, 0},
        {false, kEleShell, "        47         1", error, 0},
        {false, kEleTShell, "         1         1         5         0         0         1", error, 0},
        {false, kEleSolid, "         1         8         0         0         1", error, 0},
        {false, kEleSolid, "         1         8         0         2", error, 0},
        // The end of a section is not an error.
        {false, kEleShell, "*INITIAL_STRAIN_SHELL", end, 0}, {false, kEleShell, "$ comment", end, 0},
        {false, kEleShell, "", end, 0}, {false, kEleShell, "   ", end, 0},
        {true, kEleShell, "        17", ok, 2, nullptr, "        18"},
        {true, kEleShell, "        17         1         5", ok, 5, nullptr, "        18         1         5"},
        {true, kEleShell, "        17         1         0", error, 0, "Element: 17"},
        {true, kEleShell, "        17         1         5         1", error, 0},
        {true, kEleShell, "*END", end, 0}, {true, kEleSolid, "         4", ok, 1},
        {true, kEleSolid, "         4         1", ok, 1},
        {true, kEleSolid, "         4         8", error, 0},
    };
    StressData stress[] = {StressData(kEleShell), StressData(kEleTShell), StressData(kEleSolid)};
    StrainData strain[] = {StrainData(kEleShell), StrainData(kEleTShell), StrainData(kEleSolid)};
    const auto check = [](auto& record, const Row& row) {
        EXPECT_EQ(record.ReadHeader(row.header), row.status);
        if (row.status == CsRecordStatus::kOk) { EXPECT_EQ(record.GetBodyLineNum(), row.lines); }
        if (row.named) { EXPECT_NE(record.DescribeError().Find(row.named), -1) << record.DescribeError().str(); }
        if (row.written) { EXPECT_EQ(Header(record, 18), row.written); }
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.header);
        if (row.strain) check(strain[row.kind], row);
        else check(stress[row.kind], row);
    }
}

// Random shell stress lines, most fields in the written form and some not
// (short lines, blanks, plain decimals, odd texts), annealed at random
// scales: each field must be what reading, scaling and writing that one
// field gives. A scale of 1, beyond the range or NaN keeps every digit of the
// line as read.
TEST(StressAnneal, WholeLinesEqualTheFieldByFieldRewrite)
{
    std::mt19937 rng(3);
    const char* const odd[] = {"nan",       "-inf",      "1e-40",  "1e39",      "+1.5",
                               ".5",        "-0.0",      "  1.5  ", "abc",       "0.000e+5",
                               "1.234e+02", "-0.000e+0", "0.5e+1", "9.999e+37", "1.000e-38"};
    StressData record(kEleShell);
    char field[32];
    for (int i = 0; i < 20000; ++i) {
        std::string line;
        for (int f = 0; f < 8; ++f) {
            const unsigned kind = rng() % 8;
            if (kind < 5) {
                const float x = kind == 0 ? 0.0f : std::ldexp(static_cast<float>(rng() % 20001) - 10000.0f,
                                                              static_cast<int>(rng() % 200) - 100);
                line += Fast(x, 10);
            } else if (kind == 5) {
                const double x = (rng() % 20001) / 7.0;
                std::snprintf(field, sizeof field, "%10.*f", static_cast<int>(rng() % 5), x);
                line += field;
            } else {
                line += Fields(10, {odd[rng() % (sizeof odd / sizeof odd[0])]});
            }
        }
        if (rng() % 10 == 0) line.resize(rng() % line.size());
        const float scale = std::vector<float>{0.0f, 0.3f, 0.7f, 1e-7f, -0.5f, 1.0f, 10.0f,
                                               std::numeric_limits<float>::quiet_NaN()}[rng() % 8];
        ASSERT_EQ(Feed(record, "         1         1         1", {line}), CsRecordStatus::kOk);
        record.Anneal(scale);
        std::string expected = scale < 1.0f ? "" : line;
        for (int f = 0; f < 8 && scale < 1.0f; ++f) {
            const size_t start = static_cast<size_t>(f) * 10;
            const char* text = line.c_str() + std::min(start, line.size());
            const size_t left = line.size() - std::min(start, line.size());
            float v = ParseFieldFloat(text, text + std::min<size_t>(10, left));
            if (f >= 1 && f <= 6) v *= scale;
            expected += Fast(v, 10);
        }
        ASSERT_EQ(record.GetBodyLine(0).str(), expected) << "'" << line << "' x " << scale;
    }
}
