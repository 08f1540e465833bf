#!/usr/bin/env bash
# Builds and runs the command-runner benchmark under Wine against a registered copy of the
# server, printing its figures (about two to three minutes).
#   scripts/bench-runners.sh [-B <x86_64 build folder>] [calls per method for the handle count]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/x86_64"
if [ "${1:-}" = "-B" ]; then build=$2; shift 2; fi
export KORVANE_BUILD_X64=$build
source "$root/scripts/wine-env.sh"
korvane_build_x64 "$build" bench_runners >/dev/null
trap korvane_wine_stop EXIT
korvane_wine_start
"$build/wine-run.sh" "$build/bench/runners/bench_runners.exe" "$@"
