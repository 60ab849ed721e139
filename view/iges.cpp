// Curves of an IGES file as polylines, for drawing only: lines (110), circular
// arcs (100), rational B-splines (126) and copious data (106 forms 1, 2, 11,
// 12), each placed by its transformation matrix (124). Other entities are
// skipped; a composite curve (102) needs nothing of its own since its members
// are drawn anyway.
#include "iges.h"

#include <cmath>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace view {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Entry {
    int type = 0;
    int form = 0;
    int parameters = 0;  // first P line
    int matrix = 0;      // D sequence number of a 124, 0 for none
    std::vector<double> p;
};

int IntAt(const std::string& line, std::size_t from)
{
    return line.size() > from ? std::atoi(line.substr(from, 8).c_str()) : 0;
}

// Parameter data split at ',' and ';'; Hollerith strings (nH...) are kept out
// of the numbers. Real exponents may be written with D.
std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = i;
        std::string field;
        while (end < text.size() && text[end] != ',' && text[end] != ';') {
            const std::size_t h = text.find_first_not_of("0123456789", end);
            if (h != std::string::npos && h > end && text[h] == 'H' && field.find_first_not_of(" ") == std::string::npos) {
                end = h + 1 + static_cast<std::size_t>(std::atoi(text.substr(end, h - end).c_str()));
                field.clear();
                continue;
            }
            field += text[end] == 'D' || text[end] == 'd' ? 'E' : text[end];
            ++end;
        }
        out.push_back(std::atof(field.c_str()));
        if (end < text.size() && text[end] == ';') break;
        i = end + 1;
    }
    return out;
}

Vec3 Place(const std::vector<double>* m, const Vec3& q)
{
    if (!m || m->size() < 13) return q;
    const std::vector<double>& t = *m;  // t[0] is the entity type
    return {t[1] * q[0] + t[2] * q[1] + t[3] * q[2] + t[4], t[5] * q[0] + t[6] * q[1] + t[7] * q[2] + t[8],
            t[9] * q[0] + t[10] * q[1] + t[11] * q[2] + t[12]};
}

std::vector<Vec3> Arc(const std::vector<double>& p)
{
    std::vector<Vec3> out;
    if (p.size() < 8) return out;
    const double z = p[1], cx = p[2], cy = p[3];
    const double a0 = std::atan2(p[5] - cy, p[4] - cx);
    double a1 = std::atan2(p[7] - cy, p[6] - cx);
    const double r = std::hypot(p[4] - cx, p[5] - cy);
    while (a1 <= a0 + 1e-12) a1 += 2 * kPi;
    const int steps = std::max(8, static_cast<int>(std::ceil((a1 - a0) / (2 * kPi) * 96)));
    for (int s = 0; s <= steps; ++s) {
        const double a = a0 + (a1 - a0) * s / steps;
        out.push_back({cx + r * std::cos(a), cy + r * std::sin(a), z});
    }
    return out;
}

std::vector<Vec3> Spline(const std::vector<double>& p)
{
    std::vector<Vec3> out;
    if (p.size() < 7) return out;
    const int k = static_cast<int>(p[1]), m = static_cast<int>(p[2]);
    if (k < 1 || m < 1 || k > 100000 || m > 30) return out;
    const int n = 1 + k - m, a = n + 2 * m;
    const std::size_t knots = 7, weights = knots + static_cast<std::size_t>(a) + 1,
                      points = weights + static_cast<std::size_t>(k) + 1,
                      range = points + 3 * (static_cast<std::size_t>(k) + 1);
    if (p.size() < range + 2) return out;
    const auto knot = [&](int j) { return p[knots + static_cast<std::size_t>(j)]; };
    const double v0 = p[range], v1 = p[range + 1];
    const int samples = std::max(16, 12 * (k + 1));
    for (int s = 0; s <= samples; ++s) {
        const double u = v0 + (v1 - v0) * s / samples;
        // The knot span holding u, then de Boor's scheme in homogeneous coordinates.
        int span = m;
        while (span < k && knot(span + 1) <= u) ++span;
        std::vector<std::array<double, 4>> d(static_cast<std::size_t>(m) + 1);
        for (int j = 0; j <= m; ++j) {
            const std::size_t c = static_cast<std::size_t>(span - m + j);
            const double w = p[weights + c];
            d[static_cast<std::size_t>(j)] = {p[points + 3 * c] * w, p[points + 3 * c + 1] * w, p[points + 3 * c + 2] * w, w};
        }
        for (int r = 1; r <= m; ++r)
            for (int j = m; j >= r; --j) {
                const int i = span - m + j;
                const double lo = knot(i), hi = knot(i + m - r + 1);
                const double alpha = hi > lo ? (u - lo) / (hi - lo) : 0;
                for (std::size_t c = 0; c < 4; ++c)
                    d[static_cast<std::size_t>(j)][c] =
                        (1 - alpha) * d[static_cast<std::size_t>(j - 1)][c] + alpha * d[static_cast<std::size_t>(j)][c];
            }
        const std::array<double, 4>& h = d[static_cast<std::size_t>(m)];
        if (h[3] != 0) out.push_back({h[0] / h[3], h[1] / h[3], h[2] / h[3]});
    }
    return out;
}

std::vector<Vec3> Copious(const Entry& e)
{
    std::vector<Vec3> out;
    const std::vector<double>& p = e.p;
    if (p.size() < 3) return out;
    const int ip = static_cast<int>(p[1]), count = static_cast<int>(p[2]);
    if (count < 0) return out;
    if (ip == 1 && p.size() >= 4 + 2 * static_cast<std::size_t>(count)) {
        for (int j = 0; j < count; ++j) out.push_back({p[4 + 2 * static_cast<std::size_t>(j)], p[5 + 2 * static_cast<std::size_t>(j)], p[3]});
    } else if (ip == 2 && p.size() >= 3 + 3 * static_cast<std::size_t>(count)) {
        for (int j = 0; j < count; ++j) {
            const std::size_t o = 3 + 3 * static_cast<std::size_t>(j);
            out.push_back({p[o], p[o + 1], p[o + 2]});
        }
    }
    return out;
}

}  // namespace

std::vector<std::vector<Vec3>> ReadIgesCurves(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError("cannot open the IGES file " + path);
    std::map<int, Entry> entries;  // by D sequence number
    std::map<int, std::string> text;  // parameter text by its entry's D number
    std::string line, pending;
    int lineInD = 0;
    bool any = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 73) continue;
        const char section = line[72];
        if (section == 'D') {
            any = true;
            const int sequence = IntAt(line, 73);
            if (lineInD++ % 2 == 0) {
                Entry e;
                e.type = IntAt(line, 0);
                e.parameters = IntAt(line, 8);
                e.matrix = IntAt(line, 48);
                entries[sequence] = e;
            } else if (!entries.empty()) {
                entries.rbegin()->second.form = IntAt(line, 32);
            }
        } else if (section == 'P') {
            text[IntAt(line, 64)] += line.substr(0, 64);
        }
    }
    if (!any) throw InputError(path + " holds no IGES directory entries");
    for (auto& [sequence, e] : entries) {
        const auto t = text.find(sequence);
        if (t != text.end()) e.p = Numbers(t->second);
    }
    std::vector<std::vector<Vec3>> curves;
    for (const auto& [sequence, e] : entries) {
        std::vector<Vec3> points;
        if (e.type == 110 && e.p.size() >= 7) points = {{e.p[1], e.p[2], e.p[3]}, {e.p[4], e.p[5], e.p[6]}};
        else if (e.type == 100) points = Arc(e.p);
        else if (e.type == 126) points = Spline(e.p);
        else if (e.type == 106 && (e.form == 1 || e.form == 2 || e.form == 11 || e.form == 12)) points = Copious(e);
        if (points.size() < 2) continue;
        const auto m = entries.find(e.matrix);
        const std::vector<double>* matrix = e.matrix > 0 && m != entries.end() && m->second.type == 124 ? &m->second.p : nullptr;
        for (Vec3& q : points) q = Place(matrix, q);
        curves.push_back(std::move(points));
    }
    return curves;
}

}  // namespace view
