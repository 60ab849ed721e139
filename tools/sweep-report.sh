#!/usr/bin/env bash
# Measures the cutting sweeps: runs every configuration of every family (the
# flat, lattice, random and unstructured sweeps and the stored cases), known faults
# included, and prints per family and generator how many are wrong, which
# rules they break, each wrong one with its first finding, and the
# known-faults tables as measured.
#
#   tools/sweep-report.sh [--update-tables] [GTEST_FILTER]
#
# --update-tables writes the measured tables into the sweeps' sources
# (tests/test_sweep*.cpp, tests/test_cutfaults.cpp); rebuild afterwards. A
# filter picks tests ('Cuts/LatticeSweep.*'); without one every sweep runs,
# as --update-tables wants. The report is
# also kept in BUILD_DIR/sweep-report.txt. The tests must be built (BUILD_DIR,
# default build/). CORVEX_SWEEP_PROGRAM=/path/to/corvexandrilo measures
# another build of the program with the same sweeps and judge;
# CORVEX_SWEEP_FIRST=N runs as many fresh seeds from N on instead of the
# committed ones (not with --update-tables).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
update=0
if [ "${1:-}" = "--update-tables" ]; then
    update=1
    shift
fi
filter=${1:-'Cuts/*:Regression/*'}
if [ $update = 1 ] && { [ $# -gt 0 ] || [ -n "${CORVEX_SWEEP_FIRST:-}" ]; }; then
    echo "--update-tables measures the committed seeds of whole families: give no filter nor CORVEX_SWEEP_FIRST" >&2
    exit 2
fi
report=$build/sweep-report.txt
rm -f "$report"
CORVEX_SWEEP_REPORT=$report "$build/corvex_tests" --gtest_filter="$filter" --gtest_brief=1 > "$build/sweep-report.log" 2>&1 || true
if [ ! -s "$report" ]; then
    echo "no report: see $build/sweep-report.log" >&2
    exit 1
fi
cat "$report"
[ $update = 1 ] || exit 0
python3 - "$report" "$root" <<'EOF'
import re, sys
report, root = sys.argv[1], sys.argv[2]
text = open(report).read()
measured = text[text.index('Known-faults tables as measured'):].split('\n')[1:]
ran = set(re.findall(r'^  (\w+): \d+ of \d+ wrong', text, re.M))
tables, family = {f: [] for f in ran}, None
for line in measured:
    m = re.match(r'^  (\w+):$', line)
    if m:
        family = m.group(1)
        continue
    m = re.match(r'^    (\{.*\}),$', line)
    if m and family:
        tables[family].append(m.group(1))
sources = {'lattice': 'test_sweeplattice.cpp', 'random': 'test_sweeprandom.cpp', 'gmsh': 'test_sweepgmsh.cpp',
           'cutfaults': 'test_cutfaults.cpp', 'flat': 'test_trim2d.cpp'}
for family, rows in tables.items():
    if family not in sources:
        continue
    path = root + '/tests/' + sources[family]
    source = open(path).read()
    body = ''.join('    ' + row + ',\n' for row in rows)
    source = re.sub(r'const sweep::Known kKnown\{[^;]*\};', lambda _: 'const sweep::Known kKnown{\n' + body + '};',
                    source, count=1)
    open(path, 'w').write(source)
    # A row is {"generator", {seed, seed, ...}}: as many commas as seeds.
    print('%s: %d wrong configurations listed in tests/%s' % (family, sum(r.count(',') for r in rows), sources[family]))
EOF
