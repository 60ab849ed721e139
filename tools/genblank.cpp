// corvex_genblank: writes synthetic formed blanks (dynain state files) and small
// decks that use them, for the tests and benchmarks of corvexandrilo.
//
// Every value is derived from the seed through counter-based random numbers, so
// the same arguments give the same bytes, and an element's stresses can be
// recomputed in any pass instead of being held in memory.

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

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Random numbers

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Stream keys, so that the node ids, element ids and each element's values are
// independent of one another: changing one never shifts the others.
enum class Stream : std::uint64_t { Layout = 1, NodeIds, ElementIds, Element, Stress, Strain };

class Rng {
public:
    Rng(std::uint64_t seed, Stream stream, std::uint64_t key = 0)
        : state_(Mix(Mix(seed) ^ Mix(static_cast<std::uint64_t>(stream) * 0x1000003ULL + key)))
    {
    }
    std::uint64_t Next() { return Mix(state_++); }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Range(double low, double high) { return low + (high - low) * Uniform(); }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    bool OneIn(int n) { return Below(n) == 0; }

private:
    std::uint64_t state_;
};

// Ids as a solver leaves them after remeshing and part merging: not starting at 1,
// ascending, with occasional gaps.
class IdSequence {
public:
    IdSequence(std::uint64_t seed, Stream stream) : rng_(seed, stream), next_(1001 + rng_.Below(90) * 100) {}
    int Next()
    {
        const int id = next_;
        next_ += rng_.OneIn(40) ? 2 + rng_.Below(40) : 1;
        return id;
    }

private:
    Rng rng_;
    int next_;
};

// ---------------------------------------------------------------------------
// Number text
//
// A real value is first rounded to the decimal digits the file shows; that
// decimal is the value. Its text is then built from integers: exactly what
// printf("%W.Pe") gives for the decimal, with the exponent's leading zero removed.

struct Decimal {
    bool negative = false;
    std::uint64_t mantissa = 0;  // exactly `digits` digits, or 0 for zero
    int exponent = 0;            // power of ten of the leading digit
};

constexpr std::array<double, 23> kPow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::array<std::uint64_t, 12> kPowInt = {1ULL,         10ULL,         100ULL,
                                                   1000ULL,      10000ULL,      100000ULL,
                                                   1000000ULL,   10000000ULL,   100000000ULL,
                                                   1000000000ULL, 10000000000ULL, 100000000000ULL};

// a * 10^k with one rounding whenever the power is exact.
double ScaleBy10(double a, int k)
{
    if (k >= 0)
        return k < static_cast<int>(kPow10.size()) ? a * kPow10[k] : a * std::pow(10.0, k);
    return -k < static_cast<int>(kPow10.size()) ? a / kPow10[-k] : a / std::pow(10.0, -k);
}

Decimal Round(double value, int digits)
{
    Decimal d;
    if (value == 0.0 || !std::isfinite(value))
        return d;
    const double magnitude = std::fabs(value);
    const std::uint64_t low = kPowInt[digits - 1];
    const std::uint64_t high = kPowInt[digits];
    int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
    // log10 may be one off near powers of ten, and rounding may carry into a new digit.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const auto mantissa =
            static_cast<std::uint64_t>(std::llround(ScaleBy10(magnitude, digits - 1 - exponent)));
        if (mantissa >= high) {
            ++exponent;
        } else if (mantissa < low) {
            --exponent;
        } else {
            d.negative = value < 0;
            d.mantissa = mantissa;
            d.exponent = exponent;
            return d;
        }
    }
    d.negative = value < 0;
    d.mantissa = low;
    d.exponent = exponent;
    return d;
}

double ToDouble(const Decimal& d, int digits)
{
    const double magnitude = ScaleBy10(static_cast<double>(d.mantissa), d.exponent - (digits - 1));
    return d.negative ? -magnitude : magnitude;
}

// The value the file will show, so that derived values (a hanging node's
// midpoint) are computed from what a reader gets back.
double Shown(double value, int digits) { return ToDouble(Round(value, digits), digits); }

// Writes the text into `out` right-justified in `width` columns (wider when it
// does not fit, as "%Ns" does); returns the end.
char* PutDecimal(char* out, const Decimal& d, int digits, int width)
{
    char text[32];
    int n = 0;
    if (d.negative)
        text[n++] = '-';
    char mantissa[20];
    std::uint64_t m = d.mantissa;
    for (int k = digits - 1; k >= 0; --k) {
        mantissa[k] = static_cast<char>('0' + m % 10);
        m /= 10;
    }
    text[n++] = mantissa[0];
    text[n++] = '.';
    for (int k = 1; k < digits; ++k)
        text[n++] = mantissa[k];
    text[n++] = 'e';
    int e = d.exponent;
    text[n++] = e < 0 ? '-' : '+';
    e = std::abs(e);
    if (e >= 100)
        text[n++] = static_cast<char>('0' + e / 100);
    if (e >= 10)
        text[n++] = static_cast<char>('0' + e / 10 % 10);
    text[n++] = static_cast<char>('0' + e % 10);
    for (int pad = width - n; pad > 0; --pad)
        *out++ = ' ';
    std::memcpy(out, text, static_cast<std::size_t>(n));
    return out + n;
}

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
// Options

enum class Shape { Flat, Cup, Hat };

// A flat sheet may be laid onto a curved surface: its plan view keeps the grid
// (so lattice coordinates stay exact in x and y), only the heights change.
enum class Bend { None, Cylinder, Dome };

struct Options {
    Shape shape = Shape::Cup;
    long elements = 2000;
    int levels = 2;
    int nthick = 5;
    int nhisv = 4;
    std::uint64_t seed = 1;
    double size = 0.0;  // coarse element size; 0 = chosen from the element count
    int cellsU = 0;     // flat: coarse cells along x and y; 0 = chosen from the element count
    int cellsV = 0;
    Bend bend = Bend::None;
    double thickness = 1.0;
    bool state = true;
    std::string output = "blank.dynain";
    std::string deck;  // empty, "anneal", "trim2d" or "trim3d"
    int curvePoints = 96;  // distinct points of the trim curve
};

const char* ShapeName(Shape shape)
{
    switch (shape) {
    case Shape::Flat: return "flat";
    case Shape::Cup: return "cup";
    case Shape::Hat: return "hat";
    }
    return "?";
}

// The shape as the blank's first comment names it.
std::string ShapeText(const Options& options)
{
    switch (options.bend) {
    case Bend::None: break;
    case Bend::Cylinder: return "flat bent";
    case Bend::Dome: return "flat domed";
    }
    return ShapeName(options.shape);
}

// ---------------------------------------------------------------------------
// Geometry

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

double Gauss(double d, double width) { return std::exp(-(d / width) * (d / width)); }

// The cross-section of a drawn part from its centre outwards: a flat, a convex
// radius, the straight wall, a concave radius and the flange. Arc length s
// parameterises it, so cells of equal length along s stay evenly sized on the
// radii as well.
class Profile {
public:
    enum Segment { Centre, PunchRadius, Wall, DieRadius, Flange };

    Profile() = default;
    Profile(std::array<double, 5> lengths, double turn) : length_(lengths), turn_(turn)
    {
        for (int k = 0; k < 5; ++k)
            start_[k + 1] = start_[k] + length_[k];
        const Point last = Walk(start_[4]);
        flangeZ_ = last.z;
    }

    struct Point {
        double r = 0.0;
        double z = 0.0;  // flange at 0, the centre flat below it
        int segment = Centre;
    };

    Point At(double s) const
    {
        Point p = Walk(s);
        p.z -= flangeZ_;
        return p;
    }
    double Start(int segment) const { return start_[segment]; }
    double End(int segment) const { return start_[segment + 1]; }
    double Mid(int segment) const { return 0.5 * (Start(segment) + End(segment)); }
    double Length(int segment) const { return length_[segment]; }
    double Depth() const { return flangeZ_; }

private:
    Point Walk(double s) const
    {
        const double rp = length_[1] / turn_;
        const double rd = length_[3] / turn_;
        Point p;
        if (s <= start_[1]) {
            p.r = s;
            return p;
        }
        if (s <= start_[2]) {
            const double a = (s - start_[1]) / rp;
            p.r = start_[1] + rp * std::sin(a);
            p.z = rp * (1.0 - std::cos(a));
            p.segment = PunchRadius;
            return p;
        }
        const double r1 = start_[1] + rp * std::sin(turn_);
        const double z1 = rp * (1.0 - std::cos(turn_));
        if (s <= start_[3]) {
            p.r = r1 + (s - start_[2]) * std::cos(turn_);
            p.z = z1 + (s - start_[2]) * std::sin(turn_);
            p.segment = Wall;
            return p;
        }
        const double r2 = r1 + length_[2] * std::cos(turn_);
        const double z2 = z1 + length_[2] * std::sin(turn_);
        if (s <= start_[4]) {
            const double a = turn_ - (s - start_[3]) / rd;
            p.r = r2 + rd * (std::sin(turn_) - std::sin(a));
            p.z = z2 + rd * (std::cos(a) - std::cos(turn_));
            p.segment = DieRadius;
            return p;
        }
        p.r = r2 + rd * std::sin(turn_) + (s - start_[4]);
        p.z = z2 + rd * (1.0 - std::cos(turn_));
        p.segment = Flange;
        return p;
    }

    std::array<double, 5> length_{};
    std::array<double, 6> start_{};
    double turn_ = 0.5 * kPi;
    double flangeZ_ = 0.0;
};

// Geometry at one point of the blank's parameter grid.
struct Sample {
    Vec3 point;
    int segment = Profile::Centre;
    double s = 0.0;  // arc length along the profile (the flat sheet: x)
};

// Nodes live on a lattice kSub times finer than the coarse cells, so that every
// node of every refinement level is named by its lattice point (I, J). A drawn
// cup adds a core block in its bottom, named by its own corner indices (a, b).
constexpr int kSub = 4;

struct LatticePoint {
    int i = 0;
    int j = 0;
    bool core = false;
};

// The planned blank: coarse cells of size h on a structured grid, each refined
// 0, 1 or 2 times or split into two triangles, and the mapping of the grid onto
// the formed shape.
//
// A round cup is an O-grid: a Cartesian core of (2k)^2 cells in the flat bottom
// and a ring grid around it, periodic in u (8k cells around) and running along
// the profile in v. The ring's first rows blend from the core's square outline
// to circles, so no cell has three corners on one smooth curve.
class Blank {
public:
    Blank(const Options& options, int scale, double h) : options_(options), h_(h)
    {
        Rng rng(options.seed, Stream::Layout);
        const double draft = rng.Range(4.0, 12.0) * kPi / 180.0;
        switch (options.shape) {
        case Shape::Flat:
            cellsU_ = options.cellsU > 0 ? options.cellsU : std::max(8, scale);
            cellsV_ = options.cellsV > 0 ? options.cellsV : std::max(6, static_cast<int>(std::lround(0.7 * cellsU_)));
            break;
        case Shape::Cup:
            PlanCup(std::max(4, scale / 4), draft);
            break;
        case Shape::Hat: {
            half_ = std::max(8, (scale + 3) / 4);
            cellsU_ = 2 * half_;
            cellsV_ = std::max(8, static_cast<int>(std::lround(1.5 * cellsU_)));
            // Radii of at least one and a half cells, so that a coarse cell never folds over a whole bend.
            const double arc = std::max(1.5, 0.08 * half_);
            const double rest = half_ - 2.0 * arc;
            profile_ = Profile({0.36 * rest * h, arc * h, 0.28 * rest * h, arc * h, 0.36 * rest * h},
                               0.5 * kPi - draft);
            break;
        }
        }
        for (auto& wave : waves_)
            wave = {rng.Range(0.5, 2.5), rng.Range(0.5, 2.5), rng.Range(0.0, 2.0 * kPi)};
        zone_ = {rng.Range(0.25, 0.35), rng.Range(0.4, 0.55), rng.Range(0.65, 0.75), rng.Range(0.25, 0.35)};
        partBase_ = 1 + rng.Below(30);
        PlanCells();
    }

    int CellsU() const { return cellsU_; }
    int CellsV() const { return cellsV_; }
    bool Periodic() const { return core_ > 0; }
    int CoreCells() const { return 2 * core_; }  // per side; 0 without a core
    double CellSize() const { return h_; }
    const Profile& Section() const { return profile_; }
    // Distance of the outer edge from the symmetry axis (hat: from the middle).
    double OuterReach() const { return profile_.At(Periodic() ? sRow_.back() : half_ * h_).r; }

    int Level(int ci, int cj) const
    {
        if (Periodic())
            ci = (ci % cellsU_ + cellsU_) % cellsU_;
        return ci >= 0 && cj >= 0 && ci < cellsU_ && cj < cellsV_ ? level_[Cell(ci, cj)] : -1;
    }
    bool IsSplit(int ci, int cj) const { return split_[Cell(ci, cj)] != 0; }
    int PartId(int ci, int cj) const { return partBase_ + part_[Cell(ci, cj)]; }
    int CorePartId() const { return partBase_; }
    std::vector<int> PartIds() const { return {partBase_, partBase_ + 1, partBase_ + 2}; }
    bool RowRefined(int cj) const { return cj >= 0 && cj < cellsV_ && rowRefined_[static_cast<std::size_t>(cj)] != 0; }

    // The ring grid closes on itself: lattice column kSub * CellsU() is column 0.
    LatticePoint Wrap(LatticePoint p) const
    {
        if (Periodic() && !p.core)
            p.i %= kSub * cellsU_;
        return p;
    }

    // A core corner on the core's outline is the ring's first-row node at the same
    // place: the outline is walked anticlockwise from the +x axis.
    LatticePoint CoreToRing(int a, int b) const
    {
        const int k = core_;
        int along = 0;
        if (a == 2 * k && b >= k)
            along = b - k;
        else if (b == 2 * k)
            along = k + (2 * k - a);
        else if (a == 0)
            along = 3 * k + (2 * k - b);
        else if (b == 0)
            along = 5 * k + a;
        else
            along = 7 * k + b;
        return {kSub * along, 0, false};
    }
    static bool OnCoreOutline(int a, int b, int cells) { return a == 0 || b == 0 || a == cells || b == cells; }

    long ElementCount() const
    {
        long count = static_cast<long>(CoreCells()) * CoreCells();
        for (std::size_t c = 0; c < level_.size(); ++c)
            count += split_[c] ? 2 : 1L << (2 * level_[c]);
        return count;
    }

    // Geometry at grid coordinates (in cells).
    Sample At(double gx, double gy) const
    {
        Sample out;
        switch (options_.shape) {
        case Shape::Flat:
            out.point = {gx * h_, gy * h_, Height(gx, gy)};
            out.s = gx * h_;
            break;
        case Shape::Cup: {
            const int row = std::clamp(static_cast<int>(std::floor(gy)), 0, cellsV_ - 1);
            out.s = sRow_[static_cast<std::size_t>(row)] +
                    (gy - row) * (sRow_[static_cast<std::size_t>(row) + 1] - sRow_[static_cast<std::size_t>(row)]);
            const Profile::Point p = profile_.At(out.s);
            out.segment = p.segment;
            const double angle = 2.0 * kPi * gx / cellsU_;
            double x = p.r * std::cos(angle);
            double y = p.r * std::sin(angle);
            if (gy < blendRows_) {
                // From the core's outline, grown with the arc length, to the circle.
                const double w = gy / blendRows_;
                const auto [qx, qy] = OutlinePoint(gx);
                const double grow = out.s / sRow_.front();
                x = w * x + (1.0 - w) * grow * qx;
                y = w * y + (1.0 - w) * grow * qy;
            }
            out.point = {x, y, p.z};
            break;
        }
        case Shape::Hat: {
            const double across = (gx - half_) * h_;
            out.s = std::fabs(across);
            const Profile::Point p = profile_.At(out.s);
            out.segment = p.segment;
            const double along = 2.0 * gy / cellsV_ - 1.0;
            const double sign = across < 0.0 ? -1.0 : 1.0;
            out.point = {sign * p.r, gy * h_, -p.z - 0.05 * profile_.Depth() * along * along};
            break;
        }
        }
        return out;
    }

    // Geometry at core coordinates (in cells, 0 to 2k), a flat square in the bottom.
    Sample CoreAt(double a, double b) const
    {
        Sample out;
        const double x = (a - core_) * h_;
        const double y = (b - core_) * h_;
        out.s = std::sqrt(x * x + y * y);
        out.point = {x, y, profile_.At(0.0).z};
        return out;
    }

    // Thickness as the forming left it: thinned most on the punch radius, less
    // in the wall and on the die radius, slightly thickened towards the flange edge.
    double Thickness(const Sample& sample) const
    {
        double thinning = 0.0;
        if (options_.shape == Shape::Flat) {
            thinning = 0.02 * (1.0 + Wave(sample.point)) * sample.s / (cellsU_ * h_);
        } else {
            thinning = 0.17 * Near(sample.s, Profile::PunchRadius, 1.0) + 0.06 * Near(sample.s, Profile::Wall, 0.5) +
                       0.05 * Near(sample.s, Profile::DieRadius, 1.0) - 0.03 * FlangeShare(sample.s) +
                       0.01 * Wave(sample.point);
        }
        return options_.thickness * (1.0 - thinning);
    }

    // Mid-surface plastic strain at a point: 0 on the undeformed part of a flat
    // sheet, highest on the radii of a drawn part.
    double PlasticStrain(const Sample& sample) const
    {
        if (options_.shape == Shape::Flat) {
            const double f = sample.s / (cellsU_ * h_);
            return f < 0.3 ? 0.0 : 0.05 * (f - 0.3) / 0.7 * (1.2 + Wave(sample.point));
        }
        const double eps = 0.02 + 0.30 * Near(sample.s, Profile::PunchRadius, 1.0) +
                           0.10 * Near(sample.s, Profile::Wall, 0.5) + 0.20 * Near(sample.s, Profile::DieRadius, 1.0) +
                           0.06 * FlangeShare(sample.s) + 0.02 * Wave(sample.point);
        return std::clamp(eps, 0.0, 0.38);
    }

private:
    // The height of a bent flat sheet at grid coordinates: a cylinder round the
    // middle line along y, or a sphere round the middle point, rising by a tenth
    // of the half width (a tenth of the half diagonal for the dome) to the edge;
    // slopes stay below one half, so a view along z sees every element unfolded.
    double Height(double gx, double gy) const
    {
        if (options_.bend == Bend::None)
            return 0.0;
        const double x = (gx - 0.5 * cellsU_) * h_;
        const double y = (gy - 0.5 * cellsV_) * h_;
        const double halfU = 0.5 * cellsU_ * h_;
        const double reach = options_.bend == Bend::Cylinder ? halfU : std::hypot(halfU, 0.5 * cellsV_ * h_);
        const double rise = 0.1 * reach;
        const double radius = (reach * reach + rise * rise) / (2.0 * rise);
        const double d2 = options_.bend == Bend::Cylinder ? x * x : x * x + y * y;
        return radius - std::sqrt(radius * radius - d2);
    }

    std::size_t Cell(int ci, int cj) const
    {
        return static_cast<std::size_t>(cj) * static_cast<std::size_t>(cellsU_) + static_cast<std::size_t>(ci);
    }

    void PlanCup(int k, double draft)
    {
        core_ = k;
        cellsU_ = 8 * k;
        // The corners of the growing square shrink back to the circle over the
        // blend rows; with fewer than about 0.71 k rows they would move inwards.
        blendRows_ = std::max(2, static_cast<int>(std::ceil(0.75 * k + 1.0)));
        const double half = k * h_;
        const double bottom = half + blendRows_ * h_ + std::max(2.0 * h_, 0.3 * half);
        const double arc = std::max(2.0 * h_, 0.25 * half);
        profile_ = Profile({bottom, arc, 0.6 * half, arc, 0.5 * half}, 0.5 * kPi - draft);
        // Radial steps follow the spacing around the ring, so that cells far out
        // stay about as long as they are wide.
        sRow_.assign(1, half);
        const double end = profile_.End(Profile::Flange);
        while (sRow_.back() < end - 0.5 * h_) {
            const double r = profile_.At(sRow_.back()).r;
            const double step = std::clamp(2.0 * kPi * r / cellsU_, h_, 2.0 * h_);
            sRow_.push_back(sRow_.back() + step);
        }
        cellsV_ = static_cast<int>(sRow_.size()) - 1;
    }

    // The core's outline at a ring column, walked anticlockwise from the +x axis.
    std::pair<double, double> OutlinePoint(double gx) const
    {
        const double k = core_;
        const double half = k * h_;
        const double t = std::fmod(gx + k, 8.0 * k);  // from the (+x, -y) corner
        const int side = std::min(3, static_cast<int>(t / (2.0 * k)));
        const double f = (t - side * 2.0 * k) / (2.0 * k) * 2.0 - 1.0;
        switch (side) {
        case 0: return {half, f * half};
        case 1: return {-f * half, half};
        case 2: return {-half, -f * half};
        default: return {f * half, -half};
        }
    }

    double Near(double s, int segment, double widthShare) const
    {
        return Gauss(s - profile_.Mid(segment), widthShare * profile_.Length(segment));
    }
    double FlangeShare(double s) const
    {
        return std::clamp((s - profile_.Start(Profile::Flange)) / profile_.Length(Profile::Flange), 0.0, 1.0);
    }

    // Smooth variation over the whole part, between -1 and 1.
    double Wave(const Vec3& x) const
    {
        const double size = std::max(cellsU_, cellsV_) * h_;
        double sum = 0.0;
        for (const auto& w : waves_)
            sum += std::sin(2.0 * kPi * (w[0] * x.x + w[1] * x.y) / size + w[2]);
        return sum / static_cast<double>(waves_.size());
    }

    // The profile arc range a cell covers.
    std::pair<double, double> CellArc(int ci, int cj) const
    {
        double low = 1e300;
        double high = -1e300;
        for (int corner = 0; corner < 4; ++corner) {
            const double s = At(ci + (corner & 1), cj + (corner >> 1)).s;
            low = std::min(low, s);
            high = std::max(high, s);
        }
        return {low, high};
    }

    bool Covers(int ci, int cj, int segment) const
    {
        const auto [low, high] = CellArc(ci, cj);
        const double tolerance = 1e-6 * h_;
        return high > profile_.Start(segment) + tolerance && low < profile_.End(segment) - tolerance;
    }

    int WantedLevel(int ci, int cj) const
    {
        const double fx = (ci + 0.5) / cellsU_;
        const double fy = (cj + 0.5) / cellsV_;
        switch (options_.shape) {
        case Shape::Flat: {
            // A two-level spot inside a one-level patch, and a separate one-level patch.
            const double dx = std::fabs(fx - zone_[0]);
            const double dy = std::fabs(fy - zone_[1]);
            if (dx < 0.07 && dy < 0.09)
                return 2;
            if (dx < 0.15 && dy < 0.2)
                return 1;
            return std::fabs(fx - zone_[2]) < 0.09 && std::fabs(fy - zone_[3]) < 0.12 ? 1 : 0;
        }
        case Shape::Cup:
            // One quarter of the punch radius two levels deep; the rest of both radii one.
            if (Covers(ci, cj, Profile::PunchRadius))
                return fx > 0.05 && fx < 0.3 ? 2 : 1;
            return Covers(ci, cj, Profile::DieRadius) ? 1 : 0;
        case Shape::Hat:
            if (Covers(ci, cj, Profile::PunchRadius))
                return fx > 0.5 && fy > 0.3 && fy < 0.6 ? 2 : 1;
            return Covers(ci, cj, Profile::DieRadius) ? 1 : 0;
        }
        return 0;
    }

    bool WantedSplit(int ci, int cj) const
    {
        switch (options_.shape) {
        case Shape::Flat: return ci >= cellsU_ - 2;
        case Shape::Hat: return cj >= cellsV_ - 2;
        case Shape::Cup: {
            // Two patches of triangles on the flange's outer rows, as a mesher
            // leaves where it could not keep quadrilaterals.
            const double fx = std::fmod((ci + 0.5) / cellsU_, 0.5);
            return cj >= cellsV_ - 2 && fx > 0.3 && fx < 0.4;
        }
        }
        return false;
    }

    void PlanCells()
    {
        const std::size_t count = static_cast<std::size_t>(cellsU_) * static_cast<std::size_t>(cellsV_);
        level_.assign(count, 0);
        split_.assign(count, 0);
        part_.assign(count, 0);
        rowRefined_.assign(static_cast<std::size_t>(cellsV_), 0);
        for (int cj = 0; cj < cellsV_; ++cj)
            for (int ci = 0; ci < cellsU_; ++ci)
                level_[Cell(ci, cj)] = static_cast<std::uint8_t>(std::min(WantedLevel(ci, cj), options_.levels));
        // Neighbours across an edge differ by one level at most, so every hanging
        // node sits at the middle of an unsplit edge of the coarser side.
        const std::vector<std::uint8_t> wanted = level_;
        for (int cj = 0; cj < cellsV_; ++cj)
            for (int ci = 0; ci < cellsU_; ++ci) {
                if (wanted[Cell(ci, cj)] < 2)
                    continue;
                const int around[4][2] = {{ci - 1, cj}, {ci + 1, cj}, {ci, cj - 1}, {ci, cj + 1}};
                for (const auto& n : around) {
                    const int ni = Periodic() ? (n[0] + cellsU_) % cellsU_ : n[0];
                    if (ni >= 0 && ni < cellsU_ && n[1] >= 0 && n[1] < cellsV_)
                        level_[Cell(ni, n[1])] = std::max<std::uint8_t>(level_[Cell(ni, n[1])], 1);
                }
            }
        for (int cj = 0; cj < cellsV_; ++cj)
            for (int ci = 0; ci < cellsU_; ++ci) {
                const std::size_t c = Cell(ci, cj);
                // The core meets the ring's first row edge to edge.
                if (Periodic() && cj == 0 && level_[c] != 0)
                    throw std::logic_error("refinement reaches the core of the cup");
                split_[c] = level_[c] == 0 && WantedSplit(ci, cj) ? 1 : 0;
                if (level_[c] > 0)
                    rowRefined_[static_cast<std::size_t>(cj)] = 1;
                if (options_.shape == Shape::Flat) {
                    part_[c] = split_[c] ? 2 : ((ci + 0.5) / cellsU_ < 0.5 ? 0 : 1);
                } else {
                    const int segment = At(ci + 0.5, cj + 0.5).segment;
                    part_[c] = segment <= Profile::PunchRadius ? 0 : (segment == Profile::Wall ? 1 : 2);
                }
            }
    }

    const Options& options_;
    double h_;
    int cellsU_ = 0;
    int cellsV_ = 0;
    int half_ = 0;       // hat: cells from the middle to either edge
    int core_ = 0;       // cup: half the core's cells per side
    int blendRows_ = 0;  // cup: ring rows from the core's square to circles
    std::vector<double> sRow_;  // cup: profile arc length at each ring row
    int partBase_ = 1;
    Profile profile_;
    std::array<std::array<double, 3>, 3> waves_{};
    std::array<double, 4> zone_{};
    std::vector<std::uint8_t> level_;
    std::vector<std::uint8_t> split_;
    std::vector<std::uint8_t> part_;
    std::vector<std::uint8_t> rowRefined_;
};

// ---------------------------------------------------------------------------
// Nodes

// Node number by lattice point: the coarse corners in a dense table, the few
// others (refined zones only) in a hash, the core's inner corners in their own
// table. Lookups only; nothing iterates the hash.
class NodeTable {
public:
    explicit NodeTable(const Blank& blank)
        : blank_(blank),
          stride_(blank.CellsU() + 1),
          corners_(static_cast<std::size_t>(blank.CellsU() + 1) * static_cast<std::size_t>(blank.CellsV() + 1), 0),
          core_(static_cast<std::size_t>(blank.CoreCells() + 1) * static_cast<std::size_t>(blank.CoreCells() + 1), 0)
    {
    }
    void Set(LatticePoint p, int index)
    {
        p = Normal(p);
        if (p.core)
            core_[CoreIndex(p)] = index;
        else if (IsCorner(p))
            corners_[CornerIndex(p)] = index;
        else
            fine_[Key(p)] = index;
    }
    // 0 for a point that holds no node.
    int Get(LatticePoint p) const
    {
        p = Normal(p);
        if (p.core)
            return core_[CoreIndex(p)];
        if (IsCorner(p))
            return corners_[CornerIndex(p)];
        const auto found = fine_.find(Key(p));
        return found == fine_.end() ? 0 : found->second;
    }

private:
    // The one name of a point: core outline corners belong to the ring.
    LatticePoint Normal(LatticePoint p) const
    {
        if (p.core && Blank::OnCoreOutline(p.i, p.j, blank_.CoreCells()))
            p = blank_.CoreToRing(p.i, p.j);
        return blank_.Wrap(p);
    }
    static bool IsCorner(LatticePoint p) { return p.i % kSub == 0 && p.j % kSub == 0; }
    std::size_t CoreIndex(LatticePoint p) const
    {
        return static_cast<std::size_t>(p.j) * static_cast<std::size_t>(blank_.CoreCells() + 1) +
               static_cast<std::size_t>(p.i);
    }
    std::size_t CornerIndex(LatticePoint p) const
    {
        return static_cast<std::size_t>(p.j / kSub) * static_cast<std::size_t>(stride_) +
               static_cast<std::size_t>(p.i / kSub);
    }
    static std::uint64_t Key(LatticePoint p)
    {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(p.j)) << 32) | static_cast<std::uint32_t>(p.i);
    }

    const Blank& blank_;
    int stride_;
    std::vector<int> corners_;
    std::vector<int> core_;
    std::unordered_map<std::uint64_t, int> fine_;
};

bool NodeExists(const Blank& blank, LatticePoint p)
{
    if (p.i % kSub == 0 && p.j % kSub == 0)
        return true;
    const int ci = p.i / kSub;
    const int cj = p.j / kSub;
    const int cis[2] = {p.i % kSub == 0 ? ci - 1 : ci, ci};
    const int cjs[2] = {p.j % kSub == 0 ? cj - 1 : cj, cj};
    for (const int a : cis)
        for (const int b : cjs) {
            const int level = blank.Level(a, b);
            if (level < 0)
                continue;
            const int step = kSub >> level;
            if (p.i % step == 0 && p.j % step == 0)
                return true;
        }
    return false;
}

// A node on a coarse edge that only the finer of the two cells has; `a` and `b`
// receive the ends of the coarser cell's edge on which it hangs.
bool IsHanging(const Blank& blank, LatticePoint p, LatticePoint& a, LatticePoint& b)
{
    const bool onVertical = p.i % kSub == 0 && p.j % kSub != 0;
    const bool onHorizontal = p.j % kSub == 0 && p.i % kSub != 0;
    if (!onVertical && !onHorizontal)
        return false;
    const int ci = p.i / kSub;
    const int cj = p.j / kSub;
    const int levelA = onVertical ? blank.Level(ci - 1, cj) : blank.Level(ci, cj - 1);
    const int levelB = blank.Level(ci, cj);
    if (levelA < 0 || levelB < 0 || levelA == levelB)
        return false;
    const int coarse = kSub >> std::min(levelA, levelB);
    const int along = onVertical ? p.j : p.i;
    const int offset = along % coarse;
    if (offset == 0)
        return false;
    a = b = p;
    (onVertical ? a.j : a.i) = along - offset;
    (onVertical ? b.j : b.i) = along - offset + coarse;
    b = blank.Wrap(b);
    return true;
}

Sample SampleAt(const Blank& blank, LatticePoint p)
{
    if (p.core)
        return blank.CoreAt(p.i, p.j);
    return blank.At(static_cast<double>(p.i) / kSub, static_cast<double>(p.j) / kSub);
}

Vec3 NodePoint(const Blank& blank, LatticePoint p)
{
    const Vec3 q = SampleAt(blank, p).point;
    // A coordinate that is zero up to rounding noise is written as zero.
    const auto clean = [](double x) { return std::fabs(x) < 1e-9 ? 0.0 : Shown(x, 10); };
    return {clean(q.x), clean(q.y), clean(q.z)};
}

struct Spc {
    int node = 0;
    int cid = 0;
    std::array<int, 6> dofs{};
};

struct Adaptivity {
    int node = 0;
    LatticePoint a;
    LatticePoint b;
};

// Everything the node pass learns that later sections need.
struct NodeResult {
    NodeTable table;
    std::vector<int> ids;            // by node number - 1
    std::vector<double> thickness;   // by node number - 1
    std::vector<Spc> spcs;
    std::vector<Adaptivity> hanging;
    Vec3 frameOrigin;
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
