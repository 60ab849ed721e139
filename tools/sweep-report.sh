#!/usr/bin/env bash
# Measures the cutting sweeps: runs every configuration of every family (the
# flat, lattice, random and unstructured sweeps and the stored cases), or of
# the families and generators named, and prints per family and generator how
# many are wrong, which rules they break, and each wrong one with its first
# finding.
#
#   tools/sweep-report.sh [--first N] [FAMILY[/GENERATOR]]...
#   tools/sweep-report.sh --first 500000 lattice random/ring/trim2d
#
# --first N runs as many fresh seeds from N on instead of the committed ones.
# The report is also kept in BUILD_DIR/sweep-report.txt. The build must be
# done (BUILD_DIR, default build/). CORVEX_SWEEP_PROGRAM=/path/to/corvexandrilo
# measures another build of the program with the same sweeps and judge.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
status=0
"$build/tools/corvex_sweep" report "$@" > "$build/sweep-report.txt" || status=$?
cat "$build/sweep-report.txt"
# 1 says that some configuration is wrong, which the report shows; anything else is a failure to run.
[ $status -le 1 ]
