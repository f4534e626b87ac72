#!/usr/bin/env bash
# The mutation check: each mutant of scripts/mutants.tsv (a comparison, an index or a sign
# flipped in a function the suites must guard) is applied in turn, the library and the named
# suites rebuilt and run; a mutant the suites do not fail has SURVIVED. Prints the table and
# exits 1 when any survived. Not part of CI (about a minute a mutant on two cores).
#   scripts/mutate.sh [NAME...]      only the mutants whose name contains one of NAME
#   QORV_MUTATE_JOBS=<n>             build with n jobs (default: every core)
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-mutate"
jobs="${QORV_MUTATE_JOBS:-$(nproc)}"  # QORV_MUTATE_JOBS=1 on a machine others build on
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORV_BUILD_TESTS=ON \
  -DQORV_BUILD_BENCH=OFF -DQORV_BUILD_PYTHON=OFF >/dev/null || exit 2
cmake --build "$build" -j"$jobs" >/dev/null || { echo "mutate: the unmutated tree does not build" >&2; exit 2; }
restore=""
# The original goes back with a new time, so the next build compiles it again.
trap '[[ -n "$restore" ]] && mv -f "$restore.orig" "$restore" && touch "$restore"' EXIT
survived=0
printf '%-34s %-46s %s\n' "mutant" "file" "result"
while IFS=$'\t' read -r name file suites before after; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  if (($#)); then
    keep=0
    for want in "$@"; do [[ "$name" == *"$want"* ]] && keep=1; done
    ((keep)) || continue
  fi
  path="$root/$file"
  cp "$path" "$path.orig"
  restore="$path"
  # The text to flip must occur exactly once: a mutant that no longer applies is an error.
  if ! python3 - "$path" "$before" "$after" <<'PY'
import sys
def unescape(t):
    out, i = "", 0
    while i < len(t):
        if t[i] == "\\" and i + 1 < len(t):
            out += {"n": "\n", "t": "\t", "\\": "\\"}.get(t[i + 1], t[i + 1])
            i += 2
        else:
            out += t[i]
            i += 1
    return out
path, before, after = sys.argv[1], unescape(sys.argv[2]), unescape(sys.argv[3])
text = open(path, encoding="utf-8").read()
if text.count(before) != 1:
    sys.exit(f"'{before}' occurs {text.count(before)} times")
open(path, "w", encoding="utf-8").write(text.replace(before, after))
PY
  then
    result="NOT APPLIED"
    survived=$((survived + 1))
  else
    targets=()
    # The report's check is a script that drives the tool, with no program of its own.
    for s in ${suites//,/ }; do [[ "$s" != report ]] && targets+=("${s}_tests"); done
    [[ "$suites" == *tool* || "$suites" == *report* ]] && targets+=(qorv_tool)
    if ! cmake --build "$build" -j"$jobs" --target "${targets[@]}" >/dev/null 2>&1; then
      result="caught (does not build)"
    elif (cd "$build" && ctest -R "^(${suites//,/|})\$" >/dev/null 2>&1); then
      result="SURVIVED"
      survived=$((survived + 1))
    else
      result="caught"
    fi
  fi
  mv -f "$path.orig" "$path"
  touch "$path"
  restore=""
  printf '%-34s %-46s %s\n' "$name" "$file" "$result"
done <"$root/scripts/mutants.tsv"
cmake --build "$build" -j"$jobs" >/dev/null
((survived == 0))
