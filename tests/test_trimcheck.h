// Mesh checks of the cut tests, on the independent reading of a dynain.
#ifndef TEST_TRIMCHECK_H
#define TEST_TRIMCHECK_H

#include "dynain.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <vector>

namespace trimcheck {

inline P3 Mid(const P3& a, const P3& b) { return {0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1]), 0.5 * (a[2] + b[2])}; }
inline double Dist3(const P3& a, const P3& b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

// Ids, node use and element shape of any output, against its input.
inline void ExpectSoundMesh(const Dynain& in, const Dynain& out)
{
    std::set<int> used, ids;
    for (const Shell& s : out.shells) {
        EXPECT_TRUE(ids.insert(s.id).second) << "element id " << s.id << " written twice";
        EXPECT_TRUE(s.nodes.size() == 3 || s.nodes.size() == 4) << "element " << s.id << " has " << s.nodes.size() << " nodes";
        for (const int n : s.nodes) {
            EXPECT_TRUE(out.nodes.count(n)) << "element " << s.id << " uses unwritten node " << n;
            used.insert(n);
        }
        const bool fresh = !in.shells.empty() && s.id > in.maxElem;
        EXPECT_TRUE(fresh || std::any_of(in.shells.begin(), in.shells.end(), [&](const Shell& t) { return t.id == s.id; }))
            << "element " << s.id << " is neither an input element nor above the input's ids";
    }
    for (const auto& [id, p] : out.nodes) {
        EXPECT_TRUE(used.count(id)) << "node " << id << " is written but used by no element";
        EXPECT_TRUE(in.nodes.count(id) || id > in.maxNode) << "new node " << id << " does not lie above the input's ids";
    }
    for (const auto& c : out.adaptive) {
        for (const int n : c) EXPECT_TRUE(out.nodes.count(n)) << "constraint names unwritten node " << n;
        if (!out.nodes.count(c[0]) || !out.nodes.count(c[1]) || !out.nodes.count(c[2])) continue;
        const P3& a = out.nodes.at(c[1]);
        const P3& b = out.nodes.at(c[2]);
        EXPECT_LT(Dist3(out.nodes.at(c[0]), Mid(a, b)), 1e-6 * std::max(1.0, Dist3(a, b)))
            << "hanging node " << c[0] << " is off the middle of its edge";
        int owners = 0;
        for (const Shell& s : out.shells) {
            for (size_t i = 0; i < s.nodes.size(); ++i)
                owners += std::minmax(s.nodes[i], s.nodes[(i + 1) % s.nodes.size()]) == std::minmax(c[1], c[2]);
        }
        EXPECT_EQ(owners, 1) << "coarse edge " << c[1] << "-" << c[2] << " of hanging node " << c[0];
    }
}

// The mesh closes up. Every edge is used by two elements in opposite
// directions or lies on the outer boundary: along a free edge of the input or
// on the cut (onCut judges an edge by its end points). A coarse edge with a
// hanging node counts as its two halves. No two nodes share a point unless
// the input had them there already.
using EdgeTest = std::function<bool(const P3&, const P3&)>;

inline double SegDist3(const P3& p, const P3& a, const P3& b)
{
    const P3 d{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double l2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double along = (p[0] - a[0]) * d[0] + (p[1] - a[1]) * d[1] + (p[2] - a[2]) * d[2];
    const double t = l2 > 0 ? std::clamp(along / l2, 0.0, 1.0) : 0.0;
    return Dist3(p, {a[0] + t * d[0], a[1] + t * d[1], a[2] + t * d[2]});
}

inline void ExpectClosedMesh(const Dynain& in, const Dynain& out, double h, const EdgeTest& onCut)
{
    std::vector<std::array<P3, 2>> free;
    const auto inEdges = DirectedEdges(in);
    for (const auto& [e, n] : inEdges)
        if (!inEdges.count({e.second, e.first})) free.push_back({in.nodes.at(e.first), in.nodes.at(e.second)});
    // A node moved along the outline leaves an edge that spans parts of two
    // free input edges: its ends and its middle each lie on one of them.
    const auto onFreeAt = [&](const P3& p) {
        return std::any_of(free.begin(), free.end(), [&](const auto& f) { return SegDist3(p, f[0], f[1]) < 1e-4 * h; });
    };
    const auto outEdges = DirectedEdges(out);
    std::vector<std::pair<int, int>> open;
    for (const auto& [e, n] : outEdges)
        if (!outEdges.count({e.second, e.first})) open.push_back(e);
    // A hanging node whose coarse element went stays at the middle of the
    // coarse edge: the two halves make one chord of the cut.
    const auto chord = [&](int a, int m, int b) {
        return out.nodes.count(a) && out.nodes.count(b) &&
               SegDist3(out.nodes.at(m), out.nodes.at(a), out.nodes.at(b)) < 1e-6 * h &&
               onCut(out.nodes.at(a), out.nodes.at(b));
    };
    const auto halfOfCut = [&](int u, int v) {
        return std::any_of(open.begin(), open.end(), [&](const auto& f) {
            return (f.first == v && chord(u, v, f.second)) || (f.second == u && chord(f.first, u, v));
        });
    };
    for (const auto& [e, n] : outEdges) {
        const int backN = outEdges.count({e.second, e.first}) ? outEdges.at({e.second, e.first}) : 0;
        EXPECT_TRUE(n == 1 && backN <= 1) << "edge " << e.first << "-" << e.second << " used " << n
                                          << " times this way, " << backN << " the other";
        if (backN > 0 || !out.nodes.count(e.first) || !out.nodes.count(e.second)) continue;
        const P3& a = out.nodes.at(e.first);
        const P3& b = out.nodes.at(e.second);
        EXPECT_TRUE((onFreeAt(a) && onFreeAt(b) && onFreeAt(Mid(a, b))) || onCut(a, b) || halfOfCut(e.first, e.second))
            << "open edge " << e.first << "-" << e.second << " from " << a[0] << "," << a[1] << "," << a[2]
            << " to " << b[0] << "," << b[1] << "," << b[2];
    }
    for (auto i = out.nodes.begin(); i != out.nodes.end(); ++i) {
        for (auto j = std::next(i); j != out.nodes.end(); ++j) {
            if (Dist3(i->second, j->second) >= 1e-6 * h) continue;
            EXPECT_TRUE(in.nodes.count(i->first) && in.nodes.count(j->first) && in.nodes.at(i->first) == in.nodes.at(j->first))
                << "nodes " << i->first << " and " << j->first << " share a point the input did not";
        }
    }
}

}  // namespace trimcheck

#endif
