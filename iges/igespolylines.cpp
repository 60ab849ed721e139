#include "igespolylines.h"

#include <GCPnts_TangentialDeflection.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Curve.hxx>
#include <Geom_Line.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <GeomAdaptor_Curve.hxx>
#include <IGESControl_Reader.hxx>
#include <IGESData_GlobalSection.hxx>
#include <IGESData_IGESEntity.hxx>
#include <IGESData_IGESModel.hxx>
#include <IGESGeom_BSplineCurve.hxx>
#include <IGESGeom_CircularArc.hxx>
#include <IGESGeom_CompositeCurve.hxx>
#include <IGESGeom_ConicArc.hxx>
#include <IGESGeom_CopiousData.hxx>
#include <IGESGeom_CurveOnSurface.hxx>
#include <IGESGeom_Line.hxx>
#include <IGESGeom_SplineCurve.hxx>
#include <IGESToBRep_BasicCurve.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Precision.hxx>
#include <Standard_Failure.hxx>
#include <Transfer_TransientProcess.hxx>
#include <gp_GTrsf.hxx>
#include <gp_Mat.hxx>
#include <gp_XYZ.hxx>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace igesdll {
namespace {

using Points = std::vector<gp_XYZ>;

enum IgesType : int {
    kCircularArc = 100,
    kCompositeCurve = 102,
    kConicArc = 104,
    kCopiousData = 106,
    kLine = 110,
    kSplineCurve = 112,
    kBSplineCurve = 126,
    kCurveOnSurface = 142,
};

// A composite inside a curve on a surface inside ... is legal; a cycle in a broken file is not.
constexpr int kMaxNesting = 16;
// Interior parameters at which a chord is checked against the curve.
constexpr int kChordProbes = 8;
// Bisections of one span before its chord is accepted as it is.
constexpr int kMaxBisections = 24;
// A curve sampled into more points than this cannot be handed over anyway: stop refining it.
constexpr std::size_t kSampleBudget = 1000000;
// Angle between neighbouring tangents of the first sampling; the chord check does the rest.
constexpr double kAngularDeflection = 0.2;
// Members of a composite that meet within this are joined end to start.
constexpr double kJoinTolerance = kChordTolerance;

// The toolkit reports on the process's console by default; the program's console is its own.
void SilenceToolkit() { Message::DefaultMessenger()->ChangePrinters().Clear(); }

// The toolkit's file reader trusts the layout of the fixed-format sections: a parameter line met
// before the directory entry it points to sends it through a null pointer. Such a file is refused
// here. The section letter is in column 73; Start, Global, Directory, Parameter, Terminate must
// come in this order, and a parameter line must point to a directory entry above it.
bool SectionsInOrder(const char* file) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    int section = 0;
    long directoryLines = 0;
    while (std::getline(in, line)) {
        if (line.size() < 73) {
            continue;
        }
        const std::size_t order = std::string_view("SGDPT").find(line[72]);
        if (order == std::string_view::npos) {
            continue;
        }
        if (static_cast<int>(order) < section) {
            return false;
        }
        section = static_cast<int>(order);
        if (line[72] == 'D') {
            ++directoryLines;
        } else if (line[72] == 'P') {
            const std::string field = line.substr(64, 8);
            char* end = nullptr;
            const long entry = std::strtol(field.c_str(), &end, 10);
            if (end == field.c_str() || entry < 1 || entry % 2 == 0 || entry > directoryLines) {
                return false;
            }
        }
    }
    return true;
}

// The model lives only as long as the reader's session: the session clears it on destruction.
Handle(IGESData_IGESModel) LoadModel(IGESControl_Reader& reader, const char* file) {
    if (file == nullptr || *file == '\0') {
        return {};
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error) || std::filesystem::file_size(file, error) == 0 ||
        error || !SectionsInOrder(file)) {
        return {};
    }
    if (reader.ReadFile(file) != IFSelect_RetDone) {
        return {};
    }
    Handle(IGESData_IGESModel) model = reader.IGESModel();
    if (model.IsNull() || model->NbEntities() == 0) {
        return {};
    }
    return model;
}

void AppendPoint(Points& line, const gp_XYZ& point) {
    if (!line.empty() && (line.back() - point).Modulus() < kPointMergeDistance) {
        return;
    }
    line.push_back(point);
}

// Largest factor by which the map stretches a length: the row sums of |M^T M| bound its largest
// eigenvalue, and are exact for rotations.
double MaxStretch(const gp_GTrsf& place) {
    const gp_Mat& m = place.VectorialPart();
    double bound = 0.0;
    for (int i = 1; i <= 3; ++i) {
        double rowSum = 0.0;
        for (int j = 1; j <= 3; ++j) {
            double dot = 0.0;
            for (int k = 1; k <= 3; ++k) {
                dot += m(k, i) * m(k, j);
            }
            rowSum += std::abs(dot);
        }
        bound = std::max(bound, rowSum);
    }
    return std::sqrt(bound);
}

double SegmentDistance(const gp_XYZ& point, const gp_XYZ& start, const gp_XYZ& end) {
    const gp_XYZ along = end - start;
    const double lengthSquared = along.SquareModulus();
    double t = 0.0;
    if (lengthSquared > 0.0) {
        t = std::clamp((point - start).Dot(along) / lengthSquared, 0.0, 1.0);
    }
    return (point - (start + along * t)).Modulus();
}

// Appends the points after `p0` up to `p1`, bisecting the span until its chord is within the
// tolerance at every probe.
void RefineSpan(const GeomAdaptor_Curve& curve, double t0, double t1, const gp_XYZ& p0, const gp_XYZ& p1,
                double tolerance, int depth, Points& out) {
    bool chordFits = true;
    for (int k = 1; k < kChordProbes && chordFits; ++k) {
        const double t = t0 + (t1 - t0) * k / kChordProbes;
        chordFits = SegmentDistance(curve.Value(t).XYZ(), p0, p1) <= tolerance;
    }
    if (chordFits || depth >= kMaxBisections || out.size() > kSampleBudget) {
        out.push_back(p1);
        return;
    }
    const double tm = 0.5 * (t0 + t1);
    const gp_XYZ pm = curve.Value(tm).XYZ();
    RefineSpan(curve, t0, tm, p0, pm, tolerance, depth + 1, out);
    RefineSpan(curve, tm, t1, pm, p1, tolerance, depth + 1, out);
}

Handle(Geom_Curve) Basis(const Handle(Geom_Curve)& curve) {
    Handle(Geom_Curve) basis = curve;
    while (auto trimmed = Handle(Geom_TrimmedCurve)::DownCast(basis)) {
        basis = trimmed->BasisCurve();
    }
    return basis;
}

// Straight pieces keep their exact vertices; anything curved is sampled by chord deviation.
Points SampleCurve(const Handle(Geom_Curve)& curve, double tolerance) {
    Points out;
    const double first = curve->FirstParameter();
    const double last = curve->LastParameter();
    if (Precision::IsInfinite(first) || Precision::IsInfinite(last) || !(first < last)) {
        return out;
    }
    const Handle(Geom_Curve) basis = Basis(curve);
    if (basis->IsKind(STANDARD_TYPE(Geom_Line))) {
        out.push_back(curve->Value(first).XYZ());
        out.push_back(curve->Value(last).XYZ());
        return out;
    }
    if (const auto spline = Handle(Geom_BSplineCurve)::DownCast(basis); !spline.IsNull() && spline->Degree() == 1) {
        out.push_back(curve->Value(first).XYZ());
        for (int i = 1; i <= spline->NbKnots(); ++i) {
            const double knot = spline->Knot(i);
            if (knot > first && knot < last) {
                out.push_back(spline->Value(knot).XYZ());
            }
        }
        out.push_back(curve->Value(last).XYZ());
        return out;
    }

    const GeomAdaptor_Curve adaptor(curve, first, last);
    const GCPnts_TangentialDeflection seed(adaptor, first, last, kAngularDeflection, 0.5 * tolerance);
    std::vector<double> params;
    for (int i = 1; i <= seed.NbPoints(); ++i) {
        params.push_back(seed.Parameter(i));
    }
    params.front() = first;
    params.back() = last;
    if (params.size() < 2) {
        params = {first, last};
    }
    gp_XYZ previous = adaptor.Value(first).XYZ();
    out.push_back(previous);
    for (std::size_t i = 1; i < params.size(); ++i) {
        const gp_XYZ next = adaptor.Value(params[i]).XYZ();
        RefineSpan(adaptor, params[i - 1], params[i], previous, next, tolerance, 0, out);
        previous = next;
    }
    return out;
}

bool IsPolylineForm(int form) {
    // Point sets, polylines (with or without vectors) and the closed planar path; the other
    // forms are drafting annotation (centre lines, section and witness lines).
    switch (form) {
        case 1: case 2: case 3: case 11: case 12: case 13: case 63: return true;
        default: return false;
    }
}

bool IsTranslatedCurve(const Handle(IGESData_IGESEntity)& entity) {
    switch (entity->TypeNumber()) {
        case kCircularArc: case kCompositeCurve: case kConicArc: case kLine: case kSplineCurve:
        case kBSplineCurve: case kCurveOnSurface:
            return true;
        case kCopiousData:
            return IsPolylineForm(entity->FormNumber());
        default:
            return false;
    }
}

// Turns curve entities into points in model space. The toolkit's curve converter is used
// without a model so that it never applies a unit factor: coordinates stay in file units.
class CurveConverter {
public:
    CurveConverter() {
        m_tool.SetTransferProcess(new Transfer_TransientProcess());
        // Placing is done here, once for a whole chain of members; the converter must not.
        m_tool.SetModeTransfer(Standard_True);
    }

    // Appends the points of `entity`, placed by its own transformation and then by `outer`.
    void Append(const Handle(IGESData_IGESEntity)& entity, const gp_GTrsf& outer, int depth, Points& out) {
        if (entity.IsNull() || depth > kMaxNesting) {
            return;
        }
        const gp_GTrsf place = outer.Multiplied(entity->CompoundLocation());
        switch (entity->TypeNumber()) {
            case kLine: AppendLine(Handle(IGESGeom_Line)::DownCast(entity), place, out); break;
            case kCopiousData: AppendCopious(Handle(IGESGeom_CopiousData)::DownCast(entity), place, out); break;
            case kCompositeCurve:
                AppendComposite(Handle(IGESGeom_CompositeCurve)::DownCast(entity), place, depth, out);
                break;
            case kCurveOnSurface:
                // The model-space curve is what a trim follows; the parameter-space one is not.
                if (const auto onSurface = Handle(IGESGeom_CurveOnSurface)::DownCast(entity); !onSurface.IsNull()) {
                    Append(onSurface->Curve3D(), place, depth + 1, out);
                }
                break;
            default: AppendSampled(ToGeomCurve(entity), place, out); break;
        }
    }

private:
    Handle(Geom_Curve) ToGeomCurve(const Handle(IGESData_IGESEntity)& entity) {
        if (const auto arc = Handle(IGESGeom_CircularArc)::DownCast(entity); !arc.IsNull()) {
            return m_tool.TransferCircularArc(arc);
        }
        if (const auto conic = Handle(IGESGeom_ConicArc)::DownCast(entity); !conic.IsNull()) {
            return m_tool.TransferConicArc(conic);
        }
        if (const auto spline = Handle(IGESGeom_SplineCurve)::DownCast(entity); !spline.IsNull()) {
            return m_tool.TransferSplineCurve(spline);
        }
        if (const auto bspline = Handle(IGESGeom_BSplineCurve)::DownCast(entity); !bspline.IsNull()) {
            return m_tool.TransferBSplineCurve(bspline);
        }
        return {};
    }

    static void AppendPlaced(const gp_XYZ& point, const gp_GTrsf& place, Points& out) {
        gp_XYZ placed = point;
        place.Transforms(placed);
        AppendPoint(out, placed);
    }

    static void AppendLine(const Handle(IGESGeom_Line)& line, const gp_GTrsf& place, Points& out) {
        if (line.IsNull()) {
            return;
        }
        AppendPlaced(line->StartPoint().XYZ(), place, out);
        AppendPlaced(line->EndPoint().XYZ(), place, out);
    }

    static void AppendCopious(const Handle(IGESGeom_CopiousData)& data, const gp_GTrsf& place, Points& out) {
        if (data.IsNull()) {
            return;
        }
        const std::size_t start = out.size();
        for (int i = 1; i <= data->NbPoints(); ++i) {
            AppendPlaced(data->Point(i).XYZ(), place, out);
        }
        // A closed path may leave its closing point implicit; a trim along it must not stay open.
        if (data->IsClosedPath2D() && out.size() - start >= 3) {
            AppendPoint(out, out[start]);
        }
    }

    void AppendComposite(const Handle(IGESGeom_CompositeCurve)& composite, const gp_GTrsf& place, int depth,
                         Points& out) {
        if (composite.IsNull()) {
            return;
        }
        for (int i = 1; i <= composite->NbCurves(); ++i) {
            Points member;
            try {
                Append(composite->Curve(i), place, depth + 1, member);
            } catch (const Standard_Failure&) {
                continue;
            }
            if (member.empty()) {
                continue;
            }
            // Members should run end to start; one written backwards is turned round rather
            // than leaving a jump back and forth in the polyline.
            if (!out.empty() && (out.back() - member.front()).Modulus() > kJoinTolerance &&
                (out.back() - member.back()).Modulus() <= kJoinTolerance) {
                std::reverse(member.begin(), member.end());
            }
            for (const gp_XYZ& point : member) {
                AppendPoint(out, point);
            }
        }
    }

    static void AppendSampled(const Handle(Geom_Curve)& curve, const gp_GTrsf& place, Points& out) {
        if (curve.IsNull()) {
            return;
        }
        // Sampling happens before placing, so a placement that enlarges must tighten the chord.
        const double tolerance = kChordTolerance / std::max(1.0, MaxStretch(place));
        for (const gp_XYZ& point : SampleCurve(curve, tolerance)) {
            AppendPlaced(point, place, out);
        }
    }

    IGESToBRep_BasicCurve m_tool;
};

// Physically dependent entities belong to another one. Members of composites and the curves of
// curves on surfaces are treated so even when a writer forgot to flag them.
std::vector<bool> FindDependentCurves(const Handle(IGESData_IGESModel)& model) {
    const int count = model->NbEntities();
    std::vector<bool> dependent(static_cast<std::size_t>(count) + 1, false);
    const auto mark = [&](const Handle(IGESData_IGESEntity)& part) {
        if (!part.IsNull()) {
            dependent[static_cast<std::size_t>(model->Number(part))] = true;
        }
    };
    for (int i = 1; i <= count; ++i) {
        const Handle(IGESData_IGESEntity) entity = model->Entity(i);
        if (entity.IsNull()) {
            continue;
        }
        if (entity->SubordinateStatus() == 1 || entity->SubordinateStatus() == 3) {
            dependent[static_cast<std::size_t>(i)] = true;
        }
        if (const auto composite = Handle(IGESGeom_CompositeCurve)::DownCast(entity); !composite.IsNull()) {
            for (int k = 1; k <= composite->NbCurves(); ++k) {
                mark(composite->Curve(k));
            }
        } else if (const auto onSurface = Handle(IGESGeom_CurveOnSurface)::DownCast(entity); !onSurface.IsNull()) {
            mark(onSurface->CurveUV());
            mark(onSurface->Curve3D());
        }
    }
    // Number() gives 0 for an entity outside the model; that slot means nothing.
    dependent[0] = false;
    return dependent;
}

IgesPolyline ToPolyline(const Points& points) {
    IgesPolyline line;
    line.reserve(points.size());
    for (const gp_XYZ& p : points) {
        line.push_back({p.X(), p.Y(), p.Z()});
    }
    return line;
}

}  // namespace

IgesReadResult ReadIgesPolylines(const char* file) {
    IgesReadResult result;
    try {
        SilenceToolkit();
        IGESControl_Reader reader;
        const Handle(IGESData_IGESModel) model = LoadModel(reader, file);
        if (model.IsNull()) {
            return result;
        }
        result.readable = true;
        const std::vector<bool> dependent = FindDependentCurves(model);
        CurveConverter converter;
        for (int i = 1; i <= model->NbEntities(); ++i) {
            const Handle(IGESData_IGESEntity) entity = model->Entity(i);
            if (entity.IsNull() || dependent[static_cast<std::size_t>(i)] || !IsTranslatedCurve(entity)) {
                continue;
            }
            Points points;
            try {
                converter.Append(entity, gp_GTrsf(), 0, points);
            } catch (const Standard_Failure&) {
                // One curve the toolkit cannot convert must not cost the others.
                continue;
            }
            // A closed curve comes back closed to the bit, whatever the rounding of its end.
            if (points.size() >= 3 && (points.back() - points.front()).Modulus() < kPointMergeDistance) {
                points.back() = points.front();
            }
            if (points.size() >= 2) {
                result.lines.push_back(ToPolyline(points));
            }
        }
    } catch (...) {
        result = IgesReadResult();
    }
    return result;
}

int ReadIgesUnitFlag(const char* file) {
    try {
        SilenceToolkit();
        IGESControl_Reader reader;
        const Handle(IGESData_IGESModel) model = LoadModel(reader, file);
        return model.IsNull() ? 0 : model->GlobalSection().UnitFlag();
    } catch (...) {
        return 0;
    }
}

}  // namespace igesdll
