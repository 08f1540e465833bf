#!/usr/bin/env bash
# Builds and runs one benchmark under Wine, printing its figures. Benchmarks are not tests.
#   scripts/bench.sh <name> [--wow64] [-B <x86_64 build folder>] [benchmark arguments...]
#     --wow64   (capture only) the users' configuration: the shipped 32-bit server (the i686
#               build's) in a 64-bit prefix that runs 32-bit programs, called by the 64-bit
#               benchmark; needs a machine that executes 32-bit code (scripts/wine32.sh says
#               in one line when it does not, and the benchmark does not run)
#     cli       quandrelcmd start-up against a bare program making the same engine call
#               (argument: runs; medians printed)
#     capture   RunCmd2's capture against its floors at 100 bytes and 1 to 64 MiB: bare drains
#               (64 KiB and 10,000-byte reads), a console-less spawn and drain, the bare
#               transfer from a minimal local server of the benchmark's own, call latency, and
#               the server's peak memory during a 64 MiB capture (about three minutes;
#               argument: quick, for fewer runs)
#     runners   RunCmd and RunCmd2 against a registered copy of the server: capture speed, CPU
#               while waiting, other clients' latency, handle counts (two to three minutes;
#               argument: calls per method for the handle count); "runners crowd <clients>
#               <seconds>" instead prints only when the RunCmd2 calls of a crowd of clients
#               return, each on a child silent that long, beside the bound of serving them in
#               rounds of the nesting limit
#     fuzz      random calls through IDispatch and the dual interface against a registered copy
#               of the server: faults, hangs, a histogram of answers (arguments: calls, default
#               10,000; seed, default 1; a call number to replay that call alone, described)
#     soak      10,000 mixed calls from the stress test's clients, half from one client, half
#               from eight at once: calls per second, the server's handles and private memory
#               before and after (about ten minutes; argument: calls)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
name=${1:-}
shift || true
case "$name" in
  capture) target=bench_capture; exe=bench/capture/bench_capture.exe ;;
  cli) target=bench_cli; exe=bench/cli/bench_cli.exe ;;
  fuzz) target=bench_fuzz; exe=bench/fuzz/bench_fuzz.exe ;;
  runners) target=bench_runners; exe=bench/runners/bench_runners.exe ;;
  soak) target=bench_soak; exe=bench/soak/bench_soak.exe ;;
  *) echo "usage: scripts/bench.sh <capture|cli|fuzz|runners|soak> [-B <build folder>] [args...]" >&2; exit 2 ;;
esac
kind=x86_64
if [ "${1:-}" = "--wow64" ]; then kind=wow64; shift; fi
build="$root/build/x86_64"
if [ "${1:-}" = "-B" ]; then build=$2; shift 2; fi
source "$root/scripts/wine-env.sh"
korvane_build x86_64 "$build" "$target" >/dev/null
server=()
if [ "$kind" = wow64 ]; then
  [ "$name" = capture ] || { echo "bench: --wow64 is for the capture benchmark" >&2; exit 2; }
  code=0
  line=$(bash "$root/scripts/wine32.sh" "$KORVANE_WINE32_ROOT" | tail -n 1) || code=$?
  if [ "$code" -ne 0 ]; then
    echo "bench: not run: the 32-bit server cannot run here (${line#wine32: i686 suite skipped: })"
    exit "$code"
  fi
  korvane_build i686 "$root/build/i686" QuandrelCom >/dev/null
  server=(--server "$root/build/i686/server/QuandrelCom.exe")
fi
korvane_wine_env "$build" "$kind"
trap korvane_wine_stop EXIT
korvane_wine_start
KORVANE_WINE_KIND=$kind "$build/wine-run.sh" "$build/$exe" "$@" "${server[@]}"
