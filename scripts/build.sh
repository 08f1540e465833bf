#!/usr/bin/env bash
# Builds the Windows programs and lays out what a user copies to a Windows machine in
# dist/<arch>/.
#   scripts/build.sh [--arch i686|x86_64] [--no-tests]
# Without options: the 32-bit (shipping) and the 64-bit build, each with its tests and
# benchmarks (what scripts/test.sh and scripts/package.sh need). --arch builds one of them;
# --no-tests builds only the programs (the demo's way: it runs nothing else).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"

arches=(i686 x86_64)
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arches=("$2"); shift 2 ;;
    --no-tests) export KORVANE_BUILD_TESTS=OFF; shift ;;
    *) echo "usage: scripts/build.sh [--arch i686|x86_64] [--no-tests]" >&2; exit 2 ;;
  esac
done

for arch in "${arches[@]}"; do
  build="$root/build/$arch"
  korvane_build "$arch" "$build"
  rm -rf "$root/dist/$arch"
  cmake --install "$build" --prefix "$root/dist/$arch" >/dev/null
  echo "build: dist/$arch: $(cd "$root/dist/$arch" && ls | tr '\n' ' ')"
done
