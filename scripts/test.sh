#!/usr/bin/env bash
# Set-up, build, then the whole test suite under Wine: the x86_64 build under wine64, then the
# shipping i686 build under a private 32-bit Wine where this machine can execute 32-bit code
# (where it cannot, one line says the i686 suite is skipped and why). Extra arguments go to
# both ctest runs. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh" --client-checks
bash "$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"

# Runs one build's suite in its own prefix; its wineserver is stopped afterwards either way.
run_suite() {
  local arch=$1
  shift
  local started=$SECONDS code=0
  echo "test: == $arch suite"
  korvane_wine_env "$root/build/$arch" "$arch"
  korvane_wine_start
  ctest --test-dir "$root/build/$arch" --output-on-failure --timeout 600 "$@" || code=$?
  korvane_wine_stop
  echo "test: $arch suite took $((SECONDS - started)) s (exit $code)"
  return "$code"
}
trap 'korvane_wine_stop' EXIT

failed=0
run_suite x86_64 "$@" || failed=1

i686=0
bash "$root/scripts/wine32.sh" "$KORVANE_WINE32_ROOT" || i686=$?
if [ "$i686" -eq 0 ]; then
  run_suite i686 "$@" || failed=1
elif [ "$i686" -eq 3 ]; then
  echo "test: i686 suite skipped (see the wine32 line above); the x86_64 suite ran"
else
  echo "test: the private 32-bit Wine could not be set up (exit $i686)" >&2
  failed=1
fi
exit "$failed"
