// Trim curves: point lines read from the deck or imported, each tied to the
// curve set it came from and to how it is to be cut.
#ifndef QDSDYNADEF_H
#define QDSDYNADEF_H

#include "qdsgeombase.h"

#include <memory>
#include <vector>

class CsTrmCrv {
public:
    CsTrmCrv() = default;
    virtual ~CsTrmCrv() = default;

    virtual std::unique_ptr<CsTrmCrv> Clone() const = 0;
    // Copies the curve's points into pts.
    virtual void GetPtArr(std::vector<gmPnt3D>& pts) const;
    virtual bool IsCrv2D() const = 0;

    // An id of at least 1 and at least two points.
    bool IsValid() const { return exid_ >= 1 && points_.size() >= 2; }

    int GetExid() const { return exid_; }
    void SetExid(int exid) { exid_ = exid; }
    int GetSetid() const { return setid_; }
    void SetSetid(int setid) { setid_ = setid; }
    int GetCrvType() const { return crvType_; }
    void SetCrvType(int type) { crvType_ = type; }
    // The set's trim flag: 0 makes a lance line, anything else a trim line.
    int GetFlag() const { return flag_; }
    void SetFlag(int flag) { flag_ = flag; }
    int GetVecId() const { return vecId_; }
    void SetVecId(int id) { vecId_ = id; }
    double GetRatio() const { return ratio_; }
    void SetRatio(double ratio) { ratio_ = ratio; }
    const std::vector<gmPnt3D>& GetPoints() const { return points_; }
    void SetPtArr(const std::vector<gmPnt3D>& pts) { points_ = pts; }
    void AddPoint(const gmPnt3D& p) { points_.push_back(p); }

protected:
    CsTrmCrv(const CsTrmCrv&) = default;
    CsTrmCrv& operator=(const CsTrmCrv&) = default;

private:
    int exid_ = 0;
    int setid_ = 0;
    int crvType_ = 1;
    int flag_ = -1;
    int vecId_ = 0;
    double ratio_ = 0.25;
    std::vector<gmPnt3D> points_;
};

// A planar curve, cut as seen along its projection direction.
class CsTrmCrv2D : public CsTrmCrv {
public:
    CsTrmCrv2D() = default;
    CsTrmCrv2D(const CsTrmCrv2D&) = default;
    CsTrmCrv2D& operator=(const CsTrmCrv2D&) = default;

    std::unique_ptr<CsTrmCrv> Clone() const override { return std::make_unique<CsTrmCrv2D>(*this); }
    void GetPtArr(std::vector<gmPnt3D>& pts) const override;
    bool IsCrv2D() const override { return true; }

    // Curve points are already in the global system: this leaves p as it is.
    void LcsToWcs(gmPnt3D& p) const;
    gmVec3D GetPrjDir() const;
    // The trim plane: W along the projection direction, U and V across it,
    // the origin at the curve's origin; 1 (it is always made).
    int GetUcs(gmCrdSys& cs) const;
    void SetPrjDir(const gmVec3D& dir) { prjDir_ = dir; }

    int GetLcs() const { return lcs_; }
    void SetLcs(int lcs) { lcs_ = lcs; }
    int GetLcs2() const { return lcs2_; }
    void SetLcs2(int lcs2) { lcs2_ = lcs2; }
    const gmPnt3D& GetOrigin() const { return origin_; }
    void SetOrigin(const gmPnt3D& p) { origin_ = p; }
    const gmCrdSys& GetCrdSys() const { return crdSys_; }
    void SetCrdSys(const gmCrdSys& cs) { crdSys_ = cs; }

private:
    int lcs_ = 0;
    int lcs2_ = 0;
    gmPnt3D origin_;
    gmVec3D prjDir_;
    gmCrdSys crdSys_;
};

// A curve in space, cut along the local surface normal.
class CsTrmCrv3D : public CsTrmCrv {
public:
    CsTrmCrv3D() = default;
    CsTrmCrv3D(const CsTrmCrv3D&) = default;
    CsTrmCrv3D& operator=(const CsTrmCrv3D&) = default;

    std::unique_ptr<CsTrmCrv> Clone() const override { return std::make_unique<CsTrmCrv3D>(*this); }
    bool IsCrv2D() const override { return false; }

    int GetSeed() const { return seed_; }
    void SetSeed(int seed) { seed_ = seed; }
    int GetSeed2() const { return seed2_; }
    void SetSeed2(int seed) { seed2_ = seed; }
    double GetGap() const { return gap_; }
    void SetGap(double gap) { gap_ = gap; }

private:
    int seed_ = 0;
    int seed2_ = 0;
    double gap_ = 2.0;
};

#endif
