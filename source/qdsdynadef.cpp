#include "qdsdynadef.h"

#include <cmath>

void CsTrmCrv::GetPtArr(std::vector<gmPnt3D>& pts) const { pts = points_; }

void CsTrmCrv2D::GetPtArr(std::vector<gmPnt3D>& pts) const
{
    CsTrmCrv::GetPtArr(pts);
    if (lcs_ == 0) return;
    for (gmPnt3D& p : pts) LcsToWcs(p);
}

void CsTrmCrv2D::LcsToWcs(gmPnt3D& /*p*/) const {}

gmVec3D CsTrmCrv2D::GetPrjDir() const
{
    if (lcs2_ == 0) return prjDir_;
    gmPnt3D p = prjDir_.AsPoint();
    LcsToWcs(p);
    return p.AsVector();
}

int CsTrmCrv2D::GetUcs(gmCrdSys& cs) const
{
    const gmVec3D w = GetPrjDir().Normalized();
    // The reference axis must not be (anti)parallel to W, or U and V vanish:
    // a direction close to the x axis either way takes the y axis instead.
    constexpr double kRefAxisSwitch = 0.95;
    const gmVec3D r = std::fabs(cs.GetU().Dot(w)) > kRefAxisSwitch ? cs.GetV() : cs.GetU();
    const gmVec3D wr = w.Cross(r);
    cs.SetUVW(wr.Cross(w).Normalized(), wr.Normalized(), w);
    cs.SetOri(GetOrigin());
    return 1;
}
