// The unstructured sweep: the gmsh blanks of tests/data/gmsh (quad-dominant,
// mixed, all-triangle and all-quad meshes of plates with holes, a notch or an
// L outline, flat, bent, domed, saddle-shaped or drawn into a box) cut along
// random circles, ellipses, rectangles, stars, wavy curves and polylines, and
// along curves through their nodes and along their edges, by 2D and 3D trims
// and lances, each judged by the same independent judge.
#include "sweeprun.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sweep {
namespace {

namespace fs = std::filesystem;

const double kPi = 3.14159265358979323846;
constexpr int kSeeds = 20;

std::vector<std::string> BlankFiles()
{
    std::vector<std::string> files;
    const fs::path dir = fs::path(CORVEX_TEST_DATA) / "gmsh";
    if (fs::exists(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".dynain") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// A point of the blank, at least `clear` inside it.
P2 PointOn(Rng& r, const Blank& b, double clear)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const P2 p{r.Range(b.x0, b.x1), r.Range(b.y0, b.y1)};
        if (b.plan->OnBlank(p) && b.plan->outline().Nearest(p, clear) >= clear) return p;
    }
    return {0.5 * (b.x0 + b.x1), 0.5 * (b.y0 + b.y1)};
}

double Span(const Blank& b)
{
    return std::min(b.x1 - b.x0, b.y1 - b.y0);
}

Poly Turned(const P2& c, double turn, const std::vector<P2>& local)
{
    Poly p;
    for (const P2& q : local)
        p.push_back({c[0] + q[0] * std::cos(turn) - q[1] * std::sin(turn),
                     c[1] + q[0] * std::sin(turn) + q[1] * std::cos(turn)});
    return p;
}

Poly Circle(Rng& r, const Blank& b)
{
    // Every draw in its own statement: argument order is the compiler's.
    const double radius = r.Range(0.12, 0.4) * Span(b);
    const P2 c = PointOn(r, b, 0.0);
    const int n = r.Between(16, 72);
    const double phase = r.Range(0, 1);
    return Polar(c, n, phase, [&](int, double) { return radius; });
}

Poly Ellipse(Rng& r, const Blank& b)
{
    const double a = r.Range(0.15, 0.45) * Span(b), ratio = r.Range(0.3, 1.0), turn = r.Range(0, kPi);
    const int n = r.Between(24, 96);
    std::vector<P2> local;
    for (int k = 0; k < n; ++k)
        local.push_back({a * std::cos(2 * kPi * k / n), ratio * a * std::sin(2 * kPi * k / n)});
    return Closed(Turned(PointOn(r, b, 0.0), turn, local));
}

Poly Rect(Rng& r, const Blank& b)
{
    const double w = r.Range(0.2, 0.7) * Span(b), hgt = r.Range(0.15, 0.5) * Span(b);
    const double turn = r.OneIn(3) ? 0.0 : r.Range(0, kPi);
    return Closed(
        Turned(PointOn(r, b, 0.0), turn,
               {{-0.5 * w, -0.5 * hgt}, {0.5 * w, -0.5 * hgt}, {0.5 * w, 0.5 * hgt}, {-0.5 * w, 0.5 * hgt}}));
}

// A star; half of them with tips narrower than an element.
Poly Star(Rng& r, const Blank& b)
{
    const bool thin = r.OneIn(2);
    const int tips = thin ? r.Between(7, 12) : r.Between(5, 8);
    const double outer = r.Range(0.2, 0.45) * Span(b),
                 inner = (thin ? r.Range(0.2, 0.4) : r.Range(0.35, 0.6)) * outer;
    const P2 c = PointOn(r, b, 0.0);
    const double phase = r.Range(0, 2 * kPi);
    return Polar(c, 2 * tips, phase, [&](int k, double) { return k % 2 ? inner : outer; });
}

Poly Wavy(Rng& r, const Blank& b)
{
    const double r0 = r.Range(0.15, 0.35) * Span(b), amp = r.Range(0.1, 0.3), phase = r.Range(0, 2 * kPi);
    const int waves = r.Between(3, 7);
    return Polar(PointOn(r, b, 0.0), 96, 0.0,
                 [&](int, double a) { return r0 * (1 + amp * std::sin(waves * a + phase)); });
}

Poly Polyline(Rng& r, const Blank& b)
{
    const double length = r.Range(0.3, 1.3) * Span(b);
    const int n = r.Between(2, 6);
    const double step = length / (n - 1);
    std::vector<P2> local;
    for (int k = 0; k < n; ++k) {
        const double across = k == 0 || k == n - 1 ? r.Range(-0.3, 0.3) * step : r.Range(-0.8, 0.8) * step;
        local.push_back({-0.5 * length + k * step, across});
    }
    const P2 c = PointOn(r, b, 0.0);
    const double turn = r.Range(0, 2 * kPi);
    return Turned(c, turn, local);
}

// A polygon through nodes of the mesh: the nodes nearest to points on a
// circle, taken round its centre in order.
Poly Nodes(Rng& r, const Blank& b)
{
    const P2 c = PointOn(r, b, 0.0);
    const double radius = r.Range(0.12, 0.4) * Span(b);
    const int n = r.Between(5, 14);
    const double phase = r.Range(0, 1);
    std::vector<std::pair<double, P2>> picked;
    std::set<int> used;
    for (int k = 0; k < n; ++k) {
        const double a = 2 * kPi * (k + phase) / n;
        const P2 target{c[0] + radius * std::cos(a), c[1] + radius * std::sin(a)};
        int best = 0;
        double d = 1e300;
        for (const auto& [id, p] : b.mesh.nodes) {
            const double e = cutjudge::Dist({p[0], p[1]}, target);
            if (e < d) d = e, best = id;
        }
        const P2 q{b.mesh.nodes.at(best)[0], b.mesh.nodes.at(best)[1]};
        if (used.insert(best).second && cutjudge::Dist(q, c) > 1e-9)
            picked.push_back({std::atan2(q[1] - c[1], q[0] - c[0]), q});
    }
    std::sort(picked.begin(), picked.end());
    Poly p;
    for (const auto& q : picked) p.push_back(q.second);
    return p.size() >= 3 ? Closed(p) : Poly{};
}

// Along element edges: the outline of a patch of elements round a point
// (closed), or a walk from node to node along edges keeping one heading
// (open, for lances).
Poly Edges(Rng& r, const Blank& b, bool closed)
{
    std::map<int, std::set<int>> next;  // node -> nodes joined to it by an edge
    for (const auto& s : b.mesh.shells)
        for (size_t i = 0; i < s.nodes.size(); ++i) {
            next[s.nodes[i]].insert(s.nodes[(i + 1) % s.nodes.size()]);
            next[s.nodes[(i + 1) % s.nodes.size()]].insert(s.nodes[i]);
        }
    const auto at = [&](int n) { return P2{b.mesh.nodes.at(n)[0], b.mesh.nodes.at(n)[1]}; };
    const P2 c = PointOn(r, b, 0.0);
    if (!closed) {
        int node = 0;
        double d = 1e300;
        for (const auto& [id, p] : b.mesh.nodes)
            if (cutjudge::Dist(at(id), c) < d) d = cutjudge::Dist(at(id), c), node = id;
        double heading = r.Range(0, 2 * kPi);
        Poly p{at(node)};
        std::set<int> seen{node};
        const int steps = r.Between(3, 14);
        for (int k = 0; k < steps; ++k) {
            int best = 0;
            double score = -2;
            for (const int m : next[node]) {
                if (seen.count(m)) continue;
                const P2 v{at(m)[0] - at(node)[0], at(m)[1] - at(node)[1]};
                const double s =
                    (v[0] * std::cos(heading) + v[1] * std::sin(heading)) / std::hypot(v[0], v[1]);
                if (s > score) score = s, best = m;
            }
            if (best == 0 || score < 0.3) break;
            p.push_back(at(best));
            seen.insert(best);
            node = best;
            heading += r.Range(-0.4, 0.4);
        }
        return p.size() >= 2 ? p : Poly{};
    }
    // The patch: elements with their centroid within a radius; its outline
    // must be one simple loop.
    const double radius = r.Range(0.1, 0.3) * Span(b);
    std::map<int, int> loop;  // directed outline edges of the patch, from -> to
    std::set<std::pair<int, int>> inside;
    for (const auto& s : b.mesh.shells) {
        const P2 m = trimcheck::Centroid(trimcheck::PolyOf(b.mesh, s));
        if (cutjudge::Dist(m, c) > radius) continue;
        for (size_t i = 0; i < s.nodes.size(); ++i)
            inside.insert({s.nodes[i], s.nodes[(i + 1) % s.nodes.size()]});
    }
    for (const auto& [u, v] : inside) {
        if (inside.count({v, u})) continue;
        if (loop.count(u)) return {};  // the outline pinches at a node
        loop[u] = v;
    }
    if (loop.empty()) return {};
    Poly p;
    int node = loop.begin()->first;
    for (size_t k = 0; k <= loop.size(); ++k) {
        p.push_back(at(node));
        if (!loop.count(node)) return {};
        node = loop[node];
        if (node == loop.begin()->first) break;
    }
    if (p.size() != loop.size()) return {};  // more than one loop
    return Closed(p);
}

bool OverBlank(const Blank& b, const Poly& p)
{
    for (size_t i = 0; i + 1 < p.size(); ++i)
        for (int s = 0; s < 8; ++s) {
            const P2 q{p[i][0] + s / 8.0 * (p[i + 1][0] - p[i][0]),
                       p[i][1] + s / 8.0 * (p[i + 1][1] - p[i][1])};
            if (b.plan->OnBlank(q) && b.plan->outline().Nearest(q, 1e-3 * b.h()) >= 1e-3 * b.h()) return true;
        }
    return false;
}

// A generator is "<shape>/<operation>"; the seed picks the blank and the curve.
Config Make(const std::string& generator, int seed)
{
    const std::string shape = generator.substr(0, generator.find('/'));
    const Op op = OpOf(generator.substr(generator.find('/') + 1));
    const std::vector<std::string> files = BlankFiles();
    Config c;
    if (files.empty()) {
        c.skip = true;
        return c;
    }
    c.blank = files[static_cast<size_t>(seed) % files.size()];
    const Blank& b = sweep::GetBlank(c.blank);
    Rng r("gmsh/" + generator, seed);
    const bool inside = r.OneIn(2);
    for (int attempt = 0; attempt < 60; ++attempt) {
        Poly p;
        if (shape == "circle") p = Circle(r, b);
        if (shape == "ellipse") p = Ellipse(r, b);
        if (shape == "rect") p = Rect(r, b);
        if (shape == "star") p = Star(r, b);
        if (shape == "wavy") p = Wavy(r, b);
        if (shape == "polyline") p = Polyline(r, b);
        if (shape == "nodes") p = Nodes(r, b);
        if (shape == "edges") p = Edges(r, b, !cutjudge::IsLance(op) || r.OneIn(2));
        if (p.size() < 2 || !OverBlank(b, p)) continue;
        if (op == Op::kTrim3D) {
            const P2 toward = inside ? trimcheck::Centroid(Poly(p.begin(), p.end() - 1)) : PointOn(r, b, 0.0);
            const int node = sweep::SeedNode(b, {p}, inside, toward);
            if (node == 0) continue;
            const P2 at{b.mesh.nodes.at(node)[0], b.mesh.nodes.at(node)[1]};
            if (!sweep::SideHangsTogether(b, {p}, inside, at)) continue;
            c.job.curves.push_back(sweep::MakeCurve(b, op, p, -1, shape == "edges"));
            c.job.curves.back().seed = node;
        } else {
            c.job.curves.push_back(sweep::MakeCurve(b, op, p, inside ? -1 : 1, shape == "edges"));
        }
        return c;
    }
    c.skip = true;
    return c;
}

std::vector<std::string> Generators()
{
    std::vector<std::string> names;
    for (const char* shape : {"circle", "ellipse", "rect", "star", "wavy", "nodes", "edges", "polyline"})
        for (const Op op : {Op::kTrim2D, Op::kTrim3D, Op::kLance2D, Op::kLance3D})
            if (cutjudge::IsLance(op) || std::string(shape) != "polyline")
                names.push_back(std::string(shape) + "/" + cutjudge::OpName(op));
    return names;
}

}  // namespace

Family GmshFamily()
{
    return {"gmsh", Make, Generators(), 0, kSeeds};
}

}  // namespace sweep
