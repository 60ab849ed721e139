#!/usr/bin/env bash
# Builds the program and runs it on a bundled example job.
# Usage: tools/run-example.sh [example name, default: anneal]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/tools/setup.sh" || exit 1
name=${1:-anneal}
src="$root/examples/$name"
[ -d "$src" ] || { echo "No example named $name in examples/" >&2; exit 2; }
# Run on a copy so the bundled files stay as committed.
work="$BUILD_DIR/examples/$name"
rm -rf "$work" && mkdir -p "$work" && cp -r "$src"/. "$work"/
deck=$(ls "$work"/*.dyn | head -n 1)
(cd "$work" && "$BUILD_DIR/corvexandrilo" "$(basename "$deck")" </dev/null)
status=$?
echo
echo "Exit status: $status"
echo "Output and message log are in: $work"
ls -l "$work"
exit $status
