#!/usr/bin/env bash
# Two independent builds of the release packages from these sources must give the same bytes.
# Run a packages the programs of this build tree ($VARN_BUILD_DIR), which scripts/test links
# as a release links them (scripts/lib/deps.sh, varn_build); run b is a fresh release build in a
# build tree and dist folder of its own, under another time zone and umask, so that a local
# time, a file mode or a build path reaching a package shows too. When this tree's programs
# do not carry the commit's time stamp (a build made by hand), run a builds afresh as well. A
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
epoch=$(release_epoch "$root") || exit 1
start=$(date +%s)
program_a="$work/a/build/VARNListenFix.exe" tree_program="" tree_tool=""
if [ -n "${VARN_BUILD_DIR:-}" ]; then
  tree_program="$VARN_BUILD_DIR/VARNListenFix.exe"
  tree_tool=$(release_tool_path "$VARN_BUILD_DIR")
  if release_stamped "$tree_program" "$epoch" && release_stamped "$tree_tool" "$epoch"; then
    program_a=$tree_program
  fi
fi
# Run b (and run a when it builds) at the lowest priority: the scenarios beside them mostly
# wait, and what they compute must not wait for a compiler (a process start under Wine that
# waits too long fails), so the builds take the cores the scenarios leave idle.
declare -A builder
for run in a b; do
  if [ "$run" = a ]; then zone=UTC mask=022; else zone=Asia/Kolkata mask=077; fi
  if [ "$run" = a ] && [ "$program_a" = "$tree_program" ]; then
    echo "run a: the programs of $VARN_BUILD_DIR, linked at the commit's time"
    (umask "$mask" && export TZ=$zone SOURCE_DATE_EPOCH=$epoch &&
     release_package "$root" "$tree_program" "$tree_tool" "$work/a/dist" "$epoch") >"$work/a.log" 2>&1 &
  else
    echo "run $run: a fresh release build in $work/$run/build"
    (umask "$mask" && TZ=$zone nice -n 19 "$root/scripts/release" --build-dir "$work/$run/build" --dist "$work/$run/dist") \
      >"$work/$run.log" 2>&1 &
  fi
  builder[$run]=$!
done
for run in a b; do
  wait "${builder[$run]}" || { cat "$work/$run.log"; echo "FAILED: release run $run"; exit 1; }
done
echo "both runs: $(($(date +%s) - start)) s"

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
for exe in "$work"/{a,b}/dist/*-setup.exe "$program_a" "$work/b/build/VARNListenFix.exe"; do
  echo "PE time stamp $(release_pe_stamp "$exe"): ${exe#"$work"/}"
done
[ "$failures" -eq 0 ] || exit 1
echo "all packages the same"
