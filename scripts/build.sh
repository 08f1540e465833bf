#!/usr/bin/env bash
# Builds the 32-bit (shipping) and the 64-bit (tested under Wine) Windows programs and lays out
# what a user copies to a Windows machine in dist/i686/ and dist/x86_64/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${KORVANE_JOBS:-$(nproc)}

for arch in i686 x86_64; do
  build="$root/build/$arch"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
    -DCMAKE_INSTALL_PREFIX="$root/dist/$arch" >/dev/null
  cmake --build "$build" -j "$jobs"
  rm -rf "$root/dist/$arch"
  cmake --install "$build" >/dev/null
  echo "build: dist/$arch: $(cd "$root/dist/$arch" && ls | tr '\n' ' ')"
done
