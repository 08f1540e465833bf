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
