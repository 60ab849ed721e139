// Reading an IGES file into polylines: the translation behind the library's C entry points.
#ifndef IGESPOLYLINES_H
#define IGESPOLYLINES_H

#include <vector>

namespace igesdll {

// No point of a sampled curve lies further than this from the polyline, in the file's units.
inline constexpr double kChordTolerance = 0.01;
// A point closer than this to the one before it adds nothing to a polyline.
inline constexpr double kPointMergeDistance = 1e-6;

struct IgesPoint {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

using IgesPolyline = std::vector<IgesPoint>;

struct IgesReadResult {
    bool readable = false;            // the file could be loaded as an IGES model
    std::vector<IgesPolyline> lines;  // one per independent curve, in directory order
};

// Converts every independent curve entity of the file into one polyline, in the file's own
// units. Never throws.
IgesReadResult ReadIgesPolylines(const char* file);

// The unit flag of the file's global section, or 0 when the file cannot be loaded. Never throws.
int ReadIgesUnitFlag(const char* file);

}  // namespace igesdll

#endif
