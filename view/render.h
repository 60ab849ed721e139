// Projection and the two kinds of picture: a pixel raster with a depth buffer
// (written as PNG) and an SVG document drawn in painter's order.
#ifndef VIEW_RENDER_H
#define VIEW_RENDER_H

#include "model.h"

#include <cstdint>
#include <memory>
#include <string>

namespace view {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// Screen axes u (right) and v (up) and the direction d towards the viewer.
struct Projection {
    Vec3 u{1, 0, 0}, v{0, 1, 0}, d{0, 0, 1};

    static Projection AlongZ() { return {}; }
    // Looking along `direction` from its head's side, so (0, 0, 1) gives the view along z.
    static Projection Along(const Vec3& direction);
    static Projection Isometric();

    double X(const Vec3& p) const { return p[0] * u[0] + p[1] * u[1] + p[2] * u[2]; }
    double Y(const Vec3& p) const { return p[0] * v[0] + p[1] * v[1] + p[2] * v[2]; }
    double Depth(const Vec3& p) const { return p[0] * d[0] + p[1] * d[1] + p[2] * d[2]; }
};

// Pixel position with the depth towards the viewer (larger is nearer).
struct ScreenPoint {
    float x = 0, y = 0, depth = 0;
};

class Canvas {
public:
    virtual ~Canvas() = default;
    // Filled, hidden behind what is nearer; 3 or 4 corners. With `edge`, its
    // outline (not the diagonal that splits a quadrilateral) in that colour.
    virtual void Polygon(const ScreenPoint* corners, int count, Rgb colour, const Rgb* edge = nullptr) = 0;
    // Lines, boxes and text lie on top of every polygon.
    virtual void Line(double x0, double y0, double x1, double y1, Rgb colour, double width) = 0;
    virtual void Box(int x, int y, int w, int h, Rgb colour) = 0;
    // Top-left corner; `scale` pixels per font dot.
    virtual void Text(int x, int y, const std::string& text, int scale, Rgb colour) = 0;
    virtual void Save(const std::string& path) = 0;
};

std::unique_ptr<Canvas> MakeRaster(int width, int height, Rgb background);
std::unique_ptr<Canvas> MakeSvg(int width, int height, Rgb background);

// The tiny font: 5 x 7 dots in a 6 x 9 cell.
constexpr int kGlyphWidth = 6;
constexpr int kGlyphHeight = 9;
int TextWidth(const std::string& text, int scale);

// Writes RGB rows; throws InputError when the file cannot be written.
void WritePng(const std::string& path, int width, int height, const std::uint8_t* rgb);

}  // namespace view

#endif
