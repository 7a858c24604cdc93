#!/usr/bin/env bash
# Builds the release packages twice from these sources, at the same time, each in a fresh
# build tree and dist folder of its own, and requires the same bytes. The second run goes under
# another time zone and umask, so that a local time or a file mode reaching a package shows too. A
# difference is named by its offsets (cmp -l) and, for the setup program and the programs, by
# their PE time stamps.
# Usage: release_reproducible.sh <work dir> [<sound tool exe>]
#   With a tool exe, both runs ship it (VARN_RELEASE_TOOL) instead of building target sound_tool.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib/release.sh"
work=${1:?usage: release_reproducible.sh <work dir> [<sound tool exe>]}
[ -n "${2:-}" ] && export VARN_RELEASE_TOOL=$2

rm -rf "$work" && mkdir -p "$work" || exit 1
start=$(date +%s)
# Both at once, at the lowest priority: the scenarios beside them mostly wait, and what they
# compute must not wait for a compiler (a process start under Wine that waits too long fails),
# so the builds take the cores the scenarios leave idle.
declare -A builder
for run in a b; do
  if [ "$run" = a ]; then zone=UTC mask=022; else zone=Asia/Kolkata mask=077; fi
  (umask "$mask" && TZ=$zone nice -n 19 "$root/scripts/release" --build-dir "$work/$run/build" --dist "$work/$run/dist") \
    >"$work/$run.log" 2>&1 &
  builder[$run]=$!
done
for run in a b; do
  wait "${builder[$run]}" || { cat "$work/$run.log"; echo "FAILED: release run $run"; exit 1; }
done
echo "two release builds: $(($(date +%s) - start)) s"

failures=0
names_a=$(cd "$work/a/dist" && ls)
names_b=$(cd "$work/b/dist" && ls)
if [ "$names_a" != "$names_b" ]; then
  echo "FAILED: the runs made different files: [$names_a] and [$names_b]"
  exit 1
fi
for name in $names_a; do
  if cmp -s "$work/a/dist/$name" "$work/b/dist/$name"; then
    echo "ok: $name is the same ($(stat -c %s "$work/a/dist/$name") bytes)"
  else
    echo "FAILED: $name differs at $(cmp -l "$work/a/dist/$name" "$work/b/dist/$name" | wc -l) bytes, the first:"
    cmp -l "$work/a/dist/$name" "$work/b/dist/$name" | head -n 5
    failures=$((failures + 1))
  fi
done
for exe in "$work"/{a,b}/dist/*-setup.exe "$work"/{a,b}/build/VARNListenFix.exe; do
  echo "PE time stamp $(release_pe_stamp "$exe"): ${exe#"$work"/}"
done
[ "$failures" -eq 0 ] || exit 1
echo "all packages the same"
