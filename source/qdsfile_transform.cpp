#include "qdsfile_transform.h"

#include <cmath>

namespace {

// A rotation axis or a vector to normalise must be longer than this.
constexpr float kTolAxis = 1e-6f;

void SetTranslateMat4x4(float dx, float dy, float dz, float m[4][4])
{
    SetMat4x4Identity(m);
    m[0][3] = dx;
    m[1][3] = dy;
    m[2][3] = dz;
}

} // namespace

void SetMat4x4Identity(float m[4][4])
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = (r == c) ? 1.0f : 0.0f;
}

void MultiplyMat4x4(const float a[4][4], float b[4][4])
{
    float p[4][4];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            p[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c] + a[r][3] * b[3][c];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            b[r][c] = p[r][c];
}

void SetRotateMat4x4(const float* point, const float* second, float angle, float m[4][4],
                     int second_is_direction)
{
    SetMat4x4Identity(m);
    float u[3];
    for (int i = 0; i < 3; ++i)
        u[i] = second_is_direction ? second[i] : second[i] - point[i];
    const float len = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    if (len <= kTolAxis)
        return;
    const float ux = u[0] / len;
    const float uy = u[1] / len;
    const float uz = u[2] / len;
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    const float t = 1.0f - c;

    // Move the point to the origin, rotate about the unit axis there, move it back.
    SetTranslateMat4x4(-point[0], -point[1], -point[2], m);
    float r[4][4];
    SetMat4x4Identity(r);
    r[0][0] = ux * ux * t + c;
    r[0][1] = ux * uy * t - uz * s;
    r[0][2] = uy * s + ux * uz * t;
    r[1][0] = uz * s + uy * ux * t;
    r[1][1] = uy * uy * t + c;
    r[1][2] = uy * uz * t - ux * s;
    r[2][0] = uz * ux * t - uy * s;
    r[2][1] = ux * s + uz * uy * t;
    r[2][2] = uz * uz * t + c;
    MultiplyMat4x4(r, m);
    float back[4][4];
    SetTranslateMat4x4(point[0], point[1], point[2], back);
    MultiplyMat4x4(back, m);
}

void geUnit(float* v)
{
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len < kTolAxis) {
        v[0] = 0.0f;
        v[1] = 0.0f;
        v[2] = 1.0f;
        return;
    }
    v[0] /= len;
    v[1] /= len;
    v[2] /= len;
}

CsTransform::CsTransform() : m_kind(kTranslation)
{
    SetMat4x4Identity(m_matrix);
}

void CsTransform::SetTrans(const float* d)
{
    m_kind = kTranslation;
    SetTranslateMat4x4(d[0], d[1], d[2], m_matrix);
}

void CsTransform::SetScale(const float* s)
{
    m_kind = kScaling;
    SetMat4x4Identity(m_matrix);
    m_matrix[3][0] = s[0];
    m_matrix[3][1] = s[1];
    m_matrix[3][2] = s[2];
}

void CsTransform::SetRotate(const float* p)
{
    m_kind = kRotation;
    SetRotateMat4x4(p + 3, p, p[6], m_matrix, 1);
}

namespace {

template <class Real>
void Apply(int kind, const float (&m)[4][4], Real& x, Real& y, Real& z)
{
    switch (kind) {
    case CsTransform::kTranslation:
        x += m[0][3];
        y += m[1][3];
        z += m[2][3];
        break;
    case CsTransform::kScaling:
        x *= m[3][0];
        y *= m[3][1];
        z *= m[3][2];
        break;
    case CsTransform::kRotation: {
        const Real nx = m[0][0] * x + m[0][1] * y + m[0][2] * z + m[0][3];
        const Real ny = m[1][0] * x + m[1][1] * y + m[1][2] * z + m[1][3];
        const Real nz = m[2][0] * x + m[2][1] * y + m[2][2] * z + m[2][3];
        x = nx;
        y = ny;
        z = nz;
        break;
    }
    default:
        break;
    }
}

}  // namespace

void CsTransform::Trans(float& x, float& y, float& z) const { Apply(m_kind, m_matrix, x, y, z); }

void CsTransform::Trans(double& x, double& y, double& z) const { Apply(m_kind, m_matrix, x, y, z); }

void KeyTransform::Trans(float& x, float& y, float& z) const
{
    if (m_id <= 0)
        return;
    for (const CsTransform& t : m_list)
        t.Trans(x, y, z);
}

void KeyTransform::Trans(double& x, double& y, double& z) const
{
    if (m_id <= 0)
        return;
    for (const CsTransform& t : m_list)
        t.Trans(x, y, z);
}
