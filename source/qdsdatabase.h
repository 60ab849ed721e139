// The one in-memory model of the job: the blank's nodes and elements, the
// trim curves, constraints, coordinate systems, transformations and the job
// information. Nodes and elements are addressed by 1-based index; nothing is
// ever removed from their arrays, so indices stay valid for the whole run.
#ifndef QDSDATABASE_H
#define QDSDATABASE_H

#include "qdsdatadef.h"
#include "qdsdynadef.h"
#include "qdsfile_transform.h"
#include "qdstrimbase.h"
#include "qdxstring.h"

#include <memory>
#include <utility>
#include <vector>

class CsDataManager {
public:
    CsDataManager();
    ~CsDataManager();
    CsDataManager(const CsDataManager&) = delete;
    CsDataManager& operator=(const CsDataManager&) = delete;

    // ---- arrays and counts (element i at position i - 1)
    const std::vector<CsDataNode>& GetNodeArr() const { return nodes_; }
    const std::vector<CsDataElem>& GetElemArr() const { return elems_; }
    const std::vector<CsDataAdpv>& GetAdpvArr() const { return adpvs_; }
    const std::vector<std::unique_ptr<CsTrmCrv>>& GetLineArr() const { return lines_; }
    int GetNodeNumber() const { return static_cast<int>(nodes_.size()); }
    int GetElemNumber() const { return static_cast<int>(elems_.size()); }
    int GetAdpvNumber() const { return static_cast<int>(adpvs_.size()); }
    int GetNodeMaxNo() const { return maxNode_; }
    int GetElemMaxNo() const { return maxElem_; }
    int GetLineMaxNo() const { return maxLine_; }
    bool IsValidNode(int i) const { return i >= 1 && i <= GetNodeNumber(); }
    bool IsValidElem(int i) const { return i >= 1 && i <= GetElemNumber(); }
    // 0 for an index out of range.
    int GetNodeExid(int i) const { return IsValidNode(i) ? nodes_[static_cast<size_t>(i - 1)].GetExid() : 0; }
    int GetElemExid(int i) const { return IsValidElem(i) ? elems_[static_cast<size_t>(i - 1)].GetExid() : 0; }
    // The index of an id, 0 when unknown. Node ids are known once the node
    // hash is built; the element hash is built on first use.
    int GetNdidFromExid(int exid) const;
    int GetElidFromExid(int exid);

    // ---- nodes
    // A node read from a file.
    int AddNode(const CsDataNode& node);
    // A new node, numbered above every node id so far.
    int AddNode(const gmPnt3D& point);
    const CsDataNode& GetNode(int i) const;
    void SetNode(int i, const gmPnt3D& point);

    // ---- elements
    // An element read from a file (its node list holds node ids).
    int AddElem(const CsDataElem& elem);
    // A new shell element on node indices, numbered above every element id.
    int AddElem(int part, int nodeNum, const int nodeIdx[]);
    void SetElem(int part, int i, int nodeNum, const int nodeIdx[]);
    const CsDataElem& GetElem(int i) const;
    EleType GetElemType(int i) const;
    int GetElemPart(int i) const;
    void SetThickness(int i, double t);
    void SetInner(int i);
    void SetOuter(int i);
    // These three ignore an index out of range.
    void SetToDel(int i);
    void SetIdentity(int i);
    void SetDeleted(int i);
    // The first element the node's point projects onto, 0 when none.
    int GetProjectedElem(int nodeIdx) const;

    // ---- node-to-element topology
    void UpdateNdElemTpy();
    int GetNodeAdjNdArr(int nodeIdx, std::vector<int>& out) const { return tpy_.GetNodeAdjNdArr(nodeIdx, out); }
    int GetNodeTpyElArr(int nodeIdx, std::vector<int>& out) const { return tpy_.GetNodeTpyElArr(nodeIdx, out); }
    int GetEdgeNeibElem(int nodeA, int nodeB, std::vector<int>& out) const { return tpy_.GetEdgeNeibElem(nodeA, nodeB, out); }
    int GetEdgeNextElem(int nodeA, int nodeB, int elemIdx) const { return tpy_.GetEdgeNextElem(elemIdx, nodeA, nodeB); }
    CsNdElemTpy& GetTopology() { return tpy_; }
    const CsNdElemTpy& GetTopology() const { return tpy_; }

    // ---- adaptive constraints
    void AddAdpNd(const CsDataAdpv& adpv) { adpvs_.push_back(adpv); }
    void RmvAllAdpNd() { adpvs_.clear(); }

    // ---- trim curves
    void AddLine(const CsTrmCrv& line);
    const CsTrmCrv& GetLine(int i) const;

    // ---- boundary constraints and coordinate systems
    void AddSpcNode(const KeySpc& spc) { spcs_.push_back(spc); }
    int GetSpcNodeNum() const { return static_cast<int>(spcs_.size()); }
    void AddLCS(const KeyLCS& lcs) { lcss_.push_back(lcs); }
    int GetLCSNum() const { return static_cast<int>(lcss_.size()); }
    // System i (1-based); an empty record for i out of range.
    const KeyLCS& GetLCS(int i) const;
    int GetLCSFromExid(int id) const;
    bool IsUsedLCS(int i) const;
    void SetLCSUsed(int i);
    void ResetLCSUsed();

    // ---- transformations
    void AddTransform(const KeyTransform& transform) { transforms_.push_back(transform); }
    // The first with that id, or the transformation with id 0 that changes
    // nothing.
    const KeyTransform& GetTransform(int id) const;

    // ---- job information
    void SetDataInfo(const CsDataInfo& info) { info_ = info; }
    const CsDataInfo& GetDataInfo() const { return info_; }
    const CsString& GetStrKeyID() const { return info_.keyId; }
    const CsString& GetDataFileName() const { return info_.dataFile; }
    int GetDataFileTrans() const { return info_.dataTrans; }
    // 1.0 for a part without a section thickness.
    double GetPartThk(int part) const;
    // The first part set holding element i's part, 0 when none.
    int GetElemPartSet(int i) const;
    // The anneal scale of element i's part set, 1 when it has none.
    float GetElemAnneal(int i) const;
    bool IsToRefine() const { return info_.ctrlAdp.refine > 0; }
    int RefineLevel() const { return info_.ctrlAdp.level; }
    bool RefineClosed() const { return info_.ctrlAdp.closed == 1; }
    double GetRefineMinLegth() const { return info_.ctrlAdp.minLength; }

    // ---- paths and flags
    // Stores the path ('\' made '/') as the data file name; the deck reader
    // later replaces it with the state file's path.
    void SetCurWorkPath(const CsString& path);
    // The data file name cut before its last separator; empty without one.
    CsString GetCurWorkPath() const;
    void SetDynain(int flag) { dynain_ = flag; }
    bool IsDynain() const { return dynain_ != 0; }

    // ---- set-up and release
    // Maps element node ids to indices, builds the id hashes and the
    // topology and applies the queued boundary constraints. Throws
    // CsErrorMessage for a node id that no node has.
    void UpdateElemNd();
    void MakeNdidHash();
    void MakeElemHash();
    // Empties the model but keeps the key id and the data file name, which
    // the message log still needs after the run.
    void Release();

private:
    using IdHash = CsHash<std::pair<int, int>>;

    static int LookUp(const IdHash* hash, int exid);
    CsDataElem& ElemAt(int i) { return elems_[static_cast<size_t>(i - 1)]; }

    int maxNode_ = 0;
    int maxElem_ = 0;
    int maxLine_ = 0;
    int dynain_ = 0;
    std::vector<CsDataNode> nodes_;
    std::vector<CsDataElem> elems_;
    std::vector<std::unique_ptr<CsTrmCrv>> lines_;
    std::vector<CsDataAdpv> adpvs_;
    std::vector<KeySpc> spcs_;
    std::vector<KeyLCS> lcss_;
    std::vector<KeyTransform> transforms_;
    CsDataInfo info_;
    std::unique_ptr<IdHash> nodeHash_;
    std::unique_ptr<IdHash> elemHash_;
    CsNdElemTpy tpy_;
};

extern CsDataManager dataManage;

#endif
