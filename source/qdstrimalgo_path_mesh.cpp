// The mesh as the walk sees it: faces, their outlines and neighbours, each
// face in its own frame (a 2D cut's plane), and a grid to find faces by.
#include "qdstrimalgo_path.h"

#include "qdsdatabase.h"
#include "qdstrimbase.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

CsXYZ FromVec(const gmVec3D& v) { return {v.x(), v.y(), v.z()}; }

// An element's own frame: its centre, its mean normal as w, and u along its
// first edge as that plane sees it.
CsCutMesh::Frame OwnFrame(int face)
{
    const CsDataElem& el = dataManage.GetElem(face);
    const int n = el.GetNodeNum();
    CsXYZ sum;
    CsXYZ normal;
    for (int k = 0; k < n; ++k) {
        const CsXYZ p = CsNodeXYZ(el[k]);
        sum = Add(sum, p);
        normal = Add(normal, Cross(p, CsNodeXYZ(el[(k + 1) % n])));
    }
    CsCutMesh::Frame f;
    f.origin = Scale(sum, 1.0 / n);
    f.w = Unit(normal);
    const CsXYZ edge = Sub(CsNodeXYZ(el[1]), CsNodeXYZ(el[0]));
    f.u = Unit(Sub(edge, Scale(f.w, Dot(edge, f.w))));
    f.v = Cross(f.w, f.u);
    return f;
}

}  // namespace

CsXYZ CsNodeXYZ(int node)
{
    const gmPnt3D& p = dataManage.GetNode(node).GetPoint();
    return {p.x(), p.y(), p.z()};
}

// ================================================================ mesh

std::unique_ptr<CsCutMesh> CsCutMesh::Planar(const gmCrdSys& cs)
{
    return std::unique_ptr<CsCutMesh>(new CsCutMesh(true, cs, 0.0));
}

std::unique_ptr<CsCutMesh> CsCutMesh::Spatial(double gap)
{
    return std::unique_ptr<CsCutMesh>(new CsCutMesh(false, gmCrdSys(), gap));
}

std::unique_ptr<CsCutMesh> CsCutMesh::Topology()
{
    std::unique_ptr<CsCutMesh> mesh(new CsCutMesh(false, gmCrdSys(), 0.0));
    mesh->remember_ = false;
    return mesh;
}

bool CsCutMesh::IsLive(int elem)
{
    if (!dataManage.IsValidElem(elem)) return false;
    const CsDataElem& el = dataManage.GetElem(elem);
    return el.IsShell() && !el.IsToDel() && !el.IsDeleted() && (el.GetNodeNum() == 3 || el.GetNodeNum() == 4);
}

CsCutMesh::CsCutMesh(bool planar, const gmCrdSys& cs, double gap) : planar_(planar), plane_(cs), gap_(gap)
{
    // Only an edge between two ends of coarse edges can carry a hanging node:
    // the flags spare the constraint table a lookup for every other edge.
    if (const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd()) {
        for (int b = 0; b < table->Capacity(); ++b) {
            for (const CsItem<CsDataAdpv>* item = table->GetItem(b); item; item = item->GetNext()) {
                for (const int exid : {item->GetData().GetN1(), item->GetData().GetN2(), item->GetData().GetNode()}) {
                    const int n = dataManage.GetNdidFromExid(exid);
                    if (n <= 0) continue;
                    if (static_cast<size_t>(n) >= coarseEnd_.size()) coarseEnd_.resize(static_cast<size_t>(n) + 1, 0);
                    coarseEnd_[static_cast<size_t>(n)] = 1;
                }
            }
        }
    }
}

bool CsCutMesh::MayHang(int a, int b) const
{
    const auto flagged = [this](int n) { return n > 0 && static_cast<size_t>(n) < coarseEnd_.size() && coarseEnd_[static_cast<size_t>(n)]; };
    return flagged(a) && flagged(b);
}

// The hanging nodes on edge a-b, in order from a, nested ones included.
void CsCutMesh::Hanging(int a, int b, std::vector<int>& out, int depth) const
{
    if (depth > 4 || !MayHang(a, b)) return;
    const int h = hashOper.GetAdpNdS(a, b);
    if (h <= 0 || h == a || h == b) return;
    Hanging(a, h, out, depth + 1);
    out.push_back(h);
    Hanging(h, b, out, depth + 1);
}

void CsCutMesh::OutlineInto(int elem, std::vector<int>& out) const
{
    out.clear();
    const CsDataElem& el = dataManage.GetElem(elem);
    const int n = el.GetNodeNum();
    for (int k = 0; k < n; ++k) {
        out.push_back(el[k]);
        Hanging(el[k], el[(k + 1) % n], out, 0);
    }
}

const std::vector<int>& CsCutMesh::Outline(int elem)
{
    if (!remember_) {
        OutlineInto(elem, scratch_);
        return scratch_;
    }
    const auto found = outlines_.find(elem);
    if (found != outlines_.end()) return found->second;
    std::vector<int> out;
    OutlineInto(elem, out);
    return outlines_.emplace(elem, std::move(out)).first->second;
}

int CsCutMesh::Across(int elem, int u, int v)
{
    const CsNdElemTpy& tpy = dataManage.GetTopology();
    for (const int node : {u, v}) {
        std::vector<int> around;
        tpy.GetNodeTpyElArr(node, around);
        for (const int g : around) {
            if (g == elem || !IsLive(g)) continue;
            const std::vector<int>& o = Outline(g);
            for (size_t i = 0; i < o.size(); ++i) {
                if (o[i] == v && o[(i + 1) % o.size()] == u) return g;
            }
        }
    }
    return 0;
}

std::vector<int> CsCutMesh::FacesAt(int node)
{
    std::vector<int> nodes{node};
    if (const CsDataAdpv* c = hashOper.GetCsAdpNd(node)) {
        nodes.push_back(dataManage.GetNdidFromExid(c->GetN1()));
        nodes.push_back(dataManage.GetNdidFromExid(c->GetN2()));
    }
    std::vector<int> faces;
    const CsNdElemTpy& tpy = dataManage.GetTopology();
    for (const int n : nodes) {
        if (!dataManage.IsValidNode(n)) continue;
        std::vector<int> around;
        tpy.GetNodeTpyElArr(n, around);
        for (const int g : around) {
            if (!IsLive(g) || std::find(faces.begin(), faces.end(), g) != faces.end()) continue;
            const std::vector<int>& o = Outline(g);
            if (std::find(o.begin(), o.end(), node) != o.end()) faces.push_back(g);
        }
    }
    std::sort(faces.begin(), faces.end());
    return faces;
}

const CsCutMesh::Frame& CsCutMesh::FrameOf(int face)
{
    // One plane serves every face of a 2D cut.
    if (planar_) {
        if (planeFrame_.w.x == 0.0 && planeFrame_.w.y == 0.0 && planeFrame_.w.z == 0.0) {
            planeFrame_.u = FromVec(plane_.GetU());
            planeFrame_.v = FromVec(plane_.GetV());
            planeFrame_.w = FromVec(plane_.GetW());
        }
        return planeFrame_;
    }
    const auto found = frames_.find(face);
    if (found != frames_.end()) return found->second;
    return frames_.emplace(face, OwnFrame(face)).first->second;
}

CsXY CsCutMesh::Flat(int face, const CsXYZ& p, double* height)
{
    const Frame& f = FrameOf(face);
    const CsXYZ d = planar_ ? p : Sub(p, f.origin);
    if (height) *height = planar_ ? 0.0 : Dot(d, f.w);
    return {Dot(d, f.u), Dot(d, f.v)};
}

CsXY CsCutMesh::NodeFlat(int face, int node) { return Flat(face, CsNodeXYZ(node)); }

CsXYZ CsCutMesh::Lift(int face, const CsXY& q)
{
    // Between the corners as the plane sees them, in the fan of triangles from
    // the first corner: a warped or steep element is followed where it is. A
    // point on a 3D cut's mean plane of a warped element would lie off the
    // surface, and a piece made with it would stand up from its parent.
    const CsDataElem& el = dataManage.GetElem(face);
    const int n = el.GetNodeNum();
    // A quadrilateral: on its bilinear surface, which bends smoothly where
    // the fan of triangles would crease along a diagonal and fold the pieces
    // that cross it.
    if (n == 4) {
        CsXY c[4];
        for (int k = 0; k < 4; ++k) c[k] = NodeFlat(face, el[k]);
        double u = 0.5, v = 0.5;
        for (int it = 0; it < 20; ++it) {
            const CsXY at{(1 - u) * (1 - v) * c[0].x + u * (1 - v) * c[1].x + u * v * c[2].x + (1 - u) * v * c[3].x,
                          (1 - u) * (1 - v) * c[0].y + u * (1 - v) * c[1].y + u * v * c[2].y + (1 - u) * v * c[3].y};
            const CsXY du{(1 - v) * (c[1].x - c[0].x) + v * (c[2].x - c[3].x), (1 - v) * (c[1].y - c[0].y) + v * (c[2].y - c[3].y)};
            const CsXY dv{(1 - u) * (c[3].x - c[0].x) + u * (c[2].x - c[1].x), (1 - u) * (c[3].y - c[0].y) + u * (c[2].y - c[1].y)};
            const double det = Cross2(du, dv);
            if (det == 0.0) break;
            const CsXY r = Sub2(q, at);
            const double su = Cross2(r, dv) / det, sv = Cross2(du, r) / det;
            u += su;
            v += sv;
            if (std::fabs(su) + std::fabs(sv) < 1e-14) break;
        }
        if (u > -0.5 && u < 1.5 && v > -0.5 && v < 1.5) {
            const double w[4] = {(1 - u) * (1 - v), u * (1 - v), u * v, (1 - u) * v};
            CsXYZ p{0.0, 0.0, 0.0};
            for (int k = 0; k < 4; ++k) p = Add(p, Scale(CsNodeXYZ(el[k]), w[k]));
            return p;
        }
    }
    const CsXY c0 = NodeFlat(face, el[0]);
    CsXYZ best;
    double bestOut = 1e300;
    for (int k = 1; k + 1 < n; ++k) {
        const CsXY c1 = NodeFlat(face, el[k]), c2 = NodeFlat(face, el[k + 1]);
        const double area = Cross2(Sub2(c1, c0), Sub2(c2, c0));
        if (area == 0.0) continue;
        const double b1 = Cross2(Sub2(q, c0), Sub2(c2, c0)) / area;
        const double b2 = Cross2(Sub2(c1, c0), Sub2(q, c0)) / area;
        const double b0 = 1.0 - b1 - b2;
        const double out = std::max({0.0, -b0, -b1, -b2});
        if (out >= bestOut) continue;
        bestOut = out;
        best = Add(Add(Scale(CsNodeXYZ(el[0]), b0), Scale(CsNodeXYZ(el[k]), b1)), Scale(CsNodeXYZ(el[k + 1]), b2));
    }
    return best;
}

CsXY CsCutMesh::OwnFlat(int face, const CsXYZ& p)
{
    if (!planar_) return Flat(face, p);
    // The element's own plane, as a 3D cut sees it.
    const Frame f = OwnFrame(face);
    const CsXYZ d = Sub(p, f.origin);
    return {Dot(d, f.u), Dot(d, f.v)};
}

int CsCutMesh::Turn(int face)
{
    const std::vector<int>& o = Outline(face);
    double a = 0.0;
    for (size_t i = 0; i < o.size(); ++i) a += Cross2(NodeFlat(face, o[i]), NodeFlat(face, o[(i + 1) % o.size()]));
    return a >= 0.0 ? 1 : -1;
}

double CsCutMesh::ShortestEdge(int face)
{
    const std::vector<int>& o = Outline(face);
    double best = 1e300;
    for (size_t i = 0; i < o.size(); ++i) {
        best = std::min(best, Len2(Sub2(NodeFlat(face, o[(i + 1) % o.size()]), NodeFlat(face, o[i]))));
    }
    return best;
}

void CsCutMesh::Forget()
{
    outlines_.clear();
    frames_.clear();
}

void CsCutMesh::BoxOf(int face, double lo[3], double hi[3])
{
    const CsDataElem& el = dataManage.GetElem(face);
    for (int k = 0; k < el.GetNodeNum(); ++k) {
        const CsXYZ p = CsNodeXYZ(el[k]);
        double c[3] = {p.x, p.y, p.z};
        if (planar_) {
            const CsXY f = Flat(face, p);
            c[0] = f.x;
            c[1] = f.y;
            c[2] = 0.0;
        }
        for (int a = 0; a < 3; ++a) {
            lo[a] = k == 0 ? c[a] : std::min(lo[a], c[a]);
            hi[a] = k == 0 ? c[a] : std::max(hi[a], c[a]);
        }
    }
    if (!planar_) {
        for (int a = 0; a < 3; ++a) {
            lo[a] -= gap_;
            hi[a] += gap_;
        }
    }
}

void CsCutMesh::BuildGrid()
{
    gridBuilt_ = true;
    std::vector<int> faces;
    std::vector<std::array<double, 6>> boxes;
    double glo[3] = {0, 0, 0}, ghi[3] = {0, 0, 0};
    double sizes = 0.0;
    for (int e = 1; e <= dataManage.GetElemNumber(); ++e) {
        if (!IsLive(e)) continue;
        std::array<double, 6> b{};
        BoxOf(e, b.data(), b.data() + 3);
        for (size_t a = 0; a < 3; ++a) {
            glo[a] = faces.empty() ? b[a] : std::min(glo[a], b[a]);
            ghi[a] = faces.empty() ? b[a + 3] : std::max(ghi[a], b[a + 3]);
        }
        sizes += std::max(b[3] - b[0], std::max(b[4] - b[1], planar_ ? 0.0 : b[5] - b[2]));
        faces.push_back(e);
        boxes.push_back(b);
    }
    if (faces.empty()) return;
    cell_ = std::max(2.0 * sizes / static_cast<double>(faces.size()), 1e-9);
    const auto dimsFor = [&]() {
        long long total = 1;
        for (int a = 0; a < 3; ++a) {
            const double span = (planar_ && a == 2) ? 0.0 : ghi[a] - glo[a];
            dims_[a] = std::max(1, static_cast<int>(span / cell_) + 1);
            total *= dims_[a];
        }
        return total;
    };
    // Never more cells than faces, however thin or spread the blank.
    while (dimsFor() > static_cast<long long>(faces.size()) + 64) cell_ *= 1.5;
    for (int a = 0; a < 3; ++a) lo_[a] = glo[a];
    const auto index = [this](double v, int a) {
        return std::clamp(static_cast<int>((v - lo_[a]) / cell_), 0, dims_[a] - 1);
    };
    const size_t count = static_cast<size_t>(dims_[0]) * static_cast<size_t>(dims_[1]) * static_cast<size_t>(dims_[2]);
    // Two passes: count each cell's faces, then file them, all in one array.
    const auto visit = [&](const std::array<double, 6>& b, const auto& use) {
        for (int k = index(b[2], 2); k <= index(b[5], 2); ++k)
            for (int j = index(b[1], 1); j <= index(b[4], 1); ++j)
                for (int i = index(b[0], 0); i <= index(b[3], 0); ++i)
                    use((static_cast<size_t>(k) * static_cast<size_t>(dims_[1]) + static_cast<size_t>(j)) *
                            static_cast<size_t>(dims_[0]) +
                        static_cast<size_t>(i));
    };
    cellStart_.assign(count + 1, 0);
    for (const auto& b : boxes) visit(b, [&](size_t c) { ++cellStart_[c + 1]; });
    for (size_t c = 0; c < count; ++c) cellStart_[c + 1] += cellStart_[c];
    cellFaces_.assign(cellStart_[count], 0);
    std::vector<size_t> fill(cellStart_.begin(), cellStart_.end() - 1);
    for (size_t f = 0; f < faces.size(); ++f) visit(boxes[f], [&](size_t c) { cellFaces_[fill[c]++] = faces[f]; });
}

void CsCutMesh::Candidates(const CsXYZ& p, std::vector<int>& out)
{
    out.clear();
    if (!gridBuilt_) BuildGrid();
    if (cellFaces_.empty()) return;
    double c[3] = {p.x, p.y, p.z};
    if (planar_) {
        const CsXY f = {Dot(p, FromVec(plane_.GetU())), Dot(p, FromVec(plane_.GetV()))};
        c[0] = f.x;
        c[1] = f.y;
        c[2] = lo_[2];
    }
    int at[3];
    for (int a = 0; a < 3; ++a) {
        const double r = (c[a] - lo_[a]) / cell_;
        // A point beyond the grid by more than a cell lies off the blank.
        if (r < -1.0 || r > dims_[a] + 1.0) return;
        at[a] = std::clamp(static_cast<int>(r), 0, dims_[a] - 1);
    }
    // The cells around too: a node moved onto the curve since the grid was
    // made may have taken its faces a little beyond their cells.
    for (int k = std::max(0, at[2] - 1); k <= std::min(dims_[2] - 1, at[2] + 1); ++k) {
        for (int j = std::max(0, at[1] - 1); j <= std::min(dims_[1] - 1, at[1] + 1); ++j) {
            for (int i = std::max(0, at[0] - 1); i <= std::min(dims_[0] - 1, at[0] + 1); ++i) {
                const size_t cell = (static_cast<size_t>(k) * static_cast<size_t>(dims_[1]) + static_cast<size_t>(j)) *
                                        static_cast<size_t>(dims_[0]) +
                                    static_cast<size_t>(i);
                out.insert(out.end(), cellFaces_.begin() + static_cast<long>(cellStart_[cell]),
                           cellFaces_.begin() + static_cast<long>(cellStart_[cell + 1]));
            }
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

double CsCutMesh::CellSize()
{
    if (!gridBuilt_) BuildGrid();
    return cell_;
}
