// Curves of an IGES file through the program's own translator library, so a
// picture shows exactly the polylines a job cuts along.
#include "iges.h"

#include "igesinterface.h"

#include <vector>

namespace view {

std::vector<std::vector<Vec3>> ReadIgesCurves(const std::string& path)
{
    // The translator's contract: at most 1,000 polylines and 500,000 points,
    // coordinates in three planes of x, then y, then z.
    constexpr int kMaxLines = 1000;
    constexpr size_t kPlane = 500000;
    std::vector<int> counts(kMaxLines, 0);
    std::vector<float> coords(3 * kPlane, 0.0f);
    const int lines = dyn2igesforbead(path.c_str(), counts.data(), coords.data(), kMaxLines);
    if (lines < 1) throw InputError(path + ": no curve could be read from this IGES file");
    std::vector<std::vector<Vec3>> curves;
    size_t next = 0;
    for (int k = 0; k < lines; ++k) {
        std::vector<Vec3> points;
        for (int i = 0; i < counts[static_cast<size_t>(k)] && next < kPlane; ++i, ++next) {
            points.push_back({coords[next], coords[kPlane + next], coords[2 * kPlane + next]});
        }
        if (points.size() >= 2) curves.push_back(std::move(points));
    }
    return curves;
}

}  // namespace view
