#include "qdsdatadef.h"

#include "qdsdatabase.h"
#include "qdsexception.h"

#include <algorithm>

namespace {

constexpr long long kSystemFactor = 1000000;

// TC / RC code of a node card to its three-bit mask (x = 4, y = 2, z = 1).
int NodeCodeMask(int code)
{
    static const int masks[8] = {0, 4, 2, 1, 6, 3, 5, 7};
    return code >= 0 && code <= 7 ? masks[code] : 0;
}

bool IsLocalCode(long long code) { return code >= kSystemFactor; }

}  // namespace

// ------------------------------------------------------------ CsDataNode

void CsDataNode::AddSpc(int tc, int rc)
{
    const long long code = NodeCodeMask(tc) * 8 + NodeCodeMask(rc);
    if (spc_ != 0 && !IsLocalCode(spc_)) spc_ |= code;
    else spc_ = code;
}

void CsDataNode::AddSpc(int cid, const int dofs[6])
{
    // A code of 1,000,000 (system 1, nothing fixed) is a local code too:
    // treating it as a plain mask would move a global constraint into system 1.
    if (!IsLocalCode(spc_)) {
        if (cid != 0) spc_ = 0;
    } else {
        spc_ = spc_ / kSystemFactor == cid ? spc_ % kSystemFactor : 0;
    }
    for (int k = 0; k < 6; ++k) {
        if (dofs[k] != 0) spc_ |= 1LL << (5 - k);
    }
    spc_ += static_cast<long long>(cid) * kSystemFactor;
}

bool CsDataNode::GetSpc(int& cid, int dofs[6]) const
{
    if (spc_ < 1) return false;
    cid = static_cast<int>(spc_ / kSystemFactor);
    const long long mask = spc_ % kSystemFactor;
    bool any = false;
    for (int k = 0; k < 6; ++k) {
        dofs[k] = static_cast<int>((mask >> (5 - k)) & 1);
        any = any || dofs[k] != 0;
    }
    return any;
}

// ------------------------------------------------------------ CsDataElem

CsDataElem::CsDataElem(int prtid, int exid, int nodeNum, const int nodes[], EleType type)
    : prtid_(prtid), exid_(exid), nodeNum_(std::clamp(nodeNum, 0, kMaxElemNodes)), type_(type)
{
    std::copy(nodes, nodes + nodeNum_, nodes_);
}

int CsDataElem::operator[](int k) const
{
    if (k < 0 || k >= nodeNum_) throw CsErrorIndex("Exception: Element's Vertex Access Error", "source/qdsdatadef", 354);
    return nodes_[k];
}

int CsDataElem::GetNodeID(int k) const
{
    if (k < 0 || k >= nodeNum_) throw CsErrorIndex("Exception: Element's Vertex Access Error", "source/qdsdatadef", 347);
    return nodes_[k];
}

int CsDataElem::GetNodeIdx(int nodeIdx) const
{
    const int* end = nodes_ + nodeNum_;
    const int* found = std::find(nodes_, end, nodeIdx);
    return found == end ? -1 : static_cast<int>(found - nodes_);
}

gmPnt3D CsDataElem::GetVertex(int k) const
{
    if (k < 0 || k >= nodeNum_) throw CsErrorIndex("Exception: Element's Vertex Access Error", "source/qdsdatadef", 213);
    return dataManage.GetNode(nodes_[k]).GetPoint();
}

void CsDataElem::SetVertex(int k, const gmPnt3D& point)
{
    if (k < 0 || k >= nodeNum_) return;
    dataManage.SetNode(nodes_[k], point);
}

double CsDataElem::GetLength(int k) const
{
    if (k < 0 || k >= nodeNum_) return 0.0;
    return GetVertex(k).DistTo(GetVertex((k + 1) % nodeNum_));
}

gmPnt3D CsDataElem::GetMidPnt() const
{
    gmPnt3D sum;
    if (nodeNum_ < 1) return sum;
    for (int k = 0; k < nodeNum_; ++k) sum = sum + GetVertex(k);
    return sum / nodeNum_;
}

gmVec3D CsDataElem::GetNormal() const
{
    if (nodeNum_ == 4) return (GetVertex(2) - GetVertex(0)) ^ (GetVertex(3) - GetVertex(1));
    if (nodeNum_ == 3) return (GetVertex(1) - GetVertex(0)) ^ (GetVertex(2) - GetVertex(1));
    return gmVec3D::ZeroV;
}

void CsDataElem::Reset(int part, const int nodeIdx[], int nodeNum)
{
    if (nodeNum != 3 && nodeNum != 4) {
        CsString text;
        text.Format("Element: %d is not a shell element", exid_);
        throw CsErrorMessage(text, "source/qdsdatadef", 289);
    }
    prtid_ = part;
    nodeNum_ = nodeNum;
    std::copy(nodeIdx, nodeIdx + nodeNum, nodes_);
    std::fill(nodes_ + nodeNum, nodes_ + kMaxElemNodes, 0);
}
