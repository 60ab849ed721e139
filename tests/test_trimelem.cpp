#include "test_cutcheck.h"

#include <gtest/gtest.h>

#include <random>

using namespace cuttest;

namespace {

// Set to a seed that failed to run it alone.
constexpr int kReplaySeed = -1;

// A random convex polygon of n corners around the origin, counter-clockwise;
// a quadrilateral may be warped out of its plane.
std::vector<gmPnt3D> RandomConvex(std::mt19937& rng, int n, bool warped)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double size = 0.3 + 3.0 * unit(rng);
    for (;;) {
        std::vector<double> angles;
        for (int i = 0; i < n; ++i) angles.push_back(2.0 * M_PI * unit(rng));
        std::sort(angles.begin(), angles.end());
        bool spread = true;
        for (int i = 0; i < n; ++i) {
            const double gap = (i + 1 < n ? angles[static_cast<size_t>(i) + 1] : angles[0] + 2.0 * M_PI) - angles[static_cast<size_t>(i)];
            spread = spread && gap > 0.45 && gap < M_PI - 0.2;
        }
        if (!spread) continue;
        std::vector<gmPnt3D> pts;
        for (const double a : angles) {
            const double r = size * (0.6 + 0.4 * unit(rng));
            const double z = warped ? size * 0.08 * (unit(rng) - 0.5) : 0.0;
            pts.emplace_back(r * std::cos(a), r * std::sin(a), z);
        }
        bool convex = true;
        for (int i = 0; i < n; ++i) {
            const gmPnt3D& p = pts[static_cast<size_t>(i)];
            const gmPnt3D& q = pts[static_cast<size_t>((i + 1) % n)];
            const gmPnt3D& s = pts[static_cast<size_t>((i + 2) % n)];
            const double turn = (q.x() - p.x()) * (s.y() - q.y()) - (q.y() - p.y()) * (s.x() - q.x());
            convex = convex && turn > 0.05 * size * size;
        }
        if (convex) return pts;
    }
}

// A line across the element: straight, or bent once or twice near it.
std::vector<gmPnt3D> RandomLine(std::mt19937& rng, double size)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto near = [&](double spread) { return gmPnt3D(spread * size * (2 * unit(rng) - 1), spread * size * (2 * unit(rng) - 1), 0); };
    const auto far = [&](const gmPnt3D& from) {
        const double a = 2.0 * M_PI * unit(rng);
        return gmPnt3D(from.x() + 8 * size * std::cos(a), from.y() + 8 * size * std::sin(a), 0);
    };
    const int bends = static_cast<int>(3 * unit(rng));
    std::vector<gmPnt3D> pts;
    gmPnt3D c = near(1.1);
    pts.push_back(far(c));
    pts.push_back(c);
    for (int i = 1; i < bends; ++i) pts.push_back(near(1.1));
    pts.push_back(far(pts.back()));
    if (bends == 0) pts.erase(pts.begin() + 1);
    return pts;
}

struct Outcome {
    int cut = 0;
    int tried = 0;
};

// One random element, optionally with a hanging node on one edge, cut once.
void RunSeed(int seed, int shape, Outcome& out)
{
    SCOPED_TRACE("seed " + std::to_string(seed) + " shape " + std::to_string(shape));
    std::mt19937 rng(static_cast<unsigned>(seed) * 7919u + static_cast<unsigned>(shape));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int n = shape == 0 ? 3 : 4;
    const std::vector<gmPnt3D> pts = RandomConvex(rng, n, shape == 2);
    std::vector<gmPnt3D> nodes = pts;
    std::vector<int> elem;
    for (int i = 1; i <= n; ++i) elem.push_back(i);
    std::vector<CsDataAdpv> hanging;
    if (unit(rng) < 0.25) {
        const int k = static_cast<int>(n * unit(rng)) % n;
        nodes.push_back((pts[static_cast<size_t>(k)] + pts[static_cast<size_t>((k + 1) % n)]) * 0.5);
        hanging.emplace_back(n + 1, k + 1, (k + 1) % n + 1);
    }
    BuildModel(nodes, {elem}, hanging);
    double size = 0.0;
    for (const gmPnt3D& p : pts) size = std::max(size, gmPnt2D(p.x(), p.y()).Modulus());
    auto line = Line(RandomLine(rng, size), 0.2 + 0.25 * unit(rng));
    std::vector<bool> pre;
    for (int k = 0; k < 6; ++k) pre.push_back(unit(rng) < 0.3);
    const double minDst = ShortestEdge() * (0.05 + 0.95 * unit(rng));
    Cutter cutter;
    const CutRecord r = cutter.Cut(*line, 1, 0, pre, minDst);
    if (r.points.empty()) return;
    ++out.tried;
    out.cut += r.result != 0;
    ExpectSoundCut(r);
    if (::testing::Test::HasFailure()) ADD_FAILURE() << "replay with kReplaySeed = " << seed;
}

}  // namespace

// Thousands of random elements and lines: every cut, whatever its case,
// keeps the invariants; a failure names its seed.
TEST(CutRandom, EveryCutKeepsTheInvariants)
{
    Outcome outcome[3];
    for (int shape = 0; shape < 3; ++shape) {
        const int first = kReplaySeed >= 0 ? kReplaySeed : 0;
        const int last = kReplaySeed >= 0 ? kReplaySeed : 1500;
        for (int seed = first; seed <= last; ++seed) {
            RunSeed(seed, shape, outcome[shape]);
            if (::testing::Test::HasFatalFailure() || ::testing::Test::HasFailure()) return;
        }
    }
    // The sample reaches the cutting cases, not only refusals.
    if (kReplaySeed < 0) {
        for (const Outcome& o : outcome) EXPECT_GT(o.cut, o.tried / 2);
    }
    ResetModel();
}
