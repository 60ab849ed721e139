// The parts of a dynain and of a deck that a picture needs, read by a reader
// of its own: one pass over the file in large blocks, fixed columns as the
// writer puts them, and per element only what can be coloured.
#ifndef VIEW_MODEL_H
#define VIEW_MODEL_H

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace view {

// A reason the input cannot be drawn; the message is shown as it is.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Vec3 = std::array<double, 3>;

// Maps external ids to positions in a table: dense when the ids are packed
// (the usual case after a solver renumbers), sorted pairs otherwise.
class IdIndex {
public:
    void Build(const std::vector<int>& ids);
    // -1 when absent.
    int Find(int id) const;

private:
    int min_ = 0;
    std::vector<int> dense_;
    std::vector<std::pair<int, int>> sorted_;
};

struct Element {
    int id = 0;
    int part = 0;
    std::array<int, 4> node{};  // node positions; node[3] == node[2] for a triangle
    float thickness = 0.0f;     // mean of the corner thicknesses, NaN when not given
    float eps = 0.0f;           // mean effective plastic strain, NaN without a stress record
    bool Triangle() const { return node[3] == node[2]; }
};

struct Mesh {
    std::string path;
    std::vector<int> nodeId;
    std::vector<float> xyz;  // three per node
    std::vector<Element> elements;
    IdIndex elementIndex;
    bool haveEps = false;
    bool haveThickness = false;

    Vec3 Node(int k) const
    {
        const std::size_t o = static_cast<std::size_t>(k) * 3;
        return {xyz[o], xyz[o + 1], xyz[o + 2]};
    }
};

struct ReadOptions {
    bool stresses = false;  // reading the stress records costs most of the time
};

Mesh ReadDynain(const std::string& path, const ReadOptions& options);

struct TrimVector {
    int id = 0;
    Vec3 tail{};
    Vec3 direction{};
};

// A 2D curve's points lie at z = 0 and cut along its vector; a 3D curve cuts
// along the surface normal.
struct Curve2D {
    int id = 0;
    int vectorId = 0;
    bool spatial = false;
    std::vector<Vec3> points;
};

struct Deck {
    std::string path;
    std::string include;  // the included state file, as a path usable from here
    std::vector<TrimVector> vectors;
    std::vector<Curve2D> curves;
    // Curve sets whose IGES file could not be read, with the reasons.
    std::vector<std::string> unread;
    // The vector the first 2D curve projects along, else the first one; null when there is none.
    const TrimVector* ViewVector() const;
};

Deck ReadDeck(const std::string& path);

}  // namespace view

#endif
