// Placement transformations of included state files: elementary translations, rotations and
// scalings, and the ordered chains of them that a deck defines under one id. The parameters
// are held in single precision; a point is moved in the precision it is given in.

#ifndef QDSFILE_TRANSFORM_H
#define QDSFILE_TRANSFORM_H

#include <vector>

// One elementary transformation. Its 4 x 4 row-major matrix (identity by default) holds the
// parameters according to the kind:
//   translation: offsets (dx, dy, dz) in column 3 of rows 0..2;
//   rotation:    the homogeneous matrix (the upper 3 x 4 part is used);
//   scaling:     factors (sx, sy, sz) in the first three entries of row 3.
class CsTransform {
public:
    enum { kTranslation = 0, kRotation = 1, kScaling = 2 };

    CsTransform();

    // d[0..2]: offsets.
    void SetTrans(const float* d);
    // s[0..2]: factors.
    void SetScale(const float* s);
    // p[0..2]: axis direction, p[3..5]: a point on the axis, p[6]: angle in radians.
    // An axis of length 1e-6 or less gives the identity.
    void SetRotate(const float* p);

    // Applies the transformation to one point in place.
    void Trans(float& x, float& y, float& z) const;
    // The same in double arithmetic (the parameters are those stored).
    void Trans(double& x, double& y, double& z) const;

    int GetKind() const { return m_kind; }
    const float (&GetMatrix() const)[4][4] { return m_matrix; }

private:
    int m_kind;
    float m_matrix[4][4];
};

// One transformation defined by the deck: its id and its elementary transformations in the
// order of the card's option lines. A plain value: copy and store it freely.
class KeyTransform {
public:
    // Id 0 is the empty transformation, which leaves every point unchanged.
    explicit KeyTransform(int id = 0) : m_id(id) {}

    int GetId() const { return m_id; }
    void Add(const CsTransform& t) { m_list.push_back(t); }
    const std::vector<CsTransform>& GetList() const { return m_list; }
    bool IsEmpty() const { return m_list.empty(); }

    // With a positive id, applies every elementary transformation in order (the first option
    // line first); otherwise does nothing.
    void Trans(float& x, float& y, float& z) const;
    void Trans(double& x, double& y, double& z) const;

private:
    int m_id;
    std::vector<CsTransform> m_list;
};

void SetMat4x4Identity(float m[4][4]);
// Replaces b by the product a x b.
void MultiplyMat4x4(const float a[4][4], float b[4][4]);
// Rotation by angle (radians) about the axis through point; the axis is second itself when
// second_is_direction is non-zero, otherwise second - point. An axis of length 1e-6 or less
// leaves m the identity.
void SetRotateMat4x4(const float* point, const float* second, float angle, float m[4][4],
                     int second_is_direction);
// Normalises v[0..2] in place; a vector shorter than 1e-6 becomes (0, 0, 1).
void geUnit(float* v);

#endif // QDSFILE_TRANSFORM_H
