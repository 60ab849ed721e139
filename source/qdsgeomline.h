// Polylines, trim lines and the 2D and 3D cut lines: the cutting tools that the trimming and
// lancing algorithms run over the blank.
//
// A trim line holds its points twice: in global coordinates and in a local system (the trim
// plane of a 2D line, the frame of the element last examined for a 3D line). All element
// tests of a line go through the virtual operations of gmTrmLine.
#ifndef QDSGEOMLINE_H
#define QDSGEOMLINE_H

#include "qdsgeombase.h"
#include "qdxstring.h"

#include <functional>
#include <memory>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Polyline
// ---------------------------------------------------------------------------------------------

class gmPlyLine {
public:
    gmPlyLine() = default;
    explicit gmPlyLine(const std::vector<gmPnt3D>& points) : m_gmPntArr(points) {}
    virtual ~gmPlyLine() = default;
    gmPlyLine(const gmPlyLine&) = default;
    gmPlyLine& operator=(const gmPlyLine&) = default;

    // Copies the points and the distance tolerance.
    void Set(const gmPlyLine& other);

    int GetCount() const { return static_cast<int>(m_gmPntArr.size()); }
    const std::vector<gmPnt3D>& GetPntArr() const { return m_gmPntArr; }
    const gmPnt3D& GetFirst() const { return m_gmPntArr.front(); }
    const gmPnt3D& GetLast() const { return m_gmPntArr.back(); }
    const gmPnt3D& GetAt(int index) const;
    void GetAt(float* xyz, int index) const;
    // Mean of all points; (0,0,0) when empty.
    gmPnt3D GetMidPoint() const;

    void Add(const gmPnt3D& p);
    void Add(const float* xyz) { Add(gmPnt3D(xyz)); }
    void Add(const gmPlyLine& other);
    // Before position i; a negative i inserts first, i >= count appends.
    void Insert(const gmPnt3D& p, int i);
    void Insert(const float* xyz, int i) { Insert(gmPnt3D(xyz), i); }

    // Replaces point i, i clamped into the line; nothing on an empty line.
    void Set(const gmPnt3D& p, int i);
    void SetFirst(const gmPnt3D& p);
    void SetLast(const gmPnt3D& p);
    // Replaces all points; an empty sequence leaves the line as it is.
    void Set(const std::vector<gmPnt3D>& points);
    void RemoveFirst();
    void RemoveLast();
    void Reverse();

    double GetDstTol() const { return m_dstTol; }
    // Clamped into [0.01, 1.0].
    void SetDstTol(double tol);

    // Thins the points in x and y: drops points on a straight run and points closer than the
    // distance tolerance (compared with squared lengths). First and last points stay.
    virtual void SimplifyLine();

protected:
    // Counts every change of the points, so that derived caches know when they are stale.
    unsigned long Revision() const { return m_revision; }
    // Called before any change of the points.
    virtual void OnPointsChange() {}

private:
    void Changing()
    {
        OnPointsChange();
        ++m_revision;
    }

    std::vector<gmPnt3D> m_gmPntArr;
    double m_dstTol = 0.3;
    unsigned long m_revision = 0;
};

// ---------------------------------------------------------------------------------------------
// Trim line
// ---------------------------------------------------------------------------------------------

class gmTrmLine : public gmPlyLine {
public:
    enum Kind { KindNone = 0, Kind2D = 1, Kind3D = 2 };

    gmTrmLine() = default;
    // The points become the global and the local points; the flag is stored as given.
    gmTrmLine(const std::vector<gmPnt3D>& points, int flag);
    ~gmTrmLine() override = default;
    gmTrmLine(const gmTrmLine&) = default;
    gmTrmLine& operator=(const gmTrmLine&) = default;

    // Replaces the points (not the local points). The result carries no meaning.
    virtual int SetData(const std::vector<gmPnt3D>& points);
    // Bounding rectangle of the points in x and y; all 0 for an empty line.
    virtual void GetCorner(double& xmin, double& ymin, double& xmax, double& ymax) const;
    // Appends the line's crossings with the element's edges; the result carries no meaning,
    // callers read the array. The element may be given a local frame.
    virtual int InterElement(gmElemt& element, std::vector<gmItrPt>& points) = 0;
    virtual int IsIntersected(gmElemt& element);
    virtual int IsInside(gmElemt& element);

    int GetUcsCount() const;
    gmPnt3D GetUcsAt(int idx) const;
    gmPnt3D GetUcsLast() const;

    // A trim curve is closed: snapped when its ends nearly meet, else extended back to its
    // first point. A lancing curve stays open.
    void AutoClose();
    // One straight segment (points near its start are passed over).
    bool IsStraight() const;
    static bool IsItrPtInArr(const std::vector<gmItrPt>& points, const gmItrPt& point);

    double GetRatio() const { return m_ratio; }
    // Clamped into [0.2, 0.45].
    void SetRatio(double ratio);
    const CsString& GetExid() const { return m_exid; }
    void SetExid(const CsString& exid) { m_exid = exid; }
    int GetFlag() const { return m_flag; }
    // Stores the sign: 1, -1 or 0 (0 makes a lancing line).
    void SetFlag(int flag) { m_flag = flag > 0 ? 1 : (flag < 0 ? -1 : 0); }
    bool IsLancing() const { return m_flag == 0; }
    int IsAutoClosed() const { return m_autoClosed; }
    bool IsTrm2DLine() const { return m_kind == Kind2D; }
    bool IsTrm3DLine() const { return m_kind == Kind3D; }

protected:
    void SetKind(Kind kind) { m_kind = kind; }
    // Local points given in full.
    void SetUcsPntArr(std::vector<gmPnt3D> points);
    // Local point i becomes point i seen in cs, converted only when it is read.
    void SetUcsFrame(const gmCrdSys& cs);

    void OnPointsChange() override { MaterializeUcs(); }

private:
    void MaterializeUcs();

    std::vector<gmPnt3D> m_ucsPntArr;
    // While set, the local points are the points in m_ucsFrame (m_ucsPntArr is stale).
    bool m_ucsPending = false;
    gmCrdSys m_ucsFrame;
    int m_kind = KindNone;
    int m_autoClosed = 0;
    double m_ratio = 0.25;
    CsString m_exid;
    int m_flag = -1;
};

// The order in which 2D trimming takes its lines: the larger bounding rectangle first.
// False when either line is missing.
bool compare_area(const gmTrmLine* a, const gmTrmLine* b);
inline bool compare_area(const std::unique_ptr<gmTrmLine>& a, const std::unique_ptr<gmTrmLine>& b)
{
    return compare_area(a.get(), b.get());
}

// ---------------------------------------------------------------------------------------------
// The crossing rules the 2D and 3D cut lines share: an element edge a-b against a curve segment
// c-d, both seen in one plane, as d1 = b - a, d2 = d - c and w = c - a.
// ---------------------------------------------------------------------------------------------

// How far past its ends an edge (t) and a segment (s) still count as crossed.
struct gmCrossReach {
    double edgeLow, edgeHigh, segLow, segHigh;
};

// 1 with the share t along the edge where the two cross, 0 where they do not, -1 where they run
// parallel (within the sine the rules allow) and the caller must decide.
int geCrossEdge(const gmVec2D& d1, const gmVec2D& d2, const gmVec2D& w, const gmCrossReach& reach, double& t);
// For a parallel pair on one line: whether the edge's end b (u = b - c) lies on the segment,
// ahead of c and short of segHigh lengths; the edge then reports b as its crossing.
bool geEndAlong(const gmVec2D& d1, const gmVec2D& d2, const gmVec2D& w, const gmVec2D& u, double segHigh);

// ---------------------------------------------------------------------------------------------
// 2D cut line: a planar curve in the coordinates of a trim plane, applied along the plane's W.
// A uniform grid over the curve's rectangle lists in every cell the segments that touch it,
// so each element test looks only at nearby segments.
// ---------------------------------------------------------------------------------------------

class gmCut2DLine : public gmTrmLine {
public:
    // One grid column: ny cells, each the list of segment indices touching it.
    using RowArray = std::vector<std::vector<int>>;

    // Points already in plane coordinates, trim-out flag.
    gmCut2DLine();
    // Points in global coordinates, converted when the plane is set.
    gmCut2DLine(const std::vector<gmPnt3D>& points, int flag);
    ~gmCut2DLine() override = default;
    gmCut2DLine(const gmCut2DLine&) = default;
    gmCut2DLine& operator=(const gmCut2DLine&) = default;

    // Non-zero: the points are already plane coordinates.
    void SetPntLcs(int flag) { m_pntLcs = flag; }
    // Stores the plane and rebuilds the grid; the result carries no meaning.
    int SetUcs(const gmCrdSys& cs);
    const gmCrdSys& GetUcs() const { return m_ucs; }
    int SetData(const std::vector<gmPnt3D>& points) override;
    // Converts, closes and grids the curve; the result carries no meaning.
    int Partition();

    bool IsTrmOut() const { return GetFlag() == -1; }
    // Bounding rectangle of the local points (not widened); all 0 when empty.
    void GetCorner(double& xmin, double& ymin, double& xmax, double& ymax) const override;

    // p (global coordinates) seen along W lies inside the closed curve.
    int IsInside(const gmPnt3D& p) const;
    // Distance of p (global) from the curve seen along W, or `within` when the
    // curve keeps farther than that.
    double DistTo(const gmPnt3D& p, double within) const;
    int IsInside(gmElemt& element) override;
    int IsIntersected(gmElemt& element) override;
    // Leaves the element with the trim plane as its local frame, for the cutters.
    int InterElement(gmElemt& element, std::vector<gmItrPt>& points) override;

    // Element edge a-b against curve segment c-d (plane coordinates). mode 0: a and b are
    // global and converted first. 1 and out (on the 3D edge) on a crossing.
    int SegmntInterSegmt(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d, gmPnt3D& out,
                         int mode) const;
    // Edge a-b (global) against the listed segments; appends one record per hit.
    int VecArrInterSegmt(const std::vector<int>& indices, const gmPnt3D& a, const gmPnt3D& b,
                         std::vector<gmItrPt>& points) const;
    // 1 when segment a-b passes below p (IsBetwUpper) or above it (IsBetwBelow), in x and y.
    static int IsBetwUpper(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b);
    static int IsBetwBelow(const gmPnt3D& p, const gmPnt3D& a, const gmPnt3D& b);
    static bool IsInArr(const std::vector<int>& list, int i);

    // The grid, for a look at them.
    int GetNx() const { return m_nx; }
    int GetNy() const { return m_ny; }
    double GetDx() const { return m_dx; }
    double GetDy() const { return m_dy; }
    // The curve's rectangle widened by the grid margin.
    void GetOuter(double& xmin, double& ymin, double& xmax, double& ymax) const;
    const std::vector<int>& GetCell(int k, int j) const;
    bool HasGrid() const { return !m_grid.empty(); }

private:
    struct Cell {
        int k;
        int j;
    };
    Cell CellOf(const gmPnt3D& local) const;
    Cell Clamped(Cell c) const;
    // An edge from cell a to cell b lies wholly to one side of the grid.
    bool BesideGrid(Cell a, Cell b) const
    {
        return (a.k < 0 && b.k < 0) || (a.j < 0 && b.j < 0) || (a.k >= m_nx && b.k >= m_nx) ||
               (a.j >= m_ny && b.j >= m_ny);
    }
    void CvtToUcs();
    void GetOuter();

    int m_pntLcs = 0;
    int m_nx = 128;
    int m_ny = 128;
    double m_xmin = 0.0;
    double m_ymin = 0.0;
    double m_xmax = 0.0;
    double m_ymax = 0.0;
    double m_dx = 0.0;
    double m_dy = 0.0;
    gmCrdSys m_ucs;
    std::vector<RowArray> m_grid;
};

// Ray cast towards -x in single precision: pt lies inside the closed polygon of n vertices.
bool geNodeInPolygon(const float pt[2], const float poly[][2], int n);
// From start, backwards (dir < 1) or forwards, the first vertex whose y differs from y by
// more than 1e-6; -1 when there is none.
int geGetNearVertex(int dir, float y, const float poly[][2], int n, int start);

// ---------------------------------------------------------------------------------------------
// 3D cut line: a curve on the formed blank, applied to each element along the element's own
// normal. A segment counts for an element only where it passes within the gap of the
// element's plane.
// ---------------------------------------------------------------------------------------------

class gmCut3DLine : public gmTrmLine {
public:
    gmCut3DLine();
    gmCut3DLine(const std::vector<gmPnt3D>& points, int flag);
    ~gmCut3DLine() override;
    gmCut3DLine(const gmCut3DLine&);
    gmCut3DLine& operator=(const gmCut3DLine&);

    void SetSeed(int seed) { m_seed = seed; }
    int GetSeed() const { return m_seed; }
    // A second region to keep; 0 for none.
    void SetSeed2(int seed) { m_seed2 = seed; }
    int GetSeed2() const { return m_seed2; }
    // The seeds in use, in card order.
    std::vector<int> Seeds() const;
    // Clamped into [0.001, 250.0].
    void SetGap(double gap);
    double GetGap() const { return m_gap; }

    // These two look only at the segments that a spatial index of the curve places near the
    // element; their answers are those of the plain versions below.
    int IsIntersected(gmElemt& element) override;
    int InterElement(gmElemt& element, std::vector<gmItrPt>& points) override;
    int IsInside(gmElemt& element) override;

    // Reference versions: every segment converted and tested.
    int IsIntersectedPlain(gmElemt& element);
    int InterElementPlain(gmElemt& element, std::vector<gmItrPt>& points);

    // Edge a-b against segment c-d, all in one frame; only x and y count. 1 and out on a hit.
    static int SegmntInterSegmt(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d,
                                gmPnt3D& out);

private:
    class Index;
    // The segments worth testing against the element, ascending; false when the element's
    // frame is not a rotation and every segment must be tested.
    bool Candidates(const gmElemt& element, std::vector<int>& segments);

    int m_seed = 0;
    int m_seed2 = 0;
    double m_gap = 0.001;
    std::unique_ptr<Index> m_index;
    unsigned long m_indexRevision = 0;
};

// ---------------------------------------------------------------------------------------------
// Curve soundness: a curve that meets itself, or closes around no area, cannot tell the
// cutters which side of it is which.
// ---------------------------------------------------------------------------------------------

// Where a polyline meets itself. Segment k runs from point k to point k + 1 (0-based); a
// closed polyline's last segment runs back to its first point.
struct gmSelfCrossing {
    int first = -1;
    int second = -1;
    // The two lie on one line where they meet (a fold, or a piece run over again), rather
    // than meeting at an angle.
    bool along = false;
    bool Found() const { return first >= 0; }
};

// The first pair of segments (lowest first, then lowest second) of the polyline that are
// not neighbours and cross or touch, or are neighbours that fold back onto each other.
// closed: the polyline returns to its first point (it need not repeat it). A point within
// 0.01 of the point kept before it is passed over. accept, when given, may still turn a
// found pair down. Segments are compared only within the cells of a grid they share, so
// the time grows with the number of points, not its square, for any curve whose segments
// are of similar length. Points that are not finite give no answer (nothing found).
// Segments passing within `touch` of each other touch.
gmSelfCrossing geFindSelfCrossing(const std::vector<gmPnt2D>& points, bool closed,
                                  const std::function<bool(int, int)>& accept = nullptr, double touch = 0.0);
// The signed area of the polygon the points close (positive anticlockwise).
double gePolygonArea(const std::vector<gmPnt2D>& points);
double gePolylineLength(const std::vector<gmPnt2D>& points, bool closed);
// The plane of the points' two largest principal directions: U and V along them, W their
// normal, the origin at the points' mean.
gmCrdSys geBestFitPlane(const std::vector<gmPnt3D>& points);
// The plane a closed curve through the points encloses most area in: W along the
// curve's area vector, the origin at the points' mean. The best-fit plane when the
// curve encloses no area in any plane.
gmCrdSys geEnclosingPlane(const std::vector<gmPnt3D>& points);
// The points' coordinates along U and V of the plane, about its origin.
std::vector<gmPnt2D> geInPlane(const std::vector<gmPnt3D>& points, const gmCrdSys& plane);
// The shortest distance between segments a-b and c-d.
double geSegmentDistance(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c, const gmPnt3D& d);

#endif
