# Shared by scripts/test, scripts/run and tools/wine/run-under-wine: the Wine environment of
# one build tree. Needs VARN_BUILD_DIR. Every build tree owns its prefix; ~/.wine is never used.

export WINEPREFIX="$VARN_BUILD_DIR/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"

# Creates the prefix once (about ten seconds); safe when several test programs start at once.
wine_prepare_prefix() {
  [ -f "$WINEPREFIX/.varn-ready" ] && return 0
  local lock="$VARN_BUILD_DIR/.wineprefix.lock" waited=0
  until mkdir "$lock" 2>/dev/null; do
    sleep 0.2; waited=$((waited + 1))
    [ -f "$WINEPREFIX/.varn-ready" ] && return 0
    if [ "$waited" -gt 600 ]; then echo "wine prefix lock stuck: $lock" >&2; return 1; fi
  done
  if [ ! -f "$WINEPREFIX/.varn-ready" ]; then
    wineboot --init </dev/null >"$VARN_BUILD_DIR/wineboot.log" 2>&1
    wineserver -w
    if [ -f "$WINEPREFIX/system.reg" ]; then touch "$WINEPREFIX/.varn-ready"; fi
  fi
  rmdir "$lock"
  [ -f "$WINEPREFIX/.varn-ready" ] || { echo "wine prefix creation failed, see $VARN_BUILD_DIR/wineboot.log" >&2; return 1; }
}

# A long-lived Wine process keeps the wineserver warm, so later starts are cheap.
wine_start_keeper() {
  wine "$VARN_BUILD_DIR/sim/wine_keeper.exe" 3600 </dev/null >/dev/null 2>&1 &
  VARN_KEEPER_PID=$!
}

# Ends every Wine process of the prefix; must run before the Xvfb it used goes away.
wine_stop() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
}

# Starts a private Xvfb on a free display and exports DISPLAY.
xvfb_start() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    VARN_XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return 0; }
      kill -0 "$VARN_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$VARN_XVFB_PID" 2>/dev/null
  done
  echo "could not start Xvfb" >&2
  return 1
}

xvfb_stop() {
  [ -n "${VARN_XVFB_PID:-}" ] && kill "$VARN_XVFB_PID" 2>/dev/null
  VARN_XVFB_PID=
}
