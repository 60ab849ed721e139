// Polylines, trim lines and the 2D and 3D cut lines.
#ifndef QDSGEOMLINE_H
#define QDSGEOMLINE_H

class gmTrmLine {
public:
    gmTrmLine() = default;
    virtual ~gmTrmLine() = default;
    gmTrmLine(const gmTrmLine&) = default;
    gmTrmLine& operator=(const gmTrmLine&) = default;
};

#endif
