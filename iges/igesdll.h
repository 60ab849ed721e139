// C interface of the IGES translator library libigesdll.so.
//
// The program loads the library at run time and calls, in this order: igesUnit, igestranslate,
// getigesonlylin. The translated polylines live in the library between igestranslate and
// getigesonlylin; getigesonlylin hands them over and forgets them.
#ifndef IGESDLL_H
#define IGESDLL_H

#define IGESDLL_EXPORT __attribute__((visibility("default")))

extern "C" {

// Writes the unit flag of the file's global section (1 inch, 2 mm, ...) to *unit, or 0 when
// the file cannot be read.
IGESDLL_EXPORT void igesUnit(int* unit, const char* file, int zero);

// Reads the file and keeps its curves as polylines, in the file's own units. *status becomes 0
// when the file was read and 1 when it could not be. The unit and the parameter 10 are accepted
// for the caller's sake and not used: coordinates are never scaled.
IGESDLL_EXPORT void igestranslate(int* status, int* unit, int* ten, const char* file, int, int);

// Hands the kept polylines over: *nlines polylines, counts[k] points in polyline k, and the
// coordinates in three planes of the caller's buffer: x at coords[0..500000), y at
// coords[500000..1000000), z at coords[1000000..1500000). At most maxLines polylines and
// 500,000 points are written; curves past those limits are dropped with a message.
IGESDLL_EXPORT void getigesonlylin(int* nlines, int* counts, float* coords, int maxLines);
}

// Size of one coordinate plane of getigesonlylin's buffer, which holds three of them.
inline constexpr int kIgesPlaneSize = 500000;

using IgesUnitProc = void (*)(int*, const char*, int);
using IgesTranslateProc = void (*)(int*, int*, int*, const char*, int, int);
using IgesOnlyLinProc = void (*)(int*, int*, float*, int);

#endif
