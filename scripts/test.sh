#!/usr/bin/env bash
# Set-up, build, then the whole test suite under Wine. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
trap korvane_wine_stop EXIT
korvane_wine_start
ctest --test-dir "$root/build/x86_64" --output-on-failure --timeout 600 "$@"
