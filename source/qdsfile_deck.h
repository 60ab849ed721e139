// The keyword deck reader.
#ifndef QDSFILE_DECK_H
#define QDSFILE_DECK_H

#include "qdsfile.h"

class CsReadDyna : public CsTextFile {
public:
    CsReadDyna() = default;
    explicit CsReadDyna(const CsString& path) : CsTextFile(path) {}

    // Reads the whole deck and the state file it includes; 1 on success.
    int ReadFile() override;
    const CsString& GetKeyID() const { return keyId_; }
    bool IsAnneal() const { return false; }

private:
    CsString keyId_;
};

#endif
