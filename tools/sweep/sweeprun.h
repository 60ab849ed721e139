// The machinery of the cutting sweeps: blanks made once per process, decks
// written from a job, the program run on them and its output judged,
// configurations named by family, generator and seed, and the report of how
// many are wrong and why. CORVEX_SWEEP_PROGRAM runs another build of the
// program instead of this one.
#ifndef SWEEP_SWEEPRUN_H
#define SWEEP_SWEEPRUN_H

#include "cutjudge.h"
#include "dynain.h"
#include "files.h"

#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sweep {

using cutjudge::Curve;
using cutjudge::Job;
using cutjudge::Op;
using trimcheck::Dynain;
using trimcheck::P2;
using trimcheck::P3;
using trimcheck::Poly;

// Counter-based random numbers: one stream per configuration, so that a
// configuration is made the same way whatever ran before it.
class Rng {
public:
    Rng(const std::string& key, int seed)
        : state_(Mix(Fnv(key) ^ Mix(static_cast<std::uint64_t>(seed) + 0x51ed27)))
    {
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Range(double a, double b) { return a + (b - a) * Uniform(); }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    int Between(int a, int b) { return a + Below(b - a + 1); }  // both included
    bool OneIn(int n) { return Below(n) == 0; }

    static std::uint64_t Fnv(const std::string& text)
    {
        std::uint64_t h = 0xcbf29ce484222325ULL;
        for (const char ch : text) h = (h ^ static_cast<unsigned char>(ch)) * 0x100000001b3ULL;
        return h;
    }

private:
    static std::uint64_t Mix(std::uint64_t x)
    {
        x += 0x9e3779b97f4a7c15ULL;
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
        return x ^ (x >> 31);
    }
    std::uint64_t Next() { return Mix(state_++); }
    std::uint64_t state_;
};

// ------------------------------------------------------------ blanks

struct Blank {
    std::string source;  // generator arguments, or a path
    std::string text;
    Dynain mesh;
    std::unique_ptr<cutjudge::PlanMesh> plan;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // extent in plan
    bool flat = true;
    double h() const { return plan->h(); }
};

// A blank by its generator arguments ("--shape flat ...") or by the path of
// a stored file, made or read once per process.
inline const Blank& GetBlank(const std::string& source)
{
    static std::map<std::string, std::unique_ptr<Blank>> cache;
    auto& slot = cache[source];
    if (slot) return *slot;
    slot = std::make_unique<Blank>();
    Blank& b = *slot;
    b.source = source;
    if (source.rfind("--", 0) == 0) {
        sweepio::ScratchDir dir("sweep-blank");
        const std::string cmd = std::string("'") + CORVEX_GENBLANK + "' " + source + " -o '" +
                                dir.file("b.dynain") + "' > /dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) throw std::runtime_error("corvex_genblank " + source + " failed");
        b.text = sweepio::ReadFile(dir.file("b.dynain"));
    } else {
        b.text = sweepio::ReadFile(source);
    }
    b.mesh = trimcheck::Parse(b.text);
    b.plan = std::make_unique<cutjudge::PlanMesh>(b.mesh);
    b.x0 = b.y0 = 1e300;
    b.x1 = b.y1 = -1e300;
    for (const auto& [id, p] : b.mesh.nodes) {
        b.x0 = std::min(b.x0, p[0]), b.y0 = std::min(b.y0, p[1]);
        b.x1 = std::max(b.x1, p[0]), b.y1 = std::max(b.y1, p[1]);
        if (p[2] != 0.0) b.flat = false;
    }
    return b;
}

// A generated flat blank's source: its nodes on a grid from the origin, with
// three integration points and four history variables in its records.
inline std::string Flat(int seed, int levels, int elements = 300)
{
    return "--shape flat --elements " + std::to_string(elements) + " --levels " + std::to_string(levels) +
           " --nthick 3 --nhisv 4 --seed " + std::to_string(seed);
}

// The height of the blank's surface over a plan point: on the element
// holding it, or on the plane of the nearest element off the blank.
inline double HeightAt(const Blank& b, const P2& p)
{
    const auto& plan = *b.plan;
    std::vector<int> holding = plan.Holding(p, 1e-6 * b.h());
    int element = holding.empty() ? -1 : holding.front();
    if (element < 0) {
        double best = 1e300;
        for (size_t e = 0; e < plan.size(); ++e) {
            const Poly& q = plan.poly(e);
            for (size_t i = 0; i < q.size(); ++i) {
                const double d = trimcheck::SegDist(p, q[i], q[(i + 1) % q.size()]);
                if (d < best) best = d, element = static_cast<int>(e);
            }
        }
    }
    const auto& s = plan.shell(static_cast<size_t>(element));
    const size_t n = s.nodes.size();
    // A quadrilateral's surface is the bilinear one, as the program lays
    // points inside it: across a strongly warped element the fan of triangles
    // lies far from it. (Off the blank the curve goes on along a plane; the
    // two agree along the element's edges.)
    double lifted = 0.0;
    if (n == 4 && !holding.empty() && plan.BilinearHeight(s, p, lifted)) return lifted;
    // A point just off the element (a node's coordinates rounded) lies on the
    // triangle it is least outside of, not on the first one's plane: across a
    // warped element's diagonal that would be far off the surface.
    double fallback = 0.0;
    double least = -1e300;
    for (size_t k = 1; k + 1 < n; ++k) {
        const P3& a = b.mesh.nodes.at(s.nodes[0]);
        const P3& c = b.mesh.nodes.at(s.nodes[k]);
        const P3& d = b.mesh.nodes.at(s.nodes[k + 1]);
        const double det = (c[0] - a[0]) * (d[1] - a[1]) - (c[1] - a[1]) * (d[0] - a[0]);
        const double u = ((p[0] - a[0]) * (d[1] - a[1]) - (p[1] - a[1]) * (d[0] - a[0])) / det;
        const double v = ((c[0] - a[0]) * (p[1] - a[1]) - (c[1] - a[1]) * (p[0] - a[0])) / det;
        const double z = a[2] + u * (c[2] - a[2]) + v * (d[2] - a[2]);
        const double inside = std::min({u, v, 1.0 - u - v});
        if (inside > least) least = inside, fallback = z;
        if (u >= -1e-9 && v >= -1e-9 && u + v <= 1 + 1e-9) return z;
    }
    return fallback;
}

// Coordinates as the deck's six decimals write them, so that the judge
// measures against the very curve the program reads.
inline double Decimal6(double v)
{
    return std::round(v * 1e6) / 1e6;
}

// A curve for the job: 2D curves in the plane; 3D curves laid onto the
// blank, with points at most a tenth of an element apart on a curved blank so
// that every chord stays by the surface. A curve along edges runs on them:
// where a wall stands over the floor in plan, the height under a point of an
// edge is that edge's.
inline Curve MakeCurve(const Blank& b, Op op, const Poly& plan, int flag = -1, bool alongEdges = false)
{
    std::vector<double> heights;
    for (const P2& q : plan) {
        double z = HeightAt(b, q);
        for (const auto& [id, p] : b.mesh.nodes)
            if (alongEdges && p[0] == q[0] && p[1] == q[1]) z = p[2];
        heights.push_back(z);
    }
    Curve c;
    c.op = op;
    c.flag = cutjudge::IsLance(op) ? 0 : flag;
    const bool lay = cutjudge::Is3D(op);
    const double step = b.flat || !lay ? 1e300 : 0.1 * b.h();
    for (size_t i = 0; i < plan.size(); ++i) {
        const int pieces =
            i + 1 < plan.size()
                ? std::max(1, static_cast<int>(std::ceil(cutjudge::Dist(plan[i], plan[i + 1]) / step)))
                : 1;
        for (int k = 0; k < pieces; ++k) {
            if (i + 1 == plan.size() && k > 0) break;
            const double t = static_cast<double>(k) / pieces;
            const P2 p = i + 1 < plan.size() ? P2{plan[i][0] + t * (plan[i + 1][0] - plan[i][0]),
                                                  plan[i][1] + t * (plan[i + 1][1] - plan[i][1])}
                                             : plan[i];
            const P2 q{Decimal6(p[0]), Decimal6(p[1])};
            const double z = alongEdges && i + 1 < plan.size() ? heights[i] + t * (heights[i + 1] - heights[i])
                                                               : alongEdges ? heights[i] : HeightAt(b, q);
            c.points.push_back({q[0], q[1], lay ? Decimal6(z) : 0.0});
        }
    }
    return c;
}

// The seed of a 3D trim: an input corner node at least half an element from
// every curve on the kept side, the one nearest `toward`; 0 when there is none.
inline int SeedNode(const Blank& b, const std::vector<Poly>& curves, bool inside, const P2& toward)
{
    std::set<int> hanging;
    for (const auto& c : b.mesh.adaptive) hanging.insert(c[0]);
    int best = 0;
    double bestDistance = 1e300;
    for (const auto& [id, p] : b.mesh.nodes) {
        if (hanging.count(id)) continue;
        const P2 q{p[0], p[1]};
        bool ok = true;
        for (const Poly& c : curves)
            ok = ok && trimcheck::DistToCurve(q, c) >= 0.5 * b.plan->SizeAt(q) &&
                 trimcheck::Inside(q, c) == inside;
        if (!ok) continue;
        const double d = cutjudge::Dist(q, toward);
        if (d < bestDistance) bestDistance = d, best = id;
    }
    return best;
}

// Whether the part of the blank on one side of the curves hangs together
// with the seed, as a 3D trim's fill from the seed needs to keep all of it:
// a flood over a raster of an eighth of an element, through cells clear of
// the curves. A passage narrower than about a fifth of an element reads as
// closed; what it cuts off counts only where it reaches a third of an
// element clear of the curves, so thin tips pass and separate pieces do not.
inline bool SideHangsTogether(const Blank& b, const std::vector<Poly>& curves, bool inside, const P2& seed)
{
    const double step = 0.125 * b.h();
    std::vector<std::array<P2, 2>> segments;
    for (const Poly& c : curves)
        for (size_t i = 0; i + 1 < c.size(); ++i) segments.push_back({c[i], c[i + 1]});
    const cutjudge::Segments near(segments, b.h());
    const int nx = static_cast<int>((b.x1 - b.x0) / step) + 1,
              ny = static_cast<int>((b.y1 - b.y0) / step) + 1;
    const auto centre = [&](int i, int j) { return P2{b.x0 + (i + 0.5) * step, b.y0 + (j + 0.5) * step}; };
    const auto open = [&](int i, int j) {
        const P2 p = centre(i, j);
        if (!b.plan->OnBlank(p) || near.Nearest(p, step) < step) return false;
        for (const Poly& c : curves)
            if (trimcheck::Inside(p, c) != inside) return false;
        return true;
    };
    std::vector<char> state(static_cast<size_t>(nx) * static_cast<size_t>(ny), 0);  // 1 open, 2 reached
    size_t openCells = 0;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
            if (open(i, j)) state[static_cast<size_t>(j * nx + i)] = 1, ++openCells;
    int si = -1, sj = -1;
    double best = 1e300;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const double d = cutjudge::Dist(centre(i, j), seed);
            if (state[static_cast<size_t>(j * nx + i)] == 1 && d < best) best = d, si = i, sj = j;
        }
    if (si < 0 || best > b.h()) return false;
    std::vector<std::pair<int, int>> todo{{si, sj}};
    state[static_cast<size_t>(sj * nx + si)] = 2;
    size_t reached = 1;
    while (!todo.empty()) {
        const auto [i, j] = todo.back();
        todo.pop_back();
        for (const auto& [di, dj] : {std::pair<int, int>{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int a = i + di, c = j + dj;
            if (a < 0 || c < 0 || a >= nx || c >= ny || state[static_cast<size_t>(c * nx + a)] != 1) continue;
            state[static_cast<size_t>(c * nx + a)] = 2;
            ++reached;
            todo.push_back({a, c});
        }
    }
    if (reached == openCells) return true;
    // Cells cut off by the raster alone lie in tips and necks by the curve;
    // a separate piece of the side has cells well clear of it.
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
            if (state[static_cast<size_t>(j * nx + i)] == 1 &&
                near.Nearest(centre(i, j), 0.35 * b.h()) >= 0.35 * b.h())
                return false;
    return true;
}

// ------------------------------------------------------------ shapes the generators share

inline Poly Closed(Poly p)
{
    p.push_back(p.front());
    return p;
}

// A closed curve of n points round c, the radius of each a function of its
// index and angle.
template <typename Radius>
Poly Polar(const P2& c, int n, double phase, Radius radius)
{
    Poly p;
    for (int k = 0; k < n; ++k) {
        const double a = phase + 2 * 3.14159265358979323846 * k / n;
        const double r = radius(k, a);
        p.push_back({c[0] + r * std::cos(a), c[1] + r * std::sin(a)});
    }
    return Closed(p);
}

// Whether the curve keeps `margin` from the blank's bounding box, inside it.
inline bool Within(const Blank& b, const Poly& p, double margin)
{
    return std::all_of(p.begin(), p.end(), [&](const P2& q) {
        return q[0] >= b.x0 + margin && q[0] <= b.x1 - margin && q[1] >= b.y0 + margin && q[1] <= b.y1 - margin;
    });
}

// The operation of a generator's name ("trim2d", "lance3d", ...).
inline Op OpOf(const std::string& name)
{
    for (const Op op : {Op::kTrim2D, Op::kTrim3D, Op::kLance2D, Op::kLance3D})
        if (name == cutjudge::OpName(op)) return op;
    return Op::kTrim2D;
}

// ------------------------------------------------------------ configurations

struct Config {
    std::string blank;  // generator arguments, or a stored file
    Job job;
    std::string deck;                     // given as is (stored cases); otherwise written from the job
    std::vector<std::string> extraFiles;  // copied beside the deck
    bool skip = false;                    // the generator could not make this one (not counted)
};

inline std::string Card(const char* format, double a = 0, double b = 0, double c = 0, double d = 0,
                        double e = 0, double f = 0, double g = 0)
{
    char line[200];
    std::snprintf(line, sizeof line, format, a, b, c, d, e, f, g);
    return line;
}

// A deck that cuts every part of the blank along the job's curves, in the
// fixed columns of the bundled examples; 2D curves are seen along z. Control
// cards go before the curves.
inline std::string DeckFor(const Dynain& blank, const Job& job, const std::string& blankName,
                           const std::string& control = "")
{
    std::set<int> parts;
    for (const auto& s : blank.shells) parts.insert(s.pid);
    std::string deck = "*KEYWORD\n*KEYWORD_ID\njob\n";
    for (const int p : parts) deck += "*PART\n$  part id  section\n" + Card("%10.0f%10.0f\n", p, 1);
    deck += "*SECTION_SHELL\n$ section\n         1\n     1.000     1.000     1.000     1.000\n";
    deck += "*SET_PART_LIST\n$   set id\n         1\n";
    int count = 0;
    for (const int p : parts) deck += Card("%10.0f", p) + (++count % 8 == 0 ? "\n" : "");
    if (count % 8 != 0) deck += "\n";
    deck += "*ELEMENT_TRIM\n$   set id\n         1\n" + control;
    deck += "*DEFINE_VECTOR\n" + Card("%10.0f%10.1f%10.1f%10.1f%10.1f%10.1f%10.1f\n", 1, 0, 0, 0, 0, 0, 1);
    int id = 1;
    for (const Curve& c : job.curves) {
        if (cutjudge::Is3D(c.op)) {
            deck +=
                "*DEFINE_CURVE_TRIM_3D\n$   set id      type trim flag vector id     ratio       gap      "
                "seed\n";
            deck += Card("%10.0f%10.0f%10.0f%10.0f%10.2f%10.2f%10.0f\n", id++, 1,
                         c.op == Op::kLance3D ? 0 : 1, 0, 0.25, 2.0, c.op == Op::kLance3D ? 0 : c.seed);
            for (const P3& p : c.points) deck += Card("%20.6f%20.6f%20.6f\n", p[0], p[1], p[2]);
        } else {
            deck += "*DEFINE_CURVE_TRIM\n$   set id      type trim flag vector id     ratio\n";
            deck += Card("%10.0f%10.0f%10.0f%10.0f%10.2f\n", id++, 0, c.flag, 1, 0.25);
            for (const P3& p : c.points) deck += Card("%20.6f%20.6f\n", p[0], p[1]);
        }
    }
    return deck + "*INCLUDE\n" + blankName + "\n*END\n";
}

// A job of 2D curves seen along z, each with its flag: -1 keeps the inside,
// 1 removes it, 0 lances; the points as the deck's six decimals write them.
inline Job JobAlongZ(const std::vector<std::pair<int, Poly>>& curves)
{
    Job job;
    for (const auto& [flag, points] : curves) {
        Curve c;
        c.op = flag == 0 ? Op::kLance2D : Op::kTrim2D;
        c.flag = flag;
        for (const P2& p : points) c.points.push_back({Decimal6(p[0]), Decimal6(p[1]), 0.0});
        job.curves.push_back(c);
    }
    return job;
}

// A configuration trimming a blank along 2D curves seen along z, each with
// its flag: -1 keeps the inside, 1 removes it.
inline Config TrimAlongZ(const std::string& blank, const std::vector<std::pair<int, Poly>>& curves)
{
    Config c;
    c.blank = blank;
    c.job = JobAlongZ(curves);
    return c;
}

// A closed ellipse of n points round (cx, cy), its first point a share
// `phase` of a step past the x axis, so that it falls on no grid line.
inline Poly Ellipse(double cx, double cy, double a, double b, int n, double phase = 0.3)
{
    Poly p;
    for (int k = 0; k <= n; ++k) {
        const double t = 2 * 3.14159265358979323846 * ((k % n) + phase) / n;
        p.push_back({cx + a * std::cos(t), cy + b * std::sin(t)});
    }
    return p;
}

inline Poly Circle(double cx, double cy, double r, int n, double phase = 0.3)
{
    return Ellipse(cx, cy, r, r, n, phase);
}

// ------------------------------------------------------------ running one

struct Outcome {
    bool wrong = false;
    std::vector<std::string> faults;
    std::set<std::string> rules;
    std::string log;
    std::string digest;  // the exit status and a hash of what the program wrote
    std::string Summary(size_t most = 8) const
    {
        std::string text;
        for (size_t i = 0; i < faults.size() && i < most; ++i) text += "  " + faults[i] + "\n";
        if (faults.size() > most) text += "  ... and " + std::to_string(faults.size() - most) + " more\n";
        return text;
    }
};

inline std::string BlankFileName(const std::string& source)
{
    return "b" + std::to_string(Rng::Fnv(source) % 1000000007ULL) + ".dynain";
}

// Writes the configuration's files into a directory: the blank (once per
// directory), the deck as job.dyn and the files it names.
inline void WriteConfig(const std::filesystem::path& dir, const Config& c,
                        std::set<std::string>* written = nullptr, const std::string& blankName = "")
{
    const Blank& b = GetBlank(c.blank);
    const std::string name = blankName.empty() ? BlankFileName(c.blank) : blankName;
    if (!written || written->insert(name).second) sweepio::WriteFile((dir / name).string(), b.text);
    for (const std::string& f : c.extraFiles)
        std::filesystem::copy_file(f, dir / std::filesystem::path(f).filename(),
                                   std::filesystem::copy_options::overwrite_existing);
    std::string deck = c.deck;
    if (deck.empty()) {
        deck = DeckFor(b.mesh, c.job, name);
    } else {
        // The blank under its name here, and the result as job.dynain.
        for (const auto& [card, value] :
             {std::pair<std::string, std::string>{"*INCLUDE\n", name}, {"*KEYWORD_ID\n", "job"}}) {
            const size_t at = deck.find(card);
            if (at == std::string::npos) continue;
            const size_t from = at + card.size();
            deck.replace(from, deck.find('\n', from) - from, value);
        }
    }
    sweepio::WriteFile((dir / "job.dyn").string(), deck);
}

// A job of the sweeps takes milliseconds; a cutter caught in a loop is
// stopped and its configuration counted wrong rather than stalling the sweep.
constexpr int kSecondsPerJob = 30;

// The program the sweeps run: this build's, or the one CORVEX_SWEEP_PROGRAM
// names, so that one judge can measure two builds side by side.
inline std::string Program()
{
    const char* other = std::getenv("CORVEX_SWEEP_PROGRAM");
    return other && *other ? other : CORVEX_EXE;
}

inline sweepio::RunResult RunWithin(const sweepio::ScratchDir& dir, int seconds)
{
    const std::string command = "cd '" + dir.path().string() + "' && timeout -k 5 " +
                                std::to_string(seconds) + " '" + Program() +
                                "' job.dyn < /dev/null > .stdout 2>&1";
    const int raw = std::system(command.c_str());
    sweepio::RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = sweepio::ReadFile(dir.file(".stdout"));
    if (r.status == 124) r.out += "\nstopped after " + std::to_string(seconds) + " s\n";
    std::filesystem::remove(dir.file(".stdout"));
    return r;
}

// Runs the program on a configuration in a scratch directory and judges what it wrote.
inline Outcome Run(const sweepio::ScratchDir& dir, const Config& c, std::set<std::string>& written)
{
    Outcome o;
    WriteConfig(dir.path(), c, &written);
    const sweepio::RunResult run = RunWithin(dir, kSecondsPerJob);
    o.log = run.out;
    const std::string result = dir.file("job.dynain");
    o.digest = std::to_string(run.status) + " " +
               (std::filesystem::exists(result) ? std::to_string(Rng::Fnv(sweepio::ReadFile(result))) : "-");
    if (run.status != 0 || !std::filesystem::exists(result)) {
        // The last lines the program printed that say something.
        std::vector<std::string> said;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);)
            if (line.find_first_not_of(" *") != std::string::npos) said.push_back(line);
        std::string last;
        for (size_t i = said.size() > 3 ? said.size() - 3 : 0; i < said.size(); ++i)
            last += (last.empty() ? "" : " / ") + said[i];
        o.faults.push_back("[status] the program ended with status " + std::to_string(run.status) +
                           (std::filesystem::exists(result) ? "" : " and wrote no result") + ": " + last);
        o.rules.insert("status");
        o.wrong = true;
        std::filesystem::remove(result);
        return o;
    }
    const Dynain out = trimcheck::ParseFile(result);
    std::filesystem::remove(result);
    const cutjudge::Judge judge(GetBlank(c.blank).mesh, out, c.job);
    o.faults = judge.faults();
    o.rules = judge.rules();
    o.wrong = !judge.ok();
    return o;
}

// ------------------------------------------------------------ families and the report

// A family of configurations: its generators, each run over the committed
// seeds [from, to), and how it makes the configuration of a generator and seed.
struct Family {
    std::string name;
    std::function<Config(const std::string& generator, int seed)> make;
    std::vector<std::string> generators;
    int from = 0, to = 1;
};

// Every family, by name; each is defined in a family_*.cpp file of its own.
Family FlatFamily();
Family LatticeFamily();
Family RandomFamily();
Family GmshFamily();
Family CutFaultsFamily();

inline const std::map<std::string, Family>& Families()
{
    static const std::map<std::string, Family> families = [] {
        std::map<std::string, Family> all;
        for (Family f : {FlatFamily(), LatticeFamily(), RandomFamily(), GmshFamily(), CutFaultsFamily()})
            all[f.name] = std::move(f);
        return all;
    }();
    return families;
}

struct Record {
    std::string family, generator;
    int seed = 0;
    bool wrong = false;
    std::string first;  // the first finding
    std::set<std::string> rules;
};

inline std::vector<Record>& Records()
{
    static std::vector<Record> records;
    return records;
}

inline std::string Reproduce(const std::string& family, const std::string& generator, int seed)
{
    return "tools/sweep-job.sh " + family + " " + generator + " " + std::to_string(seed);
}

// Runs seeds [from, to) of one generator of a family and records each; says
// what is wrong with each wrong configuration. With a digest file, every
// output's hash goes there too, for comparing two builds byte for byte
// (tools/compare-outputs.sh).
inline std::vector<std::string> RunSweep(const std::string& familyName, const std::string& generator, int from,
                                         int to, const std::string& digests = "")
{
    const Family& family = Families().at(familyName);
    sweepio::ScratchDir dir("sweep-" + familyName);
    std::set<std::string> written;
    std::vector<std::string> wrong;
    for (int seed = from; seed < to; ++seed) {
        const Config c = family.make(generator, seed);
        if (c.skip) continue;
        const Outcome o = Run(dir, c, written);
        if (!digests.empty())
            std::ofstream(digests, std::ios::app) << familyName << " " << generator << " " << seed << " " << o.digest
                                                  << "\n";
        Records().push_back({familyName, generator, seed, o.wrong, o.faults.empty() ? "" : o.faults.front(), o.rules});
        if (o.wrong)
            wrong.push_back(familyName + " " + generator + " seed " + std::to_string(seed) + " is cut wrongly:\n" +
                            o.Summary() + "  to look at it: " + Reproduce(familyName, generator, seed) + " DIR");
    }
    return wrong;
}

// The measurement of every configuration recorded so far.
inline std::string ReportText()
{
    std::map<std::pair<std::string, std::string>, std::pair<int, int>> counts;
    std::map<std::string, std::pair<int, int>> totals;
    for (const Record& r : Records()) {
        auto& c = counts[{r.family, r.generator}];
        c.first += r.wrong;
        ++c.second;
        totals[r.family].first += r.wrong;
        ++totals[r.family].second;
    }
    std::string text = "\nCutting sweeps: wrong configurations of all that ran\n";
    std::string family;
    for (const auto& [key, c] : counts) {
        if (key.first != family) {
            family = key.first;
            text += "  " + family + ": " + std::to_string(totals[family].first) + " of " +
                    std::to_string(totals[family].second) + " wrong\n";
        }
        text += "      " + key.second + ": " + std::to_string(c.first) + " of " + std::to_string(c.second) +
                " wrong\n";
    }
    // Which rules the wrong configurations break: a rule that everything
    // breaks, or that alone makes many wrong, deserves a second look.
    std::map<std::string, std::map<std::string, std::pair<int, int>>> rules;
    for (const Record& r : Records())
        for (const std::string& rule : r.rules) {
            auto& c = rules[r.family][rule];
            ++c.first;
            c.second += r.rules.size() == 1;
        }
    text += "\nRules broken (configurations breaking it, and breaking it alone)\n";
    for (const auto& [f, byRule] : rules) {
        text += "  " + f + ":";
        for (const auto& [rule, c] : byRule)
            text += " " + rule + " " + std::to_string(c.first) + "/" + std::to_string(c.second);
        text += "\n";
    }
    text += "\nWrong configurations (family generator seed {rules broken}: first finding)\n";
    for (const Record& r : Records()) {
        if (!r.wrong) continue;
        std::string broken;
        for (const std::string& rule : r.rules) broken += (broken.empty() ? "" : " ") + rule;
        text += "  " + r.family + " " + r.generator + " " + std::to_string(r.seed) + " {" + broken + "}: " + r.first + "\n";
    }
    return text;
}

}  // namespace sweep

#endif
