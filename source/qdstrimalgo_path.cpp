#include "qdstrimalgo_path.h"

#include "qdsdatabase.h"
#include "qdstrimbase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// The snapping distance: a curve point this near a node or an edge is put on
// it. A thousandth of the element keeps slivers out; the cap keeps every node
// of the cut on the curve within a hundredth of a millimetre.
const double kSnapShare = 1e-3;
const double kSnapCap = 0.005;
// A stretch of the curve shorter than this over a face at the place where the
// walk left the blank is the walk's own offset from the curve, not a way back
// onto it; elsewhere the snapping distance decides.
const double kGrazing = 0.04;
// An open curve's end this near the blank's outline lies on it: the snapping
// share of the element's size, without the snapping cap (a lance ending 0.005
// inside the edge of a large element), but no farther than a node may stand
// off the curve.
const double kOnEdgeCap = 0.02;
const double kOnEdgeShare = 1e-3;
// The walk gives up on a curve point after this many steps towards it.
const int kStepsPerTarget = 200000;

// A face's outline as the walk sees it: counterclockwise in the face's frame.
struct Seen {
    std::vector<int> nodes;
    std::vector<CsXY> q;
    size_t Size() const { return nodes.size(); }
    size_t IndexOf(int node) const
    {
        return static_cast<size_t>(std::find(nodes.begin(), nodes.end(), node) - nodes.begin());
    }
};

Seen SeenOf(CsCutMesh& mesh, int face)
{
    Seen s;
    s.nodes = mesh.Outline(face);
    if (mesh.Turn(face) < 0) std::reverse(s.nodes.begin(), s.nodes.end());
    s.q.reserve(s.nodes.size());
    for (const int n : s.nodes) s.q.push_back(mesh.NodeFlat(face, n));
    return s;
}

// Inward distance of p from the edge i -> i+1 of a counterclockwise outline.
double Inward(const Seen& s, size_t i, const CsXY& p)
{
    const CsXY& a = s.q[i];
    const CsXY& b = s.q[(i + 1) % s.Size()];
    const CsXY d = Sub2(b, a);
    const double len = Len2(d);
    return len > 0.0 ? Cross2(d, Sub2(p, a)) / len : 0.0;
}

// Where a node or an edge point stands on the outline: the index of the corner,
// plus the share of the edge after it; -1 off the outline.
double OutlinePos(const Seen& s, const CsMeshPlace& p)
{
    const size_t m = s.Size();
    for (size_t i = 0; i < m; ++i) {
        const int x = s.nodes[i], y = s.nodes[(i + 1) % m];
        if (p.kind == CsMeshPlace::kNode && x == p.node) return static_cast<double>(i);
        if (p.kind == CsMeshPlace::kEdge && x == p.a && y == p.b) return static_cast<double>(i) + p.t;
        if (p.kind == CsMeshPlace::kEdge && x == p.b && y == p.a) return static_cast<double>(i) + 1.0 - p.t;
    }
    return -1.0;
}

// Whether a node or an edge point lies on the edge u-v (a node at either end of it).
bool OnSide(const CsMeshPlace& x, int u, int v)
{
    if (x.kind == CsMeshPlace::kNode) return x.node == u || x.node == v;
    return x.kind == CsMeshPlace::kEdge && std::minmax(x.a, x.b) == std::minmax(u, v);
}

// Calls visit(face, u, v) on each edge of the faces at the node that no other
// face shares: the blank's outline there.
template <class Visit>
void ForOutlineAt(CsCutMesh& mesh, int node, Visit visit)
{
    for (const int f : mesh.FacesAt(node)) {
        const std::vector<int>& o = mesh.Outline(f);
        for (size_t i = 0; i < o.size(); ++i) {
            const int u = o[i], v = o[(i + 1) % o.size()];
            if (mesh.Across(f, u, v) == 0) visit(f, u, v);
        }
    }
}

}  // namespace

// ================================================================ walk

double CsPathTracer::Tolerance(int face) { return std::min(kSnapShare * mesh_.ShortestEdge(face), kSnapCap); }

CsMeshPlace CsPathTracer::NodePlace(int node)
{
    CsMeshPlace p;
    p.kind = CsMeshPlace::kNode;
    p.node = node;
    p.point = CsNodeXYZ(node);
    return p;
}

CsMeshPlace CsPathTracer::EdgePlace(int u, int v, double t)
{
    if (u > v) {
        std::swap(u, v);
        t = 1.0 - t;
    }
    const CsXYZ a = CsNodeXYZ(u);
    const CsXYZ b = CsNodeXYZ(v);
    const double len = Norm(Sub(b, a));
    const double tol = std::min(kSnapShare * len, kSnapCap);
    if (t * len <= std::max(tol, StickAt(u))) return NodePlace(u);
    if ((1.0 - t) * len <= std::max(tol, StickAt(v))) return NodePlace(v);
    CsMeshPlace p;
    p.kind = CsMeshPlace::kEdge;
    p.a = u;
    p.b = v;
    p.t = t;
    p.point = Add(a, Scale(Sub(b, a), t));
    return p;
}

CsMeshPlace CsPathTracer::FacePlace(int face, const CsXY& q)
{
    CsMeshPlace p;
    p.kind = CsMeshPlace::kFace;
    p.face = face;
    p.flat = q;
    p.point = mesh_.Lift(face, q);
    return p;
}

namespace {

// The place as the face sees it.
CsXY FlatOf(CsCutMesh& mesh, int face, const CsMeshPlace& p)
{
    switch (p.kind) {
    case CsMeshPlace::kNode:
        return mesh.NodeFlat(face, p.node);
    case CsMeshPlace::kEdge:
        return Lerp2(mesh.NodeFlat(face, p.a), mesh.NodeFlat(face, p.b), p.t);
    case CsMeshPlace::kFace:
        return p.face == face ? p.flat : mesh.Flat(face, p.point);
    }
    return {};
}

}  // namespace

// Which way the curve goes on from a place: the face it enters (> 0), a step
// along an edge (0, with the place reached in along), out of the blank (-1),
// or nowhere because it is there already (-2).
int CsPathTracer::ChooseFace(const CsMeshPlace& from, const CsXYZ& target, CsMeshPlace& along)
{
    if (from.kind == CsMeshPlace::kFace) {
        const CsXY t = mesh_.Flat(from.face, target);
        return Len2(Sub2(t, from.flat)) <= Tolerance(from.face) ? -2 : from.face;
    }
    if (from.kind == CsMeshPlace::kEdge) {
        const int a = from.a, b = from.b;
        std::vector<int> faces;
        for (const int f : mesh_.FacesAt(a)) {
            const std::vector<int>& o = mesh_.Outline(f);
            for (size_t i = 0; i < o.size(); ++i) {
                const int x = o[i], y = o[(i + 1) % o.size()];
                if ((x == a && y == b) || (x == b && y == a)) faces.push_back(f);
            }
        }
        if (faces.empty()) return -1;
        int best = 0;
        double bestIn = -1e300;
        double tol = 1e300;
        for (const int f : faces) {
            const Seen s = SeenOf(mesh_, f);
            const size_t ia = s.IndexOf(a), ib = s.IndexOf(b);
            const size_t i = (ia + 1) % s.Size() == ib ? ia : ib;
            const CsXY t = mesh_.Flat(f, target);
            tol = std::min(tol, Tolerance(f));
            if (Len2(Sub2(t, FlatOf(mesh_, f, from))) <= Tolerance(f)) return -2;
            const double in = Inward(s, i, t);
            if (in > bestIn) {
                bestIn = in;
                best = f;
            }
        }
        if (bestIn > tol) return best;
        if (bestIn < -tol && faces.size() == 1) return -1;
        // On the edge's line as every face sees it: along the edge.
        const CsXYZ pa = CsNodeXYZ(a), pb = CsNodeXYZ(b);
        const CsXYZ d = Sub(pb, pa);
        double tau = 0.0;
        if (mesh_.IsPlanar()) {
            const CsXY fa = mesh_.NodeFlat(best, a), fb = mesh_.NodeFlat(best, b);
            const CsXY fd = Sub2(fb, fa);
            const CsXY ft = Sub2(mesh_.Flat(best, target), fa);
            tau = (ft.x * fd.x + ft.y * fd.y) / (fd.x * fd.x + fd.y * fd.y);
        } else {
            tau = Dot(Sub(target, pa), d) / Dot(d, d);
        }
        if (std::fabs(tau - from.t) * Norm(d) <= tol) return -2;
        along = tau >= 1.0 ? NodePlace(b) : tau <= 0.0 ? NodePlace(a) : EdgePlace(a, b, tau);
        return 0;
    }
    // At a node: the face whose corner there opens towards the target.
    const int n = from.node;
    const std::vector<int> faces = mesh_.FacesAt(n);
    if (faces.empty()) return -1;
    int best = 0;
    double bestScore = -1e300;
    double tol = 1e300;
    bool outline = false;
    int alongTo = 0;
    double alongCos = -2.0;
    for (const int f : faces) {
        const Seen s = SeenOf(mesh_, f);
        const size_t i = s.IndexOf(n);
        const size_t m = s.Size();
        const int next = s.nodes[(i + 1) % m];
        const int prev = s.nodes[(i + m - 1) % m];
        if (!mesh_.Across(f, n, next) || !mesh_.Across(f, prev, n)) outline = true;
        const CsXY c = s.q[i];
        const CsXY t = Sub2(mesh_.Flat(f, target), c);
        const double lt = Len2(t);
        tol = std::min(tol, Tolerance(f));
        if (lt <= std::max(Tolerance(f), StickAt(n))) return -2;
        const CsXY toNext = Sub2(s.q[(i + 1) % m], c);
        const CsXY toPrev = Sub2(s.q[(i + m - 1) % m], c);
        const double s1 = Cross2(toNext, t) / (Len2(toNext) * lt);
        const double s2 = Cross2(t, toPrev) / (Len2(toPrev) * lt);
        const double score = std::min(s1, s2);
        if (score > bestScore) {
            bestScore = score;
            best = f;
        }
        const double c1 = (toNext.x * t.x + toNext.y * t.y) / (Len2(toNext) * lt);
        const double c2 = (toPrev.x * t.x + toPrev.y * t.y) / (Len2(toPrev) * lt);
        if (c1 > alongCos) {
            alongCos = c1;
            alongTo = next;
        }
        if (c2 > alongCos) {
            alongCos = c2;
            alongTo = prev;
        }
    }
    const CsXYZ pt = target;
    const CsXYZ pn = CsNodeXYZ(n);
    const double reach = Norm(Sub(pt, pn));
    const double sinTol = reach > 0.0 ? tol / reach : 1.0;
    if (bestScore > sinTol) return best;
    if (bestScore < -sinTol && outline) return -1;
    if (alongTo <= 0 || alongCos <= 0.0) return outline ? -1 : best;
    // Along the edge that points at the target.
    const CsXYZ d = Sub(CsNodeXYZ(alongTo), pn);
    double tau = 0.0;
    if (mesh_.IsPlanar()) {
        const CsXY fn = mesh_.NodeFlat(best, n), fw = mesh_.NodeFlat(best, alongTo);
        const CsXY fd = Sub2(fw, fn);
        const CsXY ft = Sub2(mesh_.Flat(best, target), fn);
        tau = (ft.x * fd.x + ft.y * fd.y) / (fd.x * fd.x + fd.y * fd.y);
    } else {
        tau = Dot(Sub(pt, pn), d) / Dot(d, d);
    }
    if (tau <= 0.0) return outline ? -1 : best;
    along = tau >= 1.0 ? NodePlace(alongTo) : EdgePlace(n, alongTo, tau);
    return 0;
}

int CsPathTracer::Step(const CsMeshPlace& from, const CsXYZ& target, CsMeshPlace& to, int& face)
{
    face = 0;
    const int chosen = ChooseFace(from, target, to);
    if (chosen == -2) return 0;
    if (chosen == -1) return -1;
    if (chosen == 0) return 1;
    face = chosen;
    Cross(from, target, chosen, to);
    // Two places on one straight side of the face (a coarse edge with its
    // hanging node) are joined by that side, not by a chord across the face:
    // the walk goes along it, corner by corner.
    const Seen s = SeenOf(mesh_, chosen);
    const double tol = Tolerance(chosen);
    const double pf = OutlinePos(s, from), pt = OutlinePos(s, to);
    const double m = static_cast<double>(s.Size());
    if (pf < 0.0 || pt < 0.0) return 1;
    for (const int way : {1, -1}) {
        const double span = std::fmod(way * (pt - pf) + 2.0 * m, m);
        std::vector<size_t> between;
        for (double c = way > 0 ? std::floor(pf) + 1.0 : std::ceil(pf) - 1.0; way * (c - pf) < span - 1e-9; c += way)
            between.push_back(static_cast<size_t>(std::fmod(c + 2.0 * m, m)));
        if (between.empty()) continue;
        const CsXY p = FlatOf(mesh_, chosen, from);
        const CsXY d = Sub2(FlatOf(mesh_, chosen, to), p);
        const double len = Len2(d);
        bool straight = len > 0.0;
        for (const size_t c : between) straight = straight && std::fabs(Cross2(d, Sub2(s.q[c], p))) <= tol * len;
        if (!straight) continue;
        to = NodePlace(s.nodes[between.front()]);
        face = 0;
        return 1;
    }
    return 1;
}

void CsPathTracer::Cross(const CsMeshPlace& from, const CsXYZ& target, int chosen, CsMeshPlace& to)
{
    const Seen s = SeenOf(mesh_, chosen);
    const size_t m = s.Size();
    const double tol = Tolerance(chosen);
    const CsXY t = mesh_.Flat(chosen, target);
    // The target within the face: on a corner, on an edge, or inside.
    for (size_t i = 0; i < m; ++i) {
        if (Len2(Sub2(t, s.q[i])) <= std::max(tol, StickAt(s.nodes[i]))) {
            to = NodePlace(s.nodes[i]);
            return;
        }
    }
    bool inside = true;
    for (size_t i = 0; i < m; ++i) {
        const double in = Inward(s, i, t);
        if (in > tol) continue;
        inside = false;
        if (in < -tol) continue;
        const CsXY a = s.q[i], b = s.q[(i + 1) % m];
        const CsXY d = Sub2(b, a);
        const double tau = ((t.x - a.x) * d.x + (t.y - a.y) * d.y) / (d.x * d.x + d.y * d.y);
        if (tau > 0.0 && tau < 1.0) {
            to = EdgePlace(s.nodes[i], s.nodes[(i + 1) % m], tau);
            return;
        }
    }
    if (inside) {
        to = FacePlace(chosen, t);
        return;
    }
    // Out of the face: the first edge line the segment leaves by.
    const CsXY p = FlatOf(mesh_, chosen, from);
    double exit = 1e300;
    size_t by = m;
    for (size_t i = 0; i < m; ++i) {
        const int x = s.nodes[i], y = s.nodes[(i + 1) % m];
        // The edges at the start cannot be the way out.
        if (from.kind == CsMeshPlace::kNode && (x == from.node || y == from.node)) continue;
        if (from.kind == CsMeshPlace::kEdge && ((x == from.a && y == from.b) || (x == from.b && y == from.a))) continue;
        const double dp = Inward(s, i, p);
        const double dt = Inward(s, i, t);
        if (dt >= 0.0) continue;
        const double share = std::max(0.0, dp) / (std::max(0.0, dp) - dt);
        if (share < exit) {
            exit = share;
            by = i;
        }
    }
    if (by == m) {
        to = FacePlace(chosen, t);
        return;
    }
    CsXY x = Lerp2(p, t, exit);
    // Where the curve's own segment, as this face sees it, leaves the face: a
    // walk that entered a snap's width or a projection's difference beside the
    // segment comes back onto it instead of aiming at its far end from there.
    if (origin_) {
        const CsXY o = mesh_.Flat(chosen, *origin_);
        const CsXY along = Sub2(t, o);
        double low = -1e300, high = 1e300;
        size_t leave = m;
        for (size_t i = 0; i < m && low <= high; ++i) {
            const double d0 = Inward(s, i, o);
            const double slope = Inward(s, i, t) - d0;
            if (slope == 0.0) {
                if (d0 < 0.0) low = 1e300;
                continue;
            }
            const double at = -d0 / slope;
            if (slope > 0.0) low = std::max(low, at);
            else if (at < high) {
                high = at;
                leave = i;
            }
        }
        const double len2 = along.x * along.x + along.y * along.y;
        const double here = len2 > 0.0 ? ((p.x - o.x) * along.x + (p.y - o.y) * along.y) / len2 : 0.0;
        const bool startEdge = leave < m && ((from.kind == CsMeshPlace::kNode && (s.nodes[leave] == from.node || s.nodes[(leave + 1) % m] == from.node)) ||
                                             (from.kind == CsMeshPlace::kEdge && ((s.nodes[leave] == from.a && s.nodes[(leave + 1) % m] == from.b) ||
                                                                                  (s.nodes[leave] == from.b && s.nodes[(leave + 1) % m] == from.a))));
        if (low <= high && leave < m && high < 1.0 && high > here && !startEdge) x = {o.x + high * along.x, o.y + high * along.y};
    }
    // Edges on one line (a coarse edge's halves) leave at the same share: the
    // way out is the one whose segment holds the exit point.
    double nearest = 1e300;
    for (size_t i = 0; i < m; ++i) {
        if (Inward(s, i, t) >= 0.0) continue;
        const CsXY a = s.q[i], b = s.q[(i + 1) % m];
        const CsXY d = Sub2(b, a);
        const double tau = std::clamp(((x.x - a.x) * d.x + (x.y - a.y) * d.y) / (d.x * d.x + d.y * d.y), 0.0, 1.0);
        const double off = Len2(Sub2(x, Lerp2(a, b, tau)));
        if (off < nearest - 1e-12 * Len2(d)) {
            nearest = off;
            by = i;
        }
    }
    const CsXY a = s.q[by], b = s.q[(by + 1) % m];
    // A curve crossing the edge at a grazing angle passes a corner nearer than
    // it crosses beside it: within the snapping width it goes through that corner.
    const auto passes = [&](const CsXY& c, double reach) {
        const CsXY d = Sub2(t, p);
        const double dd = d.x * d.x + d.y * d.y;
        if (dd <= 0.0) return false;
        const double u = ((c.x - p.x) * d.x + (c.y - p.y) * d.y) / dd;
        return u > 0.0 && u <= 1.0 && std::fabs(Cross2(d, Sub2(c, p))) <= reach * std::sqrt(dd);
    };
    if (Len2(Sub2(x, a)) <= std::max(tol, StickAt(s.nodes[by])) || passes(a, tol)) {
        to = NodePlace(s.nodes[by]);
        return;
    }
    if (Len2(Sub2(x, b)) <= std::max(tol, StickAt(s.nodes[(by + 1) % m])) || passes(b, tol)) {
        to = NodePlace(s.nodes[(by + 1) % m]);
        return;
    }
    const CsXY d = Sub2(b, a);
    const double tau = std::clamp(((x.x - a.x) * d.x + (x.y - a.y) * d.y) / (d.x * d.x + d.y * d.y), 0.0, 1.0);
    to = EdgePlace(s.nodes[by], s.nodes[(by + 1) % m], tau);
}

bool CsPathTracer::PlaceIn(int f, const CsXYZ& p, CsMeshPlace& place, double& height)
{
    height = 0.0;
    const CsXY t = mesh_.Flat(f, p, &height);
    if (!mesh_.IsPlanar() && std::fabs(height) > mesh_.Gap()) return false;
    const Seen s = SeenOf(mesh_, f);
    const size_t m = s.Size();
    const double tol = Tolerance(f);
    for (size_t i = 0; i < m; ++i) {
        if (Len2(Sub2(t, s.q[i])) <= std::max(tol, StickAt(s.nodes[i]))) {
            place = NodePlace(s.nodes[i]);
            return true;
        }
    }
    bool inside = true;
    for (size_t i = 0; i < m; ++i) {
        const double in = Inward(s, i, t);
        if (in > tol) continue;
        inside = false;
        if (in < -tol) return false;
        const CsXY a = s.q[i], b = s.q[(i + 1) % m];
        const CsXY d = Sub2(b, a);
        const double tau = ((t.x - a.x) * d.x + (t.y - a.y) * d.y) / (d.x * d.x + d.y * d.y);
        if (tau > 0.0 && tau < 1.0) {
            place = EdgePlace(s.nodes[i], s.nodes[(i + 1) % m], tau);
            return true;
        }
    }
    if (!inside) return false;
    place = FacePlace(f, t);
    return true;
}

bool CsPathTracer::Locate(const CsXYZ& p, CsMeshPlace& place)
{
    std::vector<int> faces;
    mesh_.Candidates(p, faces);
    bool found = false;
    double bestHeight = 1e300;
    for (const int f : faces) {
        if (!CsCutMesh::IsLive(f)) continue;
        CsMeshPlace at;
        double height = 0.0;
        if (!PlaceIn(f, p, at, height)) continue;
        if (found && std::fabs(height) >= bestHeight) continue;
        place = at;
        found = true;
        bestHeight = std::fabs(height);
        if (mesh_.IsPlanar()) break;
    }
    return found;
}

bool CsPathTracer::ExitTowards(const CsMeshPlace& from, const CsXYZ& p, CsMeshPlace& exit)
{
    CsMeshPlace at = from;
    for (int k = 0; k < kStepsPerTarget; ++k) {
        CsMeshPlace next;
        int face = 0;
        const int r = Step(at, p, next, face);
        if (r == -1) {
            exit = at;
            return true;
        }
        if (r == 0) return false;
        at = next;
    }
    return false;
}

bool CsPathTracer::Reenter(const std::vector<CsXYZ>& curve, size_t& segment, double& share, CsMeshPlace& place,
                           const CsMeshPlace* left)
{
    const double step = 0.5 * mesh_.CellSize();
    CsXYZ from = Add(curve[segment], Scale(Sub(curve[segment + 1], curve[segment]), share));
    std::vector<int> faces, more;
    for (size_t s = segment; s + 1 < curve.size(); ++s) {
        const CsXYZ a = curve[s], b = curve[s + 1];
        const double len = Norm(Sub(b, a));
        const int count = std::max(1, static_cast<int>(std::ceil(len / step)));
        double fromShare = s == segment ? share : 0.0;
        for (int k = 1; k <= count; ++k) {
            const double at = static_cast<double>(k) / count;
            if (s == segment && at <= share) continue;
            const CsXYZ to = Add(a, Scale(Sub(b, a), at));
            // The faces near this step; the first one it passes through is where the curve comes back.
            mesh_.Candidates(to, faces);
            mesh_.Candidates(from, more);
            faces.insert(faces.end(), more.begin(), more.end());
            std::sort(faces.begin(), faces.end());
            faces.erase(std::unique(faces.begin(), faces.end()), faces.end());
            double first = 2.0;
            int firstFace = 0;
            CsMeshPlace clipped;
            bool onEdge = false;
            for (const int f : faces) {
                if (!CsCutMesh::IsLive(f)) continue;
                double hp = 0.0, hq = 0.0;
                const CsXY p = mesh_.Flat(f, from, &hp);
                const CsXY q = mesh_.Flat(f, to, &hq);
                const Seen seen = SeenOf(mesh_, f);
                double in = 0.0, out = 1.0;
                size_t by = seen.Size();
                const double tol = Tolerance(f);
                for (size_t i = 0; i < seen.Size() && in <= out; ++i) {
                    const double dp = Inward(seen, i, p), dq = Inward(seen, i, q);
                    // A step along an edge between two faces is on the blank: a node
                    // moved onto the curve lays that edge along it from the outline.
                    if (std::fabs(dp) <= tol && std::fabs(dq) <= tol) {
                        const int u = seen.nodes[i], v = seen.nodes[(i + 1) % seen.Size()];
                        if (mesh_.Across(f, u, v) || mesh_.Across(f, v, u)) continue;
                    }
                    if (dp < 0.0 && dq < 0.0) {
                        in = 2.0;
                    } else if (dp < 0.0 && dp / (dp - dq) > in) {
                        in = dp / (dp - dq);
                        by = i;
                    } else if (dq < 0.0) {
                        out = std::min(out, dp / (dp - dq));
                    }
                }
                // A step that only grazes the face (the one the walk just left, say)
                // does not enter it: the walk, which may run a node's snap beside the
                // curve, leaves a face by a corner the curve passes just inside of.
                const double grazing = left && OnOutlineOf(f, *left) ? kGrazing : kSnapCap;
                if (in > out || (out < 1.0 && (out - in) * Norm(Sub(to, from)) <= grazing)) continue;
                if (!mesh_.IsPlanar() && std::fabs(hp + in * (hq - hp)) > mesh_.Gap()) continue;
                if (in >= first) continue;
                first = in;
                firstFace = f;
                onEdge = by < seen.Size();
                if (!onEdge) continue;
                // The way in is the edge that clipped the step: that edge of the
                // outline takes the entry, not another edge ending near it.
                const CsXY x = Lerp2(p, q, in);
                const CsXY ea = seen.q[by], eb = seen.q[(by + 1) % seen.Size()];
                const CsXY d = Sub2(eb, ea);
                const double tau = std::clamp(((x.x - ea.x) * d.x + (x.y - ea.y) * d.y) / (d.x * d.x + d.y * d.y), 0.0, 1.0);
                const int u = seen.nodes[by], v = seen.nodes[(by + 1) % seen.Size()];
                clipped = EdgePlace(u, v, tau);
                // The curve comes onto the blank across its outline only. An
                // edge between two faces clips the step where a 3D face, dropping
                // the curve along its own tilted normal, sees it pass beside the
                // outline corner it goes through: the way in is that corner.
                if (mesh_.Across(f, u, v) || mesh_.Across(f, v, u)) {
                    const int corner = tau < 0.5 ? u : v;
                    if (std::min(tau, 1.0 - tau) <= 0.25 && OnBlankOutline(NodePlace(corner)))
                        clipped = OutlineCrossingAt(corner, from, to);
                }
            }
            if (first <= 1.0) {
                const CsXYZ entry = Add(from, Scale(Sub(to, from), first));
                const CsXYZ inside = Add(from, Scale(Sub(to, from), std::min(1.0, first + 1e-6)));
                if (onEdge) place = clipped;
                // A step starting on the face is placed in that face: where two outlines
                // meet at one place, as the sides of an open slit do, the other may be
                // the one the walk just left.
                double height = 0.0;
                if (onEdge || PlaceIn(firstFace, entry, place, height) || PlaceIn(firstFace, inside, place, height) ||
                    Locate(entry, place) || Locate(inside, place)) {
                    segment = s;
                    // Along the curve from where the search began, even where the place's
                    // foot on a face lies behind the curve point (a 3D curve off the surface):
                    // the search must never come back to an earlier point.
                    const double along = fromShare + first * (at - fromShare);
                    share = std::max(along, ShareOf(place, a, b));
                    return true;
                }
            }
            from = to;
            fromShare = at;
        }
    }
    return false;
}

double CsPathTracer::ShareOf(const CsMeshPlace& p, const CsXYZ& a, const CsXYZ& b)
{
    CsXYZ d = Sub(b, a);
    CsXYZ r = Sub(p.point, a);
    if (!mesh_.IsPlanar()) {
        int f = p.face;
        if (p.kind != CsMeshPlace::kFace) {
            const std::vector<int> faces = mesh_.FacesAt(p.kind == CsMeshPlace::kNode ? p.node : p.a);
            f = faces.empty() ? 0 : faces.front();
        }
        if (f > 0) {
            const CsXYZ w = mesh_.FrameOf(f).w;
            d = Sub(d, Scale(w, Dot(d, w)));
            r = Sub(r, Scale(w, Dot(r, w)));
        }
    }
    const double dd = Dot(d, d);
    return dd > 0.0 ? std::clamp(Dot(r, d) / dd, 0.0, 1.0) : 0.0;
}

bool CsPathTracer::OnOutlineOf(int face, const CsMeshPlace& p)
{
    const std::vector<int>& o = mesh_.Outline(face);
    for (size_t i = 0; i < o.size(); ++i) {
        const int x = o[i], y = o[(i + 1) % o.size()];
        if (p.kind == CsMeshPlace::kNode && x == p.node) return true;
        if (p.kind == CsMeshPlace::kEdge && ((x == p.a && y == p.b) || (x == p.b && y == p.a))) return true;
    }
    return false;
}

bool CsPathTracer::OnBlankOutline(const CsMeshPlace& p)
{
    if (p.kind == CsMeshPlace::kFace) return false;
    bool on = false;
    ForOutlineAt(mesh_, p.kind == CsMeshPlace::kNode ? p.node : p.a,
                 [&](int, int u, int v) { on = on || OnSide(p, u, v); });
    return on;
}

void CsPathTracer::OntoNearOutline(CsMeshPlace& p)
{
    if (p.kind != CsMeshPlace::kFace) return;
    const double reach = std::min(kOnEdgeCap, kOnEdgeShare * mesh_.ShortestEdge(p.face));
    const std::vector<int>& o = mesh_.Outline(p.face);
    const CsXY q = mesh_.Flat(p.face, p.point);
    double best = reach;
    for (size_t i = 0; i < o.size(); ++i) {
        const int u = o[i], v = o[(i + 1) % o.size()];
        if (mesh_.Across(p.face, u, v) != 0) continue;
        const CsXY a = mesh_.NodeFlat(p.face, u), b = mesh_.NodeFlat(p.face, v);
        const CsXY d = Sub2(b, a);
        const double dd = d.x * d.x + d.y * d.y;
        if (dd <= 0.0) continue;
        const double t = std::clamp(((q.x - a.x) * d.x + (q.y - a.y) * d.y) / dd, 0.0, 1.0);
        const double off = std::hypot(q.x - a.x - t * d.x, q.y - a.y - t * d.y);
        if (off > best) continue;
        best = off;
        p = EdgePlace(u, v, t);
    }
}

CsMeshPlace CsPathTracer::OutlineCrossingAt(int corner, const CsXYZ& a, const CsXYZ& b)
{
    CsMeshPlace best = NodePlace(corner);
    double bestGap = std::numeric_limits<double>::infinity();
    ForOutlineAt(mesh_, corner, [&](int f, int u, int v) {
        if (u != corner && v != corner) return;
        // A planar cut meets the outline as its plane sees both.
        const auto seen = [&](const CsXYZ& p) {
            if (!mesh_.IsPlanar()) return p;
            const CsXY q = mesh_.Flat(f, p);
            return CsXYZ{q.x, q.y, 0.0};
        };
        const CsXYZ c = seen(CsNodeXYZ(corner));
        const CsXYZ d = Sub(seen(b), seen(a));
        const int w = u == corner ? v : u;
        const CsXYZ e = Sub(seen(CsNodeXYZ(w)), c);
        // The closest points of the step's line and the edge's line.
        const CsXYZ r = Sub(seen(a), c);
        const double dd = Dot(d, d), ee = Dot(e, e), de = Dot(d, e);
        const double det = dd * ee - de * de;
        if (ee <= 0.0 || det <= 1e-12 * dd * ee) return;
        const double s = (dd * Dot(r, e) - de * Dot(r, d)) / det;  // along the edge
        const double t = (de * Dot(r, e) - ee * Dot(r, d)) / det;  // along the step
        if (s < 0.0 || s > 0.25 || t < 0.0 || t > 1.0) return;
        const double gap = Norm(Sub(Add(seen(a), Scale(d, t)), Add(c, Scale(e, s))));
        if (gap >= bestGap) return;
        bestGap = gap;
        best = EdgePlace(corner, w, s);
    });
    return best;
}

bool CsPathTracer::AlongOutline(const CsMeshPlace& p, const CsMeshPlace& q)
{
    if (p.kind == CsMeshPlace::kFace || q.kind == CsMeshPlace::kFace) return false;
    bool along = false;
    ForOutlineAt(mesh_, p.kind == CsMeshPlace::kNode ? p.node : p.a,
                 [&](int, int u, int v) { along = along || (OnSide(p, u, v) && OnSide(q, u, v)); });
    return along;
}

namespace {

bool SamePlace(const CsMeshPlace& p, const CsMeshPlace& q)
{
    if (p.kind != q.kind) return false;
    switch (p.kind) {
    case CsMeshPlace::kNode:
        return p.node == q.node;
    case CsMeshPlace::kEdge:
        return p.a == q.a && p.b == q.b && Norm(Sub(p.point, q.point)) <= kSnapCap;
    case CsMeshPlace::kFace:
        return p.face == q.face && Len2(Sub2(p.flat, q.flat)) <= kSnapCap;
    }
    return false;
}

// Whether q lies on the outline elsewhere than p: on another edge (the two sides
// of a slit share the node at its closed end), or, where a node is involved,
// not at it nor on an edge from it.
bool ElsewhereOnOutline(const CsMeshPlace& q, const CsMeshPlace& p)
{
    const auto touches = [](const CsMeshPlace& x, int node) {
        return (x.kind == CsMeshPlace::kNode && x.node == node) ||
               (x.kind == CsMeshPlace::kEdge && (x.a == node || x.b == node));
    };
    if (q.kind == CsMeshPlace::kFace || p.kind == CsMeshPlace::kFace) return false;
    if (q.kind == CsMeshPlace::kEdge && p.kind == CsMeshPlace::kEdge)
        return std::minmax(q.a, q.b) != std::minmax(p.a, p.b);
    if (p.kind == CsMeshPlace::kNode) return !touches(q, p.node);
    return !touches(q, p.a) && !touches(q, p.b);
}

}  // namespace

bool CsPathTracer::Trace(const std::vector<CsXYZ>& points, bool closed, std::vector<CsPathRun>& runs)
{
    runs.clear();
    failure_ = "";
    // Points closer than the snapping distance are one point to the walk: a
    // segment shorter than that has no direction it could follow.
    std::vector<CsXYZ> curve;
    for (const CsXYZ& p : points)
        if (curve.empty() || Norm(Sub(p, curve.back())) > kSnapCap) curve.push_back(p);
    if (closed && curve.size() > 2 && Norm(Sub(curve.back(), curve.front())) <= kSnapCap) curve.back() = curve.front();
    const size_t n = curve.size();
    if (n < 2) return true;
    // Whether curve point k, placed at a step, is a sharp corner: turning by
    // more than 30 degrees as the face there sees it. A curve that lies on a
    // creased surface bends in space where it crosses the crease, but the cut
    // along the normal does not turn there.
    const auto sharp = [&](size_t k, const CsPathStep& at) {
        if (!closed && (k == 0 || k + 1 == n)) return true;
        const size_t prev = k == 0 ? n - 2 : k - 1;
        const size_t next = k + 1 == n ? 1 : k + 1;
        CsXYZ u = Sub(curve[k], curve[prev]);
        CsXYZ w = Sub(curve[next], curve[k]);
        const int face = at.place.kind == CsMeshPlace::kFace ? at.place.face : at.face;
        if (face > 0) {
            const CsXYZ normal = mesh_.FrameOf(face).w;
            u = Sub(u, Scale(normal, Dot(u, normal)));
            w = Sub(w, Scale(normal, Dot(w, normal)));
        }
        const double lu = Norm(u), lw = Norm(w);
        return lu > 0.0 && lw > 0.0 && Dot(u, w) / (lu * lw) < 0.8660254;
    };

    bool onBlank = false;
    bool startsAtFirst = false;
    CsMeshPlace at;
    size_t k = 1;
    if (Locate(curve[0], at)) {
        runs.push_back({});
        runs.back().steps.push_back({at, 0, false});
        runs.back().steps.back().corner = sharp(0, runs.back().steps.back());
        onBlank = true;
        startsAtFirst = true;
    }
    size_t segment = 0;
    double share = 0.0;
    size_t entrySegment = n;
    double entryShare = 0.0;
    size_t stayedSegment = n;
    double stayedShare = 0.0;
    // Ways back in a row at the place the walk left (two sides of a slit at most).
    int across = 0;
    while (k < n) {
        if (!onBlank) {
            const size_t leftSegment = segment;
            const double leftShare = share;
            const CsMeshPlace left = at;
            if (!Reenter(curve, segment, share, at, runs.empty() ? nullptr : &left)) break;
            // Back on the blank right where the walk left it, inside a face at that
            // place: the curve never left. The walk, which goes on from a place put on
            // a node towards the next curve point, ran a snap's width off the curve
            // past the outline there; the path goes on inside that face.
            const double reach = kSnapCap / std::max(Norm(Sub(curve[segment + 1], curve[segment])), kSnapCap);
            // Once only at one place: a walk that leaves there again has really left.
            const bool again = segment == stayedSegment && share <= stayedShare;
            if (!runs.empty() && !again && segment == leftSegment && share <= leftShare + 4.0 * reach &&
                at.kind == CsMeshPlace::kFace && OnOutlineOf(at.face, left)) {
                stayedSegment = segment;
                stayedShare = leftShare;
                runs.back().steps.push_back({at, at.face, false});
                // Nor may the walk snap back onto that node and leave again.
                if (left.kind == CsMeshPlace::kNode) sticky_.erase(left.node);
                onBlank = true;
                k = segment + 1;
                entrySegment = segment;
                entryShare = share;
            } else if (segment == leftSegment && share <= leftShare && !(ElsewhereOnOutline(at, left) && ++across <= 2)) {
                // The walk must move on along the curve, or it would come back here for
                // ever; unless it comes back at that place through another outline, the
                // other side of a slit an earlier lance opened, which it crosses there.
                share = std::min(1.0, leftShare + 0.5 * mesh_.CellSize() / std::max(Norm(Sub(curve[segment + 1], curve[segment])), kSnapCap));
                if (share >= 1.0 && segment + 2 >= n) break;
                continue;
            }
        }
        if (!onBlank) {
            runs.push_back({});
            runs.back().steps.push_back({at, 0, false});
            onBlank = true;
            k = segment + 1;
            entrySegment = segment;
            entryShare = share;
        }
        int steps = 0;
        while (true) {
            CsMeshPlace next;
            int face = 0;
            origin_ = &curve[k - 1];
            const int r = Step(at, curve[k], next, face);
            origin_ = nullptr;
            if (r == 0) {
                runs.back().steps.back().corner = runs.back().steps.back().corner || sharp(k, runs.back().steps.back());
                ++k;
                break;
            }
            if (r == -1) {
                onBlank = false;
                // Resume the search just past where the walk left, on the segment it was following.
                segment = k - 1;
                const CsXYZ a = curve[segment], b = curve[segment + 1];
                const CsXYZ d = Sub(b, a);
                share = ShareOf(at, a, b);
                // A curve that only grazes the blank where it came back cannot be
                // followed there: the search goes on a little further along it, a
                // few snapping widths, not so far as to pass over where it really
                // comes back (just beyond an outline corner it clipped, say).
                if (runs.back().steps.size() < 2 && segment == entrySegment) {
                    share = std::min(1.0, std::max(share, entryShare) + 4.0 * kSnapCap / std::sqrt(Dot(d, d)));
                }
                break;
            }
            if (++steps > kStepsPerTarget) {
                failure_ = "the walk along the curve does not reach its next point";
                return false;
            }
            // A step that stays where it is has nowhere nearer to go: the curve point is reached.
            if (SamePlace(next, at)) {
                runs.back().steps.back().corner = runs.back().steps.back().corner || sharp(k, runs.back().steps.back());
                ++k;
                break;
            }
            runs.back().steps.push_back({next, face, false});
            at = next;
            across = 0;
        }
    }
    // An open curve's end a hair inside the blank's edge ends on that edge: the
    // ligament it would leave is no material, only a sliver of an element.
    if (!closed && !runs.empty()) {
        if (startsAtFirst) OntoNearOutline(runs.front().steps.front().place);
        if (onBlank) OntoNearOutline(runs.back().steps.back().place);
    }
    // Whether the last run came round to the first point, not only onto the blank there.
    const bool cameRound = onBlank && !runs.empty() && runs.back().steps.size() > 1;
    // Drop runs that never left their first place.
    runs.erase(std::remove_if(runs.begin(), runs.end(), [](const CsPathRun& r) { return r.steps.size() < 2; }),
               runs.end());
    if (closed && startsAtFirst && onBlank && !runs.empty()) {
        CsPathRun& last = runs.back();
        CsPathRun& first = runs.front();
        // The walk may come round to the first point at another place than the
        // one it started from: a point a hair from an edge lies on it as one
        // face's tolerance sees it and inside the other face as the other's does.
        // The walk then goes on from where it came round, as it would over a
        // curve that does not begin there, until it meets the first run; the
        // places of that run before the meeting give way to the ones it takes.
        if (cameRound && !SamePlace(last.steps.back().place, first.steps.front().place)) {
            std::vector<CsPathStep> more;
            CsMeshPlace on = last.steps.back().place;
            size_t meet = 0;
            for (size_t j = 1, steps = 0; j < n && meet == 0 && steps <= kStepsPerTarget; ++steps) {
                CsMeshPlace next;
                int face = 0;
                origin_ = &curve[j - 1];
                const int r = Step(on, curve[j], next, face);
                origin_ = nullptr;
                if (r == -1) break;
                if (r == 0 || SamePlace(next, on)) {
                    std::vector<CsPathStep>& into = more.empty() ? last.steps : more;
                    into.back().corner = into.back().corner || sharp(j, into.back());
                    ++j;
                    continue;
                }
                more.push_back({next, face, false});
                on = next;
                for (size_t i = 1; i < first.steps.size() && meet == 0; ++i)
                    if (SamePlace(first.steps[i].place, next)) meet = i;
            }
            if (meet > 0) {
                more.back().place = first.steps[meet].place;
                more.back().corner = more.back().corner || first.steps[meet].corner;
                first.steps.erase(first.steps.begin(), first.steps.begin() + meet);
                first.steps.front().face = 0;
                first.steps.front().corner = more.back().corner;
                last.steps.insert(last.steps.end(), more.begin(), more.end());
            }
        }
        if (runs.size() == 1 && SamePlace(last.steps.back().place, first.steps.front().place)) {
            last.steps.back().place = first.steps.front().place;
            last.closed = true;
        } else if (runs.size() > 1 && SamePlace(last.steps.back().place, first.steps.front().place)) {
            // The curve's first point lies on a stretch that began before it: join the two.
            for (size_t i = 1; i < first.steps.size(); ++i) last.steps.push_back(first.steps[i]);
            runs.erase(runs.begin());
        }
    }
    // A run that comes onto the blank along its outline starts where it leaves
    // the outline, and ends where it comes back to it: the outline already
    // parts the blank there, and a cut along it would only leave slivers.
    for (CsPathRun& run : runs) {
        if (run.closed) continue;
        std::vector<CsPathStep>& s = run.steps;
        size_t lead = 0;
        while (lead + 1 < s.size() && AlongOutline(s[lead].place, s[lead + 1].place)) ++lead;
        s.erase(s.begin(), s.begin() + lead);
        while (s.size() > 1 && AlongOutline(s[s.size() - 2].place, s.back().place)) s.pop_back();
    }
    runs.erase(std::remove_if(runs.begin(), runs.end(), [](const CsPathRun& r) { return r.steps.size() < 2; }),
               runs.end());
    return true;
}
