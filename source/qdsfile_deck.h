// The keyword deck reader: the job's control cards, the nodes, constraints,
// coordinate systems and transformations of the deck, and the state file the
// deck includes.
#ifndef QDSFILE_DECK_H
#define QDSFILE_DECK_H

#include "qdsanneal.h"
#include "qdsdatadef.h"
#include "qdsdynadef_set.h"
#include "qdsfile.h"
#include "qdsgeombase.h"

#include <vector>

// "*PART": which section a part takes its thickness from.
struct KeyPart {
    int partId = 0;
    int sectId = 0;
};

// "*SECTION_SHELL": the shell thickness of a section.
struct KeySect {
    int sectId = 0;
    double thick = 0.0;
};

// "*DEFINE_VECTOR": a projection direction for 2D curve sets.
struct KeyVect {
    int id = 0;
    int cid = 0;
    gmPnt3D tail;
    gmVec3D dir;
};

class CsReadDyna : public CsTextFile {
public:
    static constexpr const char* Keyword_ID = "*KEYWORD_ID";
    static constexpr const char* Keyword_JOBID = "*KEYWORD_JOBID";
    static constexpr const char* KeyEleTrim = "*ELEMENT_TRIM";
    static constexpr const char* KeyAdptCrv = "*CONTROL_ADAPTIVE_CURVE";
    static constexpr const char* KeyPartSet = "*SET_PART_LIST";
    static constexpr const char* KeyPrtCard = "*PART";
    static constexpr const char* KeySecShll = "*SECTION_SHELL";
    static constexpr const char* KeyCrvTrim = "*DEFINE_CURVE_TRIM";
    static constexpr const char* KeyCvTrm3D = "*DEFINE_CURVE_TRIM_3D";
    static constexpr const char* KeyCvTrmNew = "*DEFINE_CURVE_TRIM_NEW";
    static constexpr const char* KeywrdNode = "*NODE";
    static constexpr const char* Key_Vector = "*DEFINE_VECTOR";
    static constexpr const char* KeyInclude = "*INCLUDE";
    static constexpr const char* KeyDynaEnd = "*END";
    static constexpr const char* KeyAnneal = "*CONTROL_ANNEAL";
    static constexpr const char* KeyBndSPC = "*BOUNDARY_SPC_NODE";
    static constexpr const char* KeyCSSys = "*DEFINE_COORDINATE_SYSTEM";
    static constexpr const char* KeyCSVect = "*DEFINE_COORDINATE_VECTOR";
    static constexpr const char* KeyDFTransform = "*DEFINE_TRANSFORMATION";
    static constexpr const char* KeyIncludeTrans = "*INCLUDE_TRANSFORM";

    CsReadDyna() = default;
    explicit CsReadDyna(const CsString& path) : CsTextFile(path) {}

    // Reads the open deck and the state file it includes; 1 on success.
    int ReadFile() override;

    const CsString& GetKeyID() const { return keyId_; }
    bool IsAnneal() const { return !includeName_.IsEmpty() && !anneals_.empty(); }
    // One more than the largest part id of any part set; 0 without one.
    int GetMaxPartID() const;
    int FindKeyPart(int partId, KeyPart& part) const;
    int FindKeySect(int sectionId, KeySect& sect) const;

    // The steps after the card scan, in this order; each 1 on success.
    int SetAnnealData();
    int SetInfoData();
    int SetLineData();
    int SetBaseData();

    // What the scan collected, for the steps above and for a look at them.
    const CsString& GetIncludeName() const { return includeName_; }
    int GetIncludeTrans() const { return includeTrans_; }
    const std::vector<int>& GetTrimSets() const { return trimSets_; }
    const std::vector<PartSet>& GetPartSets() const { return partSets_; }
    const std::vector<KeyPart>& GetParts() const { return parts_; }
    const std::vector<KeySect>& GetSects() const { return sects_; }
    const std::vector<KeyVect>& GetVects() const { return vects_; }
    const CsCtrlAdp& GetCtrlAdp() const { return ctrlAdp_; }
    const std::vector<CsCrvSet2D>& GetCrvSets2D() const { return crvSets2D_; }
    const std::vector<CsCrvSet3D>& GetCrvSets3D() const { return crvSets3D_; }
    const std::vector<CsAnneal>& GetAnneals() const { return anneals_; }

    // The card scan alone, without the steps after it.
    void ScanCards();

private:
    // The state file's path: beside the deck unless the deck names it absolutely.
    CsString IncludePath() const;
    CsDataInfo MakeDataInfo() const;
    void ReadKeywordId();
    void ReadKeywordJobId();
    void ReadCurveTrim2D();
    void ReadCurveTrim3D();
    void ReadInclude();
    void ReadIncludeTransform();

    CsString keyId_;
    CsString includeName_;
    int includeTrans_ = 0;
    std::vector<int> trimSets_;
    std::vector<PartSet> partSets_;
    std::vector<KeyPart> parts_;
    std::vector<KeySect> sects_;
    std::vector<KeyVect> vects_;
    CsCtrlAdp ctrlAdp_;
    std::vector<CsCrvSet2D> crvSets2D_;
    std::vector<CsCrvSet3D> crvSets3D_;
    std::vector<CsAnneal> anneals_;
};

#endif
