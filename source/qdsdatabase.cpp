#include "qdsdatabase.h"

#include "qdsgeombase.h"

#include "qdsexception.h"

#include <algorithm>

CsDataManager dataManage;

namespace {

[[noreturn]] void ThrowElemAccess(int line) { throw CsErrorIndex("Exception: Element Access Error", "source/qdsdatabase", line); }
[[noreturn]] void ThrowNodeAccess(int line) { throw CsErrorIndex("Exception: Node Access Error", "source/qdsdatabase", line); }

// Frees a vector's storage, not only its contents.
template <class T>
void FreeVector(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

}  // namespace

CsDataManager::CsDataManager() : tpy_(*this) {}

CsDataManager::~CsDataManager() { Release(); }

// ---------------------------------------------------------------- ids

int CsDataManager::LookUp(const IdHash* hash, int exid)
{
    if (!hash) return kNoIndex;
    for (const CsItem<std::pair<int, int>>* item = hash->Find(exid); item; item = item->GetNext()) {
        if (item->GetKey() == exid && item->GetData().first == exid) return item->GetData().second;
    }
    return kNoIndex;
}

int CsDataManager::GetNdidFromExid(int exid) const { return LookUp(nodeHash_.get(), exid); }

int CsDataManager::GetElidFromExid(int exid)
{
    if (!elemHash_) MakeElemHash();
    return LookUp(elemHash_.get(), exid);
}

void CsDataManager::MakeNdidHash()
{
    nodeHash_ = std::make_unique<IdHash>(qdxGetHashSize(GetNodeNumber()));
    for (int i = 1; i <= GetNodeNumber(); ++i) nodeHash_->Insert({GetNodeExid(i), i}, GetNodeExid(i));
}

void CsDataManager::MakeElemHash()
{
    elemHash_ = std::make_unique<IdHash>(qdxGetHashSize(GetElemNumber()));
    for (int i = 1; i <= GetElemNumber(); ++i) elemHash_->Insert({GetElemExid(i), i}, GetElemExid(i));
}

// -------------------------------------------------------------- nodes

int CsDataManager::AddNode(const CsDataNode& node)
{
    nodes_.push_back(node);
    maxNode_ = std::max(maxNode_, node.GetExid());
    const int index = GetNodeNumber();
    if (nodeHash_) nodeHash_->Insert({node.GetExid(), index}, node.GetExid());
    return index;
}

int CsDataManager::AddNode(const gmPnt3D& point) { return AddNode(CsDataNode(maxNode_ + 1, point)); }

const CsDataNode& CsDataManager::GetNode(int i) const
{
    if (!IsValidNode(i)) ThrowNodeAccess(80);
    return nodes_[static_cast<size_t>(i - 1)];
}

void CsDataManager::SetNode(int i, const gmPnt3D& point)
{
    if (!IsValidNode(i)) ThrowNodeAccess(226);
    nodes_[static_cast<size_t>(i - 1)].Reset(point);
}

// ----------------------------------------------------------- elements

int CsDataManager::AddElem(const CsDataElem& elem)
{
    elems_.push_back(elem);
    maxElem_ = std::max(maxElem_, elem.GetExid());
    const int index = GetElemNumber();
    if (elemHash_) elemHash_->Insert({elem.GetExid(), index}, elem.GetExid());
    return index;
}

int CsDataManager::AddElem(int part, int nodeNum, const int nodeIdx[])
{
    return AddElem(CsDataElem(part, maxElem_ + 1, nodeNum, nodeIdx, kEleShell));
}

void CsDataManager::SetElem(int part, int i, int nodeNum, const int nodeIdx[])
{
    if (!IsValidElem(i) || nodeNum < 1 || nodeNum > kMaxElemNodes) ThrowElemAccess(398);
    CsDataElem& elem = ElemAt(i);
    elem.prtid_ = part;
    elem.nodeNum_ = nodeNum;
    std::copy(nodeIdx, nodeIdx + nodeNum, elem.nodes_);
    std::fill(elem.nodes_ + nodeNum, elem.nodes_ + kMaxElemNodes, 0);
}

const CsDataElem& CsDataManager::GetElem(int i) const
{
    if (!IsValidElem(i)) ThrowElemAccess(87);
    return elems_[static_cast<size_t>(i - 1)];
}

int CsDataManager::GetElemPart(int i) const
{
    if (!IsValidElem(i)) ThrowElemAccess(114);
    return elems_[static_cast<size_t>(i - 1)].GetPrtid();
}

EleType CsDataManager::GetElemType(int i) const
{
    if (!IsValidElem(i)) ThrowElemAccess(123);
    return elems_[static_cast<size_t>(i - 1)].GetType();
}

void CsDataManager::SetInner(int i)
{
    if (!IsValidElem(i)) ThrowElemAccess(420);
    ElemAt(i).SetInner();
}

void CsDataManager::SetOuter(int i)
{
    if (!IsValidElem(i)) ThrowElemAccess(428);
    ElemAt(i).SetOuter();
}

void CsDataManager::SetThickness(int i, double t)
{
    if (!IsValidElem(i)) ThrowElemAccess(457);
    ElemAt(i).thick_ = t;
}

void CsDataManager::SetToDel(int i)
{
    if (IsValidElem(i)) ElemAt(i).toDel_ = 1;
}

void CsDataManager::SetIdentity(int i)
{
    if (IsValidElem(i)) ElemAt(i).toDel_ = 0;
}

void CsDataManager::SetDeleted(int i)
{
    if (IsValidElem(i)) ElemAt(i).prtid_ = 0;
}

int CsDataManager::GetProjectedElem(int nodeIdx) const
{
    if (!IsValidNode(nodeIdx)) return kNoIndex;
    const gmPnt3D point = GetNode(nodeIdx).GetPoint();
    gmPnt3D onElement;
    for (int i = 1; i <= GetElemNumber(); ++i) {
        // Only shells have a surface to land on.
        if (!elems_[static_cast<size_t>(i - 1)].IsShell()) continue;
        gmElemt elem(i);
        if (elem.IsShell() && elem.Project(point, onElement, 0)) return i;
    }
    return kNoIndex;
}

// ----------------------------------------------------------- topology

void CsDataManager::UpdateNdElemTpy()
{
    tpy_.ClearNdElemTpy();
    tpy_.CreateNdElemTpy();
}

// -------------------------------------------------------- trim curves

void CsDataManager::AddLine(const CsTrmCrv& line)
{
    lines_.push_back(line.Clone());
    maxLine_ = std::max(maxLine_, line.GetExid());
}

const CsTrmCrv& CsDataManager::GetLine(int i) const
{
    if (i < 1 || i > static_cast<int>(lines_.size())) {
        throw CsErrorIndex("Exception: Error Line ID", "source/qdsdatabase", 508);
    }
    return *lines_[static_cast<size_t>(i - 1)];
}

// ------------------------------------------------- coordinate systems

const KeyLCS& CsDataManager::GetLCS(int i) const
{
    static const KeyLCS none;
    return i >= 1 && i <= GetLCSNum() ? lcss_[static_cast<size_t>(i - 1)] : none;
}

int CsDataManager::GetLCSFromExid(int id) const
{
    for (int i = 1; i <= GetLCSNum(); ++i) {
        if (lcss_[static_cast<size_t>(i - 1)].cid == id) return i;
    }
    return 0;
}

bool CsDataManager::IsUsedLCS(int i) const
{
    return i >= 1 && i <= GetLCSNum() && lcss_[static_cast<size_t>(i - 1)].kind >= KeyLCS::kUsed;
}

void CsDataManager::SetLCSUsed(int i)
{
    if (i < 1 || i > GetLCSNum()) return;
    KeyLCS& lcs = lcss_[static_cast<size_t>(i - 1)];
    if (lcs.kind < KeyLCS::kUsed) lcs.kind += KeyLCS::kUsed;
}

void CsDataManager::ResetLCSUsed()
{
    for (KeyLCS& lcs : lcss_) {
        if (lcs.kind >= KeyLCS::kUsed) lcs.kind -= KeyLCS::kUsed;
    }
}

// ---------------------------------------------------- transformations

const KeyTransform& CsDataManager::GetTransform(int id) const
{
    static const KeyTransform identity(0);
    for (const KeyTransform& t : transforms_) {
        if (t.GetId() == id) return t;
    }
    return identity;
}

// ---------------------------------------------------- job information

double CsDataManager::GetPartThk(int part) const
{
    for (const PartThick& p : info_.partThick) {
        if (p.part == part) return p.thick;
    }
    return 1.0;
}

int CsDataManager::GetElemPartSet(int i) const
{
    if (!IsValidElem(i)) return 0;
    const int part = elems_[static_cast<size_t>(i - 1)].GetPrtid();
    for (const PartSet& set : info_.partSet) {
        if (std::find(set.parts.begin(), set.parts.end(), part) != set.parts.end()) return set.setId;
    }
    return 0;
}

float CsDataManager::GetElemAnneal(int i) const
{
    if (info_.anneal.empty()) return 1.0f;
    const int set = GetElemPartSet(i);
    return set == 0 ? 1.0f : GetAnnealScale(info_.anneal, set);
}

// ------------------------------------------------------ paths and flags

void CsDataManager::SetCurWorkPath(const CsString& path)
{
    info_.dataFile = path;
    info_.dataFile.Replace('\\', '/');
}

CsString CsDataManager::GetCurWorkPath() const
{
    const CsString& name = info_.dataFile;
    int cut = name.RFind('/');
    if (cut < 0) cut = name.RFind('\\');
    if (cut < 0) return CsString();
    return name.Left(cut);
}

// ---------------------------------------------------- set-up and release

void CsDataManager::UpdateElemNd()
{
    MakeNdidHash();
    MakeElemHash();
    // An id given twice would leave its elements and records bound to
    // whichever copy the hash finds, and the output with the id twice.
    for (int i = 1; i <= GetNodeNumber(); ++i) {
        if (GetNdidFromExid(GetNodeExid(i)) == i) continue;
        CsString text;
        text.Format("Duplicate node id = %d\n", GetNodeExid(i));
        throw CsErrorMessage(text, "source/qdsdatabase", __LINE__);
    }
    for (int i = 1; i <= GetElemNumber(); ++i) {
        if (GetElidFromExid(GetElemExid(i)) == i) continue;
        CsString text;
        text.Format("Duplicate element id = %d\n", GetElemExid(i));
        throw CsErrorMessage(text, "source/qdsdatabase", __LINE__);
    }
    for (CsDataElem& elem : elems_) {
        for (int k = 0; k < elem.nodeNum_; ++k) {
            const int index = GetNdidFromExid(elem.nodes_[k]);
            if (index == kNoIndex) {
                CsString text;
                text.Format("Invalid node id = %d\n", elem.nodes_[k]);
                throw CsErrorMessage(text, "source/qdsdatabase", 702);
            }
            elem.nodes_[k] = index;
        }
    }
    UpdateNdElemTpy();
    for (const KeySpc& spc : spcs_) {
        const int node = GetNdidFromExid(spc.nid);
        if (node == kNoIndex) continue;
        if (spc.cid != 0 && GetLCSFromExid(spc.cid) == 0) continue;
        nodes_[static_cast<size_t>(node - 1)].AddSpc(spc.cid, spc.dofs);
    }
    FreeVector(spcs_);
}

void CsDataManager::Release()
{
    maxNode_ = maxElem_ = maxLine_ = 0;
    dynain_ = 0;
    FreeVector(nodes_);
    FreeVector(elems_);
    FreeVector(lines_);
    FreeVector(adpvs_);
    FreeVector(spcs_);
    FreeVector(lcss_);
    FreeVector(transforms_);
    CsDataInfo kept;
    kept.keyId = info_.keyId;
    kept.dataFile = info_.dataFile;
    info_ = kept;
    nodeHash_.reset();
    elemHash_.reset();
    tpy_.ClearNdElemTpy();
}
