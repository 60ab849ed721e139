#!/usr/bin/env bash
# Writes one configuration of a cutting sweep into a directory, runs the
# program on it there and prints what the judge finds:
#
#   tools/sweep-job.sh FAMILY GENERATOR SEED [DIR]
#   tools/sweep-job.sh lattice triangle/trim2d 17 /tmp/job
#
# DIR (default /tmp/sweep-FAMILY-GENERATOR-SEED) then holds blank.dynain,
# job.dyn, the program's job.dynain, its log job.log and picture.png (before
# and after, new free edges in magenta); run the job again with
# `corvexandrilo job.dyn` there. The build must be done (BUILD_DIR, default
# build/).
set -euo pipefail
if [ $# -lt 3 ]; then
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
dir=${4:-/tmp/sweep-$1-${2//\//-}-$3}
"$build/tools/corvex_sweep" job "$1" "$2" "$3" "$dir" || true
if [ -f "$dir/job.dynain" ] && [ -x "$build/corvexandrilo-view" ]; then
    (cd "$dir" && "$build/corvexandrilo-view" --deck job.dyn --after job.dynain --mesh -o picture.png > /dev/null 2>&1) &&
        echo "picture: $dir/picture.png"
fi
