// The string type used throughout the program: a thin value class over
// std::string with the operations the readers and writers rely on.
#ifndef QDXSTRING_H
#define QDXSTRING_H

#include <string>

class CsString {
public:
    CsString() = default;
    CsString(const char* text) : str_(text ? text : "") {}  // NOLINT: implicit by design
    CsString(const char* text, int count) : str_(text ? std::string(text, static_cast<size_t>(count)) : std::string()) {}
    CsString(const std::string& text) : str_(text) {}       // NOLINT
    CsString(std::string&& text) : str_(std::move(text)) {} // NOLINT
    CsString(char c) : str_(1, c) {}                        // NOLINT

    CsString& operator=(const char* text) { str_ = text ? text : ""; return *this; }
    CsString& operator=(const std::string& text) { str_ = text; return *this; }
    CsString& operator=(char c) { str_.assign(1, c); return *this; }

    CsString& operator+=(const CsString& other) { str_ += other.str_; return *this; }
    CsString& operator+=(const char* text) { if (text) str_ += text; return *this; }
    CsString& operator+=(char c) { str_ += c; return *this; }

    int GetLength() const { return static_cast<int>(str_.size()); }
    bool IsEmpty() const { return str_.empty(); }
    void Empty() { str_.clear(); }

    // First position of text or character, or -1.
    int Find(const char* text) const;
    int Find(char c) const;
    int Find(const char* text, int start) const;
    // Last position of the character, or -1.
    int RFind(char c) const;

    // The first / last n characters; the whole string when it is not longer.
    CsString Left(int n) const;
    CsString Right(int n) const;
    CsString Mid(int first, int count) const;
    CsString Mid(int first) const;

    CsString& MakeLower();
    CsString& MakeUpper();
    CsString& TrimLeft(char c);
    CsString& TrimLeftSpace();
    CsString& TrimRightSpace();
    CsString& Trim() { TrimRightSpace(); return TrimLeftSpace(); }
    void Replace(char from, char to);

    // printf-style; replaces the contents.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Position 0 of an empty string reads as the zero character so that readers
    // can test the first character of an empty line; anything else out of range
    // throws CsErrorIndex.
    char operator[](int index) const;

    const char* c_str() const { return str_.c_str(); }
    operator const char*() const { return str_.c_str(); }  // NOLINT: implicit by design
    const std::string& str() const { return str_; }
    std::string& str() { return str_; }

    friend bool operator==(const CsString& a, const CsString& b) { return a.str_ == b.str_; }
    friend bool operator==(const CsString& a, const char* b) { return a.str_ == (b ? b : ""); }
    friend bool operator==(const char* a, const CsString& b) { return b == a; }
    friend bool operator!=(const CsString& a, const CsString& b) { return !(a == b); }
    friend bool operator!=(const CsString& a, const char* b) { return !(a == b); }
    friend bool operator<(const CsString& a, const CsString& b) { return a.str_ < b.str_; }

private:
    std::string str_;
};

inline CsString operator+(const CsString& a, const CsString& b) { CsString r(a); r += b; return r; }
inline CsString operator+(const CsString& a, const char* b) { CsString r(a); r += b; return r; }
inline CsString operator+(const char* a, const CsString& b) { CsString r(a); r += b; return r; }
inline CsString operator+(const CsString& a, char b) { CsString r(a); r += b; return r; }

#endif
