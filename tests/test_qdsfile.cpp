#include "qdsdatabase.h"
#include "qdsfile.h"
#include "qdsmessage.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using testutil::ScratchDir;

namespace {

void SetKeyId(const char* key)
{
    CsDataInfo info = dataManage.GetDataInfo();
    info.keyId = key;
    dataManage.SetDataInfo(info);
}

// Opens a text file holding the given bytes.
struct OpenText {
    OpenText(const ScratchDir& dir, const std::string& bytes) : name(dir.file("in.k"))
    {
        testutil::WriteFile(name, bytes);
        EXPECT_EQ(file.OpenFile(name.c_str(), CsFile::READ), 1);
    }
    std::string name;
    CsTextFile file;
};

std::string Field(const char* line, int n)
{
    const char* f = CsTextFile::FindValidField(line, n);
    return f ? std::string(f) : std::string("<null>");
}

}  // namespace

// A byte 0xFF, as a Latin-1 editor writes it, is an ordinary byte. A line
// longer than 255 comes in pieces, the byte between them dropped.
TEST(LineReading, CrLfEndsLongLinesAndUnreading)
{
    ScratchDir dir("lines");
    std::string longLine;
    for (int i = 0; i < 300; ++i) longLine += static_cast<char>('a' + i % 26);
    OpenText t(dir, "*NODE\r\n       1,2\r\n\xFF title \xE9\n" + longLine + "\nlast");
    CsString line;
    EXPECT_EQ(t.file.GetLine(line), 7);
    EXPECT_EQ(line, "*NODE");
    const int count = t.file.GetLine(line);
    EXPECT_EQ(count, 12);
    EXPECT_EQ(line, "       1,2");
    t.file.BackToLine(count);
    EXPECT_EQ(t.file.GetLine(line), 12);
    EXPECT_EQ(line, "       1,2");
    EXPECT_FALSE(t.file.IsFileEnd());
    EXPECT_EQ(t.file.GetLine(line), 10);
    EXPECT_EQ(line.str(), "\xFF title \xE9");
    EXPECT_EQ(t.file.GetLine(line), 256);
    EXPECT_EQ(line.str(), longLine.substr(0, 255));
    EXPECT_EQ(t.file.GetLine(line), 45);
    EXPECT_EQ(line.str(), longLine.substr(256));
    // A last line without a newline still arrives whole; the count has no +1.
    EXPECT_EQ(t.file.GetLine(line), 4);
    EXPECT_EQ(line, "last");
    EXPECT_TRUE(t.file.IsFileEnd());
    EXPECT_EQ(t.file.GetLine(line), 0);
    EXPECT_TRUE(line.IsEmpty());
}

// Reading a file far larger than the read buffer, stepping back at random
// over one or two lines, must always give the same lines as a plain split.
TEST(LineReading, UnreadingAcrossBufferRefills)
{
    ScratchDir dir("big");
    std::mt19937 rng(7);
    std::vector<std::string> lines;
    std::string bytes;
    while (bytes.size() < 3u * 1024 * 1024 + 123) {
        std::string l(rng() % 90, 'x');
        for (char& c : l) c = static_cast<char>('0' + rng() % 10);
        lines.push_back(l);
        bytes += l + ((rng() % 3) == 0 ? "\r\n" : "\n");
    }
    OpenText t(dir, bytes);
    CsString line;
    std::vector<int> counts;
    size_t i = 0;
    while (i < lines.size()) {
        const int count = t.file.GetLine(line);
        ASSERT_EQ(line.str(), lines[i]) << "line " << i;
        counts.push_back(count);
        ++i;
        if (rng() % 5 == 0 && i >= 2) {
            t.file.BackToLine(counts[i - 1] + counts[i - 2]);
            counts.resize(i - 2);
            i -= 2;
        }
    }
    EXPECT_EQ(t.file.GetLine(line), 0);
    EXPECT_TRUE(t.file.IsFileEnd());
    t.file.ReWind();
    t.file.GetLine(line);
    EXPECT_EQ(line.str(), lines[0]);
}

// Skipping to keyword lines finds exactly the lines (and pieces of long
// lines) that reading every line finds, across buffer refills.
TEST(LineReading, SkippingToKeywordsFindsWhatReadingFinds)
{
    ScratchDir dir("skip");
    std::mt19937 rng(9);
    std::string bytes;
    while (bytes.size() < 2u * 1024 * 1024 + 77) {
        const size_t length = rng() % 4 == 0 ? rng() % 700 : rng() % 90;
        std::string l(length, ' ');
        for (char& c : l) c = "0123456789 .e-\t"[rng() % 15];
        const size_t star = rng() % 3 == 0 ? 256 : rng() % 4;
        if (!l.empty() && rng() % 6 == 0) l[std::min(star, l.size() - 1)] = '*';
        bytes += l + (rng() % 3 == 0 ? "\r\n" : "\n");
    }
    bytes += "  *last";
    std::vector<std::string> expected;
    {
        OpenText t(dir, bytes);
        CsString line;
        while (t.file.GetLine(line) > 0) {
            const size_t first = line.str().find_first_not_of(" \t");
            if (first != std::string::npos && line.str()[first] == '*') expected.push_back(line.str());
        }
    }
    OpenText t(dir, bytes);
    std::vector<std::string> found;
    CsString line;
    while (t.file.SkipToKeywordLine()) {
        ASSERT_GT(t.file.GetLine(line), 0);
        found.push_back(line.str());
    }
    EXPECT_TRUE(t.file.IsFileEnd());
    EXPECT_GT(expected.size(), 500u);
    EXPECT_EQ(found, expected);
}

TEST(LineReading, CommentsKeywordsAndDataLines)
{
    ScratchDir dir("cards");
    OpenText t(dir, "$ one\n   $ two\n*NODE\n$ c\n  1 2 3\n*END\n");
    EXPECT_EQ(t.file.SkipCommentLine(), 0);
    EXPECT_EQ(t.file.GetLine(), "*NODE");
    CsString line;
    EXPECT_EQ(t.file.FindDataLine(line), 1);
    EXPECT_EQ(line, "1 2 3");
    EXPECT_EQ(t.file.FindDataLine(line), 0);  // the keyword stays unread
    EXPECT_EQ(t.file.GetLine(), "*END");
    EXPECT_EQ(t.file.FindDataLine(line), 0);  // end of file: no data line
    EXPECT_EQ(t.file.SkipCommentLine(), 1);
}

TEST(FieldExtraction, FixedAndFreeFormat)
{
    EXPECT_EQ(Field("       123       4.5", 2), "       4.5");
    EXPECT_EQ(Field("       123       4.5", 3), "<null>");
    EXPECT_EQ(Field("123456", 2), "<null>");
    EXPECT_EQ(Field("123456789012   ", 2), "12   ");
    EXPECT_EQ(Field("          1", 1), "<null>");  // ten blanks
    EXPECT_EQ(Field("1234567890     ", 2), "<null>");  // ends inside the blanks
    EXPECT_EQ(Field("1, 2,,4", 3), "<null>");
    EXPECT_EQ(Field("1, 2,,4", 4), "4");
    EXPECT_EQ(Field("1, 2 ,,4", 2), "2 ");
    EXPECT_EQ(Field("1,2,   ", 3), "<null>");
    EXPECT_EQ(Field("1,2", 0), "<null>");
    const std::string wide = "1," + std::string(120, '7');
    EXPECT_EQ(Field(wide.c_str(), 2), std::string(80, '7'));
}

// The extension decides whether a deck is accepted; the directory is where
// a relative include is looked for. Both separators count.
TEST(FileNames, ExtensionsAndDirectories)
{
    for (const auto& [name, ext] : std::vector<std::pair<const char*, const char*>>{
             {"blank.dynain", "dynain"}, {"deck.DYN", "DYN"}, {"deck.", ""}, {"job/dynain", "job/dynain"}})
        EXPECT_EQ(CsTextFile(name).FindExName(), ext) << name;
    EXPECT_EQ(CsTextFile("a/b\\c.dyn").GetFilePath(), "a");
    EXPECT_EQ(CsTextFile("b\\c.dyn").GetFilePath(), "b");
    EXPECT_EQ(CsTextFile("c.dyn").GetFilePath(), "c.dyn");
}

TEST(FileOpening, RefusalsAndBinaryRead)
{
    ScratchDir dir("open");
    CsTextFile f;
    EXPECT_EQ(f.OpenFile("", CsFile::READ), 0);
    EXPECT_EQ(f.OpenFile(dir.path().string().c_str(), CsFile::READ), 0);  // a directory
    EXPECT_EQ(f.OpenFile(dir.file("x.k").c_str(), static_cast<CsFile::MODE>(7)), 0);
    EXPECT_EQ(f.OpenFile(dir.file("out.k").c_str(), CsFile::WRITE), 1);
    f.WriteString("a");
    f.Write("%d", 5);
    f.WriteFeed();
    f.CloseFile();
    f.WriteString("ignored when closed");
    EXPECT_EQ(testutil::ReadFile(dir.file("out.k")), "a5\n");
}

// The log's plain and job names are checked through the program in
// test_trimctrl and test_annealjob. Tests that run a job in this process
// leave its key id set, so the state is cleared before and after.
TEST(MessageLog, FallsBackToSlvNameAndKeepsListOnFailure)
{
    const auto clear = [] {
        CsMessage::Free();
        dataManage.SetCurWorkPath("");
        SetKeyId("");
    };
    clear();
    ScratchDir dir("logfail");
    dataManage.SetCurWorkPath((dir.path() / "deck.dyn").string().c_str());
    SetKeyId("part1");
    std::filesystem::create_directory(dir.path() / "part1.messag");  // blocks the first name
    CsMessage msg("kept");
    CsWrtMsg log;
    EXPECT_EQ(log.WriteFile(), 1);
    EXPECT_EQ(testutil::ReadFile(dir.file("part1_slv.messag")), "kept\n");

    dataManage.SetCurWorkPath((dir.path() / "nowhere" / "deck.dyn").string().c_str());
    CsMessage lost("not lost");
    CsWrtMsg failing;
    EXPECT_EQ(failing.WriteFile(), 0);
    EXPECT_EQ(CsMessage().GetMsgArr().size(), 1u);
    clear();
}

// Only the leading dots: inner ones belong to the name.
TEST(SafeFileName, KeyIdsStayVisibleInTheirDirectory)
{
    for (const auto& [id, name] : std::vector<std::pair<const char*, const char*>>{
             {"part1", "part1"}, {"../X", "___X"}, {"a\\b/c", "a_b_c"}, {"..", "__"}, {".", "_"},
             {".hidden", "_hidden"}, {"job.v2", "job.v2"}, {"../../up", "___.._up"}})
        EXPECT_EQ(SafeFileName(id), name) << id;
}

namespace {

// Whether the field parser reads the text as strtof does (a NaN as a NaN).
bool ParsesLikeStrtof(const char* text)
{
    const float parsed = ParseFieldFloat(text, text + std::strlen(text));
    const float expected = std::strtof(text, nullptr);
    return std::isnan(expected) ? std::isnan(parsed) : std::memcmp(&parsed, &expected, sizeof parsed) == 0;
}

}  // namespace

// The fast paths decline to the exact conversion near ties; whatever path a
// text takes, the value must be the C library's. Formatting is held to printf
// in test_stress.
TEST(FieldNumbers, ParsingEqualsTheCLibrary)
{
    std::mt19937_64 rng(21);
    char text[64];
    for (int i = 0; i < 200000; ++i) {
        float x = 0.0f;
        const int kind = i % 4;
        if (kind == 0) {
            const uint32_t bits = static_cast<uint32_t>(rng());
            std::memcpy(&x, &bits, sizeof x);
            if (!std::isfinite(x)) continue;
        } else if (kind == 1) {
            // Decimal halfway points of the 4th and 10th digit, and their neighbours.
            const double base = static_cast<double>(rng() % 9000 + 1000) + 0.5;
            x = static_cast<float>(base * std::pow(10.0, static_cast<int>(rng() % 20) - 10));
            if (rng() % 2) x = std::nextafter(x, 0.0f);
        } else {
            x = static_cast<float>(std::ldexp(static_cast<double>(rng() % 2000001) - 1000000.0,
                                              static_cast<int>(rng() % 60) - 40));
        }
        for (const int precision : {3, 9}) {
            std::snprintf(text, sizeof text, "%.*e", precision, static_cast<double>(x));
            ASSERT_TRUE(ParsesLikeStrtof(text)) << text;
        }
        // Plain decimals as people type them.
        std::snprintf(text, sizeof text, "  %.*f", static_cast<int>(rng() % 8), static_cast<double>(x));
        ASSERT_TRUE(ParsesLikeStrtof(text)) << text;
        // At and next to the midpoint between two floats, where a double
        // rounded once too often would round the float the other way.
        const float mantissa = static_cast<float>((rng() % (1u << 23)) + (1u << 23));
        const float f = std::ldexp(mantissa, static_cast<int>(rng() % 250) - 170);
        const double midpoint = (static_cast<double>(f) + static_cast<double>(std::nextafter(f, 1e38f))) / 2;
        if (i % 2 && midpoint < 1e15) std::snprintf(text, sizeof text, "%.0f", midpoint);
        else std::snprintf(text, sizeof text, "%.*e", static_cast<int>(rng() % 8) + 7, midpoint);
        ASSERT_TRUE(ParsesLikeStrtof(text)) << text;
    }
    for (const char* odd : {"", "   ", "-", "+1.5", "1.5e", "1e400", "-0.0", ".5", "5.", "nan", "-inf", "1.5D+02",
                            "123456789012345678901234567890", "0.00000000000000000000000000000000000000000001"})
        EXPECT_TRUE(ParsesLikeStrtof(odd)) << odd;
}

// Every text of the 10-column form, with and without a leading zero in the
// exponent: read as the general parser reads it, and where the reader says
// the value writes back as the same text, it does.
TEST(FieldNumbers, ShortenedFieldsReadLikeTheGeneralParser)
{
    char field[32];
    char out[48];
    int same = 0;
    for (const char* format : {"%s%d.%03de%c%d", "%s%d.%03de%c%02d"}) {
        for (int i = 0; i < 4 * 46 * 10000; ++i) {
            const int m = i % 10000;
            const int e = i / 10000 % 46;
            std::snprintf(field, sizeof field, format, i / 460000 % 2 ? "-" : "", m / 1000, m % 1000,
                          i / 920000 ? '-' : '+', e);
            const std::string text = std::string(10 - std::min<size_t>(10, std::strlen(field)), ' ') + field;
            if (text.size() != 10) continue;
            const float expected = ParseFieldFloat(text.c_str(), text.c_str() + 10);
            const bool written = IsWrittenField10(text.c_str());
            if (written) {
                FormatShortenedField(out, 10, 3, static_cast<double>(expected));
                ASSERT_EQ(out, text);
                ++same;
            }
            float value = 0.0f;
            if (!ReadShortenedField10(text.c_str(), value)) continue;
            ASSERT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text;
        }
    }
    // The written form of every four-digit value a normal float holds, and
    // of both zeros.
    EXPECT_GT(same, 2 * 9000 * 120);
    FormatShortenedField(out, 10, 3, 1e300);
    EXPECT_STREQ(out, "1.000e+300");  // three exponent digits keep theirs
    float value = 0.0f;
    for (const char* other :
         {" 1.234e+2 ", "\t 1.234e+2", " +1.234e+2", "  1.23e+02", "  1.234E+2", "  1.234e+ ", " 1.2345e+2",
          "1.234e+2  ", "  1.234e+a", "- 1.234e+2", "-1.234e+2 ", "  1:234e+2", "  1.2/4e+2", "  :.234e+2",
          "  1.234f+2", "  1.234e,2", "  1.234e+:", " 1.234e+1:", " 1.234e+/1", "x 1.234e+2", "  1.234e*2"}) {
        EXPECT_FALSE(ReadShortenedField10(other, value)) << other;
        EXPECT_FALSE(IsWrittenField10(other)) << other;
    }
}

// Texts of numbers as people and programs write them, and broken ones: the
// fast paths must answer as std::from_chars does.
TEST(FieldNumbers, WholeNumbersReadAsFromChars)
{
    std::mt19937 rng(17);
    std::vector<std::string> texts = {
        "",           "-",          ".",           "5.",          ".5",    "-.5",   "-5.",   "1e5",
        "1E5",        "1e+5",       "1e-5",        "1e",          "1e+",   "+5",    "--5",   "-0",
        "0",          "00012",      "1.5.2",       "1,5",         "inf",   "nan",   "1e400", "1e-400",
        "2147483647", "2147483648", "-2147483648", "-2147483649", "1.5d2", " 1",    "1 ",    "0x10",
        "12345678901234567890", "0.000000000000000000001234", "9007199254740993"};
    const char alphabet[] = "0123456789.-+eE";
    char field[48];
    for (int i = 0; i < 200000; ++i) {
        std::string t(rng() % 12 + 1, '0');
        for (char& c : t) c = alphabet[rng() % (rng() % 3 ? 10 : sizeof alphabet - 1)];
        texts.push_back(t);
        // The 16-column form this program writes, and the same with one byte changed.
        const double x =
            std::ldexp(static_cast<double>(rng()) - 2147483648.0, static_cast<int>(rng() % 160) - 100);
        FormatShortenedField(field, 16, 9, x);
        t = field + std::strspn(field, " ");
        texts.push_back(t);
        t[rng() % t.size()] = alphabet[rng() % (sizeof alphabet - 1)];
        texts.push_back(t);
    }
    for (const std::string& t : texts) {
        const char* b = t.data();
        const char* e = b + t.size();
        double fast = 0.0;
        double exact = 0.0;
        const std::from_chars_result r = std::from_chars(b, e, exact);
        const bool ok = r.ec == std::errc() && r.ptr == e;
        ASSERT_EQ(ParseWholeDouble(b, e, fast), ok) << t;
        ASSERT_TRUE(!ok || std::memcmp(&fast, &exact, sizeof fast) == 0) << t;
        int fastInt = 0;
        int exactInt = 0;
        const std::from_chars_result ri = std::from_chars(b, e, exactInt);
        const bool okInt = ri.ec == std::errc() && ri.ptr == e;
        ASSERT_EQ(ParseWholeInt(b, e, fastInt), okInt) << t;
        ASSERT_TRUE(!okInt || fastInt == exactInt) << t;
    }
}
