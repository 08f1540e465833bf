#!/usr/bin/env bash
# Developer loop: builds one tree in a build folder of your choice and runs CTest there under
# Wine, passing further arguments to ctest (-R, -L, ...).
#   scripts/dev-test.sh [--arch x86_64|i686] [--prefix x86_64|i686|wow64] [-B <build folder>]
#                       [ctest args...]
# The default is the x86_64 tree in build/x86_64. The i686 tree runs under the private 32-bit
# Wine (scripts/wine32.sh), where this machine can execute 32-bit code: in a 64-bit prefix with
# 64- and 32-bit clients (wow64) unless --prefix i686 asks for a 32-bit Windows.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=x86_64
kind=
build=
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --prefix) kind=$2; shift 2 ;;
    -B) build=$2; shift 2 ;;
    *) break ;;
  esac
done
build=${build:-$root/build/$arch}
if [ -z "$kind" ]; then
  kind=$arch
  [ "$arch" != i686 ] || kind=wow64
fi
source "$root/scripts/wine-env.sh"
if [ "$kind" != x86_64 ]; then
  bash "$root/scripts/wine32.sh" "$KORVANE_WINE32_ROOT" || exit $?
fi
korvane_build "$arch" "$build"
korvane_wine_env "$build" "$kind"
trap korvane_wine_stop EXIT
korvane_wine_start
KORVANE_WINE_KIND=$kind ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
