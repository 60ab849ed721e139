// The flat sweep: seeded small blanks with zero, one and two adaptive levels,
// each cut by a hole, a trim-out circle, a star hole or a star whose inside is
// kept, placed off the grid by the seed, so that crossings land on corners,
// on coarse edges with hanging nodes and twice on one edge. A generator is
// "<shape>/<levels>".
#include "sweeprun.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace sweep {
namespace {

const double kPi = 3.14159265358979323846;

// Five tips, five inner corners.
Poly Star(double cx, double cy, double outer, double inner, double phase)
{
    Poly p;
    for (int k = 0; k <= 10; ++k) {
        const double a = 2 * kPi * (k % 10) / 10.0 + phase;
        const double r = k % 2 == 0 ? outer : inner;
        p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return p;
}

Config Make(const std::string& generator, int seed)
{
    const std::string shape = generator.substr(0, generator.find('/'));
    const std::string blank = Flat(seed, std::stoi(generator.substr(generator.find('/') + 1)), 120);
    const Blank& b = GetBlank(blank);
    const double g = b.h();
    const double cx = 0.5 * b.x1 + 0.23 * (seed % 5 - 2) * g;
    const double cy = 0.5 * b.y1 + 0.31 * (seed % 3 - 1) * g;
    const double r = 0.36 * std::min(b.x1, b.y1);
    const double phase = 0.37 * seed;
    const int flag = shape == "hole" || shape == "star" ? 1 : -1;
    return TrimAlongZ(blank, {{flag, shape.rfind("star", 0) == 0 ? Star(cx, cy, r, 0.45 * r, phase)
                                                                 : Circle(cx, cy, r, 64, phase)}});
}

}  // namespace

Family FlatFamily()
{
    Family f{"flat", Make, {}, 100, 220};
    for (const char* shape : {"hole", "keep", "star", "starkeep"})
        for (int levels = 0; levels <= 2; ++levels) f.generators.push_back(std::string(shape) + "/" + std::to_string(levels));
    return f;
}

}  // namespace sweep
