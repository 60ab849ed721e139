#!/usr/bin/env bash
# Throughput benchmark: generates flat blanks of 100k, 500k, 1M and 2M
# elements once (cached in $CORVEX_BENCH_DIR, default /var/tmp/corvex-bench),
# then runs the annealing job, the 2D trim job, a 2D lance along the same curve,
# the trim with adaptive refinement first, a 2D trim along a closed 2,000-point
# curve (trim2k) and a 3D trim along a closed 10,000-point curve lying on the
# blank (trim3d) on each several times and prints one table: input size,
# median wall and user CPU time, peak memory, throughput and the ratio to
# copying the same dynain with cat, measured in the same run. The machine may
# be shared: user CPU time is the steadier figure.
# Usage: bench/run.sh [runs per job, default 3] [sizes, default "100000 500000 1000000 2000000"]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${1:-3}
sizes=${2:-"100000 500000 1000000 2000000"}
cache=${CORVEX_BENCH_DIR:-/var/tmp/corvex-bench}
mkdir -p "$cache"

"$root/tools/setup.sh" >/dev/null
gen="$build/tools/corvex_genblank"
exe="$build/corvexandrilo"

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# Wall seconds, user CPU seconds and peak resident kilobytes of one command,
# its output file removed first so no run pays for deleting the previous one.
measure() {
  local out=$1; shift
  rm -f "$out"
  /usr/bin/time -f "%e %U %M" -o "$cache/.time" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$cache/.time"
}

# The decks with long curves, written beside a cached blank without writing
# the blank again (the generator is deterministic, so the scratch copy is the
# same blank).
curve_deck() {
  local n=$1 kind=$2 points=$3 dir=$cache/flat-$1
  [ -f "$dir/blank_$kind$points.dyn" ] && return
  mkdir -p "$dir/scratch"
  "$gen" --shape flat --elements "$n" --levels 2 --seed 1 --deck "$kind" --curve-points "$points" \
    -o "$dir/scratch/blank.dynain" >/dev/null
  sed "s/genblank_$kind\$/genblank_$kind$points/" "$dir/scratch/blank_$kind.dyn" > "$dir/blank_$kind$points.dyn"
  rm -rf "$dir/scratch"
}

printf '%-8s %-11s %9s %10s %8s %11s %9s %8s %s\n' elements job "input MB" "median s" "user s" "peak MB" "MB/s" "x cat" "result"
for n in $sizes; do
  dir="$cache/flat-$n"
  mkdir -p "$dir"
  if [ ! -f "$dir/blank.dynain" ]; then
    "$gen" --shape flat --elements "$n" --levels 2 --seed 1 --deck anneal -o "$dir/blank.dynain" >/dev/null
    "$gen" --shape flat --elements "$n" --levels 2 --seed 1 --deck trim2d -o "$dir/blank.dynain" >/dev/null
  fi
  # A 2D lance along the same curve (trim flag 0) and the trim with adaptive
  # refinement along the curve first.
  awk 'done == 0 && /^\*DEFINE_CURVE_TRIM/ {card = 1} card && !/^\$/ && !/^\*/ {$0 = sprintf("%10d%10d%10d%10d%10s", $1, $2, 0, $4, $5); card = 0; done = 1} {print}' \
    "$dir/blank_trim2d.dyn" | sed 's/genblank_trim2d/genblank_lance2d/' > "$dir/blank_lance2d.dyn"
  sed -e 's/genblank_trim2d/genblank_refine/' \
      -e 's/^\*INCLUDE$/*CONTROL_ADAPTIVE_CURVE\n         1         0         2       0.5         0\n*INCLUDE/' \
    "$dir/blank_trim2d.dyn" > "$dir/blank_refine.dyn"
  curve_deck "$n" trim2d 2000
  curve_deck "$n" trim3d 10000
  mb=$(awk -v b="$(stat -c %s "$dir/blank.dynain")" 'BEGIN {printf "%.0f", b / 1048576}')
  cat "$dir/blank.dynain" >/dev/null  # both the copy and the jobs start from a warm page cache
  cats=()
  for ((i = 0; i < runs; i++)); do
    rm -f "$dir/copy"
    cats+=("$( { /usr/bin/time -f "%e" sh -c "cat '$dir/blank.dynain' > '$dir/copy'"; } 2>&1 )")
  done
  rm -f "$dir/copy"
  cat_s=$(printf '%s\n' "${cats[@]}" | median)
  for job in anneal trim2d lance2d refine trim2d2000 trim3d10000; do
    times=(); users=(); peak=0
    for ((i = 0; i < runs; i++)); do
      read -r t u m < <(cd "$dir" && measure "$dir/genblank_$job.dynain" "$exe" "blank_$job.dyn")
      times+=("$t"); users+=("$u"); [ "$m" -gt "$peak" ] && peak=$m
    done
    result=$(cd "$dir" && { "$exe" "blank_$job.dyn" >/dev/null 2>&1 && echo "output written" || echo "exit $? (no output)"; })
    rm -f "$dir/genblank_$job.dynain"
    t=$(printf '%s\n' "${times[@]}" | median)
    u=$(printf '%s\n' "${users[@]}" | median)
    awk -v n="$n" -v job="$job" -v mb="$mb" -v t="$t" -v u="$u" -v peak="$peak" -v c="$cat_s" -v r="$result" \
      'BEGIN {printf "%-8s %-11s %9d %10.2f %8.2f %11.0f %9.0f %8.1f %s\n", n, job, mb, t, u, peak / 1024, mb / t, t / c, r}'
  done
  printf '%-8s %-11s %9d %10.2f %8s %11s %9.0f %8.1f\n' "$n" cat "$mb" "$cat_s" - - "$(awk -v mb="$mb" -v t="$cat_s" 'BEGIN {print mb / t}')" 1
done
