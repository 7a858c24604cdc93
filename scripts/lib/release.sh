# Shared by scripts/release and the release tests: the release build and its two packages.
# Every byte of a package follows from the sources and one time, the commit's: the programs'
# link time stamps, the installer's file times and the zip's entry times all take it.

release_version() {  # release_version <source dir>: the version in the top CMakeLists.txt
  sed -n 's/^project(VARNListenFix VERSION \([0-9.]*\).*/\1/p' "$1/CMakeLists.txt"
}

# The time the packages carry: SOURCE_DATE_EPOCH when it is set, else the time of the
# checkout's commit.
release_epoch() {  # release_epoch <source dir>
  local epoch=${SOURCE_DATE_EPOCH:-}
  if [ -z "$epoch" ]; then
    epoch=$(git -C "$1" log -1 --format=%ct 2>/dev/null)
    [ -n "$epoch" ] || { echo "release: $1 is no git checkout; set SOURCE_DATE_EPOCH" >&2; return 1; }
  fi
  case $epoch in
    ''|*[!0-9]*) echo "release: SOURCE_DATE_EPOCH is not a number of seconds: $epoch" >&2; return 1 ;;
  esac
  echo "$epoch"
}

# The sound tool to ship: VARN_RELEASE_TOOL when set (an exe built elsewhere), else the
# build's target sound_tool.
release_tool_path() {  # release_tool_path <build dir>
  if [ -n "${VARN_RELEASE_TOOL:-}" ]; then echo "$VARN_RELEASE_TOOL"; else echo "$1/tool/SoundVolumeView.exe"; fi
}

# Configures <build dir> as a release build and builds the program and, unless
# VARN_RELEASE_TOOL names one, the sound tool. Needs SOURCE_DATE_EPOCH: the linker takes it as
# the programs' time stamp.
release_build() {  # release_build <source dir> <build dir>
  local src=$1 build=$2 werror=OFF targets=(VARNListenFix)
  [ "${CI:-}" = true ] && werror=ON
  [ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "release: SOURCE_DATE_EPOCH is not set" >&2; return 1; }
  mkdir -p "$build" || return 1
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVARN_WERROR=$werror >"$build/release-configure.log" 2>&1 ||
    { cat "$build/release-configure.log" >&2; return 1; }
  if [ -n "${VARN_RELEASE_TOOL:-}" ]; then
    [ -f "$VARN_RELEASE_TOOL" ] || { echo "release: VARN_RELEASE_TOOL=$VARN_RELEASE_TOOL is no file" >&2; return 1; }
  elif ! ninja -C "$build" -t targets all 2>/dev/null | grep -q '^sound_tool:'; then
    echo "release: this checkout has no target sound_tool (our SoundVolumeView.exe);" \
         "set VARN_RELEASE_TOOL=<path of an exe> to ship another build of it" >&2
    return 1
  else
    targets+=(sound_tool)
  fi
  # A program linked at an earlier commit would keep that commit's time stamp, and ninja sees
  # no reason to link it again: both are linked anew.
  rm -f "$build/VARNListenFix.exe" "$build/tool/SoundVolumeView.exe"
  cmake --build "$build" -j 2 --target "${targets[@]}"
}

# Whether <exe> exists and carries <epoch> as its PE time stamp.
release_stamped() {  # release_stamped <exe> <epoch>
  [ -f "$1" ] && [ "$(release_pe_stamp "$1" 2>/dev/null)" = "$2" ]
}

# The PE header's TimeDateStamp of an exe, as seconds since 1970.
release_pe_stamp() {  # release_pe_stamp <exe>
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
assert data[pe:pe + 4] == b"PE\0\0", "no PE header"
print(struct.unpack_from("<I", data, pe + 8)[0])
PY
}

# Makes <dist>/VARNListenFix-<version>-setup.exe, <dist>/VARNListenFix-<version>-portable.zip
# and <dist>/SHA256SUMS from the given program and sound tool, all carrying time <epoch>.
release_package() {  # release_package <source dir> <program> <tool> <dist dir> <epoch>
  local src=$1 program=$2 tool=$3 dist=$4 epoch=$5 version name stage short
  version=$(release_version "$src")
  [ -n "$version" ] || { echo "release: no version in $src/CMakeLists.txt" >&2; return 1; }
  short=${version%.*.*}
  name=VARNListenFix-$version
  local f
  for f in "$program" "$tool"; do
    [ -f "$f" ] || { echo "release: $f is missing" >&2; return 1; }
  done
  # makensis reads and writes relative to the script's folder: every path absolute.
  mkdir -p "$dist" || return 1
  src=$(realpath "$src") && program=$(realpath "$program") && tool=$(realpath "$tool") && dist=$(realpath "$dist") ||
    return 1
  stage="$dist/.stage"
  rm -rf "$stage" && mkdir -p "$stage/$name" || return 1
  cp "$program" "$stage/$name/VARNListenFix.exe" && cp "$tool" "$stage/$name/SoundVolumeView.exe" || return 1
  # Notepad before Windows 10 1903 reads text without a byte-order mark as the ANSI code page
  # and shows LF-only lines as one: UTF-8 with a BOM and CRLF lines.
  { printf '\357\273\277'; sed -e "s/V7\.3/V$short/" -e 's/$/\r/' "$src/packaging/portable-readme.txt"; } \
    >"$stage/$name/说明.txt" || return 1
  touch -d "@$epoch" "$stage/$name"/* || return 1

  rm -f "$dist/$name-setup.exe" "$dist/$name-portable.zip" "$dist/SHA256SUMS"
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage/$name" \
           -DOUTFILE="$dist/$name-setup.exe" -DICON="$src/src/app/resources/app.ico" \
           "$src/packaging/installer.nsi" >"$stage/makensis.log" 2>&1 ||
    { cat "$stage/makensis.log" >&2; echo "release: makensis failed" >&2; return 1; }
  python3 "$src/packaging/make_zip.py" "$dist/$name-portable.zip" "$epoch" "$name" \
          "$stage/$name/VARNListenFix.exe" "$stage/$name/SoundVolumeView.exe" "$stage/$name/说明.txt" ||
    { echo "release: the zip could not be made" >&2; return 1; }
  (cd "$dist" && sha256sum "$name-setup.exe" "$name-portable.zip" >SHA256SUMS) || return 1
  rm -rf "$stage"
}
