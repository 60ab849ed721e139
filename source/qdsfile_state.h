// The blank state reader: loads the mesh of a dynain into the model, and
// later streams its initial stresses and strains record by record.
#ifndef QDSFILE_STATE_H
#define QDSFILE_STATE_H

#include "qdsdatadef.h"
#include "qdsfile.h"
#include "qdsfile_stress.h"
#include "qdsfile_transform.h"

class CsReadData : public CsTextFile {
public:
    CsReadData() = default;
    // Copies the model's transformation transId (none for 0).
    CsReadData(const CsString& path, int transId);

    static const CsString KeywrdNode;
    static const CsString KeyCSSys;
    static const CsString KeyCSVect;
    static const CsString KeyBndSPC;
    static const CsString KeyAdptive;
    static const CsString KeyElShell;
    static const CsString KeyElTShell;
    static const CsString KeyElSolid;
    static const CsString KeyElThick;
    static const CsString KeyShellStress;
    static const CsString KeyTShellStress;
    static const CsString KeySolidStress;
    static const CsString KeyShellStrain;
    static const CsString KeySolidStrain;
    static const CsString KeyDynaEnd;

    // Loads nodes, elements, thicknesses, coordinate systems, boundary and
    // adaptive constraints into the model; 1 when it then holds at least one
    // node and one element.
    int ReadFile() override;

    // The next initial-stress or initial-strain section that has data, in
    // file order: 1 with its kind and element type, 0 at the end of the file
    // or at "*END".
    int FindSection(bool& isStress, EleType& type);
    // The next section of one kind, passing over sections of the other.
    int FindStress(EleType& type);
    int FindStrain(EleType& type);
    // One element's block: 1 when read, 0 when the section has ended (the
    // keyword line is left unread), -1 when the block cannot be read with
    // certainty; GetError() then says why, naming the element.
    int GetStress(StressData& record);
    int GetStrain(StrainData& record);
    const CsString& GetError() const { return error_; }

private:
    template <class Record>
    int GetRecord(Record& record, const char* what);
    int FindSectionOf(int wanted, bool& isStress, EleType& type);

    void ReadNodes();
    void ReadCoordSystems();
    void ReadCoordVectors();
    void ReadBoundarySpc();
    void ReadAdaptivity();
    void ReadElements(EleType type, bool withThickness);

    // The next line of a section: comment lines skipped; false (and the
    // line left unread) at a keyword line or at the end of the file.
    bool NextSectionLine(CsString& line);

    KeyTransform trans_;
    CsString error_;
};

#endif
