// The dynain writer: the model as a new state file, with the initial
// stresses and strains streamed over from the input state file.
#ifndef QDSFILE_WRITER_H
#define QDSFILE_WRITER_H

#include "qdsfile.h"
#include "qdsfile_stress.h"

#include <string>
#include <vector>

class CsReadData;

class CsWrtDynin : public CsTextFile {
public:
    CsWrtDynin() = default;
    explicit CsWrtDynin(const CsString& path) : CsTextFile(path) {}

    // The whole file; 1 when all of it was written.
    int WriteFile() override;
    int WriteNode();
    int WriteElem();
    int WriteElem(int elemIdx);
    void WriteStress(const StressData& record);
    void WriteStress(const StressData& record, int elemId);
    void WriteStrain(const StrainData& record);
    void WriteStrain(const StrainData& record, int elemId);
    void WriteKeySPC();
    void WriteKeyEnd();

private:
    int WriteRecords(CsReadData& reader);
    template <class Record>
    int WriteSection(CsReadData& reader, Record& record, EleType type);
    template <class Record>
    void WriteRecord(const Record& record, int elemId);

    // Node (by index) written; an element card written.
    std::vector<char> nodeUsed_;
    std::vector<char> written_;
    // One record's text, kept from one record to the next.
    std::string recordText_;
};

#endif
