// The check every cutting operation's mesh passes before anything is
// written. It keeps a cheap copy of the model when the operation begins and,
// when it ends, looks only at what differs (elements made, rewritten or
// removed, nodes moved, constraints changed) and at their neighbours: the
// mesh must close up, every new boundary must lie on the operation's curves
// and cover them, every element must be a sound triangle or quadrilateral and
// every adaptive constraint must hold. It knows nothing of how the cutters
// work, only of what they left behind.
#ifndef QDSTRIMALGO_VERIFY_H
#define QDSTRIMALGO_VERIFY_H

#include "qdsgeomline.h"

#include <memory>
#include <string>
#include <vector>

enum class CsCutFaultKind {
    kOpenEdge,        // an edge used once, off the outline and off the curves: a crack
    kFoldedEdge,      // an edge two elements run along the same way
    kDuplicateNode,   // two written nodes at one point
    kBadElement,      // a repeated node, no area, not 3 or 4 nodes
    kConcave,         // a quadrilateral turned the wrong way (or not at all) at a corner
    kFlipped,         // an element facing away from the one it was cut from
    kConstraintNode,  // a constraint naming a node that is not written
    kHangingOffEdge,  // a hanging node off the middle of its coarse edge
    kCoarseEdge,      // a coarse edge on no written element, or on several
    kNodeOffCurve,    // a node of the new boundary off the curves
    kEdgeOffCurve,    // a new boundary edge whose ends lie on a curve but which strays from it
    kUncut,           // a stretch of trim curve over the blank with no boundary near it
    kAcross,          // a kept element with a corner on the side a trim curve removes
    kNoSlit,          // a stretch of lancing curve without a free edge on each side
};

struct CsCutFault {
    CsCutFaultKind kind;
    std::string text;
};

// Every finding that stops a run is logged after this head, so the run
// report can name the first as the run's failure.
constexpr const char* kCsCutRefusalHead = "Verification failed: ";

// The model as an operation found it; defined with the check.
struct CsCutSnapshot;

class CsCutVerify {
public:
    // What the check after an operation judges: refinement makes no boundary,
    // a cut makes the boundary its lines ask for.
    enum Stage { kRefinement, kCut };

    // The lines of the operation, owned by the caller; those the operation
    // does not use are left out of the checks.
    explicit CsCutVerify(const std::vector<gmTrmLine*>& lines);
    ~CsCutVerify();
    CsCutVerify(const CsCutVerify&) = delete;
    CsCutVerify& operator=(const CsCutVerify&) = delete;

    // Takes the model as the next operation finds it.
    void Begin();
    // Checks what changed since Begin and repairs what is safe to repair
    // (two nodes at one point joined, a neighbour split at a node left on its
    // edge), then checks again. True when the mesh is sound; otherwise the
    // faults are shown and kept. Without a Begin nothing is checked.
    bool Check(Stage stage);

    const std::vector<CsCutFault>& GetFaults() const { return faults_; }
    // What the repairs of the last Check did, one line each.
    const std::vector<std::string>& GetRepairs() const { return repairs_; }

private:
    void Show(Stage stage) const;

    std::vector<gmTrmLine*> lines_;
    std::string name_;
    std::unique_ptr<CsCutSnapshot> snap_;
    std::vector<CsCutFault> faults_;
    std::vector<std::string> repairs_;
};

#endif
