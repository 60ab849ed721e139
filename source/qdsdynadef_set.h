// Curve sets: the trim and lance curves of one curve card, from the card's
// point lines or from an IGES file, until they are copied into the model.
#ifndef QDSDYNADEF_SET_H
#define QDSDYNADEF_SET_H

#include "qdsdynadef.h"
#include "qdsgeombase.h"
#include "qdxstring.h"

#include <memory>
#include <vector>

class CsCrvSet {
public:
    // Limits of one IGES import: polylines, and points over all of them.
    static constexpr int kMaxIgesLines = 1000;
    static constexpr int kMaxIgesPoints = 500000;

    // kind: 0 for a 2D set, 1 for a 3D set (other values clamped).
    explicit CsCrvSet(int kind);
    virtual ~CsCrvSet() = default;
    CsCrvSet(const CsCrvSet&) = delete;
    CsCrvSet& operator=(const CsCrvSet&) = delete;
    CsCrvSet(CsCrvSet&&) = default;
    CsCrvSet& operator=(CsCrvSet&&) = default;

    // Copies the set's values into each of its curves.
    virtual void SetCrvData();
    // The set's curves, still owned by the set.
    virtual std::vector<const CsTrmCrv*> TrmCrvArr() const = 0;

    bool Is2DSet() const { return kind_ == 0; }
    bool Is3DSet() const { return kind_ == 1; }

    int GetId() const { return id_; }
    void SetId(int id) { id_ = id; }
    int GetCrvType() const { return crvType_; }
    void SetCrvType(int type) { crvType_ = type; }
    int GetTrimFlag() const { return trimFlag_; }
    void SetTrimFlag(int flag) { trimFlag_ = flag; }
    int GetVectId() const { return vectId_; }
    void SetVectId(int id) { vectId_ = id; }
    double GetRatio() const { return ratio_; }
    void SetRatio(double ratio) { ratio_ = ratio; }
    const CsString& GetIgesFile() const { return igesFile_; }
    void SetIgesFile(const CsString& name) { igesFile_ = name; }
    // The directory a relative IGES file name is taken in; empty for the
    // model's working directory.
    void SetIgesDir(const CsString& dir) { igesDir_ = dir; }

    // A new curve of the set's kind holding a copy of the points.
    void AddPntArr(const std::vector<gmPnt3D>& points);
    // Reads the set's IGES file into curves; false when nothing was read.
    bool GetIGES();
    // Reads the polylines of an IGES file: counts[k] points each, stored one
    // after the other in points (room for kMaxIgesLines counts and
    // kMaxIgesPoints points). Returns the number of polylines.
    int IgesLine(const char* file, int* counts, float (*points)[3]);
    // Deletes the set's curves.
    virtual void Release() = 0;

protected:
    // Appends an empty curve of the set's kind and returns it.
    virtual CsTrmCrv& NewCurve() = 0;
    virtual std::vector<CsTrmCrv*> Curves() = 0;

private:
    int kind_ = 0;
    int id_ = 0;
    int crvType_ = 0;
    int trimFlag_ = 0;
    int vectId_ = 0;
    double ratio_ = 0.0;
    CsString igesFile_;
    CsString igesDir_;
};

class CsCrvSet2D : public CsCrvSet {
public:
    CsCrvSet2D() : CsCrvSet(0) {}

    void SetCrvData() override;
    std::vector<const CsTrmCrv*> TrmCrvArr() const override;
    void Release() override { curves_.clear(); }

    int GetLcs() const { return lcs_; }
    void SetLcs(int value) { lcs_ = value; }
    int GetLcs2() const { return lcs2_; }
    const gmPnt3D& GetTail() const { return tail_; }
    void SetTail(const gmPnt3D& tail) { tail_ = tail; }
    const gmVec3D& GetPrjDir() const { return prjDir_; }
    void SetPrjDir(const gmVec3D& dir) { prjDir_ = dir; }

protected:
    CsTrmCrv& NewCurve() override;
    std::vector<CsTrmCrv*> Curves() override;

private:
    int lcs_ = 0;
    int lcs2_ = 0;
    gmPnt3D tail_;
    gmVec3D prjDir_ = gmVec3D::AxisZ;
    gmCrdSys crdSys_;
    std::vector<std::unique_ptr<CsTrmCrv2D>> curves_;
};

class CsCrvSet3D : public CsCrvSet {
public:
    CsCrvSet3D() : CsCrvSet(1) {}

    void SetCrvData() override;
    std::vector<const CsTrmCrv*> TrmCrvArr() const override;
    void Release() override { curves_.clear(); }

    int GetSeed() const { return seed_; }
    void SetSeed(int seed) { seed_ = seed; }
    // 0 when the card names one seed only.
    int GetSeed2() const { return seed2_; }
    void SetSeed2(int seed) { seed2_ = seed; }
    double GetGap() const { return gap_; }
    void SetGap(double gap) { gap_ = gap; }

protected:
    CsTrmCrv& NewCurve() override;
    std::vector<CsTrmCrv*> Curves() override;

private:
    int seed_ = 0;
    int seed2_ = 0;
    double gap_ = 2.0;
    std::vector<std::unique_ptr<CsTrmCrv3D>> curves_;
};

#endif
