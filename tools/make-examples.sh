#!/usr/bin/env bash
# Regenerates the cutting examples in examples/ from the blank generator and the IGES
# writer: same tools, same bytes. examples/anneal is written by hand and left alone.
# Usage: tools/make-examples.sh   (BUILD_DIR names the build tree, default build/)
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] ||
    { echo "No build tree in $build: run tools/setup.sh first (or set BUILD_DIR)" >&2; exit 1; }
cmake --build "$build" --parallel 2 --target corvex_genblank corvex_igeswrite >/dev/null
genblank=$build/tools/corvex_genblank
igeswrite=$build/tools/corvex_igeswrite
[ -x "$igeswrite" ] || { echo "corvex_igeswrite was not built: the 3D examples need OpenCASCADE" >&2; exit 1; }

# Blanks small enough to commit: three integration points, no history variables.
blank() {  # folder, then generator options
    local dir=$1
    shift
    rm -rf "$dir" && mkdir -p "$dir"
    "$genblank" --nthick 3 --nhisv 0 "$@" -o "$dir/blank.dynain"
}

# The nodes of a blank as "id x y z", from the fixed columns of its *NODE rows.
nodes() {
    awk '/^\*/ { inside = ($0 ~ /^\*NODE/); next }
         inside && !/^\$/ { printf "%d %.9g %.9g %.9g\n", substr($0, 1, 8), substr($0, 9, 16),
                            substr($0, 25, 16), substr($0, 41, 16) }' "$1"
}

# The part ids of a blank's shell elements, ascending.
parts() {
    awk '/^\*/ { inside = ($0 ~ /^\*ELEMENT_SHELL/); row = 0; next }
         inside && !/^\$/ { if (row++ % 2 == 0) print substr($0, 9, 8) + 0 }' "$1" | sort -n -u
}

# The cards every cutting deck shares: the parts to cut, their section, the set and the
# cut request. The section's thickness is the generator's default sheet.
cut_cards() {  # blank file
    local part
    local -a ids
    mapfile -t ids < <(parts "$1")
    for part in "${ids[@]}"; do
        printf '*PART\n$  part id  section\n%10d%10d\n' "$part" 1
    done
    printf '*SECTION_SHELL\n$ section\n%10d\n%10.3f%10.3f%10.3f%10.3f\n' 1 1 1 1 1
    printf '*SET_PART_LIST\n$   set id\n%10d\n' 1
    printf '%10d' "${ids[@]}"
    printf '\n*ELEMENT_TRIM\n$   set id\n%10d\n' 1
}

projection_along_z() {
    printf '*DEFINE_VECTOR\n$ vector id    tail x    tail y    tail z    head x    head y    head z\n'
    printf '%10d%10.1f%10.1f%10.1f%10.1f%10.1f%10.1f\n' 1 0 0 0 0 0 1
}

# A closed superellipse |x/a|^p + |y/b|^p = 1 as deck point lines, the first point repeated.
superellipse() {  # cx cy a b p count
    awk -v cx="$1" -v cy="$2" -v a="$3" -v b="$4" -v p="$5" -v n="$6" 'BEGIN {
        pi = atan2(0, -1)
        for (k = 0; k <= n; k++) {
            t = 2 * pi * ((k % n) + 0.3) / n
            c = cos(t); s = sin(t)
            r = 1 / ((abs(c) ^ p + abs(s) ^ p) ^ (1 / p))
            printf "%20.6f%20.6f\n", cx + a * r * c, cy + b * r * s
        }
    }
    function abs(v) { return v < 0 ? -v : v }'
}

# Extent of a flat blank: "width height".
extent() { nodes "$1" | awk 'NR == 1 || $2 > w { w = $2 } NR == 1 || $3 > h { h = $3 } END { print w, h }'; }

# The wall of a drawn cup: the node rows just below and just above half its depth, and
# the height halfway between them with the radius there, so that a circle there runs
# through the middle of that ring of elements. Prints "z r bottom_z".
cup_wall() {
    nodes "$1" | awk '
        { z[NR] = $4; r[NR] = sqrt($2 * $2 + $3 * $3); if (NR == 1 || $4 < low) low = $4 }
        END {
            half = 0.5 * low
            for (k = 1; k <= NR; k++) {
                if (z[k] <= half && (!below || z[k] > zb)) { below = 1; zb = z[k]; rb = r[k] }
                if (z[k] > half && (!above || z[k] < za)) { above = 1; za = z[k]; ra = r[k] }
            }
            printf "%.4f %.4f %.6f\n", 0.5 * (zb + za), 0.5 * (rb + ra), low
        }'
}

# The node nearest the middle of the cup's bottom.
bottom_seed() {
    nodes "$1" | awk -v low="$2" '
        { d = $2 * $2 + $3 * $3 + ($4 - low) * ($4 - low)
          if (NR == 1 || d < best) { best = d; id = $1 } }
        END { print id }'
}

ex=$root/examples

# --- trim2d-out: keep what lies inside a closed curve (trim flag -1) -------------------
dir=$ex/trim2d-out
blank "$dir" --shape flat --elements 400 --levels 0 --seed 11
read -r w h < <(extent "$dir/blank.dynain")
{
    printf '*KEYWORD\n*KEYWORD_ID\ntrim2d_out\n'
    printf '$ Trim a flat sheet along a closed rounded rectangle seen along z and keep its inside.\n'
    cut_cards "$dir/blank.dynain"
    projection_along_z
    printf '*DEFINE_CURVE_TRIM\n$   set id      type trim flag vector id     ratio\n'
    printf '%10d%10d%10d%10d%10.2f\n' 1 0 -1 1 0.25
    superellipse "$(awk -v w="$w" 'BEGIN { print 0.5 * w }')" "$(awk -v h="$h" 'BEGIN { print 0.5 * h }')" \
        "$(awk -v w="$w" 'BEGIN { print 0.39 * w }')" "$(awk -v h="$h" 'BEGIN { print 0.37 * h }')" 4 72
    printf '*INCLUDE\nblank.dynain\n*END\n'
} >"$dir/trim2d-out.dyn"

# --- trim2d-hole: a hole from an IGES circle (trim flag 1 removes the inside) ----------
dir=$ex/trim2d-hole
blank "$dir" --shape flat --elements 400 --levels 0 --seed 12
read -r w h < <(extent "$dir/blank.dynain")
read -r cx cy radius < <(awk -v w="$w" -v h="$h" 'BEGIN {
    printf "%.3f %.3f %.3f\n", 0.5 * w + 1.3, 0.5 * h - 0.7, 0.22 * (w < h ? w : h) }')
"$igeswrite" -o "$dir/hole.igs" circle "$cx" "$cy" 0 "$radius" 0 0 1
{
    printf '*KEYWORD\n*KEYWORD_ID\ntrim2d_hole\n'
    printf '$ Cut a round hole, given as an IGES circle, out of the middle of a flat sheet.\n'
    cut_cards "$dir/blank.dynain"
    projection_along_z
    printf '*DEFINE_CURVE_TRIM\n$   set id      type trim flag vector id     ratio\n'
    printf '%10d%10d%10d%10d%10.2f\nhole.igs\n' 1 2 1 1 0.25
    printf '*INCLUDE\nblank.dynain\n*END\n'
} >"$dir/trim2d-hole.dyn"

# --- lance2d: an open slit that starts and ends inside the sheet (trim flag 0) ---------
dir=$ex/lance2d
blank "$dir" --shape flat --elements 400 --levels 0 --seed 13
read -r w h < <(extent "$dir/blank.dynain")
{
    printf '*KEYWORD\n*KEYWORD_ID\nlance2d\n'
    printf '$ Slit a flat sheet along a bent line that ends inside it on both sides.\n'
    cut_cards "$dir/blank.dynain"
    projection_along_z
    printf '*DEFINE_CURVE_TRIM\n$   set id      type trim flag vector id     ratio\n'
    printf '%10d%10d%10d%10d%10.2f\n' 1 0 0 1 0.25
    awk -v w="$w" -v h="$h" 'BEGIN {
        split("0.213 0.331 0.497 0.641 0.787", fx, " ")
        split("0.287 0.402 0.533 0.561 0.549", fy, " ")
        for (k = 1; k <= 5; k++) printf "%20.6f%20.6f\n", fx[k] * w, fy[k] * h
    }'
    printf '*INCLUDE\nblank.dynain\n*END\n'
} >"$dir/lance2d.dyn"

# --- trim3d: cut the cup's wall along a circle halfway down, keep the bottom -----------
dir=$ex/trim3d
blank "$dir" --shape cup --elements 400 --levels 1 --seed 21
read -r zc rc low < <(cup_wall "$dir/blank.dynain")
seed=$(bottom_seed "$dir/blank.dynain" "$low")
"$igeswrite" -o "$dir/wall.igs" circle 0 0 "$zc" "$rc" 0 0 1
{
    printf '*KEYWORD\n*KEYWORD_ID\ntrim3d\n'
    printf '$ Cut a drawn cup around its wall along the local normal; the seed node in the\n'
    printf '$ middle of the bottom keeps the bottom and the lower wall.\n'
    cut_cards "$dir/blank.dynain"
    printf '*DEFINE_CURVE_TRIM_3D\n'
    printf '$   set id      type trim flag vector id     ratio       gap      seed\n'
    printf '%10d%10d%10d%10d%10.2f%10.2f%10d\nwall.igs\n' 1 2 1 0 0.25 2.0 "$seed"
    printf '*INCLUDE\nblank.dynain\n*END\n'
} >"$dir/trim3d.dyn"

# --- lance3d: slit a quarter of the cup's wall along an arc (no seed: a lance) ---------
dir=$ex/lance3d
blank "$dir" --shape cup --elements 400 --levels 0 --seed 22
read -r zc rc low < <(cup_wall "$dir/blank.dynain")
"$igeswrite" -o "$dir/slit.igs" arc 0 0 "$zc" "$rc" 0 0 1 17.3 103.9
{
    printf '*KEYWORD\n*KEYWORD_ID\nlance3d\n'
    printf '$ Slit a drawn cup along an arc of its wall, halfway down, cut along the local normal.\n'
    cut_cards "$dir/blank.dynain"
    printf '*DEFINE_CURVE_TRIM_3D\n'
    printf '$   set id      type trim flag vector id     ratio       gap      seed\n'
    printf '%10d%10d%10d%10d%10.2f%10.2f%10d\nslit.igs\n' 1 2 0 0 0.25 2.0 0
    printf '*INCLUDE\nblank.dynain\n*END\n'
} >"$dir/lance3d.dyn"

# --- refine: a 2D trim that first refines the elements along the curve ----------------
# Refinement splits elements below level (level - 1), so level 2 splits the coarse
# elements once; the blank already carries refined zones and their constraints.
dir=$ex/refine
blank "$dir" --shape flat --elements 400 --levels 1 --seed 31
read -r w h < <(extent "$dir/blank.dynain")
{
    printf '*KEYWORD\n*KEYWORD_ID\nrefine\n'
    printf '$ Refine a flat sheet one level along a closed curve, then trim it and keep the inside.\n'
    cut_cards "$dir/blank.dynain"
    printf '*CONTROL_ADAPTIVE_CURVE\n$   refine    unused     level min length    closed\n'
    printf '%10d%10d%10d%10.3f%10d\n' 1 0 2 1.0 0
    projection_along_z
    printf '*DEFINE_CURVE_TRIM\n$   set id      type trim flag vector id     ratio\n'
    printf '%10d%10d%10d%10d%10.2f\n' 1 0 -1 1 0.25
    superellipse "$(awk -v w="$w" 'BEGIN { print 0.47 * w }')" "$(awk -v h="$h" 'BEGIN { print 0.52 * h }')" \
        "$(awk -v w="$w" 'BEGIN { print 0.33 * w }')" "$(awk -v h="$h" 'BEGIN { print 0.31 * h }')" 2.5 60
    printf '*INCLUDE\nblank.dynain\n*END\n'
} >"$dir/refine.dyn"

du -sh "$ex"/*/ | sed "s|$root/||"
