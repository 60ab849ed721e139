// Errors that cannot be handled where they arise. They are messages too, so
// their text is in the message log before anyone catches them.
#ifndef QDSEXCEPTION_H
#define QDSEXCEPTION_H

#include "qdsmessage.h"

class CsException : public CsMessage {
public:
    CsException(const CsString& message, const CsString& file, int line);
    ~CsException() override = default;
    CsException(const CsException&) = default;
    CsException& operator=(const CsException&) = default;

    void ShowMessage() const override;
    using CsMessage::ShowMessage;

    const CsString& GetFile() const { return file_; }
    const CsString& GetLine() const { return line_; }

private:
    CsString file_;
    CsString line_;
};

// An inconsistency in the data.
class CsErrorMessage : public CsException {
public:
    using CsException::CsException;
    ~CsErrorMessage() override = default;
    CsErrorMessage(const CsErrorMessage&) = default;
    CsErrorMessage& operator=(const CsErrorMessage&) = default;
    void ShowMessage() const override { CsException::ShowMessage(); }
    using CsMessage::ShowMessage;
};

// Memory could not be had.
class CsErrorMemory : public CsException {
public:
    using CsException::CsException;
    ~CsErrorMemory() override = default;
    CsErrorMemory(const CsErrorMemory&) = default;
    CsErrorMemory& operator=(const CsErrorMemory&) = default;
    void ShowMessage() const override { CsException::ShowMessage(); }
    using CsMessage::ShowMessage;
};

// An index or id out of range.
class CsErrorIndex : public CsException {
public:
    using CsException::CsException;
    ~CsErrorIndex() override = default;
    CsErrorIndex(const CsErrorIndex&) = default;
    CsErrorIndex& operator=(const CsErrorIndex&) = default;
    void ShowMessage() const override { CsException::ShowMessage(); }
    using CsMessage::ShowMessage;
};

#endif
