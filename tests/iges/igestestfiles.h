// Helpers for the IGES translator tests: writing IGES files with the toolkit's own writer,
// reading them back through the library's C entry points, and checking polylines against
// the curves they stand for.
#ifndef IGESTESTFILES_H
#define IGESTESTFILES_H

#include <Geom_Curve.hxx>
#include <IGESData_IGESEntity.hxx>
#include <gp_XYZ.hxx>

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace igestest {

using Point = std::array<float, 3>;
using Polyline = std::vector<Point>;

// A path in the test's scratch directory, unique to the running test.
std::string ScratchFile(const std::string& suffix);
// A copied third-party file of tests/data/iges.
std::string DataFile(const std::string& name);
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

// Writes the given entities, or the curves as the toolkit's writer translates them, in order.
void WriteIges(const std::string& path, const std::vector<Handle(IGESData_IGESEntity)>& entities,
               const char* unit = "MM");
void WriteIgesCurves(const std::string& path, const std::vector<Handle(Geom_Curve)>& curves);

Handle(IGESData_IGESEntity) MakeLine(const gp_XYZ& start, const gp_XYZ& end);
Handle(IGESData_IGESEntity) MakeCopious(int form, const std::vector<gp_XYZ>& points, double zPlane = 0.0);
// A 124 entity: rows of the 3x4 matrix [R | T].
Handle(IGESData_IGESEntity) MakeTransform(const std::array<std::array<double, 4>, 3>& rows);

template <typename Proc>
Proc Lookup(void* library, const char* name) {
    Proc proc = nullptr;
    void* const address = dlsym(library, name);
    std::memcpy(&proc, &address, sizeof(proc));
    return proc;
}

// What one run of the library's three entry points gave back.
struct LibraryResult {
    int unit = -1;
    int status = -1;
    std::vector<Polyline> lines;
    bool buffersIntact = true;  // nothing written past the caller's arrays
};

// Loads the built library and runs igesUnit, igestranslate and getigesonlylin on the file, the
// way the program does, with guard values past the end of both arrays.
LibraryResult ReadThroughLibrary(const std::string& file, int maxLines = 1000);

gp_XYZ ToXYZ(const Point& p);
// Distance from a point to the nearest segment of a polyline.
double DistanceToPolyline(const gp_XYZ& point, const Polyline& line);
// Checks that a polyline follows a curve within the chord tolerance: its ends are the curve's
// ends, every vertex lies on the curve and no point of the curve strays from it.
void ExpectFollows(const Polyline& line, const std::function<gp_XYZ(double)>& at, double first, double last);
void ExpectFollowsCurve(const Polyline& line, const Handle(Geom_Curve)& curve);

}  // namespace igestest

#endif
