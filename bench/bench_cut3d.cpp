// 3D cut line on a large blank: prefiltered against plain element tests.
//
// A formed blank (a gently domed grid of quadrilaterals) and a long closed curve on it. The
// plain path converts every curve point for every element, so it is timed on a sample of
// elements and scaled per element; the prefiltered path runs over the whole blank.
//
// Usage: bench_cut3d [elements per side (default 1000)] [curve points (default 10000)]
#include "qdsgeomline.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

double Height(double x, double y) { return 0.0005 * (x * x + y * y); }

gmElemt Quad(int side, int i, int j, double h)
{
    const int id = i * side + j + 1;
    const std::vector<int> nodes{id, id + 1, id + side + 2, id + side + 1};
    std::vector<gmPnt3D> v;
    for (const auto& d : {std::pair<int, int>{0, 0}, {1, 0}, {1, 1}, {0, 1}}) {
        const double x = (i + d.first) * h - side * h / 2;
        const double y = (j + d.second) * h - side * h / 2;
        v.emplace_back(x, y, Height(x, y));
    }
    return gmElemt(id, 1, nodes, v);
}

double Seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int side = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
    const double h = 1.0;
    const double r = side * h * 0.35;

    std::vector<gmPnt3D> pts;
    for (int i = 0; i < count; ++i) {
        const double a = 2 * M_PI * i / count;
        const double rr = r * (1 + 0.08 * std::sin(9 * a));
        const double x = rr * std::cos(a), y = rr * std::sin(a);
        pts.emplace_back(x, y, Height(x, y));
    }
    gmCut3DLine line(pts, 1);
    line.SetGap(2.0);
    line.AutoClose();

    const long total = static_cast<long>(side) * side;
    const long stride = std::max(1L, total / 2000);

    // Plain: a sample of elements spread over the blank.
    long sampled = 0;
    long plainHits = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (long e = 0; e < total; e += stride) {
        gmElemt q = Quad(side, static_cast<int>(e / side), static_cast<int>(e % side), h);
        std::vector<gmItrPt> found;
        line.InterElementPlain(q, found);
        plainHits += !found.empty();
        ++sampled;
    }
    const double plainPer = Seconds(t0) / static_cast<double>(sampled);

    // Prefiltered: the same sample (answers compared), then the whole blank.
    long sampleHits = 0;
    for (long e = 0; e < total; e += stride) {
        gmElemt q = Quad(side, static_cast<int>(e / side), static_cast<int>(e % side), h);
        std::vector<gmItrPt> found;
        line.InterElement(q, found);
        sampleHits += !found.empty();
    }
    long hits = 0;
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            gmElemt q = Quad(side, i, j, h);
            std::vector<gmItrPt> found;
            line.InterElement(q, found);
            hits += !found.empty();
        }
    }
    const double fast = Seconds(t0);
    const double fastPer = fast / static_cast<double>(total);

    std::printf("blank: %ld elements, curve: %d points, gap %.1f\n", total, line.GetCount(), line.GetGap());
    std::printf("plain InterElement:       %10.2f us/element (sample of %ld, %ld crossed)\n", plainPer * 1e6,
                sampled, plainHits);
    std::printf("prefiltered InterElement: %10.2f us/element (whole blank %.2f s, %ld crossed)\n", fastPer * 1e6,
                fast, hits);
    std::printf("plain on the whole blank would take about %.0f s\n", plainPer * static_cast<double>(total));
    std::printf("speed-up: %.0fx\n", plainPer / fastPer);
    if (sampleHits != plainHits) {
        std::printf("MISMATCH on the sample: %ld against %ld crossed elements\n", sampleHits, plainHits);
        return 1;
    }
    return 0;
}
