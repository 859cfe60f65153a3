#!/usr/bin/env bash
# bench-autosample.sh [SECONDS]
# Builds the Release programs in build-perf, starts k390sim on a free TCP port and runs the real
# window offscreen in AutoSample (N = 3000, dual channel) against it for SECONDS (default 20).
# Prints cycles per second and the reply-to-screen times. Reports figures; never fails on them.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/sim-common.sh
source "$root/scripts/sim-common.sh"
build="${K390_PERF_BUILD:-$root/build-perf}"
seconds="${1:-20}"

quiet() { local out; if ! out="$("$@" 2>&1)"; then echo "$out" >&2; exit 1; fi; }
quiet cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DK390_TESTS=OFF \
  -DK390_BENCHMARKS=ON -DK390_SANITIZE=OFF
quiet ninja -C "$build" k390sim perf_autosample

work="$(mktemp -d)"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Channel 1 at 1 kHz, channel 2 at 999 Hz: both traces differ, as on the bench.
"$build/bin/k390sim" --port 0 --freq 1000 --ch2-freq 999 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port="$(sim_port "$work")"

echo "== perf_autosample: k390sim on 127.0.0.1:$port, $seconds s"
QT_QPA_PLATFORM=offscreen "$build/bin/perf_autosample" --port "$port" --samples 3000 \
  --seconds "$seconds"
echo "k390sim requests served: $(grep -c . "$work/sim.err" || true) log lines"
