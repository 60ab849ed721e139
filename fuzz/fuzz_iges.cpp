// The IGES translator over an arbitrary file, through the library's C entry
// points in the order the program calls them.
#include "fuzz_common.h"

#include "igesdll.h"

#include <vector>

namespace {

constexpr int kMaxLines = 2000;

void Check(bool condition)
{
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzzutil::ScratchFile("curves.igs");
    fuzzutil::WriteBytes(path, data, size);

    static std::vector<int> counts(kMaxLines);
    static std::vector<float> coords(static_cast<size_t>(3) * kIgesPlaneSize);
    int unit = 0;
    igesUnit(&unit, path.c_str(), 0);
    int status = -1;
    int ten = 10;
    igestranslate(&status, &unit, &ten, path.c_str(), 0, 0);
    Check(status == 0 || status == 1);
    int lines = -1;
    getigesonlylin(&lines, counts.data(), coords.data(), kMaxLines);
    Check(lines >= 0 && lines <= kMaxLines);
    long long points = 0;
    for (int k = 0; k < lines; ++k) {
        Check(counts[static_cast<size_t>(k)] >= 0);
        points += counts[static_cast<size_t>(k)];
    }
    Check(points <= kIgesPlaneSize);
    return 0;
}
