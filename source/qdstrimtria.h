// The triangle cutter. Any two edges of a triangle share a vertex, so a
// two-point cut always separates the corner at that vertex from the rest;
// two points on one edge are cut where the edge carries a hanging node, or
// where the line turns deep inside between them and the neighbour across
// the edge has made nodes there.
#ifndef QDSTRIMTRIA_H
#define QDSTRIMTRIA_H

#include "qdstrimelem.h"

class CsTrmTria : public CsTrmElem {
public:
    CsTrmTria(CsHashOpr* opr, gmTrmLine* line) : CsTrmElem(opr, line) {}
    ~CsTrmTria() override = default;

protected:
    int Trim2ItrPt() override;
    int Trim2OnEdge() override;

private:
    // a = first vertex of edge 1, b = the shared vertex, c = end of edge 2.
    int A() const { return edge1[0]; }
    int B() const { return edge1[1]; }
    int C() const { return edge2[1]; }

    void Trim2Adjct();
    void CheckAdjctFeatPnt();
    void TrimAdjct2Nods();
    void TrimAdjctNull();
    void TrimAdjctFstNd();
    void TrimAdjctEndNd();
    void TrimAdjMidMidl();
    void TrimAdjMidLowr();
    void TrimAdjMidUppr();
    void TrimAdjLowMidl();
    void TrimAdjLowLowr();
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
    // Whether point k's crossing already has a node in the mesh, so that the
    // shared corner, `off` (a share of the edge) from the other point, must
    // not be moved onto that point.
    bool KeepsEdgeNode(int k, double off) const;
};

#endif
