#include "igestestfiles.h"

#include "igesdll.h"

#include <IGESControl_Writer.hxx>
#include <IGESData_IGESModel.hxx>
#include <IGESGeom_CopiousData.hxx>
#include <IGESGeom_Line.hxx>
#include <IGESGeom_TransformationMatrix.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <TColStd_HArray2OfReal.hxx>
#include <gp_Pnt.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <type_traits>

namespace igestest {
namespace {

constexpr int kCountCanaries = 16;
constexpr int kCoordCanaries = 64;
constexpr int kCanary = -123456789;
constexpr float kCoordCanary = -9.87654e30f;
constexpr std::size_t kPlane = kIgesPlaneSize;
// Dense samples of the true curve used to judge a polyline.
constexpr int kCurveSamples = 5000;
// Vertices are written as floats: allow for their rounding.
constexpr double kOnCurve = 1e-4;
constexpr double kChord = 0.01 + kOnCurve;

}  // namespace

std::string ScratchFile(const std::string& suffix) {
    const std::filesystem::path dir(IGES_TEST_SCRATCH);
    std::filesystem::create_directories(dir);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name() : "scratch";
    std::replace(name.begin(), name.end(), '/', '_');
    return (dir / (name + suffix)).string();
}

std::string DataFile(const std::string& name) { return std::string(IGES_TEST_DATA) + "/" + name; }

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename Item>
void Write(const std::string& path, const std::vector<Item>& items, const char* unit) {
    IGESControl_Writer writer(unit, 0);
    for (const Item& item : items) {
        if constexpr (std::is_same_v<Item, Handle(Geom_Curve)>) {
            ASSERT_TRUE(writer.AddGeom(item));
        } else {
            ASSERT_TRUE(writer.AddEntity(item));
        }
    }
    writer.ComputeModel();
    ASSERT_TRUE(writer.Write(path.c_str()));
}

void WriteIges(const std::string& path, const std::vector<Handle(IGESData_IGESEntity)>& entities, const char* unit) {
    Write(path, entities, unit);
}

void WriteIgesCurves(const std::string& path, const std::vector<Handle(Geom_Curve)>& curves) {
    Write(path, curves, "MM");
}

Handle(IGESData_IGESEntity) MakeLine(const gp_XYZ& start, const gp_XYZ& end) {
    Handle(IGESGeom_Line) line = new IGESGeom_Line();
    line->Init(start, end);
    return line;
}

Handle(IGESData_IGESEntity) MakeCopious(int form, const std::vector<gp_XYZ>& points, double zPlane) {
    const int stride = form == 1 || form == 11 || form == 63 ? 2 : 3;
    Handle(TColStd_HArray1OfReal) data = new TColStd_HArray1OfReal(1, stride * static_cast<int>(points.size()));
    for (int i = 0; i < data->Length(); ++i) {
        data->SetValue(i + 1, points[static_cast<std::size_t>(i / stride)].Coord(i % stride + 1));
    }
    Handle(IGESGeom_CopiousData) copious = new IGESGeom_CopiousData();
    copious->Init(stride - 1, zPlane, data);
    if (form == 63) {
        copious->SetClosedPath2D();
    } else {
        copious->SetPolyline(form >= 11);
    }
    return copious;
}

Handle(IGESData_IGESEntity) MakeTransform(const std::array<std::array<double, 4>, 3>& rows) {
    Handle(TColStd_HArray2OfReal) matrix = new TColStd_HArray2OfReal(1, 3, 1, 4);
    for (int k = 0; k < 12; ++k) {
        matrix->SetValue(k / 4 + 1, k % 4 + 1, rows[k / 4][k % 4]);
    }
    Handle(IGESGeom_TransformationMatrix) transform = new IGESGeom_TransformationMatrix();
    transform->Init(matrix);
    return transform;
}

LibraryResult ReadThroughLibrary(const std::string& file, int maxLines) {
    LibraryResult result;
    void* const library = dlopen(IGESDLL_PATH, RTLD_LAZY);
    EXPECT_NE(library, nullptr) << dlerror();
    if (library == nullptr) {
        return result;
    }
    const auto unitProc = Lookup<IgesUnitProc>(library, "igesUnit");
    const auto translateProc = Lookup<IgesTranslateProc>(library, "igestranslate");
    const auto linesProc = Lookup<IgesOnlyLinProc>(library, "getigesonlylin");
    EXPECT_TRUE(unitProc != nullptr && translateProc != nullptr && linesProc != nullptr);

    std::vector<int> counts(static_cast<std::size_t>(maxLines) + kCountCanaries, kCanary);
    std::vector<float> coords(3 * kPlane + kCoordCanaries, kCoordCanary);
    int ten = 10, lineCount = 0;
    unitProc(&result.unit, file.c_str(), 0);
    translateProc(&result.status, &result.unit, &ten, file.c_str(), 0, 0);
    linesProc(&lineCount, counts.data(), coords.data(), maxLines);
    dlclose(library);

    result.buffersIntact =
        std::all_of(counts.begin() + maxLines, counts.end(), [](int v) { return v == kCanary; }) &&
        std::all_of(coords.begin() + 3 * kPlane, coords.end(), [](float v) { return v == kCoordCanary; });
    EXPECT_GE(lineCount, 0);
    EXPECT_LE(lineCount, maxLines);
    std::size_t next = 0;
    for (int k = 0; k < lineCount; ++k) {
        Polyline line;
        for (int i = 0; i < counts[static_cast<std::size_t>(k)] && next < kPlane; ++i, ++next) {
            line.push_back({coords[next], coords[kPlane + next], coords[2 * kPlane + next]});
        }
        result.lines.push_back(std::move(line));
    }
    return result;
}

gp_XYZ ToXYZ(const Point& p) { return gp_XYZ(p[0], p[1], p[2]); }

double DistanceToPolyline(const gp_XYZ& point, const Polyline& line) {
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < line.size(); ++i) {
        const gp_XYZ a = ToXYZ(line[i]);
        const gp_XYZ b = ToXYZ(line[std::min(i + 1, line.size() - 1)]);
        const gp_XYZ ab = b - a;
        const double lengthSquared = ab.SquareModulus();
        const double t = lengthSquared > 0.0 ? std::clamp((point - a).Dot(ab) / lengthSquared, 0.0, 1.0) : 0.0;
        best = std::min(best, (point - (a + ab * t)).Modulus());
    }
    return best;
}

void ExpectFollowsCurve(const Polyline& line, const Handle(Geom_Curve)& curve) {
    ExpectFollows(line, [&](double t) { return curve->Value(t).XYZ(); }, curve->FirstParameter(),
                  curve->LastParameter());
}

void ExpectFollows(const Polyline& line, const std::function<gp_XYZ(double)>& at, double first, double last) {
    ASSERT_GE(line.size(), 2u);
    Polyline dense;
    for (int i = 0; i <= kCurveSamples; ++i) {
        const gp_XYZ p = at(first + (last - first) * i / kCurveSamples);
        dense.push_back({static_cast<float>(p.X()), static_cast<float>(p.Y()), static_cast<float>(p.Z())});
    }
    EXPECT_LT((ToXYZ(line.front()) - at(first)).Modulus(), kOnCurve);
    EXPECT_LT((ToXYZ(line.back()) - at(last)).Modulus(), kOnCurve);
    double worstVertex = 0.0;
    double worstChord = 0.0;
    double shortest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < line.size(); ++i) {
        worstVertex = std::max(worstVertex, DistanceToPolyline(ToXYZ(line[i]), dense));
        if (i > 0) {
            shortest = std::min(shortest, (ToXYZ(line[i]) - ToXYZ(line[i - 1])).Modulus());
        }
    }
    for (const Point& p : dense) {
        worstChord = std::max(worstChord, DistanceToPolyline(ToXYZ(p), line));
    }
    EXPECT_LT(worstVertex, kOnCurve) << "a vertex is off the curve";
    EXPECT_LT(worstChord, kChord) << "a chord strays from the curve";
    EXPECT_GE(shortest, 1e-6) << "repeated point";
}

}  // namespace igestest
