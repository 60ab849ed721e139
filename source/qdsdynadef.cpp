#include "qdsdynadef.h"

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
