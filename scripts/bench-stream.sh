#!/usr/bin/env bash
# bench-stream.sh [SECONDS] [RATE...]
# Builds the Release programs in build-perf, then for each word rate (default 50k to 500k words
# per second) starts k390sim streaming for SECONDS (default 20) and runs the real window
# streaming with N = 3000 while its chart refreshes. Afterwards "stream.dat" is checked against
# the simulator's word log. Prints each rate's figures and the highest rate at which the log
# held every word. Reports figures; never fails on them.
#
# Environment:
#   TRANSPORT=udp|tcp        the stream transport (udp)
#   WORDS_PER_DATAGRAM=N     k390sim's datagram size (250)
#   RCVBUF=BYTES             the UDP receive buffer the window asks for (212992, the stock
#                            net.core.rmem_max, so a machine with a raised limit measures as a
#                            stock one would; 0 keeps the window's own request)
#   STALL_MS=MS              block the window thread this long ... (0: never)
#   STALL_EVERY_MS=MS        ... once every this many ms (1000)
#   WINDOW=xvfb|offscreen    the window on a virtual display with a desktop accessibility bus
#                            (xvfb-run + dbus-run-session), or offscreen (xvfb)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/sim-common.sh
source "$root/scripts/sim-common.sh"
build="${K390_PERF_BUILD:-$root/build-perf}"
seconds="${1:-20}"
shift || true
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(50000 100000 200000 250000 300000 400000 500000)
transport="${TRANSPORT:-udp}"
words_per_datagram="${WORDS_PER_DATAGRAM:-250}"
rcvbuf="${RCVBUF:-212992}"
stall_ms="${STALL_MS:-0}"
stall_every_ms="${STALL_EVERY_MS:-1000}"
window="${WINDOW:-xvfb}"
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

# The window's command line, on a virtual display with an accessibility bus or offscreen.
stream_window_command "$window" "$build"

echo "transport $transport; receive buffer limit (net.core.rmem_max): $(cat /proc/sys/net/core/rmem_max)" \
     "bytes, window asks for ${rcvbuf}; $words_per_datagram words per datagram; $seconds s per rate;" \
     "window $window; stall ${stall_ms} ms every ${stall_every_ms} ms; load $(cut -d' ' -f1-3 /proc/loadavg)"
best=0
for rate in "${rates[@]}"; do
  words=$((rate * seconds))
  rm -f "$work/words.txt"
  "$build/bin/k390sim" --port 0 --freq "$rate" --udp-port "$udp_port" --words "$words" \
    --words-per-datagram "$words_per_datagram" --log-words "$work/words.txt" \
    >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  port="$(sim_port "$work")"
  echo "== perf_stream at $rate words/s"
  rcvbuf_before="$(udp_errors)"
  "${window_cmd[@]}" --port "$port" --udp-port "$udp_port" --transport "$transport" \
    --rcvbuf "$rcvbuf" --stall-ms "$stall_ms" --stall-every-ms "$stall_every_ms" \
    --samples 3000 --seconds "$seconds" --expect-words "$words" --sim-log "$work/words.txt" \
    2> >(grep -v -e propagateSizeHints -e ^QStandardPaths -e "Failed to set fd limit" >&2) | tee "$work/result.txt"
  echo "  UDP receive-buffer drops on this machine during the run: $(( $(udp_errors) - rcvbuf_before ))"
  stop_sim
  if grep -q 'complete=yes' "$work/result.txt"; then
    [ "$rate" -gt "$best" ] && best=$rate
  fi
done
echo "highest rate with every word in stream.dat: $best words/s"
