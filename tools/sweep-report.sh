#!/usr/bin/env bash
# Measures the cutting sweeps: runs every configuration of every family (the
# flat, lattice, random and unstructured sweeps and the stored cases) and
# prints per family and generator how many are wrong, which rules they break,
# and each wrong one with its first finding.
#
#   tools/sweep-report.sh [GTEST_FILTER]
#
# A filter picks tests ('Cuts/LatticeSweep.*'); without one every sweep runs.
# The report is also kept in BUILD_DIR/sweep-report.txt. The tests must be
# built (BUILD_DIR, default build/). CORVEX_SWEEP_PROGRAM=/path/to/corvexandrilo
# measures another build of the program with the same sweeps and judge;
# CORVEX_SWEEP_FIRST=N runs as many fresh seeds from N on instead of the
# committed ones.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
filter=${1:-'Cuts/*:Regression/*'}
report=$build/sweep-report.txt
rm -f "$report"
CORVEX_SWEEP_REPORT=$report "$build/corvex_tests" --gtest_filter="$filter" --gtest_brief=1 > "$build/sweep-report.log" 2>&1 || true
if [ ! -s "$report" ]; then
    echo "no report: see $build/sweep-report.log" >&2
    exit 1
fi
cat "$report"
