#!/usr/bin/env python3
"""Writes an unstructured formed blank (a dynain state file) meshed by gmsh.

The blanks made by corvex_genblank are structured grids; real blanks come from
other meshers, with irregular node valences, mixed element kinds and graded
sizes. This script lets gmsh mesh a plate outline in the plane, lifts the mesh
onto a height field (so a projection along z stays one-to-one) and writes it
in the same fixed columns and number formats as corvex_genblank, with a
stress and a strain record for every element (3 integration points through
the thickness, 4 history variables).

The same arguments give the same bytes: gmsh runs single-threaded with its
configuration files ignored and its random seed fixed, and every value of
the state records comes from counter-based random numbers keyed by the seed
and the element's id.

Needs gmsh's Python module. On Debian: apt-get install -y gmsh python3-gmsh
"""

import argparse
import importlib.util
import math
import os
import struct
import sys

TOPOLOGIES = ("quaddom", "mixed", "tria", "quad")
OUTLINES = ("rect", "hole", "holes", "notch", "ell")
SHAPES = ("flat", "bent", "domed", "saddle", "box")

NTHICK = 3
NHISV = 4
PART = 1
WIDTH = 100.0
HEIGHT = 60.0
CX = 0.5 * WIDTH
CY = 0.5 * HEIGHT
MASK = (1 << 64) - 1


def load_gmsh():
    try:
        import gmsh  # noqa: F401  (the module is used through the return value)
        return gmsh
    except ImportError:
        pass
    # Debian installs the module for its own interpreter only; another
    # python3 earlier in PATH can still use it, it is plain ctypes.
    path = "/usr/lib/python3/dist-packages/gmsh.py"
    if os.path.exists(path):
        found = importlib.util.spec_from_file_location("gmsh", path)
        module = importlib.util.module_from_spec(found)
        found.loader.exec_module(module)
        return module
    sys.exit("gmsh-blank: gmsh's Python module is missing.\n"
             "Install it with: apt-get install -y gmsh python3-gmsh\n"
             "(or pip install gmsh), then run this script again.")


# ---------------------------------------------------------------------------
# Random numbers: one stream per (seed, purpose, key), so an element's values
# do not depend on how many values were drawn before it.

def mix(x):
    x = (x + 0x9E3779B97F4A7C15) & MASK
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & MASK
    return x ^ (x >> 31)


class Rng:
    STRESS, STRAIN, ELEMENT, NODE, LAYOUT = 1, 2, 3, 4, 5

    def __init__(self, seed, stream, key=0):
        self.state = mix(mix(seed) ^ mix((stream * 0x1000003 + key) & MASK))

    def next(self):
        value = mix(self.state)
        self.state = (self.state + 1) & MASK
        return value

    def uniform(self):
        return (self.next() >> 11) * 2.0 ** -53

    def range(self, low, high):
        return low + (high - low) * self.uniform()

    def below(self, n):
        return self.next() % n

    def one_in(self, n):
        return self.below(n) == 0

    def tiny(self):
        sign = -1.0 if self.one_in(2) else 1.0
        return sign * self.range(1.0, 9.99) * 10.0 ** (-10 - self.below(25))


# ---------------------------------------------------------------------------
# Number text: printf's "%W.Pe" with the exponent's leading zero dropped.

def real(value, digits, width):
    value = value + 0.0  # no negative zero
    text = "%.*e" % (digits - 1, value)
    mantissa, exponent = text.split("e")
    sign = exponent[0]
    exponent = exponent[1:].lstrip("0") or "0"
    return (mantissa + "e" + sign + exponent).rjust(width)


def real16(value):
    return real(value, 10, 16)


def real10(value):
    return real(value, 4, 10)


def single(value):
    """The nearest single-precision value. A solver writes its state in
    single precision, and the program reads coordinates and thicknesses in
    it: values it can hold come back from it unchanged, text and all."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


# ---------------------------------------------------------------------------
# Shapes: height fields over the plate.

BOX_HALF = (22.0, 13.0)   # flat bottom of the drawn box, half sizes
BOX_CORNER = 8.0          # plan radius of its corners
BOX_RUN = 10.0            # horizontal run of the wall
BOX_DEPTH = 14.0


def box_distance(x, y):
    """Signed distance from the rounded outline of the box's bottom."""
    qx = abs(x - CX) - (BOX_HALF[0] - BOX_CORNER)
    qy = abs(y - CY) - (BOX_HALF[1] - BOX_CORNER)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - BOX_CORNER


def height(shape, x, y):
    dx = x - CX
    dy = y - CY
    if shape == "bent":
        r = 90.0  # a cylinder about an axis along y
        return r - math.sqrt(r * r - dx * dx)
    if shape == "domed":
        r = 110.0
        rim = math.hypot(CX, CY)
        return math.sqrt(r * r - dx * dx - dy * dy) - math.sqrt(r * r - rim * rim)
    if shape == "saddle":
        return 0.004 * (dx * dx - dy * dy)
    if shape == "box":
        # Punch and die radii come from the cosine: no slope at either end.
        t = min(max(box_distance(x, y) / BOX_RUN, 0.0), 1.0)
        return -BOX_DEPTH * 0.5 * (1.0 + math.cos(math.pi * t))
    return 0.0


def slope(shape, x, y):
    e = 1e-3
    gx = (height(shape, x + e, y) - height(shape, x - e, y)) / (2 * e)
    gy = (height(shape, x, y + e) - height(shape, x, y - e)) / (2 * e)
    return math.hypot(gx, gy)


# ---------------------------------------------------------------------------
# Outlines

HOLE = (CX, CY, 12.0)
HOLES = ((30.0, 30.0, 10.0), (72.0, 34.0, 7.0))
NOTCH = (40.0, 45.0, 20.0, 15.0)       # x, y, width, depth: open at the top edge
ELL_CUT = (55.0, 30.0, 45.0, 30.0)     # the corner taken away


def features(outline):
    """Circles (x, y, r) and corners (x, y, 0) near which a graded mesh is finer."""
    if outline == "hole":
        return [HOLE]
    if outline == "holes":
        return list(HOLES)
    if outline == "notch":
        x, y, w, _ = NOTCH
        return [(x, y, 0.0), (x + w, y, 0.0)]
    if outline == "ell":
        return [(ELL_CUT[0], ELL_CUT[1], 0.0)]
    return []


def build_outline(gmsh, outline, topology):
    occ = gmsh.model.occ
    plate = [(2, occ.addRectangle(0.0, 0.0, 0.0, WIDTH, HEIGHT))]
    tools = []
    if outline == "hole":
        tools.append((2, occ.addDisk(HOLE[0], HOLE[1], 0.0, HOLE[2], HOLE[2])))
    elif outline == "holes":
        for x, y, r in HOLES:
            tools.append((2, occ.addDisk(x, y, 0.0, r, r)))
    elif outline == "notch":
        x, y, w, d = NOTCH
        tools.append((2, occ.addRectangle(x, y, 0.0, w, d + 1.0)))
    elif outline == "ell":
        x, y, w, d = ELL_CUT
        tools.append((2, occ.addRectangle(x, y, 0.0, w + 1.0, d + 1.0)))
    if tools:
        plate, _ = occ.cut(plate, tools)
    if topology == "mixed":
        # A slanted seam splits the plate: quads on one side, triangles on
        # the other, so the seam's nodes are shared by both kinds.
        half = occ.addRectangle(-200.0, -200.0, 0.0, 200.0 + CX, 400.0)
        occ.rotate([(2, half)], CX, CY, 0.0, 0.0, 0.0, 1.0, math.radians(14.0))
        pieces, parts = occ.fragment(plate, [(2, half)])
        mine = set()
        for k in range(len(plate)):
            mine.update(parts[k])
        leftovers = [p for p in pieces if p not in mine]
        occ.remove(leftovers, recursive=True)
        plate = sorted(mine)
    occ.synchronize()
    return [tag for _, tag in plate]


# ---------------------------------------------------------------------------
# Meshing

def mesh_size(args, x, y):
    """Wanted edge length in the plane: finer on steep ground, so that edges
    keep about the wanted length on the surface, and near holes and inner
    corners when graded."""
    size = args.size / math.sqrt(1.0 + slope(args.shape, x, y) ** 2)
    # A gentle wave of sizes drawn from the seed, so that each seed gives
    # another mesh of the same plate.
    a, b, p, q = args.wave
    size *= 1.0 + 0.12 * math.sin(a * x + p) * math.sin(b * y + q)
    if args.grade < 1.0:
        near = min((abs(math.hypot(x - fx, y - fy) - r) for fx, fy, r in features(args.outline)),
                   default=math.inf)
        reach = 4.0 * args.size
        share = min(near / reach, 1.0)
        size = min(size, args.size * (args.grade + (1.0 - args.grade) * share))
    return size


def make_mesh(gmsh, args):
    """Nodes {gmsh tag: (x, y)} and elements [(gmsh tag, [node tags])]."""
    option = gmsh.option.setNumber
    option("General.Terminal", 0)
    option("General.NumThreads", 1)
    option("Mesh.RandomSeed", args.seed)
    option("Mesh.MeshSizeFromPoints", 0)
    option("Mesh.MeshSizeFromCurvature", 0)
    option("Mesh.MeshSizeExtendFromBoundary", 0)
    option("Mesh.MeshSizeMax", 1.2 * args.size)
    option("Mesh.ElementOrder", 1)
    option("Mesh.SubdivisionAlgorithm", 0)
    gmsh.model.add("blank")
    surfaces = build_outline(gmsh, args.outline, args.topology)

    gmsh.model.mesh.setSizeCallback(
        lambda dim, tag, x, y, z, *rest: mesh_size(args, x, y))

    # The frontal-Delaunay triangulation everywhere (the quad-oriented
    # frontal algorithm crashes in some packaged builds); quads come from
    # recombining its triangles.
    option("Mesh.Algorithm", 6)
    if args.topology == "quaddom":
        option("Mesh.RecombineAll", 1)
        option("Mesh.RecombinationAlgorithm", 0)  # greedy: leaves some triangles
    elif args.topology == "quad":
        option("Mesh.RecombineAll", 1)
        option("Mesh.RecombinationAlgorithm", 3)  # blossom, full-quad
    elif args.topology == "mixed":
        centres = []
        for tag in surfaces:
            x, _, _ = gmsh.model.occ.getCenterOfMass(2, tag)
            centres.append((x, tag))
        gmsh.model.mesh.setRecombine(2, max(centres)[1])
        option("Mesh.RecombinationAlgorithm", 1)  # blossom

    gmsh.model.mesh.generate(2)

    tags, coords, _ = gmsh.model.mesh.getNodes()
    nodes = {int(t): (coords[3 * k], coords[3 * k + 1]) for k, t in enumerate(tags)}
    elements = []
    types, element_tags, node_tags = gmsh.model.mesh.getElements(2)
    for kind, etags, ntags in zip(types, element_tags, node_tags):
        count = {2: 3, 3: 4}.get(kind)
        if count is None:
            raise RuntimeError("gmsh made an element of type %d" % kind)
        for k, t in enumerate(etags):
            elements.append((int(t), [int(n) for n in ntags[count * k:count * (k + 1)]]))
    elements.sort()
    return nodes, elements


def cross(o, a, b):
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])


def plane_area(points):
    n = len(points)
    return 0.5 * sum(points[i][0] * points[(i + 1) % n][1] - points[(i + 1) % n][0] * points[i][1]
                     for i in range(n))


def renumber(nodes, elements):
    """Ids from 1: nodes in gmsh's order of tags, unused ones left out;
    elements turned anticlockwise seen from +z."""
    used = sorted({n for _, corners in elements for n in corners})
    ids = {tag: k + 1 for k, tag in enumerate(used)}
    points = [nodes[tag] for tag in used]
    out = []
    for _, corners in elements:
        corners = [ids[n] for n in corners]
        if plane_area([points[n - 1] for n in corners]) < 0.0:
            corners = [corners[0]] + corners[:0:-1]
        out.append(corners)
    return points, out


def check(points, elements, size):
    """Refuses a mesh a cutter could not rely on."""
    problems = []
    for k, corners in enumerate(elements, 1):
        p = [points[n - 1] for n in corners]
        if len(set(corners)) != len(corners):
            problems.append("element %d repeats a node" % k)
            continue
        if plane_area(p) < 1e-3 * size * size:
            problems.append("element %d is degenerate" % k)
        if len(p) == 4 and any(cross(p[i], p[(i + 1) % 4], p[(i + 2) % 4]) <= 0.0 for i in range(4)):
            problems.append("quadrilateral %d is not convex" % k)
    edges = {}
    for k, corners in enumerate(elements, 1):
        for i, a in enumerate(corners):
            edge = (a, corners[(i + 1) % len(corners)])
            if edge in edges:
                problems.append("elements %d and %d run along edge %d-%d the same way" % ((edges[edge], k) + edge))
            edges[edge] = k
    seen = {}
    for k, (x, y) in enumerate(points, 1):
        key = (round(x, 6), round(y, 6))
        if key in seen:
            problems.append("nodes %d and %d share a point" % (seen[key], k))
        seen[key] = k
    if problems:
        raise RuntimeError("the mesh is unfit:\n  " + "\n  ".join(problems[:20]))


# ---------------------------------------------------------------------------
# State records

def gauss_points():
    a = math.sqrt(0.6)
    return (-a, 0.0, a)


class ElementState:
    """A plausible formed state: strain grows with the slope and the bend of
    the ground; every value also carries the element's own random share, so
    that no two elements hold the same record."""

    def __init__(self, args, eid, centre):
        rng = Rng(args.seed, Rng.ELEMENT, eid)
        x, y = centre
        g = slope(args.shape, x, y)
        self.eps = min(0.02 + 0.12 * g / (1.0 + g) + 0.01 * (x / WIDTH), 0.38) * rng.range(0.9, 1.1)
        self.bend = rng.range(-0.5, 0.5)
        self.flow = 180.0 + 520.0 * math.sqrt(self.eps / 0.4)
        tension = rng.range(0.3, 0.9)
        self.membrane = (tension, rng.range(-0.6, 0.9) * tension, rng.range(-0.25, 0.25))
        self.bending = (rng.range(-0.5, 0.5), rng.range(-0.5, 0.5), rng.range(-0.1, 0.1))


def stress_record(args, eid, state):
    rng = Rng(args.seed, Rng.STRESS, eid)
    lines = ["%10d%10d%10d%10d%10d" % (eid, 1, NTHICK, NHISV, 0)]
    for t in gauss_points():
        def stress(k):
            v = state.flow * (state.membrane[k] + state.bending[k] * t)
            return min(max(v, -600.0), 600.0)
        eps = min(max(state.eps * (1.0 + state.bend * t), 0.0), 0.4)
        values = (t, stress(0), stress(1), rng.tiny() if rng.one_in(8) else 0.0, stress(2),
                  rng.tiny() if rng.one_in(5) else rng.range(-8.0, 8.0),
                  rng.tiny() if rng.one_in(5) else rng.range(-8.0, 8.0), eps)
        lines.append("".join(real10(v) for v in values))
        history = (rng.range(1.0, 9.99) * 10.0 ** (-4 + rng.below(7)), rng.range(-0.66, 0.66),
                   min(1.0, eps * rng.range(0.5, 2.0)), 293.15 + 40.0 * eps)
        lines.append("".join(real10(v) for v in history))
    return lines


def strain_record(args, eid, state):
    rng = Rng(args.seed, Rng.STRAIN, eid)
    total = state.eps + 0.002
    exx = total * state.membrane[0]
    eyy = total * (state.membrane[1] - 0.3 * state.membrane[0])
    exy = total * state.membrane[2]
    yz = rng.tiny() if rng.one_in(3) else 0.0
    lines = ["%10d" % eid]
    for side in (-1.0, 1.0):
        b = 1.0 + side * 0.3 * state.bend
        lines.append("".join(real10(v) for v in (exx * b, eyy * b, -(exx + eyy) * b, exy * b, yz, 0.0)))
    return lines


def node_thickness(args, nid, x, y):
    """Thinner where the ground is steep, with a little of every node's own."""
    g = slope(args.shape, x, y)
    jitter = Rng(args.seed, Rng.NODE, nid).range(-0.005, 0.005)
    return single(1.0 * (1.0 - 0.08 * g / (1.0 + g) + jitter))


# ---------------------------------------------------------------------------
# Writing

def write(args, points, elements, gmsh_version):
    out = ["*KEYWORD",
           "$ gmsh %s %s %s blank: size %g, grade %g, seed %d, %d integration points, %d history variables"
           % (args.topology, args.outline, args.shape, args.size, args.grade, args.seed, NTHICK, NHISV),
           "$ meshed by gmsh %s" % gmsh_version,
           "*NODE",
           "$   NODE               X               Y               Z      TC      RC"]
    xyz = []
    for k, (x, y) in enumerate(points, 1):
        p = (x, y, single(height(args.shape, x, y)))
        xyz.append(p)
        out.append("%8d%s%s%s" % (k, real16(p[0]), real16(p[1]), real16(p[2])))

    # One edge held in the global system, the opposite one in a rotated
    # local system, as a forming solver leaves its symmetry and clamp edges.
    layout = Rng(args.seed, Rng.LAYOUT)
    frame = 2 + layout.below(40)
    angle = math.radians(layout.range(15.0, 40.0))
    left = [k for k, p in enumerate(xyz, 1) if abs(p[0]) < 1e-6]
    right = [k for k, p in enumerate(xyz, 1) if abs(p[0] - WIDTH) < 1e-6]
    out.append("*BOUNDARY_SPC_NODE")
    out.append("$ NID/NSID       CID      DOFX      DOFY      DOFZ     DOFRX     DOFRY     DOFRZ")
    for k in left:
        out.append("%10d%10d%10d%10d%10d%10d%10d%10d" % (k, 0, 1, 0, 0, 0, 1, 1))
    for k in right:
        out.append("%10d%10d%10d%10d%10d%10d%10d%10d" % (k, frame, 1, 0, 1, 0, 0, 0))
    if right:
        o = xyz[right[0] - 1]
        out.append("*DEFINE_COORDINATE_SYSTEM")
        out.append("%10d" % frame + "".join(real10(v) for v in (
            o[0], o[1], o[2], o[0] + 100.0 * math.cos(angle), o[1] + 100.0 * math.sin(angle), o[2])))
        out.append("".join(real10(v) for v in (
            o[0] - 100.0 * math.sin(angle), o[1] + 100.0 * math.cos(angle), o[2])))

    thickness = [node_thickness(args, k, x, y) for k, (x, y) in enumerate(points, 1)]
    out.append("*ELEMENT_SHELL_THICKNESS")
    out.append("$    EID     PID      N1      N2      N3      N4")
    states = []
    for eid, corners in enumerate(elements, 1):
        four = corners if len(corners) == 4 else corners + [corners[2]]
        out.append("%8d%8d" % (eid, PART) + "".join("%8d" % n for n in four))
        out.append("".join(real16(thickness[n - 1]) for n in four))
        cx = sum(points[n - 1][0] for n in corners) / len(corners)
        cy = sum(points[n - 1][1] for n in corners) / len(corners)
        states.append(ElementState(args, eid, (cx, cy)))
    out.append("*INITIAL_STRESS_SHELL")
    for eid, state in enumerate(states, 1):
        out.extend(stress_record(args, eid, state))
    out.append("*INITIAL_STRAIN_SHELL")
    for eid, state in enumerate(states, 1):
        out.extend(strain_record(args, eid, state))
    out.append("*END")
    with open(args.output, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(out) + "\n")


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="gmsh-blank.py",
        description="Writes an unstructured formed blank (a dynain state file) meshed by gmsh. "
                    "Same arguments, same bytes (with the same gmsh version).")
    parser.add_argument("--topology", choices=TOPOLOGIES, default="quaddom",
                        help="quaddom: recombined, mostly quads; mixed: quads on one side of a "
                             "slanted seam, triangles on the other; tria: triangles only; "
                             "quad: quads only (default quaddom)")
    parser.add_argument("--outline", choices=OUTLINES, default="rect",
                        help="rect: 100 x 60 plate; hole, holes: with one or two round holes; "
                             "notch: with a rectangular notch in an edge; ell: L-shaped "
                             "(default rect)")
    parser.add_argument("--shape", choices=SHAPES, default="flat",
                        help="flat; bent about an axis along y; domed (a spherical cap); "
                             "saddle; box (drawn: flat bottom, steep walls, flange) (default flat)")
    parser.add_argument("--size", type=float, default=7.0,
                        help="edge length on the surface, 2 to 20 (default 7)")
    parser.add_argument("--grade", type=float, default=1.0,
                        help="edge length by the holes and inner corners as a share of "
                             "--size, 0.2 to 1 (default 1: not graded)")
    parser.add_argument("--seed", type=int, default=1,
                        help="seed of the sizes' small variation, of gmsh and of the state values, "
                             "1 to 2147483647 (default 1)")
    parser.add_argument("-o", "--output", default="blank.dynain", help="file to write")
    args = parser.parse_args(argv)
    if not 2.0 <= args.size <= 20.0:
        parser.error("--size wants a number from 2 to 20")
    if not 0.2 <= args.grade <= 1.0:
        parser.error("--grade wants a number from 0.2 to 1")
    if not 1 <= args.seed <= 2147483647:
        parser.error("--seed wants a whole number from 1 to 2147483647")
    return args


def main(argv):
    args = parse_arguments(argv)
    layout = Rng(args.seed, Rng.LAYOUT, 1)
    args.wave = (layout.range(0.03, 0.09), layout.range(0.03, 0.09),
                 layout.range(0.0, 2.0 * math.pi), layout.range(0.0, 2.0 * math.pi))
    gmsh = load_gmsh()
    gmsh.initialize(argv=["gmsh-blank"], readConfigFiles=False)
    try:
        version = gmsh.option.getString("General.Version")
        nodes, elements = make_mesh(gmsh, args)
    finally:
        gmsh.finalize()
    points, elements = renumber(nodes, elements)
    points = [(single(x), single(y)) for x, y in points]
    check(points, elements, args.size)
    write(args, points, elements, version)
    quads = sum(1 for e in elements if len(e) == 4)
    print("%s: %d nodes, %d elements (%d quadrilaterals, %d triangles)"
          % (args.output, len(points), len(elements), quads, len(elements) - quads))


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except RuntimeError as error:
        sys.exit("gmsh-blank: %s" % error)
