#!/usr/bin/env bash
# Builds the 32-bit (shipping) and the 64-bit Windows programs, each with its tests, and lays out
# what a user copies to a Windows machine in dist/i686/ and dist/x86_64/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"

for arch in i686 x86_64; do
  build="$root/build/$arch"
  korvane_build "$arch" "$build"
  rm -rf "$root/dist/$arch"
  cmake --install "$build" --prefix "$root/dist/$arch" >/dev/null
  echo "build: dist/$arch: $(cd "$root/dist/$arch" && ls | tr '\n' ' ')"
done
