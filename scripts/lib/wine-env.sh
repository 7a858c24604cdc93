# Shared by scripts/test, scripts/run and tools/wine/run-under-wine: the Wine environment of
# one build tree. Needs VARN_BUILD_DIR. Every build tree owns its prefix; ~/.wine is never used.

export WINEPREFIX="$VARN_BUILD_DIR/wineprefix"
# Under scripts/test every ctest entry holds one slot of the "wine" resource, which CTest names
# in CTEST_RESOURCE_GROUP_0_WINE ("id:3,slots:1"): the entry then runs in that slot's own copy
# of the warm prefix (its own registry, desktop folder and wineserver) on that slot's own
# Xvfb, both made by wine_slots_start, so that entries run side by side without a lock.
if [ -n "${CTEST_RESOURCE_GROUP_0_WINE:-}" ]; then
  varn_slot=${CTEST_RESOURCE_GROUP_0_WINE#id:}
  varn_slot="$VARN_BUILD_DIR/slots/${varn_slot%%,*}"
  if [ -f "$varn_slot/display" ]; then
    export WINEPREFIX="$varn_slot/prefix"
    DISPLAY=$(cat "$varn_slot/display")
    export DISPLAY
  fi
fi
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs, no desktop menu entries, and never Wine's own Core Audio:
# programs must reach the simulated one registered below, or fail loudly. Wine prefers its own
# programs in the system folder to a native file there: "schtasks.exe=n" makes it start the
# stand-in that wine_configure_prefix puts in place of Wine's schtasks.exe.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;mmdevapi=d;schtasks.exe=n"

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
    if [ -f "$WINEPREFIX/system.reg" ] && wine_configure_prefix; then touch "$WINEPREFIX/.varn-ready"; fi
  fi
  rmdir "$lock"
  [ -f "$WINEPREFIX/.varn-ready" ] || { echo "wine prefix creation failed, see $VARN_BUILD_DIR/wineboot.log" >&2; return 1; }
}

# Settings of the test prefix, at every start: "wineboot -u" resets both the Core Audio class
# registration and the system folder's programs.
# - the stand-in schtasks.exe (build/sim) over Wine's own in the system folder, where the
#   program starts it by its full path;
# Registry settings, imported in one Wine start:
# - our fake Core Audio server as the in-process server of the MMDeviceEnumerator class and of
#   the two audio policy classes (the current one and Vista's) that our own sound tool uses;
# - a virtual desktop, so that windows need no window manager (saves 2 s per GUI start);
# - a CJK font linked behind the UI fonts, or Chinese text draws as boxes;
# - no LogPixels of the user's: programs start at the default 96 DPI, even after a scenario
#   that changes it for its program died before it could put it back;
# - Marlett, the font of the caption buttons' glyphs: Debian's Wine does not find the fonts
#   of fonts-wine on its own (the caption shows "0 1 r"), but loads a font listed in the
#   system's Fonts key by its full path.
wine_configure_prefix() {
  local dll reg multi marlett=/usr/share/wine/fonts/marlett.ttf fonts=""
  local schtasks="$VARN_BUILD_DIR/sim/schtasks.exe" system32="$WINEPREFIX/drive_c/windows/system32"
  if [ -f "$schtasks" ]; then
    # Renamed into place, so that a Wine process that has the old file mapped keeps it intact.
    if ! cmp -s "$schtasks" "$system32/schtasks.exe"; then
      cp -f "$schtasks" "$system32/schtasks.exe.new" && mv -f "$system32/schtasks.exe.new" "$system32/schtasks.exe" || return 1
    fi
  else
    echo "wine_configure_prefix: $schtasks not built; Wine's own schtasks.exe stays" >&2
  fi
  if [ -f "$marlett" ]; then
    fonts='[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Fonts]'$'\n'
    fonts+='"Marlett (TrueType)"="Z:'$(echo "$marlett" | sed 's#/#\\\\#g')'"'
  fi
  dll="Z:$(echo "$VARN_BUILD_DIR/sim/audiosim_coreaudio.dll" | tr / '\\' | sed 's/\\/\\\\/g')"
  multi=$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei\0\0' | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
  reg="$VARN_BUILD_DIR/prefix-settings.reg"
  cat >"$reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{BCDE0395-E52F-467C-8E3D-C4579291692E}]
@="MMDeviceEnumerator class (audiosim)"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{BCDE0395-E52F-467C-8E3D-C4579291692E}\\InprocServer32]
@="$dll"
"ThreadingModel"="Both"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{870AF99C-171D-4F9E-AF0D-E63DF40C2BC9}]
@="CPolicyConfigClient (audiosim)"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{870AF99C-171D-4F9E-AF0D-E63DF40C2BC9}\\InprocServer32]
@="$dll"
"ThreadingModel"="Both"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{294935CE-F637-4E7C-A41B-AB255460B862}]
@="CPolicyConfigVistaClient (audiosim)"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{294935CE-F637-4E7C-A41B-AB255460B862}\\InprocServer32]
@="$dll"
"ThreadingModel"="Both"

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=-

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="1280x800"

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]
"Segoe UI"=hex(7):$multi
"Tahoma"=hex(7):$multi
"MS Shell Dlg"=hex(7):$multi

$fonts
REG
  wine regedit /S "$reg" </dev/null >/dev/null 2>&1
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

# Starts a private Xvfb on a free display: VARN_XVFB_DISPLAY and VARN_XVFB_LAUNCHED (its pid).
# xvfb_start keeps that pid as the one xvfb_stop ends; the slots keep theirs in a list.
xvfb_launch() {
  local n i
  for n in $(seq 90 190); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    VARN_XVFB_LAUNCHED=$!
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && { VARN_XVFB_DISPLAY=":$n"; return 0; }
      kill -0 "$VARN_XVFB_LAUNCHED" 2>/dev/null || break
      sleep 0.1
    done
    kill "$VARN_XVFB_LAUNCHED" 2>/dev/null
  done
  echo "could not start Xvfb" >&2
  return 1
}

# Starts a private Xvfb on a free display and exports DISPLAY.
xvfb_start() {
  xvfb_launch || return 1
  VARN_XVFB_PID=$VARN_XVFB_LAUNCHED
  export DISPLAY=$VARN_XVFB_DISPLAY
}

xvfb_stop() {
  [ -n "${VARN_XVFB_PID:-}" ] && kill "$VARN_XVFB_PID" 2>/dev/null
  VARN_XVFB_PID=
}

# wine_copy_prefix <prefix> <copy>: a copy whose system32 and winsxs files are hard links.
wine_copy_prefix() {
  local from=$1 to=$2 shared
  mkdir -p "$to" &&
    tar -C "$from" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/winsxs -cf - . |
    tar -C "$to" -xpf - || return 1
  for shared in drive_c/windows/system32 drive_c/windows/winsxs; do
    [ -d "$from/$shared" ] || continue
    rm -rf "${to:?}/$shared" && cp -al "$from/$shared" "$to/$shared" || return 1
  done
}

# wine_slots_start <count>: the slots of the "wine" resource for one ctest run, made afresh from
# the warm prefix (which must be configured and its wineserver ended, so that its registry is
# on disk): build/slots/<i>/prefix whose desktop links to build/slots/<i>/desktop rather than to
# the Unix home, as Wine makes it (still a link, as Wine's profile folders are), an Xvfb
# (build/slots/<i>/display) and a keeper per slot, and the file that lists the slots to ctest
# as its resources, build/slots/resources.json.
wine_slots_start() {
  local count=$1 i dir listed="" desktop copies=""
  VARN_SLOT_XVFB_PIDS=""
  rm -rf "$VARN_BUILD_DIR/slots" && mkdir -p "$VARN_BUILD_DIR/slots" || return 1
  # The system folder and the side-by-side store are 97 % of the prefix (about 670 MB) and
  # nothing writes to them in place once the prefix is made: those are hard links to the warm
  # prefix's files. Wine replaces a registry file by renaming a new one over it, and every
  # other file is a copy of its own.
  for i in $(seq 0 $((count - 1))); do
    mkdir -p "$VARN_BUILD_DIR/slots/$i" && wine_copy_prefix "$WINEPREFIX" "$VARN_BUILD_DIR/slots/$i/prefix" &
    copies="$copies $!"
  done
  # Only the copies: a bare wait would wait for the Xvfb started before too.
  for i in $copies; do wait "$i"; done
  for i in $(seq 0 $((count - 1))); do
    dir="$VARN_BUILD_DIR/slots/$i"
    [ -f "$dir/prefix/.varn-ready" ] || { echo "wine_slots_start: copy $i failed" >&2; return 1; }
    desktop="$dir/prefix/drive_c/users/$(id -un)/Desktop"
    if [ -L "$desktop" ]; then rm -f "$desktop" && mkdir "$dir/desktop" && ln -s "$dir/desktop" "$desktop" || return 1; fi
    xvfb_launch || return 1
    VARN_SLOT_XVFB_PIDS="$VARN_SLOT_XVFB_PIDS $VARN_XVFB_LAUNCHED"
    echo "$VARN_XVFB_DISPLAY" >"$dir/display"
    WINEPREFIX="$dir/prefix" DISPLAY=$VARN_XVFB_DISPLAY wine "$VARN_BUILD_DIR/sim/wine_keeper.exe" 3600 \
      </dev/null >/dev/null 2>&1 &
    listed="$listed${listed:+,}{\"id\":\"$i\",\"slots\":1}"
  done
  echo "{\"version\":{\"major\":1,\"minor\":0},\"local\":[{\"wine\":[$listed]}]}" >"$VARN_BUILD_DIR/slots/resources.json"
}

# Ends every Wine process of every slot, then the slots' Xvfb servers.
wine_slots_stop() {
  local prefix pid
  for prefix in "$VARN_BUILD_DIR"/slots/*/prefix; do
    [ -d "$prefix" ] || continue
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
  done
  for pid in ${VARN_SLOT_XVFB_PIDS:-}; do kill "$pid" 2>/dev/null; done
  VARN_SLOT_XVFB_PIDS=""
}
