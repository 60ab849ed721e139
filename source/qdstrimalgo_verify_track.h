// The curves of one cutting operation as the mesh check sees them, in the
// check's own geometry: each curve in the space it is judged in (the plane of
// a 2D line, seen along its vector, or space itself for a 3D line), a grid of
// its segments for distances, its sharp corners, and samples along it at an
// even spacing. Internal to the mesh check (qdstrimalgo_verify).
#ifndef QDSTRIMALGO_VERIFY_TRACK_H
#define QDSTRIMALGO_VERIFY_TRACK_H

#include "qdsgeomline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

// A new boundary node this close to a curve lies on it (model units).
inline constexpr double kCutOnCurve = 0.02;
// Curve points closer than this are one point to the cutters, and so to the check.
inline constexpr double kCutSamePoint = 0.005;
// How far sideways a 3D curve's foot may stray per unit of its height above the surface.
inline constexpr double kCutAcrossSlack = 0.1;
// The share of the local element size that still counts as "at" a place: a
// node standing for a sharp corner, a boundary covering a curve.
inline constexpr double kCutQuarter = 0.25;
// A curve turning by more than 30 degrees at a vertex has a sharp corner there.
inline constexpr double kCutSharpCos = 0.8660254;
// Curve samples at most: the spacing grows for longer curves.
inline constexpr double kCutMaxSamples = 400000.0;
inline constexpr double kCutInf = std::numeric_limits<double>::infinity();

inline gmVec3D geCutUnit(const gmVec3D& v)
{
    const double length = v.Length();
    return length > 0.0 ? v / length : gmVec3D(0.0, 0.0, 0.0);
}

// Distance from p to the segment a-b; the parameter of the nearest point in *param.
inline double geCutSegDist(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b, double* param = nullptr)
{
    const gmVec3D ab = b - a;
    const double l2 = ab.SqrLen();
    const double t = l2 > 0.0 ? std::clamp((p - a).Dot(ab) / l2, 0.0, 1.0) : 0.0;
    if (param) *param = t;
    return p.DistTo(a + ab * t);
}

inline gmPnt3D geCutShifted(const gmPnt3D& p, double by) { return gmPnt3D(p.x() + by, p.y() + by, p.z() + by); }

// A uniform grid over boxes: each item is listed in every cell its box
// touches, as sorted (cell, item) pairs. A byte per cell of the occupied range,
// when that range is small, lets a miss cost no search.
class CsCutGrid {
public:
    explicit CsCutGrid(double cell = 1.0)
        : cell_(cell > 0.0 && std::isfinite(cell) ? cell : 1.0), inverse_(1.0 / cell_)
    {
    }

    void Add(int item, const gmPnt3D& lo, const gmPnt3D& hi)
    {
        long long a[3], b[3];
        Cells(lo, hi, a, b);
        if (Volume(a, b) > kWideCells) {
            wide_.push_back(item);
            return;
        }
        for (long long x = a[0]; x <= b[0]; ++x)
            for (long long y = a[1]; y <= b[1]; ++y)
                for (long long z = a[2]; z <= b[2]; ++z) entries_.emplace_back(Pack(x, y, z), item);
        for (int d = 0; d < 3; ++d) {
            min_[d] = std::min(min_[d], a[d]);
            max_[d] = std::max(max_[d], b[d]);
        }
    }

    void Finish()
    {
        std::sort(entries_.begin(), entries_.end());
        bits_.clear();
        if (entries_.empty() || Volume(min_, max_) > kDenseCells) return;
        bits_.assign(static_cast<size_t>(Volume(min_, max_)), 0);
        for (const auto& entry : entries_) {
            long long c[3];
            Decode(entry.first, c);
            bits_[Bit(c)] = 1;
        }
    }

    bool Empty() const { return entries_.empty() && wide_.empty(); }

    // The cell a coordinate falls in.
    long long Cell(double v) const
    {
        const double c = std::floor(v * inverse_);
        if (!(c > -static_cast<double>(kHalf))) return -kHalf;
        if (!(c < static_cast<double>(kHalf - 1))) return kHalf - 1;
        return static_cast<long long>(c);
    }

    // Whether an item may lie in the cells a to b: the quick test before a
    // visit, on cell coordinates worked out once.
    bool Occupied(long long a[3], long long b[3]) const
    {
        if (!wide_.empty()) return true;
        for (int d = 0; d < 3; ++d) {
            a[d] = std::max(a[d], min_[d]);
            b[d] = std::min(b[d], max_[d]);
            if (a[d] > b[d]) return false;
        }
        if (bits_.empty() || Volume(a, b) > 64.0) return true;
        for (long long x = a[0]; x <= b[0]; ++x)
            for (long long y = a[1]; y <= b[1]; ++y)
                for (long long z = a[2]; z <= b[2]; ++z) {
                    const long long c[3] = {x, y, z};
                    if (bits_[Bit(c)]) return true;
                }
        return false;
    }

    // Calls visit(item) for the items of every cell the box touches; an item
    // may come more than once.
    template <class F>
    void Visit(const gmPnt3D& lo, const gmPnt3D& hi, F&& visit) const
    {
        for (const int item : wide_) visit(item);
        if (entries_.empty()) return;
        long long a[3], b[3];
        Cells(lo, hi, a, b);
        for (int d = 0; d < 3; ++d) {
            a[d] = std::max(a[d], min_[d]);
            b[d] = std::min(b[d], max_[d]);
            if (a[d] > b[d]) return;
        }
        if (Volume(a, b) > static_cast<double>(entries_.size())) {
            for (const auto& entry : entries_) {
                long long c[3];
                Decode(entry.first, c);
                if (c[0] >= a[0] && c[0] <= b[0] && c[1] >= a[1] && c[1] <= b[1] && c[2] >= a[2] && c[2] <= b[2])
                    visit(entry.second);
            }
            return;
        }
        for (long long x = a[0]; x <= b[0]; ++x) {
            for (long long y = a[1]; y <= b[1]; ++y) {
                for (long long z = a[2]; z <= b[2]; ++z) {
                    const long long c[3] = {x, y, z};
                    if (!bits_.empty() && !bits_[Bit(c)]) continue;
                    const Key key = Pack(x, y, z);
                    auto it = std::lower_bound(entries_.begin(), entries_.end(),
                                               std::make_pair(key, std::numeric_limits<int>::min()));
                    for (; it != entries_.end() && it->first == key; ++it) visit(it->second);
                }
            }
        }
    }

private:
    using Key = std::uint64_t;
    static constexpr long long kHalf = 1LL << 20;
    static constexpr double kWideCells = 65536.0;
    static constexpr double kDenseCells = 4194304.0;

    void Cells(const gmPnt3D& lo, const gmPnt3D& hi, long long a[3], long long b[3]) const
    {
        for (int d = 0; d < 3; ++d) {
            a[d] = Cell(std::min(lo[d], hi[d]));
            b[d] = Cell(std::max(lo[d], hi[d]));
        }
    }
    static double Volume(const long long a[3], const long long b[3])
    {
        return static_cast<double>(b[0] - a[0] + 1) * static_cast<double>(b[1] - a[1] + 1) *
               static_cast<double>(b[2] - a[2] + 1);
    }
    static Key Pack(long long x, long long y, long long z)
    {
        return (static_cast<std::uint64_t>(x + kHalf) << 42) | (static_cast<std::uint64_t>(y + kHalf) << 21) |
               static_cast<std::uint64_t>(z + kHalf);
    }
    static void Decode(Key key, long long c[3])
    {
        const std::uint64_t mask = (1ULL << 21) - 1;
        c[0] = static_cast<long long>((key >> 42) & mask) - kHalf;
        c[1] = static_cast<long long>((key >> 21) & mask) - kHalf;
        c[2] = static_cast<long long>(key & mask) - kHalf;
    }
    size_t Bit(const long long c[3]) const
    {
        const long long nx = max_[0] - min_[0] + 1;
        const long long ny = max_[1] - min_[1] + 1;
        return static_cast<size_t>(((c[2] - min_[2]) * ny + (c[1] - min_[1])) * nx + (c[0] - min_[0]));
    }

    double cell_;
    double inverse_;
    std::vector<std::pair<Key, int>> entries_;
    std::vector<int> wide_;
    std::vector<std::uint8_t> bits_;
    long long min_[3] = {kHalf, kHalf, kHalf};
    long long max_[3] = {-kHalf, -kHalf, -kHalf};
};

// Where a curve is judged: the plane of a 2D line (seen along its vector, the
// depth dropped) or space itself for a 3D line.
struct CsCutSpace {
    bool flat = false;
    bool identity = false;
    gmCrdSys cs;

    gmPnt3D To(const gmPnt3D& p) const
    {
        if (!flat) return p;
        if (identity) return gmPnt3D(p.x(), p.y(), 0.0);
        const gmPnt3D q = p.InUcs(cs);
        return gmPnt3D(q.x(), q.y(), 0.0);
    }
};

struct CsCutCurve {
    std::string id;
    size_t space = 0;
    int flag = 0;        // 1 removes the inside, -1 keeps it, 0 slits
    double gap = 0.0;    // how far a 3D curve may run off the surface
    bool closed = false;
    double orientation = 0.0;  // closed flat curve: positive when anticlockwise
    std::vector<gmPnt3D> pts;  // in its space
};

struct CsCutSample {
    gmPnt3D at;       // in its curve's space
    gmVec3D along;    // unit tangent there
    size_t curve = 0;
    int elem = 0;     // the input element it lies over, 0 off the blank
    double offset = kCutInf;
    gmPnt3D foot;     // at, dropped onto that element (3D)
    gmVec3D normal;   // that element's facing (unit; z for a flat space)
    double size = 0.0;  // that element's longest edge
};

struct CsCutCorner {
    gmPnt3D at;     // in its curve's space
    size_t curve;
    size_t sample;  // the sample standing at it
};

struct CsCutNear {
    double dist = kCutInf;
    int curve = -1;
    int seg = -1;
    double t = 0.0;
};

// The curves of one operation in their spaces, with grids of their segments,
// sharp corners and samples.
class CsCutTracks {
public:
    CsCutTracks(const std::vector<gmTrmLine*>& lines, double size);

    bool Empty() const { return curves.empty(); }
    size_t SpaceOf(size_t curve) const { return curves[curve].space; }

    // The nearest point of the curves of space s (of curve `only` when not
    // negative) to p, given in that space, within `within`. A 3D curve is
    // measured across the normal (when given) and may run off the surface
    // by its gap.
    CsCutNear Nearest(size_t s, const gmPnt3D& p, const gmVec3D& normal, double within, int only = -1) const;

    // Distance from p (global) to the nearest curve within `within`, infinite
    // beyond; the curve in *curve.
    double Distance(const gmPnt3D& p, const gmVec3D& normal, double within, int* curve = nullptr) const;

    // Calls visit(corner, distance) for the sharp corners and open ends of
    // the curves within `within` of p (global).
    template <class F>
    void VisitCorners(const gmPnt3D& p, const gmVec3D& normal, double within, F&& visit) const
    {
        for (size_t s = 0; s < spaces.size(); ++s) {
            const gmPnt3D q = spaces[s].To(p);
            const bool across = !spaces[s].flat && normal.SqrLen() > 0.0;
            const double reach = within + (spaces[s].flat ? 0.0 : maxGap + kCutOnCurve);
            cornerGrid_[s].Visit(geCutShifted(q, -reach), geCutShifted(q, reach), [&](int k) {
                const CsCutCorner& c = corners[static_cast<size_t>(k)];
                const gmVec3D d = c.at - q;
                double dist = d.Length();
                if (across) {
                    const double off = d.Dot(normal);
                    if (std::fabs(off) > curves[c.curve].gap + kCutOnCurve) return;
                    dist = (d - normal * off).Length();
                }
                if (dist <= within) visit(static_cast<size_t>(k), dist);
            });
        }
    }

    // Whether p (in the curve's flat space), whose nearest point on the closed
    // curve is n, lies inside it.
    bool Inside(size_t curve, const CsCutNear& n, const gmPnt3D& p) const;

    // Whether p (global) lies on the side flat closed trim curve c removes,
    // and how far from it.
    bool Removes(size_t c, const gmPnt3D& global, double within, double& dist) const;

    std::vector<CsCutSpace> spaces;
    std::vector<CsCutCurve> curves;
    std::vector<CsCutCorner> corners;
    std::vector<CsCutSample> samples;
    std::vector<CsCutGrid> sampleGrid;  // per space
    double maxGap = 0.0;

private:
    std::vector<std::pair<int, int>> segs_;          // (curve, segment)
    std::vector<CsCutGrid> segGrid_;                  // per space
    std::vector<CsCutGrid> cornerGrid_;               // per space
};

#endif
