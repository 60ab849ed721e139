// Stands in for libigesdll.so in a directory the loader must ignore: whatever it is asked, it
// answers with seven polylines, which no test file of the real library holds.
#include "igesdll.h"

namespace {
constexpr int kDecoyLines = 7;
}

extern "C" {

void igesUnit(int* unit, const char*, int) {
    if (unit != nullptr) {
        *unit = 99;
    }
}

void igestranslate(int* status, int*, int*, const char*, int, int) {
    if (status != nullptr) {
        *status = 0;
    }
}

void getigesonlylin(int* nlines, int* counts, float* coords, int maxLines) {
    if (nlines == nullptr || counts == nullptr || coords == nullptr || maxLines < kDecoyLines) {
        return;
    }
    for (int k = 0; k < kDecoyLines; ++k) {
        counts[k] = 2;
    }
    for (int j = 0; j < 2 * kDecoyLines; ++j) {
        coords[j] = static_cast<float>(j);
        coords[kIgesPlaneSize + j] = 0.0f;
        coords[2 * kIgesPlaneSize + j] = 0.0f;
    }
    *nlines = kDecoyLines;
}
}
