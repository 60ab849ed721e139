#include "render.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

namespace view {

namespace {

Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vec3 Unit(const Vec3& a)
{
    const double n = std::hypot(a[0], a[1], a[2]);
    return {a[0] / n, a[1] / n, a[2] / n};
}

// Screen axes for a viewer on the side `towards` points to: "up" is the
// global axis least aligned with the line of sight, so z stays up in an
// oblique view and y stays up in a view from above.
Projection Facing(const Vec3& towards)
{
    Projection p;
    p.d = Unit(towards);
    const Vec3 up = std::fabs(p.d[2]) < 0.9 ? Vec3{0, 0, 1} : Vec3{0, 1, 0};
    p.u = Unit(Cross(up, p.d));
    p.v = Cross(p.d, p.u);
    return p;
}

}  // namespace

Projection Projection::Along(const Vec3& direction) { return Facing(direction); }

Projection Projection::Isometric() { return Facing({1, 1, 1}); }

// ------------------------------------------------------------------ font

namespace {

struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows;  // five dots each, the leftmost in bit 4
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}}, {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}}, {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}}, {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}}, {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

const Glyph& GlyphOf(char c)
{
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kFont)
        if (g.c == upper) return g;
    return kFont[sizeof kFont / sizeof kFont[0] - 1];
}

}  // namespace

int TextWidth(const std::string& text, int scale) { return static_cast<int>(text.size()) * kGlyphWidth * scale; }

// ------------------------------------------------------------------ raster

namespace {

class Raster : public Canvas {
public:
    Raster(int width, int height, Rgb background)
        : w_(width), h_(height), rgb_(static_cast<std::size_t>(width) * height * 3),
          depth_(static_cast<std::size_t>(width) * height, -std::numeric_limits<float>::infinity())
    {
        for (std::size_t k = 0; k < rgb_.size(); k += 3) {
            rgb_[k] = background.r;
            rgb_[k + 1] = background.g;
            rgb_[k + 2] = background.b;
        }
    }

    void Polygon(const ScreenPoint* p, int count, Rgb colour, const Rgb* edge) override
    {
        for (int k = 1; k + 1 < count; ++k) {
            // Which sides of the fan's triangle are sides of the polygon.
            const int outer = 1 | (k + 2 == count ? 2 : 0) | (k == 1 ? 4 : 0);
            Triangle(p[0], p[k], p[k + 1], colour, edge, outer);
        }
    }

    void Line(double x0, double y0, double x1, double y1, Rgb colour, double width) override
    {
        const double length = std::hypot(x1 - x0, y1 - y0);
        const int steps = std::max(1, static_cast<int>(std::ceil(length * 2)));
        const double r = std::max(0.5, width / 2);
        for (int s = 0; s <= steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            const double x = x0 + (x1 - x0) * t, y = y0 + (y1 - y0) * t;
            Dot(x - r, y - r, x + r, y + r, colour);
        }
    }

    void Box(int x, int y, int w, int h, Rgb colour) override
    {
        for (int j = std::max(0, y); j < std::min(h_, y + h); ++j)
            for (int i = std::max(0, x); i < std::min(w_, x + w); ++i) Put(i, j, colour);
    }

    void Text(int x, int y, const std::string& text, int scale, Rgb colour) override
    {
        for (std::size_t k = 0; k < text.size(); ++k) {
            const Glyph& g = GlyphOf(text[k]);
            const int left = x + static_cast<int>(k) * kGlyphWidth * scale;
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (g.rows[static_cast<std::size_t>(row)] & (0x10 >> col))
                        Box(left + col * scale, y + row * scale, scale, scale, colour);
        }
    }

    void Save(const std::string& path) override { WritePng(path, w_, h_, rgb_.data()); }

private:
    void Put(int i, int j, Rgb c)
    {
        std::uint8_t* px = &rgb_[(static_cast<std::size_t>(j) * w_ + i) * 3];
        px[0] = c.r;
        px[1] = c.g;
        px[2] = c.b;
    }

    // Pixels whose centres lie in the square.
    void Dot(double x0, double y0, double x1, double y1, Rgb c)
    {
        const int i0 = std::max(0, static_cast<int>(std::ceil(x0 - 0.5)));
        const int i1 = std::min(w_ - 1, static_cast<int>(std::floor(x1 - 0.5)));
        const int j0 = std::max(0, static_cast<int>(std::ceil(y0 - 0.5)));
        const int j1 = std::min(h_ - 1, static_cast<int>(std::floor(y1 - 0.5)));
        for (int j = j0; j <= j1; ++j)
            for (int i = i0; i <= i1; ++i) Put(i, j, c);
    }

    // Pixel centres on an edge count as inside, so two triangles sharing an
    // edge leave no gap between them, whatever their size.
    void Triangle(const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c, Rgb colour, const Rgb* edge, int outer)
    {
        const double area = (b.x - a.x) * static_cast<double>(c.y - a.y) - (b.y - a.y) * static_cast<double>(c.x - a.x);
        if (!(std::fabs(area) > 1e-12)) return;
        const double minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
        const double minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
        const int i0 = std::max(0, static_cast<int>(std::ceil(minX - 0.5)));
        const int i1 = std::min(w_ - 1, static_cast<int>(std::floor(maxX - 0.5)));
        const int j0 = std::max(0, static_cast<int>(std::ceil(minY - 0.5)));
        const int j1 = std::min(h_ - 1, static_cast<int>(std::floor(maxY - 0.5)));
        const double inv = 1.0 / area;
        // Barycentric weight of a pixel that lies 0.7 px inside each side.
        const auto near = [area](const ScreenPoint& p, const ScreenPoint& q) {
            const double length = std::hypot(q.x - p.x, q.y - p.y);
            return length > 0 ? 0.7 * length / std::fabs(area) : 0.0;
        };
        const double nearA = edge && (outer & 1) ? near(b, c) : -1;
        const double nearB = edge && (outer & 2) ? near(c, a) : -1;
        const double nearC = edge && (outer & 4) ? near(a, b) : -1;
        for (int j = j0; j <= j1; ++j) {
            const double py = j + 0.5;
            for (int i = i0; i <= i1; ++i) {
                const double px = i + 0.5;
                const double w0 = ((c.x - b.x) * (py - b.y) - (c.y - b.y) * (px - b.x)) * inv;
                const double w1 = ((a.x - c.x) * (py - c.y) - (a.y - c.y) * (px - c.x)) * inv;
                const double w2 = 1.0 - w0 - w1;
                if (w0 < -1e-9 || w1 < -1e-9 || w2 < -1e-9) continue;
                const float z = static_cast<float>(w0 * a.depth + w1 * b.depth + w2 * c.depth);
                float& stored = depth_[static_cast<std::size_t>(j) * w_ + i];
                if (z < stored) continue;
                stored = z;
                Put(i, j, w0 < nearA || w1 < nearB || w2 < nearC ? *edge : colour);
            }
        }
    }

    int w_, h_;
    std::vector<std::uint8_t> rgb_;
    std::vector<float> depth_;
};

// ------------------------------------------------------------------ svg

std::string Hex(Rgb c)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

std::string Escape(const std::string& s)
{
    std::string out;
    for (const char c : s) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

class Svg : public Canvas {
public:
    Svg(int width, int height, Rgb background) : w_(width), h_(height), background_(background) {}

    void Polygon(const ScreenPoint* p, int count, Rgb colour, const Rgb* edge) override
    {
        Face f;
        f.count = count;
        f.colour = colour;
        f.edge = edge ? *edge : colour;
        for (int k = 0; k < count; ++k) {
            f.x[k] = p[k].x;
            f.y[k] = p[k].y;
            f.depth += p[k].depth / static_cast<float>(count);
        }
        faces_.push_back(f);
    }

    void Line(double x0, double y0, double x1, double y1, Rgb colour, double width) override
    {
        char text[200];
        std::snprintf(text, sizeof text,
                      "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"%.1f\" "
                      "stroke-linecap=\"round\"/>\n",
                      x0, y0, x1, y1, Hex(colour).c_str(), width);
        overlay_ += text;
    }

    void Box(int x, int y, int w, int h, Rgb colour) override
    {
        overlay_ += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
                    std::to_string(w) + "\" height=\"" + std::to_string(h) + "\" fill=\"" + Hex(colour) + "\"/>\n";
    }

    void Text(int x, int y, const std::string& text, int scale, Rgb colour) override
    {
        overlay_ += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y + 7 * scale) +
                    "\" font-family=\"monospace\" font-size=\"" + std::to_string(9 * scale) + "\" fill=\"" +
                    Hex(colour) + "\">" + Escape(text) + "</text>\n";
    }

    void Save(const std::string& path) override
    {
        std::ofstream out(path, std::ios::binary);
        if (!out) throw InputError("cannot write " + path);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << w_ << "\" height=\"" << h_ << "\" viewBox=\"0 0 "
            << w_ << ' ' << h_ << "\">\n"
            << "<rect width=\"100%\" height=\"100%\" fill=\"" << Hex(background_) << "\"/>\n";
        // Painter's order: the farthest face first.
        std::stable_sort(faces_.begin(), faces_.end(), [](const Face& a, const Face& b) { return a.depth < b.depth; });
        out << "<g stroke-width=\"0.4\" stroke-linejoin=\"round\">\n";
        char number[40];
        for (const Face& f : faces_) {
            const std::string colour = Hex(f.colour);
            out << "<polygon points=\"";
            for (int k = 0; k < f.count; ++k) {
                std::snprintf(number, sizeof number, "%s%.2f,%.2f", k ? " " : "", f.x[k], f.y[k]);
                out << number;
            }
            // Without edges, a stroke of the fill's colour closes the hairlines between faces.
            out << "\" fill=\"" << colour << "\" stroke=\"" << Hex(f.edge) << "\"/>\n";
        }
        out << "</g>\n" << overlay_ << "</svg>\n";
        if (!out) throw InputError("cannot write " + path);
    }

private:
    struct Face {
        float x[4] = {}, y[4] = {};
        float depth = 0;
        int count = 0;
        Rgb colour;
        Rgb edge;
    };
    int w_, h_;
    Rgb background_;
    std::vector<Face> faces_;
    std::string overlay_;
};

}  // namespace

std::unique_ptr<Canvas> MakeRaster(int width, int height, Rgb background)
{
    return std::make_unique<Raster>(width, height, background);
}

std::unique_ptr<Canvas> MakeSvg(int width, int height, Rgb background)
{
    return std::make_unique<Svg>(width, height, background);
}

}  // namespace view
