# shellcheck shell=bash
# Sourced by the scripts and by each build folder's wine-run.sh: the one definition of the Wine
# environment a build's programs run in, and of how its prefixes are made and started. Each
# build folder has its own private prefix (<build>/wineprefix; <build>/wineprefix-wow64 for wow64);
# nothing here touches the user's own prefix or the system's Wine set-up.
#
#   korvane_wine_env <build folder> <x86_64|i686|wow64>   exports the environment for that
#                                   build's prefix; wow64: a 64-bit prefix that also runs the
#                                   32-bit programs, as 64-bit Windows does
#   korvane_wine_use <prefix folder> <x86_64|i686|wow64>  the same for any prefix folder
#   korvane_wine_prefix_ready       creates the exported prefix once (locked); i686 and wow64
#                                   first set up the private 32-bit Wine (scripts/wine32.sh)
#   korvane_wine_prefix_make <prefix folder> <arch> <log file>   makes one prefix (no lock)
#   korvane_wine_start / korvane_wine_stop          the prefix's persistent wineserver
#   korvane_build <x86_64|i686> <build folder> [targets...]   configures and builds, with the
#                                   tests unless KORVANE_BUILD_TESTS=OFF
KORVANE_ROOT=${KORVANE_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# The private 32-bit Wine that scripts/wine32.sh unpacks (never the system's wine32).
KORVANE_WINE32_ROOT=${KORVANE_WINE32_ROOT:-$KORVANE_ROOT/build/wine32}
# The native wineserver serves 32- and 64-bit clients of the same Wine version alike.
KORVANE_WINESERVER=/usr/lib/wine/wineserver64

korvane_wine_use() {
  local prefix=$1 arch=$2 loader winearch=win64
  case "$arch" in
    x86_64) loader=/usr/lib/wine/wine64 ;;
    i686) loader=$KORVANE_WINE32_ROOT/root/usr/lib/wine/wine winearch=win32 ;;
    # The system's wine64 would start no 32-bit child: korvane_wine_wow64_tree says why.
    wow64) loader=$KORVANE_WINE32_ROOT/wow64/usr/lib/wine/wine64 ;;
    *)
      echo "wine-env: unknown architecture '$arch'" >&2
      return 2
      ;;
  esac
  # Wine takes the ANSI code page from the Unix locale (C: 1252). KORVANE_WINE_LOCALE asks for
  # another one (korvane_wine_env gives it a prefix of its own).
  export WINEPREFIX=$prefix WINEARCH=$winearch LC_ALL=${KORVANE_WINE_LOCALE:-C.UTF-8}
  export WINEDEBUG=-all
  # No Mono or Gecko: nothing here needs them, and their installers would stall a headless start.
  export WINEDLLOVERRIDES='mscoree,mshtml='
  export WINESERVER=$KORVANE_WINESERVER
  KORVANE_ARCH=$arch
  KORVANE_WINE=$loader
}

korvane_wine_env() {
  KORVANE_BUILD=$1
  # A locale of its own gets a prefix of its own, so that the prefix's services start under it;
  # so does WoW64, the 64-bit prefix of a build beside its own kind.
  local kind=
  [ "$2" != wow64 ] || kind=-wow64
  korvane_wine_use "$1/wineprefix$kind${KORVANE_WINE_LOCALE:+-$KORVANE_WINE_LOCALE}" "$2"
}

# Runs the exported loader with address-space randomisation off for it and every process it
# starts (the personality is inherited). Wine lays out each new process's address space before
# its libraries load; under randomisation that occasionally fails, and the process dies during
# start-up (CreateProcess then reports ERROR_INTERNAL_ERROR, 1359) or exit, at random. Measured
# here: 4 of 24,000 starts of the server failed so with randomisation, none of 42,000 without.
korvane_wine() {
  setarch "$(uname -m)" -R "$KORVANE_WINE" "$@"
}

# korvane_wine_within <seconds> <program> [arguments...]: korvane_wine, ended after <seconds>.
korvane_wine_within() {
  timeout "$1" setarch "$(uname -m)" -R "$KORVANE_WINE" "${@:2}"
}

# Runs a command with /dev/null for stdio and no other descriptor of ours: a persistent wineserver
# holding a caller's pipe (or the prefix lock) open would keep that caller waiting.
korvane_detached() {
  (
    for fd in /proc/"$BASHPID"/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] && eval "exec $fd>&-"
    done
    "$@" </dev/null >/dev/null 2>&1
  )
}

# korvane_wineserver_end <prefix folder>: ends that prefix's wineserver and waits (at most 60 s)
# until it has gone. Never fails, also under set -e: a prefix without a running wineserver is
# already there.
korvane_wineserver_end() {
  WINEPREFIX=$1 "$KORVANE_WINESERVER" -k >/dev/null 2>&1 9>&- || true
  WINEPREFIX=$1 timeout 60 "$KORVANE_WINESERVER" -w >/dev/null 2>&1 9>&- || true
}

# Ends one prefix's Wine after a failed set-up: its wineserver, then any Wine process that never
# reached it. Such a process still names the prefix in its environment, which is how it is found,
# by id; only Wine's own programs are ended (the shells and ctest above inherit WINEPREFIX too),
# and only this prefix's: other Wine sessions run on this machine.
korvane_wine_prefix_kill() {
  local prefix=$1 d pid exe
  korvane_wineserver_end "$prefix"
  for d in /proc/[0-9]*; do
    pid=${d#/proc/}
    [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] && continue
    exe=$(readlink "$d/exe" 2>/dev/null) || continue
    case ${exe##*/} in wine*) ;; *) continue ;; esac
    if tr '\0' '\n' 2>/dev/null <"$d/environ" | grep -qxF "WINEPREFIX=$prefix"; then
      kill -9 "$pid" 2>/dev/null
    fi
  done
  return 0
}

# The 32-bit user32.dll imports zlib1.dll (scripts/wine32.sh marks a copy as a Wine DLL): into
# the prefix's folder of 32-bit system files, system32, or syswow64 in a WoW64 prefix. Replaced
# by a rename, never rewritten in place: running processes of the prefix map it.
korvane_wine_put_zlib() {
  local prefix=$1 arch=$2 dir
  dir=$prefix/drive_c/windows/system32
  [ "$arch" != wow64 ] || dir=$prefix/drive_c/windows/syswow64
  cmp -s "$KORVANE_WINE32_ROOT/zlib1.dll" "$dir/zlib1.dll" && return 0
  mkdir -p "$dir" && cp "$KORVANE_WINE32_ROOT/zlib1.dll" "$dir/zlib1.dll.tmp" &&
    mv -f "$dir/zlib1.dll.tmp" "$dir/zlib1.dll"
}

# korvane_wine_prefix_boot <prefix folder> <arch> <log file>: wineboot -i in that prefix. For the
# 32-bit kinds zlib1.dll goes in first: without it every 32-bit program wineboot starts after
# laying out the system folders fails to load user32, and the prefix ends up half set up
# (wineboot exit 1).
korvane_wine_prefix_boot() (
  local prefix=$1 arch=$2 log=$3
  korvane_wine_use "$prefix" "$arch" || exit 2
  if [ "$arch" != x86_64 ]; then
    korvane_wine_put_zlib "$prefix" "$arch" || exit 1
  fi
  korvane_wine_within 300 wineboot -i >>"$log" 2>&1 </dev/null 9>&-
)

# The services a fresh wineboot leaves running do not answer COM activations reliably (a local
# server's class object is never found): the prefix's wineserver is restarted once, persistent
# and detached from every pipe, and the services start again under it.
korvane_wine_restart() (
  korvane_wine_use "$1" "$2" || exit 2
  korvane_wineserver_end "$1"
  korvane_detached "$WINESERVER" -p
  korvane_detached korvane_wine_within 60 cmd /c exit
)

# korvane_wine_wow64_tree <32-bit Wine root>: the loader tree of WoW64 prefixes, copies and links
# only. Wine starts a child of the other bitness with the loader beside its own real path ("wine"
# <-> "wine64"), and /usr/lib/wine/wine64 has none beside it. Laid out again whenever either
# loader it copies has changed.
korvane_wine_wow64_tree() {
  local root=$1
  local tree=$root/wow64 loader=$root/root/usr/lib/wine/wine
  korvane_wine_wow64_tree_current "$root" && return 0
  (
    flock 8
    rm -rf "$tree.new"
    mkdir -p "$tree.new/usr/lib/wine" "$tree.new/usr/share" &&
      cp /usr/lib/wine/wine64 "$tree.new/usr/lib/wine/wine64" &&
      cp "$loader" "$tree.new/usr/lib/wine/wine" &&
      mkdir -p "$tree.new/usr/lib/x86_64-linux-gnu" "$tree.new/usr/lib/i386-linux-gnu" &&
      ln -s /usr/lib/x86_64-linux-gnu/wine "$tree.new/usr/lib/x86_64-linux-gnu/wine" &&
      ln -s "$root/root/usr/lib/i386-linux-gnu/wine" "$tree.new/usr/lib/i386-linux-gnu/wine" &&
      ln -s /usr/share/wine "$tree.new/usr/share/wine" &&
      rm -rf "$tree" && mv "$tree.new" "$tree"
  ) 8>"$root/wow64.lock" || {
    echo "wine-env: cannot lay out $tree" >&2
    return 1
  }
}

# Whether the loader tree holds the loaders it copies as they are now (a removed build/wine32 or
# an upgraded Wine leaves it missing or stale).
korvane_wine_wow64_tree_current() {
  cmp -s "$1/root/usr/lib/wine/wine" "$1/wow64/usr/lib/wine/wine" &&
    cmp -s /usr/lib/wine/wine64 "$1/wow64/usr/lib/wine/wine64"
}

# korvane_wine_prefix_make <prefix folder> <x86_64|i686|wow64> <log file>: makes the folder a
# prefix of that kind, restarts its wineserver and touches <prefix>/.korvane-ready last. i686
# and wow64 need the private 32-bit Wine set up (scripts/wine32.sh). Wine's output goes to the log.
korvane_wine_prefix_make() {
  local prefix=$1 arch=$2 log=$3 winearch=win64 out
  [ "$arch" != i686 ] || winearch=win32
  mkdir -p "$prefix" || return 1
  rm -f "$prefix/.korvane-ready"
  if [ -f "$prefix/system.reg" ] && ! grep -q "^#arch=$winearch" "$prefix/system.reg"; then
    echo "wine-env: $prefix is not a $winearch prefix" >&2
    return 1
  fi
  if [ "$arch" = wow64 ]; then
    korvane_wine_wow64_tree "$KORVANE_WINE32_ROOT" || return 1
  fi
  if ! korvane_wine_prefix_boot "$prefix" "$arch" "$log"; then
    korvane_wine_prefix_kill "$prefix"
    echo "wine-env: wineboot of the $arch prefix $prefix failed (see $log)" >&2
    return 1
  fi
  if [ "$arch" = wow64 ]; then
    out=$(korvane_wine_use "$prefix" wow64 && korvane_wine_within 60 \
      'C:\windows\syswow64\cmd.exe' /c 'echo %PROCESSOR_ARCHITECTURE%' 2>>"$log" </dev/null 9>&- |
      tr -d '\r')
    if [ "$out" != x86 ]; then
      korvane_wine_prefix_kill "$prefix"
      echo "wine-env: the WoW64 prefix $prefix runs no 32-bit program (got '${out:0:60}', see $log)" >&2
      return 1
    fi
  fi
  korvane_wine_restart "$prefix" "$arch"
  touch "$prefix/.korvane-ready"
}

# A prefix that runs the private 32-bit Wine is ready only while that Wine is there (and, for
# WoW64, its loader tree is current); otherwise it is made again, which sets them up anew and
# keeps what the prefix holds.
korvane_wine_prefix_is_ready() {
  [ -f "$WINEPREFIX/.korvane-ready" ] || return 1
  case "$KORVANE_ARCH" in
    i686) [ -x "$KORVANE_WINE32_ROOT/root/usr/lib/wine/wine" ] ;;
    wow64) korvane_wine_wow64_tree_current "$KORVANE_WINE32_ROOT" ;;
  esac
}

# Creates the exported prefix on first use; the marker is written once it is fully set up. For
# i686 and wow64 the private 32-bit Wine comes first; where this machine cannot run it, its
# one-line verdict goes to stderr and its exit status (3) is returned.
korvane_wine_prefix_ready() {
  korvane_wine_prefix_is_ready && return 0
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    korvane_wine_prefix_is_ready && exit 0
    if [ "$KORVANE_ARCH" != x86_64 ]; then
      local verdict code=0
      verdict=$(bash "$KORVANE_ROOT/scripts/wine32.sh" "$KORVANE_WINE32_ROOT" 9>&-) || code=$?
      if [ "$code" -ne 0 ]; then
        echo "$verdict" >&2
        exit "$code"
      fi
    fi
    korvane_wine_prefix_make "$WINEPREFIX" "$KORVANE_ARCH" "$WINEPREFIX.log"
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
    korvane_wineserver_end "$prefix"
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
