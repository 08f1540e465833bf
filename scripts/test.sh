#!/usr/bin/env bash
# Set-up, build, then the whole test suite under Wine: the x86_64 build under wine64, then the
# shipping i686 build under a private 32-bit Wine where this machine can execute 32-bit code
# (where it cannot, one line says the i686 suite is skipped and why). The i686 suite runs where its
# users run it, in a 64-bit prefix with 64- and 32-bit clients (WoW64); what concerns a 32-bit
# Windows alone (CTest label one_registry_view) runs again in a 32-bit prefix. Extra arguments go
# to every ctest run. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh" --client-checks
bash "$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"

# run_suite <build> <x86_64|i686|wow64> [ctest arguments...]: one build's suite in a prefix of that
# kind; its wineserver is stopped afterwards either way.
run_suite() {
  local arch=$1 kind=$2
  shift 2
  local started=$SECONDS code=0
  echo "test: == $arch suite ($kind prefix)"
  korvane_wine_env "$root/build/$arch" "$kind"
  korvane_wine_start
  KORVANE_WINE_KIND=$kind ctest --test-dir "$root/build/$arch" --output-on-failure --timeout 600 \
    "$@" || code=$?
  korvane_wine_stop
  echo "test: $arch suite ($kind prefix) took $((SECONDS - started)) s (exit $code)"
  return "$code"
}
trap 'korvane_wine_stop' EXIT

failed=0
run_suite x86_64 x86_64 "$@" || failed=1

i686=0
bash "$root/scripts/wine32.sh" "$KORVANE_WINE32_ROOT" || i686=$?
if [ "$i686" -eq 0 ]; then
  run_suite i686 wow64 "$@" || failed=1
  run_suite i686 i686 -L one_registry_view "$@" || failed=1
elif [ "$i686" -eq 3 ]; then
  echo "test: i686 suite skipped (see the wine32 line above); the x86_64 suite ran"
else
  echo "test: the private 32-bit Wine could not be set up (exit $i686)" >&2
  failed=1
fi
exit "$failed"
