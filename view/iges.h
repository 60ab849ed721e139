// Trim curves from IGES files, as polylines to draw.
#ifndef VIEW_IGES_H
#define VIEW_IGES_H

#include "model.h"

#include <string>
#include <vector>

namespace view {

// Throws InputError when the file cannot be read or holds no IGES entries.
std::vector<std::vector<Vec3>> ReadIgesCurves(const std::string& path);

}  // namespace view

#endif
