// The picture tool, run as a user runs it; its PNGs are read back with libpng
// and checked by the colour of pixels at places derived from the model.
#include "test_trimcheck.h"

#include <gtest/gtest.h>
#include <png.h>

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::ScratchDir;
using testutil::WriteFile;

namespace {

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << '(' << c.r << ',' << c.g << ',' << c.b << ')'; }

bool Near(const Rgb& a, const Rgb& b, int tolerance = 3)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};
const Rgb kMagenta{255, 0, 255};
const Rgb kDivider{200, 200, 200};
const Rgb kFirstPart{31, 119, 180};
const Rgb kSecondPart{255, 127, 14};
const Rgb kNoData{150, 150, 150};
const Rgb kRampLow{40, 40, 255};
const Rgb kRampQuarter{0, 200, 255};
const Rgb kRampHigh{230, 30, 30};

// A removed element fades 70 % of the way to light grey.
Rgb Ghost(const Rgb& c)
{
    const auto f = [](int x) { return static_cast<int>(x + (225 - x) * 0.7 + 0.5); };
    return {f(c.r), f(c.g), f(c.b)};
}

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    Rgb At(int x, int y) const
    {
        const std::size_t k = (static_cast<std::size_t>(y) * width + x) * 3;
        return {rgb[k], rgb[k + 1], rgb[k + 2]};
    }
};

// The simplified libpng reader; the guard frees it when reading stops half way.
Image ReadPng(const std::string& path)
{
    struct Guard {
        png_image image{};
        ~Guard() { png_image_free(&image); }
    } guard;
    guard.image.version = PNG_IMAGE_VERSION;
    Image out;
    if (!png_image_begin_read_from_file(&guard.image, path.c_str())) return out;
    guard.image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(guard.image));
    if (!png_image_finish_read(&guard.image, nullptr, pixels.data(), 0, nullptr)) return out;
    out.width = static_cast<int>(guard.image.width);
    out.height = static_cast<int>(guard.image.height);
    out.rgb = std::move(pixels);
    return out;
}

using ViewRun = testutil::RunResult;

ViewRun RunView(const ScratchDir& dir, const std::string& args) { return testutil::RunTool(dir, CORVEX_VIEW, args); }

void Generate(const ScratchDir& dir, const std::string& args)
{
    ASSERT_EQ(testutil::RunTool(dir, CORVEX_GENBLANK, args).status, 0) << args;
}

// The x and y extent of the nodes of a dynain, read from its fixed columns.
struct Extent {
    double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
};

Extent NodeExtent(const std::string& path)
{
    Extent e;
    for (const auto& [id, p] : trimcheck::ParseFile(path).nodes) {
        e.x0 = std::min(e.x0, p[0]), e.x1 = std::max(e.x1, p[0]);
        e.y0 = std::min(e.y0, p[1]), e.y1 = std::max(e.y1, p[1]);
    }
    return e;
}

// Runs of drawn pixels along a row: the blank's panels, the legend beyond them.
std::vector<std::pair<int, int>> Runs(const Image& image, int y)
{
    const auto drawn = [&](int x) { return !(image.At(x, y) == kWhite) && !(image.At(x, y) == kDivider); };
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < image.width; ++x) {
        if (!drawn(x)) continue;
        const int start = x;
        while (x + 1 < image.width && drawn(x + 1)) ++x;
        runs.emplace_back(start, x);
    }
    return runs;
}

// A picture the tool drew (the run must succeed) and the runs of drawn
// pixels along the row dy below its middle.
struct Shot {
    Image image;
    int y = 0;
    std::vector<std::pair<int, int>> runs;
    std::string out;
    double Width() const { return runs[0].second - runs[0].first + 1; }
    // The colour a share f of the first run's width into the given run.
    Rgb At(double f, std::size_t run = 0) const { return image.At(runs[run].first + static_cast<int>(f * Width()), y); }
};

Shot Draw(const ScratchDir& dir, const std::string& args, const std::string& png, int dy = 0)
{
    Shot s;
    const ViewRun r = RunView(dir, args + " -o " + png);
    EXPECT_EQ(r.status, 0) << r.out;
    s.out = r.out;
    s.image = ReadPng(dir.file(png));
    s.y = s.image.height / 2 + dy;
    if (s.image.width > 0) s.runs = Runs(s.image, s.y);
    return s;
}

// A row of three unit-thick squares, ids 1 to 3, with stresses for the first two.
std::string SmallDynain(const std::string& stresses)
{
    std::string s = "*KEYWORD\n*NODE\n";
    char row[128];
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 4; ++i) {
            std::snprintf(row, sizeof row, "%8d%16.6e%16.6e%16.6e\n", 1 + i + 4 * j, 10.0 * i, 10.0 * j, 0.0);
            s += row;
        }
    s += "*ELEMENT_SHELL_THICKNESS\n";
    const double thick[3] = {1.0, 0.8, 0.9};
    for (int e = 0; e < 3; ++e) {
        std::snprintf(row, sizeof row, "%8d%8d%8d%8d%8d%8d\n", e + 1, 1, e + 1, e + 2, e + 6, e + 5);
        s += row;
        std::snprintf(row, sizeof row, "%16.6e%16.6e%16.6e%16.6e\n", thick[e], thick[e], thick[e], thick[e]);
        s += row;
    }
    return s + stresses + "*END\n";
}

// Element 1: EPS 0.05, 0.1, 0.15 (mean 0.1); element 2 in the LARGE layout: 0.3 at both points.
const char* const kStresses =
    "*INITIAL_STRESS_SHELL\n"
    "         1         1         3         0\n"
    " -1.000e+0  1.000e+2  0.000e+0  0.000e+0  0.000e+0  0.000e+0  0.000e+0  5.000e-2\n"
    "  0.000e+0  1.000e+2  0.000e+0  0.000e+0  0.000e+0  0.000e+0  0.000e+0  1.000e-1\n"
    "  1.000e+0  1.000e+2  0.000e+0  0.000e+0  0.000e+0  0.000e+0  0.000e+0  1.500e-1\n"
    "         2         1         2         2         0         1\n"
    " -1.00000000e+00  1.00000000e+02  0.00000000e+00  0.00000000e+00  0.00000000e+00\n"
    "  0.00000000e+00  0.00000000e+00  3.00000000e-01  7.00000000e+00  8.00000000e+00\n"
    "  1.00000000e+00  1.00000000e+02  0.00000000e+00  0.00000000e+00  0.00000000e+00\n"
    "  0.00000000e+00  0.00000000e+00  3.00000000e-01  7.00000000e+00  8.00000000e+00\n";

// The colour at the middle of each of the three squares, seen along z.
std::array<Rgb, 3> SquareColours(const ScratchDir& dir, const std::string& args)
{
    const Shot s = Draw(dir, args + " small.dynain --size 400x200", "small.png");
    if (s.runs.empty()) return {};
    return {s.At(0.5 / 3), s.At(1.5 / 3), s.At(2.5 / 3)};
}

}  // namespace

TEST(ViewTool, PartsHaveTheirColoursWhereTheyLieAndTheBackgroundIsOutside)
{
    ScratchDir dir("view-parts");
    Generate(dir, "--shape flat --elements 400 --levels 0 --no-state -o flat.dynain");
    // The blank is the first run on the middle row; the legend lies beyond it.
    const Shot s = Draw(dir, "flat.dynain --size 800x600", "flat.png");
    const Image& image = s.image;
    ASSERT_EQ(image.width, 800);
    ASSERT_EQ(image.height, 600);
    ASSERT_GE(s.runs.size(), 1u);
    const int y = s.y, left = s.runs[0].first, right = s.runs[0].second;
    const Extent e = NodeExtent(dir.file("flat.dynain"));
    // Left half: the first part; right of the middle, before the two columns of
    // triangles: the second part.
    EXPECT_TRUE(Near(s.At(0.25), kFirstPart)) << s.At(0.25);
    EXPECT_TRUE(Near(s.At(0.6), kSecondPart)) << s.At(0.6);
    EXPECT_EQ(image.At(left - 2, y), kWhite);

    // Not stretched: the drawn height over width is the blank's.
    int top = y, bottom = y;
    const int x = left + static_cast<int>(0.25 * s.Width());
    while (top > 0 && image.At(x, top - 1) == kFirstPart) --top;
    while (bottom + 1 < image.height && image.At(x, bottom + 1) == kFirstPart) ++bottom;
    const double drawn = static_cast<double>(bottom - top + 1) / (right - left + 1);
    EXPECT_NEAR(drawn, (e.y1 - e.y0) / (e.x1 - e.x0), 0.02);
    EXPECT_EQ(image.At(x, top - 3), kWhite);
    EXPECT_EQ(image.At(x, std::min(bottom + 3, image.height - 1)), kWhite);

    // The legend shows each part's swatch right of the blank.
    int first = 0, second = 0;
    for (int yy = 0; yy < image.height; ++yy)
        for (int xx = right + 2; xx < image.width; ++xx) {
            first += image.At(xx, yy) == kFirstPart;
            second += image.At(xx, yy) == kSecondPart;
        }
    EXPECT_GT(first, 20);
    EXPECT_GT(second, 20);
}

TEST(ViewTool, AParentCutIntoSurvivingPiecesIsNotGhosted)
{
    ScratchDir dir("view-pieces");
    const std::string base = SmallDynain("");
    WriteFile(dir.file("before.dynain"), base);
    // Square 2 is gone by id, cut into two triangles with new ids; square 3 is gone.
    const std::size_t two = base.find("       2       1       2");
    ASSERT_NE(two, std::string::npos);
    const std::string cut = base.substr(0, two) +
                  "     101       1       2       3       7       7\n"
                  "    8.000000e-01    8.000000e-01    8.000000e-01    8.000000e-01\n"
                  "     102       1       2       7       6       6\n"
                  "    8.000000e-01    8.000000e-01    8.000000e-01    8.000000e-01\n" + base.substr(base.find("*END"));
    WriteFile(dir.file("after.dynain"), cut);
    const Shot s = Draw(dir, "before.dynain --after after.dynain --size 600x200", "pair.png", 3);
    EXPECT_NE(s.out.find("wrote"), std::string::npos);
    ASSERT_GE(s.runs.size(), 2u);
    EXPECT_EQ(s.At(1.0 / 6), kFirstPart);
    EXPECT_EQ(s.At(3.0 / 6), kFirstPart) << "the cut parent survives in its pieces";
    EXPECT_TRUE(Near(s.At(5.0 / 6), Ghost(kFirstPart))) << s.At(5.0 / 6);
    // Same scale in both panels; the kept edge that lost its neighbour is new,
    // in magenta in the after panel only; the old outer edge is not new.
    EXPECT_EQ(s.At(1.0 / 6, 1), kFirstPart);
    EXPECT_EQ(s.At(3.0 / 6, 1), kFirstPart);
    EXPECT_EQ(s.At(5.0 / 6, 1), kWhite);
    int magentaAfter = 0, magentaBefore = 0;
    for (double f = 0.6; f < 0.75; f += 0.002) magentaAfter += s.At(f, 1) == kMagenta;
    for (double f = 0; f < 1; f += 0.002) magentaBefore += s.At(f) == kMagenta;
    EXPECT_GT(magentaAfter, 0);
    EXPECT_EQ(magentaBefore, 0);
    EXPECT_FALSE(s.At(0, 1) == kMagenta);
}

// An IGES file of one line (110) from (x, y0) to (x, y1); the library's matrices and other
// entities are tested with the library.
std::string IgesLine(double x, double y0, double y1)
{
    const auto card = [](std::string data, std::size_t width, const char* tail) {
        data.resize(width, ' ');
        return data + tail + "\n";
    };
    char text[160];
    std::snprintf(text, sizeof text, "110,%.4f,%.4f,0.,%.4f,%.4f,0.;", x, y0, x, y1);
    return card("", 72, "S      1") +
           card("     110       1       0       0       0       0       0       000000000", 72, "D      1") +
           card("     110       0       0       1       0", 72, "D      2") + card(text, 64, "       1P      1");
}

// The middle row crosses one curve, at 30 % of the blank's width, and the
// curve runs on past the blank.
void ExpectVerticalCurveAt30Percent(const Shot& s)
{
    ASSERT_GE(s.runs.size(), 1u);
    const Image& image = s.image;
    const int expected = s.runs[0].first + static_cast<int>(0.3 * s.Width());
    std::vector<int> black;
    for (int xx = s.runs[0].first; xx <= s.runs[0].second; ++xx)
        if (image.At(xx, s.y) == kBlack) black.push_back(xx);
    ASSERT_FALSE(black.empty());
    EXPECT_LE(std::abs(black.front() - expected), 2);
    EXPECT_LE(std::abs(black.back() - expected), 2);
    // Beyond the blank the curve is still drawn: the fit takes it in.
    int curve = 0, sheet = 0;
    for (int yy = 0; yy < image.height; ++yy) {
        curve += image.At(black.front(), yy) == kBlack;
        sheet += !(image.At(black.front() + 10, yy) == kWhite);
    }
    EXPECT_GT(curve, sheet) << "the curve reaches past the blank";
}

TEST(ViewTool, DeckCurvesAreDrawnWhereTheyLie)
{
    ScratchDir dir("view-curve");
    Generate(dir, "--shape flat --elements 400 --levels 0 --no-state -o flat.dynain");
    const Extent e = NodeExtent(dir.file("flat.dynain"));
    // A vertical line at 30 % of the width, beyond the blank above and below.
    const double x = e.x0 + 0.3 * (e.x1 - e.x0);
    const double margin = 0.25 * (e.y1 - e.y0);
    const char* const vector = "*DEFINE_VECTOR\n$ id\n         1       0.0       0.0       0.0       0.0       0.0       1.0\n";
    char deck[1024];
    std::snprintf(deck, sizeof deck,
                  "*KEYWORD\n%s*DEFINE_CURVE_TRIM\n$ id type flag vector\n         1         0        -1         1\n"
                  "%20.6f%20.6f\n%20.6f%20.6f\n%20.6f%20.6f\n*INCLUDE\nflat.dynain\n*END\n",
                  vector, x, e.y0 - margin, x, 0.5 * (e.y0 + e.y1), x, e.y1 + margin);
    WriteFile(dir.file("job.dyn"), deck);
    for (const char* view : {"z", "vector"}) {
        SCOPED_TRACE(view);
        // The dynain comes from the deck's *INCLUDE.
        ExpectVerticalCurveAt30Percent(Draw(dir, std::string("--deck job.dyn --size 800x600 --view ") + view, "curve.png", 5));
    }

    // The same line from an IGES file.
    std::filesystem::create_directories(dir.file("curves"));
    WriteFile(dir.file("curves/line.igs"), IgesLine(x, e.y0 - margin, e.y1 + margin));
    for (const char* card : {"*DEFINE_CURVE_TRIM\n         1         2        -1         1\n",
                             "*DEFINE_CURVE_TRIM_3D\n         1         2         1         0       0.0       0.0         1\n"}) {
        SCOPED_TRACE(card);
        WriteFile(dir.file("curves/iges.dyn"), std::string("*KEYWORD\n") + vector + card + "line.igs\n*INCLUDE\n../flat.dynain\n*END\n");
        ExpectVerticalCurveAt30Percent(Draw(dir, "--deck curves/iges.dyn --size 800x600", "iges.png", 5));
    }

    // A missing IGES file is reported; the blank is drawn all the same.
    WriteFile(dir.file("curves/lost.dyn"), std::string("*KEYWORD\n") + vector +
                                               "*DEFINE_CURVE_TRIM\n         1         2        -1         1\nlost.igs\n"
                                               "*INCLUDE\n../flat.dynain\n*END\n");
    const ViewRun r = RunView(dir, "--deck curves/lost.dyn -o lost.png");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("lost.igs"), std::string::npos) << r.out;
}

TEST(ViewTool, ScalarFieldsAreColouredOverTheirRangeAndMeshEdgesOutlineElements)
{
    ScratchDir dir("view-scalar");
    WriteFile(dir.file("small.dynain"), SmallDynain(kStresses));
    // Mean EPS 0.1 and 0.3; the third square has no record.
    std::array<Rgb, 3> c = SquareColours(dir, "--colour eps");
    EXPECT_TRUE(Near(c[0], kRampLow)) << c[0];
    EXPECT_TRUE(Near(c[1], kRampHigh)) << c[1];
    EXPECT_EQ(c[2], kNoData);
    c = SquareColours(dir, "--colour eps --range 0:0.4");
    EXPECT_TRUE(Near(c[0], kRampQuarter)) << c[0];
    // Thickness 1.0, 0.8, 0.9.
    c = SquareColours(dir, "--colour thickness");
    EXPECT_TRUE(Near(c[0], kRampHigh)) << c[0];
    EXPECT_TRUE(Near(c[1], kRampLow)) << c[1];
    EXPECT_FALSE(Near(c[2], kRampLow) || Near(c[2], kRampHigh)) << c[2];

    // Mesh edges outline the elements, but the diagonal of a quadrilateral is no edge.
    const Rgb edge{19, 71, 108};  // the first part's colour at 60 %
    for (const bool mesh : {false, true}) {
        SCOPED_TRACE(mesh);
        const Shot s = Draw(dir, std::string(mesh ? "--mesh " : "") + "small.dynain --size 400x200", "mesh.png");
        ASSERT_GE(s.runs.size(), 1u);
        const Image& image = s.image;
        const int y = s.y, shared = s.runs[0].first + static_cast<int>(s.Width() / 3);
        int dark = 0;
        for (int x = shared - 3; x <= shared + 3; ++x) dark += image.At(x, y) == edge;
        EXPECT_EQ(dark > 0, mesh);
        // Down the middle of the first square: its diagonal crosses there, its
        // top and bottom sides end it.
        const int x = s.runs[0].first + static_cast<int>(s.Width() / 6);
        int top = y, bottom = y;
        while (top > 0 && !(image.At(x, top - 1) == kWhite)) --top;
        while (bottom + 1 < image.height && !(image.At(x, bottom + 1) == kWhite)) ++bottom;
        int inside = 0;
        for (int yy = top + 3; yy <= bottom - 3; ++yy) inside += image.At(x, yy) == edge;
        EXPECT_EQ(inside, 0) << "the diagonal is no edge";
        EXPECT_EQ(image.At(x, top) == edge, mesh);
    }
}

TEST(ViewTool, SvgHoldsOneFacePerElementNearestLastAndIsRefusedForBigBlanks)
{
    ScratchDir dir("view-svg");
    WriteFile(dir.file("small.dynain"), SmallDynain(""));
    ViewRun r = RunView(dir, "small.dynain -o small.svg");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string svg = ReadFile(dir.file("small.svg"));
    std::size_t faces = 0;
    for (std::size_t at = svg.find("<polygon"); at != std::string::npos; at = svg.find("<polygon", at + 1)) ++faces;
    EXPECT_EQ(faces, 3u);
    EXPECT_NE(svg.find("PART 1"), std::string::npos);

    // The second part lies one unit above the first and is written first, so drawing in file order would bury it.
    std::string s = "*KEYWORD\n*NODE\n";
    char row[128];
    for (int layer = 0; layer < 2; ++layer)
        for (int k = 0; k < 4; ++k) {
            std::snprintf(row, sizeof row, "%8d%16.6e%16.6e%16.6e\n", 1 + k + 4 * layer, 10.0 * (k == 1 || k == 2),
                          10.0 * (k >= 2), layer == 0 ? 1.0 : 0.0);
            s += row;
        }
    s += "*ELEMENT_SHELL\n       1       2       1       2       3       4\n       2       1       5       6       7       8\n*END\n";
    WriteFile(dir.file("layers.dynain"), s);
    const Shot shot = Draw(dir, "layers.dynain --size 300x200", "layers.png");
    ASSERT_GE(shot.runs.size(), 1u);
    EXPECT_EQ(shot.At(0.5), kSecondPart);

    // In SVG the farther face comes first, so the nearer one is painted over it.
    r = RunView(dir, "layers.dynain -o layers.svg");
    ASSERT_EQ(r.status, 0) << r.out;
    svg = ReadFile(dir.file("layers.svg"));
    const std::size_t first = svg.find("<polygon");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(svg.find("fill=\"#1f77b4\"", first), std::string::npos);
    EXPECT_LT(svg.find("#1f77b4", first), svg.find("#ff7f0e", first));

    Generate(dir, "--shape flat --elements 60000 --levels 0 --no-state -o big.dynain");
    r = RunView(dir, "big.dynain -o big.svg");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("50000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-o big.png"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("big.svg")));
}

TEST(ViewTool, HelpExitsWithZeroAndBadInputWithTwo)
{
    ScratchDir dir("view-usage");
    ViewRun r = RunView(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage:"), std::string::npos);

    WriteFile(dir.file("small.dynain"), SmallDynain(""));
    WriteFile(dir.file("text.dynain"), "hello\nthis is no keyword file\n");
    std::string broken = SmallDynain("");
    broken.replace(broken.find("       3    2.0"), 15, "       3    two");
    WriteFile(dir.file("broken.dynain"), broken);
    std::string orphan = SmallDynain("");
    orphan.replace(orphan.find("       3       1       3"), 24, "       3       1      99");
    WriteFile(dir.file("orphan.dynain"), orphan);
    struct Case {
        const char* args;
        const char* says;
    };
    const Case cases[] = {
        {"missing.dynain", "missing.dynain"},
        {"text.dynain", "no shell elements"},
        {"broken.dynain", "line 5"},
        {"orphan.dynain", "node 99"},
        {".", "directory"},
        {"", "no dynain"},
        {"small.dynain --size 20x20", "--size"},
        {"small.dynain --colour hue", "--colour"},
        {"small.dynain --view top", "--view"},
        {"small.dynain --range 2:1", "--range"},
        {"small.dynain --view vector", "*DEFINE_VECTOR"},
        {"small.dynain --colour eps", "INITIAL_STRESS_SHELL"},
        {"small.dynain --deck missing.dyn", "missing.dyn"},
        {"small.dynain --deck small.dynain --bogus 1", "--bogus"},
        {"small.dynain --output", "--output"},
        {"small.dynain -o /no/such/folder/x.png", "cannot write"},
    };
    for (const Case& c : cases) {
        r = RunView(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
    }
}

