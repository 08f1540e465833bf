# Sourced by the scripts: the private Wine prefix of the x86_64 build, and starting/stopping its
# wineserver. Nothing here touches the user's own prefix.
KORVANE_ROOT=${KORVANE_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# The x86_64 build folder whose prefix is used (a developer may keep several build folders).
KORVANE_BUILD_X64=${KORVANE_BUILD_X64:-$KORVANE_ROOT/build/x86_64}
export WINEPREFIX="$KORVANE_BUILD_X64/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='

# A persistent wineserver detached from every pipe: otherwise each Wine start would wait for a
# fresh wineserver to let go of the caller's output.
korvane_wine_start() {
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null || true
  "$KORVANE_BUILD_X64/wine-run.sh" cmd /c exit >/dev/null 2>&1 </dev/null || true
}

korvane_wine_stop() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
}

# Configures and builds the x86_64 tree in folder $1 (targets: the rest of the arguments, or all).
korvane_build_x64() {
  local build=$1
  shift
  cmake -S "$KORVANE_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KORVANE_ROOT/cmake/toolchain-x86_64-w64-mingw32.cmake" >/dev/null
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$build" -j "${KORVANE_JOBS:-2}" "${targets[@]}"
}
