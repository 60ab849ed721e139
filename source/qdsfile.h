// Files: the named-file base, line-oriented keyword-file reading with
// un-reading and field extraction, and the exponent shortening of the
// fixed-column number formats.
#ifndef QDSFILE_H
#define QDSFILE_H

#include "qdxstring.h"

#include <cstdio>
#include <memory>
#include <vector>

class CsFile {
public:
    enum MODE { READ = 0, WRITE = 1 };

    CsFile() = default;
    explicit CsFile(const CsString& name) : name_(name) {}
    virtual ~CsFile();
    CsFile(const CsFile&) = delete;
    CsFile& operator=(const CsFile&) = delete;

    // Stores the mode, opens the stored name with "r"/"w" plus the pending
    // suffix; 0 for an unknown mode, an empty name or a failing open.
    virtual int OpenFile(MODE mode) = 0;
    int OpenFile(const CsString& name, MODE mode);

    void CloseFile();
    bool IsFileOpen() const { return stream_ != nullptr; }
    bool IsReadOnly() const { return mode_ == READ; }
    bool IsWriteOnly() const { return mode_ == WRITE; }
    virtual bool IsFileEnd() const;
    virtual void ReWind();

    const CsString& GetFileName() const { return name_; }
    CsString GetFilePath() const;
    CsString FindExName() const;
    bool IsDynain() const;
    void AddFormat(const CsString& suffix) { suffix_ += suffix; }

    void WriteString(const CsString& text);
    void WriteString(const char* text, size_t length);
    void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void WriteFeed();
    // True once any write to the stream has failed (disk full, file size
    // limit); what is still buffered is written first.
    bool HasWriteError() const;

protected:
    FILE* Stream() const { return stream_; }

private:
    FILE* stream_ = nullptr;
    // The write stream's buffer: the C library sizes a buffer it allocates
    // itself by the file system's block, whatever size is asked for.
    std::vector<char> writeBuffer_;
    MODE mode_ = READ;
    CsString name_;
    CsString suffix_;
};

class CsTextFile : public CsFile {
public:
    CsTextFile() = default;
    explicit CsTextFile(const CsString& name) : CsFile(name) {}
    ~CsTextFile() override = default;

    using CsFile::OpenFile;
    int OpenFile(MODE mode) override;
    virtual int ReadFile() { return 1; }
    virtual int WriteFile() { return 1; }

    bool IsFileEnd() const override;
    void ReWind() override;

    static bool IsCommentChar(char c) { return c == '$'; }
    static bool IsKeywordChar(char c) { return c == '*'; }

    // Reads one line (at most 255 bytes, see the .cpp) without its end of
    // line; returns the bytes consumed, 0 at the end of the file.
    int GetLine(CsString& line);
    CsString GetLine();
    // Steps back over bytes already read, typically one line's count.
    void BackToLine(int bytes);
    // Passes over lines up to the next one whose first non-blank character
    // is a keyword character, leaving that one unread: true; false at the
    // end of the file. Lines are what GetLine would return, pieces of long
    // lines included, but none is copied.
    bool SkipToKeywordLine();

    // Skips comment lines and leaves the next line unread: 1 when it is a
    // data line (or the file ended), 0 when it is a keyword line.
    int SkipCommentLine();
    // The next data line of the current card, left-trimmed: 1; 0 (and the
    // keyword line left unread) when the card has no further data line.
    int FindDataLine(CsString& line);
    // The n-th (1-based) field of a card line, or null for a blank or
    // missing field. The result lives in one static buffer.
    static const char* FindValidField(const CsString& line, int n);

    int GetExtent() const;
    bool IsDataFile() const { const int k = GetExtent(); return k >= 1 && k <= 3; }
    bool IsDynFile() const;
    bool IsModFile() const;
    bool IsBlkFile() const;

private:
    bool Fill();

    // Our own read buffer over the stream: a gigabyte state file is read line
    // by line, and un-reading a line must work across buffer refills.
    std::vector<char> buffer_;
    size_t begin_ = 0;      // next unread byte in buffer_
    size_t end_ = 0;        // one past the last valid byte in buffer_
    long long origin_ = 0;  // file offset of buffer_[0]
    bool atEnd_ = false;    // a read ran into the end of the file
};

class CsBinaFile : public CsFile {
public:
    CsBinaFile() = default;
    explicit CsBinaFile(const CsString& name) : CsFile(name) {}
    ~CsBinaFile() override = default;

    using CsFile::OpenFile;
    int OpenFile(MODE mode) override;
};

// The message log writer: the process-wide message list, one entry a line.
class CsWrtMsg : public CsTextFile {
public:
    CsWrtMsg() = default;
    explicit CsWrtMsg(const CsString& path) : CsTextFile(path) {}
    int WriteFile() override;
};

// The key id as part of a file name: separators, NUL and leading dots become
// '_', so the name stays in its directory and shows in a listing.
CsString SafeFileName(const CsString& name);

// Removes a leading zero of a formatted number's exponent in place ("e+02"
// becomes "e+2"); returns the new length. Text without an exponent is kept.
int ShortenExponent(char* text);

// x formatted like the C library's "%.<precision>e", exponent shortened and
// right-justified to width columns, into out (at least 48 bytes); returns the
// length written.
int FormatShortenedField(char* out, int width, int precision, double x);

// The number at the start of a field (blanks and a plus sign skipped) as the
// C library's conversion to single precision reads it; 0 when there is none.
float ParseFieldFloat(const char* begin, const char* end);

// The whole of [begin, end) as std::from_chars reads a double from it
// (general format): true with the value, false where it stops early or
// fails. Plain decimals take a fast path.
bool ParseWholeDouble(const char* begin, const char* end, double& value);

// The whole of [begin, end) as std::from_chars reads an int from it.
bool ParseWholeInt(const char* begin, const char* end, int& value);

// A 10-column field in the form FormatShortenedField writes with precision
// 3 ("[-]d.ddde+x", right-justified with blanks): true with its value as
// ParseFieldFloat reads it; false for any other text (or where the value
// needs the general conversion), value then unset.
bool ReadShortenedField10(const char* field, float& value);
// True when reading the 10-column field and formatting its value gives back
// exactly its text: a value that does not change can keep its text.
bool IsWrittenField10(const char* field);

// value as the C library's "%<width>d" puts it, without a terminator; the
// end of the text. Writers put millions of these: printf's format parsing
// would cost more than the digits.
char* PutIntField(char* out, int value, int width);

// x formatted "%16.9e" / "%10.3e", exponent shortened, right-justified to 16 /
// 10 columns. Each returns one static buffer.
const char* FormatFloatTo16C(float x);
const char* FormatFloatTo10C(float x);

#endif
