#include "qdsdynadef_set.h"

#include "igesinterface.h"
#include "qdsdatabase.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

bool HasIgesExtension(const CsString& file)
{
    const int dot = file.RFind('.');
    if (dot < 0) return false;
    CsString ext = file.Mid(dot + 1);
    ext.MakeUpper();
    return ext == "IGS" || ext == "IGES";
}

}  // namespace

CsCrvSet::CsCrvSet(int kind) : kind_(std::clamp(kind, 0, 1)) {}

void CsCrvSet::SetCrvData()
{
    int exid = 0;
    for (CsTrmCrv* curve : Curves()) {
        curve->SetExid(++exid);
        curve->SetSetid(id_);
        curve->SetCrvType(crvType_);
        curve->SetFlag(trimFlag_);
        curve->SetVecId(vectId_);
        curve->SetRatio(ratio_);
    }
}

void CsCrvSet::AddPntArr(const std::vector<gmPnt3D>& points) { NewCurve().SetPtArr(points); }

bool CsCrvSet::GetIGES()
{
    if (igesFile_.IsEmpty()) return false;
    CsString path = igesFile_;
    if (igesFile_[0] != '/') path = (igesDir_.IsEmpty() ? dataManage.GetCurWorkPath() : igesDir_) + "/" + igesFile_;

    // Far too large for the stack; zeroed so that nothing unread looks like data.
    std::vector<int> counts(kMaxIgesLines, 0);
    const auto points = std::make_unique<float[][3]>(kMaxIgesPoints);
    const int lines = IgesLine(path, counts.data(), points.get());
    if (lines < 1) return false;

    int next = 0;
    for (int k = 0; k < lines && k < kMaxIgesLines && next < kMaxIgesPoints; ++k) {
        const int count = std::min(std::max(counts[static_cast<size_t>(k)], 0), kMaxIgesPoints - next);
        std::vector<gmPnt3D> polyline;
        polyline.reserve(static_cast<size_t>(count));
        for (int j = next; j < next + count; ++j) polyline.emplace_back(points[j]);
        next += count;
        AddPntArr(polyline);
    }
    return true;
}

int CsCrvSet::IgesLine(const char* file, int* counts, float (*points)[3])
{
    if (!file || !HasIgesExtension(file)) return 0;
    // Three planes of coordinates, all x, then all y, then all z.
    std::vector<float> planes(static_cast<size_t>(3) * kMaxIgesPoints, 0.0f);
    const int lines = std::clamp(dyn2igesforbead(file, counts, planes.data(), kMaxIgesLines), 0, kMaxIgesLines);
    int total = 0;
    for (int k = 0; k < lines; ++k) total += std::max(counts[k], 0);
    total = std::min(total, kMaxIgesPoints);
    for (int j = 0; j < total; ++j) {
        for (int c = 0; c < 3; ++c) points[j][c] = planes[static_cast<size_t>(c) * kMaxIgesPoints + static_cast<size_t>(j)];
    }
    return lines;
}

// ------------------------------------------------------------------ 2D

void CsCrvSet2D::SetCrvData()
{
    CsCrvSet::SetCrvData();
    for (const auto& curve : curves_) {
        curve->SetLcs(lcs_);
        curve->SetLcs2(lcs2_);
        curve->SetPrjDir(prjDir_);
    }
}

std::vector<const CsTrmCrv*> CsCrvSet2D::TrmCrvArr() const
{
    std::vector<const CsTrmCrv*> list;
    for (const auto& curve : curves_) list.push_back(curve.get());
    return list;
}

CsTrmCrv& CsCrvSet2D::NewCurve()
{
    curves_.push_back(std::make_unique<CsTrmCrv2D>());
    return *curves_.back();
}

std::vector<CsTrmCrv*> CsCrvSet2D::Curves()
{
    std::vector<CsTrmCrv*> list;
    for (const auto& curve : curves_) list.push_back(curve.get());
    return list;
}

// ------------------------------------------------------------------ 3D

void CsCrvSet3D::SetCrvData()
{
    CsCrvSet::SetCrvData();
    for (const auto& curve : curves_) {
        curve->SetSeed(seed_);
        curve->SetSeed2(seed2_);
        curve->SetGap(gap_);
    }
}

std::vector<const CsTrmCrv*> CsCrvSet3D::TrmCrvArr() const
{
    std::vector<const CsTrmCrv*> list;
    for (const auto& curve : curves_) list.push_back(curve.get());
    return list;
}

CsTrmCrv& CsCrvSet3D::NewCurve()
{
    curves_.push_back(std::make_unique<CsTrmCrv3D>());
    return *curves_.back();
}

std::vector<CsTrmCrv*> CsCrvSet3D::Curves()
{
    std::vector<CsTrmCrv*> list;
    for (const auto& curve : curves_) list.push_back(curve.get());
    return list;
}
