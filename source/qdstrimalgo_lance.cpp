// Lancing: each line's path is cut into the mesh as trimming cuts it, then
// the elements on each side of the path but one get copies of its nodes, so
// the blank opens along the line and stays whole at an inner end.
#include "qdstrimalgo.h"
#include "qdstrimalgo_path.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <set>


// ================================================================= base

CsAlgoLce::CsAlgoLce(const CsTrmLineOwners& lines) : CsAlgoTrm(lines, 0) {}

void CsAlgoLce::MessageBegin() { ShowBegin("*                Lancing                      *", "Lancing Begins, please wait...\n"); }

void CsAlgoLce::MessageEnd() { ShowEnd("Lancing Failed. No element lanced", nullptr, "Lancing finished successfully"); }

int CsAlgoLce::TrimElemArr()
{
    int count = dataManage.GetElemNumber();
    int result = 0;
    for (gmTrmLine* line : trmLineArr) {
        if (!line || !line->IsLancing()) continue;
        trmElemArr.clear();
        std::vector<CsXYZ> curve;
        for (const gmPnt3D& p : line->GetPntArr()) curve.push_back({p.x(), p.y(), p.z()});
        const bool closed = curve.size() > 2 && curve.front().x == curve.back().x && curve.front().y == curve.back().y &&
                            curve.front().z == curve.back().z;
        std::unique_ptr<CsCutMesh> mesh;
        if (const auto* flat = dynamic_cast<const gmCut2DLine*>(line)) mesh = CsCutMesh::Planar(flat->GetUcs());
        else if (const auto* spatial = dynamic_cast<const gmCut3DLine*>(line)) mesh = CsCutMesh::Spatial(spatial->GetGap());
        else continue;
        CsPathCut cut(*this, *mesh, line->GetRatio(), true, {});
        if (!cut.Cut(curve, closed)) {
            ShowCutFailure("Lancing", line->GetExid(), cut.Failure());
            return 0;
        }
        if (!cut.MetBlank()) continue;
        SlitAlong(cut);
        DropStaleConstraints();
        result = 1;
        if (dataManage.GetElemNumber() > count) {
            ShowGrowth("Lancing", line->GetExid(), count, dataManage.GetElemNumber());
            count = dataManage.GetElemNumber();
        }
    }
    return result;
}

void CsAlgoLce::SlitAlong(const CsPathCut& cut)
{
    std::set<std::pair<int, int>> path;
    for (const auto& [u, v] : cut.Edges()) path.insert({std::min(u, v), std::max(u, v)});
    CsNdElemTpy& tpy = dataManage.GetTopology();
    for (const int n : cut.Nodes()) {
        std::vector<int> around;
        tpy.GetNodeTpyElArr(n, around);
        around.erase(std::remove_if(around.begin(), around.end(), [](int e) { return !CsCutMesh::IsLive(e); }),
                     around.end());
        std::sort(around.begin(), around.end());
        around.erase(std::unique(around.begin(), around.end()), around.end());
        // The elements at n fall into sectors between the path's edges; each
        // sector but the first gets its own copy of n, which opens the slit.
        const auto neighbours = [](int e, int node) {
            const CsDataElem& el = dataManage.GetElem(e);
            const int m = el.GetNodeNum();
            const int k = el.GetNodeIdx(node);
            return std::make_pair(el[(k + 1) % m], el[(k + m - 1) % m]);
        };
        std::vector<int> group(around.size());
        for (size_t i = 0; i < around.size(); ++i) group[i] = static_cast<int>(i);
        const std::function<int(int)> root = [&](int i) {
            while (group[static_cast<size_t>(i)] != i) i = group[static_cast<size_t>(i)];
            return i;
        };
        for (size_t i = 0; i < around.size(); ++i) {
            const auto [ni, pi] = neighbours(around[i], n);
            for (size_t j = i + 1; j < around.size(); ++j) {
                const auto [nj, pj] = neighbours(around[j], n);
                for (const int w : {ni, pi}) {
                    if (w != nj && w != pj) continue;
                    if (path.count({std::min(n, w), std::max(n, w)})) continue;
                    const int a = root(static_cast<int>(i)), b = root(static_cast<int>(j));
                    group[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
                }
            }
        }
        std::map<int, int> copies;
        for (size_t i = 0; i < around.size(); ++i) {
            const int g = root(static_cast<int>(i));
            if (g == 0) continue;
            auto found = copies.find(g);
            if (found == copies.end()) {
                const CsDataNode& source = dataManage.GetNode(n);
                const int copy = dataManage.AddNode(CsDataNode(dataManage.GetNodeMaxNo() + 1, source.GetPoint(), source.GetSpcCode()));
                found = copies.emplace(g, copy).first;
            }
            const int e = around[i];
            std::vector<int> nodes = NodesOf(e);
            const std::vector<int> before = nodes;
            std::replace(nodes.begin(), nodes.end(), n, found->second);
            dataManage.SetElem(dataManage.GetElem(e).GetPrtid(), e, static_cast<int>(nodes.size()), nodes.data());
            SyncTopology(e, before);
            trmElemArr.push_back(e);
        }
    }
}

// ================================================================= variants

CsLance2D::CsLance2D(const CsTrmLineOwners& lines) : CsAlgoLce(lines) {}

void CsLance2D::MessageBegin() { ShowBegin("*                2D Lancing                      *", "2D Lancing Begins, please wait...\n"); }

void CsLance2D::MessageEnd() { ShowEnd("2D Lancing failed. No elment lanced", nullptr, "2D Lancing finished successfully"); }

CsLance3D::CsLance3D(const CsTrmLineOwners& lines) : CsAlgoLce(lines) {}

void CsLance3D::MessageBegin() { ShowBegin("*                3D Lancing                      *", "3D Lancing Begins, please wait...\n"); }

void CsLance3D::MessageEnd() { ShowEnd("3D Lancing failed. No element lanced", "Inappropriate gap value can result in this failure", "3D Lancing finished successfully"); }
