#include "igesdll.h"

#include "igespolylines.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kPlaneSize = kIgesPlaneSize;

// Polylines of the last igestranslate, waiting for getigesonlylin.
std::vector<igesdll::IgesPolyline>& KeptPolylines() {
    static std::vector<igesdll::IgesPolyline> kept;
    return kept;
}

void ReportDroppedCurves(std::size_t read, int used, int maxLines) {
    std::printf("IGES file holds %zu curves: only the first %d fit within %d curves and %d points, "
                "the other curves are dropped\n",
                read, used, maxLines, kIgesPlaneSize);
    std::fflush(stdout);
}

}  // namespace

extern "C" {

void igesUnit(int* unit, const char* file, int /*zero*/) {
    if (unit == nullptr) {
        return;
    }
    *unit = igesdll::ReadIgesUnitFlag(file);
}

void igestranslate(int* status, int* /*unit*/, int* /*ten*/, const char* file, int, int) {
    KeptPolylines().clear();
    int result = 1;
    try {
        igesdll::IgesReadResult read = igesdll::ReadIgesPolylines(file);
        if (read.readable) {
            result = 0;
            KeptPolylines() = std::move(read.lines);
        }
    } catch (...) {
        KeptPolylines().clear();
    }
    if (status != nullptr) {
        *status = result;
    }
}

void getigesonlylin(int* nlines, int* counts, float* coords, int maxLines) {
    // Handing over empties the library whatever the caller's buffers are like.
    std::vector<igesdll::IgesPolyline> lines;
    lines.swap(KeptPolylines());
    if (nlines == nullptr) {
        return;
    }
    *nlines = 0;
    const int lineLimit = (counts == nullptr || coords == nullptr) ? 0 : std::max(0, maxLines);

    // Only whole curves, and only a prefix of them: a trim must not follow half a curve, and
    // the curves kept stay in file order.
    int used = 0;
    std::size_t points = 0;
    for (const igesdll::IgesPolyline& line : lines) {
        if (used == lineLimit || line.size() > kPlaneSize - points) {
            break;
        }
        for (const igesdll::IgesPoint& p : line) {
            coords[points] = static_cast<float>(p.x);
            coords[kPlaneSize + points] = static_cast<float>(p.y);
            coords[2 * kPlaneSize + points] = static_cast<float>(p.z);
            ++points;
        }
        counts[used] = static_cast<int>(line.size());
        ++used;
    }
    *nlines = used;
    if (static_cast<std::size_t>(used) < lines.size()) {
        ReportDroppedCurves(lines.size(), used, lineLimit);
    }
}

}  // extern "C"
