#include "qdsfile_deck_fields.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace csdeck {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view TrimRight(std::string_view text)
{
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The first non-blank character of a line, or '\0'.
char FirstChar(const CsString& line)
{
    for (const char c : line.str()) {
        if (!IsBlank(c)) return c;
    }
    return '\0';
}

bool IsComment(const CsString& line) { return CsTextFile::IsCommentChar(FirstChar(line)); }
bool IsKeyword(const CsString& line) { return CsTextFile::IsKeywordChar(FirstChar(line)); }
bool HasComma(const CsString& line) { return line.Find(',') >= 0; }

// Whole-text conversions: a number followed by anything but blanks is no number.
bool ParseInt(std::string_view text, int& out)
{
    const std::string field(Trim(text));
    if (field.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(field.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT_MIN || value > INT_MAX) return false;
    out = static_cast<int>(value);
    return true;
}

bool ParseReal(std::string_view text, double& out)
{
    const std::string field(Trim(text));
    if (field.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    if (errno == ERANGE && std::fabs(value) > 1.0) return false;
    if (*end != '\0' || !std::isfinite(value)) return false;
    out = value;
    return true;
}

// Values the cards hold in single precision are rounded to it before they are
// stored, so that a deck gives the same numbers whichever card reads them; a
// value beyond the single range is refused rather than made infinite.
bool ParseSingle(std::string_view text, double& out)
{
    double value = 0.0;
    if (!ParseReal(text, value) || std::fabs(value) > FLT_MAX) return false;
    out = static_cast<double>(static_cast<float>(value));
    return true;
}

// Codes are integers, but some tools write them as reals ("1.").
bool ParseCode(std::string_view text, int& out)
{
    if (ParseInt(text, out)) return true;
    double value = 0.0;
    if (!ParseReal(text, value) || value != std::floor(value) || std::fabs(value) > 1e9) return false;
    out = static_cast<int>(value);
    return true;
}

// The values of a card line: comma-separated fields in free format (an empty
// field stands for 0, as in the keyword format), else blank-separated words.
std::vector<std::string> Values(const CsString& line)
{
    std::vector<std::string> values;
    const std::string& text = line.str();
    if (HasComma(line)) {
        size_t start = 0;
        while (true) {
            const size_t comma = text.find(',', start);
            const std::string_view field = Trim(std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            values.emplace_back(field.empty() ? std::string("0") : std::string(field));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        // A trailing comma does not make one more value.
        if (!text.empty() && Trim(std::string_view(text).substr(text.rfind(',') + 1)).empty()) values.pop_back();
        return values;
    }
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) ++i;
        if (i > start) values.emplace_back(text, start, i - start);
    }
    return values;
}

// Converts the leading values of a line by a pattern of 'd' (integer) and 'f'
// (single-precision real); returns how many converted before the first failure.
int ScanValues(const CsString& line, const char* pattern, double* out)
{
    const std::vector<std::string> values = Values(line);
    int count = 0;
    for (; pattern[count] != '\0'; ++count) {
        if (static_cast<size_t>(count) >= values.size()) break;
        if (pattern[count] == 'd') {
            int value = 0;
            if (!ParseInt(values[static_cast<size_t>(count)], value)) break;
            out[count] = value;
        } else {
            if (!ParseSingle(values[static_cast<size_t>(count)], out[count])) break;
        }
    }
    return count;
}

bool LeadingInt(const CsString& line, int& out)
{
    double value = 0.0;
    if (ScanValues(line, "d", &value) != 1) return false;
    out = static_cast<int>(value);
    return true;
}

// The integer a fixed-column card holds from a character position on (its
// first word there), for the trailing fields the cards read by column.
bool IntFromColumn(const CsString& line, int column, int& out)
{
    if (line.GetLength() <= column) return false;
    const CsString rest(line.str().substr(static_cast<size_t>(column)));
    return LeadingInt(rest, out);
}

// The n-th field of a card line as text; empty when blank or absent.
std::string Field(const CsString& line, int n)
{
    const char* field = CsTextFile::FindValidField(line, n);
    return field ? std::string(Trim(field)) : std::string();
}

// A real field: blank stands for the fallback, anything else must be a number.
bool RealField(const CsString& line, int n, double fallback, double& out)
{
    const std::string field = Field(line, n);
    if (field.empty()) {
        out = fallback;
        return true;
    }
    return ParseReal(field, out);
}

bool IntField(const CsString& line, int n, int& out)
{
    const std::string field = Field(line, n);
    return !field.empty() && ParseInt(field, out);
}

// The next data line of the current card as it stands in the file (column
// positions kept, which the fixed-format fields rely on). Comment lines are
// passed; at a keyword line (stepped back over) or at the end of the file
// the card has no further line and the answer is 0.
int NextDataLine(CsTextFile& file, CsString& line)
{
    while (true) {
        const int count = file.GetLine(line);
        if (count == 0) return 0;
        if (IsComment(line)) continue;
        if (IsKeyword(line)) {
            file.BackToLine(count);
            return 0;
        }
        return 1;
    }
}

}  // namespace csdeck
