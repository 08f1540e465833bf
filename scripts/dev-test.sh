#!/usr/bin/env bash
# Developer loop: builds the x86_64 tree in a build folder of your choice (default build/x86_64)
# and runs CTest there under Wine, passing further arguments to ctest (-R, -L, ...).
#   scripts/dev-test.sh [-B <build-folder>] [ctest args...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/x86_64"
if [ "${1:-}" = "-B" ]; then build=$2; shift 2; fi
export KORVANE_BUILD_X64=$build
source "$root/scripts/wine-env.sh"
korvane_build_x64 "$build"
trap korvane_wine_stop EXIT
korvane_wine_start
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
