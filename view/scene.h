// What goes into a picture of a job: colours, the comparison of a dynain
// before and after, the layout of panels and legend.
#ifndef VIEW_SCENE_H
#define VIEW_SCENE_H

#include "model.h"
#include "render.h"

#include <cstdint>
#include <vector>

namespace view {

enum class ColourBy { Part, Thickness, Eps };

struct Picture {
    const Mesh* before = nullptr;
    const Mesh* after = nullptr;  // null: one panel
    const Deck* deck = nullptr;   // null: no curves
    ColourBy colour = ColourBy::Part;
    Projection projection;
    std::string viewName;
    int width = 1200;
    int height = 900;
    bool mesh = false;  // element edges where elements are big enough to show them
    bool rangeGiven = false;
    double low = 0, high = 1;
};

// Colours shared by the drawing and the tests that look for them.
constexpr Rgb kBackground{255, 255, 255};
constexpr Rgb kText{20, 20, 20};
constexpr Rgb kCurve{0, 0, 0};
constexpr Rgb kNewBoundary{255, 0, 255};
constexpr Rgb kNoData{150, 150, 150};
Rgb PartColour(std::size_t rank);
// A removed element: faded towards light grey, so it still shows its colour.
Rgb Ghost(Rgb c);

// Elements of `before` whose id is gone from `after`, unless pieces cut from
// them survive there (new ids lying inside them).
std::vector<std::uint8_t> RemovedElements(const Mesh& before, const Mesh& after);

// Edges (node id pairs, the smaller first) bounding one element only.
std::vector<std::uint64_t> FreeEdges(const Mesh& mesh);

void Draw(const Picture& picture, Canvas& canvas);

}  // namespace view

#endif
