// The fields of a deck's cards: free or fixed columns, commas, comments,
// and numbers read the way the cards write them.
#ifndef QDSFILE_DECK_FIELDS_H
#define QDSFILE_DECK_FIELDS_H

#include "qdsfile.h"

#include <string>
#include <string_view>
#include <vector>

namespace csdeck {

bool IsBlank(char c);
std::string_view Trim(std::string_view text);
std::string_view TrimRight(std::string_view text);
// The first non-blank character of a line, or '\0'.
char FirstChar(const CsString& line);
bool IsComment(const CsString& line);
bool IsKeyword(const CsString& line);
bool HasComma(const CsString& line);
// Whole-text conversions: a number followed by anything but blanks is no number.
bool ParseInt(std::string_view text, int& out);
bool ParseReal(std::string_view text, double& out);
// Values the cards hold in single precision are rounded to it before they are
// stored, so that a deck gives the same numbers whichever card reads them; a
// value beyond the single range is refused rather than made infinite.
bool ParseSingle(std::string_view text, double& out);
// Codes are integers, but some tools write them as reals ("1.").
bool ParseCode(std::string_view text, int& out);
// The values of a card line: comma-separated fields in free format (an empty
// field stands for 0, as in the keyword format), else blank-separated words.
std::vector<std::string> Values(const CsString& line);
// Converts the leading values of a line by a pattern of 'd' (integer) and 'f'
// (single-precision real); returns how many converted before the first failure.
int ScanValues(const CsString& line, const char* pattern, double* out);
bool LeadingInt(const CsString& line, int& out);
// The integer a fixed-column card holds from a character position on (its
// first word there), for the trailing fields the cards read by column.
bool IntFromColumn(const CsString& line, int column, int& out);
// The n-th field of a card line as text; empty when blank or absent.
std::string Field(const CsString& line, int n);
// A real field: blank stands for the fallback, anything else must be a number.
bool RealField(const CsString& line, int n, double fallback, double& out);
bool IntField(const CsString& line, int n, int& out);
// The next data line of the current card as it stands in the file (column
// positions kept, which the fixed-format fields rely on). Comment lines are
// passed; at a keyword line (stepped back over) or at the end of the file
// the card has no further line and the answer is 0.
int NextDataLine(CsTextFile& file, CsString& line);

}  // namespace csdeck

#endif
