#include "qdsfile_state.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"

#include <cfloat>
#include <algorithm>
#include <cmath>
#include <cstring>

const CsString CsReadData::KeywrdNode = "*NODE";
const CsString CsReadData::KeyCSSys = "*DEFINE_COORDINATE_SYSTEM";
const CsString CsReadData::KeyCSVect = "*DEFINE_COORDINATE_VECTOR";
const CsString CsReadData::KeyBndSPC = "*BOUNDARY_SPC_NODE";
const CsString CsReadData::KeyAdptive = "*CONSTRAINED_ADAPTIVITY";
const CsString CsReadData::KeyElShell = "*ELEMENT_SHELL";
const CsString CsReadData::KeyElTShell = "*ELEMENT_TSHELL";
const CsString CsReadData::KeyElSolid = "*ELEMENT_SOLID";
const CsString CsReadData::KeyElThick = "*ELEMENT_SHELL_THICKNESS";
const CsString CsReadData::KeyShellStress = "*INITIAL_STRESS_SHELL";
const CsString CsReadData::KeyTShellStress = "*INITIAL_STRESS_TSHELL";
const CsString CsReadData::KeySolidStress = "*INITIAL_STRESS_SOLID";
const CsString CsReadData::KeyShellStrain = "*INITIAL_STRAIN_SHELL";
const CsString CsReadData::KeySolidStrain = "*INITIAL_STRAIN_SOLID";
const CsString CsReadData::KeyDynaEnd = "*END";

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SkipBlanks(const char* p)
{
    while (IsBlank(*p)) ++p;
    return p;
}

// The trimmed, upper-cased text of a keyword line; empty for any other line,
// so the bulk of a state file (stress lines) costs no copy here.
bool KeywordOf(const CsString& line, CsString& keyword)
{
    const char* p = SkipBlanks(line.c_str());
    if (*p != '*') return false;
    keyword = p;
    keyword.TrimRightSpace();
    keyword.MakeUpper();
    return true;
}

// An integer filling [begin, end) apart from blanks.
bool ParseInt(const char* begin, const char* end, int& value)
{
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    if (begin < end && *begin == '+') ++begin;
    if (begin == end) return false;
    return ParseWholeInt(begin, end, value);
}

// A real filling [begin, end) apart from blanks, as the double nearest to its
// text: node coordinates and thicknesses keep every digit they were written
// with, so that a value no operation changes is written back as it was read.
// "nan", "inf" and values beyond the single range are no coordinates or
// thicknesses: they would be written out as text no later stage reads back.
bool ParseReal(const char* begin, const char* end, double& value)
{
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    if (begin < end && *begin == '+') ++begin;
    if (begin == end) return false;
    double d = 0.0;
    if (!ParseWholeDouble(begin, end, d) || !(std::fabs(d) <= FLT_MAX)) return false;
    value = d;
    return true;
}

// The same, rounded to single precision: the precision of the values read
// for coordinate systems, which are written with four digits.
bool ParseReal(const char* begin, const char* end, float& value)
{
    double d = 0.0;
    if (!ParseReal(begin, end, d)) return false;
    value = static_cast<float>(d);
    return true;
}

// Splits a line into at most `count` fields: by commas when it holds one,
// else into `width`-column fields when every one of them holds a single
// number (ids of a full field width run together there), else at blanks.
// Returns the number of fields found; the fields are [begin, end) pairs.
int SplitFields(const CsString& line, int width, int count, const char* begin[], const char* end[],
                bool (*fits)(const char*, const char*))
{
    const char* text = line.c_str();
    const char* stop = text + line.GetLength();
    int n = 0;
    if (std::memchr(text, ',', static_cast<size_t>(line.GetLength()))) {
        const char* p = text;
        while (n < count && p <= stop) {
            const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(stop - p)));
            const char* fieldEnd = comma ? comma : stop;
            begin[n] = p;
            end[n] = fieldEnd;
            ++n;
            if (!comma) break;
            p = comma + 1;
        }
        return n;
    }
    bool fixed = true;
    for (int f = 0; f < count && fixed; ++f) {
        const char* b = text + static_cast<ptrdiff_t>(f) * width;
        if (b >= stop) {
            // Fewer fields than asked for: the line ends after a whole field.
            fixed = f > 0;
            break;
        }
        const char* e = b + width < stop ? b + width : stop;
        fixed = fits(b, e);
        if (fixed) {
            begin[n] = b;
            end[n] = e;
            ++n;
        }
    }
    if (fixed) return n;
    n = 0;
    const char* p = text;
    while (n < count) {
        p = SkipBlanks(p);
        if (p >= stop) break;
        const char* e = p;
        while (e < stop && !IsBlank(*e)) ++e;
        begin[n] = p;
        end[n] = e;
        ++n;
        p = e;
    }
    return n;
}

bool FitsInt(const char* b, const char* e)
{
    int v = 0;
    return ParseInt(b, e, v);
}

bool FitsReal(const char* b, const char* e)
{
    double v = 0.0;
    return ParseReal(b, e, v);
}

// Up to `count` values of a card line (fields of `width` columns) split as
// SplitFields does; the number read before the first field that does not
// parse. The common line, fixed columns without a comma, is parsed once
// rather than checked and then parsed.
template <class T>
int ReadValues(const CsString& line, int width, int count, T* out,
               bool (*parse)(const char*, const char*, T&), bool (*fits)(const char*, const char*))
{
    const char* text = line.c_str();
    const char* stop = text + line.GetLength();
    if (!std::memchr(text, ',', static_cast<size_t>(line.GetLength()))) {
        int n = 0;
        for (const char* b = text; n < count && b < stop; b += width, ++n) {
            if (!parse(b, std::min(b + width, stop), out[n])) break;
        }
        if (n > 0 && (n == count || text + static_cast<ptrdiff_t>(n) * width >= stop)) return n;
    }
    const char* b[16];
    const char* e[16];
    const int n = SplitFields(line, width, count, b, e, fits);
    int got = 0;
    while (got < n && parse(b[got], e[got], out[got])) ++got;
    return got;
}

int ReadInts(const CsString& line, int width, int count, int* out)
{
    return ReadValues(line, width, count, out, ParseInt, FitsInt);
}

int ReadReals(const CsString& line, int width, int count, double* out)
{
    return ReadValues<double>(line, width, count, out, ParseReal, FitsReal);
}

// A field of FindValidField as a real; 0 for a blank or unreadable field.
double FieldReal(const CsString& line, int n)
{
    const char* text = CsTextFile::FindValidField(line, n);
    if (!text) return 0.0;
    float v = 0.0f;
    return ParseReal(text, text + std::strlen(text), v) ? static_cast<double>(v) : 0.0;
}

int FieldInt(const CsString& line, int n, bool& present)
{
    const char* text = CsTextFile::FindValidField(line, n);
    int v = 0;
    present = text && ParseInt(text, text + std::strlen(text), v);
    return v;
}

bool IsCommentLine(const CsString& line) { return *SkipBlanks(line.c_str()) == '$'; }

}  // namespace

CsReadData::CsReadData(const CsString& path, int transId) : CsTextFile(path)
{
    if (transId != 0) trans_ = dataManage.GetTransform(transId);
}

bool CsReadData::NextSectionLine(CsString& line)
{
    while (true) {
        const int count = GetLine(line);
        if (count == 0) return false;
        const char first = *SkipBlanks(line.c_str());
        if (first == '$') continue;
        // A section runs to the next keyword line; a '*' inside a comment or
        // a title does not end it.
        if (first == '*') {
            BackToLine(count);
            return false;
        }
        return true;
    }
}

int CsReadData::ReadFile()
{
    if (!IsFileOpen() || !IsReadOnly()) return 0;
    CsMessage msg;
    msg.Set("Read node and element data, please wait...");
    msg.ShowMessage();

    CsString line;
    CsString keyword;
    // Only keyword lines matter here: the stress and strain lines, most of
    // the file, are passed over without a copy.
    while (SkipToKeywordLine() && GetLine(line) > 0) {
        if (!KeywordOf(line, keyword)) continue;
        if (keyword == KeywrdNode) ReadNodes();
        else if (keyword == KeyCSSys) ReadCoordSystems();
        else if (keyword == KeyCSVect) ReadCoordVectors();
        else if (keyword == KeyBndSPC) ReadBoundarySpc();
        else if (keyword == KeyAdptive) ReadAdaptivity();
        else if (keyword == KeyElShell) ReadElements(kEleShell, false);
        else if (keyword == KeyElThick) ReadElements(kEleShell, true);
        else if (keyword == KeyElTShell) ReadElements(kEleTShell, false);
        else if (keyword == KeyElSolid) ReadElements(kEleSolid, false);
        else if (keyword == KeyShellStress || keyword == KeyTShellStress || keyword == KeySolidStress ||
                 keyword == KeyShellStrain || keyword == KeySolidStrain) {
            CsString data;
            if (FindDataLine(data)) dataManage.SetDynain(1);
        } else if (keyword == KeyDynaEnd) {
            break;
        }
    }
    return dataManage.GetNodeNumber() > 0 && dataManage.GetElemNumber() > 0 ? 1 : 0;
}

void CsReadData::ReadNodes()
{
    CsString line;
    while (NextSectionLine(line)) {
        const char* text = line.c_str();
        const int length = line.GetLength();
        int id = 0;
        double xyz[3] = {0.0, 0.0, 0.0};
        bool ok = length > 0 && ParseInt(text, text + std::min(length, 8), id);
        for (int k = 0; ok && k < 3; ++k) {
            const int start = 8 + 16 * k;
            // Columns beyond the end of the line read as 0.
            if (start >= length) break;
            const int stop = std::min(length, start + 16);
            const char* b = SkipBlanks(text + start);
            if (b < text + stop) ok = ParseReal(text + start, text + stop, xyz[k]);
        }
        if (!ok) {
            // Not in the fixed columns: blank- or comma-separated values.
            double values[4] = {0.0, 0.0, 0.0, 0.0};
            int firstInt = 0;
            const int n = ReadInts(line, 8, 1, &firstInt);
            if (n != 1 || ReadReals(line, 16, 4, values) < 4) continue;
            id = firstInt;
            xyz[0] = values[1];
            xyz[1] = values[2];
            xyz[2] = values[3];
        }
        if (id <= 0) continue;
        trans_.Trans(xyz[0], xyz[1], xyz[2]);
        dataManage.AddNode(CsDataNode(id, gmPnt3D(xyz[0], xyz[1], xyz[2])));
    }
}

void CsReadData::ReadCoordSystems()
{
    CsString card1;
    CsString card2;
    while (NextSectionLine(card1)) {
        bool present = false;
        const int cid = FieldInt(card1, 1, present);
        if (!present || cid <= 0 || card1.GetLength() <= 69) {
            // The record's second card goes with it.
            NextSectionLine(card2);
            continue;
        }
        if (!NextSectionLine(card2)) return;
        KeyLCS lcs;
        lcs.cid = cid;
        lcs.kind = KeyLCS::kBySystem;
        lcs.point[0] = gmPnt3D(FieldReal(card1, 2), FieldReal(card1, 3), FieldReal(card1, 4));
        lcs.point[1] = gmPnt3D(FieldReal(card1, 5), FieldReal(card1, 6), FieldReal(card1, 7));
        lcs.point[2] = gmPnt3D(FieldReal(card2, 1), FieldReal(card2, 2), FieldReal(card2, 3));
        dataManage.AddLCS(lcs);
    }
}

void CsReadData::ReadCoordVectors()
{
    CsString card;
    while (NextSectionLine(card)) {
        bool present = false;
        const int cid = FieldInt(card, 1, present);
        if (!present || cid <= 0 || card.GetLength() <= 69) continue;
        KeyLCS lcs;
        lcs.cid = cid;
        lcs.kind = KeyLCS::kByVector;
        lcs.point[0] = gmPnt3D(0.0, 0.0, 0.0);
        lcs.point[1] = gmPnt3D(FieldReal(card, 2), FieldReal(card, 3), FieldReal(card, 4));
        lcs.point[2] = gmPnt3D(FieldReal(card, 5), FieldReal(card, 6), FieldReal(card, 7));
        dataManage.AddLCS(lcs);
    }
}

void CsReadData::ReadBoundarySpc()
{
    CsString line;
    while (NextSectionLine(line)) {
        int v[8];
        if (ReadInts(line, 10, 8, v) < 8) continue;
        KeySpc spc;
        spc.nid = v[0];
        spc.cid = v[1];
        for (int k = 0; k < 6; ++k) spc.dofs[k] = v[2 + k];
        dataManage.AddSpcNode(spc);
    }
}

void CsReadData::ReadAdaptivity()
{
    CsString line;
    while (NextSectionLine(line)) {
        int v[3];
        if (ReadInts(line, 10, 3, v) < 3) continue;
        dataManage.AddAdpNd(CsDataAdpv(v[0], v[1], v[2]));
    }
}

void CsReadData::ReadElements(EleType type, bool withThickness)
{
    const int wanted = type == kEleShell ? 6 : 10;
    CsString line;
    CsString thickLine;
    while (NextSectionLine(line)) {
        int v[10];
        const bool ok = ReadInts(line, 8, wanted, v) >= wanted;
        double thick[4] = {0.0, 0.0, 0.0, 0.0};
        if (withThickness) {
            // The thickness card belongs to the element card before it,
            // whether that one was readable or not.
            if (!ok) continue;
            if (!NextSectionLine(thickLine)) return;
            if (ReadReals(thickLine, 16, 4, thick) < 4) continue;
        } else if (!ok) {
            continue;
        }
        int nodes[8] = {};
        int count = 0;
        if (type == kEleShell) {
            count = v[4] == v[5] ? 3 : 4;
            for (int k = 0; k < count; ++k) nodes[k] = v[2 + k];
        } else {
            const int* n = v + 2;  // N1..N8
            if (n[6] != n[7]) {
                count = 8;
                for (int k = 0; k < 8; ++k) nodes[k] = n[k];
            } else if (n[3] != n[4]) {
                count = 6;
                const int tshell[6] = {n[0], n[1], n[2], n[4], n[5], n[6]};
                const int solid[6] = {n[0], n[1], n[2], n[3], n[4], n[6]};
                std::memcpy(nodes, type == kEleTShell ? tshell : solid, sizeof tshell);
            } else {
                count = 4;
                for (int k = 0; k < 4; ++k) nodes[k] = n[k];
            }
        }
        CsDataElem elem(v[1], v[0], count, nodes, type);
        const int index = dataManage.AddElem(elem);
        const double t = withThickness ? thick[3] : dataManage.GetPartThk(v[1]);
        dataManage.SetThickness(index, t);
    }
}

// ------------------------------------------------------------ streaming

int CsReadData::FindSectionOf(int wanted, bool& isStress, EleType& type)
{
    CsString line;
    CsString keyword;
    while (SkipToKeywordLine() && GetLine(line) > 0) {
        if (!KeywordOf(line, keyword)) continue;
        if (keyword == KeyDynaEnd) return 0;
        bool stress = true;
        EleType kind = kEleShell;
        if (keyword == KeyShellStress) kind = kEleShell;
        else if (keyword == KeyTShellStress) kind = kEleTShell;
        else if (keyword == KeySolidStress) kind = kEleSolid;
        else if (keyword == KeyShellStrain) stress = false;
        else if (keyword == KeySolidStrain) stress = false, kind = kEleSolid;
        else continue;
        if (wanted == 1 && !stress) continue;
        if (wanted == 2 && stress) continue;
        if (SkipCommentLine() == 0 || IsFileEnd()) continue;
        isStress = stress;
        type = kind;
        return 1;
    }
    return 0;
}

int CsReadData::FindSection(bool& isStress, EleType& type) { return FindSectionOf(0, isStress, type); }

int CsReadData::FindStress(EleType& type)
{
    bool isStress = true;
    return FindSectionOf(1, isStress, type);
}

int CsReadData::FindStrain(EleType& type)
{
    bool isStress = false;
    return FindSectionOf(2, isStress, type);
}

template <class Record>
int CsReadData::GetRecord(Record& record, const char* what)
{
    CsString line;
    int count = 0;
    // Comment and blank lines between blocks are not the end of a section:
    // only a keyword (or the end of the file) is.
    do {
        count = GetLine(line);
        if (count == 0) return 0;
    } while (*SkipBlanks(line.c_str()) == '\0' || IsCommentLine(line));
    switch (record.ReadHeader(line)) {
    case CsRecordStatus::kEnd:
        BackToLine(count);
        return 0;
    case CsRecordStatus::kError:
        error_ = record.DescribeError();
        return -1;
    case CsRecordStatus::kOk:
        break;
    }
    const int lines = record.GetBodyLineNum();
    for (int k = 0; k < lines; ++k) {
        CsString& body = record.BodyLine(k);
        do {
            count = GetLine(body);
        } while (count > 0 && IsCommentLine(body));
        if (count == 0 || *SkipBlanks(body.c_str()) == '*') {
            error_.Format("Element: %d %s block ends after %d of its %d lines", record.GetEid(), what, k, lines);
            if (count > 0) BackToLine(count);
            return -1;
        }
    }
    return 1;
}

int CsReadData::GetStress(StressData& record) { return GetRecord(record, "initial stress"); }

int CsReadData::GetStrain(StrainData& record) { return GetRecord(record, "initial strain"); }
