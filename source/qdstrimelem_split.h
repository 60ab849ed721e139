// Splitting one element's outline along the chains of a curve that run through
// it: the general path of the element cutter. Whatever the chains do inside the
// element (enter and leave by one edge, turn at several corners, end inside,
// close into a loop), the pieces are the triangles of a constrained Delaunay
// triangulation of outline plus chains, joined in pairs into convex
// quadrilaterals where that gives the better shape.
#ifndef QDSTRIMELEM_SPLIT_H
#define QDSTRIMELEM_SPLIT_H

#include <array>
#include <utility>
#include <vector>

struct CsSplitPoint {
    double x = 0.0;
    double y = 0.0;
};

struct CsSplitInput {
    // Positions in one plane; the outline and the chains index into them.
    std::vector<CsSplitPoint> points;
    // The element's outline, counterclockwise, every point on it listed (a
    // node in the middle of an edge included).
    std::vector<int> outline;
    // Segments that must be edges of the pieces: the chains of the curve.
    std::vector<std::pair<int, int>> chains;
};

// The pieces, each counterclockwise with 3 or 4 points (indices into
// in.points). False, with no pieces, when the input cannot be split soundly:
// an outline turned the wrong way, chains that cross each other or the
// outline, a chain through a point it does not end at.
bool CsSplitPolygon(const CsSplitInput& in, std::vector<std::vector<int>>& pieces);

// Twice the signed area of the triangle a, b, c: positive when counterclockwise.
double CsSplitOrient(const CsSplitPoint& a, const CsSplitPoint& b, const CsSplitPoint& c);
// The signed area of the loop through these points of in.points: positive when counterclockwise.
double CsSplitArea(const CsSplitInput& in, const std::vector<int>& loop);

#endif
