// corvexandrilo-view: draws a dynain, or a job's dynain before and after, to
// PNG (any size of blank) or SVG (small blanks).
#include "model.h"
#include "render.h"
#include "scene.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kSvgLimit = 50000;
constexpr int kMaxSide = 10000;

const char* const kHelp =
    "usage: corvexandrilo-view [options] [DYNAIN]\n"
    "\n"
    "Draws a dynain (a shell mesh state file) to a PNG or SVG picture.\n"
    "\n"
    "  DYNAIN                 the dynain to draw; may be left out when --deck names one in *INCLUDE\n"
    "  -o, --output FILE      the picture to write; .svg writes SVG, anything else PNG\n"
    "                         (default: the dynain's file name with .png, in the current folder)\n"
    "  --colour part|thickness|eps\n"
    "                         colour by part id (with a legend), by shell thickness (mean of the\n"
    "                         corner thicknesses) or by effective plastic strain (mean over the\n"
    "                         element's integration points in *INITIAL_STRESS_SHELL), both with a\n"
    "                         colour bar; default part (--color is the same option)\n"
    "  --mesh                 draw element edges, in a darker shade, on elements at least\n"
    "                         6 pixels across\n"
    "  --range MIN:MAX        the colour bar's range for thickness or eps (default: the data's range)\n"
    "  --deck FILE            a deck: its trim curves are drawn in black, its *DEFINE_VECTOR\n"
    "                         gives --view vector, its *INCLUDE the dynain. Curves are read from\n"
    "                         *DEFINE_CURVE_TRIM points and from IGES files (2D and 3D sets):\n"
    "                         lines, circular arcs, B-splines and copious data, placed by their\n"
    "                         transformation matrices; other IGES entities are skipped. An IGES\n"
    "                         file that cannot be read is reported and the picture drawn without\n"
    "                         it. A 2D curve lies where it cuts when seen along its vector.\n"
    "  --after FILE           the dynain a job wrote from DYNAIN: both are drawn side by side at\n"
    "                         the same scale; elements whose ids are gone from FILE (and not cut\n"
    "                         into pieces that remain) are ghosted on the left, free edges FILE\n"
    "                         has and DYNAIN had not are drawn in magenta on the right\n"
    "  --view z|vector|iso    look along z from above (default), along the deck's trim vector\n"
    "                         (that of the first point curve, else the first one), or isometric\n"
    "  --size WxH             picture size in pixels, 64 to 10000 each (default 1200x900);\n"
    "                         with --after both panels share it\n"
    "  -h, --help             this text\n"
    "\n"
    "PNG draws any blank (2 million elements in a few seconds). SVG is refused above 50000\n"
    "elements (both dynains together): write a .png with -o instead.\n"
    "Exit status: 0 when the picture is written, 2 for bad options or unreadable input.\n"
    "\n"
    "examples:\n"
    "  corvexandrilo-view blank.dynain -o blank.png\n"
    "  corvexandrilo-view --colour eps --view iso --size 1600x1000 cup.dynain -o eps.png\n"
    "  corvexandrilo-view --deck trim2d-out.dyn --after trim2d_out.dynain -o job.png\n"
    "  corvexandrilo-view --colour thickness --range 0.9:1.0 small.dynain -o small.svg\n";

struct Options {
    std::string dynain, output, deck, after;
    view::ColourBy colour = view::ColourBy::Part;
    std::string viewKind = "z";
    int width = 1200, height = 900;
    bool mesh = false;
    bool rangeGiven = false;
    double low = 0, high = 1;
};

class UsageError : public std::exception {
public:
    explicit UsageError(std::string m) : message_(std::move(m)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

bool WholeNumber(const std::string& s, int& out)
{
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::atoi(s.c_str());
    return true;
}

bool Real(const std::string& s, double& out)
{
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

Options Parse(int argc, char** argv)
{
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "-h" || a == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (a == "--mesh") {
            o.mesh = true;
            continue;
        }
        if (a.empty() || a[0] != '-') {
            if (!o.dynain.empty()) throw UsageError("more than one dynain given: '" + o.dynain + "' and '" + a + "'");
            o.dynain = a;
            continue;
        }
        if (k + 1 >= args.size()) throw UsageError("unknown option or missing value: " + a);
        const std::string& v = args[++k];
        if (a == "-o" || a == "--output") {
            o.output = v;
        } else if (a == "--colour" || a == "--color") {
            if (v == "part") o.colour = view::ColourBy::Part;
            else if (v == "thickness") o.colour = view::ColourBy::Thickness;
            else if (v == "eps") o.colour = view::ColourBy::Eps;
            else throw UsageError(a + " wants part, thickness or eps, not '" + v + "'");
        } else if (a == "--range") {
            const std::size_t colon = v.find(':');
            if (colon == std::string::npos || !Real(v.substr(0, colon), o.low) || !Real(v.substr(colon + 1), o.high) ||
                !(o.low < o.high))
                throw UsageError("--range wants MIN:MAX with MIN < MAX, not '" + v + "'");
            o.rangeGiven = true;
        } else if (a == "--deck") {
            o.deck = v;
        } else if (a == "--after") {
            o.after = v;
        } else if (a == "--view") {
            if (v != "z" && v != "vector" && v != "iso") throw UsageError("--view wants z, vector or iso, not '" + v + "'");
            o.viewKind = v;
        } else if (a == "--size") {
            const std::size_t x = v.find_first_of("xX");
            if (x == std::string::npos || !WholeNumber(v.substr(0, x), o.width) || !WholeNumber(v.substr(x + 1), o.height) ||
                o.width < 64 || o.height < 64 || o.width > kMaxSide || o.height > kMaxSide)
                throw UsageError("--size wants WxH with each from 64 to " + std::to_string(kMaxSide) + ", not '" + v + "'");
        } else {
            throw UsageError("unknown option " + a);
        }
    }
    return o;
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    if (s.size() < tail.size()) return false;
    for (std::size_t k = 0; k < tail.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + k])) != tail[k]) return false;
    return true;
}

int Run(const Options& o)
{
    view::Deck deck;
    const bool haveDeck = !o.deck.empty();
    if (haveDeck) {
        deck = view::ReadDeck(o.deck);
        for (const std::string& problem : deck.unread)
            std::fprintf(stderr, "corvexandrilo-view: warning: curve not drawn: %s\n", problem.c_str());
    }
    std::string dynain = o.dynain;
    if (dynain.empty()) {
        if (!haveDeck) throw UsageError("no dynain given (and no --deck whose *INCLUDE names one)");
        if (deck.include.empty()) throw UsageError("no dynain given, and " + o.deck + " has no *INCLUDE");
        dynain = deck.include;
    }
    std::string output = o.output;
    if (output.empty()) {
        const std::size_t slash = dynain.find_last_of('/');
        output = (slash == std::string::npos ? dynain : dynain.substr(slash + 1)) + ".png";
    }
    const bool svg = EndsWith(output, ".svg");

    view::Picture picture;
    picture.width = o.width;
    picture.height = o.height;
    picture.colour = o.colour;
    picture.mesh = o.mesh;
    picture.rangeGiven = o.rangeGiven;
    picture.low = o.low;
    picture.high = o.high;
    if (o.viewKind == "vector") {
        const view::TrimVector* v = haveDeck ? deck.ViewVector() : nullptr;
        if (!v) throw UsageError("--view vector needs a --deck with a *DEFINE_VECTOR");
        picture.projection = view::Projection::Along(v->direction);
        picture.viewName = "VIEW ALONG VECTOR " + std::to_string(v->id);
    } else if (o.viewKind == "iso") {
        picture.projection = view::Projection::Isometric();
        picture.viewName = "ISOMETRIC VIEW";
    } else {
        picture.viewName = "VIEW ALONG Z";
    }

    view::ReadOptions read;
    read.stresses = o.colour == view::ColourBy::Eps;
    const view::Mesh before = view::ReadDynain(dynain, read);
    view::Mesh after;
    if (!o.after.empty()) after = view::ReadDynain(o.after, read);
    for (const view::Mesh* m : {&before, o.after.empty() ? static_cast<const view::Mesh*>(nullptr) : &after}) {
        if (!m) continue;
        if (o.colour == view::ColourBy::Eps && !m->haveEps)
            throw view::InputError(m->path + " has no *INITIAL_STRESS_SHELL records: nothing to colour by eps");
        if (o.colour == view::ColourBy::Thickness && !m->haveThickness)
            throw view::InputError(m->path + " has no *ELEMENT_SHELL_THICKNESS: nothing to colour by thickness");
    }
    const std::size_t count = before.elements.size() + after.elements.size();
    if (svg && count > kSvgLimit)
        throw UsageError("SVG is limited to " + std::to_string(kSvgLimit) + " elements and this picture has " +
                         std::to_string(count) + "; write a PNG instead, e.g. -o " +
                         output.substr(0, output.size() - 4) + ".png");
    picture.before = &before;
    picture.after = o.after.empty() ? nullptr : &after;
    picture.deck = haveDeck ? &deck : nullptr;

    const auto canvas = svg ? view::MakeSvg(o.width, o.height, view::kBackground)
                            : view::MakeRaster(o.width, o.height, view::kBackground);
    view::Draw(picture, *canvas);
    canvas->Save(output);
    std::printf("corvexandrilo-view: wrote %s (%zu elements)\n", output.c_str(), count);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(Parse(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "corvexandrilo-view: %s\n(--help lists the options)\n", e.what());
        return 2;
    } catch (const view::InputError& e) {
        std::fprintf(stderr, "corvexandrilo-view: %s\n", e.what());
        return 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "corvexandrilo-view: out of memory\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvexandrilo-view: internal error: %s\n", e.what());
        return 1;
    }
}
