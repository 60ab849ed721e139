#include "qdxstring.h"

#include "qdsexception.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

int ToPos(std::string::size_type pos) { return pos == std::string::npos ? -1 : static_cast<int>(pos); }

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

int CsString::Find(const char* text) const { return text ? ToPos(str_.find(text)) : -1; }

int CsString::Find(char c) const { return ToPos(str_.find(c)); }

int CsString::Find(const char* text, int start) const
{
    if (!text || start < 0 || start > GetLength()) return -1;
    return ToPos(str_.find(text, static_cast<size_t>(start)));
}

int CsString::RFind(char c) const { return ToPos(str_.rfind(c)); }

CsString CsString::Left(int n) const
{
    if (n <= 0) return CsString();
    return CsString(str_.substr(0, static_cast<size_t>(n)));
}

CsString CsString::Right(int n) const
{
    if (n <= 0) return CsString();
    if (n >= GetLength()) return *this;
    return CsString(str_.substr(str_.size() - static_cast<size_t>(n)));
}

CsString CsString::Mid(int first, int count) const
{
    if (first < 0) first = 0;
    if (count <= 0 || first >= GetLength()) return CsString();
    return CsString(str_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CsString CsString::Mid(int first) const { return Mid(first, GetLength()); }

CsString& CsString::MakeLower()
{
    for (char& c : str_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return *this;
}

CsString& CsString::MakeUpper()
{
    for (char& c : str_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return *this;
}

CsString& CsString::TrimLeft(char c)
{
    str_.erase(0, std::min(str_.size(), str_.find_first_not_of(c)));
    return *this;
}

CsString& CsString::TrimLeftSpace()
{
    size_t i = 0;
    while (i < str_.size() && IsSpace(str_[i])) ++i;
    str_.erase(0, i);
    return *this;
}

CsString& CsString::TrimRightSpace()
{
    size_t n = str_.size();
    while (n > 0 && IsSpace(str_[n - 1])) --n;
    str_.resize(n);
    return *this;
}

void CsString::Replace(char from, char to) { std::replace(str_.begin(), str_.end(), from, to); }

void CsString::Format(const char* format, ...)
{
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        str_.clear();
    } else if (static_cast<size_t>(needed) < sizeof small) {
        str_.assign(small, static_cast<size_t>(needed));
    } else {
        std::vector<char> big(static_cast<size_t>(needed) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        str_.assign(big.data(), static_cast<size_t>(needed));
    }
    va_end(again);
}

char CsString::operator[](int index) const
{
    if (index == 0 && str_.empty()) return '\0';
    if (index < 0 || index >= GetLength())
        throw CsErrorIndex("Exception: Character Index Access Error", "source/qdxstring", __LINE__);
    return str_[static_cast<size_t>(index)];
}
