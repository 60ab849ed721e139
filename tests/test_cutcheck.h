// Small models and the invariants every element cut must keep, shared by the
// cutter tests: build a patch in the global model, cut elements with a real
// cut line the way the trimming walk does, and check the result.
#ifndef TEST_CUTCHECK_H
#define TEST_CUTCHECK_H

#include "qdsdatabase.h"
#include "qdsgeomline.h"
#include "qdstrimbase.h"
#include "qdstrimquad.h"
#include "qdstrimtria.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <utility>
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
    for (size_t e = 0; e < elems.size(); ++e) {
        dataManage.AddElem(CsDataElem(1, static_cast<int>(e) + 1, static_cast<int>(elems[e].size()), elems[e].data(), kEleShell));
    }
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

// An open line whose points are plane coordinates of the global x-y plane.
inline std::unique_ptr<gmCut2DLine> Line(const std::vector<gmPnt3D>& pts, double ratio = 0.25)
{
    auto line = std::make_unique<gmCut2DLine>(pts, 0);
    line->SetRatio(ratio);
    line->SetPntLcs(1);
    line->SetUcs(gmCrdSys());
    return line;
}

// The shortest element edge of the model, the cutters' length tolerance.
inline double ShortestEdge()
{
    double best = 1.0e10;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        const CsDataElem& el = dataManage.GetElem(e);
        for (int k = 0; k < el.GetNodeNum(); ++k) best = std::min(best, el.GetLength(k));
    }
    return best;
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

inline gmVec3D NormalOf(const std::vector<gmPnt3D>& v)
{
    gmVec3D n = v.size() == 3 ? (v[1] - v[0]).Cross(v[2] - v[0]) : (v[2] - v[0]).Cross(v[3] - v[1]);
    n.Normalize();
    return n;
}

// What one cut did, for the checks.
struct CutRecord {
    int elem = 0;
    int root = 0;          // the input element the cut element descends from
    int result = 0;
    int nodesBefore = 0;
    int elemsBefore = 0;
    std::vector<int> srcNodes;
    std::vector<gmPnt3D> srcBefore;  // the corners before the cut
    gmVec3D normal;
    std::vector<gmItrPt> points;
    CsElemMap map;
    int prjPtNode = 0;
    int movedNode = 0;
    bool sameEdge = false;
};

class Cutter {
public:
    Cutter() : quad_(nullptr, nullptr), tria_(nullptr, nullptr) {}

    // Cuts element e with the line as the trimming walk does: intersect, add
    // the points to the table, cut. A point k with preNodes[k] set is taken
    // to have a node from the neighbour already. minDst 0: the shortest edge.
    CutRecord Cut(gmTrmLine& line, int e, int root = 0, const std::vector<bool>& preNodes = {}, double minDst = 0.0)
    {
        CutRecord r;
        r.elem = e;
        r.root = root > 0 ? root : e;
        gmElemt elem(e);
        line.InterElement(elem, r.points);
        hashOper.AddItrPtArr(e, r.points);
        for (size_t k = 0; k < r.points.size() && k < preNodes.size(); ++k) {
            if (preNodes[k]) hashOper.GetExistItrPt(r.points[k])->AddNode();
        }
        r.nodesBefore = dataManage.GetNodeNumber();
        r.elemsBefore = dataManage.GetElemNumber();
        r.srcNodes = NodesOf(e);
        std::vector<gmPnt3D> v;
        for (const int n : r.srcNodes) v.push_back(dataManage.GetNode(n).GetPoint());
        r.normal = NormalOf(v);
        r.srcBefore = v;
        CsTrmElem& cutter = elem.GetNodNum() == 3 ? static_cast<CsTrmElem&>(tria_) : static_cast<CsTrmElem&>(quad_);
        cutter.SetData(line.GetRatio(), minDst > 0.0 ? minDst : ShortestEdge(), &hashOper);
        r.result = cutter.Trimming(&line, &elem, r.points);
        r.map = cutter.GetNewElemMap();
        r.prjPtNode = cutter.GetPrjPtNode();
        r.movedNode = cutter.GetMovedNode();
        r.sameEdge = cutter.IsOnSameEdge();
        return r;
    }

private:
    CsTrmQuad quad_;
    CsTrmTria tria_;
};

// The pieces of a cut: the element itself and the elements it added.
inline std::vector<int> Pieces(const CutRecord& r)
{
    std::vector<int> pieces{r.elem};
    for (int e = r.elemsBefore + 1; e <= dataManage.GetElemNumber(); ++e) pieces.push_back(e);
    return pieces;
}

// Distance of p from the segment a-b.
inline double SegDist(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b)
{
    const gmVec3D ab = b - a;
    const double t = ab.SqrLen() > 0 ? std::clamp((p - a).Dot(ab) / ab.SqrLen(), 0.0, 1.0) : 0.0;
    return p.DistTo(a + ab * t);
}

// The cut's points and pieces, for failure messages.
inline std::string Dump(const CutRecord& r)
{
    std::string out = "\n";
    for (const gmItrPt& p : r.points) {
        out += "point on " + std::to_string(p.GetEdge().GetFstNode()) + "-" + std::to_string(p.GetEdge().GetEndNode()) +
               " seg " + std::to_string(p.GetLineIdx()) + " at " + std::to_string(p.GetPoint().x()) + "," +
               std::to_string(p.GetPoint().y()) + "\n";
    }
    for (const int e : Pieces(r)) {
        out += "piece " + std::to_string(e) + ":";
        for (const int n : NodesOf(e)) {
            const gmPnt3D q = dataManage.GetNode(n).GetPoint();
            out += " " + std::to_string(n) + "(" + std::to_string(q.x()) + "," + std::to_string(q.y()) + ")";
        }
        out += "\n";
    }
    out += "source:";
    for (const int n : r.srcNodes) {
        const gmPnt3D q = dataManage.GetNode(n).GetPoint();
        out += " " + std::to_string(n) + "(" + std::to_string(q.x()) + "," + std::to_string(q.y()) + ")";
    }
    return out;
}

// Every invariant of one cut: the pieces are sound, turned like the element
// and tile exactly its outline after the cut (its corners where they are now,
// with the nodes made on its edges); shared nodes are in the table, the new
// elements in the map of their input element, trim nodes registered.
inline void ExpectSoundCut(const CutRecord& r)
{
    SCOPED_TRACE("element " + std::to_string(r.elem));
    const std::vector<int> pieces = Pieces(r);
    ASSERT_GT(Area(r.srcNodes, r.normal), 0.0) << "the element itself turned over";

    // Added elements are exactly those of the cut's map, and the cut says so.
    EXPECT_EQ(r.map.GetElemNum(), static_cast<int>(pieces.size()) - 1);
    EXPECT_EQ(r.result != 0, pieces.size() > 1);
    for (size_t i = 1; i < pieces.size(); ++i) EXPECT_EQ(r.map.GetNewElem(static_cast<int>(i) - 1), pieces[i]);
    if (pieces.size() == 1) {
        // Uncut: no node left over, the element's node list kept.
        EXPECT_EQ(dataManage.GetNodeNumber(), r.nodesBefore);
        EXPECT_EQ(NodesOf(r.elem), r.srcNodes);
        return;
    }

    double size = 0.0;
    for (const gmPnt3D& p : r.srcBefore) size = std::max(size, p.DistTo(r.srcBefore[0]));
    const double tol = 1e-7 * size;
    std::vector<gmPnt3D> now;
    for (const int n : r.srcNodes) now.push_back(dataManage.GetNode(n).GetPoint());
    const size_t corners = r.srcNodes.size();

    // The outline after the cut: the corners where they are now, and between
    // two corners the nodes that lie on that edge (as it was, or as it is
    // after a corner moved), in order along it.
    std::vector<int> used;
    for (const int e : pieces) {
        for (const int n : NodesOf(e)) used.push_back(n);
    }
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    std::vector<int> outline;
    std::vector<int> placed;
    for (size_t i = 0; i < corners; ++i) {
        outline.push_back(r.srcNodes[i]);
        const gmPnt3D& a = now[i];
        const gmPnt3D& b = now[(i + 1) % corners];
        std::vector<std::pair<double, int>> on;
        for (const int n : used) {
            if (std::find(r.srcNodes.begin(), r.srcNodes.end(), n) != r.srcNodes.end() || n == r.prjPtNode) continue;
            if (std::find(placed.begin(), placed.end(), n) != placed.end()) continue;
            const gmPnt3D p = dataManage.GetNode(n).GetPoint();
            if (SegDist(p, a, b) > tol && SegDist(p, r.srcBefore[i], r.srcBefore[(i + 1) % corners]) > tol) continue;
            on.emplace_back(p.DistTo(a), n);
            placed.push_back(n);
        }
        std::sort(on.begin(), on.end());
        for (const auto& entry : on) outline.push_back(entry.second);
    }
    const double whole = Area(outline, r.normal);
    ASSERT_GT(whole, 0.0) << "the outline turned over" << Dump(r);

    double sum = 0.0;
    std::map<std::pair<int, int>, int> edges;
    for (const int e : pieces) {
        const std::vector<int> nodes = NodesOf(e);
        ASSERT_TRUE(nodes.size() == 3 || nodes.size() == 4) << "piece " << e;
        for (size_t i = 0; i < nodes.size(); ++i) {
            ASSERT_TRUE(dataManage.IsValidNode(nodes[i]));
            for (size_t j = i + 1; j < nodes.size(); ++j) EXPECT_NE(nodes[i], nodes[j]) << "piece " << e << " repeats a node";
            ++edges[{nodes[i], nodes[(i + 1) % nodes.size()]}];
        }
        const double a = Area(nodes, r.normal);
        EXPECT_GT(a, 1e-7 * whole) << "piece " << e << " has no area or is turned over" << Dump(r);
        if (nodes.size() == 4) {
            const auto tri = [&](int i, int j, int k) { return Area({nodes[i], nodes[j], nodes[k]}, r.normal); };
            EXPECT_TRUE((tri(0, 1, 2) > 0 && tri(0, 2, 3) > 0) || (tri(1, 2, 3) > 0 && tri(1, 3, 0) > 0))
                << "piece " << e << " crosses over itself" << Dump(r);
        }
        sum += a;
        EXPECT_DOUBLE_EQ(dataManage.GetElem(e).GetThickness(), dataManage.GetElem(r.elem).GetThickness());
    }
    EXPECT_NEAR(sum, whole, 1e-7 * whole) << "the pieces do not cover the element" << Dump(r);

    // Inner edges are used once each way; the free edges are exactly the
    // outline's.
    std::vector<std::pair<int, int>> free;
    for (const auto& [edge, count] : edges) {
        EXPECT_EQ(count, 1) << "edge " << edge.first << "-" << edge.second << " used twice the same way";
        if (!edges.count({edge.second, edge.first})) free.push_back(edge);
    }
    std::vector<std::pair<int, int>> expected;
    for (size_t i = 0; i < outline.size(); ++i) expected.emplace_back(outline[i], outline[(i + 1) % outline.size()]);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(free, expected) << "the pieces' free edges are not the element's outline" << Dump(r);

    // New nodes on the outline are found through the intersection table
    // under the source edge they lie on, so the neighbour reuses them.
    for (int node = r.nodesBefore + 1; node <= dataManage.GetNodeNumber(); ++node) {
        if (node == r.prjPtNode) continue;
        const gmPnt3D p = dataManage.GetNode(node).GetPoint();
        for (size_t i = 0; i < corners; ++i) {
            const int n1 = r.srcNodes[i];
            const int n2 = r.srcNodes[(i + 1) % corners];
            if (SegDist(p, now[i], now[(i + 1) % corners]) > tol &&
                SegDist(p, r.srcBefore[i], r.srcBefore[(i + 1) % corners]) > tol)
                continue;
            bool found = false;
            for (const CsItem<gmItrPt>* it = hashOper.GetItemItrPt(n1, n2); it; it = it->GetNext()) {
                found = found || (it->GetData().GetEdge() == gmEdge(n1, n2, 0, 0) && it->GetData().GetNode() == node);
            }
            EXPECT_TRUE(found) << "node " << node << " on edge " << n1 << "-" << n2 << " is not in the table";
        }
    }

    // Every new element is filed under the input element it descends from.
    std::vector<int> offspring;
    hashOper.GetOffSpring(r.root, offspring);
    for (size_t i = 1; i < pieces.size(); ++i)
        EXPECT_NE(std::find(offspring.begin(), offspring.end(), pieces[i]), offspring.end()) << "piece " << pieces[i];

    // The feature node and a moved corner are trim nodes.
    if (r.prjPtNode > 0) {
        EXPECT_NE(hashOper.GetItemItrNd(r.prjPtNode), nullptr);
    }
    if (r.movedNode > 0) {
        EXPECT_NE(hashOper.GetItemItrNd(r.movedNode), nullptr);
    }
}

// No two nodes used by live elements share a place: a crossing shared by two
// elements got one node.
inline void ExpectNoDoubledNodes()
{
    std::vector<int> used;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        for (const int n : NodesOf(e)) used.push_back(n);
    }
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    for (size_t i = 0; i < used.size(); ++i) {
        for (size_t j = i + 1; j < used.size(); ++j) {
            EXPECT_GT(dataManage.GetNode(used[i]).GetPoint().DistTo(dataManage.GetNode(used[j]).GetPoint()), 1e-9)
                << "nodes " << used[i] << " and " << used[j] << " coincide";
        }
    }
}

// The node lists of the pieces as sets of corner positions, for pattern tests.
inline std::vector<std::vector<int>> PieceNodes(const CutRecord& r)
{
    std::vector<std::vector<int>> out;
    for (const int e : Pieces(r)) out.push_back(NodesOf(e));
    return out;
}

// The node at p, 0 when none.
inline int NodeAtPoint(const gmPnt3D& p, double tol = 1e-9)
{
    for (int n = 1; n <= dataManage.GetNodeNumber(); ++n) {
        if (dataManage.GetNode(n).GetPoint().DistTo(p) < tol) return n;
    }
    return 0;
}

// The same cyclic node list, starting anywhere.
inline bool SameCycle(const std::vector<int>& a, const std::vector<int>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t s = 0; s < a.size(); ++s) {
        bool same = true;
        for (size_t i = 0; i < a.size() && same; ++i) same = a[(s + i) % a.size()] == b[i];
        if (same) return true;
    }
    return false;
}

inline bool HasPiece(const CutRecord& r, const std::vector<int>& nodes)
{
    for (const std::vector<int>& p : PieceNodes(r)) {
        if (SameCycle(p, nodes)) return true;
    }
    return false;
}

}  // namespace cuttest

#endif
