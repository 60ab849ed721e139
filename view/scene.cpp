#include "scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <unordered_map>

namespace view {

namespace {

constexpr Rgb kPalette[] = {
    {31, 119, 180}, {255, 127, 14}, {44, 160, 44},   {148, 103, 189}, {140, 86, 75},   {188, 189, 34},
    {23, 190, 207}, {214, 39, 40},  {174, 199, 232}, {255, 187, 120}, {152, 223, 138}, {197, 176, 213},
};

Rgb Mix(Rgb a, Rgb b, double t)
{
    const auto c = [t](std::uint8_t x, std::uint8_t y) {
        return static_cast<std::uint8_t>(std::lround(x + (static_cast<double>(y) - x) * t));
    };
    return {c(a.r, b.r), c(a.g, b.g), c(a.b, b.b)};
}

// Blue for the low end to red for the high end, through cyan, green and yellow.
Rgb Ramp(double t)
{
    static constexpr Rgb kStops[] = {{40, 40, 255}, {0, 200, 255}, {0, 190, 60}, {255, 215, 0}, {230, 30, 30}};
    if (!(t > 0)) return kStops[0];
    if (t >= 1) return kStops[4];
    const double x = t * 4;
    const int k = static_cast<int>(x);
    return Mix(kStops[k], kStops[k + 1], x - k);
}

Rgb Shade(Rgb c, double f)
{
    const auto s = [f](std::uint8_t x) { return static_cast<std::uint8_t>(std::lround(x * f)); };
    return {s(c.r), s(c.g), s(c.b)};
}

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

int Corners(const Element& e) { return e.Triangle() ? 3 : 4; }

Vec3 Centroid(const Mesh& m, const Element& e)
{
    Vec3 c{};
    const int n = Corners(e);
    for (int k = 0; k < n; ++k) {
        const Vec3 p = m.Node(e.node[static_cast<std::size_t>(k)]);
        for (int i = 0; i < 3; ++i) c[static_cast<std::size_t>(i)] += p[static_cast<std::size_t>(i)] / n;
    }
    return c;
}

// Inside the triangle as seen along its normal, and near its plane.
bool InTriangle(const Vec3& p, const Vec3& a, const Vec3& b, const Vec3& c, double nearPlane)
{
    const Vec3 v0 = Sub(b, a), v1 = Sub(c, a), v2 = Sub(p, a);
    const Vec3 n = Cross(v0, v1);
    const double nn = std::sqrt(Dot(n, n));
    if (nn <= 0 || std::fabs(Dot(v2, n)) / nn > nearPlane) return false;
    const double d00 = Dot(v0, v0), d01 = Dot(v0, v1), d11 = Dot(v1, v1), d20 = Dot(v2, v0), d21 = Dot(v2, v1);
    const double denom = d00 * d11 - d01 * d01;
    const double v = (d11 * d20 - d01 * d21) / denom;
    const double w = (d00 * d21 - d01 * d20) / denom;
    const double tolerance = 0.02;
    return v >= -tolerance && w >= -tolerance && v + w <= 1 + tolerance;
}

bool InElement(const Mesh& m, const Element& e, const Vec3& p, double nearPlane)
{
    const Vec3 a = m.Node(e.node[0]), b = m.Node(e.node[1]), c = m.Node(e.node[2]);
    if (InTriangle(p, a, b, c, nearPlane)) return true;
    return !e.Triangle() && InTriangle(p, a, c, m.Node(e.node[3]), nearPlane);
}

std::string Number(double x)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", x);
    return text;
}

std::string FileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Rgb PartColour(std::size_t rank) { return kPalette[rank % (sizeof kPalette / sizeof kPalette[0])]; }

Rgb Ghost(Rgb c) { return Mix(c, Rgb{225, 225, 225}, 0.7); }

std::vector<std::uint8_t> RemovedElements(const Mesh& before, const Mesh& after)
{
    std::vector<std::uint8_t> removed(before.elements.size(), 0);
    std::vector<int> gone;
    double size = 0;
    for (std::size_t k = 0; k < before.elements.size(); ++k) {
        const Element& e = before.elements[k];
        if (after.elementIndex.Find(e.id) >= 0) continue;
        removed[k] = 1;
        gone.push_back(static_cast<int>(k));
        const Vec3 a = before.Node(e.node[0]), c = before.Node(e.node[2]);
        size += std::sqrt(Dot(Sub(c, a), Sub(c, a)));
    }
    if (gone.empty()) return removed;

    // A grid of the gone elements, a few elements per cell, to find the
    // parent of each new piece without looking at all of them.
    const double cell = std::max(2 * size / static_cast<double>(gone.size()), 1e-9);
    const auto cellOf = [cell](double v) {
        return static_cast<std::int64_t>(std::clamp(std::floor(v / cell), -1e15, 1e15));
    };
    const auto key = [](std::int64_t x, std::int64_t y, std::int64_t z) {
        const auto q = [](std::int64_t v) { return static_cast<std::uint64_t>(v) & 0x1FFFFF; };
        return q(x) << 42 | q(y) << 21 | q(z);
    };
    std::unordered_map<std::uint64_t, std::vector<int>> grid;
    // Elements far larger than the rest would fill too many cells: they are tried for every piece.
    std::vector<int> large;
    for (const int k : gone) {
        const Element& e = before.elements[static_cast<std::size_t>(k)];
        std::int64_t lo[3], hi[3];
        for (std::size_t i = 0; i < 3; ++i) {
            lo[i] = std::numeric_limits<std::int64_t>::max();
            hi[i] = std::numeric_limits<std::int64_t>::min();
        }
        for (int c = 0; c < Corners(e); ++c) {
            const Vec3 p = before.Node(e.node[static_cast<std::size_t>(c)]);
            for (std::size_t i = 0; i < 3; ++i) {
                lo[i] = std::min(lo[i], cellOf(p[i]));
                hi[i] = std::max(hi[i], cellOf(p[i]));
            }
        }
        if (hi[0] - lo[0] > 8 || hi[1] - lo[1] > 8 || hi[2] - lo[2] > 8) {
            large.push_back(k);
            continue;
        }
        for (std::int64_t x = lo[0]; x <= hi[0]; ++x)
            for (std::int64_t y = lo[1]; y <= hi[1]; ++y)
                for (std::int64_t z = lo[2]; z <= hi[2]; ++z) grid[key(x, y, z)].push_back(k);
    }
    const std::vector<int> none;
    for (const Element& piece : after.elements) {
        if (before.elementIndex.Find(piece.id) >= 0) continue;
        const Vec3 c = Centroid(after, piece);
        const auto it = grid.find(key(cellOf(c[0]), cellOf(c[1]), cellOf(c[2])));
        const std::vector<int>* lists[2] = {it == grid.end() ? &none : &it->second, &large};
        bool found = false;
        for (const std::vector<int>* list : lists) {
            for (std::size_t j = 0; j < list->size() && !found; ++j) {
                const int k = (*list)[j];
                found = InElement(before, before.elements[static_cast<std::size_t>(k)], c, cell / 2);
                if (found) removed[static_cast<std::size_t>(k)] = 0;
            }
        }
    }
    return removed;
}

std::vector<std::uint64_t> FreeEdges(const Mesh& mesh)
{
    std::vector<std::uint64_t> edges;
    edges.reserve(mesh.elements.size() * 4);
    for (const Element& e : mesh.elements) {
        const int n = Corners(e);
        for (int k = 0; k < n; ++k) {
            const auto a = static_cast<std::uint32_t>(mesh.nodeId[static_cast<std::size_t>(e.node[static_cast<std::size_t>(k)])]);
            const auto b = static_cast<std::uint32_t>(mesh.nodeId[static_cast<std::size_t>(e.node[static_cast<std::size_t>((k + 1) % n)])]);
            edges.push_back(static_cast<std::uint64_t>(std::min(a, b)) << 32 | std::max(a, b));
        }
    }
    std::sort(edges.begin(), edges.end());
    std::size_t out = 0;
    for (std::size_t k = 0; k < edges.size();) {
        std::size_t next = k + 1;
        while (next < edges.size() && edges[next] == edges[k]) ++next;
        if (next - k == 1) edges[out++] = edges[k];
        k = next;
    }
    edges.resize(out);
    edges.shrink_to_fit();
    return edges;
}

// ------------------------------------------------------------------ drawing

namespace {

class Painter {
public:
    Painter(const Picture& p, Canvas& canvas) : p_(p), canvas_(canvas)
    {
        scale_ = std::clamp(std::min(p.width, p.height) / 450, 1, 4);
        pad_ = 6 * scale_;
        CollectParts();
        if (p.colour != ColourBy::Part) ScalarRange();
    }

    void Run()
    {
        const bool pair = p_.after != nullptr;
        std::vector<std::uint8_t> removed;
        std::vector<std::uint64_t> boundary;
        if (pair) {
            removed = RemovedElements(*p_.before, *p_.after);
            const std::vector<std::uint64_t> was = FreeEdges(*p_.before), now = FreeEdges(*p_.after);
            std::set_difference(now.begin(), now.end(), was.begin(), was.end(), std::back_inserter(boundary));
        }
        removedCount_ = static_cast<std::size_t>(std::count(removed.begin(), removed.end(), 1));
        const int legend = LegendWidth();
        const int panels = pair ? 2 : 1;
        panelWidth_ = std::max(1, (p_.width - legend) / panels);
        titleHeight_ = kGlyphHeight * scale_ + 2 * pad_;
        Fit();
        MeshPanel(*p_.before, 0, pair ? &removed : nullptr);
        Curves(0);
        Title(0, (pair ? "BEFORE: " : "") + FileName(p_.before->path));
        if (pair) {
            MeshPanel(*p_.after, 1, nullptr);
            Curves(1);
            Boundary(*p_.after, boundary, 1);
            Title(1, "AFTER: " + FileName(p_.after->path));
            canvas_.Box(panelWidth_, pad_, std::max(1, scale_ / 2), p_.height - 2 * pad_, Rgb{200, 200, 200});
        }
        Legend(panels * panelWidth_);
    }

private:
    void CollectParts()
    {
        for (const Mesh* m : {p_.before, p_.after}) {
            if (!m) continue;
            for (const Element& e : m->elements) {
                if (parts_.empty() || parts_.back() != e.part) parts_.push_back(e.part);
            }
            std::sort(parts_.begin(), parts_.end());
            parts_.erase(std::unique(parts_.begin(), parts_.end()), parts_.end());
        }
    }

    double Value(const Element& e) const { return p_.colour == ColourBy::Eps ? e.eps : e.thickness; }

    void ScalarRange()
    {
        if (p_.rangeGiven) {
            low_ = p_.low;
            high_ = p_.high;
            return;
        }
        low_ = std::numeric_limits<double>::infinity();
        high_ = -low_;
        for (const Mesh* m : {p_.before, p_.after}) {
            if (!m) continue;
            for (const Element& e : m->elements) {
                const double v = Value(e);
                if (!std::isfinite(v)) continue;
                low_ = std::min(low_, v);
                high_ = std::max(high_, v);
            }
        }
        if (!(low_ <= high_)) low_ = high_ = 0;
        if (high_ - low_ <= 1e-12 * std::max(1.0, std::fabs(high_))) {
            const double widen = std::max(0.05 * std::fabs(high_), 1e-6);
            low_ -= widen;
            high_ += widen;
        }
    }

    Rgb Colour(const Element& e) const
    {
        if (p_.colour == ColourBy::Part) {
            const auto it = std::lower_bound(parts_.begin(), parts_.end(), e.part);
            return PartColour(static_cast<std::size_t>(it - parts_.begin()));
        }
        const double v = Value(e);
        if (!std::isfinite(v)) return kNoData;
        return Ramp((v - low_) / (high_ - low_));
    }

    void Fit()
    {
        double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
        const auto take = [&](const Vec3& q) {
            const double x = p_.projection.X(q), y = p_.projection.Y(q);
            lo[0] = std::min(lo[0], x), hi[0] = std::max(hi[0], x);
            lo[1] = std::min(lo[1], y), hi[1] = std::max(hi[1], y);
        };
        for (const Mesh* m : {p_.before, p_.after}) {
            if (!m) continue;
            std::vector<std::uint8_t> used(m->nodeId.size(), 0);
            for (const Element& e : m->elements)
                for (const int n : e.node) used[static_cast<std::size_t>(n)] = 1;
            for (std::size_t k = 0; k < used.size(); ++k)
                if (used[k]) take(m->Node(static_cast<int>(k)));
        }
        if (p_.deck)
            for (const Curve2D& c : p_.deck->curves)
                for (const Vec3& q : c.points) take(q);
        const double areaW = std::max(1, panelWidth_ - 2 * pad_);
        const double areaH = std::max(1, p_.height - titleHeight_ - pad_);
        const double dx = hi[0] - lo[0], dy = hi[1] - lo[1];
        zoom_ = std::min(dx > 0 ? areaW / dx : 1e300, dy > 0 ? areaH / dy : 1e300);
        if (!(zoom_ < 1e300)) zoom_ = 1;
        middle_[0] = (lo[0] + hi[0]) / 2;
        middle_[1] = (lo[1] + hi[1]) / 2;
    }

    ScreenPoint Screen(const Vec3& q, int panel) const
    {
        const double cx = panel * panelWidth_ + panelWidth_ / 2.0;
        const double cy = titleHeight_ + (p_.height - titleHeight_ - pad_) / 2.0;
        ScreenPoint s;
        s.x = static_cast<float>(cx + (p_.projection.X(q) - middle_[0]) * zoom_);
        s.y = static_cast<float>(cy - (p_.projection.Y(q) - middle_[1]) * zoom_);
        s.depth = static_cast<float>(p_.projection.Depth(q));
        return s;
    }

    void MeshPanel(const Mesh& m, int panel, const std::vector<std::uint8_t>* removed)
    {
        ScreenPoint corner[4];
        for (std::size_t k = 0; k < m.elements.size(); ++k) {
            const Element& e = m.elements[k];
            const int n = Corners(e);
            Vec3 q[4];
            for (int c = 0; c < n; ++c) {
                q[c] = m.Node(e.node[static_cast<std::size_t>(c)]);
                corner[c] = Screen(q[c], panel);
            }
            // Lit from the viewer: a face seen edge-on darkens, one seen square-on keeps its colour.
            const Vec3 normal = n == 4 ? Cross(Sub(q[2], q[0]), Sub(q[3], q[1])) : Cross(Sub(q[1], q[0]), Sub(q[2], q[0]));
            const double length = std::sqrt(Dot(normal, normal));
            const double facing = length > 0 ? std::fabs(Dot(normal, p_.projection.d)) / length : 1;
            Rgb colour = Shade(Colour(e), 0.6 + 0.4 * facing);
            if (removed && (*removed)[k]) colour = Ghost(colour);
            const Rgb edge = Shade(colour, 0.6);
            canvas_.Polygon(corner, n, colour, p_.mesh && Big(corner, n) ? &edge : nullptr);
        }
    }

    // Edges on elements a few pixels across would hide their colour.
    static bool Big(const ScreenPoint* corner, int n)
    {
        float lo[2] = {corner[0].x, corner[0].y}, hi[2] = {corner[0].x, corner[0].y};
        for (int c = 1; c < n; ++c) {
            lo[0] = std::min(lo[0], corner[c].x), hi[0] = std::max(hi[0], corner[c].x);
            lo[1] = std::min(lo[1], corner[c].y), hi[1] = std::max(hi[1], corner[c].y);
        }
        return std::max(hi[0] - lo[0], hi[1] - lo[1]) >= 6;
    }

    void Curves(int panel)
    {
        if (!p_.deck) return;
        const double width = std::max(1.5, 1.0 * scale_);
        for (const Curve2D& c : p_.deck->curves) {
            for (std::size_t k = 1; k < c.points.size(); ++k) {
                const ScreenPoint a = Screen(c.points[k - 1], panel), b = Screen(c.points[k], panel);
                canvas_.Line(a.x, a.y, b.x, b.y, kCurve, width);
            }
        }
    }

    void Boundary(const Mesh& m, const std::vector<std::uint64_t>& edges, int panel)
    {
        if (edges.empty()) return;
        IdIndex nodes;
        nodes.Build(m.nodeId);
        const double width = std::max(2.0, 1.5 * scale_);
        for (const std::uint64_t edge : edges) {
            const int a = nodes.Find(static_cast<int>(edge >> 32)), b = nodes.Find(static_cast<int>(edge & 0xFFFFFFFFu));
            if (a < 0 || b < 0) continue;
            const ScreenPoint s = Screen(m.Node(a), panel), t = Screen(m.Node(b), panel);
            canvas_.Line(s.x, s.y, t.x, t.y, kNewBoundary, width);
        }
    }

    void Title(int panel, std::string text)
    {
        const int room = std::max(1, (panelWidth_ - 2 * pad_) / (kGlyphWidth * scale_));
        if (static_cast<int>(text.size()) > room) text = text.substr(0, static_cast<std::size_t>(room));
        canvas_.Text(panel * panelWidth_ + pad_, pad_, text, scale_, kText);
    }

    std::vector<std::string> LegendLabels() const
    {
        std::vector<std::string> labels;
        if (p_.colour == ColourBy::Part) {
            for (const int part : parts_) labels.push_back("PART " + std::to_string(part));
        } else {
            labels.push_back(p_.colour == ColourBy::Eps ? "EPS (MEAN)" : "THICKNESS");
            for (int k = 0; k <= 4; ++k) labels.push_back(Number(low_ + (high_ - low_) * k / 4));
        }
        return labels;
    }

    std::vector<std::string> Footer() const
    {
        std::vector<std::string> lines = {p_.viewName, std::to_string(p_.before->elements.size()) + " ELEMENTS"};
        if (p_.after) {
            lines.push_back(std::to_string(p_.after->elements.size()) + " AFTER");
            lines.push_back(std::to_string(removedCount_) + " REMOVED");
        }
        if (p_.deck && !p_.deck->unread.empty())
            lines.push_back(std::to_string(p_.deck->unread.size()) + " IGES FILE(S) NOT READ");
        return lines;
    }

    int LegendWidth() const
    {
        std::size_t chars = 0;
        for (const std::string& s : LegendLabels()) chars = std::max(chars, s.size());
        for (const std::string& s : Footer()) chars = std::max(chars, s.size());
        const int swatch = 12 * scale_;
        const int wanted = 3 * pad_ + swatch + static_cast<int>(chars) * kGlyphWidth * scale_;
        return std::min(wanted, p_.width / 2);
    }

    void Legend(int x0)
    {
        const int line = kGlyphHeight * scale_ + pad_ / 2;
        const int swatch = 12 * scale_;
        int y = pad_;
        const std::vector<std::string> labels = LegendLabels();
        const int footerTop = p_.height - pad_ - static_cast<int>(Footer().size()) * line;
        if (p_.colour == ColourBy::Part) {
            for (std::size_t k = 0; k < parts_.size(); ++k) {
                if (y + 2 * line > footerTop && k + 1 < parts_.size()) {
                    canvas_.Text(x0 + pad_, y, "+" + std::to_string(parts_.size() - k) + " MORE", scale_, kText);
                    y += line;
                    break;
                }
                canvas_.Box(x0 + pad_, y, swatch, kGlyphHeight * scale_, PartColour(k));
                canvas_.Text(x0 + 2 * pad_ + swatch, y + scale_, labels[k], scale_, kText);
                y += line;
            }
        } else {
            canvas_.Text(x0 + pad_, y, labels[0], scale_, kText);
            y += line + pad_;
            const int barTop = y + kGlyphHeight * scale_ / 2;
            const int barHeight = std::max(8, std::min(300 * scale_, footerTop - barTop - line * 2));
            for (int j = 0; j < barHeight; ++j)
                canvas_.Box(x0 + pad_, barTop + j, swatch, 1, Ramp(1.0 - static_cast<double>(j) / (barHeight - 1)));
            for (int k = 0; k <= 4; ++k) {
                const int at = barTop + (barHeight - 1) * (4 - k) / 4;
                canvas_.Box(x0 + pad_ + swatch, at, pad_ / 2, std::max(1, scale_ / 2), kText);
                canvas_.Text(x0 + 2 * pad_ + swatch, at - kGlyphHeight * scale_ / 2, labels[static_cast<std::size_t>(k) + 1], scale_, kText);
            }
            if (p_.colour == ColourBy::Eps) {
                const int at = barTop + barHeight + line;
                canvas_.Box(x0 + pad_, at, swatch, kGlyphHeight * scale_, kNoData);
                canvas_.Text(x0 + 2 * pad_ + swatch, at + scale_, "NO DATA", scale_, kText);
            }
        }
        int f = footerTop;
        for (const std::string& s : Footer()) {
            canvas_.Text(x0 + pad_, f, s, scale_, kText);
            f += line;
        }
    }

    const Picture& p_;
    Canvas& canvas_;
    int scale_ = 1;
    int pad_ = 6;
    int panelWidth_ = 1;
    int titleHeight_ = 0;
    double zoom_ = 1;
    double middle_[2] = {0, 0};
    std::vector<int> parts_;
    double low_ = 0, high_ = 1;
    std::size_t removedCount_ = 0;
};

}  // namespace

void Draw(const Picture& picture, Canvas& canvas) { Painter(picture, canvas).Run(); }

}  // namespace view
