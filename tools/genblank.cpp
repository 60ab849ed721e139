// corvex_genblank: writes synthetic formed blanks (dynain state files) and small
// decks that use them, for the tests and benchmarks of corvexandrilo.
//
// Every value is derived from the seed through counter-based random numbers, so
// the same arguments give the same bytes, and an element's stresses can be
// recomputed in any pass instead of being held in memory.

#include "genblank_lattice.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

using namespace genblank;

namespace {

// ---------------------------------------------------------------------------
// Buffered output

class Output {
public:
    explicit Output(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb"), &std::fclose)
    {
        if (!file_)
            throw std::runtime_error("cannot open " + path + " for writing");
        buffer_.resize(kBufferSize);
    }

    void Text(std::string_view text)
    {
        if (text.size() > kBufferSize / 2) {
            Flush();
            Store(text.data(), text.size());
            return;
        }
        Room(text.size());
        std::memcpy(buffer_.data() + used_, text.data(), text.size());
        used_ += text.size();
    }

    void Int(long long value, int width)
    {
        Room(32);
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                                : static_cast<unsigned long long>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative)
            digits[n++] = '-';
        for (int pad = width - n; pad > 0; --pad)
            buffer_[used_++] = ' ';
        while (n > 0)
            buffer_[used_++] = digits[--n];
    }

    // "%16.9e" (digits 10) or "%10.3e" (digits 4) with the exponent shortened.
    void Real(double value, int digits, int width)
    {
        Room(40);
        char* const start = buffer_.data() + used_;
        used_ += static_cast<std::size_t>(PutDecimal(start, Round(value, digits), digits, width) - start);
    }
    void Real16(double value) { Real(value, 10, 16); }
    void Real10(double value) { Real(value, 4, 10); }

    void Newline()
    {
        Room(1);
        buffer_[used_++] = '\n';
    }

    // Flushes and reports a failed write; the destructor alone would lose the error.
    void Close()
    {
        Flush();
        FILE* const file = file_.release();
        if (std::fclose(file) != 0)
            throw std::runtime_error("cannot write " + path_);
    }

private:
    static constexpr std::size_t kBufferSize = std::size_t{8} << 20;

    void Room(std::size_t n)
    {
        if (used_ + n > buffer_.size())
            Flush();
    }
    void Flush()
    {
        Store(buffer_.data(), used_);
        used_ = 0;
    }
    void Store(const char* data, std::size_t size)
    {
        if (size > 0 && std::fwrite(data, 1, size, file_.get()) != size)
            throw std::runtime_error("cannot write " + path_);
    }

    std::string path_;
    std::unique_ptr<FILE, int (*)(FILE*)> file_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// ---------------------------------------------------------------------------
// Elements

struct ElementRef {
    int id = 0;
    int part = 0;
    int count = 4;  // 3 or 4 corners
    std::array<LatticePoint, 4> corners;
    bool core = false;
    double gx = 0.0;  // centroid in grid (or core) coordinates
    double gy = 0.0;
};

// Visits the elements in file order. Every pass walks the same sequence, so the
// element ids come out the same without being stored.
template <typename Visit>
void ForEachElement(const Blank& blank, std::uint64_t seed, Visit&& visit)
{
    IdSequence ids(seed, Stream::ElementIds);
    ElementRef e;
    // The cup's core: plain quadrilaterals in the bottom.
    e.core = true;
    e.count = 4;
    e.part = blank.CorePartId();
    for (int b = 0; b < blank.CoreCells(); ++b)
        for (int a = 0; a < blank.CoreCells(); ++a) {
            e.id = ids.Next();
            e.corners = {LatticePoint{a, b, true}, LatticePoint{a + 1, b, true}, LatticePoint{a + 1, b + 1, true},
                         LatticePoint{a, b + 1, true}};
            e.gx = a + 0.5;
            e.gy = b + 0.5;
            visit(static_cast<const ElementRef&>(e));
        }
    e.core = false;
    // The ring runs anticlockwise and outwards; listing its corners the other
    // way round keeps every normal on the core's side.
    const bool reversed = blank.Periodic();
    for (int cj = 0; cj < blank.CellsV(); ++cj)
        for (int ci = 0; ci < blank.CellsU(); ++ci) {
            const int level = blank.Level(ci, cj);
            const int step = kSub >> level;
            const int n = 1 << level;
            e.part = blank.PartId(ci, cj);
            for (int b = 0; b < n; ++b)
                for (int a = 0; a < n; ++a) {
                    const LatticePoint p0{kSub * ci + a * step, kSub * cj + b * step, false};
                    const LatticePoint across{p0.i + step, p0.j, false};
                    const LatticePoint up{p0.i, p0.j + step, false};
                    const LatticePoint far{p0.i + step, p0.j + step, false};
                    const std::array<LatticePoint, 4> quad =
                        reversed ? std::array<LatticePoint, 4>{p0, up, far, across}
                                 : std::array<LatticePoint, 4>{p0, across, far, up};
                    if (!blank.IsSplit(ci, cj)) {
                        e.id = ids.Next();
                        e.count = 4;
                        e.corners = quad;
                        e.gx = (p0.i + 0.5 * step) / kSub;
                        e.gy = (p0.j + 0.5 * step) / kSub;
                        visit(static_cast<const ElementRef&>(e));
                        continue;
                    }
                    // Alternate the diagonal, as a mesher's transition band does.
                    const bool rising = (ci + cj) % 2 == 0;
                    const std::array<std::array<int, 3>, 2> halves =
                        rising ? std::array<std::array<int, 3>, 2>{{{0, 1, 2}, {0, 2, 3}}}
                               : std::array<std::array<int, 3>, 2>{{{0, 1, 3}, {1, 2, 3}}};
                    for (const auto& half : halves) {
                        e.id = ids.Next();
                        e.count = 3;
                        double sx = 0.0;
                        double sy = 0.0;
                        for (std::size_t k = 0; k < 3; ++k) {
                            e.corners[k] = quad[static_cast<std::size_t>(half[k])];
                            sx += e.corners[k].i;
                            sy += e.corners[k].j;
                        }
                        e.corners[3] = e.corners[2];
                        e.gx = sx / (3.0 * kSub);
                        e.gy = sy / (3.0 * kSub);
                        visit(static_cast<const ElementRef&>(e));
                    }
                }
        }
}

// What the forming left in one element; its stress and strain records are both
// written from it.
struct ElementState {
    bool untouched = false;  // never deformed: all stresses and strains zero
    double eps = 0.0;        // mid-surface plastic strain
    double bend = 0.0;       // relative change of plastic strain through the thickness
    double yield = 0.0;      // flow stress at that strain
    std::array<double, 3> membrane{};  // xx, yy, xy as fractions of the flow stress
    std::array<double, 3> bending{};
};

ElementState StateOf(const Blank& blank, std::uint64_t seed, const ElementRef& e)
{
    Rng rng(seed, Stream::Element, static_cast<std::uint64_t>(e.id));
    const Sample sample = e.core ? blank.CoreAt(e.gx, e.gy) : blank.At(e.gx, e.gy);
    ElementState st;
    st.eps = std::clamp(blank.PlasticStrain(sample) * rng.Range(0.9, 1.1), 0.0, 0.38);
    st.untouched = st.eps == 0.0;
    st.bend = rng.Range(-0.5, 0.5);
    st.yield = 180.0 + 520.0 * std::sqrt(st.eps / 0.4);
    const double tension = rng.Range(0.3, 0.9);
    st.membrane = {tension, rng.Range(-0.6, 0.9) * tension, rng.Range(-0.25, 0.25)};
    st.bending = {rng.Range(-0.5, 0.5), rng.Range(-0.5, 0.5), rng.Range(-0.1, 0.1)};
    return st;
}

// A value far from the usual magnitudes, with a two-digit exponent.
double Tiny(Rng& rng) { return (rng.OneIn(2) ? -1.0 : 1.0) * rng.Range(1.0, 9.99) * ScaleBy10(1.0, -10 - rng.Below(25)); }
double Huge(Rng& rng) { return (rng.OneIn(2) ? -1.0 : 1.0) * rng.Range(1.0, 9.99) * ScaleBy10(1.0, 10 + rng.Below(15)); }

// Through-thickness coordinates of the integration points (Gauss points in -1..1).
std::vector<double> GaussPoints(int n)
{
    std::vector<double> points(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        double x = std::cos(kPi * (k + 0.75) / (n + 0.5));
        for (int iteration = 0; iteration < 50; ++iteration) {
            double p0 = 1.0;
            double p1 = x;
            for (int order = 2; order <= n; ++order) {
                const double p2 = ((2.0 * order - 1.0) * x * p1 - (order - 1.0) * p0) / order;
                p0 = p1;
                p1 = p2;
            }
            const double slope = n * (x * p1 - p0) / (x * x - 1.0);
            const double dx = p1 / slope;
            x -= dx;
            if (std::fabs(dx) < 1e-15)
                break;
        }
        points[static_cast<std::size_t>(n - 1 - k)] = x;  // from the bottom surface up
    }
    return points;
}

// ---------------------------------------------------------------------------
// Writing the blank

class BlankWriter {
public:
    BlankWriter(const Options& options, const Blank& blank) : options_(options), blank_(blank)
    {
        Rng rng(options.seed, Stream::Layout, 7);
        frameId_ = 2 + rng.Below(40);
        frameAngle_ = rng.Range(15.0, 40.0) * kPi / 180.0;
    }

    // Returns the id of the corner node nearest the middle of the lattice,
    // the seed a 3D trim deck keeps.
    int Write(Output& out)
    {
        out.Text("*KEYWORD\n");
        char note[160];
        std::snprintf(note, sizeof note, "$ formed %s blank: seed %llu, %d integration points, %d history variables\n",
                      ShapeText(options_).c_str(), static_cast<unsigned long long>(options_.seed), options_.nthick,
                      options_.nhisv);
        out.Text(note);
        NodeResult nodes = WriteNodes(out);
        WriteConstraints(out, nodes);
        WriteElements(out, nodes);
        if (options_.state) {
            WriteStresses(out);
            WriteStrains(out);
        }
        out.Text("*END\n");
        const LatticePoint middle{kSub * (blank_.CellsU() / 2), kSub * (blank_.CellsV() / 2)};
        const int index = nodes.table.Get(middle);
        return index > 0 ? nodes.ids[static_cast<std::size_t>(index - 1)] : 0;
    }

private:
    NodeResult WriteNodes(Output& out)
    {
        NodeResult r{NodeTable(blank_), {}, {}, {}, {}, {}};
        IdSequence ids(options_.seed, Stream::NodeIds);
        out.Text("*NODE\n");
        out.Text("$   NODE               X               Y               Z      TC      RC\n");
        const auto write = [&](LatticePoint p, const Vec3& x) {
            const int id = ids.Next();
            r.ids.push_back(id);
            r.thickness.push_back(Shown(blank_.Thickness(SampleAt(blank_, p)), 10));
            r.table.Set(p, static_cast<int>(r.ids.size()));
            out.Int(id, 8);
            out.Real16(x.x);
            out.Real16(x.y);
            out.Real16(x.z);
            out.Newline();
            return id;
        };
        // The cup's core first: its inner corners only, the outline belongs to the ring.
        const int core = blank_.CoreCells();
        for (int b = 1; b < core; ++b)
            for (int a = 1; a < core; ++a)
                write({a, b, true}, NodePoint(blank_, {a, b, true}));

        const int lastI = kSub * blank_.CellsU();
        const int lastJ = kSub * blank_.CellsV();
        const int columns = blank_.Periodic() ? lastI - 1 : lastI;
        bool frameSet = false;
        for (int j = 0; j <= lastJ; ++j) {
            if (j % kSub != 0 && !blank_.RowRefined(j / kSub))
                continue;
            for (int i = 0; i <= columns; ++i) {
                const LatticePoint p{i, j};
                if (!NodeExists(blank_, p))
                    continue;
                LatticePoint a;
                LatticePoint b;
                const bool hanging = IsHanging(blank_, p, a, b);
                Vec3 x;
                if (hanging) {
                    // Where the refining solver put it: the middle of the coarse edge.
                    const Vec3 pa = NodePoint(blank_, a);
                    const Vec3 pb = NodePoint(blank_, b);
                    x = {Shown(0.5 * (pa.x + pb.x), 10), Shown(0.5 * (pa.y + pb.y), 10),
                         Shown(0.5 * (pa.z + pb.z), 10)};
                } else {
                    x = NodePoint(blank_, p);
                }
                const int id = write(p, x);
                if (hanging) {
                    r.hanging.push_back({id, a, b});
                    continue;
                }
                switch (EdgeOf(i, j, lastI, lastJ)) {
                case Edge::Global: r.spcs.push_back({id, 0, GlobalDofs()}); break;
                case Edge::Local:
                    r.spcs.push_back({id, frameId_, {1, 0, 1, 0, 0, 0}});
                    if (!frameSet) {
                        r.frameOrigin = x;
                        frameSet = true;
                    }
                    break;
                case Edge::Free: break;
                }
            }
        }
        return r;
    }

    // One edge is fixed in the global system (a symmetry plane, or a stretch of
    // the cup's rim), another held in a rotated local system.
    enum class Edge { Free, Global, Local };
    Edge EdgeOf(int i, int j, int lastI, int lastJ) const
    {
        switch (options_.shape) {
        case Shape::Flat: return i == 0 ? Edge::Global : (i == lastI ? Edge::Local : Edge::Free);
        case Shape::Hat: return j == 0 ? Edge::Global : (i == lastI ? Edge::Local : Edge::Free);
        case Shape::Cup:
            if (j != lastJ)
                return Edge::Free;
            if (i < lastI / 8)
                return Edge::Global;
            return i >= lastI / 2 && i < lastI / 2 + lastI / 8 ? Edge::Local : Edge::Free;
        }
        return Edge::Free;
    }
    std::array<int, 6> GlobalDofs() const
    {
        switch (options_.shape) {
        case Shape::Flat: return {1, 0, 0, 0, 1, 1};
        case Shape::Hat: return {0, 1, 0, 1, 0, 1};
        case Shape::Cup: return {0, 0, 1, 0, 0, 0};
        }
        return {};
    }

    void WriteConstraints(Output& out, const NodeResult& nodes)
    {
        out.Text("*BOUNDARY_SPC_NODE\n");
        out.Text("$ NID/NSID       CID      DOFX      DOFY      DOFZ     DOFRX     DOFRY     DOFRZ\n");
        for (const Spc& spc : nodes.spcs) {
            out.Int(spc.node, 10);
            out.Int(spc.cid, 10);
            for (const int dof : spc.dofs)
                out.Int(dof, 10);
            out.Newline();
        }
        const double angle = frameAngle_;
        const Vec3 o = nodes.frameOrigin;
        out.Text("*DEFINE_COORDINATE_SYSTEM\n");
        out.Int(frameId_, 10);
        for (const double v : {o.x, o.y, o.z, o.x + 100.0 * std::cos(angle), o.y + 100.0 * std::sin(angle), o.z})
            out.Real10(v);
        out.Newline();
        for (const double v : {o.x - 100.0 * std::sin(angle), o.y + 100.0 * std::cos(angle), o.z})
            out.Real10(v);
        out.Newline();
        if (nodes.hanging.empty())
            return;
        out.Text("*CONSTRAINED_ADAPTIVITY\n");
        for (const Adaptivity& h : nodes.hanging) {
            out.Int(h.node, 10);
            out.Int(nodes.ids[static_cast<std::size_t>(nodes.table.Get(h.a) - 1)], 10);
            out.Int(nodes.ids[static_cast<std::size_t>(nodes.table.Get(h.b) - 1)], 10);
            out.Newline();
        }
    }

    void WriteElements(Output& out, const NodeResult& nodes)
    {
        out.Text("*ELEMENT_SHELL_THICKNESS\n");
        out.Text("$    EID     PID      N1      N2      N3      N4\n");
        ForEachElement(blank_, options_.seed, [&](const ElementRef& e) {
            std::array<std::size_t, 4> index{};
            for (std::size_t k = 0; k < 4; ++k)
                index[k] = static_cast<std::size_t>(nodes.table.Get(e.corners[k]) - 1);
            out.Int(e.id, 8);
            out.Int(e.part, 8);
            for (const std::size_t n : index)
                out.Int(nodes.ids[n], 8);
            out.Newline();
            for (const std::size_t n : index)
                out.Real16(nodes.thickness[n]);
            out.Newline();
        });
    }

    void WriteStresses(Output& out)
    {
        const std::vector<double> points = GaussPoints(options_.nthick);
        const int historyLines = (options_.nhisv + 7) / 8;
        std::vector<double> history(static_cast<std::size_t>(options_.nhisv));
        out.Text("*INITIAL_STRESS_SHELL\n");
        ForEachElement(blank_, options_.seed, [&](const ElementRef& e) {
            const ElementState st = StateOf(blank_, options_.seed, e);
            Rng rng(options_.seed, Stream::Stress, static_cast<std::uint64_t>(e.id));
            out.Int(e.id, 10);
            out.Int(1, 10);
            out.Int(options_.nthick, 10);
            out.Int(options_.nhisv, 10);
            out.Int(0, 10);
            out.Newline();
            for (const double t : points) {
                const auto stress = [&](int k) {
                    const double v = st.yield * (st.membrane[static_cast<std::size_t>(k)] +
                                                 st.bending[static_cast<std::size_t>(k)] * t);
                    return st.untouched ? 0.0 : std::clamp(v, -600.0, 600.0);
                };
                const double eps = st.untouched ? 0.0 : std::clamp(st.eps * (1.0 + st.bend * t), 0.0, 0.4);
                const double shearScale = st.untouched ? 0.0 : 1.0;
                out.Real10(t);
                out.Real10(stress(0));
                out.Real10(stress(1));
                out.Real10(rng.OneIn(8) ? shearScale * Tiny(rng) : 0.0);
                out.Real10(stress(2));
                out.Real10(shearScale * (rng.OneIn(5) ? Tiny(rng) : rng.Range(-8.0, 8.0)));
                out.Real10(shearScale * (rng.OneIn(5) ? Tiny(rng) : rng.Range(-8.0, 8.0)));
                out.Real10(eps);
                out.Newline();
                if (historyLines == 0)
                    continue;
                FillHistory(history, st, eps, rng);
                for (std::size_t k = 0; k < history.size(); ++k) {
                    out.Real10(history[k]);
                    if (k % 8 == 7 || k + 1 == history.size())
                        out.Newline();
                }
            }
        });
    }

    // History variables as a material model keeps them: rates, triaxiality,
    // damage, temperature, back stresses, and a few with extreme magnitudes.
    static void FillHistory(std::vector<double>& h, const ElementState& st, double eps, Rng& rng)
    {
        const double live = st.untouched ? 0.0 : 1.0;
        const std::array<double, 10> all = {
            live * ScaleBy10(rng.Range(1.0, 9.99), -4 + rng.Below(7)),
            live * rng.Range(-0.66, 0.66),
            std::min(1.0, eps * rng.Range(0.5, 2.0)),
            293.15 + 40.0 * eps,
            live * st.yield * rng.Range(-0.1, 0.1),
            live * st.yield * rng.Range(-0.1, 0.1),
            live * Huge(rng),
            live * Tiny(rng),
            0.0,
            eps > 0.2 ? 1.0 : 0.0,
        };
        std::copy_n(all.begin(), h.size(), h.begin());
    }

    void WriteStrains(Output& out)
    {
        out.Text("*INITIAL_STRAIN_SHELL\n");
        ForEachElement(blank_, options_.seed, [&](const ElementRef& e) {
            const ElementState st = StateOf(blank_, options_.seed, e);
            Rng rng(options_.seed, Stream::Strain, static_cast<std::uint64_t>(e.id));
            const double total = st.untouched ? 0.0 : st.eps + 0.002;
            const double exx = total * st.membrane[0];
            const double eyy = total * (st.membrane[1] - 0.3 * st.membrane[0]);
            const double exy = total * st.membrane[2];
            const double yz = rng.OneIn(3) && !st.untouched ? Tiny(rng) : 0.0;
            out.Int(e.id, 10);
            out.Newline();
            for (const double side : {-1.0, 1.0}) {
                const double b = 1.0 + side * 0.3 * st.bend;
                out.Real10(exx * b);
                out.Real10(eyy * b);
                out.Real10(-(exx + eyy) * b);
                out.Real10(exy * b);
                out.Real10(yz);
                out.Real10(0.0);
                out.Newline();
            }
        });
    }

    const Options& options_;
    const Blank& blank_;
    int frameId_ = 0;
    double frameAngle_ = 0.0;
};

// ---------------------------------------------------------------------------
// Decks

std::string FileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Directory(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

[[gnu::format(printf, 1, 2)]] std::string Card(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

// A closed trim curve in the x-y plane, seen along z: a superellipse (a rounded
// rectangle for large exponents), its last point repeating the first.
std::vector<std::array<double, 2>> TrimCurve(const Blank& blank, const Options& options)
{
    const double h = blank.CellSize();
    double cx = 0.0;
    double cy = 0.0;
    double ax = 0.0;
    double ay = 0.0;
    double power = 4.0;
    switch (options.shape) {
    case Shape::Flat:
        cx = 0.5 * blank.CellsU() * h;
        cy = 0.5 * blank.CellsV() * h;
        ax = 0.41 * blank.CellsU() * h;
        ay = 0.37 * blank.CellsV() * h;
        break;
    case Shape::Cup: {
        // A circle through the flange, clear of the die radius and of the rim.
        const Profile& p = blank.Section();
        ax = ay = 0.5 * (p.At(p.End(Profile::DieRadius)).r + blank.OuterReach());
        power = 2.0;
        break;
    }
    case Shape::Hat: {
        const Profile& p = blank.Section();
        ax = 0.5 * (p.At(p.End(Profile::DieRadius)).r + blank.OuterReach());
        cy = 0.5 * blank.CellsV() * h;
        ay = 0.36 * blank.CellsV() * h;
        power = 8.0;
        break;
    }
    }
    std::vector<std::array<double, 2>> points;
    const int count = options.curvePoints;
    for (int k = 0; k < count; ++k) {
        const double a = 2.0 * kPi * (k + 0.3) / count;
        const double c = std::cos(a);
        const double s = std::sin(a);
        const double r = 1.0 / std::pow(std::pow(std::fabs(c), power) + std::pow(std::fabs(s), power), 1.0 / power);
        points.push_back({cx + ax * r * c, cy + ay * r * s});
    }
    points.push_back(points.front());
    return points;
}

std::string DeckJobId(const Options& options) { return "genblank_" + options.deck; }

std::string DeckPath(const Options& options)
{
    std::string stem = FileName(options.output);
    const std::size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        stem.resize(dot);
    return Directory(options.output) + stem + "_" + options.deck + ".dyn";
}

void WriteDeck(const Options& options, const Blank& blank, int middleNode)
{
    const std::vector<int> parts = blank.PartIds();
    const std::string blankName = FileName(options.output);
    std::string deck = "*KEYWORD\n*KEYWORD_ID\n" + DeckJobId(options) + "\n";
    if (options.deck == "anneal") {
        deck += "$ Part " + std::to_string(parts[0]) + " and part " + std::to_string(parts[1]) +
                " keep 70 percent of their stresses, part " + std::to_string(parts[2]) + " 40 percent.\n";
        deck += "*SET_PART_LIST\n$      SID\n" + Card("%10d\n%10d%10d\n", 1, parts[0], parts[1]);
        deck += "*SET_PART_LIST\n$      SID\n" + Card("%10d\n%10d\n", 2, parts[2]);
        deck += "*CONTROL_ANNEAL\n$      SID         R\n" + Card("%10d%10.1f\n", 1, 0.3);
        deck += "*CONTROL_ANNEAL\n$      SID         R\n" + Card("%10d%10.1f\n", 2, 0.6);
    } else {
        deck += options.deck == "trim3d" ? "$ Trim every part along one closed curve on the blank.\n"
                                         : "$ Trim every part along one closed curve seen along z.\n";
        for (const int part : parts)
            deck += "*PART\n$      PID     SECID\n" + Card("%10d%10d\n", part, 1);
        deck += "*SECTION_SHELL\n$    SECID\n" + Card("%10d\n%10.3f%10.3f%10.3f%10.3f\n", 1, options.thickness,
                                                       options.thickness, options.thickness, options.thickness);
        deck += "*SET_PART_LIST\n$      SID\n" + Card("%10d\n%10d%10d%10d\n", 1, parts[0], parts[1], parts[2]);
        deck += "*ELEMENT_TRIM\n$     PSID\n" + Card("%10d\n", 1);
        deck += "*DEFINE_VECTOR\n$      VID        XT        YT        ZT        XH        YH        ZH\n" +
                Card("%10d%10.1f%10.1f%10.1f%10.1f%10.1f%10.1f\n", 1, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0);
        if (options.deck == "trim3d") {
            // The same curve lying on the flat blank, cut along the normal; the
            // middle node keeps the inside.
            deck += "*DEFINE_CURVE_TRIM_3D\n$     TCID    TCTYPE      TFLG      TDIR     TCTOL       GAP      SEED\n" +
                    Card("%10d%10d%10d%10d%10.2f%10.2f%10d\n", 1, 1, 1, 0, 0.25, 2.0, middleNode);
            for (const auto& p : TrimCurve(blank, options))
                deck += Card("%20.6f%20.6f%20.6f\n", p[0], p[1], 0.0);
        } else {
            deck += "*DEFINE_CURVE_TRIM\n$     TCID    TCTYPE      TFLG      TDIR     TCTOL\n" +
                    Card("%10d%10d%10d%10d%10.2f\n", 1, 0, 1, 1, 0.25);
            for (const auto& p : TrimCurve(blank, options))
                deck += Card("%20.6f%20.6f\n", p[0], p[1]);
        }
    }
    deck += "*INCLUDE\n" + blankName + "\n*END\n";
    Output out(DeckPath(options));
    out.Text(deck);
    out.Close();
}

// ---------------------------------------------------------------------------
// Sizing and the command line

// Coarse cell size: large for small blanks, down to a size at which two
// refinement levels still leave elements of about half a millimetre.
double CellSizeFor(const Options& options)
{
    if (options.size > 0.0)
        return options.size;
    const double h = std::clamp(10.0 * std::pow(1000.0 / static_cast<double>(options.elements), 0.25), 2.5, 10.0);
    // A ring's cells widen with the radius, 2.5 times from the core to the rim.
    return options.shape == Shape::Cup ? std::clamp(0.4 * h, 1.2, 4.0) : h;
}

// Grid scale whose element count comes close to the request.
int ScaleFor(const Options& options, double h)
{
    int scale = std::max(8, static_cast<int>(std::sqrt(static_cast<double>(options.elements))));
    for (int round = 0; round < 6; ++round) {
        const long count = Blank(options, scale, h).ElementCount();
        const double ratio = static_cast<double>(options.elements) / static_cast<double>(count);
        const int next = std::max(8, static_cast<int>(std::lround(scale * std::sqrt(ratio))));
        if (next == scale)
            break;
        scale = next;
    }
    return scale;
}

const char* const kHelp =
    "usage: corvex_genblank [options]\n"
    "Writes a formed blank (a dynain state file) and optionally a deck that includes it.\n"
    "Same options, same bytes.\n"
    "\n"
    "  --shape flat|cup|hat   shape of the blank (default cup)\n"
    "  --elements N           about how many shell elements (100 to 5000000, default 2000)\n"
    "  --levels 0|1|2         depth of the adaptive refinement zones (default 2)\n"
    "  --nthick N             integration points through the thickness, 3 to 7 (default 5)\n"
    "  --nhisv 0|4|10         history variables per integration point (default 4)\n"
    "  --seed N               seed of all random choices (default 1)\n"
    "  --size H               coarse element size in mm (the cup: in its bottom), 1 to 20\n"
    "                         (default: from --elements)\n"
    "  --cells UxV            flat: exactly U by V coarse cells (default: from --elements);\n"
    "                         with a whole --size every node lies on a lattice of size/4\n"
    "  --bend cylinder|dome   flat: lay the sheet onto a cylinder round its middle line\n"
    "                         along y, or onto a dome; x and y stay those of the flat grid\n"
    "  --thickness T          initial sheet thickness in mm (default 1.0)\n"
    "  --no-state             leave out the initial stresses and strains\n"
    "  --deck anneal|trim2d|trim3d\n"
    "                         also write a deck <name>_<kind>.dyn beside the blank\n"
    "                         (trim3d: flat blanks only, the middle node as seed)\n"
    "  --curve-points N       distinct points of the deck's closed trim curve, 8 to\n"
    "                         100000 (default 96)\n"
    "  --output PATH, -o PATH the blank file to write (default blank.dynain)\n"
    "  --help, -h             this text\n";

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "corvex_genblank: %s\n(--help lists the options)\n", problem.c_str());
    std::exit(2);
}

long ParseInteger(const std::string& option, const std::string& text, long low, long high)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        Usage(option + " wants a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
              ", not '" + text + "'");
    return value;
}

double ParseReal(const std::string& option, const std::string& text, double low, double high)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= low && value <= high))
        Usage(option + " wants a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" +
              text + "'");
    return value;
}

Options ParseArguments(int argc, char** argv)
{
    Options o;
    for (int k = 1; k < argc; ++k) {
        const std::string option = argv[k];
        if (option == "--help" || option == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (option == "--no-state") {
            o.state = false;
            continue;
        }
        if (k + 1 >= argc)
            Usage(option == "--" ? "unexpected argument" : "unknown option or missing value: " + option);
        const std::string value = argv[++k];
        if (option == "--shape") {
            if (value == "flat")
                o.shape = Shape::Flat;
            else if (value == "cup")
                o.shape = Shape::Cup;
            else if (value == "hat")
                o.shape = Shape::Hat;
            else
                Usage("--shape wants flat, cup or hat, not '" + value + "'");
        } else if (option == "--elements") {
            o.elements = ParseInteger(option, value, 100, 5000000);
        } else if (option == "--levels") {
            o.levels = static_cast<int>(ParseInteger(option, value, 0, 2));
        } else if (option == "--nthick") {
            o.nthick = static_cast<int>(ParseInteger(option, value, 3, 7));
        } else if (option == "--nhisv") {
            o.nhisv = static_cast<int>(ParseInteger(option, value, 0, 10));
            if (o.nhisv != 0 && o.nhisv != 4 && o.nhisv != 10)
                Usage("--nhisv wants 0, 4 or 10");
        } else if (option == "--seed") {
            o.seed = static_cast<std::uint64_t>(ParseInteger(option, value, 0, 2147483647L));
        } else if (option == "--size") {
            o.size = ParseReal(option, value, 1.0, 20.0);
        } else if (option == "--cells") {
            const std::size_t cross = value.find('x');
            if (cross == std::string::npos)
                Usage("--cells wants UxV, not '" + value + "'");
            o.cellsU = static_cast<int>(ParseInteger(option, value.substr(0, cross), 1, 10000));
            o.cellsV = static_cast<int>(ParseInteger(option, value.substr(cross + 1), 1, 10000));
        } else if (option == "--bend") {
            if (value == "cylinder")
                o.bend = Bend::Cylinder;
            else if (value == "dome")
                o.bend = Bend::Dome;
            else
                Usage("--bend wants cylinder or dome, not '" + value + "'");
        } else if (option == "--thickness") {
            o.thickness = ParseReal(option, value, 0.1, 10.0);
        } else if (option == "--deck") {
            if (value != "anneal" && value != "trim2d" && value != "trim3d")
                Usage("--deck wants anneal, trim2d or trim3d, not '" + value + "'");
            o.deck = value;
        } else if (option == "--curve-points") {
            o.curvePoints = static_cast<int>(ParseInteger(option, value, 8, 100000));
        } else if (option == "--output" || option == "-o") {
            o.output = value;
        } else {
            Usage("unknown option " + option);
        }
    }
    if ((o.cellsU > 0 || o.bend != Bend::None) && o.shape != Shape::Flat)
        Usage("--cells and --bend want --shape flat");
    if (o.deck == "trim3d" && (o.shape != Shape::Flat || o.bend != Bend::None))
        Usage("--deck trim3d wants --shape flat without --bend: its curve lies in the plane of the flat blank");
    // The program writes <job id>.dynain into the deck's directory; it must not be the blank.
    if (!o.deck.empty() && FileName(o.output) == DeckJobId(o) + ".dynain")
        Usage("the blank may not be named " + FileName(o.output) + ": the deck's result would overwrite it");
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseArguments(argc, argv);
    try {
        const double h = CellSizeFor(options);
        const Blank blank(options, ScaleFor(options, h), h);
        Output out(options.output);
        const int middleNode = BlankWriter(options, blank).Write(out);
        out.Close();
        if (!options.deck.empty())
            WriteDeck(options, blank, middleNode);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvex_genblank: %s\n", error.what());
        return 1;
    }
    return 0;
}
