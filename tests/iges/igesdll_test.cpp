// The translator library seen through its C entry points, as the program sees it.
#include "igesdll.h"
#include "igestestfiles.h"

#include <GeomToIGES_GeomCurve.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <Geom_Ellipse.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <IGESData_HArray1OfIGESEntity.hxx>
#include <IGESGeom_CircularArc.hxx>
#include <IGESGeom_CompositeCurve.hxx>
#include <IGESGeom_ConicArc.hxx>
#include <IGESGeom_CurveOnSurface.hxx>
#include <IGESGeom_Plane.hxx>
#include <IGESGeom_SplineCurve.hxx>
#include <IGESGeom_TransformationMatrix.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <TColStd_HArray2OfReal.hxx>
#include <gp_Ax2.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>

using namespace igestest;

namespace {

constexpr double kPi = 3.14159265358979323846;
using Rows = std::array<std::array<double, 4>, 3>;

Point P(double x, double y, double z) { return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)}; }

Handle(IGESData_IGESEntity) MakeArc(double zt, const gp_XY& center, const gp_XY& start, const gp_XY& end) {
    Handle(IGESGeom_CircularArc) arc = new IGESGeom_CircularArc();
    arc->Init(zt, center, start, end);
    return arc;
}

Handle(IGESData_IGESEntity) MakeComposite(const std::vector<Handle(IGESData_IGESEntity)>& members) {
    Handle(IGESData_HArray1OfIGESEntity) list = new IGESData_HArray1OfIGESEntity(1, static_cast<int>(members.size()));
    for (std::size_t i = 0; i < members.size(); ++i) {
        list->SetValue(static_cast<int>(i) + 1, members[i]);
    }
    Handle(IGESGeom_CompositeCurve) composite = new IGESGeom_CompositeCurve();
    composite->Init(list);
    return composite;
}

Handle(IGESData_IGESEntity) Placed(const Handle(IGESData_IGESEntity)& entity, const Rows& rows) {
    entity->InitTransf(Handle(IGESData_TransfEntity)::DownCast(MakeTransform(rows)));
    return entity;
}

template <typename T>
NCollection_Array1<T> Array(const std::vector<T>& values) {
    NCollection_Array1<T> out(1, static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        out.SetValue(static_cast<int>(i) + 1, values[i]);
    }
    return out;
}

// No weights: all equal, which the toolkit takes as a polynomial spline.
Handle(Geom_BSplineCurve) MakeBSpline(const std::vector<gp_Pnt>& poles, std::vector<double> weights,
                                      const std::vector<double>& knots, const std::vector<int>& mults, int degree) {
    weights.resize(poles.size(), 1.0);
    return new Geom_BSplineCurve(Array(poles), Array(weights), Array(knots), Array(mults), degree);
}

// The index of the polyline vertex equal to `p`, or -1.
int VertexIndex(const Polyline& line, const Point& p) {
    const auto it = std::find(line.begin(), line.end(), p);
    return it == line.end() ? -1 : static_cast<int>(it - line.begin());
}

}  // namespace

// --- Curve kinds ---------------------------------------------------------------------------

TEST(IgesCurves, ArcsConicsAndSplinesStayWithinChordTolerance) {
    const std::vector<Handle(Geom_Curve)> curves = {
        new Geom_TrimmedCurve(new Geom_Circle(gp_Ax2(gp_Pnt(10, 20, 5), gp_Dir(1, 1, 1)), 40), 0.3, 4.0),
        new Geom_Circle(gp_Ax2(gp_Pnt(-5, 0, 0), gp::DZ()), 5),
        new Geom_TrimmedCurve(new Geom_Ellipse(gp_Ax2(gp_Pnt(0, 0, 3), gp_Dir(0, 1, 1)), 30, 12), 0.5, 5.5),
        MakeBSpline({{0, 0, 0}, {10, 15, 0}, {20, -5, 3}, {30, 20, 0}, {40, 0, -2}, {50, 10, 0}}, {}, {0, 1, 2, 3},
                    {4, 1, 1, 4}, 3),
        MakeBSpline({{20, 0, 0}, {20, 20, 0}, {0, 20, 0}}, {1, std::sqrt(0.5), 1}, {0, 1}, {3, 3}, 2),
        MakeBSpline({{0, 0, 0}, {5, 0, 0}, {5, 5, 2}}, {}, {0, 1, 2}, {2, 1, 2}, 1),
    };
    const std::string file = ScratchFile(".igs");
    WriteIgesCurves(file, curves);
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), curves.size());
    for (std::size_t i = 0; i < curves.size(); ++i) {
        SCOPED_TRACE(i);
        ExpectFollowsCurve(read.lines[i], curves[i]);
    }
    EXPECT_EQ(read.lines[1].front(), read.lines[1].back()) << "a full circle closes";
    EXPECT_EQ(read.lines[5], (Polyline{P(0, 0, 0), P(5, 0, 0), P(5, 5, 2)})) << "a degree-one spline keeps its corners";
}

// Copious data, placed entities and curves on surfaces come back vertex for vertex, also from a
// writer that flags nothing as dependent.
TEST(IgesCurves, PolylineEntitiesKeepTheirVerticesAndDependentCurvesAreNotRepeated) {
    const std::vector<gp_XYZ> square = {{0, 0, 9}, {4, 0, 9}, {4, 4, 9}, {0, 4, 9}};
    const Rows turn = {{{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}}};
    const Rows turnAndShift = {{{0, -1, 0, 10}, {1, 0, 0, 0}, {0, 0, 1, 0}}};
    const Rows shift = {{{1, 0, 0, 100}, {0, 1, 0, 0}, {0, 0, 1, 5}}};
    Handle(IGESGeom_Plane) plane = new IGESGeom_Plane();
    plane->Init(0, 0, 1, 0, nullptr, gp_XYZ(0, 0, 0), 0);
    Handle(IGESGeom_CurveOnSurface) onSurface = new IGESGeom_CurveOnSurface();
    onSurface->Init(1, plane, nullptr, MakeComposite({MakeLine({0, 0, 0}, {5, 0, 0}), MakeLine({5, 0, 0}, {5, 5, 0})}), 2);
    const std::vector<std::pair<Handle(IGESData_IGESEntity), Polyline>> rows = {
        // Planar forms take their common z, not the point's own.
        {MakeCopious(1, square, 2.5), {P(0, 0, 2.5), P(4, 0, 2.5), P(4, 4, 2.5), P(0, 4, 2.5)}},
        {MakeCopious(11, square, -1.0), {P(0, 0, -1), P(4, 0, -1), P(4, 4, -1), P(0, 4, -1)}},
        // A repeated point is dropped.
        {MakeCopious(2, {{1, 2, 3}, {1, 2, 3}, {4, 5, 6}}), {P(1, 2, 3), P(4, 5, 6)}},
        // A closed path comes back closed, a triangle too.
        {MakeCopious(63, square, 0.5), {P(0, 0, 0.5), P(4, 0, 0.5), P(4, 4, 0.5), P(0, 4, 0.5), P(0, 0, 0.5)}},
        {MakeCopious(63, {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}), {P(0, 0, 0), P(4, 0, 0), P(0, 4, 0), P(0, 0, 0)}},
        // A quarter turn about z, then a shift along x.
        {Placed(MakeLine({1, 0, 0}, {2, 0, 3}), turnAndShift), {P(10, 1, 0), P(10, 2, 3)}},
        {Placed(MakeCopious(12, {{1, 1, 1}, {2, 1, 1}}), turnAndShift), {P(9, 1, 1), P(9, 2, 1)}},
        // The member is turned first (to (0,1),(0,2)), then shifted with its composite; the other
        // way round would give x = 100, 101.
        {Placed(MakeComposite({Placed(MakeLine({1, 0, 0}, {2, 0, 0}), turn), MakeLine({0, 2, 0}, {0, 3, 0})}), shift),
         {P(100, 1, 5), P(100, 2, 5), P(100, 3, 5)}},
        // Only the model-space curve, once.
        {onSurface, {P(0, 0, 0), P(5, 0, 0), P(5, 5, 0)}},
    };
    std::vector<Handle(IGESData_IGESEntity)> entities;
    for (const auto& row : rows) {
        entities.push_back(row.first);
    }
    const std::string file = ScratchFile(".igs");
    WriteIges(file, entities);
    std::string text = ReadText(file);
    for (std::size_t at = text.find("00010000D"); at != std::string::npos; at = text.find("00010000D", at)) {
        text.replace(at, 8, "00000000");
    }
    const std::string unflagged = ScratchFile("_unflagged.igs");
    WriteText(unflagged, text);
    for (const std::string& path : {file, unflagged}) {
        SCOPED_TRACE(path);
        const LibraryResult read = ReadThroughLibrary(path);
        ASSERT_EQ(read.lines.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(read.lines[i], rows[i].second) << "row " << i;
        }
    }
}

// Arcs, conics, parametric and B-splines, also under a stretching matrix, and composites, in an
// inch file: the coordinates stay in file units.
TEST(IgesCurves, EntitiesFollowTheirCurvesInFileUnits) {
    Handle(IGESGeom_ConicArc) ellipse = new IGESGeom_ConicArc();  // x^2/9 + y^2/4 = 1, upper half
    ellipse->Init(4, 0, 9, 0, 0, -36, 0.25, gp_XY(3, 0), gp_XY(-3, 0));
    const Handle(Geom_BSplineCurve) spline =
        MakeBSpline({{0, 0, 0}, {1, 2, 0}, {3, -1, 1}, {4, 1, 0}}, {}, {0, 1}, {4, 4}, 3);
    GeomToIGES_GeomCurve toIges;
    toIges.SetUnit(1.0);
    const Handle(IGESData_IGESEntity) splineEntity =
        toIges.TransferCurve(spline, spline->FirstParameter(), spline->LastParameter());
    ASSERT_FALSE(splineEntity.IsNull());

    // A parametric spline of two cubic segments on [0, 1] and [1, 3], joined with matching
    // value and slopes.
    const double coef[3][2][4] = {{{0, 10, 5, 0}, {15, 20, 5, -1}},
                                  {{0, 0, 10, -2}, {8, 14, 4, 0.5}},
                                  {{0, 0, 0, 0}, {0, 0, 3, 0}}};
    const double breaks[3] = {0, 1, 3};
    const auto value = [&](int d, int seg, double s) {
        const double* c = coef[d][seg];
        return c[0] + s * (c[1] + s * (c[2] + s * c[3]));
    };
    Handle(TColStd_HArray1OfReal) breakPoints = new TColStd_HArray1OfReal(1, 3);
    Handle(TColStd_HArray2OfReal) polys[3];
    Handle(TColStd_HArray1OfReal) ends[3];
    for (int d = 0; d < 3; ++d) {
        breakPoints->SetValue(d + 1, breaks[d]);
        polys[d] = new TColStd_HArray2OfReal(1, 2, 1, 4);
        for (int k = 0; k < 8; ++k) {
            polys[d]->SetValue(k / 4 + 1, k % 4 + 1, coef[d][k / 4][k % 4]);
        }
        // Value, slope, half the second and a sixth of the third derivative at the end.
        const double* c = coef[d][1];
        const double s = 2.0;
        const double atEnd[4] = {value(d, 1, s), c[1] + s * (2 * c[2] + 3 * s * c[3]), c[2] + 3 * s * c[3], c[3]};
        ends[d] = new TColStd_HArray1OfReal(1, 4);
        for (int k = 0; k < 4; ++k) {
            ends[d]->SetValue(k + 1, atEnd[k]);
        }
    }
    Handle(IGESGeom_SplineCurve) parametric = new IGESGeom_SplineCurve();
    parametric->Init(3, 2, 3, breakPoints, polys[0], polys[1], polys[2], ends[0], ends[1], ends[2]);
    // Stretching x by 4 turns the half circle into half an ellipse: a map the toolkit's own
    // geometry cannot hold, and one that enlarges the chords of a sampling done before it.
    const Rows stretch = {{{4, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}}};
    // Line, quarter arc, line, as one polyline; the second copy has its last line written backwards.
    const auto members = [](bool lastReversed) {
        return std::vector<Handle(IGESData_IGESEntity)>{
            MakeLine({0, 0, 0}, {10, 0, 0}), MakeArc(0.0, {10, 5}, {10, 0}, {15, 5}),
            lastReversed ? MakeLine({15, 20, 0}, {15, 5, 0}) : MakeLine({15, 5, 0}, {15, 20, 0})};
    };

    const std::string file = ScratchFile(".igs");
    WriteIges(file, {MakeLine({1, 2, 3}, {4, 5, 6}), MakeArc(0.5, {1, 1}, {3, 1}, {1, 3}), ellipse, splineEntity,
                     parametric, Placed(MakeArc(0.0, {0, 0}, {10, 0}, {-10, 0}), stretch),
                     MakeComposite(members(false)), MakeComposite(members(true))},
              "IN");
    const LibraryResult read = ReadThroughLibrary(file);
    EXPECT_EQ(read.unit, 1);
    ASSERT_EQ(read.lines.size(), 8u);
    EXPECT_EQ(read.lines[0], (Polyline{P(1, 2, 3), P(4, 5, 6)}));
    ExpectFollows(read.lines[1], [](double t) { return gp_XYZ(1 + 2 * std::cos(t), 1 + 2 * std::sin(t), 0.5); }, 0,
                  kPi / 2);
    ExpectFollows(read.lines[2], [](double t) { return gp_XYZ(3 * std::cos(t), 2 * std::sin(t), 0.25); }, 0, kPi);
    ExpectFollowsCurve(read.lines[3], spline);
    const auto onParametric = [&](double t) {
        const int seg = t <= breaks[1] ? 0 : 1;
        const double s = t - breaks[seg];
        return gp_XYZ(value(0, seg, s), value(1, seg, s), value(2, seg, s));
    };
    ExpectFollows(read.lines[4], onParametric, 0.0, 3.0);
    ExpectFollows(read.lines[5], [](double t) { return gp_XYZ(1 + 40 * std::cos(t), 2 + 10 * std::sin(t), 3); }, 0,
                  kPi);
    for (const Polyline& line : {read.lines[6], read.lines[7]}) {
        EXPECT_EQ(line.front(), P(0, 0, 0));
        EXPECT_EQ(line.back(), P(15, 20, 0));
        const int corner = VertexIndex(line, P(10, 0, 0));
        const int arcEnd = VertexIndex(line, P(15, 5, 0));
        ASSERT_EQ(corner, 1);
        ASSERT_EQ(arcEnd, static_cast<int>(line.size()) - 2);
        ExpectFollows(
            Polyline(line.begin() + corner, line.begin() + arcEnd + 1),
            [](double t) { return gp_XYZ(10 + 5 * std::cos(t), 5 + 5 * std::sin(t), 0); }, -kPi / 2, 0.0);
    }
}

// --- Limits --------------------------------------------------------------------------------

// Whole curves are handed over in file order up to the first that does not fit the caller's
// number of curves or the point buffer; a short curve after it is not pulled forward.
TEST(IgesLimits, WholeCurvesInFileOrderUpToTheFirstMisfit) {
    const auto zigzag = [](int count, double y) {
        std::vector<gp_XYZ> points;
        for (int i = 0; i < count; ++i) {
            points.push_back({double(i), y + (i % 2), 0});
        }
        return points;
    };
    const int half = kIgesPlaneSize / 2;
    struct Case {
        int second;  // points of the second curve
        int maxLines;
        std::size_t kept;
    };
    // Two curves asked for; a second curve of `half` points fills the buffer to its last slot,
    // one point more and it goes.
    for (const Case c : {Case{2, 2, 2}, Case{half, 1000, 2}, Case{half + 1, 1000, 1}}) {
        SCOPED_TRACE(c.second);
        const std::string file = ScratchFile("_" + std::to_string(c.second) + ".igs");
        WriteIges(file, {MakeCopious(12, zigzag(half, 0)), MakeCopious(12, zigzag(c.second, 10)),
                         MakeCopious(12, zigzag(2, 20))});
        testing::internal::CaptureStdout();
        const LibraryResult read = ReadThroughLibrary(file, c.maxLines);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("dropped"), std::string::npos);
        EXPECT_TRUE(read.buffersIntact);
        ASSERT_EQ(read.lines.size(), c.kept);
        const int last = c.kept == 2 ? c.second : half;
        ASSERT_EQ(read.lines.back().size(), static_cast<std::size_t>(last));
        EXPECT_EQ(read.lines.back().back(), P(last - 1, 10.0 * (c.kept - 1) + (last - 1) % 2, 0));
    }
}

// --- Bad input and library state -----------------------------------------------------------

TEST(IgesBadInput, UnreadableFilesGiveNoPolylineAndNoUnit) {
    const std::string sample = ReadText(DataFile("sample_curves.igs"));
    // Wreck the parameter section while keeping the record layout.
    std::string garbled = sample;
    for (std::size_t i = sample.find("126,3,3"); i < garbled.size(); i += 7) {
        if (garbled[i] != '\n' && garbled[i] != '\r') {
            garbled[i] = 'Q';
        }
    }
    WriteText(ScratchFile("_empty.igs"), "");
    WriteText(ScratchFile("_text.igs"), "this is not an IGES file\n1,2,3;\n");
    WriteText(ScratchFile("_garbled.igs"), garbled);
    WriteText(ScratchFile("_truncated.igs"), sample.substr(0, sample.size() / 2));
    for (const std::string& file : {ScratchFile("_missing.igs"), ScratchFile("_empty.igs"), ScratchFile("_text.igs"),
                                    std::string(IGES_TEST_SCRATCH)}) {
        SCOPED_TRACE(file);
        const LibraryResult read = ReadThroughLibrary(file);
        EXPECT_TRUE(read.lines.empty());
        EXPECT_EQ(read.unit, 0);
        EXPECT_NE(read.status, 0);
    }
    // A parameter line pointing past the directory: the file is refused, not read in part.
    const std::string pointing = ScratchFile("_pointing.igs");
    WriteIges(pointing, {MakeCopious(63, {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}}, 0.0)});
    std::string damaged;
    std::istringstream lines(ReadText(pointing));
    for (std::string line; std::getline(lines, line);) {
        if (line.size() >= 73 && line[72] == 'P') line.replace(64, 8, "      99");
        damaged += line + "\n";
    }
    WriteText(pointing, damaged);
    const LibraryResult pointed = ReadThroughLibrary(pointing);
    EXPECT_TRUE(pointed.lines.empty());
    EXPECT_NE(pointed.status, 0);
    // Damaged files must not crash; whatever they still yield stays within the buffers.
    EXPECT_TRUE(ReadThroughLibrary(ScratchFile("_garbled.igs")).buffersIntact);
    EXPECT_TRUE(ReadThroughLibrary(ScratchFile("_truncated.igs")).buffersIntact);
}

TEST(IgesBadInput, PolylinesAreHandedOverOnceAndAFailedReadForgetsOldOnes) {
    void* const library = dlopen(IGESDLL_PATH, RTLD_LAZY);
    ASSERT_NE(library, nullptr);
    const auto translate = Lookup<IgesTranslateProc>(library, "igestranslate");
    const auto onlyLin = Lookup<IgesOnlyLinProc>(library, "getigesonlylin");
    ASSERT_TRUE(translate != nullptr && onlyLin != nullptr);

    std::vector<int> counts(1000);
    std::vector<float> coords(3 * static_cast<std::size_t>(kIgesPlaneSize));
    int status = -1, unit = 2, ten = 10, lines = -1;
    const auto read = [&](const std::string& file) { translate(&status, &unit, &ten, file.c_str(), 0, 0); };
    const auto handOver = [&] {
        onlyLin(&lines, counts.data(), coords.data(), 1000);
        return lines;
    };
    read(DataFile("sample_curves.igs"));
    EXPECT_EQ(handOver(), 10);
    EXPECT_EQ(handOver(), 0) << "handed over twice";
    read(DataFile("sample_curves.igs"));
    read(ScratchFile("_missing.igs"));
    EXPECT_EQ(handOver(), 0) << "polylines of an earlier file survived a failed read";
    dlclose(library);
}

// --- Files from other writers --------------------------------------------------------------

TEST(IgesThirdParty, SampleCurvesComeBackAsDrawn) {
    testing::internal::CaptureStdout();
    const LibraryResult read = ReadThroughLibrary(DataFile("sample_curves.igs"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the toolkit spoke on the console";
    EXPECT_EQ(read.unit, 2);
    EXPECT_EQ(read.status, 0);
    ASSERT_EQ(read.lines.size(), 10u);
    // B-spline, three lines (two shifted by their matrices, one checked), three arcs, the composite, the
    // ellipse, and two copious-data polylines, in directory order.
    EXPECT_EQ(read.lines[0].front(), P(-4, -4, 0));
    EXPECT_EQ(read.lines[0].back(), P(4, 4, 0));
    EXPECT_EQ(read.lines[1], (Polyline{P(4, -1, 0), P(5, 1, 0)}));
    EXPECT_EQ(read.lines[3], (Polyline{P(0, -1, 0), P(1, 1, 0)}));
    for (const Point& p : read.lines[4]) {
        EXPECT_NEAR((ToXYZ(p) - gp_XYZ(-1.25, 0, 0)).Modulus(), 1.0, 1e-5);
    }
    EXPECT_EQ(read.lines[4].front(), read.lines[4].back());
    // The composite's first arc sits under a half turn: it starts at (2, -1) and ends at (-1, -1).
    EXPECT_EQ(read.lines[6].front(), P(2, -1, 0));
    EXPECT_NE(VertexIndex(read.lines[6], P(-1, -1, 0)), -1);
    EXPECT_NE(VertexIndex(read.lines[6], P(1, 1, 0)), -1);
    EXPECT_EQ(read.lines[6].back(), P(-2, 1, 0));
    for (const Point& p : read.lines[7]) {
        const gp_XYZ q = ToXYZ(p);
        EXPECT_NEAR(q.X() * q.X() / 9 + (q.Y() - 3) * (q.Y() - 3) / 4, 1.0, 1e-5);
    }
    EXPECT_EQ(read.lines[9], (Polyline{P(8, 0, 1), P(7, 1, -1), P(7, 2, 0), P(5, 3, 1), P(4, 2, 0)}));
}

TEST(IgesThirdParty, GroupedCurvesAreReadAndSurfaceBoundariesOfASolidAreNotTrimCurves) {
    const LibraryResult solid = ReadThroughLibrary(DataFile("rounded_cube.igs"));
    EXPECT_EQ(solid.status, 0);
    EXPECT_EQ(solid.unit, 2);
    EXPECT_TRUE(solid.lines.empty());

    const LibraryResult read = ReadThroughLibrary(DataFile("example-arcs.iges"));
    EXPECT_EQ(read.unit, 2);
    ASSERT_EQ(read.lines.size(), 3u);
    // The arc's centre moves with its matrix from the origin to (-63.253315, 36.654861).
    const gp_XYZ center(-63.253315, 36.654861, 0);
    const double radius = std::hypot(19.804426036, -115.997282021);
    for (const Point& p : read.lines[0]) {
        EXPECT_NEAR((ToXYZ(p) - center).Modulus(), radius, 1e-4);
    }
    EXPECT_EQ(read.lines[0].front(), P(19.804426036 - 63.253315, -115.997282021 + 36.654861, 0));
    EXPECT_EQ(read.lines[1].front(), read.lines[1].back()) << "the closed B-spline stays closed";
}
