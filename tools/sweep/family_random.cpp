// The random sweep: structured blanks of any element size (flat, bent and
// domed, with and without adaptive patches) cut along random stars, stars
// with tips narrower than an element, ellipses, turned rectangles, wavy
// closed curves and open polylines, by 2D and 3D trims and lances, each
// judged by the same independent judge.
#include "sweeprun.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace sweep {
namespace {


const double kPi = 3.14159265358979323846;
constexpr int kSeeds = 48;

// The blank of a seed: flat, bent and domed in turn, with 0, 1 and 2
// adaptive levels, of coarse element sizes that fall on no lattice.
std::string BlankOf(int seed)
{
    static const char* const kBends[] = {"", " --bend cylinder", " --bend dome"};
    static const char* const kSizes[] = {"7.3", "8.7", "11.3", "12.9", "9.1", "6.7"};
    return "--shape flat --nthick 3 --nhisv 4 --elements " + std::to_string(120 + 40 * ((seed / 18) % 3)) +
           " --size " + kSizes[(seed / 9) % 6] + " --levels " + std::to_string((seed / 3) % 3) + " --seed " +
           std::to_string(100 + seed) + kBends[seed % 3];
}

// The blank's extent in plan and its smaller side.
struct Frame {
    double x0, y0, w, h, d;
};

Frame FrameOf(const Blank& b)
{
    return {b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0, std::min(b.x1 - b.x0, b.y1 - b.y0)};
}

P2 Centre(Rng& r, const Frame& f)
{
    return {f.x0 + r.Range(0.2, 0.8) * f.w, f.y0 + r.Range(0.2, 0.8) * f.h};
}

Poly Star(Rng& r, const Frame& f, const Blank&)
{
    const int tips = r.Between(5, 8);
    const double outer = r.Range(0.2, 0.45) * f.d, inner = r.Range(0.35, 0.6) * outer;
    const P2 c = Centre(r, f);
    const double phase = r.Range(0, 2 * kPi);
    return Polar(c, 2 * tips, phase, [&](int k, double) { return k % 2 ? inner : outer; });
}

// Many thin tips: the last element or two of each is narrower than an element.
Poly Tips(Rng& r, const Frame& f, const Blank&)
{
    const int tips = r.Between(7, 12);
    const double outer = r.Range(0.3, 0.48) * f.d, inner = r.Range(0.2, 0.4) * outer;
    const P2 c = Centre(r, f);
    const double phase = r.Range(0, 2 * kPi);
    return Polar(c, 2 * tips, phase, [&](int k, double) { return k % 2 ? inner : outer; });
}

Poly Ellipse(Rng& r, const Frame& f, const Blank&)
{
    const double a = r.Range(0.15, 0.45) * f.d, b = r.Range(0.3, 1.0) * a, turn = r.Range(0, kPi);
    const P2 c = Centre(r, f);
    const int n = r.Between(24, 96);
    Poly p;
    for (int k = 0; k < n; ++k) {
        const double t = 2 * kPi * k / n;
        const double x = a * std::cos(t), y = b * std::sin(t);
        p.push_back(
            {c[0] + x * std::cos(turn) - y * std::sin(turn), c[1] + x * std::sin(turn) + y * std::cos(turn)});
    }
    return Closed(p);
}

// A rectangle, turned by any angle or by none.
Poly Rect(Rng& r, const Frame& f, const Blank&)
{
    const double w = r.Range(0.2, 0.7) * f.d, hgt = r.Range(0.15, 0.5) * f.d;
    const double turn = r.OneIn(3) ? 0.0 : r.Range(0, kPi);
    const P2 c = Centre(r, f);
    Poly p;
    for (const auto& [u, v] : std::vector<std::pair<double, double>>{{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}) {
        const double x = 0.5 * u * w, y = 0.5 * v * hgt;
        p.push_back(
            {c[0] + x * std::cos(turn) - y * std::sin(turn), c[1] + x * std::sin(turn) + y * std::cos(turn)});
    }
    return Closed(p);
}

Poly Wavy(Rng& r, const Frame& f, const Blank&)
{
    const double r0 = r.Range(0.2, 0.4) * f.d, amp = r.Range(0.1, 0.3), phase = r.Range(0, 2 * kPi);
    const int waves = r.Between(3, 7);
    return Polar(Centre(r, f), 96, 0.0,
                 [&](int, double a) { return r0 * (1 + amp * std::sin(waves * a + phase)); });
}

// An open polyline running one way across part of the blank, its ends inside
// or off the blank.
Poly Polyline(Rng& r, const Frame& f, const Blank&)
{
    const double turn = r.Range(0, 2 * kPi);
    const P2 c = Centre(r, f);
    const double length = r.Range(0.3, 1.3) * f.d;
    const int n = r.Between(2, 6);
    const double step = length / (n - 1);
    Poly p;
    for (int k = 0; k < n; ++k) {
        const double along = -0.5 * length + k * step,
                     across = k == 0 || k == n - 1 ? r.Range(-0.3, 0.3) * step : r.Range(-0.8, 0.8) * step;
        p.push_back({c[0] + along * std::cos(turn) - across * std::sin(turn),
                     c[1] + along * std::sin(turn) + across * std::cos(turn)});
    }
    return p;
}

using Shape = Poly (*)(Rng&, const Frame&, const Blank&);

struct ShapeRow {
    const char* name;
    Shape make;
    bool closed;
};

const std::vector<ShapeRow> kShapes{{"star", Star, true},       {"tips", Tips, true},
                                    {"ellipse", Ellipse, true}, {"rect", Rect, true},
                                    {"wavy", Wavy, true},       {"polyline", Polyline, false}};

bool OverBlank(const Blank& b, const Poly& p)
{
    return std::any_of(p.begin(), p.end(),
                       [&](const P2& q) { return q[0] > b.x0 && q[0] < b.x1 && q[1] > b.y0 && q[1] < b.y1; });
}

// A generator is "<shape>/<operation>", or "ring/trim2d": a trim-out ellipse
// with a star-shaped hole inside it.
Config Make(const std::string& generator, int seed)
{
    const std::string shapeName = generator.substr(0, generator.find('/'));
    const Op op = OpOf(generator.substr(generator.find('/') + 1));
    Config c;
    c.blank = BlankOf(seed);
    const Blank& b = sweep::GetBlank(c.blank);
    const Frame f = FrameOf(b);
    Rng r("random/" + generator, seed);
    if (shapeName == "ring") {
        const P2 centre{f.x0 + 0.5 * f.w + r.Range(-0.1, 0.1) * f.w,
                        f.y0 + 0.5 * f.h + r.Range(-0.1, 0.1) * f.h};
        const double a = r.Range(0.3, 0.45) * f.d, ratio = r.Range(0.7, 1.0);
        // Every draw in its own statement: argument order is the compiler's.
        const int points = r.Between(32, 80);
        const double turn = r.Range(0, 1);
        Poly outer = Polar(centre, points, turn, [&](int, double t) {
            return a * ratio / std::hypot(ratio * std::cos(t), std::sin(t));
        });
        const double hole = r.Range(0.3, 0.6) * a * ratio;
        const P2 middle{centre[0] + r.Range(-0.1, 0.1) * a, centre[1] + r.Range(-0.1, 0.1) * a};
        const int tips = r.Between(4, 7);
        const double phase = r.Range(0, 6);
        Poly inner = Polar(middle, 2 * tips, phase, [&](int k, double) { return k % 2 ? 0.5 * hole : hole; });
        c.job.curves.push_back(sweep::MakeCurve(b, op, outer, -1));
        c.job.curves.push_back(sweep::MakeCurve(b, op, inner, 1));
        return c;
    }
    const auto row =
        std::find_if(kShapes.begin(), kShapes.end(), [&](const ShapeRow& s) { return shapeName == s.name; });
    const bool inside = r.OneIn(2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const Poly p = row->make(r, f, b);
        if (!OverBlank(b, p)) continue;
        if (op == Op::kTrim3D) {
            // The kept side must hang together: the inside of a curve round a
            // point of the blank (all our closed curves are star-shaped about
            // their centre), or the outside of one that keeps off the outline.
            const bool keepInside = inside || !Within(b, p, 0.5 * b.h());
            const P2 centre = trimcheck::Centroid(Poly(p.begin(), p.end() - 1));
            if (keepInside && !(centre[0] > b.x0 && centre[0] < b.x1 && centre[1] > b.y0 && centre[1] < b.y1))
                continue;
            const int node = sweep::SeedNode(b, {p}, keepInside, keepInside ? centre : P2{b.x0, b.y0});
            if (node == 0) continue;
            c.job.curves.push_back(sweep::MakeCurve(b, op, p));
            c.job.curves.back().seed = node;
        } else {
            c.job.curves.push_back(sweep::MakeCurve(b, op, p, inside ? -1 : 1));
        }
        return c;
    }
    c.skip = true;
    return c;
}

std::vector<std::string> Generators()
{
    std::vector<std::string> names{"ring/trim2d"};
    for (const ShapeRow& s : kShapes)
        for (const Op op : {Op::kTrim2D, Op::kTrim3D, Op::kLance2D, Op::kLance3D})
            if (cutjudge::IsLance(op) || s.closed)
                names.push_back(std::string(s.name) + "/" + cutjudge::OpName(op));
    return names;
}

}  // namespace

Family RandomFamily()
{
    return {"random", Make, Generators(), 0, kSeeds};
}

}  // namespace sweep
