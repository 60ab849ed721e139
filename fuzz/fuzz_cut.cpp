// Whole cutting jobs on a small generated blank (90 x 60, nodes on a 5-unit
// lattice, one adaptive level): the bytes choose the operation, its flags, the
// seed and the points of one or two curves, mostly on a 1.25-unit lattice so
// that curves meet nodes and edges exactly, sometimes nudged off it by a few
// ten-thousandths. The job runs as the program runs it; a run that stops
// because its own mesh check refused what the cutters made is a finding like
// a crash, since the cutters must never make a broken mesh.
//
// CORVEX_FUZZ_DUMP=deck.dyn writes the deck an input makes (it includes
// blank.dynain, the blank `corvex_genblank --shape flat --elements 100
// --levels 1 --nthick 3` writes), so a finding can be kept as a regression
// deck.
#include "fuzz_common.h"

#include "qdstrimalgo_verify.h"
#include "qdstrimctrl.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    unsigned Next() { return at_ < size_ ? data_[at_++] : 0u; }
    unsigned Next16() { return Next() | (Next() << 8); }
    bool Left() const { return at_ < size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

std::string Card(const char* format, double a = 0, double b = 0, double c = 0, double d = 0, double e = 0,
                 double f = 0, double g = 0)
{
    char line[200];
    std::snprintf(line, sizeof line, format, a, b, c, d, e, f, g);
    return line;
}

// A coordinate of the lattice from -10 to `span` + 10, now and then just off it.
double Coordinate(Bytes& in, double span)
{
    const unsigned steps = static_cast<unsigned>((span + 20.0) / 1.25) + 1;
    double v = -10.0 + 1.25 * static_cast<double>(in.Next16() % steps);
    const unsigned nudge = in.Next();
    if (nudge >= 224) v += (static_cast<double>(nudge) - 240.0) * 1e-4;
    return v;
}

std::string DeckOf(const uint8_t* data, size_t size)
{
    Bytes in(data, size);
    std::string deck = "*KEYWORD\n*KEYWORD_ID\njob\n";
    for (const int part : {27, 28, 29}) deck += "*PART\n" + Card("%10.0f%10.0f\n", part, 1);
    deck += "*SECTION_SHELL\n         1\n     1.000     1.000     1.000     1.000\n";
    deck += "*SET_PART_LIST\n         1\n        27        28        29\n";
    deck += "*ELEMENT_TRIM\n         1\n";
    deck += "*DEFINE_VECTOR\n" + Card("%10.0f%10.1f%10.1f%10.1f%10.1f%10.1f%10.1f\n", 1, 0, 0, 0, 0, 0, 1);
    const unsigned head = in.Next();
    const int curves = 1 + static_cast<int>(head >> 7);
    for (int id = 1; id <= curves; ++id) {
        const unsigned kind = in.Next();
        const bool space = kind & 1;  // a 3D curve
        const bool lance = kind & 2;
        const bool closed = (kind & 4) || !lance;
        const int flag = lance ? 0 : (kind & 8) ? 1 : -1;
        const int points = 2 + static_cast<int>(in.Next() % 15);
        std::string lines;
        double x0 = 0.0, y0 = 0.0, z0 = 0.0;
        for (int k = 0; k < points; ++k) {
            const double x = Coordinate(in, 90.0), y = Coordinate(in, 60.0);
            // 3D curves lie on the flat blank or a little above or below it.
            const double z = space ? 0.25 * (static_cast<double>(in.Next() % 9) - 4.0) : 0.0;
            if (k == 0) x0 = x, y0 = y, z0 = z;
            lines += space ? Card("%20.6f%20.6f%20.6f\n", x, y, z) : Card("%20.6f%20.6f\n", x, y);
        }
        if (closed) lines += space ? Card("%20.6f%20.6f%20.6f\n", x0, y0, z0) : Card("%20.6f%20.6f\n", x0, y0);
        if (space) {
            // The seed: a node id of the blank (its ids run from 2301 to 2491, with gaps).
            const int seed = lance ? 0 : 2301 + static_cast<int>(in.Next() % 200);
            deck += "*DEFINE_CURVE_TRIM_3D\n" +
                    Card("%10.0f%10.0f%10.0f%10.0f%10.2f%10.2f%10.0f\n", id, 1, lance ? 0 : 1, 0, 0.25, 2.0, seed);
        } else {
            deck += "*DEFINE_CURVE_TRIM\n" + Card("%10.0f%10.0f%10.0f%10.0f%10.2f\n", id, 0, flag, 1, 0.25);
        }
        deck += lines;
        if (!in.Left()) break;
    }
    return deck + "*INCLUDE\nblank.dynain\n*END\n";
}

const std::string& Blank()
{
    static const std::string path = [] {
        const std::string dir = fuzzutil::ScratchDir();
        const std::string command = "cd '" + dir + "' && '" CORVEX_GENBLANK "' --shape flat --elements 100 --levels 1 "
                                    "--nthick 3 -o blank.dynain > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0) std::abort();
        return dir + "/blank.dynain";
    }();
    return path;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return -1;
    (void)Blank();
    const std::string deck = DeckOf(data, size);
    if (const char* dump = std::getenv("CORVEX_FUZZ_DUMP")) std::ofstream(dump, std::ios::binary) << deck;
    const std::string path = fuzzutil::ScratchFile("job.dyn");
    fuzzutil::WriteBytes(path, reinterpret_cast<const uint8_t*>(deck.data()), deck.size());
    std::remove(fuzzutil::ScratchFile("job.report.json").c_str());

    fuzzutil::ResetModel();
    const char* argv[] = {"corvexandrilo", path.c_str()};
    SolverMain(2, argv);
    fuzzutil::ResetModel();

    const std::string report = ReadAll(fuzzutil::ScratchFile("job.report.json"));
    if (report.find(std::string("\"failure\": \"") + kCsCutRefusalHead) != std::string::npos) {
        std::fprintf(stderr, "the mesh check refused the cut:\n%s\n", report.c_str());
        std::abort();
    }
    return 0;
}
