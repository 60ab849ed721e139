// A trim or lancing curve laid onto the blank: the path the cut follows.
//
// The curve is walked over the mesh face by face. Each step decides once where
// the curve leaves the face it is in (through an edge, or through a node when
// it passes that close), and the neighbour continues from that very point, so
// two elements sharing an edge can never disagree about a crossing. Curve
// points that lie within a small tolerance of a node or an edge are put on it
// there. A 2D line sees every face in its trim plane; a 3D line sees each face
// in the face's own plane, the curve dropped onto it along its normal.
#ifndef QDSTRIMALGO_PATH_H
#define QDSTRIMALGO_PATH_H

#include "qdsgeombase.h"

#include <cmath>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

// Plain vectors for the cut's own geometry: no tolerance hides in them.
struct CsXY {
    double x = 0.0;
    double y = 0.0;
};

struct CsXYZ {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

inline CsXYZ Sub(const CsXYZ& a, const CsXYZ& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline CsXYZ Add(const CsXYZ& a, const CsXYZ& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline CsXYZ Scale(const CsXYZ& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double Dot(const CsXYZ& a, const CsXYZ& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline CsXYZ Cross(const CsXYZ& a, const CsXYZ& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Norm(const CsXYZ& a) { return std::sqrt(Dot(a, a)); }
inline CsXYZ Unit(const CsXYZ& a)
{
    const double n = Norm(a);
    return n > 0.0 ? Scale(a, 1.0 / n) : a;
}
inline double Cross2(const CsXY& a, const CsXY& b) { return a.x * b.y - a.y * b.x; }
inline CsXY Sub2(const CsXY& a, const CsXY& b) { return {a.x - b.x, a.y - b.y}; }
inline double Len2(const CsXY& a) { return std::hypot(a.x, a.y); }
inline CsXY Lerp2(const CsXY& a, const CsXY& b, double t) { return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}; }

// Where the path meets the blank.
struct CsMeshPlace {
    enum Kind { kNode, kEdge, kFace };
    Kind kind = kNode;
    int node = 0;  // kNode
    int a = 0;     // kEdge: the edge's nodes, a < b
    int b = 0;
    double t = 0.0;  // kEdge: position from a (0) to b (1)
    int face = 0;    // kFace: the element it lies in
    CsXY flat;       // kFace: position in that face's frame
    CsXYZ point;     // position on the blank
};

// One step of a path: the place reached, and the face crossed to get there
// (0 when the step runs along an edge).
struct CsPathStep {
    CsMeshPlace place;
    int face = 0;
    // The place stands for a sharp corner or an end of the curve.
    bool corner = false;
};

// A stretch of the curve over the blank, from where it comes onto the blank
// (or starts) to where it leaves (or ends). The first step's face is unused.
struct CsPathRun {
    std::vector<CsPathStep> steps;
    bool closed = false;  // the last place is the first
};

// The faces of the cut: the live shell elements, each with its outline (the
// corners, with the hanging nodes of its coarse edges between them), and the
// frame each is seen in.
class CsCutMesh {
public:
    struct Frame {
        CsXYZ origin, u, v, w;
    };

    // A 2D cut: every face seen in the plane of cs (coordinates as a trim
    // line's plane coordinates, the origin not subtracted), along its W.
    static std::unique_ptr<CsCutMesh> Planar(const gmCrdSys& cs);
    // A 3D cut: each face in its own plane; gap is how far off the surface
    // the curve may run.
    static std::unique_ptr<CsCutMesh> Spatial(double gap);
    // Outlines and neighbours only, remembering nothing: for walks over the
    // whole blank. An outline it returns holds until the next call.
    static std::unique_ptr<CsCutMesh> Topology();

    bool IsPlanar() const { return planar_; }
    double Gap() const { return gap_; }

    static bool IsLive(int elem);
    // Corners with hanging nodes inserted, in the element's order.
    const std::vector<int>& Outline(int elem);
    // The live face across the outline edge u->v of elem, 0 when none.
    int Across(int elem, int u, int v);
    // The live faces whose outline holds the node.
    std::vector<int> FacesAt(int node);

    const Frame& FrameOf(int face);
    // A point as the face sees it; height above the face's plane (3D only).
    CsXY Flat(int face, const CsXYZ& p, double* height = nullptr);
    CsXY NodeFlat(int face, int node);
    // The point of the face's surface that the face sees at q.
    CsXYZ Lift(int face, const CsXY& q);
    // A point in the face's own plane (for a 3D cut, its frame), where the
    // outline runs counterclockwise: the plane an element is split in.
    CsXY OwnFlat(int face, const CsXYZ& p);
    // +1 when the outline runs counterclockwise in the face's frame, else -1.
    int Turn(int face);
    // The shortest outline edge of the face (as seen in its frame).
    double ShortestEdge(int face);
    // Forgets outlines and frames: nodes moved or elements changed.
    void Forget();

    // The faces of the blank whose seen outline may hold p (a coarse grid
    // over the seen outlines, built on first use).
    void Candidates(const CsXYZ& p, std::vector<int>& out);
    double CellSize();

private:
    CsCutMesh(bool planar, const gmCrdSys& cs, double gap);
    void OutlineInto(int elem, std::vector<int>& out) const;
    bool MayHang(int a, int b) const;
    void Hanging(int a, int b, std::vector<int>& out, int depth) const;
    void BuildGrid();
    // Box of a face in grid coordinates (plane xy for 2D, space for 3D).
    void BoxOf(int face, double lo[3], double hi[3]);

    bool planar_;
    gmCrdSys plane_;
    double gap_;
    bool remember_ = true;
    std::vector<char> coarseEnd_;
    std::vector<int> scratch_;
    std::unordered_map<int, std::vector<int>> outlines_;
    std::unordered_map<int, Frame> frames_;
    Frame planeFrame_;
    // Grid over the faces.
    bool gridBuilt_ = false;
    double lo_[3] = {0, 0, 0};
    double cell_ = 1.0;
    int dims_[3] = {1, 1, 1};
    // Faces by cell: those of cell c are cellFaces_[cellStart_[c] .. cellStart_[c + 1]).
    std::vector<size_t> cellStart_;
    std::vector<int> cellFaces_;
};

// Walks a curve over the mesh.
class CsPathTracer {
public:
    explicit CsPathTracer(CsCutMesh& mesh) : mesh_(mesh) {}

    // The runs of the curve over the blank, in curve order. A closed curve
    // repeats its first point last. False when the walk cannot follow the
    // curve (it then says why in Failure()).
    bool Trace(const std::vector<CsXYZ>& curve, bool closed, std::vector<CsPathRun>& runs);
    const char* Failure() const { return failure_; }

    // Where p lies on the blank: a node, an edge point or a face point; false
    // when it lies off the blank.
    bool Locate(const CsXYZ& p, CsMeshPlace& place);
    // Where a place stands along the curve segment a-b, as a share of it: in a 3D
    // cut measured across the normal of a face there, so that the foot of the
    // curve on the surface stands where the curve passes over it.
    double ShareOf(const CsMeshPlace& p, const CsXYZ& a, const CsXYZ& b);
    // Where p lies on face f (its height over the face in `height`); false when
    // it lies off the face or, for a 3D cut, beyond the gap.
    bool PlaceIn(int f, const CsXYZ& p, CsMeshPlace& place, double& height);
    // The curve passing this near the node goes through it: a node that
    // cannot move onto the curve takes it instead of a sliver beside it.
    void Stick(int node, double radius) { sticky_[node] = radius; }
    // Whether a node or an edge point lies on the blank's outline: where a
    // slit opens, rather than inside the blank, where it closes.
    bool OnBlankOutline(const CsMeshPlace& p);
    // Where the step from a to b passes closest to an edge of the blank's outline
    // at `corner`, within a quarter of that edge from it; the corner itself when
    // no such edge comes that close to the step.
    CsMeshPlace OutlineCrossingAt(int corner, const CsXYZ& a, const CsXYZ& b);
    // Moves a place inside a face onto an edge of the blank's outline it lies
    // within a hair of.
    void OntoNearOutline(CsMeshPlace& p);

private:
    // From place towards target: the next place and the face crossed. 0 when
    // the target was reached, 1 on a step, -1 when the curve leaves the blank.
    int Step(const CsMeshPlace& from, const CsXYZ& target, CsMeshPlace& to, int& face);
    int ChooseFace(const CsMeshPlace& from, const CsXYZ& target, CsMeshPlace& along);
    // Across face `chosen` from place towards target: where the walk leaves it.
    void Cross(const CsMeshPlace& from, const CsXYZ& target, int chosen, CsMeshPlace& to);
    // Finds where the curve comes back onto the blank after curve position
    // (segment, share), the walk having left it at left (null at the start);
    // false when it does not.
    bool Reenter(const std::vector<CsXYZ>& curve, size_t& segment, double& share, CsMeshPlace& place,
                 const CsMeshPlace* left);
    // Walks from inside the blank back towards p until it leaves: the outline point passed.
    bool ExitTowards(const CsMeshPlace& from, const CsXYZ& p, CsMeshPlace& exit);
    double Tolerance(int face);
    // Whether p (a node or an edge point) lies on the face's outline.
    bool OnOutlineOf(int face, const CsMeshPlace& p);
    // Whether p and q both lie on one edge of the blank's outline.
    bool AlongOutline(const CsMeshPlace& p, const CsMeshPlace& q);

public:
    CsMeshPlace NodePlace(int node);
    CsMeshPlace EdgePlace(int u, int v, double t);
    CsMeshPlace FacePlace(int face, const CsXY& q);

private:
    // The curve point the segment being followed starts at (null outside a walk along the curve).
    const CsXYZ* origin_ = nullptr;
    double StickAt(int node) const
    {
        const auto found = sticky_.find(node);
        return found == sticky_.end() ? 0.0 : found->second;
    }

    CsCutMesh& mesh_;
    const char* failure_ = "";
    std::unordered_map<int, double> sticky_;
};

// A point of the model as the cut's plain vector.
CsXYZ CsNodeXYZ(int node);

class CsAlgoTrm;

// One curve's cut: the path laid onto the blank, the nodes next to it moved
// onto it, and every element it passes split along it.
class CsPathCut {
public:
    // ratio: how near a node must be to the path (a share of its edge) to be
    // moved onto it; fixed: nodes that must not move.
    CsPathCut(CsAlgoTrm& algo, CsCutMesh& mesh, double ratio, bool lance, std::vector<int> fixed);

    // False when the curve cannot be cut soundly; Failure() says why and the
    // model may be half cut (the run must stop).
    bool Cut(const std::vector<CsXYZ>& curve, bool closed);
    const char* Failure() const { return failure_; }

    // Whether the curve came onto the blank at all.
    bool MetBlank() const { return !runs_.empty(); }
    // The path as edges of the cut mesh, each in the curve's direction.
    const std::vector<std::pair<int, int>>& Edges() const { return edges_; }
    // The path's nodes, each once, ascending.
    std::vector<int> Nodes() const;
    // The nodes this cut made on edge a-b, in order from a.
    std::vector<int> NodesOnEdge(int a, int b) const;

private:
    void MoveNodes();
    // along: the other end of the edge the node would move along (0 for none).
    bool Movable(int node, int along) const;
    bool TryMove(int node, const CsXYZ& to);
    void Simplify();
    void KeepSlitsOpen();
    int NodeOf(size_t run, size_t step);
    int EdgeNode(int a, int b, double t, const CsXYZ& p);
    bool SplitFaces();
    bool SplitFace(int face, bool simplified);
    void CollectEdges();

    CsAlgoTrm& algo_;
    CsCutMesh& mesh_;
    CsPathTracer tracer_;
    double ratio_;
    bool lance_;
    std::vector<int> fixed_;
    std::vector<int> coarseEnds_;
    const char* failure_ = "";
    std::vector<CsPathRun> runs_;
    // Per run and step: the place stays in the cut (a point inside a face may be dropped).
    std::vector<std::vector<char>> keep_;
    std::vector<std::vector<int>> nodes_;
    // Nodes made on edges, by edge (a < b): position from a and node.
    std::map<std::pair<int, int>, std::vector<std::pair<double, int>>> edgeNodes_;
    std::vector<std::pair<int, int>> edges_;
};

#endif
