// The soundness check of a closed curve in space, as the trim-line setup runs it: best-fit
// plane, projection, self-crossing search and area. A curve of n points must cost about
// n log n: an all-pairs search would take minutes at the half million points an IGES import
// may hold.
//
// Two curves per size: a wavy loop sampled evenly, and the same loop with half of its points
// crowded into one hundredth of it (segments a hundred times shorter there), which is the
// case a grid of one cell size handles worst. The loop is large enough that no two points
// lie within 0.01 of each other, where they would be merged.
//
// Usage: bench_curvecheck [largest point count (default 500000)]
#include "qdsgeomline.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<gmPnt3D> Loop(int n, bool crowded)
{
    std::vector<gmPnt3D> points;
    for (int k = 0; k < n; ++k) {
        const double t = static_cast<double>(k) / n;
        const double share = crowded ? (t < 0.5 ? 0.02 * t : 0.01 + 1.98 * (t - 0.5)) : t;
        const double a = 2 * kPi * share;
        points.emplace_back(3e5 * std::cos(a) + 5e3 * std::sin(37 * a), 2e5 * std::sin(a), 3e4 * std::cos(2 * a));
    }
    return points;
}

}  // namespace

int main(int argc, char** argv)
{
    const int largest = argc > 1 ? std::atoi(argv[1]) : 500000;
    std::printf("%10s %8s %10s %14s %s\n", "points", "crowded", "ms", "ns / n log2 n", "result");
    for (int n = 10000; n <= largest; n *= n < 100000 ? 10 : 5) {
        for (const bool crowded : {false, true}) {
            const std::vector<gmPnt3D> points = Loop(n, crowded);
            const auto t0 = std::chrono::steady_clock::now();
            const std::vector<gmPnt2D> plane = geInPlane(points, geBestFitPlane(points));
            const gmSelfCrossing crossing = geFindSelfCrossing(plane, true);
            const double area = gePolygonArea(plane);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            std::printf("%10d %8s %10.1f %14.1f %s (area %.4g)\n", n, crowded ? "yes" : "no", ms,
                        ms * 1e6 / (n * std::log2(static_cast<double>(n))),
                        crossing.Found() ? "crosses itself" : "simple", std::fabs(area));
            if (crossing.Found()) return 1;
        }
    }
    return 0;
}
