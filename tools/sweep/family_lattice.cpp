// The lattice sweep: blanks whose nodes lie on a 10-unit lattice (flat and
// bent, plain and with one- and two-level adaptive patches) cut along curves
// whose vertices lie on the 10- and 5-unit lattices, so that curve vertices on
// nodes and on edges, sides along grid lines, curves through nodes and
// crossings at element corners come up by themselves, thousands of times.
// Every configuration is judged by the same independent judge.
#include "sweeprun.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace sweep {
namespace {


const double kPi = 3.14159265358979323846;
constexpr int kSeeds = 72;

// The blank of a seed: seeds 0..5 run through flat and bent with 0, 1 and 2
// adaptive levels, and every twelve seeds the patches move.
std::string BlankOf(int seed)
{
    const int variant = seed % 6;
    const int layout = 1 + (seed / 12) % 3;
    return "--shape flat --size 10 --cells 10x6 --nthick 3 --nhisv 4 --levels " +
           std::to_string(variant % 3) + " --seed " + std::to_string(layout) +
           (variant >= 3 ? " --bend cylinder" : "");
}

P2 L5(int i, int j)
{
    return {5.0 * i, 5.0 * j};
}

// A point of the 5 lattice (of the 10 lattice with step 2) drawn x first: the
// order in which function arguments are evaluated is the compiler's, and the
// draws must not depend on it.
P2 DrawL5(Rng& r, int i0, int i1, int j0, int j1, int step = 1)
{
    const int i = r.Between(i0, i1);
    const int j = r.Between(j0, j1);
    return L5(step * i, step * j);
}

Poly Rectangle(P2 a, P2 b)
{
    return Closed({a, {b[0], a[1]}, b, {a[0], b[1]}});
}

// ------------------------------------------------------------ shapes

// Sides on the 5 lattice, half the time on the 10 lattice (along grid lines).
Poly Rect(Rng& r)
{
    const int unit = r.OneIn(2) ? 2 : 1;
    const int i = unit * r.Between(-2 / unit, 18 / unit), j = unit * r.Between(-2 / unit, 10 / unit);
    const int w = unit * r.Between(1, 12 / unit), hgt = unit * r.Between(1, 8 / unit);
    return Rectangle(L5(i, j), L5(i + w, j + hgt));
}

Poly Notch(Rng& r)
{
    const int i = r.Between(0, 19), j = r.Between(0, 11);
    return Rectangle(L5(i, j), L5(i + 1, j + 1));
}

// A corner on a node, on an edge or inside an element, as the lattice falls.
Poly Triangle(Rng& r)
{
    for (;;) {
        P2 p[3];
        for (P2& q : p) q = DrawL5(r, -1, 21, -1, 13);
        const double area =
            0.5 * ((p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (p[1][1] - p[0][1]));
        if (std::fabs(area) >= 50.0 && std::fabs(area) <= 1800.0) return Closed({p[0], p[1], p[2]});
    }
}

// A rectangle with a rectangular notch taken out of one corner.
Poly LShape(Rng& r)
{
    const int i = r.Between(-1, 12), j = r.Between(-1, 6);
    const int w = r.Between(3, 8), hgt = r.Between(3, 6);
    const int nw = r.Between(1, w - 1), nh = r.Between(1, hgt - 1);
    Poly p{L5(i, j),
           L5(i + w, j),
           L5(i + w, j + hgt - nh),
           L5(i + w - nw, j + hgt - nh),
           L5(i + w - nw, j + hgt),
           L5(i, j + hgt)};
    const int turn = r.Below(4);  // which corner is notched: mirror the shape about its middle
    for (P2& q : p) {
        if (turn & 1) q[0] = 5.0 * (2 * i + w) - q[0];
        if (turn & 2) q[1] = 5.0 * (2 * j + hgt) - q[1];
    }
    if (turn == 1 || turn == 2) std::reverse(p.begin(), p.end());
    return Closed(p);
}

// The convex hull of a few lattice points.
Poly Hull(Rng& r)
{
    for (;;) {
        const int ci = r.Between(2, 18), cj = r.Between(2, 10);
        std::vector<P2> pts;
        for (int k = 0; k < 6; ++k) pts.push_back(DrawL5(r, ci - 5, ci + 5, cj - 4, cj + 4));
        std::sort(pts.begin(), pts.end());
        pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
        if (pts.size() < 3) continue;
        std::vector<P2> hull;
        for (int pass = 0; pass < 2; ++pass) {
            const size_t start = hull.size();
            for (const P2& q : pts) {
                while (hull.size() >= start + 2 &&
                       cutjudge::Cross(hull[hull.size() - 2], hull.back(), q) <= 0)
                    hull.pop_back();
                hull.push_back(q);
            }
            hull.pop_back();
            std::reverse(pts.begin(), pts.end());
        }
        if (hull.size() >= 3 && std::fabs(trimcheck::SignedArea(hull)) >= 100.0) return Closed(hull);
    }
}

// A regular polygon round a node: some of its vertices fall on nodes and edges.
Poly NGon(Rng& r)
{
    const int n = std::vector<int>{6, 8, 12, 16}[static_cast<size_t>(r.Below(4))];
    const P2 c = DrawL5(r, 1, 9, 1, 5, 2);
    const double radius = 5.0 * r.Between(1, 5);
    const double phase = r.OneIn(2) ? 0.0 : kPi / n;
    Poly p;
    for (int k = 0; k < n; ++k)
        p.push_back({c[0] + radius * std::cos(2 * kPi * k / n + phase),
                     c[1] + radius * std::sin(2 * kPi * k / n + phase)});
    return Closed(p);
}

// A circle through lattice points only: every point of the 5 lattice (or of
// the 10 lattice, where every vertex is a node) at one of a few radii.
Poly LatticeCircle(Rng& r)
{
    const bool nodes = r.OneIn(2);
    const double unit = nodes ? 10.0 : 5.0;
    // Squared radii in lattice units that several lattice points share.
    const int r2 = nodes ? std::vector<int>{2, 5, 10, 13}[static_cast<size_t>(r.Below(4))]
                         : std::vector<int>{5, 10, 13, 20, 25}[static_cast<size_t>(r.Below(5))];
    const P2 c = nodes ? DrawL5(r, 1, 9, 1, 5, 2) : DrawL5(r, 2, 18, 2, 10);
    std::vector<std::pair<double, P2>> pts;
    for (int a = -5; a <= 5; ++a)
        for (int b = -5; b <= 5; ++b)
            if (a * a + b * b == r2) pts.push_back({std::atan2(b, a), {c[0] + unit * a, c[1] + unit * b}});
    std::sort(pts.begin(), pts.end());
    Poly p;
    for (const auto& q : pts) p.push_back(q.second);
    return Closed(p);
}

// A square standing on a corner: its sides run diagonally through nodes.
Poly Diamond(Rng& r)
{
    const P2 c = DrawL5(r, 0, 20, 0, 12);
    const double k = 5.0 * r.Between(1, 6);
    return Closed({{c[0] + k, c[1]}, {c[0], c[1] + k}, {c[0] - k, c[1]}, {c[0], c[1] - k}});
}

// An open line between lattice points: along a grid line, diagonal through
// nodes, or any way; its ends on nodes, on edges, inside or off the blank.
Poly Line(Rng& r)
{
    for (;;) {
        const P2 a = DrawL5(r, -2, 22, -2, 14);
        P2 b = DrawL5(r, -2, 22, -2, 14);
        const int kind = r.Below(3);
        if (kind == 0) b = r.OneIn(2) ? P2{b[0], a[1]} : P2{a[0], b[1]};
        if (kind == 1) {
            const double d = 5.0 * r.Between(2, 12);
            b = {a[0] + (r.OneIn(2) ? d : -d), a[1] + (r.OneIn(2) ? d : -d)};
        }
        if (cutjudge::Dist(a, b) >= 10.0) return {a, b};
    }
}

// A zigzag running left to right with its corners on the lattice.
Poly Zigzag(Rng& r)
{
    Poly p{DrawL5(r, -2, 6, 0, 12)};
    const int n = r.Between(2, 4);
    for (int k = 0; k < n; ++k) p.push_back({p.back()[0] + 5.0 * r.Between(2, 5), 5.0 * r.Between(0, 12)});
    return p;
}

using Shape = Poly (*)(Rng&);

struct ShapeRow {
    const char* name;
    Shape make;
    bool closed;
};

const std::vector<ShapeRow> kShapes{
    {"rect", Rect, true},
    {"notch", Notch, true},
    {"triangle", Triangle, true},
    {"lshape", LShape, true},
    {"hull", Hull, true},
    {"ngon", NGon, true},
    {"latcircle", LatticeCircle, true},
    {"diamond", Diamond, true},
    {"line", Line, false},
    {"zigzag", Zigzag, false},
};

// Whether some point of the curve lies inside the blank, off its outline.
bool Crosses(const Blank& b, const Poly& p)
{
    for (size_t i = 0; i + 1 < p.size(); ++i)
        for (int s = 0; s < 20; ++s) {
            const P2 q{p[i][0] + s / 20.0 * (p[i + 1][0] - p[i][0]),
                       p[i][1] + s / 20.0 * (p[i + 1][1] - p[i][1])};
            if (q[0] > b.x0 && q[0] < b.x1 && q[1] > b.y0 && q[1] < b.y1) return true;
        }
    return false;
}

// A generator is "<shape>/<operation>". The seed picks the blank, the trim
// flag (2D) or the side the seed node keeps (3D), and the shape's place.
Config Make(const std::string& generator, int seed)
{
    const std::string shapeName = generator.substr(0, generator.find('/'));
    const Op op = OpOf(generator.substr(generator.find('/') + 1));
    const auto row =
        std::find_if(kShapes.begin(), kShapes.end(), [&](const ShapeRow& s) { return shapeName == s.name; });
    Config c;
    c.blank = BlankOf(seed);
    const Blank& b = sweep::GetBlank(c.blank);
    Rng r("lattice/" + generator, seed);
    const bool inside = (seed / 6) % 2 == 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const Poly p = row->make(r);
        if (!Crosses(b, p)) continue;
        if (op == Op::kTrim3D) {
            // The seed's side must hang together: the inside of a curve on the
            // blank, or the outside of one that keeps off the outline.
            const bool keepInside = inside || !Within(b, p, 5.0);
            if (!Within(b, p, 0.0)) continue;
            const P2 toward = keepInside ? trimcheck::Centroid(Poly(p.begin(), p.end() - 1)) : P2{b.x0, b.y0};
            const int node = sweep::SeedNode(b, {p}, keepInside, toward);
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
    std::vector<std::string> names;
    for (const ShapeRow& s : kShapes) {
        for (const Op op : {Op::kTrim2D, Op::kTrim3D, Op::kLance2D, Op::kLance3D}) {
            if (!cutjudge::IsLance(op) && !s.closed) continue;
            if (cutjudge::IsLance(op) && (std::string(s.name) == "lshape" || std::string(s.name) == "hull"))
                continue;
            names.push_back(std::string(s.name) + "/" + cutjudge::OpName(op));
        }
    }
    return names;
}

}  // namespace

Family LatticeFamily()
{
    return {"lattice", Make, Generators(), 0, kSeeds};
}

}  // namespace sweep
