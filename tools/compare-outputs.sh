#!/usr/bin/env bash
# Hashes everything the program writes for the bundled examples and for every
# configuration of the cutting sweeps, so that a change meant to leave the
# behaviour alone (a file split, a helper folded, tests pruned) can be shown
# to change no output byte:
#
#   tools/compare-outputs.sh LIST              # writes the hashes to LIST
#   tools/compare-outputs.sh LIST --against OLD  # and compares them with OLD
#
# Take LIST on the commit before the change and compare on the commit after
# it; the exit status is 1 when anything differs. The build must be done
# (BUILD_DIR, default build/). A run takes about as long as the sweeps (a
# minute or two).
set -euo pipefail
if [ $# -ne 1 ] && { [ $# -ne 3 ] || [ "$2" != --against ]; }; then
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
list=$(realpath -m "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/hashes"

# The examples: each in a directory of the same name every time, since the
# message log names the deck by its path. The run report's timings and memory
# differ from run to run and are left out.
for example in "$root"/examples/*/; do
    name=$(basename "$example")
    cp -r "$example" "$work/$name"
    deck=$(cd "$work/$name" && ls ./*.dyn | head -1)
    status=0
    (cd "$work/$name" && "$build/corvexandrilo" "$deck" < /dev/null > run.out 2>&1) || status=$?
    for f in "$work/$name"/*; do
        base=$(basename "$f")
        [ -e "$example/$base" ] && [ "$base" != blank.dynain ] && cmp -s "$f" "$example/$base" && continue
        case "$base" in
        run.out) hash=$(sed "s|$work|WORK|g" "$f" | grep -v '^Date\|seconds\|Elapsed\|[0-9]:[0-9][0-9]:[0-9]' | sha256sum) ;;
        *.report.json) hash=$(grep -v '"phases"\|"peak_memory_kib"' "$f" | sha256sum) ;;
        *.messag) hash=$(sed "s|$work|WORK|g" "$f" | sha256sum) ;;
        *) hash=$(sha256sum < "$f") ;;
        esac
        echo "example $name $base status $status ${hash%% *}" >> "$work/hashes"
    done
done

# The sweeps, every configuration.
: > "$work/sweeps"
"$build/tools/corvex_sweep" report --digests "$work/sweeps" > "$work/sweeps.log" 2>&1 || true
sed 's/^/sweep /' "$work/sweeps" >> "$work/hashes"
sort "$work/hashes" > "$list"
echo "$(grep -c '^example' "$list") example outputs and $(grep -c '^sweep' "$list") sweep configurations hashed into $list"

if [ $# -eq 3 ]; then
    if diff "$3" "$list" > "$work/diff"; then
        echo "the same, byte for byte, as $3"
    else
        echo "differs from $3:"
        head -40 "$work/diff"
        exit 1
    fi
fi
