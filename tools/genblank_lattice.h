// The blanks corvex_genblank makes: counter-based random numbers, numbers
// rounded as the files print them, the options, and the lattice of a formed
// sheet with its adaptive patches, its surface and its hanging nodes.
#ifndef GENBLANK_LATTICE_H
#define GENBLANK_LATTICE_H

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

namespace genblank {


constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Random numbers

inline std::uint64_t Mix(std::uint64_t x)
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
inline double ScaleBy10(double a, int k)
{
    if (k >= 0)
        return k < static_cast<int>(kPow10.size()) ? a * kPow10[k] : a * std::pow(10.0, k);
    return -k < static_cast<int>(kPow10.size()) ? a / kPow10[-k] : a / std::pow(10.0, -k);
}

inline Decimal Round(double value, int digits)
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

inline double ToDouble(const Decimal& d, int digits)
{
    const double magnitude = ScaleBy10(static_cast<double>(d.mantissa), d.exponent - (digits - 1));
    return d.negative ? -magnitude : magnitude;
}

// The value the file will show, so that derived values (a hanging node's
// midpoint) are computed from what a reader gets back.
inline double Shown(double value, int digits) { return ToDouble(Round(value, digits), digits); }

// Writes the text into `out` right-justified in `width` columns (wider when it
// does not fit, as "%Ns" does); returns the end.
inline char* PutDecimal(char* out, const Decimal& d, int digits, int width)
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

inline const char* ShapeName(Shape shape)
{
    switch (shape) {
    case Shape::Flat: return "flat";
    case Shape::Cup: return "cup";
    case Shape::Hat: return "hat";
    }
    return "?";
}

// The shape as the blank's first comment names it.
inline std::string ShapeText(const Options& options)
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

inline double Gauss(double d, double width) { return std::exp(-(d / width) * (d / width)); }

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

inline bool NodeExists(const Blank& blank, LatticePoint p)
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
inline bool IsHanging(const Blank& blank, LatticePoint p, LatticePoint& a, LatticePoint& b)
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

inline Sample SampleAt(const Blank& blank, LatticePoint p)
{
    if (p.core)
        return blank.CoreAt(p.i, p.j);
    return blank.At(static_cast<double>(p.i) / kSub, static_cast<double>(p.j) / kSub);
}

inline Vec3 NodePoint(const Blank& blank, LatticePoint p)
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

}  // namespace genblank

#endif
