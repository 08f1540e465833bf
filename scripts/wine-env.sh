# Sourced by the scripts and by each build folder's wine-run.sh: the one definition of the Wine
# environment a build's programs run in. Each build folder has its own private prefix
# (<build>/wineprefix); nothing here touches the user's own prefix or the system's Wine set-up.
#
#   korvane_wine_env <build folder> <x86_64|i686|wow64>   exports the environment for that
#                                   build; wow64: a 64-bit prefix that also runs the 32-bit
#                                   programs, as 64-bit Windows does (scripts/wine32.sh)
#   korvane_wine_prefix_ready                       creates the prefix once (locked)
#   korvane_wine_start / korvane_wine_stop          the prefix's persistent wineserver
#   korvane_build <x86_64|i686> <build folder> [targets...]   configures and builds, with the
#                                   tests unless KORVANE_BUILD_TESTS=OFF
KORVANE_ROOT=${KORVANE_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# The private 32-bit Wine that scripts/wine32.sh unpacks (never the system's wine32).
KORVANE_WINE32_ROOT=${KORVANE_WINE32_ROOT:-$KORVANE_ROOT/build/wine32}

korvane_wine_env() {
  KORVANE_BUILD=$1
  KORVANE_ARCH=$2
  # Wine takes the ANSI code page from the Unix locale (C: 1252). KORVANE_WINE_LOCALE asks for
  # another one, in a prefix of its own, so that the prefix's services start under it too.
  local locale=${KORVANE_WINE_LOCALE:-C.UTF-8}
  export WINEPREFIX="$KORVANE_BUILD/wineprefix${KORVANE_WINE_LOCALE:+-$KORVANE_WINE_LOCALE}"
  export WINEDEBUG=-all
  # No Mono or Gecko: nothing here needs them, and their installers would stall a headless start.
  export WINEDLLOVERRIDES='mscoree,mshtml='
  export LC_ALL=$locale
  # The native wineserver serves 32- and 64-bit clients of the same Wine version alike.
  export WINESERVER=/usr/lib/wine/wineserver64
  case "$KORVANE_ARCH" in
    x86_64)
      export WINEARCH=win64
      KORVANE_WINE=/usr/lib/wine/wine64
      ;;
    i686)
      export WINEARCH=win32
      KORVANE_WINE="$KORVANE_WINE32_ROOT/root/usr/lib/wine/wine"
      ;;
    wow64)
      export WINEARCH=win64
      KORVANE_WINE="$KORVANE_WINE32_ROOT/wow64/usr/lib/wine/wine64"
      ;;
    *)
      echo "wine-env: unknown architecture '$KORVANE_ARCH'" >&2
      return 2
      ;;
  esac
}

# Runs the build's Wine loader with address-space randomisation off for it and every process it
# starts (the personality is inherited). Wine lays out each new process's address space before
# its libraries load; under randomisation that occasionally fails, and the process dies during
# start-up (CreateProcess then reports ERROR_INTERNAL_ERROR, 1359) or exit, at random. Measured
# here: 4 of 24,000 starts of the server failed so with randomisation, none of 42,000 without.
korvane_wine() {
  setarch "$(uname -m)" -R "$KORVANE_WINE" "$@"
}

# Creates the prefix on first use. The marker is written once the prefix is fully set up.
korvane_wine_prefix_ready() {
  [ -f "$WINEPREFIX/.korvane-ready" ] && return 0
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.korvane-ready" ]; then
      if [ "$KORVANE_ARCH" != x86_64 ]; then
        # The private 32-bit Wine lays out its own prefixes (zlib1.dll before wineboot, then the
        # same wineserver restart as below).
        local kind=--prefix
        [ "$KORVANE_ARCH" = i686 ] || kind=--wow64-prefix
        bash "$KORVANE_ROOT/scripts/wine32.sh" "$KORVANE_WINE32_ROOT" "$kind" "$WINEPREFIX" \
          >/dev/null 9>&-
      else
        korvane_wine wineboot -i >/dev/null 2>&1 </dev/null 9>&-
        # The services wineboot leaves running do not answer COM activations reliably (a local
        # server's class object is never found): start this prefix's wineserver afresh,
        # persistent and detached from every pipe.
        "$WINESERVER" -k >/dev/null 2>&1
        "$WINESERVER" -w >/dev/null 2>&1
        "$WINESERVER" -p >/dev/null 2>&1 </dev/null 9>&-
        touch "$WINEPREFIX/.korvane-ready"
      fi
    fi
  ) 9>"$WINEPREFIX.lock"
}

# A persistent wineserver detached from every pipe: otherwise each Wine start would wait for a
# fresh wineserver to let go of the caller's output.
korvane_wine_start() {
  korvane_wine_prefix_ready
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null 9>&- || true
  korvane_wine cmd /c exit >/dev/null 2>&1 </dev/null 9>&- || true
}

# Stops the prefix's wineserver and those of the build's prefixes for other locales.
korvane_wine_stop() {
  local prefix
  for prefix in "$WINEPREFIX" "$KORVANE_BUILD"/wineprefix-*; do
    [ -d "$prefix" ] || continue
    WINEPREFIX=$prefix "$WINESERVER" -k >/dev/null 2>&1 || true
    WINEPREFIX=$prefix "$WINESERVER" -w >/dev/null 2>&1 || true
  done
}

korvane_build() {
  local arch=$1 build=$2
  shift 2
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake -S "$KORVANE_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DKORVANE_TESTS="${KORVANE_BUILD_TESTS:-ON}" \
    -DCMAKE_TOOLCHAIN_FILE="$KORVANE_ROOT/cmake/toolchain-$arch-w64-mingw32.cmake" >/dev/null
  cmake --build "$build" -j "${KORVANE_JOBS:-$(nproc)}" "${targets[@]}"
}
