// The records of the model database: nodes, elements, adaptive constraints
// and the job information read from the deck.
#ifndef QDSDATADEF_H
#define QDSDATADEF_H

#include "qdsanneal.h"
#include "qdsgeombase.h"
#include "qdxstring.h"

#include <vector>

// Index value meaning "no node / no element".
constexpr int kNoIndex = 0;
// Nodes per element record: enough for a hexahedron.
constexpr int kMaxElemNodes = 8;

enum EleType { kEleShell = 0, kEleTShell = 1, kEleSolid = 2 };

class CsDataNode {
public:
    CsDataNode() = default;
    CsDataNode(int exid, const gmPnt3D& point, long long spc = 0) : exid_(exid), spc_(spc), point_(point) {}

    int GetExid() const { return exid_; }
    const gmPnt3D& GetPoint() const { return point_; }
    void Reset(const gmPnt3D& point) { point_ = point; }

    // The constraint code: a six-bit mask (bit 5 x, 4 y, 3 z, 2 rx, 1 ry,
    // 0 rz), plus coordinate-system id x 1,000,000 for a constraint given in
    // a local system. Held in 64 bits so that any system id fits.
    long long GetSpcCode() const { return spc_; }
    // Merges the TC and RC codes (0..7) of a node card.
    void AddSpc(int tc, int rc);
    // Applies a constraint in system cid (0 = global): a code in another
    // system is replaced, one in the same system keeps its mask.
    void AddSpc(int cid, const int dofs[6]);
    // The system id and the six fixed flags (x, y, z, rx, ry, rz); true when
    // at least one is set.
    bool GetSpc(int& cid, int dofs[6]) const;

private:
    int exid_ = 0;
    long long spc_ = 0;
    gmPnt3D point_;
};

class CsDataManager;

class CsDataElem {
public:
    CsDataElem() = default;
    // Copies the first nodeNum entries (clamped to 0..8) of nodes.
    CsDataElem(int prtid, int exid, int nodeNum, const int nodes[], EleType type);

    int GetPrtid() const { return prtid_; }
    int GetExid() const { return exid_; }
    int GetNodeNum() const { return nodeNum_; }
    EleType GetType() const { return type_; }
    double GetThickness() const { return thick_; }
    bool IsShell() const { return type_ == kEleShell; }
    bool IsInner() const { return inner_ == 1; }
    bool IsOuter() const { return inner_ == 0; }
    bool IsToDel() const { return toDel_ == 1; }
    bool IsDeleted() const { return prtid_ == 0; }
    void SetInner() { inner_ = 1; }
    void SetOuter() { inner_ = 0; }
    void SetToDel() { toDel_ = 1; }

    // Entry k of the node list (0-based); throws CsErrorIndex outside the
    // node count.
    int operator[](int k) const;
    int GetNodeID(int k) const;
    // The node list as stored, GetNodeNum() entries: for passes over every
    // element, where a checked call per entry would cost more than the pass.
    const int* NodeList() const { return nodes_; }
    // The position of a node in the list, -1 when absent.
    int GetNodeIdx(int nodeIdx) const;

    // Vertex geometry, read from and written to the global model.
    gmPnt3D GetVertex(int k) const;
    void SetVertex(int k, const gmPnt3D& point);
    // Edge k runs from node k to node k + 1 (the last wraps to node 0).
    double GetLength(int k) const;
    gmPnt3D GetMidPnt() const;
    // Not normalised; zero for anything but a triangle or quadrilateral.
    gmVec3D GetNormal() const;

    // Redefines a shell; throws CsErrorMessage unless nodeNum is 3 or 4.
    void Reset(int part, const int nodeIdx[], int nodeNum);

private:
    friend class CsDataManager;

    int prtid_ = 0;
    int exid_ = 0;
    int nodeNum_ = 0;
    int nodes_[kMaxElemNodes] = {};
    int toDel_ = 0;
    EleType type_ = kEleShell;
    int inner_ = 0;
    double thick_ = 0.0;
};

// An adaptive constraint: a dependent node hanging on the edge between two
// nodes, all by external id.
class CsDataAdpv {
public:
    CsDataAdpv() = default;
    CsDataAdpv(int node, int n1, int n2) : node_(node), n1_(n1), n2_(n2) {}

    int GetNode() const { return node_; }
    int GetN1() const { return n1_; }
    int GetN2() const { return n2_; }

    // Same dependent node and the same edge in either direction.
    friend bool operator==(const CsDataAdpv& a, const CsDataAdpv& b)
    {
        return a.node_ == b.node_ && ((a.n1_ == b.n1_ && a.n2_ == b.n2_) || (a.n1_ == b.n2_ && a.n2_ == b.n1_));
    }
    friend bool operator!=(const CsDataAdpv& a, const CsDataAdpv& b) { return !(a == b); }

private:
    int node_ = 0;
    int n1_ = 0;
    int n2_ = 0;
};

// A pending boundary constraint: node id, system id, fixed flags for x, y,
// z, rx, ry, rz (non-zero = fixed).
struct KeySpc {
    int nid = 0;
    int cid = 0;
    int dofs[6] = {};
};

// A coordinate system as defined in the state file.
struct KeyLCS {
    enum { kBySystem = 0, kByVector = 1, kUsed = 100 };

    int cid = 0;
    // kBySystem (origin, point on x, point in x-y) or kByVector (0, x-axis
    // vector, x-y plane vector), plus kUsed while the system is marked used.
    int kind = kBySystem;
    gmPnt3D point[3];
};

struct PartThick {
    int part = 0;
    double thick = 0.0;
};

struct PartSet {
    int setId = 0;
    std::vector<int> parts;
};

// The adaptive-refinement controls, all zero by default.
struct CsCtrlAdp {
    int refine = 0;     // refinement runs when > 0
    int value2 = 0;     // read, not used
    int level = 0;
    int closed = 0;     // 1 = closed
    double minLength = 0.0;
};

// The job information the deck reader hands over in one piece.
struct CsDataInfo {
    int maxPart = 0;
    CsString keyId;
    // The full path of the state file.
    CsString dataFile;
    // The transformation applied to the state file, 0 for none.
    int dataTrans = 0;
    std::vector<PartThick> partThick;
    CsCtrlAdp ctrlAdp;
    std::vector<CsAnneal> anneal;
    std::vector<PartSet> partSet;
};

#endif
