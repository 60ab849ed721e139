// One curve's cut over the blank: nodes next to the path moved onto it before
// anything is cut, then every element the path passes split along it by the
// general polygon split, the neighbours sharing a new edge node with it.
#include "qdsdatabase.h"
#include "qdstrimalgo.h"
#include "qdstrimalgo_path.h"
#include "qdstrimelem_split.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

namespace {

double Dist2(const CsXY& a, const CsXY& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// A moved node keeps every corner of its elements at least this far (as a
// sine, about six degrees) from flat or folded.
const double kMoveMinSine = 0.1;
// A move may take a node out of the plane of an element around it by this
// share of the element's size at most.
const double kBendShare = 0.002;
// The chain through an element may stray this share of the element's
// shortest edge from the curve: points of the curve closer to the chord than
// that are left out, so a finely sampled curve does not crumble the element.
const double kChordShare = 0.05;
// An outline node slides along the outline only where it runs straight: its
// two outline edges turn by less than this sine.
const double kStraightSine = 1e-6;
// A node that cannot move onto the curve takes the curve when it passes this
// near: the cut's nodes stay within two hundredths of the curve.
const double kStickRadius = 0.02;
// Positions on one edge closer than this are one node.
const double kSameOnEdge = 0.005;
// An element seen along a 2D cut's vector at less than this share of its area
// stands too steep for the view to split it.
const double kSeenShare = 0.2;

CsXYZ NormalOf(const std::vector<int>& corners)
{
    CsXYZ n;
    for (size_t k = 0; k < corners.size(); ++k) {
        const CsXYZ c = Cross(CsNodeXYZ(corners[k]), CsNodeXYZ(corners[(k + 1) % corners.size()]));
        n = {n.x + c.x, n.y + c.y, n.z + c.z};
    }
    return n;
}

std::vector<int> CornersOf(int elem)
{
    const CsDataElem& el = dataManage.GetElem(elem);
    std::vector<int> c(static_cast<size_t>(el.GetNodeNum()));
    for (int k = 0; k < el.GetNodeNum(); ++k) c[static_cast<size_t>(k)] = el[k];
    return c;
}

// Every corner turns the same way about the normal, clearly away from flat.
bool SoundAbout(const std::vector<int>& corners, const CsXYZ& normal)
{
    const size_t n = corners.size();
    const double ln = Norm(normal);
    if (ln <= 0.0) return false;
    for (size_t k = 0; k < n; ++k) {
        const CsXYZ p = CsNodeXYZ(corners[(k + n - 1) % n]);
        const CsXYZ c = CsNodeXYZ(corners[k]);
        const CsXYZ q = CsNodeXYZ(corners[(k + 1) % n]);
        const CsXYZ u = Sub(c, p), w = Sub(q, c);
        const double lu = Norm(u), lw = Norm(w);
        if (lu <= 0.0 || lw <= 0.0) return false;
        if (Dot(Cross(u, w), normal) / ln <= kMoveMinSine * lu * lw) return false;
    }
    return true;
}

// Distance of p from the segment a-b.
double SegDist(const CsXY& p, const CsXY& a, const CsXY& b)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double l2 = dx * dx + dy * dy;
    const double t = l2 > 0.0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / l2, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

}  // namespace

CsPathCut::CsPathCut(CsAlgoTrm& algo, CsCutMesh& mesh, double ratio, bool lance, std::vector<int> fixed)
    : algo_(algo), mesh_(mesh), tracer_(mesh), ratio_(ratio), lance_(lance), fixed_(std::move(fixed))
{
    std::sort(fixed_.begin(), fixed_.end());
    if (const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd()) {
        for (int b = 0; b < table->Capacity(); ++b) {
            for (const CsItem<CsDataAdpv>* item = table->GetItem(b); item; item = item->GetNext()) {
                coarseEnds_.push_back(dataManage.GetNdidFromExid(item->GetData().GetN1()));
                coarseEnds_.push_back(dataManage.GetNdidFromExid(item->GetData().GetN2()));
            }
        }
    }
    std::sort(coarseEnds_.begin(), coarseEnds_.end());
}

bool CsPathCut::Cut(const std::vector<CsXYZ>& curve, bool closed)
{
    if (!tracer_.Trace(curve, closed, runs_)) {
        failure_ = tracer_.Failure();
        return false;
    }
    if (runs_.empty()) return true;
    MoveNodes();
    if (!tracer_.Trace(curve, closed, runs_)) {
        failure_ = tracer_.Failure();
        return false;
    }
    if (runs_.empty()) return true;
    if (lance_) KeepSlitsOpen();
    Simplify();
    if (lance_) KeepSlitsOpen();
    if (!SplitFaces()) return false;
    mesh_.Forget();
    CollectEdges();
    return true;
}

std::vector<int> CsPathCut::Nodes() const
{
    std::vector<int> nodes;
    for (const auto& [u, v] : edges_) {
        nodes.push_back(u);
        nodes.push_back(v);
    }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    return nodes;
}

std::vector<int> CsPathCut::NodesOnEdge(int a, int b) const
{
    std::vector<int> out;
    const auto found = edgeNodes_.find({std::min(a, b), std::max(a, b)});
    if (found == edgeNodes_.end()) return out;
    for (const auto& e : found->second) out.push_back(e.second);
    if (a > b) std::reverse(out.begin(), out.end());
    return out;
}

// ---------------------------------------------------------------- moves

bool CsPathCut::Movable(int node, int along) const
{
    if (std::binary_search(fixed_.begin(), fixed_.end(), node)) return false;
    if (std::binary_search(coarseEnds_.begin(), coarseEnds_.end(), node)) return false;
    if (hashOper.GetCsAdpNd(node)) return false;
    const std::vector<int> faces = mesh_.FacesAt(node);
    if (faces.empty()) return false;
    // A node of the blank's outline moves only along a straight stretch of
    // it, towards a crossing on it: the outline keeps its shape.
    std::vector<int> open;
    for (const int f : faces) {
        const std::vector<int>& o = mesh_.Outline(f);
        const size_t m = o.size();
        const size_t i = static_cast<size_t>(std::find(o.begin(), o.end(), node) - o.begin());
        if (!mesh_.Across(f, node, o[(i + 1) % m])) open.push_back(o[(i + 1) % m]);
        if (!mesh_.Across(f, o[(i + m - 1) % m], node)) open.push_back(o[(i + m - 1) % m]);
    }
    if (open.empty()) return true;
    if (open.size() != 2 || std::find(open.begin(), open.end(), along) == open.end()) return false;
    const CsXYZ p = CsNodeXYZ(node);
    const CsXYZ u = Sub(CsNodeXYZ(open[0]), p), w = Sub(CsNodeXYZ(open[1]), p);
    return Norm(Cross(u, w)) <= kStraightSine * Norm(u) * Norm(w) && Dot(u, w) < 0.0;
}

bool CsPathCut::TryMove(int node, const CsXYZ& to)
{
    const std::vector<int> faces = mesh_.FacesAt(node);
    std::vector<CsXYZ> normals;
    for (const int f : faces) {
        const std::vector<int> corners = CornersOf(f);
        if (mesh_.IsPlanar()) {
            const CsCutMesh::Frame& frame = mesh_.FrameOf(f);
            const double s = Dot(NormalOf(corners), frame.w) >= 0.0 ? 1.0 : -1.0;
            normals.push_back({frame.w.x * s, frame.w.y * s, frame.w.z * s});
        } else {
            normals.push_back(NormalOf(corners));
        }
    }
    // The node stays on the sheet: no element around it may be bent out of
    // its own plane by more than a small share of its size, which keeps a
    // node on a crease (a drawn wall meeting its flange) where it is.
    const CsXYZ from = CsNodeXYZ(node);
    for (const int f : faces) {
        const std::vector<int> corners = CornersOf(f);
        const CsXYZ n = NormalOf(corners);
        const double ln = Norm(n);
        double size = 0.0;
        for (size_t k = 0; k < corners.size(); ++k)
            size = std::max(size, Norm(Sub(CsNodeXYZ(corners[(k + 1) % corners.size()]), CsNodeXYZ(corners[k]))));
        if (ln <= 0.0 || std::fabs(Dot(Sub(to, from), n)) / ln > kBendShare * size) return false;
    }
    const gmPnt3D old = dataManage.GetNode(node).GetPoint();
    dataManage.SetNode(node, gmPnt3D(to.x, to.y, to.z));
    bool sound = true;
    for (size_t i = 0; i < faces.size() && sound; ++i) {
        const std::vector<int> corners = CornersOf(faces[i]);
        sound = SoundAbout(corners, normals[i]);
        if (sound && !mesh_.IsPlanar()) {
            const CsXYZ now = NormalOf(corners);
            sound = Dot(now, normals[i]) > 0.9 * Norm(now) * Norm(normals[i]);
        }
    }
    if (!sound) {
        dataManage.SetNode(node, old);
        return false;
    }
    mesh_.Forget();
    return true;
}

void CsPathCut::MoveNodes()
{
    struct Candidate {
        double share;
        int node;
        CsXYZ to;
        int along;  // the other end of the edge the target lies on, 0 inside a face
    };
    std::vector<Candidate> candidates;
    std::set<int> onPath;
    for (const CsPathRun& run : runs_) {
        for (const CsPathStep& step : run.steps) {
            const CsMeshPlace& p = step.place;
            if (p.kind == CsMeshPlace::kNode) onPath.insert(p.node);
            if (p.kind == CsMeshPlace::kEdge) {
                if (p.t <= ratio_) candidates.push_back({p.t, p.a, p.point, p.b});
                if (1.0 - p.t <= ratio_) candidates.push_back({1.0 - p.t, p.b, p.point, p.a});
            } else if (p.kind == CsMeshPlace::kFace && step.corner) {
                // A sharp corner of the curve inside an element: its nearest corner may stand for it.
                const std::vector<int> corners = CornersOf(p.face);
                const size_t n = corners.size();
                for (size_t k = 0; k < n; ++k) {
                    const CsXYZ c = CsNodeXYZ(corners[k]);
                    const double edge = std::min(Norm(Sub(CsNodeXYZ(corners[(k + 1) % n]), c)),
                                                 Norm(Sub(CsNodeXYZ(corners[(k + n - 1) % n]), c)));
                    const double d = Norm(Sub(p.point, c));
                    if (edge > 0.0 && d <= ratio_ * edge) candidates.push_back({d / edge, corners[k], p.point, 0});
                }
            }
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.share < b.share; });
    std::set<int> moved;
    std::vector<CsXYZ> taken;
    for (const Candidate& c : candidates) {
        if (moved.count(c.node) || onPath.count(c.node)) continue;
        const bool occupied = std::any_of(taken.begin(), taken.end(), [&](const CsXYZ& t) { return Norm(Sub(t, c.to)) <= kSameOnEdge; });
        if (occupied || !Movable(c.node, c.along) || !TryMove(c.node, c.to)) {
            // Where it cannot come to the curve, the curve comes to it, if that is near enough.
            tracer_.Stick(c.node, kStickRadius);
            continue;
        }
        moved.insert(c.node);
        taken.push_back(c.to);
        // It now lies on the curve: the second walk, which may run a snap's
        // width beside the first, takes it rather than a crossing beside it.
        tracer_.Stick(c.node, kStickRadius);
    }
}

// ---------------------------------------------------------------- chains

// A slit opens at the nodes between its ends; one that runs inside a single
// element from end to end has none, and gets one halfway.
void CsPathCut::KeepSlitsOpen()
{
    for (size_t r = 0; r < runs_.size(); ++r) {
        std::vector<CsPathStep>& steps = runs_[r].steps;
        if (runs_[r].closed || steps.size() < 2) continue;
        if (tracer_.OnBlankOutline(steps.front().place) || tracer_.OnBlankOutline(steps.back().place)) continue;
        if (!keep_.empty()) {
            size_t kept = 0;
            for (const char k : keep_[r]) kept += k ? 1 : 0;
            if (kept > 2) continue;
            if (steps.size() > 2) {
                keep_[r][steps.size() / 2] = 1;
                continue;
            }
        } else if (steps.size() > 2) {
            continue;
        }
        // One step through one face, or along one edge, from an end inside the
        // blank to another: a point between them is the node the slit opens at.
        const int face = steps.back().face;
        const CsMeshPlace& p = steps.front().place;
        const CsMeshPlace& q = steps.back().place;
        if (face <= 0) {
            if (p.kind == CsMeshPlace::kFace || q.kind == CsMeshPlace::kFace) continue;
            const CsMeshPlace& e = p.kind == CsMeshPlace::kEdge ? p : q;
            const int u = e.kind == CsMeshPlace::kEdge ? e.a : p.node;
            const int v = e.kind == CsMeshPlace::kEdge ? e.b : q.node;
            const auto share = [&](const CsMeshPlace& x) {
                return x.kind == CsMeshPlace::kEdge ? (x.a == u && x.b == v ? x.t : -1.0)
                                                    : x.node == u ? 0.0 : x.node == v ? 1.0 : -1.0;
            };
            const double tp = share(p), tq = share(q);
            if (tp < 0.0 || tq < 0.0) continue;
            steps.insert(steps.begin() + 1, CsPathStep{tracer_.EdgePlace(u, v, 0.5 * (tp + tq)), 0, false});
            if (!keep_.empty()) keep_[r].insert(keep_[r].begin() + 1, 1);
            continue;
        }
        const CsXY a = mesh_.Flat(face, p.point);
        const CsXY b = mesh_.Flat(face, q.point);
        const CsXY mid{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
        steps.insert(steps.begin() + 1, CsPathStep{tracer_.FacePlace(face, mid), face, false});
        if (!keep_.empty()) keep_[r].insert(keep_[r].begin() + 1, 1);
    }
}

void CsPathCut::Simplify()
{
    keep_.assign(runs_.size(), {});
    for (size_t r = 0; r < runs_.size(); ++r) {
        const std::vector<CsPathStep>& steps = runs_[r].steps;
        std::vector<char>& keep = keep_[r];
        keep.assign(steps.size(), 1);
        const size_t last = steps.size() - 1;
        // Droppable: a point inside a face, reached across that face, left across it, no corner, no end.
        const auto droppable = [&](size_t k) {
            if (k == 0 || k == last) return false;
            const CsPathStep& s = steps[k];
            return s.place.kind == CsMeshPlace::kFace && !s.corner && s.face == s.place.face &&
                   steps[k + 1].face == s.place.face;
        };
        size_t k = 1;
        while (k < last) {
            if (!droppable(k)) {
                ++k;
                continue;
            }
            const int face = steps[k].place.face;
            size_t end = k;
            while (end + 1 < last && droppable(end + 1) && steps[end + 1].place.face == face) ++end;
            // Points k..end lie between the anchors k-1 and end+1: keep those the chord strays from.
            std::vector<CsXY> flat;
            for (size_t i = k - 1; i <= end + 1; ++i) {
                const CsMeshPlace& p = steps[i].place;
                flat.push_back(p.kind == CsMeshPlace::kFace && p.face == face ? p.flat : mesh_.Flat(face, p.point));
            }
            const double tol = kChordShare * mesh_.ShortestEdge(face);
            std::vector<char> take(flat.size(), 0);
            take.front() = take.back() = 1;
            std::vector<std::pair<size_t, size_t>> spans{{0, flat.size() - 1}};
            while (!spans.empty()) {
                const auto [a, b] = spans.back();
                spans.pop_back();
                double worst = -1.0;
                size_t at = a;
                for (size_t i = a + 1; i < b; ++i) {
                    const double d = SegDist(flat[i], flat[a], flat[b]);
                    if (d > worst) {
                        worst = d;
                        at = i;
                    }
                }
                // A loop closing on its anchor keeps its farthest point whatever the tolerance.
                const bool degenerate = Dist2(flat[a], flat[b]) <= tol;
                if (at > a && (worst > tol || degenerate)) {
                    take[at] = 1;
                    spans.push_back({a, at});
                    spans.push_back({at, b});
                }
            }
            for (size_t i = k; i <= end; ++i) keep[i] = take[i - (k - 1)];
            k = end + 1;
        }
    }
}

int CsPathCut::EdgeNode(int a, int b, double t, const CsXYZ& p)
{
    std::vector<std::pair<double, int>>& list = edgeNodes_[{a, b}];
    const double len = Norm(Sub(CsNodeXYZ(b), CsNodeXYZ(a)));
    for (const auto& [s, node] : list) {
        if (std::fabs(s - t) * len <= kSameOnEdge) return node;
    }
    const int node = dataManage.AddNode(gmPnt3D(p.x, p.y, p.z));
    list.push_back({t, node});
    std::sort(list.begin(), list.end());
    return node;
}

int CsPathCut::NodeOf(size_t run, size_t step)
{
    if (runs_[run].closed && step + 1 == runs_[run].steps.size()) step = 0;
    int& node = nodes_[run][step];
    if (node > 0) return node;
    const CsMeshPlace& p = runs_[run].steps[step].place;
    if (p.kind == CsMeshPlace::kNode) node = p.node;
    else if (p.kind == CsMeshPlace::kEdge) node = EdgeNode(p.a, p.b, p.t, p.point);
    else node = dataManage.AddNode(gmPnt3D(p.point.x, p.point.y, p.point.z));
    return node;
}

bool CsPathCut::SplitFace(int face, bool simplified)
{
    const std::vector<int> outline = mesh_.Outline(face);
    // The outline with the nodes made on its edges.
    std::vector<int> ring;
    for (size_t i = 0; i < outline.size(); ++i) {
        const int u = outline[i], v = outline[(i + 1) % outline.size()];
        ring.push_back(u);
        const auto found = edgeNodes_.find({std::min(u, v), std::max(u, v)});
        if (found == edgeNodes_.end()) continue;
        std::vector<std::pair<double, int>> on = found->second;
        if (u > v) std::reverse(on.begin(), on.end());
        for (const auto& e : on) ring.push_back(e.second);
    }
    // Points: the ring's nodes, then the places inside the face (made into nodes only if the split holds).
    std::vector<CsSplitPoint> points;
    std::vector<CsXYZ> spots;  // where they stand in space
    std::vector<int> nodeOfPoint;
    std::vector<std::pair<size_t, size_t>> placeOfPoint;
    const auto pointOfNode = [&](int node) {
        for (size_t i = 0; i < nodeOfPoint.size(); ++i)
            if (nodeOfPoint[i] == node) return static_cast<int>(i);
        const CsXY q = mesh_.OwnFlat(face, CsNodeXYZ(node));
        points.push_back({q.x, q.y});
        spots.push_back(CsNodeXYZ(node));
        nodeOfPoint.push_back(node);
        placeOfPoint.push_back({SIZE_MAX, 0});
        return static_cast<int>(points.size() - 1);
    };
    std::vector<int> outlineIdx;
    for (const int n : ring) outlineIdx.push_back(pointOfNode(n));
    std::vector<std::pair<int, int>> chains;
    std::vector<std::pair<int, int>> skipped;
    for (size_t r = 0; r < runs_.size(); ++r) {
        const std::vector<CsPathStep>& steps = runs_[r].steps;
        int prev = -1;
        size_t prevStep = 0;
        for (size_t k = 0; k < steps.size(); ++k) {
            const bool kept = !simplified || keep_[r][k];
            if (!kept && steps[k].place.face == face) continue;
            int idx = -1;
            const CsMeshPlace& p = steps[k].place;
            const bool closing = runs_[r].closed && k + 1 == steps.size();
            if (p.kind == CsMeshPlace::kFace && p.face == face) {
                const size_t key = closing ? 0 : k;
                for (size_t i = 0; i < placeOfPoint.size() && idx < 0; ++i)
                    if (placeOfPoint[i].first == r && placeOfPoint[i].second == key) idx = static_cast<int>(i);
                if (idx < 0) {
                    const CsXY q = mesh_.OwnFlat(face, p.point);
                    points.push_back({q.x, q.y});
                    spots.push_back(p.point);
                    nodeOfPoint.push_back(0);
                    placeOfPoint.push_back({r, key});
                    idx = static_cast<int>(points.size() - 1);
                }
            } else if (p.kind != CsMeshPlace::kFace && steps[k].face == face) {
                idx = pointOfNode(NodeOf(r, k));
            } else if (p.kind != CsMeshPlace::kFace && k + 1 < steps.size() && steps[k + 1].face == face) {
                idx = pointOfNode(NodeOf(r, k));
            }
            if (idx >= 0 && prev >= 0 && steps[k].face == face && idx != prev) {
                chains.push_back({prev, idx});
                // Points left out between two places on the outline: where the
                // chain stood clearly off the outline, the chord would lose that.
                if (k > prevStep + 1) {
                    // How far the left-out points stood off the chord.
                    const CsSplitPoint& a = points[static_cast<size_t>(prev)];
                    const CsSplitPoint& b = points[static_cast<size_t>(idx)];
                    double off = 0.0;
                    for (size_t j = prevStep + 1; j < k; ++j) {
                        const CsXY q = mesh_.OwnFlat(face, steps[j].place.point);
                        off = std::max(off, SegDist(q, {a.x, a.y}, {b.x, b.y}));
                    }
                    if (off > kStickRadius) skipped.push_back(chains.back());
                }
            }
            prev = idx;
            prevStep = k;
            if (idx < 0) prev = -1;
        }
    }
    // A chain between neighbours on the ring runs along the outline already.
    const size_t m = outlineIdx.size();
    const auto alongRing = [&](const std::pair<int, int>& c) {
        for (size_t i = 0; i < m; ++i) {
            const int a = outlineIdx[i], b = outlineIdx[(i + 1) % m];
            if ((c.first == a && c.second == b) || (c.first == b && c.second == a)) return true;
        }
        return false;
    };
    if (std::any_of(skipped.begin(), skipped.end(), alongRing)) return false;
    chains.erase(std::remove_if(chains.begin(), chains.end(), alongRing), chains.end());
    // The split in the element's own plane, or as a 2D cut's vector sees it.
    const auto inputSeen = [&](bool view) {
        CsSplitInput in;
        double cx = 0.0, cy = 0.0;
        for (const CsXYZ& p : spots) {
            const CsXY q = view ? mesh_.Flat(face, p) : mesh_.OwnFlat(face, p);
            in.points.push_back({q.x, q.y});
            cx += q.x / static_cast<double>(spots.size());
            cy += q.y / static_cast<double>(spots.size());
        }
        for (CsSplitPoint& p : in.points) p = {p.x - cx, p.y - cy};
        in.outline = outlineIdx;
        in.chains = chains;
        return in;
    };
    // Whether every piece turns as the element does in that input.
    const auto holds = [&](const CsSplitInput& in, const std::vector<std::vector<int>>& pieces) {
        const double whole = CsSplitArea(in, in.outline);
        return std::all_of(pieces.begin(), pieces.end(),
                           [&](const std::vector<int>& piece) { return CsSplitArea(in, piece) * whole > 0.0; });
    };
    std::vector<std::vector<int>> pieces;
    const CsSplitInput own = inputSeen(false);
    if (!CsSplitPolygon(own, pieces)) return false;
    // A 2D cut is made as its vector sees the element. Where a warped element
    // seen that way differs enough from its own plane that a piece turns over
    // in the view, the split is made in the view, and must then hold in the
    // element's plane too. (An element seen nearly edge-on is split in its
    // own plane only: the view would crush it.)
    if (mesh_.IsPlanar()) {
        const CsSplitInput view = inputSeen(true);
        const double seen = std::fabs(CsSplitArea(view, view.outline));
        if (seen >= kSeenShare * CsSplitArea(own, own.outline) && !holds(view, pieces)) {
            CsSplitInput ccw = view;
            if (CsSplitArea(view, view.outline) < 0.0) {
                for (CsSplitPoint& p : ccw.points) p.x = -p.x;
            }
            pieces.clear();
            if (!CsSplitPolygon(ccw, pieces) || !holds(own, pieces)) return false;
        }
    }
    // The places inside the face become nodes now that the split holds.
    for (size_t i = 0; i < points.size(); ++i) {
        if (nodeOfPoint[i] == 0) nodeOfPoint[i] = NodeOf(placeOfPoint[i].first, placeOfPoint[i].second);
    }
    std::vector<std::vector<int>> nodes;
    for (std::vector<int>& piece : pieces) {
        std::vector<int> n;
        for (const int i : piece) n.push_back(nodeOfPoint[static_cast<size_t>(i)]);
        nodes.push_back(n);
    }
    if (!simplified) {
        for (size_t r = 0; r < runs_.size(); ++r)
            for (size_t k = 0; k < runs_[r].steps.size(); ++k)
                if (runs_[r].steps[k].place.face == face && runs_[r].steps[k].place.kind == CsMeshPlace::kFace) keep_[r][k] = 1;
    }
    algo_.ReplaceByPieces(face, nodes);
    return true;
}

bool CsPathCut::SplitFaces()
{
    nodes_.assign(runs_.size(), {});
    for (size_t r = 0; r < runs_.size(); ++r) nodes_[r].assign(runs_[r].steps.size(), 0);
    std::set<int> faces;
    for (size_t r = 0; r < runs_.size(); ++r) {
        for (size_t k = 0; k < runs_[r].steps.size(); ++k) {
            const CsPathStep& s = runs_[r].steps[k];
            if (s.place.kind != CsMeshPlace::kFace) NodeOf(r, k);
            if (k > 0 && s.face > 0) faces.insert(s.face);
        }
    }
    // The neighbours that got a node on an edge.
    for (const auto& [edge, on] : edgeNodes_) {
        for (const int f : mesh_.FacesAt(edge.first)) {
            const std::vector<int>& o = mesh_.Outline(f);
            for (size_t i = 0; i < o.size(); ++i) {
                const int x = o[i], y = o[(i + 1) % o.size()];
                if ((x == edge.first && y == edge.second) || (x == edge.second && y == edge.first)) faces.insert(f);
            }
        }
    }
    // A slit doubles its nodes: a coarse element beside it takes its hanging
    // nodes as corners, so that no constraint names a node the slit doubles.
    if (lance_) {
        std::set<int> path;
        for (size_t r = 0; r < runs_.size(); ++r)
            for (size_t k = 0; k < runs_[r].steps.size(); ++k)
                if (runs_[r].steps[k].place.kind != CsMeshPlace::kFace) path.insert(NodeOf(r, k));
        for (const int n : path) {
            for (const int f : mesh_.FacesAt(n)) {
                if (mesh_.Outline(f).size() > static_cast<size_t>(dataManage.GetElem(f).GetNodeNum())) faces.insert(f);
            }
        }
    }
    for (const int f : faces) {
        if (SplitFace(f, true) || SplitFace(f, false)) continue;
        failure_ = "an element along the curve cannot be split along it";
        return false;
    }
    return true;
}

void CsPathCut::CollectEdges()
{
    edges_.clear();
    // The nodes on edge a-b between positions s and t, in order from s.
    const auto between = [this](int a, int b, double s, double t, std::vector<int>& out) {
        const auto found = edgeNodes_.find({std::min(a, b), std::max(a, b)});
        if (found == edgeNodes_.end()) return;
        std::vector<std::pair<double, int>> on = found->second;
        if (a > b) {
            for (auto& e : on) e.first = 1.0 - e.first;
        }
        std::sort(on.begin(), on.end());
        if (s > t) std::reverse(on.begin(), on.end());
        for (const auto& [at, node] : on) {
            if ((at > std::min(s, t)) && (at < std::max(s, t))) out.push_back(node);
        }
    };
    for (size_t r = 0; r < runs_.size(); ++r) {
        const std::vector<CsPathStep>& steps = runs_[r].steps;
        int prev = NodeOf(r, 0);
        size_t prevStep = 0;
        for (size_t k = 1; k < steps.size(); ++k) {
            if (!keep_[r][k]) continue;
            const int cur = NodeOf(r, k);
            std::vector<int> chain;
            if (steps[k].face == 0) {
                // Along an edge: the edge's own nodes between the two places.
                const CsMeshPlace& p = steps[prevStep].place;
                const CsMeshPlace& q = steps[k].place;
                int a = 0, b = 0;
                if (p.kind == CsMeshPlace::kEdge) {
                    a = p.a;
                    b = p.b;
                } else if (q.kind == CsMeshPlace::kEdge) {
                    a = q.a;
                    b = q.b;
                } else {
                    a = p.node;
                    b = q.node;
                }
                const auto at = [&](const CsMeshPlace& x) {
                    if (x.kind == CsMeshPlace::kEdge) return x.a == a ? x.t : 1.0 - x.t;
                    return x.node == a ? 0.0 : 1.0;
                };
                between(a, b, at(p), at(q), chain);
            }
            chain.push_back(cur);
            for (const int n : chain) {
                if (n != prev) edges_.push_back({prev, n});
                prev = n;
            }
            prevStep = k;
        }
    }
}

// ---------------------------------------------------------------- model

void CsAlgoTrm::ReplaceByPieces(int src, const std::vector<std::vector<int>>& pieces)
{
    if (pieces.empty()) return;
    const std::vector<int> before = NodesOf(src);
    const CsDataElem& from = dataManage.GetElem(src);
    const int part = from.GetPrtid();
    const double thickness = from.GetThickness();
    const bool inner = from.IsInner();
    const bool toDel = from.IsToDel();
    dataManage.SetElem(part, src, static_cast<int>(pieces[0].size()), pieces[0].data());
    SyncTopology(src, before);
    trmElemArr.push_back(src);
    CsElemMap map;
    map.SetSrcElem(src);
    for (size_t i = 1; i < pieces.size(); ++i) {
        const int added = dataManage.AddElem(part, static_cast<int>(pieces[i].size()), pieces[i].data());
        if (inner) dataManage.SetInner(added);
        if (toDel) dataManage.SetToDel(added);
        dataManage.SetThickness(added, thickness);
        trmElemArr.push_back(added);
        map.AddNewElem(added);
        SyncTopology(added, {});
    }
    if (map.GetElemNum() > 0) hashOper.AddNewElemMap(map);
}

void CsAlgoTrm::DropStaleConstraints()
{
    const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd();
    if (!table) return;
    std::vector<CsDataAdpv> all;
    for (int b = 0; b < table->Capacity(); ++b)
        for (const CsItem<CsDataAdpv>* item = table->GetItem(b); item; item = item->GetNext()) all.push_back(item->GetData());
    const CsNdElemTpy& tpy = dataManage.GetTopology();
    for (const CsDataAdpv& c : all) {
        const int d = dataManage.GetNdidFromExid(c.GetNode());
        const int a = dataManage.GetNdidFromExid(c.GetN1());
        const int b = dataManage.GetNdidFromExid(c.GetN2());
        bool sound = d > 0 && a > 0 && b > 0;
        if (sound) {
            // The coarse edge belongs to exactly one live element, the hanging node to some.
            int owners = 0;
            std::vector<int> around;
            tpy.GetNodeTpyElArr(a, around);
            for (const int e : around) {
                if (!CsCutMesh::IsLive(e)) continue;
                const CsDataElem& el = dataManage.GetElem(e);
                const int n = el.GetNodeNum();
                const int k = el.GetNodeIdx(a);
                if (k >= 0 && (el[(k + 1) % n] == b || el[(k + n - 1) % n] == b)) ++owners;
            }
            std::vector<int> users;
            tpy.GetNodeTpyElArr(d, users);
            sound = owners == 1 && std::any_of(users.begin(), users.end(), [d](int e) {
                        return CsCutMesh::IsLive(e) && dataManage.GetElem(e).GetNodeIdx(d) >= 0;
                    });
        }
        if (!sound) hashOper.RemoveAdpNd(c);
    }
}
