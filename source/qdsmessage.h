// Console messages and the process-wide message list that becomes the
// message log at the end of a run.
#ifndef QDSMESSAGE_H
#define QDSMESSAGE_H

#include "qdxstring.h"

#include <vector>

class CsMessage {
public:
    CsMessage() = default;
    explicit CsMessage(const CsString& text);
    virtual ~CsMessage() = default;
    CsMessage(const CsMessage&) = default;
    CsMessage& operator=(const CsMessage&) = default;

    // Replaces the text and records the new text.
    void Set(const CsString& text);
    // Appends the piece to the text and records the piece alone.
    void Add(const CsString& piece);
    const CsString& GetText() const { return text_; }

    // Prints the text and an end of line, flushed.
    virtual void ShowMessage() const;
    // Prints the given text as it is, without recording it (prompts).
    void ShowMessage(const CsString& text) const;
    virtual void ShowNewLine(int count) const;

    const std::vector<CsString>& GetMsgArr() const { return List(); }
    static void Free();

private:
    static std::vector<CsString>& List();
    static void Record(const CsString& text);

    CsString text_;
};

// Shown: the text recorded in the message list and printed with an end of
// line, the way almost every line reaches the user.
void ShowLine(const CsString& text);
// The same for a text with one integer put in by a printf-style format.
void ShowLine(const char* format, int value);

#endif
