#include "qdsmessage.h"

#include <cstdio>

std::vector<CsString>& CsMessage::List()
{
    // The one message list of the process; the log writer empties it.
    static std::vector<CsString> list;
    return list;
}

void CsMessage::Record(const CsString& text) { List().push_back(text); }

CsMessage::CsMessage(const CsString& text) : text_(text) { Record(text_); }

void CsMessage::Set(const CsString& text)
{
    text_ = text;
    Record(text_);
}

void CsMessage::Add(const CsString& piece)
{
    text_ += piece;
    Record(piece);
}

void CsMessage::ShowMessage() const
{
    std::fwrite(text_.c_str(), 1, static_cast<size_t>(text_.GetLength()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void CsMessage::ShowMessage(const CsString& text) const
{
    std::fwrite(text.c_str(), 1, static_cast<size_t>(text.GetLength()), stdout);
    std::fflush(stdout);
}

void CsMessage::ShowNewLine(int count) const
{
    for (int i = 0; i < count; ++i) std::fputc('\n', stdout);
    std::fflush(stdout);
}

void CsMessage::Free() { List().clear(); }

void ShowLine(const CsString& text)
{
    CsMessage msg;
    msg.Set(text);
    msg.ShowMessage();
}

void ShowLine(const char* format, int value)
{
    CsString text;
    text.Format(format, value);
    ShowLine(text);
}
