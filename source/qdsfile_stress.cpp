#include "qdsfile_stress.h"

#include "qdsfile.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr int kHeaderFields = 8;
constexpr int kHeaderWidth = 10;
// A header announcing more body lines than this is taken for a misread
// line rather than allowed to swallow the rest of the file.
constexpr long long kMaxRecordLines = 1000000;
// Fields per line: 8 of 10 columns in the normal layout, 5 of 16 in the
// large one.
constexpr int kNormalFields = 8;
constexpr int kNormalWidth = 10;
constexpr int kLargeFields = 5;
constexpr int kLargeWidth = 16;

struct HeaderFields {
    long long value[kHeaderFields] = {};
    bool present[kHeaderFields] = {};
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// 1 for an integer between blanks, 0 for blanks only, -1 for anything else.
int ParseIntField(const char* begin, const char* end, long long& value)
{
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    value = 0;
    if (begin == end) return 0;
    const bool negative = *begin == '-';
    if (*begin == '+' || *begin == '-') ++begin;
    if (begin == end) return -1;
    long long v = 0;
    for (; begin < end; ++begin) {
        if (*begin < '0' || *begin > '9') return -1;
        v = v * 10 + (*begin - '0');
        if (v > INT_MAX) return -1;
    }
    value = negative ? -v : v;
    return 1;
}

bool ParseFixedFields(const char* text, size_t length, HeaderFields& out)
{
    for (int f = 0; f < kHeaderFields; ++f) {
        const size_t start = static_cast<size_t>(f) * kHeaderWidth;
        if (start >= length) break;
        const size_t stop = std::min(start + kHeaderWidth, length);
        const int got = ParseIntField(text + start, text + stop, out.value[f]);
        if (got < 0) return false;
        out.present[f] = got == 1;
    }
    return true;
}

bool ParseCommaFields(const char* text, size_t length, HeaderFields& out)
{
    const char* end = text + length;
    const char* start = text;
    for (int f = 0; f < kHeaderFields && start <= end; ++f) {
        const char* stop = std::find(start, end, ',');
        const int got = ParseIntField(start, stop, out.value[f]);
        if (got < 0) return false;
        out.present[f] = got == 1;
        start = stop + 1;
    }
    return true;
}

// Values separated by blanks, not aligned to columns.
bool ParseLooseFields(const char* text, size_t length, HeaderFields& out)
{
    const char* end = text + length;
    const char* p = text;
    for (int f = 0; f < kHeaderFields; ++f) {
        while (p < end && IsBlank(*p)) ++p;
        if (p == end) return true;
        const char* stop = p;
        while (stop < end && !IsBlank(*stop)) ++stop;
        if (ParseIntField(p, stop, out.value[f]) != 1) return false;
        out.present[f] = true;
        p = stop;
    }
    return true;
}

bool ParseHeaderFields(const CsString& line, HeaderFields& out)
{
    const char* text = line.c_str();
    const size_t length = static_cast<size_t>(line.GetLength());
    if (std::memchr(text, ',', length)) return ParseCommaFields(text, length, out);
    if (ParseFixedFields(text, length, out)) return true;
    out = HeaderFields();
    return ParseLooseFields(text, length, out);
}

// A keyword, a comment or a blank line where a header belongs ends the
// section.
bool EndsSection(const CsString& line)
{
    const char* p = line.c_str();
    while (IsBlank(*p)) ++p;
    return *p == '\0' || *p == '*' || *p == '$';
}

int ToInt(long long v) { return static_cast<int>(v); }

CsString Describe(const char* what, int eid, const CsString& reason)
{
    CsString text;
    text.Format("Element: %d %s cannot be laid out: %s", eid, what, reason.c_str());
    return text;
}

CsString Unreadable(const char* what, const CsString& line)
{
    CsString text;
    text.Format("%s header cannot be read: \"%s\"", what, line.c_str());
    return text;
}

// Rewrites the first count fields of a line in place; field f is multiplied
// by the scale when scaled(f) holds, the others keep their value. Columns
// missing at the end of the line read as blanks, which read as nothing; text
// beyond the fields is dropped. A single-precision value always formats to
// exactly the field's width, so each field is rewritten where it stands,
// after it was read and before any field to its right is.
template <class Scaled>
void RewriteFields(CsString& line, int width, int count, float scale, Scaled scaled)
{
    std::string& text = line.str();
    const size_t full = static_cast<size_t>(count) * static_cast<size_t>(width);
    text.resize(full, ' ');
    // A zero stays the same zero under a scale without a sign bit.
    const bool keepsZero = !std::signbit(scale);
    for (int f = 0; f < count; ++f) {
        char* field = &text[static_cast<size_t>(f) * static_cast<size_t>(width)];
        float v = 0.0f;
        if (width == kNormalWidth) {
            // Most fields are in the form written here: a value that does
            // not change keeps its text, the others are read without the
            // general parser.
            const bool kept = scaled(f) ? keepsZero && (std::memcmp(field, "  0.000e+0", kNormalWidth) == 0 ||
                                                        std::memcmp(field, " -0.000e+0", kNormalWidth) == 0)
                                        : IsWrittenField10(field);
            if (kept) continue;
            if (!ReadShortenedField10(field, v)) v = ParseFieldFloat(field, field + kNormalWidth);
        } else {
            v = ParseFieldFloat(field, field + width);
        }
        if (scaled(f)) v *= scale;
        char out[48];
        FormatFixedField(out, v, width);
        std::memcpy(field, out, static_cast<size_t>(width));
    }
}

// A header line of "%10d" fields into out, cut to size - 1 characters and
// terminated; its length.
int PutHeader(char* out, size_t size, std::initializer_list<int> values)
{
    char text[kHeaderFields * 16];
    char* p = text;
    for (const int v : values) p = PutIntField(p, v, kHeaderWidth);
    if (size == 0) return 0;
    const size_t length = std::min(static_cast<size_t>(p - text), size - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace

// ---------------------------------------------------------- formatting

int FormatFixedField(char* out, float x, int width)
{
    return FormatShortenedField(out, width, width == kLargeWidth ? 9 : 3, static_cast<double>(x));
}

// ---------------------------------------------------------- StressData

StressData::StressData(EleType kind) : type(kind)
{
    stressArr.reserve(100);
    hisArr.reserve(100);
}

int StressData::HisLinesPerPoint() const { return (nhisv + kNormalFields - 1) / kNormalFields; }

int StressData::LargeValuesPerPoint() const
{
    // T, six stresses and EPS for shells; six stresses and EPS for solids.
    return (type == kEleSolid ? 7 : 8) + nhisv;
}

CsRecordStatus StressData::ReadHeader(const CsString& line)
{
    eid = nplane = nthick = nhisv = large = 0;
    error_.Empty();
    if (EndsSection(line)) return CsRecordStatus::kEnd;
    HeaderFields h;
    const bool solid = type == kEleSolid;
    const int required = solid ? 2 : 3;
    bool complete = ParseHeaderFields(line, h);
    for (int f = 0; f < required; ++f) complete = complete && h.present[f];
    if (!complete) {
        error_ = Unreadable("Initial stress", line);
        return CsRecordStatus::kError;
    }
    eid = ToInt(h.value[0]);
    CsString reason;
    if (solid) {
        // EID, NINT, NHISV, LARGE; IVEFLG, IALEGP and the thermal counts
        // change the layout in ways not carried here.
        nplane = 1;
        nthick = ToInt(h.value[1]);
        nhisv = ToInt(h.value[2]);
        large = ToInt(h.value[3]);
        for (int f = 4; f < kHeaderFields && reason.IsEmpty(); ++f) {
            if (h.value[f] != 0) reason.Format("field %d is %lld", f + 1, h.value[f]);
        }
    } else {
        // EID, NPLANE, NTHICK, NHISV, NTENSR, LARGE, NTHINT, NTHHSV.
        nplane = ToInt(h.value[1]);
        nthick = ToInt(h.value[2]);
        nhisv = ToInt(h.value[3]);
        large = ToInt(h.value[5]);
        if (h.value[4] != 0) reason.Format("NTENSR = %lld", h.value[4]);
        else if (h.value[6] != 0 || h.value[7] != 0) reason.Format("NTHINT = %lld, NTHHSV = %lld", h.value[6], h.value[7]);
        else if (type != kEleShell && large != 0) reason.Format("LARGE = %d", large);
    }
    if (reason.IsEmpty() && large != 0 && large != 1) reason.Format("LARGE = %d", large);
    if (reason.IsEmpty() && (nplane < 1 || nthick < 1 || nhisv < 0)) {
        reason.Format("%d x %d integration points with %d history values", nplane, nthick, nhisv);
    }
    long long lines = 0;
    if (reason.IsEmpty()) {
        const long long points = static_cast<long long>(nplane) * nthick;
        lines = large ? points * ((LargeValuesPerPoint() + kLargeFields - 1) / kLargeFields)
                      : points * (1 + HisLinesPerPoint());
        if (lines > kMaxRecordLines) reason.Format("%lld lines", lines);
    }
    if (!reason.IsEmpty()) {
        error_ = Describe("initial stress", eid, reason);
        return CsRecordStatus::kError;
    }
    const size_t points = static_cast<size_t>(nplane) * static_cast<size_t>(nthick);
    if (large) {
        stressArr.resize(0);
        hisArr.resize(static_cast<size_t>(lines));
    } else {
        stressArr.resize(points);
        hisArr.resize(points * static_cast<size_t>(HisLinesPerPoint()));
    }
    return CsRecordStatus::kOk;
}

int StressData::GetBodyLineNum() const { return static_cast<int>(stressArr.size() + hisArr.size()); }

CsString& StressData::BodyLine(int k)
{
    if (large) return hisArr[static_cast<size_t>(k)];
    const int his = HisLinesPerPoint();
    const int point = k / (1 + his);
    const int rest = k % (1 + his);
    if (rest == 0) return stressArr[static_cast<size_t>(point)];
    return hisArr[static_cast<size_t>(point * his + rest - 1)];
}

const CsString& StressData::GetBodyLine(int k) const { return const_cast<StressData*>(this)->BodyLine(k); }

int StressData::FormatHeader(int elemId, char* out, size_t size) const
{
    if (type == kEleSolid) return PutHeader(out, size, {elemId, nthick, nhisv, large});
    if (large) return PutHeader(out, size, {elemId, nplane, nthick, nhisv, 0, large});
    return PutHeader(out, size, {elemId, nplane, nthick, nhisv});
}

CsString StressData::DescribeError() const { return error_; }

void StressData::Anneal(float scale)
{
    // Also refuses a NaN scale.
    if (!(scale <= 9.999998f) || scale == 1.0f) return;
    if (type != kEleShell && type != kEleTShell && type != kEleSolid) return;
    if (large) AnnealLarge(scale);
    else AnnealNormal(scale);
}

void StressData::AnnealNormal(float scale)
{
    const bool solid = type == kEleSolid;
    // Shell lines: T, six stresses, EPS; only the stresses scale. Solid
    // lines: six stresses and EPS, all scaled.
    const int fields = solid ? 7 : 8;
    for (CsString& line : stressArr) {
        RewriteFields(line, kNormalWidth, fields, scale, [solid](int f) { return solid || (f >= 1 && f <= 6); });
    }
    const int his = HisLinesPerPoint();
    if (his == 0) return;
    for (size_t k = 0; k < hisArr.size(); ++k) {
        const int j = static_cast<int>(k % static_cast<size_t>(his));
        const int count = j == his - 1 ? nhisv - kNormalFields * j : kNormalFields;
        RewriteFields(hisArr[k], kNormalWidth, count, scale, [](int) { return true; });
    }
}

void StressData::AnnealLarge(float scale)
{
    const bool shell = type != kEleSolid;
    const int values = LargeValuesPerPoint();
    const int perPoint = (values + kLargeFields - 1) / kLargeFields;
    for (size_t k = 0; k < hisArr.size(); ++k) {
        const int first = static_cast<int>(k % static_cast<size_t>(perPoint)) * kLargeFields;
        const int count = std::min(kLargeFields, values - first);
        // A shell point's T (value 0) and EPS (value 7) keep their values.
        RewriteFields(hisArr[k], kLargeWidth, count, scale, [shell, first](int f) {
            const int i = first + f;
            return !(shell && (i == 0 || i == 7));
        });
    }
}

// ---------------------------------------------------------- StrainData

StrainData::StrainData(EleType kind) : type(kind) { lines.reserve(2); }

CsRecordStatus StrainData::ReadHeader(const CsString& line)
{
    eid = nplane = nthick = 0;
    error_.Empty();
    if (EndsSection(line)) return CsRecordStatus::kEnd;
    HeaderFields h;
    if (!ParseHeaderFields(line, h) || !h.present[0]) {
        error_ = Unreadable("Initial strain", line);
        return CsRecordStatus::kError;
    }
    eid = ToInt(h.value[0]);
    CsString reason;
    long long count = 0;
    if (type == kEleShell) {
        // EID, NPLANE, NTHICK: one line per integration point when both are
        // given, else the two surface lines.
        for (int f = 3; f < kHeaderFields && reason.IsEmpty(); ++f) {
            if (h.value[f] != 0) reason.Format("field %d is %lld", f + 1, h.value[f]);
        }
        const long long np = h.value[1];
        const long long nt = h.value[2];
        if (reason.IsEmpty()) {
            if (np > 0 && nt > 0) {
                count = np * nt;
                if (count > kMaxRecordLines) reason.Format("%lld lines", count);
                nplane = ToInt(np);
                nthick = ToInt(nt);
            } else if (np == 0 && nt == 0) {
                count = 2;
            } else {
                reason.Format("NPLANE = %lld, NTHICK = %lld", np, nt);
            }
        }
    } else {
        // One strain line; a point count above 1 or further fields would
        // mean a layout not carried here.
        for (int f = 1; f < kHeaderFields && reason.IsEmpty(); ++f) {
            const bool allowed = f == 1 && (h.value[f] == 0 || h.value[f] == 1);
            if (h.value[f] != 0 && !allowed) reason.Format("field %d is %lld", f + 1, h.value[f]);
        }
        count = 1;
    }
    if (!reason.IsEmpty()) {
        nplane = nthick = 0;
        error_ = Describe("initial strain", eid, reason);
        return CsRecordStatus::kError;
    }
    lines.resize(static_cast<size_t>(count));
    return CsRecordStatus::kOk;
}

int StrainData::FormatHeader(int elemId, char* out, size_t size) const
{
    return nplane > 0 ? PutHeader(out, size, {elemId, nplane, nthick}) : PutHeader(out, size, {elemId});
}

CsString StrainData::DescribeError() const { return error_; }
