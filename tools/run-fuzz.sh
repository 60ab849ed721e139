#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/, or $FUZZ_BUILD_DIR)
# and runs each of them in turn for the given number of seconds (default 60),
# one process at a time. Corpora grow in build-fuzz/corpus/<target>; inputs
# that crash are kept as build-fuzz/artifacts/<target>-crash-*.
# Usage: tools/run-fuzz.sh [seconds] [target...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_textfile fuzz_deck fuzz_state fuzz_iges fuzz_cut)

CXX=${CXX:-clang++-14} CC=${CC:-clang-14} BUILD_DIR=$build "$root/tools/setup.sh" \
  -DCORVEX_FUZZ=ON -DCORVEX_TESTS=OFF -DCORVEX_WERROR=ON

# Seeds: the bundled example job, small generated blanks and decks, the IGES
# test files, and every kept regression input.
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/text" "$seeds/deck" "$seeds/state" "$seeds/iges" "$seeds/cut"
gen=$build/tools/corvex_genblank
for shape in flat cup hat; do
  (cd "$seeds/state" && "$gen" --shape "$shape" --elements 100 --levels 1 --nthick 3 --nhisv 4 \
     --deck trim2d -o "blank.dynain" >/dev/null && mv blank.dynain "$shape.dynain" &&
   mv blank_trim2d.dyn "../deck/$shape-trim2d.dyn")
done
(cd "$seeds/deck" && "$gen" --shape flat --elements 100 --levels 0 --nthick 3 --nhisv 0 \
   --deck anneal -o "blank.dynain" >/dev/null && mv blank.dynain ../state/plain.dynain)
cp "$root"/examples/anneal/*.dyn "$seeds/deck/"
cp "$root"/examples/anneal/*.dynain "$seeds/state/"
cp "$root"/tests/data/iges/*.igs "$root"/tests/data/iges/*.iges "$seeds/iges/"
if [ -d "$root/tests/data/regress" ]; then
  for f in "$root"/tests/data/regress/*; do
    case "$f" in
      *.dyn) cp "$f" "$seeds/deck/" ;;
      *.igs|*.iges) cp "$f" "$seeds/iges/" ;;
      *) cp "$f" "$seeds/state/" ;;
    esac
  done
fi
cp "$seeds"/deck/* "$seeds"/state/* "$seeds/text/"
# The cutting target reads its bytes as curve choices: any bytes will do to start.
for i in 1 2 3 4 5 6 7 8; do head -c $((16 * i)) /dev/urandom > "$seeds/cut/random$i"; done

status=0
for target in "${targets[@]}"; do
  case "$target" in
    fuzz_textfile) seed=text ;;
    fuzz_deck) seed=deck ;;
    fuzz_state) seed=state ;;
    fuzz_iges) seed=iges ;;
    fuzz_cut) seed=cut ;;
    *) echo "unknown target $target" >&2; exit 2 ;;
  esac
  mkdir -p "$build/corpus/$target" "$build/artifacts"
  extra=()
  [ -f "$root/fuzz/$target.dict" ] && extra+=("-dict=$root/fuzz/$target.dict")
  echo "== $target for ${seconds}s"
  if [ "$target" = fuzz_iges ]; then
    # The toolkit under the translator keeps caches for the whole process (not leaks of ours),
    # and crashes on some malformed entities, which the program survives by translating in a
    # child process: such crashes are kept as artifacts and the run goes on. Check the stack
    # of each artifact for frames of iges/.
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
    extra+=(-fork=1 -ignore_crashes=1)
  fi
  if [ "$target" = fuzz_cut ]; then
    # Each finding is a cut the mesh check refused; the run goes on to collect
    # them all (build-fuzz/artifacts/fuzz_cut-crash-*), and CORVEX_FUZZ_DUMP
    # turns one into a deck.
    extra+=(-fork=1 -ignore_crashes=1)
  fi
  if ! "$build/fuzz/$target" "$build/corpus/$target" "$seeds/$seed" "${extra[@]}" \
      -max_total_time="$seconds" -max_len=65536 -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-"; then
    status=1
  fi
  unset ASAN_OPTIONS
done
exit $status
