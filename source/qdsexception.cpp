#include "qdsexception.h"

CsException::CsException(const CsString& message, const CsString& file, int line)
    : CsMessage(message), file_(file)
{
    line_.Format("%d", line);
}

void CsException::ShowMessage() const { CsMessage::ShowMessage(); }
