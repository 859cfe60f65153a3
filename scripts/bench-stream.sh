#!/usr/bin/env bash
# bench-stream.sh [SECONDS] [RATE...]
# Builds the Release programs in build-perf, then for each word rate (default 50k to 500k words
# per second) starts k390sim streaming over UDP loopback for SECONDS (default 20) and runs the
# real window offscreen streaming with N = 3000 while its chart refreshes. Afterwards
# "stream.dat" is checked against the simulator's word log. Prints each rate's figures and the
# highest rate at which the log held every word. Reports figures; never fails on them.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${K390_PERF_BUILD:-$root/build-perf}"
seconds="${1:-20}"
shift || true
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(50000 100000 200000 250000 300000 400000 500000)
words_per_datagram="${WORDS_PER_DATAGRAM:-250}"
# Away from the window's default 38257, so a K390cap running on this machine is not disturbed.
udp_port="${UDP_PORT:-48257}"

quiet() { local out; if ! out="$("$@" 2>&1)"; then echo "$out" >&2; exit 1; fi; }
quiet cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DK390_TESTS=OFF \
  -DK390_BENCHMARKS=ON -DK390_SANITIZE=OFF
quiet ninja -C "$build" k390sim perf_stream

work="$(mktemp -d)"
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=""
}
trap 'stop_sim; rm -rf "$work"' EXIT

udp_errors() { awk '/^Udp:/ { if (++n == 2) print $6 }' /proc/net/snmp; }

echo "receive buffer limit (net.core.rmem_max): $(cat /proc/sys/net/core/rmem_max) bytes;" \
     "$words_per_datagram words per datagram; $seconds s per rate"
best=0
for rate in "${rates[@]}"; do
  words=$((rate * seconds))
  rm -f "$work/words.txt"
  "$build/bin/k390sim" --port 0 --freq "$rate" --udp-port "$udp_port" --words "$words" \
    --words-per-datagram "$words_per_datagram" --log-words "$work/words.txt" \
    >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  port=""
  for _ in $(seq 100); do
    port="$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/sim.out")"
    [ -n "$port" ] && break
    sleep 0.05
  done
  if [ -z "$port" ]; then
    echo "k390sim did not start" >&2
    cat "$work/sim.err" >&2
    exit 1
  fi
  echo "== perf_stream at $rate words/s"
  rcvbuf_before="$(udp_errors)"
  QT_QPA_PLATFORM=offscreen "$build/bin/perf_stream" --port "$port" --udp-port "$udp_port" \
    --samples 3000 --seconds "$seconds" --expect-words "$words" --sim-log "$work/words.txt" \
    | tee "$work/result.txt"
  echo "  UDP receive-buffer drops on this machine during the run: $(( $(udp_errors) - rcvbuf_before ))"
  stop_sim
  if grep -q 'complete=yes' "$work/result.txt"; then
    [ "$rate" -gt "$best" ] && best=$rate
  fi
done
echo "highest rate with every word in stream.dat: $best words/s"
