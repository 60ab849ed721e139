// corvex_igeswrite: writes small IGES files of trim and lance curves (circles, arcs,
// polylines, interpolated splines) for the examples and tests of corvexandrilo.
//
// The curves come from the command line or from text files in one word syntax, so a
// script can describe a cut in the same words it would type by hand.

#include <GeomAPI_Interpolate.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <IGESData_GlobalSection.hxx>
#include <IGESData_IGESModel.hxx>
#include <IGESGeom_CopiousData.hxx>
#include <Standard_Failure.hxx>
#include <TCollection_HAsciiString.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <gp_Ax2.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Points closer than this are one point: a spline or polyline cannot run through both.
constexpr double kSamePoint = 1e-6;

const char* const kHelp =
    "usage: corvex_igeswrite -o FILE.igs [CURVE ...] [-f CURVEFILE ...]\n"
    "Writes the curves, in the order given, into one IGES file in millimetres.\n"
    "\n"
    "Curves (lengths in mm, angles in degrees):\n"
    "  circle   CX CY CZ R AX AY AZ         full circle: centre, radius, axis\n"
    "  arc      CX CY CZ R AX AY AZ A1 A2   arc of that circle from angle A1 to A2, turning\n"
    "                                       anticlockwise about the axis; angle 0 points along x\n"
    "                                       projected into the circle's plane (along y when the\n"
    "                                       axis is x)\n"
    "  polyline X1 Y1 Z1 X2 Y2 Z2 ...       straight segments through two or more points\n"
    "  spline   X1 Y1 Z1 X2 Y2 Z2 ...       cubic B-spline through two or more points; closed\n"
    "                                       and smooth when the last point repeats the first\n"
    "\n"
    "A curve file holds the same words, over as many lines as wished; '#' starts a comment\n"
    "that runs to the end of its line. Command-line curves and curve files may be mixed.\n"
    "\n"
    "  -o FILE, --output FILE  the IGES file to write (its name must end in .igs or .iges)\n"
    "  -f FILE, --file FILE    read curves from a text file\n"
    "  --help, -h              this text\n"
    "\n"
    "Example: a circle of radius 40 around the z axis at z = -12, and a bent lance line:\n"
    "  corvex_igeswrite -o cut.igs circle 0 0 -12 40 0 0 1 polyline 0 0 0 10 0 0 10 5 0\n"
    "The same from a file cut.txt:\n"
    "  circle   0 0 -12  40  0 0 1     # around the wall\n"
    "  polyline 0 0 0   10 0 0   10 5 0\n";

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "corvex_igeswrite: %s\n(--help shows the syntax)\n", problem.c_str());
    std::exit(2);
}

// One word of the curve text and where it came from, for messages.
struct Word {
    std::string text;
    std::string where;
};

bool IsCurveName(const std::string& text)
{
    return text == "circle" || text == "arc" || text == "polyline" || text == "spline";
}

void SplitInto(const std::string& text, const std::string& where, std::vector<Word>& words)
{
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back({word, where});
}

void ReadCurveFile(const std::string& path, std::vector<Word>& words)
{
    std::ifstream in(path);
    if (!in)
        Usage("cannot read the curve file " + path);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        SplitInto(line, path + " line " + std::to_string(number), words);
    }
}

double Number(const Word& word)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(word.text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(value))
        Usage(word.where + ": '" + word.text + "' is not a number");
    return value;
}

struct Curve {
    std::string kind;
    std::string where;
    std::vector<double> values;
};

// Groups the words into curves: every curve name starts one, numbers follow it.
std::vector<Curve> GroupCurves(const std::vector<Word>& words)
{
    std::vector<Curve> curves;
    for (const Word& word : words) {
        if (IsCurveName(word.text)) {
            curves.push_back({word.text, word.where, {}});
        } else if (curves.empty()) {
            Usage(word.where + ": '" + word.text + "' is no curve name (circle, arc, polyline, spline)");
        } else {
            curves.back().values.push_back(Number(word));
        }
    }
    return curves;
}

std::string Describe(const Curve& curve) { return curve.where + ": " + curve.kind; }

gp_Pnt PointAt(const std::vector<double>& v, std::size_t first) { return {v[first], v[first + 1], v[first + 2]}; }

// The circle's frame: its x direction fixes where angle 0 lies.
gp_Ax2 CircleFrame(const Curve& curve)
{
    const std::vector<double>& v = curve.values;
    const gp_Vec axis(v[4], v[5], v[6]);
    if (axis.Magnitude() < kSamePoint)
        Usage(Describe(curve) + " needs an axis of non-zero length");
    if (!(v[3] > 0.0))
        Usage(Describe(curve) + " needs a positive radius");
    const gp_Vec normal = axis.Normalized();
    gp_Vec zero = gp_Vec(1, 0, 0) - normal * normal.X();
    if (zero.Magnitude() < 1e-9)
        zero = gp_Vec(0, 1, 0) - normal * normal.Y();
    return gp_Ax2(PointAt(v, 0), gp_Dir(normal), gp_Dir(zero));
}

void ExpectCount(const Curve& curve, std::size_t count, const char* layout)
{
    if (curve.values.size() != count)
        Usage(Describe(curve) + " wants " + std::to_string(count) + " numbers (" + layout + "), got " +
              std::to_string(curve.values.size()));
}

std::vector<gp_Pnt> Points(const Curve& curve)
{
    const std::vector<double>& v = curve.values;
    if (v.size() % 3 != 0 || v.size() < 6)
        Usage(Describe(curve) + " wants two or more points of three coordinates each, got " +
              std::to_string(v.size()) + " numbers");
    std::vector<gp_Pnt> points;
    for (std::size_t k = 0; k < v.size(); k += 3) {
        const gp_Pnt p = PointAt(v, k);
        if (!points.empty() && p.Distance(points.back()) < kSamePoint)
            Usage(Describe(curve) + ": point " + std::to_string(k / 3 + 1) + " repeats the point before it");
        points.push_back(p);
    }
    return points;
}

void AddCircle(const Curve& curve, IGESControl_Writer& writer)
{
    ExpectCount(curve, 7, "CX CY CZ R AX AY AZ");
    if (!writer.AddGeom(new Geom_Circle(CircleFrame(curve), curve.values[3])))
        throw Standard_Failure("the writer refused a circle");
}

void AddArc(const Curve& curve, IGESControl_Writer& writer)
{
    ExpectCount(curve, 9, "CX CY CZ R AX AY AZ A1 A2");
    const double first = curve.values[7];
    double span = std::fmod(curve.values[8] - first, 360.0);
    if (span < 0.0)
        span += 360.0;
    if (span < 1e-9 || span > 360.0 - 1e-9)
        Usage(Describe(curve) + " from " + std::to_string(first) + " to " + std::to_string(curve.values[8]) +
              " degrees spans no arc (a full turn is a circle)");
    const Handle(Geom_Circle) circle = new Geom_Circle(CircleFrame(curve), curve.values[3]);
    const double a1 = first * kPi / 180.0;
    if (!writer.AddGeom(new Geom_TrimmedCurve(circle, a1, a1 + span * kPi / 180.0)))
        throw Standard_Failure("the writer refused an arc");
}

// A 3D polyline entity: the reader takes its points as they are, with no sampling.
void AddPolyline(const Curve& curve, IGESControl_Writer& writer)
{
    const std::vector<gp_Pnt> points = Points(curve);
    Handle(TColStd_HArray1OfReal) data = new TColStd_HArray1OfReal(1, static_cast<int>(3 * points.size()));
    int k = 1;
    for (const gp_Pnt& p : points) {
        data->SetValue(k++, p.X());
        data->SetValue(k++, p.Y());
        data->SetValue(k++, p.Z());
    }
    Handle(IGESGeom_CopiousData) polyline = new IGESGeom_CopiousData();
    polyline->Init(2, 0.0, data);
    polyline->SetPolyline(Standard_True);
    if (!writer.AddEntity(polyline))
        throw Standard_Failure("the writer refused a polyline");
}

void AddSpline(const Curve& curve, IGESControl_Writer& writer)
{
    std::vector<gp_Pnt> points = Points(curve);
    const bool closed = points.size() > 2 && points.front().Distance(points.back()) < kSamePoint;
    if (closed)
        points.pop_back();
    if (closed && points.size() < 3)
        Usage(Describe(curve) + " closed needs three or more distinct points");
    Handle(TColgp_HArray1OfPnt) through = new TColgp_HArray1OfPnt(1, static_cast<int>(points.size()));
    for (std::size_t k = 0; k < points.size(); ++k)
        through->SetValue(static_cast<int>(k) + 1, points[k]);
    GeomAPI_Interpolate interpolate(through, closed ? Standard_True : Standard_False, kSamePoint);
    interpolate.Perform();
    if (!interpolate.IsDone())
        Usage(Describe(curve) + ": no spline runs through these points");
    if (!writer.AddGeom(interpolate.Curve()))
        throw Standard_Failure("the writer refused a spline");
}

// The writer stamps the file with the clock, the user and a placeholder name; the examples
// are committed and regenerated, so the same curves must give the same bytes anywhere.
void FixHeader(IGESControl_Writer& writer, const std::string& output)
{
    const std::size_t slash = output.find_last_of('/');
    const std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
    IGESData_GlobalSection& header = writer.Model()->ChangeGlobalSection();
    header.SetFileName(new TCollection_HAsciiString(name.c_str()));
    header.SetDate(new TCollection_HAsciiString("20000101.000000"));
    header.SetLastChangeDate(new TCollection_HAsciiString("20000101.000000"));
    header.SetAuthorName(new TCollection_HAsciiString("corvex_igeswrite"));
    header.SetCompanyName(new TCollection_HAsciiString(""));
}

bool EndsWithIgesExtension(const std::string& path)
{
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "igs" || extension == "iges";
}

}  // namespace

int main(int argc, char** argv)
{
    std::string output;
    std::vector<Word> words;
    for (int k = 1; k < argc; ++k) {
        const std::string argument = argv[k];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        const bool takesValue = argument == "-o" || argument == "--output" || argument == "-f" || argument == "--file";
        if (takesValue) {
            if (k + 1 >= argc)
                Usage(argument + " wants a file name");
            const std::string value = argv[++k];
            if (argument == "-o" || argument == "--output")
                output = value;
            else
                ReadCurveFile(value, words);
        } else if (argument.size() > 1 && argument[0] == '-' && !std::isdigit(static_cast<unsigned char>(argument[1])) &&
                   argument[1] != '.') {
            Usage("unknown option " + argument);
        } else {
            SplitInto(argument, "argument " + std::to_string(k), words);
        }
    }
    if (output.empty())
        Usage("no output file given (-o FILE.igs)");
    // The program reads trim curves only from files named so.
    if (!EndsWithIgesExtension(output))
        Usage("the output file " + output + " must end in .igs or .iges");
    const std::vector<Curve> curves = GroupCurves(words);
    if (curves.empty())
        Usage("no curve given");

    try {
        IGESControl_Controller::Init();
        IGESControl_Writer writer("MM", 0);
        for (const Curve& curve : curves) {
            if (curve.kind == "circle")
                AddCircle(curve, writer);
            else if (curve.kind == "arc")
                AddArc(curve, writer);
            else if (curve.kind == "polyline")
                AddPolyline(curve, writer);
            else
                AddSpline(curve, writer);
        }
        writer.ComputeModel();
        FixHeader(writer, output);
        if (!writer.Write(output.c_str())) {
            std::fprintf(stderr, "corvex_igeswrite: cannot write %s\n", output.c_str());
            return 1;
        }
    } catch (const Standard_Failure& failure) {
        std::fprintf(stderr, "corvex_igeswrite: %s\n", failure.GetMessageString());
        return 1;
    }
    return 0;
}
