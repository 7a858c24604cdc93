# Installs the Debian packages the build and the tests need, only those that are missing.
# Of the mingw-w64 toolchains only the one the toolchain file names: 64-bit, posix threads (the
# whole mingw-w64 set adds the 32-bit and win32-thread compilers, three times as much to fetch
# and unpack on a new machine). Debian's Wine leaves its own fonts to fonts-wine; without its
# Marlett the caption buttons draw as the letters "0 1 r". A CJK font draws the Chinese texts.
varn_install_deps() {
  local wanted=(g++-mingw-w64-x86-64-posix wine wine64 xvfb googletest cmake ninja-build fonts-wqy-microhei fonts-wine "$@")
  local missing=() p
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -q >/dev/null || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# Configures (once) and builds the tree in $VARN_BUILD_DIR.
# In a git checkout the programs are linked as a release links them, with the commit's time
# as their PE time stamp (scripts/lib/release.sh): the program under test is then byte for byte
# the one a release of this commit ships, and release_reproducible compares this build with one
# fresh release build instead of making two. A program linked at another commit's time is
# linked again; ninja alone would not see the reason.
varn_build() {
  local src=$1 werror=OFF epoch="" exe
  [ "${CI:-}" = true ] && werror=ON
  if [ ! -f "$VARN_BUILD_DIR/build.ninja" ]; then
    cmake -S "$src" -B "$VARN_BUILD_DIR" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVARN_WERROR=$werror || return 1
  fi
  source "$src/scripts/lib/release.sh"
  if epoch=$(release_epoch "$src" 2>/dev/null); then
    for exe in "$VARN_BUILD_DIR/VARNListenFix.exe" "$VARN_BUILD_DIR/tool/SoundVolumeView.exe"; do
      release_stamped "$exe" "$epoch" || rm -f "$exe"
    done
  fi
  env ${epoch:+SOURCE_DATE_EPOCH=$epoch} cmake --build "$VARN_BUILD_DIR" -j 2
}
