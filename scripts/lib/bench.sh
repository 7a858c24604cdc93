# Shared by scripts/bench and scripts/soak: a program folder with the stand-in tool beside it
# on a world of its own, started under Wine, watched from Linux (/proc) and read from its log.
# Needs VARN_BUILD_DIR and wine-env.sh.

bench_winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

# Runs a Windows helper with its output in files, never a pipe; the exit code is the helper's.
bench_wine() {
  local out
  out=$(mktemp "${TMPDIR:-/tmp}/bench-wine.XXXXXX")
  wine "$@" </dev/null >"$out" 2>&1
  local rc=$?
  rm -f "$out"
  return $rc
}

# bench_app <dir> [<program>]: <dir>/app holds the program (default: the build's) and the
# stand-in tool; <dir>/world the default world, with the tool's time stamps switched on; the
# card input and the phone output are the saved choices. AUDIOSIM_DIR names the world.
bench_app() {
  local dir=$1 program=${2:-$VARN_BUILD_DIR/VARNListenFix.exe}
  mkdir -p "$dir/app" "$dir/world" "$dir/out"
  cp "$program" "$VARN_BUILD_DIR/sim/SoundVolumeView.exe" "$dir/app/" || return 1
  export AUDIOSIM_DIR
  AUDIOSIM_DIR=$(bench_winpath "$dir/world")
  bench_wine "$VARN_BUILD_DIR/sim/audiosim.exe" init || { echo "bench: no world" >&2; return 1; }
  : >"$dir/world/journal-times.log"
  bench_wine "$VARN_BUILD_DIR/bench/bench_probe.exe" choose || { echo "bench: settings not written" >&2; return 1; }
}

# bench_start <dir> <program file name>: starts it from <dir>/app; bench_pid is the Linux pid of
# the Wine process that is the program (Wine's loader becomes the program it starts).
bench_start() {
  (cd "$1/app" && exec wine "$1/app/$2") </dev/null >"$1/out/wine-$2.out" 2>&1 &
  bench_pid=$!
}

bench_wait_routes() {  # bench_wait_routes <dir> <timeout ms>
  bench_wine "$VARN_BUILD_DIR/bench/bench_probe.exe" routes "$2" "$(bench_winpath "$1/out/routes.txt")"
}

bench_rss_kib() {  # bench_rss_kib <pid> [<field of /proc/pid/status>, VmRSS by default]
  awk -v f="${2:-VmRSS}:" '$1 == f { print $2 }' "/proc/$1/status" 2>/dev/null
}

# The program's log files, oldest first, as one text without CRs.
bench_log_text() {
  local app=$1 n
  for n in 5 4 3 2 1; do [ -f "$app/VARNListenFix.log.$n" ] && tr -d '\r' <"$app/VARNListenFix.log.$n"; done
  [ -f "$app/VARNListenFix.log" ] && tr -d '\r' <"$app/VARNListenFix.log"
}

# Prints "<1|0> <text>": every line of every log file is one record in the line format.
bench_log_format_check() {
  local lines bad
  lines=$(bench_log_text "$1" | wc -l)
  bad=$(bench_log_text "$1" | grep -c -v -E '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \[(TRACE|INFO |WARN |ERROR)\] \[[^]]+\] ')
  echo "$(( lines > 0 && bad == 0 )) log: $lines lines, $bad not in the line format"
}

# Prints "<1|0> <text>": every task that started ended, within <limit ms>, and none is open.
bench_task_check() {
  bench_log_text "$1" | awk -v limit="$2" '
    / 任务开始 \[/ { open++; started++ }
    / 任务结束 op=/ {
      open--
      s = $0; sub(/.*耗时=/, "", s)
      if (s + 0 > longest) longest = s + 0
    }
    END {
      printf "%d worker: %d tasks, longest %d ms (limit %d), %d open at the end\n",
        (open == 0 && longest <= limit && started > 0), started, longest, limit, open
    }'
}

# Milliseconds of the day of a log line's time stamp.
bench_log_ms() { awk '{ split($2, t, /[:.]/); print ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }'; }

bench_end_program() {
  bench_wine "$VARN_BUILD_DIR/sim/window_command.exe" 205 --wait-gone
}
