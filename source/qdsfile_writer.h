// The dynain writer.
#ifndef QDSFILE_WRITER_H
#define QDSFILE_WRITER_H

#include "qdsfile.h"

class CsWrtDynin : public CsTextFile {
public:
    CsWrtDynin() = default;
    explicit CsWrtDynin(const CsString& path) : CsTextFile(path) {}

    // Writes the whole model; 1 on success.
    int WriteFile() override { return 0; }
};

#endif
