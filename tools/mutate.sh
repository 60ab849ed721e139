#!/usr/bin/env bash
# Mutation check: proves that trimming the tests loses no fault they catch.
#
# tools/mutants.txt lists deliberate faults in the program (a flipped
# comparison, a field one column too narrow, a dropped constraint update...).
# In a scratch clone of the repository, never in this tree, the program is
# built once; then each fault in turn is put in, the build brought up to date
# and the tests run up to their first failure. A fault some test notices is
# "killed", one that every test passes "survived" (a gap in the tests); a
# fault whose text is no longer in its file is "stale", and one that does not
# compile "build fails". Run it before and after pruning or rewriting tests:
# what was killed before must still be killed.
#
# Usage: tools/mutate.sh [-d DIR] [-r REV | -w] [-t SECONDS] [-l LIST] [ID...]
#   ID...       only these faults (default: every one in the list)
#   -d DIR      scratch directory; kept, and reused by a later run (default: a new one under /tmp)
#   -r REV      the revision whose tests are judged (default: HEAD)
#   -w          HEAD with this tree's uncommitted changes and new files
#   -t SECONDS  time allowed to the tests of one fault (default: three times a run without faults, 120 at least)
#   -l LIST     the list of faults (default: mutants.txt beside this script)
# The result table goes to DIR/mutants-result.md and each fault's test output
# to DIR/logs/. Exit status: 0 when every fault was killed, 1 when one
# survived, was stale or did not build, 2 when the check itself cannot run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(git -C "$here" rev-parse --show-toplevel)
list=$here/mutants.txt
dir=
rev=HEAD
wip=0
limit=
usage() { sed -n '14,20s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2; exit 2; }
while getopts d:r:wt:l:h opt; do
  case $opt in
    d) dir=$OPTARG ;;
    r) rev=$OPTARG ;;
    w) wip=1 ;;
    t) limit=$OPTARG ;;
    l) list=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
if ((wip)) && [ "$rev" != HEAD ]; then echo "mutate: -w works on HEAD only" >&2; exit 2; fi
list=$(cd "$(dirname "$list")" && pwd)/$(basename "$list")

# The list is read by a small parser, so that code text with '|', quotes or
# backslashes needs no escaping. "list" prints id, file and what it breaks,
# tab-separated; "apply" puts one fault in (exit 3: text missing, 4: twice).
read -r -d '' parser <<'PY' || true
import re, sys

def parse(path):
    faults, current = [], None
    for number, raw in enumerate(open(path, encoding="utf-8"), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        head = re.match(r"\[([\w.-]+)\]\s+(\S+?):\s*(.*)$", line)
        body = line.lstrip()
        if head:
            current = {"id": head[1], "file": head[2], "what": head[3].strip(), "old": None, "new": None, "at": number}
            faults.append(current)
        elif current and body.startswith("- ") and current["old"] is None:
            current["old"] = body[2:].rstrip()
        elif current and (body == "+" or body.startswith("+ ")) and current["new"] is None:
            current["new"] = body[2:].rstrip()
        else:
            sys.exit(f"{path}:{number}: not part of a fault entry: {line}")
    seen = set()
    for f in faults:
        if not f["old"] or f["new"] is None or f["old"] == f["new"]:
            sys.exit(f"{path}:{f['at']}: fault {f['id']} needs a '- ' line and a different '+' line")
        if f["id"] in seen:
            sys.exit(f"{path}:{f['at']}: fault {f['id']} is listed twice")
        seen.add(f["id"])
    return faults

command, path = sys.argv[1], sys.argv[2]
faults = parse(path)
if command == "list":
    wanted = sys.argv[3:]
    unknown = [i for i in wanted if i not in {f["id"] for f in faults}]
    if unknown:
        sys.exit(f"{path}: no fault {', '.join(unknown)}")
    for f in faults:
        if not wanted or f["id"] in wanted:
            print(f"{f['id']}\t{f['file']}\t{f['what']}")
elif command == "apply":
    fault = next(f for f in faults if f["id"] == sys.argv[3])
    target = sys.argv[4] + "/" + fault["file"]
    try:
        text = open(target, encoding="utf-8").read()
    except OSError:
        sys.exit(3)
    found = text.count(fault["old"])
    if found != 1:
        sys.exit(3 if found == 0 else 4)
    open(target, "w", encoding="utf-8").write(text.replace(fault["old"], fault["new"]))
PY
faults=$(python3 -c "$parser" list "$list" "$@") || exit 2
[ -n "$faults" ] || { echo "mutate: $list lists no fault" >&2; exit 2; }

dir=${dir:-$(mktemp -d /tmp/corvex-mutate.XXXXXX)}
mkdir -p "$dir/logs"
dir=$(cd "$dir" && pwd)
src=$dir/src
build=$dir/build
sha=$(git -C "$root" rev-parse --verify "$rev^{commit}") || exit 2
start=$SECONDS

# The clone borrows this repository's objects (--shared) and never writes to it.
echo "Scratch copy of $(git -C "$root" log -1 --format='%h %s' "$sha" | cut -c1-70) in $dir"
[ -d "$src/.git" ] || git clone -q --shared --no-checkout "$root" "$src"
git -C "$src" checkout -q --force --detach "$sha"
git -C "$src" clean -qfdx
if ((wip)); then
  git -C "$root" diff --binary HEAD >"$dir/wip.diff"
  [ -s "$dir/wip.diff" ] && git -C "$src" apply --whitespace=nowarn "$dir/wip.diff"
  git -C "$root" ls-files -z --others --exclude-standard | tar -C "$root" --null -T - -cf - | tar -C "$src" -xf -
  # Committed in the scratch copy only, so that each fault is undone by a checkout.
  git -C "$src" add -A
  git -C "$src" -c user.name=mutate -c user.email=mutate@localhost commit -q --allow-empty -m "working tree"
fi

# The tests and every program they run; the IGES translator's tests where its toolkit is.
if [ ! -f "$build/build.ninja" ]; then
  nice -n 10 cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$dir/logs/configure.log" 2>&1 ||
    { echo "mutate: configuring failed, see $dir/logs/configure.log" >&2; exit 2; }
fi
targets=(corvex_tests)
if ninja -C "$build" -t targets all 2>/dev/null | grep '^iges_tests:' >/dev/null; then targets+=(iges_tests); fi
compile() { nice -n 10 ninja -C "$build" "${targets[@]}" </dev/null >"$1" 2>&1; }

# Runs the test programs, nearest the fault's file first, stopping at the
# first failure; on failure sets `first` to the test that failed (or to
# where the run crashed or ran out of time).
first=
run_tests() {
  local log=$1 seconds=$2 file=${3:-} bins=("${targets[@]}") bin rc
  [[ $file == iges/* && ${#bins[@]} -gt 1 ]] && bins=(iges_tests corvex_tests)
  : >"$log"
  for bin in "${bins[@]}"; do
    rc=0
    (cd "$build" && timeout -k 10 "$seconds" nice -n 10 "./$bin" --gtest_fail_fast --gtest_color=no) </dev/null >>"$log" 2>&1 || rc=$?
    ((rc == 0)) && continue
    local failed last
    failed=$(sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' "$log" | head -n 1)
    last=$(sed -n 's/^\[ RUN      \] //p' "$log" | tail -n 1)
    if ((rc == 124 || rc == 137)); then first="timed out in $last"
    elif [ -n "$failed" ]; then first=$failed
    else first="$bin exited with $rc in $last"; fi
    return 1
  done
  return 0
}

echo "Building without faults..."
compile "$dir/logs/build.log" || { echo "mutate: the unchanged tree does not build, see $dir/logs/build.log" >&2; exit 2; }
echo "Testing without faults..."
began=$SECONDS
if ! run_tests "$dir/logs/baseline.log" "${limit:-3600}"; then
  echo "mutate: the tests fail without any fault ($first), see $dir/logs/baseline.log" >&2
  exit 2
fi
clean=$((SECONDS - began))
if [ -z "$limit" ]; then limit=$((3 * clean)); ((limit >= 120)) || limit=120; fi
echo "The tests pass in ${clean}s; each fault gets ${limit}s."

current=
restore() { [ -z "$current" ] || git -C "$src" checkout -q -- "$current"; current=; }
trap restore EXIT
trap 'restore; exit 130' INT TERM

rows=()
bad=0
total=$(wc -l <<<"$faults")
n=0
while IFS=$'\t' read -r -u 3 id file what; do
  n=$((n + 1))
  mark=$SECONDS
  log=$dir/logs/$id.log
  first=
  rc=0
  python3 -c "$parser" apply "$list" "$id" "$src" </dev/null || rc=$?
  if ((rc == 3 || rc == 4)); then
    verdict=stale
    ((rc == 3)) && first="text not found" || first="text found more than once"
  elif ((rc != 0)); then
    echo "mutate: could not apply $id" >&2
    exit 2
  else
    current=$file
    if ! compile "$log"; then
      verdict="build fails"
      first=$(grep -m 1 'error:' "$log" | cut -c1-100 || true)
    elif run_tests "$log" "$limit" "$file"; then
      verdict=survived
    else
      verdict=killed
    fi
    restore
  fi
  [ "$verdict" = killed ] || bad=1
  printf '[%d/%d] %-9s %-12s %4ss  %s\n' "$n" "$total" "$id" "$verdict" $((SECONDS - mark)) "$first"
  rows+=("| $id | $file | $verdict | ${first//|/\\|} | ${what//|/\\|} |")
done 3<<<"$faults"

result=$dir/mutants-result.md
{
  echo "# Mutation check of $(git -C "$root" log -1 --format='%h' "$sha")$( ((wip)) && echo ' with uncommitted changes')"
  echo
  echo "| id | file | verdict | first failing test | what it breaks |"
  echo "| --- | --- | --- | --- | --- |"
  printf '%s\n' "${rows[@]}"
  echo
  for v in killed survived stale "build fails"; do
    c=$(printf '%s\n' "${rows[@]}" | grep -c "| $v |" || true)
    printf '%s: %d  ' "$v" "$c"
  done
  echo
  echo
  echo "Run time: $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s; tests without faults: ${clean}s, limit per fault: ${limit}s."
} >"$result"
echo
cat "$result"
echo
echo "Written to $result"
exit "$bad"
