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
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <TColStd_HArray2OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <gp_Ax2.hxx>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <cstring>
#include <filesystem>

using namespace igestest;

namespace {

constexpr double kPi = 3.14159265358979323846;

Point P(double x, double y, double z) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

std::vector<gp_XYZ> ToXYZs(const Polyline& line) {
    std::vector<gp_XYZ> out;
    for (const Point& p : line) {
        out.push_back(ToXYZ(p));
    }
    return out;
}

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

Handle(IGESData_IGESEntity) Placed(const Handle(IGESData_IGESEntity)& entity,
                                   const std::array<std::array<double, 4>, 3>& rows) {
    entity->InitTransf(Handle(IGESData_TransfEntity)::DownCast(MakeTransform(rows)));
    return entity;
}

Handle(Geom_BSplineCurve) MakeBSpline(const std::vector<gp_Pnt>& poles, const std::vector<double>& weights,
                                      const std::vector<double>& knots, const std::vector<int>& mults, int degree) {
    TColgp_Array1OfPnt p(1, static_cast<int>(poles.size()));
    TColStd_Array1OfReal w(1, static_cast<int>(poles.size()));
    for (std::size_t i = 0; i < poles.size(); ++i) {
        p.SetValue(static_cast<int>(i) + 1, poles[i]);
        w.SetValue(static_cast<int>(i) + 1, weights.empty() ? 1.0 : weights[i]);
    }
    TColStd_Array1OfReal k(1, static_cast<int>(knots.size()));
    TColStd_Array1OfInteger m(1, static_cast<int>(knots.size()));
    for (std::size_t i = 0; i < knots.size(); ++i) {
        k.SetValue(static_cast<int>(i) + 1, knots[i]);
        m.SetValue(static_cast<int>(i) + 1, mults[i]);
    }
    return weights.empty() ? new Geom_BSplineCurve(p, k, m, degree) : new Geom_BSplineCurve(p, w, k, m, degree);
}

// The index of the polyline vertex equal to `p`, or -1.
int VertexIndex(const Polyline& line, const Point& p) {
    const auto it = std::find(line.begin(), line.end(), p);
    return it == line.end() ? -1 : static_cast<int>(it - line.begin());
}

Polyline Slice(const Polyline& line, int from, int to) { return Polyline(line.begin() + from, line.begin() + to + 1); }

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
}

TEST(IgesCurves, DegreeOneSplineKeepsItsCorners) {
    const std::string file = ScratchFile(".igs");
    WriteIgesCurves(file, {MakeBSpline({{0, 0, 0}, {5, 0, 0}, {5, 5, 2}}, {}, {0, 1, 2}, {2, 1, 2}, 1)});
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), 1u);
    EXPECT_EQ(read.lines[0], (Polyline{P(0, 0, 0), P(5, 0, 0), P(5, 5, 2)}));
}

TEST(IgesCurves, CopiousDataFormsBecomePolylines) {
    const std::string file = ScratchFile(".igs");
    const std::vector<gp_XYZ> square = {{0, 0, 9}, {4, 0, 9}, {4, 4, 9}, {0, 4, 9}};
    WriteIges(file, {MakeCopious(1, square, 2.5), MakeCopious(2, {{1, 2, 3}, {1, 2, 3}, {4, 5, 6}}),
                     MakeCopious(11, square, -1.0), MakeCopious(63, square, 0.5),
                     MakeCopious(63, {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}, 0.0)});
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), 5u);
    // Planar forms take their common z, not the point's own.
    EXPECT_EQ(read.lines[0], (Polyline{P(0, 0, 2.5), P(4, 0, 2.5), P(4, 4, 2.5), P(0, 4, 2.5)}));
    EXPECT_EQ(read.lines[1], (Polyline{P(1, 2, 3), P(4, 5, 6)})) << "a repeated point is dropped";
    EXPECT_EQ(read.lines[2].front(), P(0, 0, -1));
    EXPECT_EQ(read.lines[3], (Polyline{P(0, 0, 0.5), P(4, 0, 0.5), P(4, 4, 0.5), P(0, 4, 0.5), P(0, 0, 0.5)}))
        << "a closed path comes back closed";
    EXPECT_EQ(read.lines[4], (Polyline{P(0, 0, 0), P(4, 0, 0), P(0, 4, 0), P(0, 0, 0)})) << "so does a triangle";
}

TEST(IgesCurves, ParametricSplineFollowsItsPolynomials) {
    // Two cubic segments on [0, 1] and [1, 3], joined with matching value and slopes.
    const double coef[3][2][4] = {{{0, 10, 5, 0}, {15, 20, 5, -1}},
                                  {{0, 0, 10, -2}, {8, 14, 4, 0.5}},
                                  {{0, 0, 0, 0}, {0, 0, 3, 0}}};
    const double breaks[3] = {0, 1, 3};
    const auto value = [&](int d, int seg, double s) {
        const double* c = coef[d][seg];
        return c[0] + s * (c[1] + s * (c[2] + s * c[3]));
    };
    const auto at = [&](double t) {
        const int seg = t <= breaks[1] ? 0 : 1;
        return gp_XYZ(value(0, seg, t - breaks[seg]), value(1, seg, t - breaks[seg]), value(2, seg, t - breaks[seg]));
    };
    Handle(TColStd_HArray1OfReal) breakPoints = new TColStd_HArray1OfReal(1, 3);
    for (int i = 0; i < 3; ++i) {
        breakPoints->SetValue(i + 1, breaks[i]);
    }
    Handle(TColStd_HArray2OfReal) polys[3];
    Handle(TColStd_HArray1OfReal) ends[3];
    for (int d = 0; d < 3; ++d) {
        polys[d] = new TColStd_HArray2OfReal(1, 2, 1, 4);
        for (int k = 0; k < 8; ++k) {
            polys[d]->SetValue(k / 4 + 1, k % 4 + 1, coef[d][k / 4][k % 4]);
        }
        // Value, slope, half the second and a sixth of the third derivative at the end.
        const double* c = coef[d][1];
        const double s = 2.0;
        ends[d] = new TColStd_HArray1OfReal(1, 4);
        ends[d]->SetValue(1, value(d, 1, s));
        ends[d]->SetValue(2, c[1] + s * (2 * c[2] + 3 * s * c[3]));
        ends[d]->SetValue(3, c[2] + 3 * s * c[3]);
        ends[d]->SetValue(4, c[3]);
    }
    Handle(IGESGeom_SplineCurve) spline = new IGESGeom_SplineCurve();
    spline->Init(3, 2, 3, breakPoints, polys[0], polys[1], polys[2], ends[0], ends[1], ends[2]);

    const std::string file = ScratchFile(".igs");
    WriteIges(file, {spline});
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), 1u);
    ExpectFollows(read.lines[0], at, 0.0, 3.0);
}

TEST(IgesCurves, CompositeIsOnePolylineAndItsMembersAreNotRepeated) {
    // Line, quarter arc, line; the second copy has its last line written backwards.
    const auto members = [](bool lastReversed) {
        return std::vector<Handle(IGESData_IGESEntity)>{
            MakeLine({0, 0, 0}, {10, 0, 0}), MakeArc(0.0, {10, 5}, {10, 0}, {15, 5}),
            lastReversed ? MakeLine({15, 20, 0}, {15, 5, 0}) : MakeLine({15, 5, 0}, {15, 20, 0})};
    };
    const std::string file = ScratchFile(".igs");
    WriteIges(file, {MakeComposite(members(false)), MakeComposite(members(true))});
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), 2u);
    for (const Polyline& line : read.lines) {
        EXPECT_EQ(line.front(), P(0, 0, 0));
        EXPECT_EQ(line.back(), P(15, 20, 0));
        const int corner = VertexIndex(line, P(10, 0, 0));
        const int arcEnd = VertexIndex(line, P(15, 5, 0));
        ASSERT_EQ(corner, 1);
        ASSERT_EQ(arcEnd, static_cast<int>(line.size()) - 2);
        ExpectFollows(
            Slice(line, corner, arcEnd), [](double t) { return gp_XYZ(10 + 5 * std::cos(t), 5 + 5 * std::sin(t), 0); },
            -kPi / 2, 0.0);
    }
}

TEST(IgesCurves, CurveOnSurfaceGivesItsModelSpaceCurveOnce) {
    Handle(IGESGeom_Plane) plane = new IGESGeom_Plane();
    plane->Init(0, 0, 1, 0, nullptr, gp_XYZ(0, 0, 0), 0);
    Handle(IGESGeom_CurveOnSurface) onSurface = new IGESGeom_CurveOnSurface();
    onSurface->Init(1, plane, nullptr, MakeComposite({MakeLine({0, 0, 0}, {5, 0, 0}), MakeLine({5, 0, 0}, {5, 5, 0})}), 2);

    const std::string file = ScratchFile(".igs");
    WriteIges(file, {onSurface, MakeLine({7, 7, 7}, {8, 8, 8})});
    // The same file from a writer that flags nothing as dependent.
    std::string text = ReadText(file);
    for (std::size_t at = text.find("00010000D"); at != std::string::npos; at = text.find("00010000D", at)) {
        text.replace(at, 8, "00000000");
    }
    const std::string unflagged = ScratchFile("_unflagged.igs");
    WriteText(unflagged, text);

    for (const std::string& path : {file, unflagged}) {
        SCOPED_TRACE(path);
        const LibraryResult read = ReadThroughLibrary(path);
        ASSERT_EQ(read.lines.size(), 2u);
        EXPECT_EQ(read.lines[0], (Polyline{P(0, 0, 0), P(5, 0, 0), P(5, 5, 0)}));
        EXPECT_EQ(read.lines[1], (Polyline{P(7, 7, 7), P(8, 8, 8)}));
    }
}

// --- Transformations -----------------------------------------------------------------------

TEST(IgesTransforms, RigidTransformMovesExactVertices) {
    // A quarter turn about z, then a shift along x.
    const std::array<std::array<double, 4>, 3> turn = {{{0, -1, 0, 10}, {1, 0, 0, 0}, {0, 0, 1, 0}}};
    const std::string file = ScratchFile(".igs");
    WriteIges(file, {Placed(MakeLine({1, 0, 0}, {2, 0, 3}), turn),
                     Placed(MakeCopious(12, {{1, 1, 1}, {2, 1, 1}}), turn)});
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), 2u);
    EXPECT_EQ(read.lines[0], (Polyline{P(10, 1, 0), P(10, 2, 3)}));
    EXPECT_EQ(read.lines[1], (Polyline{P(9, 1, 1), P(9, 2, 1)}));
}

TEST(IgesTransforms, StretchingTransformStillMeetsChordTolerance) {
    // Stretching x by 4 turns the arc into part of an ellipse: a map the toolkit's own
    // geometry cannot hold, and one that enlarges the chords of a sampling done before it.
    const std::array<std::array<double, 4>, 3> stretch = {{{4, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}}};
    const std::string file = ScratchFile(".igs");
    WriteIges(file, {Placed(MakeArc(0.0, {0, 0}, {10, 0}, {-10, 0}), stretch)});
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), 1u);
    const gp_GTrsf place = ToGTrsf(stretch);
    const Handle(Geom_Curve) arc = new Geom_TrimmedCurve(new Geom_Circle(gp_Ax2(gp::Origin(), gp::DZ()), 10), 0, kPi);
    ExpectFollowsCurve(read.lines[0], arc, [&](const gp_XYZ& p) {
        gp_XYZ q = p;
        place.Transforms(q);
        return q;
    });
}

TEST(IgesTransforms, MemberTransformAppliesBeforeCompositeTransform) {
    const std::array<std::array<double, 4>, 3> turn = {{{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}}};
    const std::array<std::array<double, 4>, 3> shift = {{{1, 0, 0, 100}, {0, 1, 0, 0}, {0, 0, 1, 5}}};
    const std::string file = ScratchFile(".igs");
    WriteIges(file, {Placed(MakeComposite({Placed(MakeLine({1, 0, 0}, {2, 0, 0}), turn), MakeLine({0, 2, 0}, {0, 3, 0})}),
                            shift)});
    const LibraryResult read = ReadThroughLibrary(file);
    ASSERT_EQ(read.lines.size(), 1u);
    // Turned first (to (0,1),(0,2)), then shifted; the other way round would give (100,101).
    EXPECT_EQ(read.lines[0], (Polyline{P(100, 1, 5), P(100, 2, 5), P(100, 3, 5)}));
}

// --- Units ---------------------------------------------------------------------------------

TEST(IgesUnits, InchFileComesBackInInchesUnscaled) {
    Handle(IGESGeom_ConicArc) ellipse = new IGESGeom_ConicArc();  // x^2/9 + y^2/4 = 1, upper half
    ellipse->Init(4, 0, 9, 0, 0, -36, 0.25, gp_XY(3, 0), gp_XY(-3, 0));
    const Handle(Geom_BSplineCurve) spline =
        MakeBSpline({{0, 0, 0}, {1, 2, 0}, {3, -1, 1}, {4, 1, 0}}, {}, {0, 1}, {4, 4}, 3);
    GeomToIGES_GeomCurve toIges;
    toIges.SetUnit(1.0);
    const Handle(IGESData_IGESEntity) splineEntity =
        toIges.TransferCurve(spline, spline->FirstParameter(), spline->LastParameter());
    ASSERT_FALSE(splineEntity.IsNull());

    const std::string file = ScratchFile(".igs");
    WriteIges(file, {MakeLine({1, 2, 3}, {4, 5, 6}), MakeArc(0.5, {1, 1}, {3, 1}, {1, 3}), ellipse, splineEntity},
              "IN");
    const LibraryResult read = ReadThroughLibrary(file);
    EXPECT_EQ(read.unit, 1);
    ASSERT_EQ(read.lines.size(), 4u);
    EXPECT_EQ(read.lines[0], (Polyline{P(1, 2, 3), P(4, 5, 6)}));
    ExpectFollows(read.lines[1], [](double t) { return gp_XYZ(1 + 2 * std::cos(t), 1 + 2 * std::sin(t), 0.5); }, 0,
                  kPi / 2);
    ExpectFollows(read.lines[2], [](double t) { return gp_XYZ(3 * std::cos(t), 2 * std::sin(t), 0.25); }, 0, kPi);
    ExpectFollowsCurve(read.lines[3], spline);
}

// --- Limits --------------------------------------------------------------------------------

TEST(IgesLimits, OnlyTheCallersNumberOfCurvesIsHandedOverInFileOrder) {
    const std::string file = ScratchFile(".igs");
    WriteIges(file, {MakeLine({0, 0, 0}, {0, 1, 0}), MakeLine({1, 0, 0}, {1, 1, 0}), MakeLine({2, 0, 0}, {2, 1, 0})});
    testing::internal::CaptureStdout();
    const LibraryResult read = ReadThroughLibrary(file, 2);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(read.buffersIntact);
    EXPECT_EQ(read.lines, (std::vector<Polyline>{{P(0, 0, 0), P(0, 1, 0)}, {P(1, 0, 0), P(1, 1, 0)}}));
    EXPECT_NE(console.find("dropped"), std::string::npos) << console;
}

TEST(IgesLimits, PointLimitKeepsWholeCurvesUpToTheFirstMisfit) {
    const auto zigzag = [](int count, double y) {
        std::vector<gp_XYZ> points;
        for (int i = 0; i < count; ++i) {
            points.push_back({double(i), y + (i % 2), 0});
        }
        return points;
    };
    const int half = kIgesPlaneSize / 2;
    // A second curve of `half` points fills the buffer to its last slot; one point more and it
    // goes, and the short third curve is not pulled forward out of order.
    for (const int second : {half, half + 1}) {
        SCOPED_TRACE(second);
        const std::string file = ScratchFile("_" + std::to_string(second) + ".igs");
        WriteIges(file, {MakeCopious(12, zigzag(half, 0)), MakeCopious(12, zigzag(second, 10)),
                         MakeCopious(12, zigzag(2, 20))});
        testing::internal::CaptureStdout();
        const LibraryResult read = ReadThroughLibrary(file);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("dropped"), std::string::npos);
        EXPECT_TRUE(read.buffersIntact);
        const std::size_t kept = second == half ? 2u : 1u;
        ASSERT_EQ(read.lines.size(), kept);
        ASSERT_EQ(read.lines.back().size(), static_cast<std::size_t>(half));
        EXPECT_EQ(read.lines.back().back(), P(half - 1, 10.0 * (kept - 1) + (half - 1) % 2, 0));
    }
}

// --- Bad input and library state -----------------------------------------------------------

TEST(IgesBadInput, UnreadableFilesGiveNoPolylineAndNoUnit) {
    const std::string empty = ScratchFile("_empty.igs");
    WriteText(empty, "");
    const std::string text = ScratchFile("_text.igs");
    WriteText(text, "this is not an IGES file\n1,2,3;\n");
    const std::string garbled = ScratchFile("_garbled.igs");
    const std::string sample = ReadText(DataFile("sample_curves.igs"));
    // Wreck the parameter section while keeping the record layout.
    std::string wrecked = sample;
    for (std::size_t i = sample.find("126,3,3"); i < wrecked.size(); i += 7) {
        if (wrecked[i] != '\n' && wrecked[i] != '\r') {
            wrecked[i] = 'Q';
        }
    }
    WriteText(garbled, wrecked);
    const std::string truncated = ScratchFile("_truncated.igs");
    WriteText(truncated, sample.substr(0, sample.size() / 2));

    for (const std::string& file : {ScratchFile("_missing.igs"), empty, text, std::string(IGES_TEST_SCRATCH)}) {
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
    for (const std::string& file : {garbled, truncated}) {
        SCOPED_TRACE(file);
        EXPECT_TRUE(ReadThroughLibrary(file).buffersIntact);
    }
}

TEST(IgesBadInput, PolylinesAreHandedOverOnceAndAFailedReadForgetsOldOnes) {
    void* const library = dlopen(IGESDLL_PATH, RTLD_LAZY);
    ASSERT_NE(library, nullptr);
    IgesTranslateProc translate = nullptr;
    IgesOnlyLinProc onlyLin = nullptr;
    void* address = dlsym(library, "igestranslate");
    std::memcpy(&translate, &address, sizeof(translate));
    address = dlsym(library, "getigesonlylin");
    std::memcpy(&onlyLin, &address, sizeof(onlyLin));
    ASSERT_TRUE(translate != nullptr && onlyLin != nullptr);

    std::vector<int> counts(1000);
    std::vector<float> coords(3 * static_cast<std::size_t>(kIgesPlaneSize));
    const std::string good = DataFile("sample_curves.igs");
    const std::string missing = ScratchFile("_missing.igs");
    int status = -1;
    int unit = 2;
    int ten = 10;
    int lines = -1;

    translate(&status, &unit, &ten, good.c_str(), 0, 0);
    onlyLin(&lines, counts.data(), coords.data(), 1000);
    EXPECT_EQ(lines, 10);
    onlyLin(&lines, counts.data(), coords.data(), 1000);
    EXPECT_EQ(lines, 0) << "handed over twice";

    translate(&status, &unit, &ten, good.c_str(), 0, 0);
    translate(&status, &unit, &ten, missing.c_str(), 0, 0);
    onlyLin(&lines, counts.data(), coords.data(), 1000);
    EXPECT_EQ(lines, 0) << "polylines of an earlier file survived a failed read";
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
    for (const gp_XYZ& p : ToXYZs(read.lines[4])) {
        EXPECT_NEAR((p - gp_XYZ(-1.25, 0, 0)).Modulus(), 1.0, 1e-5);
    }
    EXPECT_EQ(read.lines[4].front(), read.lines[4].back());
    EXPECT_EQ(read.lines[5].front(), P(0.75, -0.866025403784438, 0));
    EXPECT_EQ(read.lines[5].back(), P(1.25, 1, 0));
    // The composite's first arc sits under a half turn: it starts at (2, -1) and ends at (-1, -1).
    EXPECT_EQ(read.lines[6].front(), P(2, -1, 0));
    EXPECT_NE(VertexIndex(read.lines[6], P(-1, -1, 0)), -1);
    EXPECT_NE(VertexIndex(read.lines[6], P(1, 1, 0)), -1);
    EXPECT_EQ(read.lines[6].back(), P(-2, 1, 0));
    for (const gp_XYZ& p : ToXYZs(read.lines[7])) {
        EXPECT_NEAR(p.X() * p.X() / 9 + (p.Y() - 3) * (p.Y() - 3) / 4, 1.0, 1e-5);
    }
    EXPECT_EQ(read.lines[8], (Polyline{P(3, 0, 1), P(2, 1, -1), P(2, 2, 0), P(0, 3, 1), P(-1, 2, 0)}));
    EXPECT_EQ(read.lines[9], (Polyline{P(8, 0, 1), P(7, 1, -1), P(7, 2, 0), P(5, 3, 1), P(4, 2, 0)}));
}

TEST(IgesThirdParty, GroupedCurvesFromAnotherWriterAreRead) {
    const LibraryResult read = ReadThroughLibrary(DataFile("example-arcs.iges"));
    EXPECT_EQ(read.unit, 2);
    ASSERT_EQ(read.lines.size(), 3u);
    // The arc's centre moves with its matrix from the origin to (-63.253315, 36.654861).
    const gp_XYZ center(-63.253315, 36.654861, 0);
    const double radius = std::hypot(19.804426036, -115.997282021);
    for (const gp_XYZ& p : ToXYZs(read.lines[0])) {
        EXPECT_NEAR((p - center).Modulus(), radius, 1e-4);
    }
    EXPECT_EQ(read.lines[0].front(), P(19.804426036 - 63.253315, -115.997282021 + 36.654861, 0));
    EXPECT_EQ(read.lines[1].front(), read.lines[1].back()) << "the closed B-spline stays closed";
}

TEST(IgesThirdParty, SurfaceBoundariesOfASolidAreNotTrimCurves) {
    const LibraryResult read = ReadThroughLibrary(DataFile("rounded_cube.igs"));
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.unit, 2);
    EXPECT_TRUE(read.lines.empty());
}
