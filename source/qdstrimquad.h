// The quadrilateral cutter: one piece of trim line entering and leaving a
// quadrilateral through two points, classified by how the two edges relate
// (adjacent, opposite, the same edge), which points already carry a node,
// and where each free point lies on its edge.
#ifndef QDSTRIMQUAD_H
#define QDSTRIMQUAD_H

#include "qdstrimelem.h"

class CsTrmQuad : public CsTrmElem {
public:
    CsTrmQuad(CsHashOpr* opr, gmTrmLine* line) : CsTrmElem(opr, line) {}
    ~CsTrmQuad() override = default;

protected:
    int Trim2ItrPt() override;
    int Trim2OnEdge() override;

private:
    // Corners by role. Adjacent: a, b (shared), c, d. Opposite: a, b on edge
    // 1 and c, d on edge 2, the element reading a, b, c, d.
    bool Adjacent() const { return edge1[1] == edge2[0]; }
    int A() const { return edge1[0]; }
    int B() const { return edge1[1]; }
    int C() const { return Adjacent() ? edge2[1] : edge2[0]; }
    int D() const { return Adjacent() ? (edge2[1] + 1) % 4 : edge2[1]; }


    // ---- adjacent edges
    void Trim2Adjct();
    void CheckAdjctFeatPnt();
    void TrimAdjct2Nods();
    void TrimAdjctNull();
    void TrimAdjctFstNd();
    void TrimAdjctEndNd();
    void TrimAdjMidMidl();
    void TrimAdjMidLowr();
    void TrimAdjMidUppr();
    void TrimAdjLowLowr();
    void TrimAdjLowMidl();
    void TrimAdjLowUppr();
    void TrimAdjUppLowr();
    void TrimAdjUppMidl();
    void TrimAdjUppUppr();
    void TrimAdjEndLowr();
    void TrimAdjEndMidl();
    void TrimAdjEndUppr();
    void TrimAdjFstLowr();
    void TrimAdjFstMidl();
    void TrimAdjFstUppr();

    // ---- opposite edges
    void Trim2Oppst();
    void GetOppst2Nodes();
    int HndlEdgeItrPnt(gmItrPt* point);
    void CheckOppstFeatPnt();
    void TrimOppst2Nods();
    void TrimOppstNull();
    void TrimOppstFstNd();
    void TrimOppstLowLowr();
    void TrimOppstLowMidl();
    void TrimOppstLowUppr();
    void TrimOppstMidLowr();
    void TrimOppstMidMidl();
    void TrimOppstMidUppr();
    void TrimOppstUppLowr();
    void TrimOppstUppMidl();
    void TrimOppstUppUppr();
    void TrimOppstEndLowr();
    void TrimOppstEndMidl();
    void TrimOppstEndUppr();

    // ---- both points on one edge
    void TrimEdgeNull();
    void TrimEdgeFstNd();
    void TrimEdgeEndNd();
};

#endif
