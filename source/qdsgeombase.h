// Geometric value types of the cutting code: points, vectors, coordinate systems and lines
// in 2D and 3D. All coordinates are doubles in the length unit of the deck's node coordinates.
//
// The types own no memory and have no virtual operations; they are passed by reference and
// returned by value. Their tolerances are absolute and fixed (see the constants below); the
// cutting code relies on them, so they must not become relative.
//
// Layout of this header (grows with the module):
//   1. tolerances
//   2. points and vectors (gmPnt2D, gmPnt3D, gmVec2D, gmVec3D)
//   3. coordinate system (gmCrdSys)
//   4. lines (gmLin2D, gmLin3D)
//   5. inline definitions of the operations that sit on hot paths
//   6. element geometry: mesh edge, intersection point, element (gmEdge, gmItrPt, gmElemt)

#ifndef QDSGEOMBASE_H
#define QDSGEOMBASE_H

#include <cassert>
#include <cmath>
#include <vector>

class gmPnt2D;
class gmPnt3D;
class gmVec2D;
class gmVec3D;
class gmCrdSys;
class gmLin2D;
class gmLin3D;
class CsDataElem;

// ---------------------------------------------------------------------------------------------
// 1. Tolerances (absolute, model length units or their squares)
// ---------------------------------------------------------------------------------------------

// Normalize/IsZero: a vector no longer than this has no direction.
constexpr double gmTolLength = 1e-4;
// Line SqrDist: a direction counts only if its squared length exceeds this.
constexpr double gmTolSqrDirection = 1e-4;
// Line Distance: a squared distance up to this reads as 0 (distances up to 0.01).
constexpr double gmTolSqrDistance = 1e-4;
// MinDst: a segment whose squared length is at most this is a point.
constexpr double gmTolSqrSegment = 1e-6;
// LineInterLine/SegmtInterSegmt: parallel when the squared sine of the angle is at most this.
constexpr double gmTolSqrSine = 1e-4;
// SegmtInterSegmt: parameter windows, both bounds inclusive.
constexpr double gmTolParamLow = 1e-4;
constexpr double gmTolParamHighThis = 1.0002;
constexpr double gmTolParamHighOther = 1.0001;
// SegmtInterSegmt: parallel segments overlap when their lines are at most this far apart.
constexpr double gmTolCollinear = 0.01;

// ---------------------------------------------------------------------------------------------
// 2. Points and vectors
// ---------------------------------------------------------------------------------------------

class gmPnt2D {
public:
    constexpr gmPnt2D() : m_x(0.0), m_y(0.0) {}
    constexpr gmPnt2D(double x, double y) : m_x(x), m_y(y) {}
    explicit gmPnt2D(const float* a) : m_x(a[0]), m_y(a[1]) {}
    explicit gmPnt2D(const double* a) : m_x(a[0]), m_y(a[1]) {}
    // Drops z.
    explicit gmPnt2D(const gmPnt3D& p);
    explicit gmPnt2D(const gmVec2D& v);

    void Set(double x, double y) { m_x = x; m_y = y; }
    void Set(const float* a) { m_x = a[0]; m_y = a[1]; }
    void Set(const double* a) { m_x = a[0]; m_y = a[1]; }
    void SetX(double x) { m_x = x; }
    void SetY(double y) { m_y = y; }

    double x() const { return m_x; }
    double y() const { return m_y; }
    double& x() { return m_x; }
    double& y() { return m_y; }
    double operator[](int i) const;
    double& operator[](int i);

    // Writes the two components to an array.
    void AsPoint(float* a) const { a[0] = static_cast<float>(m_x); a[1] = static_cast<float>(m_y); }
    void AsPoint(double* a) const { a[0] = m_x; a[1] = m_y; }
    gmVec2D AsVector() const;
    gmPnt3D AsPnt3D() const;

    gmPnt2D& operator+=(const gmVec2D& v);
    gmPnt2D& operator-=(const gmVec2D& v);
    gmPnt2D& operator*=(double f) { m_x *= f; m_y *= f; return *this; }
    gmPnt2D& operator/=(double f) { m_x /= f; m_y /= f; return *this; }
    gmPnt2D operator+(const gmVec2D& v) const;
    gmPnt2D operator-(const gmVec2D& v) const;
    // Component sum (used for midpoints and centroids).
    gmPnt2D operator+(const gmPnt2D& p) const { return gmPnt2D(m_x + p.m_x, m_y + p.m_y); }
    gmVec2D operator-(const gmPnt2D& p) const;
    gmPnt2D operator*(double f) const { return gmPnt2D(m_x * f, m_y * f); }
    gmPnt2D operator/(double f) const { return gmPnt2D(m_x / f, m_y / f); }

    void Reverse() { m_x = -m_x; m_y = -m_y; }
    gmPnt2D Reversed() const { return gmPnt2D(-m_x, -m_y); }

    double SqrModulus() const { return m_x * m_x + m_y * m_y; }
    double Modulus() const { return std::sqrt(SqrModulus()); }
    double SqrDst(const gmPnt2D& p) const;
    double DistTo(const gmPnt2D& p) const { return std::sqrt(SqrDst(p)); }
    // Distance to the infinite line (0 within 0.01 of it).
    double DistTo(const gmLin2D& line) const;
    // Distance to the infinite line through p1 and p2 (0 within 0.01 of it).
    double DistTo(const gmPnt2D& p1, const gmPnt2D& p2) const;
    // Distance to the segment p1-p2.
    double MinDst(const gmPnt2D& p1, const gmPnt2D& p2) const;

private:
    double m_x;
    double m_y;
};

class gmPnt3D {
public:
    constexpr gmPnt3D() : m_x(0.0), m_y(0.0), m_z(0.0) {}
    constexpr gmPnt3D(double x, double y, double z) : m_x(x), m_y(y), m_z(z) {}
    explicit gmPnt3D(const float* a) : m_x(a[0]), m_y(a[1]), m_z(a[2]) {}
    explicit gmPnt3D(const double* a) : m_x(a[0]), m_y(a[1]), m_z(a[2]) {}
    // z = 0.
    explicit gmPnt3D(const gmPnt2D& p) : m_x(p.x()), m_y(p.y()), m_z(0.0) {}
    explicit gmPnt3D(const gmVec3D& v);

    void Set(double x, double y, double z) { m_x = x; m_y = y; m_z = z; }
    void Set(const float* a) { m_x = a[0]; m_y = a[1]; m_z = a[2]; }
    void Set(const double* a) { m_x = a[0]; m_y = a[1]; m_z = a[2]; }
    void SetX(double x) { m_x = x; }
    void SetY(double y) { m_y = y; }
    void SetZ(double z) { m_z = z; }

    double x() const { return m_x; }
    double y() const { return m_y; }
    double z() const { return m_z; }
    double& x() { return m_x; }
    double& y() { return m_y; }
    double& z() { return m_z; }
    double operator[](int i) const;
    double& operator[](int i);

    // Writes the three components to an array.
    void AsPoint(float* a) const
    {
        a[0] = static_cast<float>(m_x);
        a[1] = static_cast<float>(m_y);
        a[2] = static_cast<float>(m_z);
    }
    void AsPoint(double* a) const { a[0] = m_x; a[1] = m_y; a[2] = m_z; }
    gmVec3D AsVector() const;
    gmPnt2D AsPnt2D() const { return gmPnt2D(m_x, m_y); }

    gmPnt3D& operator+=(const gmVec3D& v);
    gmPnt3D& operator-=(const gmVec3D& v);
    gmPnt3D& operator*=(double f) { m_x *= f; m_y *= f; m_z *= f; return *this; }
    gmPnt3D& operator/=(double f) { m_x /= f; m_y /= f; m_z /= f; return *this; }
    gmPnt3D operator+(const gmVec3D& v) const;
    gmPnt3D operator-(const gmVec3D& v) const;
    // Component sum (used for midpoints and centroids).
    gmPnt3D operator+(const gmPnt3D& p) const { return gmPnt3D(m_x + p.m_x, m_y + p.m_y, m_z + p.m_z); }
    gmVec3D operator-(const gmPnt3D& p) const;
    gmPnt3D operator*(double f) const { return gmPnt3D(m_x * f, m_y * f, m_z * f); }
    gmPnt3D operator/(double f) const { return gmPnt3D(m_x / f, m_y / f, m_z / f); }

    void Reverse() { m_x = -m_x; m_y = -m_y; m_z = -m_z; }
    gmPnt3D Reversed() const { return gmPnt3D(-m_x, -m_y, -m_z); }

    double SqrModulus() const { return m_x * m_x + m_y * m_y + m_z * m_z; }
    double Modulus() const { return std::sqrt(SqrModulus()); }
    double SqrDst(const gmPnt3D& p) const;
    double DistTo(const gmPnt3D& p) const { return std::sqrt(SqrDst(p)); }
    // Distance to the infinite line (0 within 0.01 of it).
    double DistTo(const gmLin3D& line) const;
    // Distance to the infinite line through p1 and p2 (0 within 0.01 of it).
    double DistTo(const gmPnt3D& p1, const gmPnt3D& p2) const;
    // Distance to the segment p1-p2.
    double MinDst(const gmPnt3D& p1, const gmPnt3D& p2) const;

    // Projection on the axes of cs: (p.U, p.V, p.W). The origin of cs is NOT subtracted;
    // callers that want coordinates relative to it subtract it first.
    void AsUcs(const gmCrdSys& cs);
    gmPnt3D InUcs(const gmCrdSys& cs) const;

private:
    double m_x;
    double m_y;
    double m_z;
};

class gmVec2D {
public:
    constexpr gmVec2D() : m_c(1.0, 0.0) {}
    constexpr gmVec2D(double x, double y) : m_c(x, y) {}
    explicit gmVec2D(const float* a) : m_c(a) {}
    explicit gmVec2D(const double* a) : m_c(a) {}
    explicit gmVec2D(const gmPnt2D& p) : m_c(p) {}
    // Drops z.
    explicit gmVec2D(const gmVec3D& v);

    void Set(double x, double y) { m_c.Set(x, y); }
    void Set(const float* a) { m_c.Set(a); }
    void Set(const double* a) { m_c.Set(a); }
    void SetX(double x) { m_c.SetX(x); }
    void SetY(double y) { m_c.SetY(y); }

    double x() const { return m_c.x(); }
    double y() const { return m_c.y(); }
    double& x() { return m_c.x(); }
    double& y() { return m_c.y(); }
    double operator[](int i) const { return m_c[i]; }
    double& operator[](int i) { return m_c[i]; }
    const gmPnt2D& Coord() const { return m_c; }

    gmPnt2D AsPoint() const { return m_c; }
    void AsPoint(float* a) const { m_c.AsPoint(a); }
    void AsPoint(double* a) const { m_c.AsPoint(a); }

    gmVec2D& operator+=(const gmVec2D& v) { m_c.x() += v.x(); m_c.y() += v.y(); return *this; }
    gmVec2D& operator-=(const gmVec2D& v) { m_c.x() -= v.x(); m_c.y() -= v.y(); return *this; }
    gmVec2D& operator*=(double f) { m_c *= f; return *this; }
    gmVec2D& operator/=(double f) { m_c /= f; return *this; }
    gmVec2D operator+(const gmVec2D& v) const { return gmVec2D(x() + v.x(), y() + v.y()); }
    gmVec2D operator-(const gmVec2D& v) const { return gmVec2D(x() - v.x(), y() - v.y()); }
    gmVec2D operator-() const { return gmVec2D(-x(), -y()); }
    gmVec2D operator*(double f) const { return gmVec2D(x() * f, y() * f); }
    gmVec2D operator/(double f) const { return gmVec2D(x() / f, y() / f); }

    void Reverse() { m_c.Reverse(); }
    gmVec2D Reversed() const { return -*this; }

    double SqrLen() const { return m_c.SqrModulus(); }
    double Length() const { return m_c.Modulus(); }
    bool IsZero() const { return Length() < gmTolLength; }
    // A vector no longer than 1e-4 becomes (0, 0); no error.
    void Normalize();
    gmVec2D Normalized() const { gmVec2D v(*this); v.Normalize(); return v; }

    double Dot(const gmVec2D& v) const { return x() * v.x() + y() * v.y(); }
    double operator*(const gmVec2D& v) const { return Dot(v); }
    // Scalar cross product a.x*b.y - a.y*b.x.
    double Cross(const gmVec2D& v) const { return x() * v.y() - y() * v.x(); }
    double operator^(const gmVec2D& v) const { return Cross(v); }

private:
    gmPnt2D m_c;
};

class gmVec3D {
public:
    // (1,0,0), (0,1,0), (0,0,1) and (0,0,0); constant-initialised, so usable during static
    // initialisation of other modules.
    static const gmVec3D AxisX;
    static const gmVec3D AxisY;
    static const gmVec3D AxisZ;
    static const gmVec3D ZeroV;

    constexpr gmVec3D() : m_c(0.0, 0.0, 1.0) {}
    constexpr gmVec3D(double x, double y, double z) : m_c(x, y, z) {}
    explicit gmVec3D(const float* a) : m_c(a) {}
    explicit gmVec3D(const double* a) : m_c(a) {}
    explicit gmVec3D(const gmPnt3D& p) : m_c(p) {}
    // z = 0.
    explicit gmVec3D(const gmVec2D& v) : m_c(v.x(), v.y(), 0.0) {}

    void Set(double x, double y, double z) { m_c.Set(x, y, z); }
    void Set(const float* a) { m_c.Set(a); }
    void Set(const double* a) { m_c.Set(a); }
    void SetX(double x) { m_c.SetX(x); }
    void SetY(double y) { m_c.SetY(y); }
    void SetZ(double z) { m_c.SetZ(z); }

    double x() const { return m_c.x(); }
    double y() const { return m_c.y(); }
    double z() const { return m_c.z(); }
    double& x() { return m_c.x(); }
    double& y() { return m_c.y(); }
    double& z() { return m_c.z(); }
    double operator[](int i) const { return m_c[i]; }
    double& operator[](int i) { return m_c[i]; }
    const gmPnt3D& Coord() const { return m_c; }

    gmPnt3D AsPoint() const { return m_c; }
    void AsPoint(float* a) const { m_c.AsPoint(a); }
    void AsPoint(double* a) const { m_c.AsPoint(a); }

    gmVec3D& operator+=(const gmVec3D& v)
    {
        m_c.x() += v.x(); m_c.y() += v.y(); m_c.z() += v.z();
        return *this;
    }
    gmVec3D& operator-=(const gmVec3D& v)
    {
        m_c.x() -= v.x(); m_c.y() -= v.y(); m_c.z() -= v.z();
        return *this;
    }
    gmVec3D& operator*=(double f) { m_c *= f; return *this; }
    gmVec3D& operator/=(double f) { m_c /= f; return *this; }
    gmVec3D operator+(const gmVec3D& v) const { return gmVec3D(x() + v.x(), y() + v.y(), z() + v.z()); }
    gmVec3D operator-(const gmVec3D& v) const { return gmVec3D(x() - v.x(), y() - v.y(), z() - v.z()); }
    gmVec3D operator-() const { return gmVec3D(-x(), -y(), -z()); }
    gmVec3D operator*(double f) const { return gmVec3D(x() * f, y() * f, z() * f); }
    gmVec3D operator/(double f) const { return gmVec3D(x() / f, y() / f, z() / f); }

    void Reverse() { m_c.Reverse(); }
    gmVec3D Reversed() const { return -*this; }

    double SqrLen() const { return m_c.SqrModulus(); }
    double Length() const { return m_c.Modulus(); }
    bool IsZero() const { return Length() < gmTolLength; }
    // A vector no longer than 1e-4 becomes (0, 0, 0); no error.
    void Normalize();
    gmVec3D Normalized() const { gmVec3D v(*this); v.Normalize(); return v; }

    double Dot(const gmVec3D& v) const { return x() * v.x() + y() * v.y() + z() * v.z(); }
    double operator*(const gmVec3D& v) const { return Dot(v); }
    gmVec3D Cross(const gmVec3D& v) const
    {
        return gmVec3D(y() * v.z() - z() * v.y(), z() * v.x() - x() * v.z(), x() * v.y() - y() * v.x());
    }
    gmVec3D operator^(const gmVec3D& v) const { return Cross(v); }

    // Angle to v in radians, in [0, pi].
    double AngleWith(const gmVec3D& v) const;

private:
    gmPnt3D m_c;
};

inline gmPnt2D operator*(double f, const gmPnt2D& p) { return p * f; }
inline gmPnt3D operator*(double f, const gmPnt3D& p) { return p * f; }
inline gmVec2D operator*(double f, const gmVec2D& v) { return v * f; }
inline gmVec3D operator*(double f, const gmVec3D& v) { return v * f; }

// ---------------------------------------------------------------------------------------------
// 3. Coordinate system: three axes and an origin
// ---------------------------------------------------------------------------------------------

class gmCrdSys {
public:
    constexpr gmCrdSys() : m_u(1.0, 0.0, 0.0), m_v(0.0, 1.0, 0.0), m_w(0.0, 0.0, 1.0), m_ori() {}
    // Copies and normalises each axis (no orthogonalisation); origin (0,0,0).
    gmCrdSys(const gmVec3D& u, const gmVec3D& v, const gmVec3D& w)
        : m_u(u.Normalized()), m_v(v.Normalized()), m_w(w.Normalized()), m_ori()
    {
    }

    const gmVec3D& GetU() const { return m_u; }
    const gmVec3D& GetV() const { return m_v; }
    const gmVec3D& GetW() const { return m_w; }
    const gmPnt3D& GetOri() const { return m_ori; }
    void SetU(const gmVec3D& u) { m_u = u; }
    void SetV(const gmVec3D& v) { m_v = v; }
    void SetW(const gmVec3D& w) { m_w = w; }
    void SetOri(const gmPnt3D& ori) { m_ori = ori; }
    // Assigns the axes as given, without normalising.
    void SetUVW(const gmVec3D& u, const gmVec3D& v, const gmVec3D& w) { m_u = u; m_v = v; m_w = w; }

    // 0 = U, 1 = V, 2 = W.
    const gmVec3D& operator[](int dim) const;
    gmVec3D& operator[](int dim);

private:
    gmVec3D m_u;
    gmVec3D m_v;
    gmVec3D m_w;
    gmPnt3D m_ori;
};

// ---------------------------------------------------------------------------------------------
// 4. Lines. Built from two points p1, p2 a line keeps Location = p1 and the UNNORMALISED
//    Direction = p2 - p1, so that as a segment parameter 0 is p1 and parameter 1 is p2.
// ---------------------------------------------------------------------------------------------

class gmLin2D {
public:
    gmLin2D() = default;
    gmLin2D(const gmPnt2D& location, const gmVec2D& direction) : m_loc(location), m_dir(direction) {}
    gmLin2D(const gmPnt2D& p1, const gmPnt2D& p2) : m_loc(p1), m_dir(p2 - p1) {}

    const gmPnt2D& Location() const { return m_loc; }
    const gmVec2D& Direction() const { return m_dir; }
    void SetLocation(const gmPnt2D& p) { m_loc = p; }
    void SetDirection(const gmVec2D& d) { m_dir = d; }

    // Squared distance of p to the infinite line; a direction with squared length <= 1e-4 is
    // ignored and the distance to Location is taken.
    double SqrDist(const gmPnt2D& p) const;
    // Distance of p to the infinite line; squared distances up to 1e-4 read as exactly 0.
    double Distance(const gmPnt2D& p) const;

    // Intersection of the two infinite lines: 1 = crossing written to out; 0 = parallel and
    // distinct (or other has no direction); 2 = the lines coincide (out not written).
    int LineInterLine(const gmLin2D& other, gmPnt2D& out) const;
    // Both lines read as segments Location..Location+Direction. 1 = they meet at out, 0 = not.
    // A crossing at this segment's start is not reported; one at its end is. Collinear
    // overlapping segments report this segment's end point when it lies inside the other.
    int SegmtInterSegmt(const gmLin2D& other, gmPnt2D& out) const;
    int SegmtInterSegmt(const gmPnt2D& p1, const gmPnt2D& p2, gmPnt2D& out) const;

private:
    gmPnt2D m_loc;
    gmVec2D m_dir;
};

class gmLin3D {
public:
    gmLin3D() = default;
    gmLin3D(const gmPnt3D& location, const gmVec3D& direction) : m_loc(location), m_dir(direction) {}
    gmLin3D(const gmPnt3D& p1, const gmPnt3D& p2) : m_loc(p1), m_dir(p2 - p1) {}

    const gmPnt3D& Location() const { return m_loc; }
    const gmVec3D& Direction() const { return m_dir; }
    void SetLocation(const gmPnt3D& p) { m_loc = p; }
    void SetDirection(const gmVec3D& d) { m_dir = d; }

    // As gmLin2D::SqrDist / gmLin2D::Distance.
    double SqrDist(const gmPnt3D& p) const;
    double Distance(const gmPnt3D& p) const;

private:
    gmPnt3D m_loc;
    gmVec3D m_dir;
};

// ---------------------------------------------------------------------------------------------
// 5. Inline definitions
// ---------------------------------------------------------------------------------------------

inline gmPnt2D::gmPnt2D(const gmPnt3D& p) : m_x(p.x()), m_y(p.y()) {}
inline gmPnt2D::gmPnt2D(const gmVec2D& v) : m_x(v.x()), m_y(v.y()) {}
inline gmPnt3D::gmPnt3D(const gmVec3D& v) : m_x(v.x()), m_y(v.y()), m_z(v.z()) {}
inline gmVec2D::gmVec2D(const gmVec3D& v) : m_c(v.x(), v.y()) {}

inline double gmPnt2D::operator[](int i) const
{
    assert(i >=0 && i <= 1);
    return i == 0 ? m_x : m_y;
}
inline double& gmPnt2D::operator[](int i)
{
    assert(i >=0 && i <= 1);
    return i == 0 ? m_x : m_y;
}
inline double gmPnt3D::operator[](int i) const
{
    assert(i >=0 && i <= 2);
    return i == 0 ? m_x : (i == 1 ? m_y : m_z);
}
inline double& gmPnt3D::operator[](int i)
{
    assert(i >=0 && i <= 2);
    return i == 0 ? m_x : (i == 1 ? m_y : m_z);
}

inline gmVec2D gmPnt2D::AsVector() const { return gmVec2D(m_x, m_y); }
inline gmPnt3D gmPnt2D::AsPnt3D() const { return gmPnt3D(m_x, m_y, 0.0); }
inline gmVec3D gmPnt3D::AsVector() const { return gmVec3D(m_x, m_y, m_z); }

inline gmPnt2D& gmPnt2D::operator+=(const gmVec2D& v) { m_x += v.x(); m_y += v.y(); return *this; }
inline gmPnt2D& gmPnt2D::operator-=(const gmVec2D& v) { m_x -= v.x(); m_y -= v.y(); return *this; }
inline gmPnt2D gmPnt2D::operator+(const gmVec2D& v) const { return gmPnt2D(m_x + v.x(), m_y + v.y()); }
inline gmPnt2D gmPnt2D::operator-(const gmVec2D& v) const { return gmPnt2D(m_x - v.x(), m_y - v.y()); }
inline gmVec2D gmPnt2D::operator-(const gmPnt2D& p) const { return gmVec2D(m_x - p.m_x, m_y - p.m_y); }
inline double gmPnt2D::SqrDst(const gmPnt2D& p) const { return (*this - p).SqrLen(); }

inline gmPnt3D& gmPnt3D::operator+=(const gmVec3D& v)
{
    m_x += v.x(); m_y += v.y(); m_z += v.z();
    return *this;
}
inline gmPnt3D& gmPnt3D::operator-=(const gmVec3D& v)
{
    m_x -= v.x(); m_y -= v.y(); m_z -= v.z();
    return *this;
}
inline gmPnt3D gmPnt3D::operator+(const gmVec3D& v) const { return gmPnt3D(m_x + v.x(), m_y + v.y(), m_z + v.z()); }
inline gmPnt3D gmPnt3D::operator-(const gmVec3D& v) const { return gmPnt3D(m_x - v.x(), m_y - v.y(), m_z - v.z()); }
inline gmVec3D gmPnt3D::operator-(const gmPnt3D& p) const { return gmVec3D(m_x - p.m_x, m_y - p.m_y, m_z - p.m_z); }
inline double gmPnt3D::SqrDst(const gmPnt3D& p) const { return (*this - p).SqrLen(); }

inline void gmVec2D::Normalize()
{
    const double len = Length();
    if (len > gmTolLength)
        m_c /= len;
    else
        m_c.Set(0.0, 0.0);
}
inline void gmVec3D::Normalize()
{
    const double len = Length();
    if (len > gmTolLength)
        m_c /= len;
    else
        m_c.Set(0.0, 0.0, 0.0);
}

inline const gmVec3D& gmCrdSys::operator[](int dim) const
{
    assert(dim >=0 && dim <= 2);
    return dim == 0 ? m_u : (dim == 1 ? m_v : m_w);
}
inline gmVec3D& gmCrdSys::operator[](int dim)
{
    assert(dim >=0 && dim <= 2);
    return dim == 0 ? m_u : (dim == 1 ? m_v : m_w);
}

inline double gmLin2D::SqrDist(const gmPnt2D& p) const
{
    const gmVec2D w = p - m_loc;
    const double dd = m_dir.SqrLen();
    if (dd > gmTolSqrDirection) {
        const double c = w.Cross(m_dir);
        return c * c / dd;
    }
    return w.SqrLen();
}
inline double gmLin2D::Distance(const gmPnt2D& p) const
{
    const double sq = SqrDist(p);
    return sq > gmTolSqrDistance ? std::sqrt(sq) : 0.0;
}
inline double gmLin3D::SqrDist(const gmPnt3D& p) const
{
    const gmVec3D w = p - m_loc;
    const double dd = m_dir.SqrLen();
    if (dd > gmTolSqrDirection)
        return w.Cross(m_dir).SqrLen() / dd;
    return w.SqrLen();
}
inline double gmLin3D::Distance(const gmPnt3D& p) const
{
    const double sq = SqrDist(p);
    return sq > gmTolSqrDistance ? std::sqrt(sq) : 0.0;
}

inline double gmPnt2D::DistTo(const gmLin2D& line) const { return line.Distance(*this); }
inline double gmPnt2D::DistTo(const gmPnt2D& p1, const gmPnt2D& p2) const { return gmLin2D(p1, p2).Distance(*this); }
inline double gmPnt3D::DistTo(const gmLin3D& line) const { return line.Distance(*this); }
inline double gmPnt3D::DistTo(const gmPnt3D& p1, const gmPnt3D& p2) const { return gmLin3D(p1, p2).Distance(*this); }

inline gmPnt3D gmPnt3D::InUcs(const gmCrdSys& cs) const
{
    const gmVec3D p = AsVector();
    return gmPnt3D(p.Dot(cs.GetU()), p.Dot(cs.GetV()), p.Dot(cs.GetW()));
}
inline void gmPnt3D::AsUcs(const gmCrdSys& cs) { *this = InUcs(cs); }

// ---------------------------------------------------------------------------------------------
// 6. Element geometry. Node and element numbers are the model's 1-based indices.
// ---------------------------------------------------------------------------------------------

// Index of "no node" / "no element".
constexpr int gmNoIndex = 0;

// Element::LineInterLine: parallel when the squared sine of the angle is at most this (about
// 1.8 degrees, looser than the lines' own test).
constexpr double gmTolSqrSineElem = 1e-3;
// Element::Project: slack on lengths and on the fan-triangle parameter.
constexpr double gmTolProject = 1e-3;

// One mesh edge: its two nodes, their positions in the element's node list and the elements
// on either side.
class gmEdge {
public:
    gmEdge() = default;
    gmEdge(int fstNode, int endNode, int fstIdx, int endIdx)
        : m_fstNode(fstNode), m_endNode(endNode), m_fstIdx(fstIdx), m_endIdx(endIdx)
    {
    }

    void SetFstNode(int node) { m_fstNode = node; }
    void SetFstNode(int node, int idx) { m_fstNode = node; m_fstIdx = idx; }
    void SetEndNode(int node) { m_endNode = node; }
    void SetEndNode(int node, int idx) { m_endNode = node; m_endIdx = idx; }
    void SetFstElemt(int e) { m_fstElemt = e; }
    void SetSecElemt(int e) { m_secElemt = e; }

    int GetFstNode() const { return m_fstNode; }
    int GetEndNode() const { return m_endNode; }
    int GetFstIdx() const { return m_fstIdx; }
    int GetEndIdx() const { return m_endIdx; }
    int GetFstElemt() const { return m_fstElemt; }
    int GetSecElemt() const { return m_secElemt; }

    // The first call fills the first side, every later one the second.
    void AddElemnt(int e)
    {
        if (m_fstElemt == gmNoIndex)
            m_fstElemt = e;
        else
            m_secElemt = e;
    }

    // The same two nodes in either order; positions and elements do not count.
    bool operator==(const gmEdge& o) const
    {
        return (m_fstNode == o.m_fstNode && m_endNode == o.m_endNode) ||
               (m_fstNode == o.m_endNode && m_endNode == o.m_fstNode);
    }
    bool operator!=(const gmEdge& o) const { return !(*this == o); }

private:
    int m_fstNode = gmNoIndex;
    int m_endNode = gmNoIndex;
    int m_fstIdx = 0;
    int m_endIdx = 0;
    int m_fstElemt = gmNoIndex;
    int m_secElemt = gmNoIndex;
};

// One point where a trim line crosses a mesh edge.
class gmItrPt {
public:
    enum State { Still = 0, ToMove = 1, Moved = 2 };

    gmItrPt() = default;
    gmItrPt(const gmPnt3D& point, int lineIdx) : m_point(point), m_lineIdx(lineIdx) {}
    gmItrPt(const float* xyz, int element, int lineIdx) : m_point(xyz), m_lineIdx(lineIdx)
    {
        m_edge.AddElemnt(element);
    }

    const gmPnt3D& GetPoint() const { return m_point; }
    void GetPoint(float* xyz) const { m_point.AsPoint(xyz); }
    void SetPoint(const gmPnt3D& p) { m_point = p; }

    const gmEdge& GetEdge() const { return m_edge; }
    void SetEdge(const gmEdge& e) { m_edge = e; }
    void SetEdgeNode(int fstNode, int endNode) { m_edge.SetFstNode(fstNode); m_edge.SetEndNode(endNode); }
    int GetFstElemt() const { return m_edge.GetFstElemt(); }
    int GetSecElemt() const { return m_edge.GetSecElemt(); }
    void SetFstElemt(int e) { m_edge.SetFstElemt(e); }
    void SetSecElemt(int e) { m_edge.SetSecElemt(e); }
    void AddElement(int e) { m_edge.AddElemnt(e); }

    int GetNode() const { return m_node; }
    void SetNode(int node) { m_node = node; }
    // The model node at the point, created on the first call.
    int AddNode();

    int GetState() const { return m_state; }
    void SetState(int s) { m_state = s < Still ? Still : (s > Moved ? Moved : s); }
    bool IsStill() const { return m_state == Still; }
    bool IsToMove() const { return m_state == ToMove; }
    bool IsMoved() const { return m_state == Moved; }

    int GetLineIdx() const { return m_lineIdx; }
    void SetLineIdx(int idx) { m_lineIdx = idx; }
    bool IsValid() const { return m_lineIdx >= 0; }

    int IsOnEdge() const { return m_onEdge; }
    void SetOnEdge(int onEdge) { m_onEdge = onEdge; }

    // The same trim-line segment on the same mesh edge; the coordinates do not count.
    bool operator==(const gmItrPt& o) const
    {
        return this == &o || (m_lineIdx == o.m_lineIdx && m_edge == o.m_edge);
    }
    bool operator!=(const gmItrPt& o) const { return !(*this == o); }

private:
    gmPnt3D m_point;
    gmEdge m_edge;
    int m_node = gmNoIndex;
    int m_state = Still;
    int m_lineIdx = -1;
    int m_onEdge = 1;
};

// The geometry of one shell element: its vertices in global coordinates and in a local frame
// of the element's own plane. Both vertex sequences repeat the first vertex at the end, so
// edge k runs from entry k - 1 to entry k for k = 1 .. n.
class gmElemt {
public:
    // Reads the element and its node coordinates from the model.
    explicit gmElemt(int element);
    // An element given by its own record and vertex positions, without the model: pieces that
    // are planned before they are added, and tests. vertices holds one point per node.
    gmElemt(int element, int part, const std::vector<int>& nodes, const std::vector<gmPnt3D>& vertices);

    // Takes another element of the model (the part and node list are not re-read).
    void SetElement(int element);

    int GetElemID() const { return m_element; }
    void SetInnOut(int v) { m_innOut = v > 0 ? 1 : 0; }
    bool IsInner() const { return m_innOut == 0; }

    int GetPartID() const { return m_part; }
    int GetNodNum() const { return static_cast<int>(m_nodes.size()); }
    // Throws CsErrorIndex for a position outside 0 .. n - 1.
    int GetNode(int i) const;
    // Copies the n node numbers; returns n.
    int GetAllNode(int* out) const;
    const std::vector<int>& GetNodeArr() const { return m_nodes; }
    // The element's record as it was copied (part, id, type and node list).
    CsDataElem GetDataElem() const;

    const std::vector<gmPnt3D>& GetVtxArr() const { return m_vtxArr; }
    const std::vector<gmPnt3D>& GetUcsVtxArr() const { return m_ucsVtxArr; }
    // Vertex i, 0 .. n - 1, in global or local coordinates; throws CsErrorIndex otherwise.
    const gmPnt3D& GetVertex(int i) const;
    const gmPnt3D& GetUcsVtx(int i) const;
    // Moves vertex i here and in the model; the repeated last entry and the local vertices
    // are left as they are.
    void SetVertex(const gmPnt3D& p, int i);
    // Redefines the element in the model (2 to 8 nodes); this object is not updated.
    void ResetElement(int part, const int* nodes, int count) const;

    bool IsShell() const { return GetNodNum() == 3 || GetNodNum() == 4; }

    // Mean of the n + 1 vertex entries: the first vertex counts twice.
    gmPnt3D GetMidPt() const;
    void GetMidPt(gmPnt3D& out) const { out = GetMidPt(); }

    // Builds the element's own frame (W the normal, origin the mid point) and the local
    // vertices; 1 on success, 0 for fewer than 3 nodes. A frame already set is kept.
    int MakeLcs();
    // Uses the given frame instead (the trim plane of a 2D cut line).
    void SetUcs(const gmCrdSys& cs);
    const gmCrdSys& GetUcs() const { return m_ucs; }
    bool HasUcs() const { return m_ucsMade != 0; }

    // Drops p onto the element through the fan of triangles from vertex 0, so that a warped
    // quadrilateral is followed. mode != 0: p is already in local coordinates. 1 and out on
    // success, 0 when p does not fall on the element.
    int Project(const gmPnt3D& p, gmPnt3D& out, int mode);

    // Intersection of the lines a-b and c-d in x and y; out follows the line a-b in z.
    // 1 = crossing, 0 = parallel (or c-d has no length), 2 = collinear.
    static int LineInterLine(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d,
                             gmPnt3D& out);

private:
    void FillVertices(const std::vector<gmPnt3D>& vertices);

    int m_element = gmNoIndex;
    int m_innOut = 0;
    int m_ucsMade = 0;
    gmCrdSys m_ucs;
    std::vector<gmPnt3D> m_vtxArr;
    std::vector<gmPnt3D> m_ucsVtxArr;
    // The copied record.
    int m_part = 0;
    int m_exid = 0;
    int m_type = 0;
    std::vector<int> m_nodes;
};

#endif // QDSGEOMBASE_H
