# Installs the Debian packages the build and the tests need, only those that are missing.
# Debian's Wine leaves its own fonts to fonts-wine; without its Marlett the caption buttons
# draw as the letters "0 1 r". A CJK font draws the Chinese texts.
varn_install_deps() {
  local wanted=(mingw-w64 wine wine64 xvfb googletest cmake ninja-build fonts-wqy-microhei fonts-wine "$@")
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
varn_build() {
  local src=$1 werror=OFF
  [ "${CI:-}" = true ] && werror=ON
  if [ ! -f "$VARN_BUILD_DIR/build.ninja" ]; then
    cmake -S "$src" -B "$VARN_BUILD_DIR" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVARN_WERROR=$werror || return 1
  fi
  cmake --build "$VARN_BUILD_DIR" -j 2
}
