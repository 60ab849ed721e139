// Element geometry: the local frame, projection onto an element, and the parts of gmElemt and
// gmItrPt that read or change the model.
#include "qdsgeombase.h"

#include "qdsdatabase.h"
#include "qdstrimbase_elem.h"

#include <algorithm>
#include <cmath>

gmElemt::gmElemt(int element, int part, const std::vector<int>& nodes, const std::vector<gmPnt3D>& vertices)
    : m_element(element), m_part(part), m_nodes(nodes)
{
    FillVertices(vertices);
}

gmElemt::gmElemt(int element) : m_element(element)
{
    const CsDataElem& rec = dataManage.GetElem(element);
    m_part = rec.GetPrtid();
    m_exid = rec.GetExid();
    m_type = rec.GetType();
    m_nodes.resize(static_cast<size_t>(rec.GetNodeNum()));
    for (int k = 0; k < rec.GetNodeNum(); ++k)
        m_nodes[static_cast<size_t>(k)] = rec.GetNodeID(k);
    SetElement(element);
}

void gmElemt::SetElement(int element)
{
    m_element = element;
    std::vector<gmPnt3D> vertices;
    vertices.reserve(m_nodes.size());
    for (const int node : m_nodes)
        vertices.push_back(dataManage.GetNode(node).GetPoint());
    FillVertices(vertices);
}

CsDataElem gmElemt::GetDataElem() const
{
    return CsDataElem(m_part, m_exid, GetNodNum(), m_nodes.data(), static_cast<EleType>(m_type));
}

void gmElemt::SetVertex(const gmPnt3D& p, int i)
{
    qdxCheckElemVtx(i, GetNodNum());
    m_vtxArr[static_cast<size_t>(i)] = p;
    dataManage.SetNode(m_nodes[static_cast<size_t>(i)], p);
}

void gmElemt::ResetElement(int part, const int* nodes, int count) const
{
    if (count < 2 || count > kMaxElemNodes)
        return;
    dataManage.SetElem(part, m_element, count, nodes);
}

int gmItrPt::AddNode()
{
    if (m_node < 1)
        m_node = dataManage.AddNode(m_point);
    return m_node;
}

void gmElemt::FillVertices(const std::vector<gmPnt3D>& vertices)
{
    m_vtxArr = vertices;
    if (!m_vtxArr.empty())
        m_vtxArr.push_back(m_vtxArr.front());
    m_ucsVtxArr = m_vtxArr;
    m_ucs = gmCrdSys();
    m_ucsMade = 0;
}

int gmElemt::GetNode(int i) const
{
    qdxCheckElemNode(i, GetNodNum());
    return m_nodes[static_cast<size_t>(i)];
}

int gmElemt::GetAllNode(int* out) const
{
    std::copy(m_nodes.begin(), m_nodes.end(), out);
    return GetNodNum();
}

const gmPnt3D& gmElemt::GetVertex(int i) const
{
    qdxCheckElemVtx(i, GetNodNum());
    return m_vtxArr[static_cast<size_t>(i)];
}

const gmPnt3D& gmElemt::GetUcsVtx(int i) const
{
    qdxCheckElemVtx(i, GetNodNum());
    return m_ucsVtxArr[static_cast<size_t>(i)];
}

gmPnt3D gmElemt::GetMidPt() const
{
    if (m_vtxArr.empty())
        return gmPnt3D();
    gmPnt3D sum;
    for (const gmPnt3D& p : m_vtxArr)
        sum = sum + p;
    return sum / static_cast<double>(m_vtxArr.size());
}

int gmElemt::MakeLcs()
{
    if (m_ucsMade)
        return 1;
    const int n = GetNodNum();
    if (n < 3 || m_vtxArr.size() < 4)
        return 0;
    const std::vector<gmPnt3D>& p = m_vtxArr;
    // A quadrilateral may be warped: its diagonals give the mean plane.
    const gmVec3D a = n == 3 ? p[1] - p[0] : p[2] - p[0];
    const gmVec3D b = n == 3 ? p[2] - p[1] : p[3] - p[1];
    const gmVec3D w = a.Cross(b);
    const gmVec3D u = b.Cross(w);
    gmCrdSys cs;
    cs.SetUVW(u.Normalized(), b.Normalized(), w.Normalized());
    cs.SetOri(GetMidPt());
    SetUcs(cs);
    return 1;
}

void gmElemt::SetUcs(const gmCrdSys& cs)
{
    m_ucs = cs;
    m_ucsVtxArr.resize(m_vtxArr.size());
    for (size_t i = 0; i < m_vtxArr.size(); ++i)
        m_ucsVtxArr[i] = m_vtxArr[i].InUcs(cs);
    m_ucsMade = 1;
}

int gmElemt::LineInterLine(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d, gmPnt3D& out)
{
    const gmVec2D d1(b.x() - a.x(), b.y() - a.y());
    const gmVec2D d2(d.x() - c.x(), d.y() - c.y());
    const gmVec2D w(c.x() - a.x(), c.y() - a.y());
    const double k = d1.Cross(d2);
    const double d1d1 = d1.SqrLen();
    const double d2d2 = d2.SqrLen();
    if (k * k > gmTolSqrSineElem * d1d1 * d2d2) {
        const double t = w.Cross(d2) / k;
        out = a + (b - a) * t;
        return 1;
    }
    if (d2d2 < gmTolSqrSineElem)
        return 0;
    const double wd1 = w.Cross(d1);
    if (wd1 * wd1 > gmTolSqrSineElem * d1d1 * w.SqrLen())
        return 0;
    return 2;
}

int gmElemt::Project(const gmPnt3D& p, gmPnt3D& out, int mode)
{
    if (!MakeLcs())
        return 0;
    const gmPnt3D q = mode ? p : p.InUcs(m_ucs);
    const std::vector<gmPnt3D>& u = m_ucsVtxArr;
    const std::vector<gmPnt3D>& g = m_vtxArr;
    const int n = GetNodNum();

    gmPnt3D x;
    int found = 0;
    double s = 0.0;
    for (int k = 2; k <= n - 1 && !found; ++k) {
        const gmPnt3D& prev = u[static_cast<size_t>(k - 1)];
        const gmPnt3D& cur = u[static_cast<size_t>(k)];
        if (LineInterLine(prev, cur, u[0], q, x) != 1) {
            // The ray has no direction when q sits on vertex 0 (the normal offset counts).
            if (q.DistTo(u[0]) < gmTolProject) {
                out = g[0];
                return 1;
            }
            continue;
        }
        const double len = cur.DistTo(prev);
        const double d1 = x.DistTo(prev);
        const double d2 = x.DistTo(cur);
        if (d1 <= len + gmTolProject && d2 <= len + gmTolProject) {
            s = d1 / len;
            found = k;
        }
    }
    if (!found)
        return 0;

    // Position of q between vertex 0 and X; y when the span in x is too short to divide by.
    const bool useY = std::fabs(x.x() - u[0].x()) < 0.1;
    const double span = useY ? x.y() - u[0].y() : x.x() - u[0].x();
    if (span == 0.0)
        return 0;  // a degenerate fan triangle: nothing to fall on
    const double r = ((useY ? q.y() - u[0].y() : q.x() - u[0].x())) / span;
    if (r < -gmTolProject || r > 1.0 + gmTolProject)
        return 0;

    const gmPnt3D& gPrev = g[static_cast<size_t>(found - 1)];
    const gmPnt3D& gCur = g[static_cast<size_t>(found)];
    const gmPnt3D y = gPrev + (gCur - gPrev) * s;
    out = g[0] + (y - g[0]) * r;
    return 1;
}
