// Initial stress and strain records. They are never parsed into the model:
// the state reader fills one record at a time from the file, the writer
// copies it to the output once per element that inherits it, and annealing
// rewrites the stress values in place. One record object is meant to be
// reused for a whole section; its line buffers are kept from one element to
// the next, so streaming a section allocates nothing per line.
//
// Streaming one record:
//   switch (record.ReadHeader(line)) -> kEnd: the section is over (the line
//     belongs to the caller); kError: report record.DescribeError();
//   for k in 0 .. GetBodyLineNum() - 1: read the next file line into
//     BodyLine(k);
//   Anneal(scale) for stresses; FormatHeader(eid, ...) and GetBodyLine(k) to
//     write it under each element id.
#ifndef QDSFILE_STRESS_H
#define QDSFILE_STRESS_H

#include "qdsdatadef.h"
#include "qdxstring.h"

#include <cstddef>
#include <vector>

// What a line read where a block header belongs turned out to be.
enum class CsRecordStatus {
    kEnd,    // a keyword, comment or blank line: the section has ended
    kOk,     // a header; the record is sized for its body lines
    kError,  // a header (or a data line) whose layout cannot be known for sure
};

// Room for the longest header FormatHeader writes, with its terminator.
constexpr size_t kRecordHeaderSize = 96;

class StressData {
public:
    explicit StressData(EleType kind);

    CsRecordStatus ReadHeader(const CsString& line);
    // The lines that follow the header, in file order.
    int GetBodyLineNum() const;
    CsString& BodyLine(int k);
    const CsString& GetBodyLine(int k) const;
    // The header for the record written under element id elemId, without a
    // newline; its length.
    int FormatHeader(int elemId, char* out, size_t size) const;
    // Why the last header was refused, naming the element when it is known.
    CsString DescribeError() const;

    // Multiplies the stresses and history values by scale and rewrites their
    // fields in the fixed 10- or 16-column form. A scale of 1 leaves the text
    // as read, so that values no anneal applies to keep every digit.
    void Anneal(float scale);

    int GetEid() const { return eid; }
    int GetNplane() const { return nplane; }
    int GetNthick() const { return nthick; }
    int GetNhisv() const { return nhisv; }
    int GetLarge() const { return large; }
    EleType GetType() const { return type; }
    int GetPointNum() const { return nplane * nthick; }
    // Normal layout: one stress line per integration point.
    const std::vector<CsString>& GetStressArr() const { return stressArr; }
    // Normal layout: ceil(NHISV / 8) history lines per point; large layout:
    // every line of every point.
    const std::vector<CsString>& GetHisArr() const { return hisArr; }

private:
    int HisLinesPerPoint() const;
    int LargeValuesPerPoint() const;
    void AnnealNormal(float scale);
    void AnnealLarge(float scale);

    int eid = 0;
    int nplane = 0;
    int nthick = 0;
    int nhisv = 0;
    int large = 0;
    EleType type;
    std::vector<CsString> stressArr;
    std::vector<CsString> hisArr;
    CsString error_;
};

class StrainData {
public:
    explicit StrainData(EleType kind);

    CsRecordStatus ReadHeader(const CsString& line);
    int GetBodyLineNum() const { return static_cast<int>(lines.size()); }
    CsString& BodyLine(int k) { return lines[static_cast<size_t>(k)]; }
    const CsString& GetBodyLine(int k) const { return lines[static_cast<size_t>(k)]; }
    int FormatHeader(int elemId, char* out, size_t size) const;
    CsString DescribeError() const;

    int GetEid() const { return eid; }
    EleType GetType() const { return type; }
    // Both positive for a shell record with one strain line per
    // integration point; both 0 for the two-surface layout (and for solids).
    int GetNplane() const { return nplane; }
    int GetNthick() const { return nthick; }

private:
    int eid = 0;
    EleType type;
    int nplane = 0;
    int nthick = 0;
    std::vector<CsString> lines;
    CsString error_;
};

// x in the form "%10.3e" (width 10) or "%16.9e" (width 16) with the
// exponent's leading zero removed, right-justified to the width (as
// FormatFloatTo10C / FormatFloatTo16C, without their static buffers); the
// number of characters. out needs room for 48.
int FormatFixedField(char* out, float x, int width);

#endif
