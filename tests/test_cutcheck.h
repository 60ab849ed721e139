// Small models built in the global model as a run builds them, for the tests
// of the topology operator, the refinement and the mesh check.
#ifndef TEST_CUTCHECK_H
#define TEST_CUTCHECK_H

#include "qdsdatabase.h"
#include "qdstrimbase.h"

#include <vector>

namespace cuttest {

// Empties the global model and tables.
inline void ResetModel()
{
    hashOper.Release();
    dataManage.Release();
}

// Nodes by id 1..n at the given points; elements by id 1..m on node ids;
// then the model's own set-up and the operator's tables, as a run does.
inline void BuildModel(const std::vector<gmPnt3D>& points, const std::vector<std::vector<int>>& elems,
                       const std::vector<CsDataAdpv>& constraints = {})
{
    ResetModel();
    for (size_t i = 0; i < points.size(); ++i) dataManage.AddNode(CsDataNode(static_cast<int>(i) + 1, points[i]));
    for (size_t e = 0; e < elems.size(); ++e)
        dataManage.AddElem(CsDataElem(1, static_cast<int>(e) + 1, static_cast<int>(elems[e].size()), elems[e].data(), kEleShell));
    for (const CsDataAdpv& c : constraints) dataManage.AddAdpNd(c);
    dataManage.UpdateElemNd();
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) dataManage.SetThickness(e, 1.5);
    hashOper.CreateHash();
}

// An n x n patch of square quadrilaterals of side h; node ids row by row from (0, 0).
inline void BuildQuadPatch(int n, double h = 1.0, const std::vector<CsDataAdpv>& constraints = {})
{
    std::vector<gmPnt3D> pts;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) pts.emplace_back(i * h, j * h, 0);
    std::vector<std::vector<int>> elems;
    const auto id = [n](int i, int j) { return j * (n + 1) + i + 1; };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) elems.push_back({id(i, j), id(i + 1, j), id(i + 1, j + 1), id(i, j + 1)});
    BuildModel(pts, elems, constraints);
}

// Area of a node list in the model, seen along n (positive: turned like n).
inline double Area(const std::vector<int>& nodes, const gmVec3D& n)
{
    double sum = 0.0;
    const gmPnt3D o = dataManage.GetNode(nodes[0]).GetPoint();
    for (size_t i = 1; i + 1 < nodes.size(); ++i) {
        const gmPnt3D p = dataManage.GetNode(nodes[i]).GetPoint();
        const gmPnt3D q = dataManage.GetNode(nodes[i + 1]).GetPoint();
        sum += (p - o).Cross(q - o).Dot(n);
    }
    return 0.5 * sum;
}

inline std::vector<int> NodesOf(int e)
{
    const CsDataElem& el = dataManage.GetElem(e);
    std::vector<int> nodes;
    for (int k = 0; k < el.GetNodeNum(); ++k) nodes.push_back(el[k]);
    return nodes;
}

}  // namespace cuttest

#endif
