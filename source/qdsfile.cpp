#include "qdsfile.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <cstdarg>
#include <cstring>

namespace {

// The reader's buffer and the writer's: large enough that a gigabyte state
// file costs some ten thousand system calls, small enough that both stay in
// the processor's cache while the kernel copies them (with a megabyte each,
// writing took twice the system time).
constexpr size_t kReadBufferSize = 1 << 17;
constexpr size_t kWriteBufferSize = 1 << 17;

// Lines longer than this are returned in pieces (one byte between two pieces
// is consumed and dropped).
constexpr int kMaxLineBytes = 255;

constexpr int kMaxFieldChars = 80;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

CsString Upper(CsString text) { return text.MakeUpper(); }

}  // namespace

// ---------------------------------------------------------------- CsFile

CsFile::~CsFile() { CloseFile(); }

int CsFile::OpenFile(const CsString& name, MODE mode)
{
    name_ = name;
    return OpenFile(mode);
}

int CsFile::OpenFile(MODE mode)
{
    const char* base = nullptr;
    if (mode == READ) base = "r";
    else if (mode == WRITE) base = "w";
    else return 0;
    mode_ = mode;
    name_.Replace('\\', '/');
    CloseFile();
    const CsString how = CsString(base) + suffix_;
    suffix_.Empty();
    if (name_.IsEmpty()) return 0;
    if (mode == READ) {
        // Only a regular file: a directory opens for reading on this system
        // and then reads as nothing, a FIFO blocks the open, and a device
        // such as /dev/zero never ends.
        struct stat info{};
        if (stat(name_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return 0;
    }
    stream_ = std::fopen(name_.c_str(), how.c_str());
    if (!stream_) return 0;
    if (mode == WRITE) {
        writeBuffer_.resize(kWriteBufferSize);
        std::setvbuf(stream_, writeBuffer_.data(), _IOFBF, writeBuffer_.size());
    }
    return 1;
}

void CsFile::CloseFile()
{
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
}

bool CsFile::IsFileEnd() const { return stream_ && std::feof(stream_); }

void CsFile::ReWind()
{
    if (stream_) std::rewind(stream_);
}

CsString CsFile::GetFilePath() const
{
    int cut = name_.RFind('/');
    if (cut < 0) cut = name_.RFind('\\');
    return cut < 0 ? name_ : name_.Left(cut);
}

CsString CsFile::FindExName() const
{
    const int dot = name_.RFind('.');
    if (dot < 0) return name_;
    return name_.Mid(dot + 1);
}

bool CsFile::IsDynain() const
{
    return Upper(name_) == "DYNAIN" || Upper(FindExName()) == "DYNAIN";
}

void CsFile::WriteString(const CsString& text) { WriteString(text.c_str(), static_cast<size_t>(text.GetLength())); }

// The writer puts tens of millions of pieces on one stream from one thread:
// the stream's lock on every call would cost more than the copy.
void CsFile::WriteString(const char* text, size_t length)
{
    if (stream_ && length > 0) fwrite_unlocked(text, 1, length, stream_);
}

void CsFile::Write(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stream_, format, args);
    va_end(args);
}

void CsFile::WriteFeed()
{
    if (stream_) putc_unlocked('\n', stream_);
}

bool CsFile::HasWriteError() const
{
    // Output still in the buffer has not met the disk yet.
    return stream_ && (std::fflush(stream_) != 0 || std::ferror(stream_));
}

// ------------------------------------------------------------ CsTextFile

int CsTextFile::OpenFile(MODE mode)
{
    // Binary reading keeps byte counts exact, which un-reading relies on.
    if (mode == READ) AddFormat("b");
    begin_ = end_ = 0;
    origin_ = 0;
    atEnd_ = false;
    const int opened = CsFile::OpenFile(mode);
    if (opened && mode == READ && buffer_.size() != kReadBufferSize) buffer_.resize(kReadBufferSize);
    return opened;
}

bool CsTextFile::Fill()
{
    if (!Stream() || !IsReadOnly()) return false;
    origin_ += static_cast<long long>(end_);
    begin_ = end_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), Stream());
    return end_ > 0;
}

bool CsTextFile::IsFileEnd() const { return atEnd_; }

void CsTextFile::ReWind()
{
    CsFile::ReWind();
    begin_ = end_ = 0;
    origin_ = 0;
    atEnd_ = false;
}

int CsTextFile::GetLine(CsString& line)
{
    std::string& out = line.str();
    out.clear();
    int stored = 0;
    bool terminated = false;  // a newline or the dropped byte was consumed
    while (true) {
        if (begin_ == end_ && !Fill()) {
            atEnd_ = true;
            break;
        }
        const char* data = buffer_.data() + begin_;
        const size_t take = std::min(end_ - begin_, static_cast<size_t>(kMaxLineBytes - stored));
        const void* newline = std::memchr(data, '\n', take);
        if (newline) {
            const size_t length = static_cast<size_t>(static_cast<const char*>(newline) - data);
            out.append(data, length);
            begin_ += length + 1;
            stored += static_cast<int>(length);
            terminated = true;
            break;
        }
        out.append(data, take);
        begin_ += take;
        stored += static_cast<int>(take);
        if (stored == kMaxLineBytes) {
            if (begin_ == end_ && !Fill()) {
                atEnd_ = true;
                break;
            }
            ++begin_;
            terminated = true;
            break;
        }
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return stored + (terminated ? 1 : 0);
}

CsString CsTextFile::GetLine()
{
    CsString line;
    GetLine(line);
    return line;
}

void CsTextFile::BackToLine(int bytes)
{
    if (bytes <= 0 || !Stream()) return;
    atEnd_ = false;
    if (static_cast<size_t>(bytes) <= begin_) {
        begin_ -= static_cast<size_t>(bytes);
        return;
    }
    long long target = origin_ + static_cast<long long>(begin_) - bytes;
    if (target < 0) target = 0;
    fseeko(Stream(), static_cast<off_t>(target), SEEK_SET);
    origin_ = target;
    begin_ = end_ = 0;
}

bool CsTextFile::SkipToKeywordLine()
{
    CsString piece;
    while (true) {
        if (begin_ == end_ && !Fill()) {
            atEnd_ = true;
            return false;
        }
        const char* data = buffer_.data();
        // Lines without a keyword character anywhere are no keyword lines,
        // however long: go straight to the line of the next one.
        const void* star = std::memchr(data + begin_, '*', end_ - begin_);
        const size_t upto = star ? static_cast<size_t>(static_cast<const char*>(star) - data) : end_;
        const void* before = memrchr(data + begin_, '\n', upto - begin_);
        if (before) begin_ = static_cast<size_t>(static_cast<const char*>(before) - data) + 1;
        // Whole lines inside the buffer, shorter than a piece, are looked at
        // where they lie, up to the one holding that keyword character.
        bool exact = true;
        while (begin_ <= upto) {
            const char* line = data + begin_;
            const void* newline = std::memchr(line, '\n', end_ - begin_);
            if (!newline) break;
            const size_t length = static_cast<size_t>(static_cast<const char*>(newline) - line);
            if (length >= static_cast<size_t>(kMaxLineBytes)) break;
            size_t first = 0;
            while (first < length && IsBlank(line[first])) ++first;
            if (first < length && IsKeywordChar(line[first])) return true;
            begin_ += length + 1;
            exact = begin_ <= upto;
        }
        if (!exact || begin_ == end_) continue;
        // A line running past the buffer, or a long one: the exact reader
        // takes one piece of it.
        const int count = GetLine(piece);
        if (count == 0) return false;
        const char* p = piece.c_str();
        while (IsBlank(*p)) ++p;
        if (IsKeywordChar(*p)) {
            BackToLine(count);
            return true;
        }
    }
}

int CsTextFile::SkipCommentLine()
{
    CsString line;
    int count = 0;
    do {
        count = GetLine(line);
        line.TrimLeftSpace();
    } while (count > 0 && IsCommentChar(line[0]));
    BackToLine(count);
    return IsKeywordChar(line[0]) ? 0 : 1;
}

int CsTextFile::FindDataLine(CsString& line)
{
    int count = 0;
    do {
        count = GetLine(line);
        line.TrimLeftSpace();
    } while (count > 0 && IsCommentChar(line[0]));
    // At the end of the file there is no data line either; answering 1 there
    // would keep a card reader looping on empty lines.
    if (count == 0) return 0;
    if (IsKeywordChar(line[0])) {
        BackToLine(count);
        return 0;
    }
    return 1;
}

const char* CsTextFile::FindValidField(const CsString& line, int n)
{
    static char field[kMaxFieldChars + 2];
    if (n < 1) return nullptr;
    const char* text = line.c_str();
    const size_t length = static_cast<size_t>(line.GetLength());
    size_t start = 0;
    size_t stop = 0;
    if (std::memchr(text, ',', length)) {
        for (int comma = 1; comma < n; ++comma) {
            const void* next = std::memchr(text + start, ',', length - start);
            if (!next) return nullptr;
            start = static_cast<size_t>(static_cast<const char*>(next) - text) + 1;
        }
        while (start < length && IsBlank(text[start])) ++start;
        if (start == length || text[start] == ',') return nullptr;
        const void* next = std::memchr(text + start, ',', length - start);
        stop = next ? static_cast<size_t>(static_cast<const char*>(next) - text) : length;
    } else {
        start = static_cast<size_t>(10) * static_cast<size_t>(n - 1);
        if (length <= start) return nullptr;
        stop = std::min(length, start + 10);
        size_t first = start;
        while (first < stop && IsBlank(text[first])) ++first;
        if (first == stop) return nullptr;
    }
    const size_t count = std::min(stop - start, static_cast<size_t>(kMaxFieldChars));
    std::memcpy(field, text + start, count);
    field[count] = '\0';
    return field;
}

int CsTextFile::GetExtent() const
{
    if (IsDynain()) return 3;
    const CsString ext = Upper(FindExName());
    if (ext == "DYN") return 0;
    if (ext == "MOD") return 1;
    if (ext == "BLK") return 2;
    if (ext == "IDX") return 4;
    return 5;
}

bool CsTextFile::IsDynFile() const { return Upper(FindExName()) == "DYN"; }
bool CsTextFile::IsModFile() const { return Upper(FindExName()) == "MOD"; }
bool CsTextFile::IsBlkFile() const { return Upper(FindExName()) == "BLK"; }

// ------------------------------------------------------------ CsBinaFile

int CsBinaFile::OpenFile(MODE mode)
{
    AddFormat("b");
    return CsFile::OpenFile(mode);
}

// -------------------------------------------------------------- CsWrtMsg

int CsWrtMsg::WriteFile()
{
    if (IsFileOpen()) {
        if (!IsWriteOnly()) return 0;
    } else {
        const CsString key = dataManage.GetStrKeyID();
        const CsString name = key.IsEmpty() ? CsString("messag") : SafeFileName(key) + ".messag";
        CsString path = dataManage.GetCurWorkPath();
        if (!path.IsEmpty()) path += "/";
        path += name;
        if (!OpenFile(path, WRITE)) {
            const int dot = path.RFind('.');
            if (dot > 0) path = path.Left(dot) + "_slv";
            path += ".messag";
            if (!OpenFile(path, WRITE)) return 0;
        }
    }
    CsMessage reader;
    for (const CsString& entry : reader.GetMsgArr()) {
        WriteString(entry);
        WriteFeed();
    }
    const bool failed = HasWriteError();
    CloseFile();
    if (failed) return 0;
    CsMessage::Free();
    return 1;
}

// ------------------------------------------------------ number formatting

CsString SafeFileName(const CsString& name)
{
    CsString safe = name;
    std::string& text = safe.str();
    for (char& c : text) {
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    }
    // A name starting with a dot is hidden from a plain listing, and the
    // output would seem to be missing; this also keeps "." and ".." from
    // naming a directory.
    for (size_t k = 0; k < text.size() && text[k] == '.'; ++k) text[k] = '_';
    return safe;
}

int ShortenExponent(char* text)
{
    char* e = std::strchr(text, 'e');
    int length = static_cast<int>(std::strlen(text));
    if (!e || e[1] == '\0' || e[2] != '0') return length;
    std::memmove(e + 2, e + 3, std::strlen(e + 3) + 1);
    return length - 1;
}

namespace {

// 10^-64 .. 10^64 as the compiler rounds the literals, which is as strtod
// rounds them; up to 1e22 they are exact. Numbers needing a power beyond
// take the general paths.
constexpr int kMaxPower = 64;
constexpr double kPowersOf10[] = {
    1e-64, 1e-63, 1e-62, 1e-61, 1e-60, 1e-59, 1e-58, 1e-57, 1e-56, 1e-55, 1e-54, 1e-53, 1e-52, 1e-51, 1e-50,
    1e-49, 1e-48, 1e-47, 1e-46, 1e-45, 1e-44, 1e-43, 1e-42, 1e-41, 1e-40, 1e-39, 1e-38, 1e-37, 1e-36, 1e-35,
    1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20,
    1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4,
    1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31, 1e32,
    1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49,
    1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59, 1e60, 1e61, 1e62, 1e63, 1e64};
static_assert(sizeof kPowersOf10 / sizeof kPowersOf10[0] == 2 * kMaxPower + 1, "one power per exponent");

double PowerOf10(int k) { return kPowersOf10[k + kMaxPower]; }

// The general path: to_chars rounds the exact binary value like the C
// library's "%.*e" does.
int ScientificSlow(char* text, size_t size, double x, int precision)
{
    const std::to_chars_result r = std::to_chars(text, text + size, x, std::chars_format::scientific, precision);
    return static_cast<int>(r.ptr - text);
}

// floor(e * log10(2)) in integer arithmetic, exact for |e| up to 1650.
int FloorLog10Pow2(int e)
{
    // Shifted by 2^18 to keep the operand positive; 2^18 * log10(2) * 2^18
    // is a whole number, so the shift takes exactly kLog10Of2 off again.
    constexpr long long kLog10Of2 = 78913;  // log10(2) * 2^18
    return static_cast<int>(((e + (1LL << 18)) * kLog10Of2 >> 18) - kLog10Of2);
}

// "00" to "99": the digits of a number below 100 at twice its index.
struct TwoDigitTable {
    char text[200];
    constexpr TwoDigitTable() : text()
    {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr TwoDigitTable kTwoDigits;

// value (below 100^Pairs) as exactly 2 * Pairs digits, leading zeros included.
template <int Pairs>
void PutDigitPairs(char* p, unsigned value)
{
    for (int i = Pairs - 1; i >= 0; --i) {
        std::memcpy(p + 2 * i, kTwoDigits.text + 2 * (value % 100), 2);
        value /= 100;
    }
}

constexpr double kPowerOf10(int n) { return n == 0 ? 1.0 : 10.0 * kPowerOf10(n - 1); }

// The field FormatShortenedField writes, for the common case: x finite and
// of moderate size. The value is scaled to an integer of Precision + 1
// digits in double arithmetic; where that scaling could round the other way
// than the exact value would (a fraction too close to one half), it declines
// with -1.
template <int Precision>
int ShortenedFast(char* out, int width, double x)
{
    static_assert(Precision == 3 || Precision == 9, "digits are put for these two");
    uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const double v = std::fabs(x);
    unsigned long long digits = 0;
    int e10 = 0;
    if (v != 0.0) {
        // The decimal exponent is the estimate from the binary one or one
        // more: both scalings are made, and the one in range taken, so that
        // no multiplication waits for a comparison. Subnormal, infinite and
        // NaN values, and any needing a power beyond the table, are left to
        // the general path.
        const int estimate = FloorLog10Pow2(static_cast<int>((bits >> 52) & 0x7FF) - 1023);
        const int k = Precision - estimate;
        if (static_cast<unsigned>(k - 1 + kMaxPower) > static_cast<unsigned>(2 * kMaxPower - 1)) return -1;
        constexpr double kLow = kPowerOf10(Precision);
        constexpr double kHigh = kPowerOf10(Precision + 1);
        // One multiplication, by an exact power or not: its error of a few
        // units in the last place stays far inside the tie margin below.
        const double low = v * PowerOf10(k);
        const double high = v * PowerOf10(k - 1);
        const bool above = low >= kHigh;
        e10 = estimate + (above ? 1 : 0);
        const double scaled = above ? high : low;
        if (!(scaled >= kLow && scaled < kHigh)) return -1;
        const auto whole = static_cast<unsigned long long>(scaled);
        const double fraction = scaled - static_cast<double>(whole);
        if (std::fabs(fraction - 0.5) <= scaled * 1e-14) return -1;
        digits = whole + (fraction > 0.5 ? 1 : 0);
        if (static_cast<double>(digits) >= kHigh) {
            digits /= 10;
            ++e10;
        }
    }
    // The exponent without the leading zero the fixed columns cannot spare.
    // The text is put without a branch on its sign or length: signs and
    // exponents of stresses come in no order a branch predictor could learn.
    const int e = e10 < 0 ? -e10 : e10;
    const int twoDigits = e >= 10 ? 1 : 0;
    const int length = (negative ? 1 : 0) + Precision + 5 + twoDigits;
    const int pad = length < width ? width - length : 0;
    if (pad > 16) std::memset(out, ' ', static_cast<size_t>(pad));
    else std::memset(out, ' ', 16);
    // A minus sign where the first digit goes is overwritten when there is
    // no sign.
    out[pad] = '-';
    char* p = out + pad + (negative ? 1 : 0);
    // The first two digits around the point, then the rest in pairs.
    constexpr unsigned long long kRest = static_cast<unsigned long long>(kPowerOf10(Precision - 1));
    const auto lead = static_cast<unsigned>(digits / kRest);
    p[0] = kTwoDigits.text[2 * lead];
    p[1] = '.';
    p[2] = kTwoDigits.text[2 * lead + 1];
    PutDigitPairs<(Precision - 1) / 2>(p + 3, static_cast<unsigned>(digits % kRest));
    p += Precision + 2;
    p[0] = 'e';
    p[1] = e10 < 0 ? '-' : '+';
    p[2] = kTwoDigits.text[2 * e + 1 - twoDigits];
    p[3] = kTwoDigits.text[2 * e + 1];
    p[3 + twoDigits] = '\0';
    return pad + length;
}

// mantissa * 10^scale (mantissa below 2^53) rounded to single precision as
// the C library's conversion rounds the exact decimal; false where one
// double operation cannot decide that.
inline bool DecimalToFloat(unsigned long long mantissa, int scale, bool negative, float& out)
{
    if (scale < -kMaxPower || scale > kMaxPower) return false;
    // One multiplication by the power (inexact below 10^0 and above 10^22)
    // puts the double within three units in its last place of the exact
    // value. Rounded to single precision, that is the exact value's rounding
    // unless it lies that close to a midpoint between two floats, where the
    // 29 bits a normal float drops are 1000...0: only the exact digits can
    // tell there.
    const double value = static_cast<double>(mantissa) * PowerOf10(scale);
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    constexpr uint64_t kMidpoint = 0x10000000ull;
    constexpr uint64_t kMargin = 8;
    const bool nearMidpoint = (bits & 0x1FFFFFFFull) - (kMidpoint - kMargin) <= 2 * kMargin;
    if (!(value == 0.0 || (value >= 1.2e-38 && value <= 3.4e38 && !nearMidpoint))) return false;
    const float rounded = static_cast<float>(value);
    out = negative ? -rounded : rounded;
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int Digit(char c) { return c - '0'; }

// A decimal "[-]digits[.digits][e[+-]digits]" from p on: its significant
// digits as an integer (meaningful while there are at most 19), their count,
// the power of ten that scales them and where the text stopped. An "e"
// without exponent digits is no part of it.
struct Decimal {
    const char* stop = nullptr;
    unsigned long long mantissa = 0;
    int digits = 0;
    int scale = 0;
    bool negative = false;
    bool any = false;  // a digit was seen
};

Decimal ScanDecimal(const char* p, const char* end)
{
    Decimal d;
    d.negative = p < end && *p == '-';
    if (d.negative) ++p;
    for (; p < end && IsDigit(*p); ++p, d.any = true) {
        if (d.mantissa == 0 && *p == '0') continue;
        d.mantissa = d.mantissa * 10 + static_cast<unsigned>(Digit(*p));
        ++d.digits;
    }
    if (p < end && *p == '.') {
        for (++p; p < end && IsDigit(*p); ++p, d.any = true) {
            --d.scale;
            if (d.mantissa == 0 && *p == '0') continue;
            d.mantissa = d.mantissa * 10 + static_cast<unsigned>(Digit(*p));
            ++d.digits;
        }
    }
    if (d.any && p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        const bool minus = q < end && *q == '-';
        if (q < end && (*q == '+' || *q == '-')) ++q;
        int exponent = 0;
        const char* first = q;
        for (; q < end && IsDigit(*q) && exponent < 10000; ++q) exponent = exponent * 10 + Digit(*q);
        if (q > first) {
            d.scale += minus ? -exponent : exponent;
            p = q;
        }
    }
    d.stop = p;
    return d;
}

}  // namespace

int FormatShortenedField(char* out, int width, int precision, double x)
{
    const int fast = precision == 3   ? ShortenedFast<3>(out, width, x)
                     : precision == 9 ? ShortenedFast<9>(out, width, x)
                                      : -1;
    if (fast >= 0) return fast;
    char text[48];
    int length = ScientificSlow(text, sizeof text - 1, x, precision);
    // The exponent is the text's tail ("e+02", "e-308"): look for it there.
    for (int e = length - 1; e >= 0 && e >= length - 5; --e) {
        if (text[e] != 'e') continue;
        if (e + 2 < length && text[e + 2] == '0') {
            std::memmove(text + e + 2, text + e + 3, static_cast<size_t>(length - e - 3));
            --length;
        }
        break;
    }
    const int pad = length < width ? width - length : 0;
    std::memset(out, ' ', static_cast<size_t>(pad));
    std::memcpy(out + pad, text, static_cast<size_t>(length));
    out[pad + length] = '\0';
    return pad + length;
}

float ParseFieldFloat(const char* begin, const char* end)
{
    const char* p = begin;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p < end && *p == '+') ++p;
    const char* start = p;
    // Fast path: at most 15 significant digits and a moderate power of ten.
    const Decimal d = ScanDecimal(p, end);
    float value = 0.0f;
    if (d.any && d.digits <= 15 && DecimalToFloat(d.mantissa, d.scale, d.negative, value)) return value;
    // The rare rest (long digit strings, extreme exponents, overflow to
    // infinity, "nan") goes to the C library itself.
    char copy[96];
    const size_t count = std::min(static_cast<size_t>(end - start), sizeof copy - 1);
    std::memcpy(copy, start, count);
    copy[count] = '\0';
    return std::strtof(copy, nullptr);
}

namespace {

// "[-]d.ddddddddde+x" or with a two-digit exponent, the form written for
// 16-column reals: its ten digits as an integer and the power of ten that
// scales them.
bool SplitWritten16(const char* begin, const char* end, bool& negative, unsigned long long& mantissa,
                    int& scale)
{
    negative = begin < end && *begin == '-';
    const char* p = begin + (negative ? 1 : 0);
    const long n = end - p;
    if (n != 14 && n != 15) return false;
    auto notDigit = [](char c) { return static_cast<unsigned>(c - '0') > 9u; };
    bool bad = notDigit(p[0]) || p[1] != '.' || p[11] != 'e' || (p[12] != '+' && p[12] != '-') ||
               notDigit(p[13]) || notDigit(p[n - 1]);
    unsigned long long digits = static_cast<unsigned long long>(Digit(p[0]));
    for (int i = 2; i <= 10; ++i) {
        bad |= notDigit(p[i]);
        digits = digits * 10 + static_cast<unsigned>(Digit(p[i]));
    }
    if (bad) return false;
    const int magnitude = n == 15 ? Digit(p[13]) * 10 + Digit(p[14]) : Digit(p[13]);
    mantissa = digits;
    scale = (p[12] == '-' ? -magnitude : magnitude) - 9;
    return true;
}

}  // namespace

bool ParseWholeDouble(const char* begin, const char* end, double& value)
{
    // A decimal of at most 15 significant digits and a power of ten up to
    // 1e22 is one correctly rounded operation on two exact doubles. The
    // form this program writes is recognised as a whole; other plain
    // decimals are read digit by digit.
    bool negative = false;
    unsigned long long mantissa = 0;
    int scale = 0;
    bool plain = SplitWritten16(begin, end, negative, mantissa, scale);
    if (!plain) {
        const Decimal d = ScanDecimal(begin, end);
        plain = d.any && d.stop == end && d.digits <= 15;
        negative = d.negative;
        mantissa = d.mantissa;
        scale = d.scale;
    }
    if (plain && scale >= -22 && scale <= 22) {
        const double magnitude = scale >= 0 ? static_cast<double>(mantissa) * PowerOf10(scale)
                                            : static_cast<double>(mantissa) / PowerOf10(-scale);
        value = negative ? -magnitude : magnitude;
        return true;
    }
    const std::from_chars_result r = std::from_chars(begin, end, value);
    return r.ec == std::errc() && r.ptr == end;
}

bool ParseWholeInt(const char* begin, const char* end, int& value)
{
    const char* p = begin;
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    long long v = 0;
    for (const char* q = p; q < end; ++q) {
        if (!IsDigit(*q)) return false;
        v = v * 10 + Digit(*q);
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (p == end || (!negative && v > INT_MAX)) return false;
    value = static_cast<int>(negative ? -v : v);
    return true;
}

namespace {

// The parts of a 10-column field in the form FormatShortenedField writes
// with precision 3.
struct ShortenedText {
    unsigned mantissa = 0;  // the four digits as an integer
    int exponent = 0;
    bool negative = false;
    bool firstZero = false;     // "0.ddd"
    bool exponentZero = false;  // "e+0x" or "e-0x"
    bool minusZero = false;     // "e-0"
};

inline bool SplitShortened10(const char* field, ShortenedText& parts)
{
    // Read from the field's end: "d.ddde+x" in columns 3 to 10 or
    // "d.ddde+xx" in columns 2 to 10, a blank or minus sign before it and
    // blanks before that. The eight bytes of "d.ddde+x" are checked at once
    // as one word (digits are the bytes 0x30 to 0x39).
    const int wide = field[6] == 'e' ? 1 : 0;
    const char* m = field + 2 - wide;
    uint64_t word = 0;
    std::memcpy(&word, m, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);  // m[0] in the low byte
#endif
    // A byte value in the digits' bytes 0, 2, 3, 4 and 7.
    auto atDigits = [](uint64_t v) { return v | v << 16 | v << 24 | v << 32 | v << 56; };
    const uint64_t digits = word & atDigits(0xFF);
    const uint64_t high = atDigits(0xF0);
    const uint64_t zeros = atDigits(0x30);
    const bool shape = ((digits & high) == zeros) & (((digits + atDigits(0x06)) & high) == zeros) &
                       ((word & 0x0000FF000000FF00ull) == 0x0000650000002E00ull) &  // '.' and 'e'
                       (((((word >> 48) & 0xFF) - 0x2B) & ~2ull) == 0) &           // '+' or '-'
                       ((m[-1] == ' ') | (m[-1] == '-')) &
                       (wide ? static_cast<unsigned>(field[9] - '0') <= 9u : field[0] == ' ');
    if (!shape) return false;
    const char tens = wide ? m[7] : '0';
    const char units = field[9];
    parts.mantissa =
        static_cast<unsigned>(Digit(m[0]) * 1000 + Digit(m[2]) * 100 + Digit(m[3]) * 10 + Digit(m[4]));
    const int magnitude = Digit(tens) * 10 + Digit(units);
    parts.exponent = m[6] == '-' ? -magnitude : magnitude;
    parts.negative = m[-1] == '-';
    parts.firstZero = m[0] == '0';
    parts.exponentZero = wide && tens == '0';
    parts.minusZero = magnitude == 0 && m[6] == '-';
    return true;
}

}  // namespace

bool ReadShortenedField10(const char* field, float& value)
{
    ShortenedText parts;
    return SplitShortened10(field, parts) &&
           DecimalToFloat(parts.mantissa, parts.exponent - 3, parts.negative, value);
}

bool IsWrittenField10(const char* field)
{
    ShortenedText parts;
    if (!SplitShortened10(field, parts)) return false;
    // Four significant digits survive the trip through single precision
    // wherever the value is a normal float; so does a zero written as such.
    // The written form has no "e-0" and no leading zero in the exponent.
    const int magnitude = parts.exponent < 0 ? -parts.exponent : parts.exponent;
    return (parts.mantissa == 0 ? magnitude == 0 : !parts.firstZero && magnitude <= 37) && !parts.minusZero &&
           !parts.exponentZero;
}

char* PutIntField(char* out, int value, int width)
{
    char digits[16];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
    const int n = static_cast<int>(r.ptr - digits);
    for (int k = n; k < width; ++k) *out++ = ' ';
    std::memcpy(out, digits, static_cast<size_t>(n));
    return out + n;
}

const char* FormatFloatTo16C(float x)
{
    static char text[32];
    FormatShortenedField(text, 16, 9, static_cast<double>(x));
    return text;
}

const char* FormatFloatTo10C(float x)
{
    // Room for the widest "%10.3e" text, "-1.234e-308", is kept although a
    // float never needs it.
    static char text[24];
    FormatShortenedField(text, 10, 3, static_cast<double>(x));
    return text;
}
