#include "qdsfile_deck.h"

#include "qdsfile_deck_fields.h"

#include "qdsdatabase.h"
#include "qdsfile_state.h"
#include "qdsfile_transform.h"
#include "qdsmessage.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

using namespace csdeck;

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kFrameAngleTol = 1e-6;
constexpr int kJobNameChars = 80;
constexpr int kJobNameStep = 20;

// The job name of "*KEYWORD_ID": the words joined with '_', a word that runs
// over a 20-character bound cut there.
CsString JobName(const CsString& line)
{
    const std::string text = line.str().substr(0, static_cast<size_t>(std::min(line.GetLength(), kJobNameChars)));
    std::string name;
    size_t bound = 0;
    size_t i = 0;
    const auto append = [&name](const std::string& piece) {
        if (!name.empty()) name += '_';
        name += piece;
    };
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) ++i;
        if (i == start) break;
        bound += kJobNameStep;
        if (start < bound && i > bound) {
            append(text.substr(start, bound - start));
            size_t rest = bound;
            while (rest < i) {
                const size_t piece = std::min(static_cast<size_t>(kJobNameStep), i - rest);
                append(text.substr(rest, piece));
                rest += piece;
                bound += kJobNameStep;
            }
        } else {
            append(text.substr(start, i - start));
        }
    }
    return CsString(name);
}

// ---------------------------------------------------------------- card readers

bool ReadElementTrim(CsTextFile& file, int& setId)
{
    CsString line;
    if (!NextDataLine(file, line)) return false;
    return LeadingInt(line, setId) && setId >= 1;
}

bool ReadAdaptiveCurve(CsTextFile& file, CsCtrlAdp& adp)
{
    CsString line;
    do {
        if (!NextDataLine(file, line)) return false;
    } while (FirstChar(line) == '\0');
    double v[5] = {};
    if (ScanValues(line, "dddfd", v) != 5) return false;
    adp.refine = static_cast<int>(v[0]);
    adp.value2 = static_cast<int>(v[1]);
    adp.level = static_cast<int>(v[2]);
    adp.minLength = v[3];
    adp.closed = static_cast<int>(v[4]);
    return true;
}

// Part ids run left to right until a value below 1 or a word that is no
// number; a list longer than one line goes on in the card's further lines.
// The largest id must leave room for one more: new parts are numbered after it.
bool ReadPartSet(CsTextFile& file, PartSet& set)
{
    CsString line;
    if (!NextDataLine(file, line)) return false;
    int id = 0;
    if (!LeadingInt(line, id) || id < 1) return false;
    set = PartSet();
    set.setId = id;
    bool anyLine = false;
    while (NextDataLine(file, line)) {
        anyLine = true;
        for (const std::string& word : Values(line)) {
            int part = 0;
            if (!ParseInt(word, part) || part < 1 || part == INT_MAX) break;
            set.parts.push_back(part);
        }
    }
    return anyLine;
}

// A part card may start with its title line; the ids are then on the next.
bool ReadPart(CsTextFile& file, KeyPart& part)
{
    CsString line;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!NextDataLine(file, line)) return false;
        double v[2] = {};
        if (ScanValues(line, "dd", v) == 2) {
            part.partId = static_cast<int>(v[0]);
            part.sectId = static_cast<int>(v[1]);
            return true;
        }
    }
    return false;
}

bool ReadSectionShell(CsTextFile& file, KeySect& sect)
{
    CsString line;
    if (!NextDataLine(file, line)) return false;
    if (!LeadingInt(line, sect.sectId) || sect.sectId < 1) return false;
    if (!NextDataLine(file, line)) return false;
    const std::vector<std::string> values = Values(line);
    return !values.empty() && ParseReal(values.front(), sect.thick);
}

bool ReadAnneal(CsTextFile& file, CsAnneal& anneal)
{
    CsString line;
    if (!NextDataLine(file, line)) return false;
    double v[2] = {};
    if (ScanValues(line, "df", v) != 2) return false;
    // The card gives the share of stress to remove; the record keeps the share to keep.
    anneal = CsAnneal(static_cast<int>(v[0]), 1.0f - static_cast<float>(v[1]));
    return true;
}

bool ReadVector(CsTextFile& file, KeyVect& vect)
{
    CsString line;
    if (!NextDataLine(file, line)) return false;
    double v[7] = {};
    if (ScanValues(line, "dffffff", v) != 7) return false;
    vect = KeyVect();
    vect.id = static_cast<int>(v[0]);
    if (HasComma(line)) IntField(line, 8, vect.cid);
    else if (line.GetLength() > 74) IntFromColumn(line, 75, vect.cid);
    const gmPnt3D tail(v[1], v[2], v[3]);
    const gmVec3D dir = gmPnt3D(v[4], v[5], v[6]) - tail;
    const double length = dir.Length();
    if (!(length > 0.0)) return false;
    vect.tail = tail;
    vect.dir = dir / length;
    return true;
}

// One "*NODE" row: fixed columns (8, 16, 16, 16, 8, 8), or free format.
bool ParseNodeRow(const CsString& line, int& id, double xyz[3], int& tc, int& rc, bool& codes)
{
    codes = false;
    tc = rc = 0;
    std::vector<std::string> words;
    const std::string& text = line.str();
    const auto column = [&text](size_t first, size_t width) {
        return first < text.size() ? std::string_view(text).substr(first, width) : std::string_view();
    };
    if (!HasComma(line) && ParseInt(column(0, 8), id)) {
        static constexpr size_t kCoordColumn[3] = {8, 24, 40};
        for (int k = 0; k < 3; ++k) {
            const std::string_view field = column(kCoordColumn[k], 16);
            xyz[k] = 0.0;
            if (!Trim(field).empty() && !ParseReal(field, xyz[k])) return false;
        }
        if (line.GetLength() > 63) {
            codes = true;
            if (!Trim(column(56, 8)).empty() && !ParseCode(column(56, 8), tc)) return false;
            if (!Trim(column(64, 8)).empty() && !ParseCode(column(64, 8), rc)) return false;
        }
        return true;
    }
    // Free format: commas, or words that do not fit the columns.
    words = Values(line);
    if (words.empty() || !ParseInt(words[0], id)) return false;
    for (int k = 0; k < 3; ++k) {
        xyz[k] = 0.0;
        if (static_cast<size_t>(k) + 1 < words.size() && !ParseReal(words[static_cast<size_t>(k) + 1], xyz[k])) return false;
    }
    if (words.size() > 4) {
        codes = true;
        if (!ParseCode(words[4], tc)) return false;
        if (words.size() > 5 && !ParseCode(words[5], rc)) return false;
    }
    return true;
}

void ReadNodes(CsTextFile& file)
{
    CsString line;
    while (NextDataLine(file, line)) {
        int id = 0;
        int tc = 0;
        int rc = 0;
        bool codes = false;
        double xyz[3] = {};
        if (!ParseNodeRow(line, id, xyz, tc, rc, codes) || id < 1) continue;
        CsDataNode node(id, gmPnt3D(xyz[0], xyz[1], xyz[2]));
        if (codes) node.AddSpc(tc, rc);
        dataManage.AddNode(node);
    }
}

void ReadBoundarySpc(CsTextFile& file)
{
    CsString line;
    while (NextDataLine(file, line)) {
        double v[8] = {};
        if (ScanValues(line, "dddddddd", v) != 8) continue;
        KeySpc spc;
        spc.nid = static_cast<int>(v[0]);
        spc.cid = static_cast<int>(v[1]);
        for (int k = 0; k < 6; ++k) spc.dofs[k] = static_cast<int>(v[k + 2]);
        dataManage.AddSpcNode(spc);
    }
}

// A coordinate line: an id of at least 1 and fields 2 to 7 present (by their
// columns, or by commas in free format).
bool CoordinateLine(const CsString& line, int& id, double v[6])
{
    if (!IntField(line, 1, id) || id < 1) return false;
    if (!HasComma(line) && line.GetLength() <= 69) return false;
    for (int k = 0; k < 6; ++k) {
        if (!RealField(line, k + 2, 0.0, v[k])) return false;
    }
    return true;
}

void ReadCoordinateSystems(CsTextFile& file)
{
    CsString line;
    while (NextDataLine(file, line)) {
        int id = 0;
        double v[6] = {};
        if (!CoordinateLine(line, id, v)) continue;
        if (!NextDataLine(file, line)) break;
        double w[3] = {};
        if (!RealField(line, 1, 0.0, w[0]) || !RealField(line, 2, 0.0, w[1]) || !RealField(line, 3, 0.0, w[2])) continue;
        KeyLCS lcs;
        lcs.cid = id;
        lcs.kind = KeyLCS::kBySystem;
        lcs.point[0] = gmPnt3D(v[0], v[1], v[2]);
        lcs.point[1] = gmPnt3D(v[3], v[4], v[5]);
        lcs.point[2] = gmPnt3D(w[0], w[1], w[2]);
        dataManage.AddLCS(lcs);
    }
}

void ReadCoordinateVectors(CsTextFile& file)
{
    CsString line;
    while (NextDataLine(file, line)) {
        int id = 0;
        double v[6] = {};
        if (!CoordinateLine(line, id, v)) continue;
        KeyLCS lcs;
        lcs.cid = id;
        lcs.kind = KeyLCS::kByVector;
        lcs.point[1] = gmPnt3D(v[0], v[1], v[2]);
        lcs.point[2] = gmPnt3D(v[3], v[4], v[5]);
        dataManage.AddLCS(lcs);
    }
}

// ------------------------------------------------------ "*DEFINE_TRANSFORMATION"

void AddRotation(KeyTransform& key, const gmVec3D& axis, const gmPnt3D& point, double radians)
{
    float p[7];
    axis.AsPoint(p);
    point.AsPoint(p + 3);
    p[6] = static_cast<float>(radians);
    CsTransform t;
    t.SetRotate(p);
    key.Add(t);
}

gmVec3D Unit(const gmVec3D& v)
{
    const double length = v.Length();
    return length > 0.0 ? v / length : gmVec3D::ZeroV;
}

// The point-to-point placement: P1 onto P4, the frame of P1 P2 P3 onto that
// of P4 P5 P6. The turn in the plane is measured after the normals have been
// brought together, so that the two rotations compose to the full placement.
void AddPos6p(KeyTransform& key, const gmPnt3D p[6])
{
    const gmVec3D xa = Unit(p[1] - p[0]);
    const gmVec3D za = Unit(xa ^ Unit(p[2] - p[0]));
    const gmVec3D xb = Unit(p[4] - p[3]);
    const gmVec3D zb = Unit(xb ^ Unit(p[5] - p[3]));
    const gmVec3D yb = zb ^ xb;

    const gmVec3D shift = p[3] - p[0];
    if (shift.SqrLen() > 0.0) {
        float d[3];
        shift.AsPoint(d);
        CsTransform t;
        t.SetTrans(d);
        key.Add(t);
    }

    gmVec3D turned = xa;
    const double tilt = za.AngleWith(zb);
    if (tilt > kFrameAngleTol) {
        gmVec3D axis = Unit(za ^ zb);
        // Opposite normals have no common perpendicular: a half turn about
        // the first frame's x axis flips one onto the other.
        if (axis.SqrLen() == 0.0) axis = xa;
        AddRotation(key, axis, p[3], tilt);
        // Rodrigues' rotation of xa, the direction the first rotation leaves it in.
        const double c = std::cos(tilt);
        const double s = std::sin(tilt);
        turned = xa * c + (axis ^ xa) * s + axis * ((axis * xa) * (1.0 - c));
    }
    const double spin = turned.AngleWith(xb);
    if (spin > kFrameAngleTol) AddRotation(key, zb, p[3], (turned * yb) > kFrameAngleTol ? -spin : spin);
}

bool ReadTransformation(CsTextFile& file, KeyTransform& key)
{
    CsString line;
    if (!NextDataLine(file, line)) return false;
    int id = 0;
    if (!IntField(line, 1, id) || id < 1) return false;
    key = KeyTransform(id);
    std::map<int, gmPnt3D> points;
    const auto findPoint = [&points](int pid, gmPnt3D& out) {
        const auto it = points.find(pid);
        if (pid < 1 || it == points.end()) return false;
        out = it->second;
        return true;
    };
    while (NextDataLine(file, line)) {
        CsString option = HasComma(line) ? CsString(Field(line, 1)) : line.Left(10);
        option.Trim();
        option.MakeUpper();
        double v[7] = {};
        if (option == "SCALE" || option == "TRANSL") {
            // A blank scale factor keeps that axis as it is.
            const double fallback = option == "SCALE" ? 1.0 : 0.0;
            if (!RealField(line, 2, fallback, v[0]) || !RealField(line, 3, fallback, v[1]) ||
                !RealField(line, 4, fallback, v[2]))
                continue;
            const float f[3] = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
            CsTransform t;
            if (option == "SCALE") t.SetScale(f);
            else t.SetTrans(f);
            key.Add(t);
        } else if (option == "ROTATE") {
            const bool byAxis = HasComma(line) ? !Field(line, 5).empty() : line.GetLength() > 40;
            if (byAxis) {
                bool ok = true;
                for (int k = 0; k < 7; ++k) ok = ok && RealField(line, k + 2, 0.0, v[k]);
                if (!ok) continue;
                AddRotation(key, gmVec3D(v[0], v[1], v[2]), gmPnt3D(v[3], v[4], v[5]), v[6] * kPi / 180.0);
            } else {
                int first = 0;
                int second = 0;
                gmPnt3D a;
                gmPnt3D b;
                if (!IntField(line, 2, first) || !IntField(line, 3, second) || !RealField(line, 4, 0.0, v[0]) ||
                    !findPoint(first, a) || !findPoint(second, b))
                    continue;
                AddRotation(key, b - a, a, v[0] * kPi / 180.0);
            }
        } else if (option == "POINT") {
            int pid = 0;
            if (!IntField(line, 2, pid) || pid < 1) continue;
            bool ok = true;
            for (int k = 0; k < 3; ++k) ok = ok && !Field(line, k + 3).empty() && RealField(line, k + 3, 0.0, v[k]);
            if (ok) points[pid] = gmPnt3D(v[0], v[1], v[2]);
        } else if (option == "POS6P") {
            gmPnt3D p[6];
            bool ok = true;
            for (int k = 0; k < 6 && ok; ++k) {
                int pid = 0;
                ok = IntField(line, k + 2, pid) && findPoint(pid, p[k]);
            }
            if (ok) AddPos6p(key, p);
        }
    }
    return !key.IsEmpty();
}

// ------------------------------------------------------------- curve cards

// A coordinate of a curve point: any number the C library reads, "nan", "inf" and values
// beyond every range included, rounded to single precision like the other card values
// where it fits. A point line holding such a number is a point, not the end of the
// curve: the curve check refuses it by its place in the deck rather than letting the
// curve end there unnoticed.
bool ParsePointValue(std::string_view text, double& out)
{
    const std::string field(Trim(text));
    if (field.empty()) return false;
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    if (*end != '\0') return false;
    out = std::fabs(value) <= FLT_MAX ? static_cast<double>(static_cast<float>(value)) : value;
    return true;
}

// The first count values of a point line, in free format.
bool PointValues(const CsString& line, size_t count, double* out)
{
    const std::vector<std::string> values = Values(line);
    if (values.size() < count) return false;
    for (size_t k = 0; k < count; ++k) {
        if (!ParsePointValue(values[k], out[k])) return false;
    }
    return true;
}

// Point lines of a 2D curve: "x y" until a line that is no point.
std::vector<gmPnt3D> ReadCurvePoints(CsTextFile& file)
{
    std::vector<gmPnt3D> points;
    CsString line;
    while (true) {
        const int count = file.GetLine(line);
        if (count == 0) break;
        if (IsComment(line)) continue;
        if (IsKeyword(line)) {
            file.BackToLine(count);
            break;
        }
        double v[2] = {};
        if (line.Find('*') >= 0 || !PointValues(line, 2, v)) break;
        points.emplace_back(v[0], v[1], 0.0);
    }
    return points;
}

// One "x y z" point line: free format (blanks or commas), else fixed fields of
// 10 columns, or of 20 when the line runs past the three short fields. Fixed
// fields may touch, which is why the free reading alone is not enough; a blank
// fixed field stands for 0 as elsewhere in the keyword format.
bool PointLine3D(const CsString& line, gmPnt3D& point)
{
    double v[3] = {};
    if (PointValues(line, 3, v)) {
        point = gmPnt3D(v[0], v[1], v[2]);
        return true;
    }
    if (HasComma(line) || line.Find('*') >= 0) return false;
    const std::string_view text = TrimRight(line.str());
    const size_t width = text.size() > 30 ? 20 : 10;
    if (text.empty() || text.size() > 3 * width) return false;
    for (size_t k = 0; k < 3; ++k) {
        const std::string_view field = k * width < text.size() ? text.substr(k * width, width) : std::string_view();
        if (Trim(field).empty()) {
            v[k] = 0.0;
        } else if (!ParsePointValue(field, v[k])) {
            return false;
        }
    }
    point = gmPnt3D(v[0], v[1], v[2]);
    return true;
}

// Point lines of a 3D curve until the next keyword; a line that is no point
// ends the curve early, as it does for a 2D curve.
std::vector<gmPnt3D> ReadCurvePoints3D(CsTextFile& file)
{
    std::vector<gmPnt3D> points;
    CsString line;
    while (true) {
        const int count = file.GetLine(line);
        if (count == 0) break;
        if (IsComment(line)) continue;
        if (IsKeyword(line)) {
            file.BackToLine(count);
            break;
        }
        gmPnt3D point;
        if (!PointLine3D(line, point)) break;
        points.push_back(point);
    }
    return points;
}

// Beyond this a coordinate leaves the cut lines' arithmetic no digit to tell two nearby
// points apart, and no blank lies there.
constexpr double kMaxCurveCoordinate = 1e15;

// Every point of the set's curves is finite and within kMaxCurveCoordinate; otherwise the
// first one that is not is shown, by set, curve and point, and the answer is false.
bool CurvePointsValid(const CsCrvSet& set)
{
    for (const CsTrmCrv* curve : set.TrmCrvArr()) {
        const std::vector<gmPnt3D>& points = curve->GetPoints();
        for (size_t k = 0; k < points.size(); ++k) {
            const gmPnt3D& p = points[k];
            // Written so that NaN fails too.
            bool valid = true;
            for (int c = 0; c < 3; ++c) valid = valid && std::fabs(p[c]) <= kMaxCurveCoordinate;
            if (valid) continue;
            CsString text;
            text.Format("Invalid trim curve point in curve set %d, curve %d: point %d is (%g, %g, %g); "
                        "coordinates must be finite and within 1e15",
                        set.GetId(), curve->GetExid(), static_cast<int>(k) + 1, p.x(), p.y(), p.z());
            ShowLine(text);
            return false;
        }
    }
    return true;
}

CsString NextTrimmedLine(CsTextFile& file)
{
    CsString line;
    if (!NextDataLine(file, line)) return CsString();
    return line.Trim();
}

}  // namespace

// ------------------------------------------------------------------ reader

int CsReadDyna::ReadFile()
{
    if (!IsFileOpen() || !IsReadOnly() || !IsDynFile()) return 0;
    ScanCards();

    if (!SetAnnealData()) {
        if (!SetInfoData()) return 0;
        if (!SetLineData()) {
            ShowLine("Fail to read curve\n");
            CsMessage().ShowNewLine(1);
            return 0;
        }
        if (!crvSets2D_.empty()) ShowLine("Number of Curve Set 2D: %d", static_cast<int>(crvSets2D_.size()));
        if (!crvSets3D_.empty()) ShowLine("Number of Curve Set 3D: %d", static_cast<int>(crvSets3D_.size()));
        ShowLine("Success to read trim curves\n");
    }

    if (!SetBaseData()) {
        ShowLine("Fail to read node and element data\n");
        CsMessage().ShowNewLine(1);
        return 0;
    }
    if (dataManage.GetNodeNumber() > 0) ShowLine("Number of Nodes:    %d", dataManage.GetNodeNumber());
    if (dataManage.GetElemNumber() > 0) ShowLine("Number of Elements: %d", dataManage.GetElemNumber());
    if (dataManage.GetAdpvNumber() > 0) ShowLine("Number of Adaptive Nodes: %d", dataManage.GetAdpvNumber());
    ShowLine("Success to read node and element data\n");
    return 1;
}

void CsReadDyna::ScanCards()
{
    CsString line;
    // Only "*END" or the end of the file ends the deck: a stray byte such as
    // a Latin-1 character at the start of a line is just a line to skip.
    while (GetLine(line) > 0) {
        line.Trim();
        if (!IsKeywordChar(line[0])) continue;
        line.MakeUpper();
        if (line.Find(Keyword_ID) >= 0) {
            ReadKeywordId();
        } else if (line.Find(Keyword_JOBID) >= 0) {
            ReadKeywordJobId();
        } else if (line == KeyDynaEnd) {
            break;
        } else if (line == KeyEleTrim) {
            int id = 0;
            if (ReadElementTrim(*this, id)) trimSets_.push_back(id);
        } else if (line == KeyAdptCrv) {
            CsCtrlAdp adp;
            if (ReadAdaptiveCurve(*this, adp)) ctrlAdp_ = adp;
        } else if (line == KeyPartSet) {
            PartSet set;
            if (ReadPartSet(*this, set)) partSets_.push_back(set);
        } else if (line == KeyPrtCard) {
            KeyPart part;
            if (ReadPart(*this, part)) parts_.push_back(part);
        } else if (line == KeySecShll) {
            KeySect sect;
            if (ReadSectionShell(*this, sect)) sects_.push_back(sect);
        } else if (line == KeyCrvTrim) {
            ReadCurveTrim2D();
        } else if (line == KeyCvTrm3D || line == KeyCvTrmNew) {
            ReadCurveTrim3D();
        } else if (line == KeyAnneal) {
            CsAnneal anneal;
            if (ReadAnneal(*this, anneal)) anneals_.push_back(anneal);
        } else if (line == KeywrdNode) {
            ReadNodes(*this);
        } else if (line == KeyCSSys) {
            ReadCoordinateSystems(*this);
        } else if (line == KeyCSVect) {
            ReadCoordinateVectors(*this);
        } else if (line == KeyBndSPC) {
            ReadBoundarySpc(*this);
        } else if (line == Key_Vector) {
            KeyVect vect;
            if (ReadVector(*this, vect)) vects_.push_back(vect);
        } else if (line == KeyInclude) {
            ReadInclude();
        } else if (line == KeyIncludeTrans) {
            ReadIncludeTransform();
        } else if (line == KeyDFTransform) {
            KeyTransform key;
            if (ReadTransformation(*this, key)) dataManage.AddTransform(key);
        }
    }
}

void CsReadDyna::ReadKeywordId()
{
    CsString line;
    if (!FindDataLine(line)) return;
    const CsString name = JobName(line);
    if (!name.IsEmpty()) keyId_ = name;
}

void CsReadDyna::ReadKeywordJobId()
{
    CsString line;
    if (!FindDataLine(line)) return;
    CsString name = line.Left(kJobNameChars);
    name.Trim();
    if (!name.IsEmpty()) keyId_ = name;
}

void CsReadDyna::ReadCurveTrim2D()
{
    CsString line;
    if (!NextDataLine(*this, line)) return;
    double v[5] = {};
    if (ScanValues(line, "ddddf", v) != 5) return;
    CsCrvSet2D set;
    set.SetId(static_cast<int>(v[0]));
    set.SetCrvType(static_cast<int>(v[1]));
    set.SetTrimFlag(static_cast<int>(v[2]));
    set.SetVectId(static_cast<int>(v[3]));
    set.SetRatio(v[4]);
    int lcs = 0;
    if (HasComma(line) ? IntField(line, 6, lcs) : IntFromColumn(line, 50, lcs)) set.SetLcs(lcs);
    if (set.GetCrvType() == 2) {
        set.SetIgesFile(NextTrimmedLine(*this));
    } else {
        if (!SkipCommentLine()) return;
        const std::vector<gmPnt3D> points = ReadCurvePoints(*this);
        if (points.empty()) return;
        set.AddPntArr(points);
    }
    crvSets2D_.push_back(std::move(set));
}

void CsReadDyna::ReadCurveTrim3D()
{
    CsString line;
    if (!NextDataLine(*this, line)) return;
    double v[8] = {};
    const int values = ScanValues(line, "ddddffdd", v);
    if (values < 7) return;
    CsCrvSet3D set;
    set.SetId(static_cast<int>(v[0]));
    set.SetCrvType(static_cast<int>(v[1]));
    int flag = static_cast<int>(v[2]);
    set.SetVectId(static_cast<int>(v[3]));
    set.SetRatio(v[4]);
    set.SetGap(v[5]);
    int seed = std::abs(static_cast<int>(v[6]));
    int seed2 = values > 7 ? std::abs(static_cast<int>(v[7])) : 0;
    // A lone second seed is the only seed.
    if (seed == 0) std::swap(seed, seed2);
    // Without a seed there is no side to remove: the curve can only lance.
    if (seed == 0) flag = 0;
    else if (flag == 0) flag = 1;
    set.SetSeed(seed);
    set.SetSeed2(seed2);
    set.SetTrimFlag(flag);
    if (set.GetCrvType() == 2) {
        set.SetIgesFile(NextTrimmedLine(*this));
    } else {
        const std::vector<gmPnt3D> points = ReadCurvePoints3D(*this);
        if (!points.empty()) set.AddPntArr(points);
    }
    crvSets3D_.push_back(std::move(set));
}

void CsReadDyna::ReadInclude()
{
    CsString line;
    if (NextDataLine(*this, line)) includeName_ = line.Trim();
}

void CsReadDyna::ReadIncludeTransform()
{
    CsString line;
    if (!NextDataLine(*this, line)) return;
    includeName_ = line.Trim();
    for (int k = 2; k <= 5; ++k) {
        if (!NextDataLine(*this, line)) return;
    }
    int id = 0;
    if (IntField(line, 1, id) && id >= 1) includeTrans_ = id;
}

int CsReadDyna::GetMaxPartID() const
{
    int largest = 0;
    for (const PartSet& set : partSets_) {
        for (const int part : set.parts) largest = std::max(largest, part);
    }
    return largest > 0 ? largest + 1 : 0;
}

int CsReadDyna::FindKeyPart(int partId, KeyPart& part) const
{
    for (const KeyPart& candidate : parts_) {
        if (candidate.partId == partId) {
            part = candidate;
            ShowLine("Success to Find the Part Keyword\n");
            return 1;
        }
    }
    return 0;
}

int CsReadDyna::FindKeySect(int sectionId, KeySect& sect) const
{
    for (const KeySect& candidate : sects_) {
        if (candidate.sectId == sectionId) {
            sect = candidate;
            ShowLine("Success to Find the Section Shell\n");
            return 1;
        }
    }
    ShowLine("Fail to Find the Compliant Section Shell\n");
    return 0;
}

CsString CsReadDyna::IncludePath() const
{
    CsString path = includeName_;
    const bool absolute = includeName_[0] == '/' || includeName_[0] == '\\';
    const CsString& deck = GetFileName();
    if (!absolute && (deck.Find('/') >= 0 || deck.Find('\\') >= 0)) path = GetFilePath() + "/" + includeName_;
    path.TrimRightSpace();
    return path;
}

CsDataInfo CsReadDyna::MakeDataInfo() const
{
    CsDataInfo info;
    info.dataFile = IncludePath();
    info.keyId = keyId_;
    info.ctrlAdp = ctrlAdp_;
    info.maxPart = GetMaxPartID();
    info.anneal = anneals_;
    info.partSet = partSets_;
    info.dataTrans = includeTrans_;
    return info;
}

int CsReadDyna::SetAnnealData()
{
    if (anneals_.empty()) return 0;
    for (CsAnneal& anneal : anneals_) {
        bool known = false;
        for (const PartSet& set : partSets_) known = known || set.setId == anneal.GetSetId();
        if (!known) anneal.SetSetId(0);
    }
    anneals_.erase(std::remove_if(anneals_.begin(), anneals_.end(), [](const CsAnneal& a) { return !a.IsValid(); }),
                   anneals_.end());
    if (anneals_.empty()) return 0;
    dataManage.SetDataInfo(MakeDataInfo());
    if (includeName_.IsEmpty()) {
        ShowLine("No 'ANNEAL' card or invalid 'INCLUDE' card\n");
        return 0;
    }
    return 1;
}

int CsReadDyna::SetInfoData()
{
    CsDataInfo info = MakeDataInfo();
    for (const int setId : trimSets_) {
        for (const PartSet& set : partSets_) {
            if (set.setId != setId) continue;
            for (const int partId : set.parts) {
                KeyPart part;
                KeySect sect;
                if (FindKeyPart(partId, part) && FindKeySect(part.sectId, sect))
                    info.partThick.push_back(PartThick{partId, sect.thick});
            }
            break;
        }
    }
    dataManage.SetDataInfo(info);
    if (includeName_.IsEmpty() || trimSets_.empty()) {
        ShowLine("No 'ELEMENT_TRIM' card or invalid 'INCLUDE' card\n");
        return 0;
    }
    return 1;
}

int CsReadDyna::SetBaseData()
{
    CsReadData reader(dataManage.GetDataFileName(), dataManage.GetDataFileTrans());
    if (!reader.OpenFile(READ)) {
        CsString text;
        text.Format("Fail to Open the File: %s\n", includeName_.c_str());
        ShowLine(text);
        ShowLine("Maybe it does not exist\n");
        return 0;
    }
    return reader.ReadFile();
}

int CsReadDyna::SetLineData()
{
    // IGES files are named relative to the deck, wherever its state file lies.
    const CsString& deck = GetFileName();
    const CsString deckDir = deck.Find('/') >= 0 || deck.Find('\\') >= 0 ? GetFilePath() : CsString(".");
    const auto discard = [](const char* format, int id) {
        CsString text;
        text.Format(format, id);
        ShowLine(text);
        text.Format("The Curve Set: %d will be discarded\n", id);
        ShowLine(text);
    };
    const auto store = [](CsCrvSet& set) {
        set.SetCrvData();
        if (!CurvePointsValid(set)) return false;
        for (const CsTrmCrv* curve : set.TrmCrvArr()) dataManage.AddLine(*curve);
        set.Release();
        return true;
    };
    for (CsCrvSet2D& set : crvSets2D_) {
        if (set.GetId() < 1) continue;
        for (const KeyVect& vect : vects_) {
            if (vect.id != set.GetVectId()) continue;
            set.SetPrjDir(vect.dir);
            set.SetTail(vect.tail);
            break;
        }
        set.SetIgesDir(deckDir);
        if (set.GetCrvType() == 2 && !set.GetIGES()) {
            discard("Fail to Get the Curve Data, Defined Curve Set ID = %d\n", set.GetId());
            continue;
        }
        if (!store(set)) return 0;
    }
    for (CsCrvSet3D& set : crvSets3D_) {
        if (set.GetId() < 1) continue;
        set.SetIgesDir(deckDir);
        if (set.GetCrvType() == 2 && !set.GetIGES()) {
            discard("Fail to Get the Curve Data, the Curve Set ID = %d", set.GetId());
            continue;
        }
        if (!store(set)) return 0;
    }
    return dataManage.GetLineArr().empty() ? 0 : 1;
}
