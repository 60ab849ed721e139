// STUB: the blank state reader. Only the interface the deck reader calls is
// here; the real reader replaces this file and its .cpp.
#ifndef QDSFILE_STATE_H
#define QDSFILE_STATE_H

#include "qdsfile.h"

class CsReadData : public CsTextFile {
public:
    CsReadData() = default;
    CsReadData(const CsString& path, int transId) : CsTextFile(path), transId_(transId) {}

    // STUB: reads nothing and reports failure.
    int ReadFile() override;
    int GetTransId() const { return transId_; }

private:
    int transId_ = 0;
};

#endif
