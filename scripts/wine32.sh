#!/usr/bin/env bash
# A private 32-bit Wine for running the shipped i686 build, on machines whose kernel executes
# 32-bit x86 code. Debian's i386 packages are fetched with a private apt state and unpacked with
# `dpkg -x` into <root-folder>: the system's apt set-up, its dpkg database and its Wine stay as they
# are (installing wine32 would make /usr/bin/wine pick the 32-bit loader).
#
# Usage:
#   bash scripts/wine32.sh <root-folder>
#       Sets up the private 32-bit Wine once (later runs only confirm it, without network, in well
#       under a second). Prints `wine32: ready: <root>/root/usr/lib/wine/wine` (the loader).
#
# Its prefixes (win32, and WoW64: a win64 prefix whose 32-bit programs run on this loader) are
# made and run by scripts/wine-env.sh (`korvane_wine_env <build> i686|wow64`), which runs the
# loader with WINESERVER=the system's native wineserver (the wineserver= line of <root>/.ready:
# /usr/lib/wine/wineserver64 on Debian 12 serves 32-bit clients of the same Wine version).
#
# Exit status:
#   0  ready (the line above).
#   3  not possible here, or the set-up failed: exactly one line
#      `wine32: i686 suite skipped: <reason>` on stdout. Callers skip the i686 part on 3.
#   2  wrong arguments (a message on stderr).
#
# Files under <root-folder>:
#   .ready      written last, only after a 32-bit program ran: loader=, wineserver=,
#               system-wine64=, one package= line per unpacked package (name, architecture,
#               version) and tool= for patchelf.
#   root/       the unpacked i386 tree; root/usr/lib/wine/wine is the loader.
#   zlib1.dll   the copy marked as a Wine DLL, which scripts/wine-env.sh places in a prefix's
#               32-bit system folder before its `wineboot -i`.
#   setup.log   apt's and Wine's output of the last set-up.
#   apt/, tools/ the private apt state and patchelf (a build tool, not part of the 32-bit tree).
#   wow64/      the loader tree of WoW64 prefixes, laid out by scripts/wine-env.sh.
set -uo pipefail
# The checks read tool messages such as "Exec format error".
export LC_ALL=C

usage() {
  echo "usage: bash scripts/wine32.sh <root-folder>" >&2
  exit 2
}

skip() {
  echo "wine32: i686 suite skipped: $*"
  exit 3
}

[ $# -eq 1 ] && [ -n "$1" ] || usage

mkdir -p "$1" 2>/dev/null || skip "cannot create the folder $1"
ROOT=$(cd "$1" && pwd) || skip "cannot enter the folder $1"
TREE=$ROOT/root
LOADER=$TREE/usr/lib/wine/wine
LD32=$TREE/lib/i386-linux-gnu/ld-linux.so.2
ZLIB=$ROOT/zlib1.dll
READY=$ROOT/.ready
LOG=$ROOT/setup.log
check_prefix=
# The Wine environment and the prefixes of this root's loader (the loader check boots one), in
# the default locale whatever a caller asked for.
unset KORVANE_WINE_LOCALE
KORVANE_WINE32_ROOT=$ROOT
# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# The throwaway prefix of the loader check goes away on every exit path.
cleanup() {
  if [ -n "$check_prefix" ] && [ -d "$check_prefix" ]; then
    korvane_wine_prefix_kill "$check_prefix"
    rm -rf "$check_prefix"
  fi
}
trap cleanup EXIT

find_wineserver() {
  local p
  for p in $(dpkg -L wine64 2>/dev/null | grep -E '/wineserver64$') \
      /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if [ -x "$p" ]; then
      echo "$p"
      return 0
    fi
  done
  return 1
}

system_wine_version() {
  dpkg-query -W -f='${Version}' wine64 2>/dev/null
}

# True when an earlier set-up of this very folder still holds: same place (the loader has its
# absolute interpreter path baked in), same system Wine, loader still starts.
root_is_ready() {
  [ -f "$READY" ] || return 1
  grep -qxF "loader=$LOADER" "$READY" && [ -f "$ZLIB" ] || return 1
  WINESERVER_PATH=$(sed -n 's/^wineserver=//p' "$READY")
  [ -n "$WINESERVER_PATH" ] && [ -x "$WINESERVER_PATH" ] || return 1
  grep -qxF "system-wine64=$(system_wine_version)" "$READY" || return 1
  "$LOADER" --version 2>/dev/null | grep -q '^wine-'
}

# A 96-byte static i386 program that exits with 42: tells before any download whether this
# kernel executes 32-bit code at all (ia32 emulation can be compiled out or switched off).
probe_32bit() {
  case "$(uname -m)" in
    x86_64 | i?86) ;;
    *) skip "this machine is $(uname -m), not x86" ;;
  esac
  local probe=$ROOT/.probe32 out rc
  {
    # ELF header, one PT_LOAD program header, then: mov eax,1; mov ebx,42; int 0x80.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  } >"$probe" || return 0
  chmod +x "$probe"
  out=$("$probe" 2>&1)
  rc=$?
  rm -f "$probe"
  [ "$rc" -eq 42 ] && return 0
  if grep -q 'Exec format error' <<<"$out"; then
    skip "this kernel does not execute 32-bit x86 code (Exec format error)"
  fi
  # Anything else (say a noexec mount) is judged by the real check after unpacking.
  echo "wine32: 32-bit probe inconclusive (exit $rc): $out" >>"$LOG"
}

# The loader and wineserver must come from the same Wine version; the system Wine may still be
# being installed by a concurrent set-up, so wait for it a while.
wait_for_system_wine() {
  local waited=0
  until [ -x /usr/lib/wine/wine64 ] && WINESERVER_PATH=$(find_wineserver); do
    [ "$waited" -ge 600 ] && skip "the system Wine (wine64 and its wineserver) is not installed"
    [ "$waited" -eq 0 ] && echo "wine32: waiting for the system Wine (wine64) to be installed" >&2
    sleep 10
    waited=$((waited + 10))
  done
}

download() {
  local apt=$ROOT/apt debs=$ROOT/debs ver arch
  ver=$(system_wine_version)
  arch=$(dpkg --print-architecture)
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" || skip "cannot write to $ROOT"
  # An empty package database: nothing is installed from here, and the system's stays untouched.
  [ -f "$apt/status" ] || : >"$apt/status"
  {
    echo '#clear APT::Architectures;'
    echo "APT::Architectures { \"$arch\"; \"i386\"; };"
    echo "Dir::State \"$apt\";"
    echo "Dir::State::Lists \"$apt/lists\";"
    echo "Dir::State::status \"$apt/status\";"
    echo "Dir::Cache \"$apt/cache\";"
    # As root apt fetches as _apt, which may not write into this folder.
    [ "$(id -u)" -eq 0 ] && echo 'APT::Sandbox::User "root";'
  } >"$apt/apt.conf"
  # A failing third-party source makes update exit non-zero; what counts is the download below.
  APT_CONFIG=$apt/apt.conf apt-get -q update >>"$LOG" 2>&1 ||
    echo "wine32: apt-get update reported errors" >>"$LOG"
  rm -rf "$debs"
  mkdir -p "$debs"
  # wine32 and libwine pinned to the system wine64's version: the native wineserver speaks only
  # its own protocol version. libgcc-s1 serves the unwinding libc needs for thread cancellation.
  local pin=${ver:+=$ver}
  (cd "$debs" && APT_CONFIG=$apt/apt.conf apt-get -q download "wine32:i386$pin" \
      "libwine:i386$pin" libc6:i386 libgcc-s1:i386 libz-mingw-w64 patchelf) >>"$LOG" 2>&1 ||
    skip "downloading Debian's i386 Wine packages failed (see $LOG)"
}

unpack() {
  local debs=$ROOT/debs deb name fields
  rm -rf "$TREE.new" "$ROOT/tools"
  mkdir -p "$TREE.new" "$ROOT/tools"
  : >"$ROOT/packages.tmp"
  for deb in "$debs"/*.deb; do
    name=$(dpkg-deb -f "$deb" Package)
    fields=$(dpkg-deb -f "$deb" Package Architecture Version | sed 's/^[^:]*: //' | paste -sd' ')
    if [ "$name" = patchelf ]; then
      dpkg -x "$deb" "$ROOT/tools" || skip "unpacking $deb failed"
      echo "tool=$fields" >"$ROOT/tools.tmp"
    else
      dpkg -x "$deb" "$TREE.new" || skip "unpacking $deb failed"
      echo "package=$fields" >>"$ROOT/packages.tmp"
    fi
  done
  rm -rf "$TREE" "$debs"
  mv "$TREE.new" "$TREE" || skip "cannot move the unpacked tree into $TREE"
}

check_32bit_runs() {
  local out
  out=$("$LD32" --version 2>&1 | head -n 1)
  case $out in
    ld.so*) ;;
    *"Exec format error"*)
      skip "this kernel does not execute 32-bit x86 code (Exec format error)"
      ;;
    *) skip "the unpacked 32-bit ld.so does not run: ${out:-no output}" ;;
  esac
}

# The loader is started by the kernel for every process Wine itself starts, so its interpreter and
# library path are baked in: the private ld.so and libc, whether or not the system has libc6-i386.
# Patched in a copy and renamed, as a running loader cannot be written to.
patch_loader() {
  local patchelf=$ROOT/tools/usr/bin/patchelf
  cp "$LOADER" "$LOADER.tmp" &&
    "$patchelf" --set-interpreter "$LD32" --force-rpath \
      --set-rpath "$TREE/lib/i386-linux-gnu:$TREE/usr/lib/i386-linux-gnu" "$LOADER.tmp" \
      >>"$LOG" 2>&1 &&
    mv -f "$LOADER.tmp" "$LOADER" || skip "patching the 32-bit loader failed (see $LOG)"
  local mine system
  mine=$("$LOADER" --version 2>&1 | head -n 1)
  system=$(/usr/lib/wine/wine64 --version 2>&1 | head -n 1)
  case $mine in
    wine-*) ;;
    *) skip "the 32-bit Wine loader does not start: ${mine:-no output}" ;;
  esac
  [ "$mine" = "$system" ] || skip "32-bit Wine is $mine but the system Wine is $system"
}

# The 32-bit user32.dll imports zlib1.dll. Debian's libwine postinst copies it from libz-mingw-w64
# and marks it as a Wine DLL ("Wine builtin DLL" at 0x40); dpkg -x runs no maintainer scripts.
place_zlib() {
  local src=$TREE/usr/i686-w64-mingw32/lib/zlib1.dll
  [ -f "$src" ] || skip "libz-mingw-w64 brought no $src"
  cp "$src" "$ZLIB.tmp" &&
    printf 'Wine builtin DLL' | dd of="$ZLIB.tmp" bs=1 seek=64 conv=notrunc status=none &&
    mv -f "$ZLIB.tmp" "$ZLIB" &&
    cp "$ZLIB" "$TREE/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" ||
    skip "cannot place zlib1.dll"
}

# The loader runs cmd.exe and, for COM and the scripting host as the tests use them, cscript.exe
# in a throwaway win32 prefix. Its programs must not inherit the set-up lock (fd 9).
check_loader() {
  check_prefix=$(mktemp -d "$ROOT/check-prefix.XXXXXX") || skip "cannot create a prefix in $ROOT"
  korvane_wine_prefix_boot "$check_prefix" i686 "$LOG" ||
    skip "wineboot of a win32 prefix failed (see $LOG)"
  local out
  out=$(korvane_wine_use "$check_prefix" i686 &&
    korvane_wine_within 60 cmd /c echo ok 2>>"$LOG" </dev/null 9>&- | tr -d '\r')
  [ "$out" = ok ] || skip "the 32-bit cmd.exe did not answer (got '${out:0:60}', see $LOG)"
  printf 'WScript.Echo "ok " & CreateObject("Scripting.Dictionary").Count\r\n' \
    >"$check_prefix/drive_c/check.vbs"
  out=$(korvane_wine_use "$check_prefix" i686 &&
    korvane_wine_within 60 cscript //nologo 'C:\check.vbs' 2>>"$LOG" </dev/null 9>&- | tr -d '\r')
  [ "$out" = "ok 0" ] || skip "the 32-bit cscript.exe did not answer (got '${out:0:60}', see $LOG)"
  korvane_wine_prefix_kill "$check_prefix"
  rm -rf "$check_prefix"
  check_prefix=
}

write_ready() {
  {
    echo "loader=$LOADER"
    echo "wineserver=$WINESERVER_PATH"
    echo "system-wine64=$(system_wine_version)"
    cat "$ROOT/packages.tmp" "$ROOT/tools.tmp"
  } >"$READY.tmp" && mv -f "$READY.tmp" "$READY" || skip "cannot write $READY"
  rm -f "$ROOT/packages.tmp" "$ROOT/tools.tmp"
}

setup_root() {
  local started=$SECONDS
  rm -f "$READY"
  : >"$LOG"
  probe_32bit
  command -v apt-get >/dev/null && command -v dpkg >/dev/null || skip "apt-get and dpkg are needed"
  wait_for_system_wine
  download
  unpack
  check_32bit_runs
  patch_loader
  place_zlib
  local list
  list=$(sed 's/^package=//; s/ i386 / /; s/ all / /' "$ROOT/packages.tmp" | paste -sd, |
    sed 's/,/, /g')
  echo "wine32: unpacked $(wc -l <"$ROOT/packages.tmp") packages ($list)," \
    "$(du -sm "$TREE" | cut -f1) MB, into $TREE"
  check_loader
  write_ready
  echo "wine32: set up in $((SECONDS - started)) s" >>"$LOG"
}

ensure_root() {
  if ! root_is_ready; then
    # One set-up at a time per folder; a second caller waits, then finds it ready.
    exec 9>"$ROOT/.lock"
    flock -w 1800 9 || skip "another set-up of $ROOT did not finish"
    root_is_ready || setup_root
    exec 9>&-
  fi
  echo "wine32: ready: $LOADER"
}

ensure_root
exit 0
