// Mesh checks of the older cut tests, on the independent reading of a dynain.
#ifndef TEST_TRIMCHECK_H
#define TEST_TRIMCHECK_H

#include "dynain.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace trimcheck {

// Ids, node use and element shape of any output, against its input.
inline void ExpectSoundMesh(const Dynain& in, const Dynain& out)
{
    std::set<int> used;
    std::set<int> ids;
    for (const Shell& s : out.shells) {
        EXPECT_TRUE(ids.insert(s.id).second) << "element id " << s.id << " written twice";
        EXPECT_TRUE(s.nodes.size() == 3 || s.nodes.size() == 4) << "element " << s.id << " has " << s.nodes.size()
                                                                 << " distinct nodes";
        for (const int n : s.nodes) {
            EXPECT_TRUE(out.nodes.count(n)) << "element " << s.id << " uses unwritten node " << n;
            used.insert(n);
        }
        if (!in.shells.empty() && s.id > in.maxElem) continue;
        const bool known = std::any_of(in.shells.begin(), in.shells.end(), [&](const Shell& t) { return t.id == s.id; });
        EXPECT_TRUE(known) << "element " << s.id << " is neither an input element nor above the input's ids";
    }
    for (const auto& [id, p] : out.nodes) {
        EXPECT_TRUE(used.count(id)) << "node " << id << " is written but used by no element";
        if (!in.nodes.count(id)) {
            EXPECT_GT(id, in.maxNode) << "new node " << id << " does not lie above the input's ids";
        }
    }
    for (const auto& c : out.adaptive) {
        for (const int n : c) EXPECT_TRUE(out.nodes.count(n)) << "constraint names unwritten node " << n;
        if (!out.nodes.count(c[0]) || !out.nodes.count(c[1]) || !out.nodes.count(c[2])) continue;
        const P3& d = out.nodes.at(c[0]);
        const P3& a = out.nodes.at(c[1]);
        const P3& b = out.nodes.at(c[2]);
        const double len = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
        const double off = std::hypot(d[0] - 0.5 * (a[0] + b[0]), d[1] - 0.5 * (a[1] + b[1]), d[2] - 0.5 * (a[2] + b[2]));
        EXPECT_LT(off, 1e-6 * std::max(1.0, len)) << "hanging node " << c[0] << " is off the middle of its edge";
        int owners = 0;
        for (const Shell& s : out.shells) {
            for (size_t i = 0; i < s.nodes.size(); ++i) {
                const int u = s.nodes[i];
                const int v = s.nodes[(i + 1) % s.nodes.size()];
                if ((u == c[1] && v == c[2]) || (u == c[2] && v == c[1])) ++owners;
            }
        }
        EXPECT_EQ(owners, 1) << "coarse edge " << c[1] << "-" << c[2] << " of hanging node " << c[0];
    }
}

// The mesh closes up. Every edge is used by two elements in opposite
// directions or lies on the outer boundary: along a free edge of the input or
// on the cut (onCut judges an edge by its end points). A coarse edge with a
// hanging node counts as its two halves. No two nodes share a point unless
// the input had them there already, or, for a slit, both lie on the cut.
using EdgeTest = std::function<bool(const P3&, const P3&)>;

inline double SegDist3(const P3& p, const P3& a, const P3& b)
{
    const P3 d{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double l2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double t =
        l2 > 0
            ? std::clamp(((p[0] - a[0]) * d[0] + (p[1] - a[1]) * d[1] + (p[2] - a[2]) * d[2]) / l2, 0.0, 1.0)
            : 0.0;
    return std::hypot(p[0] - a[0] - t * d[0], p[1] - a[1] - t * d[1], p[2] - a[2] - t * d[2]);
}

inline void ExpectClosedMesh(const Dynain& in, const Dynain& out, double h, const EdgeTest& onCut,
                             bool slit = false)
{
    std::vector<std::array<P3, 2>> free;
    const auto inEdges = DirectedEdges(in);
    for (const auto& [e, n] : inEdges) {
        if (!inEdges.count({e.second, e.first}))
            free.push_back({in.nodes.at(e.first), in.nodes.at(e.second)});
    }
    // A node moved along the outline leaves an edge that spans parts of two
    // free input edges: its ends and its middle each lie on one of them.
    const auto onFreeAt = [&](const P3& p) {
        return std::any_of(free.begin(), free.end(), [&](const auto& f) { return SegDist3(p, f[0], f[1]) < 1e-4 * h; });
    };
    const auto onFree = [&](const P3& a, const P3& b) {
        const P3 m{0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1]), 0.5 * (a[2] + b[2])};
        return onFreeAt(a) && onFreeAt(b) && onFreeAt(m);
    };
    const auto outEdges = DirectedEdges(out);
    std::multimap<int, int> openFrom, openTo;
    for (const auto& [e, n] : outEdges) {
        if (!outEdges.count({e.second, e.first})) {
            openFrom.emplace(e.first, e.second);
            openTo.emplace(e.second, e.first);
        }
    }
    // A hanging node whose coarse element went stays at the middle of the
    // coarse edge: the two halves make one chord of the cut.
    const auto halfOfCut = [&](int u, int v) {
        const auto chord = [&](int a, int m, int b) {
            return out.nodes.count(a) && out.nodes.count(b) &&
                   SegDist3(out.nodes.at(m), out.nodes.at(a), out.nodes.at(b)) < 1e-6 * h &&
                   onCut(out.nodes.at(a), out.nodes.at(b));
        };
        for (auto [it, end] = openFrom.equal_range(v); it != end; ++it)
            if (chord(u, v, it->second)) return true;
        for (auto [it, end] = openTo.equal_range(u); it != end; ++it)
            if (chord(it->second, u, v)) return true;
        return false;
    };
    for (const auto& [e, n] : outEdges) {
        const int back = outEdges.count({e.second, e.first}) ? outEdges.at({e.second, e.first}) : 0;
        EXPECT_TRUE(n == 1 && back <= 1) << "edge " << e.first << "-" << e.second << " used " << n
                                         << " times this way, " << back << " the other";
        if (back > 0 || !out.nodes.count(e.first) || !out.nodes.count(e.second)) continue;
        const P3& a = out.nodes.at(e.first);
        const P3& b = out.nodes.at(e.second);
        EXPECT_TRUE(onFree(a, b) || onCut(a, b) || halfOfCut(e.first, e.second))
            << "open edge " << e.first << "-" << e.second << " from " << a[0] << "," << a[1] << "," << a[2]
            << " to " << b[0] << "," << b[1] << "," << b[2];
    }
    std::vector<std::pair<P3, int>> points;
    for (const auto& [id, p] : out.nodes) points.push_back({p, id});
    std::sort(points.begin(), points.end());
    for (size_t i = 0; i < points.size(); ++i) {
        for (size_t j = i + 1; j < points.size() && points[j].first[0] - points[i].first[0] < 1e-6 * h; ++j) {
            const P3& p = points[i].first;
            const P3& q = points[j].first;
            if (std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) >= 1e-6 * h) continue;
            const int u = points[i].second, v = points[j].second;
            const bool before = in.nodes.count(u) && in.nodes.count(v) && in.nodes.at(u) == in.nodes.at(v);
            EXPECT_TRUE(before || (slit && onCut(p, q)))
                << "nodes " << u << " and " << v << " both at " << p[0] << "," << p[1] << "," << p[2];
        }
    }
}

}  // namespace trimcheck

#endif
