// The mesh check's curves: their spaces, grids, sharp corners and samples.
#include "qdstrimalgo_verify_track.h"

#include <tuple>

CsCutNear CsCutTracks::Nearest(size_t s, const gmPnt3D& p, const gmVec3D& normal, double within, int only) const
{
    CsCutNear best;
    best.dist = within;
    const bool across = !spaces[s].flat && normal.SqrLen() > 0.0;
    const double reach = within + (spaces[s].flat ? 0.0 : maxGap + kCutOnCurve);
    segGrid_[s].Visit(geCutShifted(p, -reach), geCutShifted(p, reach), [&](int g) {
        const auto [c, i] = segs_[static_cast<size_t>(g)];
        if (only >= 0 && c != only) return;
        const CsCutCurve& cv = curves[static_cast<size_t>(c)];
        const gmPnt3D& a = cv.pts[static_cast<size_t>(i)];
        const gmPnt3D& b = cv.pts[static_cast<size_t>(i) + 1];
        double t = 0.0;
        double d = 0.0;
        if (across) {
            const gmPnt3D a1 = a - normal * (a - p).Dot(normal);
            const gmPnt3D b1 = b - normal * (b - p).Dot(normal);
            d = geCutSegDist(p, a1, b1, &t);
            const gmPnt3D q = a + (b - a) * t;
            const double height = std::fabs((q - p).Dot(normal));
            if (height > cv.gap + kCutOnCurve) return;
            // A curve off the surface is dropped onto each element along that
            // element's own normal; where the normals turn (a crease, a dome)
            // the foot moves sideways by the height times the turn.
            d = std::max(0.0, d - kCutAcrossSlack * height);
        } else {
            d = geCutSegDist(p, a, b, &t);
        }
        if (d < best.dist || (d == best.dist && (best.curve < 0 || std::tie(c, i) < std::tie(best.curve, best.seg)))) {
            best.dist = d;
            best.curve = c;
            best.seg = i;
            best.t = t;
        }
    });
    if (best.curve < 0) best.dist = kCutInf;
    return best;
}

double CsCutTracks::Distance(const gmPnt3D& p, const gmVec3D& normal, double within, int* curve) const
{
    CsCutNear best;
    for (size_t s = 0; s < spaces.size(); ++s) {
        const CsCutNear n = Nearest(s, spaces[s].To(p), normal, std::min(within, best.dist));
        if (n.curve >= 0 && (best.curve < 0 || n.dist < best.dist)) best = n;
    }
    if (curve) *curve = best.curve;
    return best.dist;
}

bool CsCutTracks::Inside(size_t curve, const CsCutNear& n, const gmPnt3D& p) const
{
    const CsCutCurve& c = curves[curve];
    const size_t m = c.pts.size() - 1;
    const size_t i = static_cast<size_t>(n.seg);
    const auto cross = [](const gmVec3D& u, const gmVec3D& w) { return u.x() * w.y() - u.y() * w.x(); };
    bool left = false;
    if (n.t > 0.0 && n.t < 1.0) {
        left = cross(c.pts[i + 1] - c.pts[i], p - c.pts[i]) > 0.0;
    } else {
        // Nearest to a vertex: the region on the curve's left there is the
        // wedge of both segments' left sides at a left turn, their union
        // at a right turn.
        const size_t v = n.t <= 0.0 ? i : i + 1;
        const size_t before = v == 0 ? m - 1 : v - 1;
        const size_t after = v == m ? 1 : v + 1;
        const gmVec3D in = c.pts[v] - c.pts[before];
        const gmVec3D out = c.pts[after] - c.pts[v];
        const double s1 = cross(in, p - c.pts[v]);
        const double s2 = cross(out, p - c.pts[v]);
        left = cross(in, out) >= 0.0 ? (s1 > 0.0 && s2 > 0.0) : (s1 > 0.0 || s2 > 0.0);
    }
    return (c.orientation > 0.0) == left;
}

bool CsCutTracks::Removes(size_t c, const gmPnt3D& global, double within, double& dist) const
{
    const CsCutCurve& cv = curves[c];
    dist = kCutInf;
    if (!spaces[cv.space].flat || !cv.closed || cv.flag == 0) return false;
    const gmPnt3D p = spaces[cv.space].To(global);
    const CsCutNear n = Nearest(cv.space, p, gmVec3D(0.0, 0.0, 0.0), within, static_cast<int>(c));
    if (n.curve < 0) return false;
    dist = n.dist;
    const bool inside = Inside(c, n, p);
    return cv.flag > 0 ? inside : !inside;
}

CsCutTracks::CsCutTracks(const std::vector<gmTrmLine*>& lines, double size)
{
    for (const gmTrmLine* line : lines) {
        CsCutCurve c;
        c.id = line->GetExid().str();
        c.flag = line->IsLancing() ? 0 : line->GetFlag();
        CsCutSpace space;
        std::vector<gmPnt3D> raw;
        if (const auto* flat = dynamic_cast<const gmCut2DLine*>(line)) {
            space.flat = true;
            space.cs = flat->GetUcs();
            const gmCrdSys& cs = space.cs;
            space.identity = cs.GetU().x() == 1.0 && cs.GetU().y() == 0.0 && cs.GetU().z() == 0.0 &&
                             cs.GetV().x() == 0.0 && cs.GetV().y() == 1.0 && cs.GetV().z() == 0.0;
            for (int i = 0; i < flat->GetUcsCount(); ++i) {
                const gmPnt3D p = flat->GetUcsAt(i);
                raw.emplace_back(p.x(), p.y(), 0.0);
            }
        } else if (const auto* solid = dynamic_cast<const gmCut3DLine*>(line)) {
            c.gap = solid->GetGap();
            raw = solid->GetPntArr();
        } else {
            continue;
        }
        for (const gmPnt3D& p : raw) {
            if (c.pts.empty() || c.pts.back().DistTo(p) > std::max(1e-9 * size, kCutSamePoint)) c.pts.push_back(p);
        }
        if (c.pts.size() < 2) continue;
        c.closed = c.pts.size() > 3 && c.pts.front().DistTo(c.pts.back()) <= std::max(1e-9 * size, kCutSamePoint);
        if (c.closed) c.pts.back() = c.pts.front();
        if (c.closed && space.flat) {
            for (size_t i = 0; i + 1 < c.pts.size(); ++i)
                c.orientation += c.pts[i].x() * c.pts[i + 1].y() - c.pts[i + 1].x() * c.pts[i].y();
        }
        // Flat curves seen along one vector share a space; 3D curves share space itself.
        size_t s = 0;
        for (; s < spaces.size(); ++s) {
            const CsCutSpace& o = spaces[s];
            if (o.flat != space.flat) continue;
            if (!o.flat) break;
            const auto same = [](const gmVec3D& a, const gmVec3D& b) {
                return a.x() == b.x() && a.y() == b.y() && a.z() == b.z();
            };
            if (same(o.cs.GetU(), space.cs.GetU()) && same(o.cs.GetV(), space.cs.GetV())) break;
        }
        if (s == spaces.size()) spaces.push_back(space);
        c.space = s;
        maxGap = std::max(maxGap, c.gap);
        curves.push_back(std::move(c));
    }

    const double cell = size > 0.0 ? size : 1.0;
    segGrid_.assign(spaces.size(), CsCutGrid(cell));
    cornerGrid_.assign(spaces.size(), CsCutGrid(cell));
    sampleGrid.assign(spaces.size(), CsCutGrid(cell));
    double length = 0.0;
    for (const CsCutCurve& c : curves) {
        for (size_t i = 0; i + 1 < c.pts.size(); ++i) length += c.pts[i].DistTo(c.pts[i + 1]);
    }
    const double spacing = std::max(kCutQuarter * cell, length / kCutMaxSamples);

    for (size_t ci = 0; ci < curves.size(); ++ci) {
        const CsCutCurve& c = curves[ci];
        const size_t n = c.pts.size();
        for (size_t i = 0; i + 1 < n; ++i) {
            const gmPnt3D& a = c.pts[i];
            const gmPnt3D& b = c.pts[i + 1];
            const gmPnt3D lo(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::min(a.z(), b.z()));
            const gmPnt3D hi(std::max(a.x(), b.x()), std::max(a.y(), b.y()), std::max(a.z(), b.z()));
            segGrid_[c.space].Add(static_cast<int>(segs_.size()), lo, hi);
            segs_.emplace_back(static_cast<int>(ci), static_cast<int>(i));
        }
        // Sharp corners, and the ends of an open curve, where a node may stand
        // for the curve a little off it.
        const size_t vertices = c.closed ? n - 1 : n;
        for (size_t v = 0; v < vertices; ++v) {
            bool sharp = !c.closed && (v == 0 || v + 1 == n);
            if (!sharp) {
                const gmVec3D in = c.pts[v] - c.pts[v == 0 ? n - 2 : v - 1];
                const gmVec3D out = c.pts[v + 1] - c.pts[v];
                sharp = in.Dot(out) < kCutSharpCos * in.Length() * out.Length();
            }
            if (!sharp) continue;
            // A sample at the corner finds the element it lies in, whose size
            // says how far off a node may stand for it.
            CsCutSample s;
            s.at = c.pts[v];
            s.along = geCutUnit(c.pts[v + 1 < n ? v + 1 : v] - c.pts[v + 1 < n ? v : v - 1]);
            s.curve = ci;
            cornerGrid_[c.space].Add(static_cast<int>(corners.size()), c.pts[v], c.pts[v]);
            corners.push_back({c.pts[v], ci, samples.size()});
            sampleGrid[c.space].Add(static_cast<int>(samples.size()), s.at, s.at);
            samples.push_back(s);
        }
        // Samples at an even spacing along the whole curve.
        double carry = 0.0;
        for (size_t i = 0; i + 1 < n; ++i) {
            const gmVec3D d = c.pts[i + 1] - c.pts[i];
            const double l = d.Length();
            const gmVec3D along = geCutUnit(d);
            double t = carry;
            for (; t < l; t += spacing) {
                CsCutSample s;
                s.at = c.pts[i] + along * t;
                s.along = along;
                s.curve = ci;
                sampleGrid[c.space].Add(static_cast<int>(samples.size()), s.at, s.at);
                samples.push_back(s);
            }
            carry = t - l;
        }
        if (!c.closed) {
            CsCutSample s;
            s.at = c.pts.back();
            s.along = geCutUnit(c.pts[n - 1] - c.pts[n - 2]);
            s.curve = ci;
            sampleGrid[c.space].Add(static_cast<int>(samples.size()), s.at, s.at);
            samples.push_back(s);
        }
    }
    for (CsCutGrid& g : segGrid_) g.Finish();
    for (CsCutGrid& g : cornerGrid_) g.Finish();
    for (CsCutGrid& g : sampleGrid) g.Finish();
}
