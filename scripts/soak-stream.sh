#!/usr/bin/env bash
# soak-stream.sh SECONDS RATE WORDS_PER_DATAGRAM [udp|tcp] [window|tool]
# One long stream through the real window: k390sim sends RATE words per second for SECONDS
# (WORDS_PER_DATAGRAM per datagram over UDP; ignored over TCP) with --log-words, the window
# streams with N = 3000 on a virtual display with an accessibility bus, and afterwards
# "stream.dat" is checked word for word against the simulator's log. The window's resident
# memory is sampled every 5 s. Prints the figures and "SOAK ... verdict=pass|fail"; exits 1 on a
# missing word, a window error or resident memory that grew by more than 64 MB after the first
# minute (or the first fifth of a shorter run).
#
# With "tool" the logger is `k390tool stream` instead of the window: k390sim leaves out every
# DROP_EVERY-th pulse (default 7; 0 for none), the tool logs exactly the words the simulator
# sends after the dropped first datagram (SIGTERM after SECONDS + 60 s if it has not got them
# all), and the check is word for word through the log's deltas, the summary's missing pulses
# against the pulses the simulator left out, no lost words, and the tool's resident memory,
# sampled every 10 s, as for the window.
#
# The window's run summary is checked the same way: its words against the log's lines and its
# missing pulses against those the simulator left out.
#
# Environment: RCVBUF (212992), WINDOW=xvfb|offscreen (xvfb), UDP_PORT (48257), as for
# scripts/bench-stream.sh; DROP_EVERY (7) and JITTER (0 ticks) for both.
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 SECONDS RATE WORDS_PER_DATAGRAM [udp|tcp]" >&2
  exit 2
fi
seconds="$1"
rate="$2"
words_per_datagram="$3"
transport="${4:-udp}"
logger="${5:-window}"
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=scripts/sim-common.sh
source "$root/scripts/sim-common.sh"
build="${K390_PERF_BUILD:-$root/build-perf}"
rcvbuf="${RCVBUF:-212992}"
window="${WINDOW:-xvfb}"
udp_port="${UDP_PORT:-48257}"

# The words k390sim makes in SECONDS: RATE is its pulse rate, and with every DROP_EVERY-th pulse
# left out only DROP_EVERY - 1 of each DROP_EVERY pulses are words.
sim_words() {
  local rate="$1" seconds="$2" drop="$3"
  if [ "$drop" -gt 1 ]; then
    echo $((rate * seconds / drop * (drop - 1)))
  else
    echo $((rate * seconds))
  fi
}

# The pulses k390sim left out between the first and the last logged word, the log holding LOGGED
# words after the first SKIP it sent: word i (from 1) is pulse i + (i - 1) / (d - 1), so they are
# the multiples of d strictly between those two pulses.
pulses_left_out() {
  local skip="$1" logged="$2" drop="$3"
  if [ "$drop" -le 1 ] || [ "$logged" -le 0 ]; then
    echo 0
    return
  fi
  local first=$((skip + 1)) last=$((skip + logged))
  local p_first=$((first + (first - 1) / (drop - 1))) p_last=$((last + (last - 1) / (drop - 1)))
  echo $(((p_last - 1) / drop - p_first / drop))
}

# The soak of `k390tool stream`: the simulator, the tool, the RSS samples, the checks.
soak_tool() {
  drop_every="${DROP_EVERY:-7}"
  # A missing pulse is told by an interval within a quarter period of a whole number of
  # periods: at 2 MHz that is 5 ticks, which a jitter of even 1 tick crosses now and then, and
  # the count of the pulses left out would no longer be exact.
  jitter="${JITTER:-0}"
  work="$(mktemp -d)"
  sim_pid=""
  tool_pid=""
  cleanup() {
    for pid in "$tool_pid" "$sim_pid"; do
      if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    done
    rm -rf "$work"
  }
  trap cleanup EXIT

  words="$(sim_words "$rate" "$seconds" "$drop_every")"
  "$build/bin/k390sim" --port 0 --freq "$rate" --udp-port "$udp_port" --words "$words" \
    --words-per-datagram "$words_per_datagram" --drop-every "$drop_every" \
    --jitter-ticks "$jitter" \
    --log-words "$work/words.txt" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  port="$(sim_port "$work")"

  # The first datagram of a UDP start is dropped by design; TCP loses nothing.
  skip=0
  [ "$transport" = "udp" ] && skip=$((words < words_per_datagram ? words : words_per_datagram))
  expect=$((words - skip))
  echo "soak: k390tool, $transport, $rate words/s for $seconds s ($words words, $expect logged)," \
       "$words_per_datagram words per datagram, every ${drop_every}th pulse left out, rmem_max" \
       "$(cat /proc/sys/net/core/rmem_max), load $(cut -d' ' -f1-3 /proc/loadavg)"
  started_s=$SECONDS
  "$build/bin/k390tool" stream --host 127.0.0.1 --port "$port" --transport "$transport" \
    --udp-port "$udp_port" --words "$expect" --out "$work/stream.dat" >"$work/result.txt" &
  tool_pid=$!

  rss_first=""
  rss_settled=""
  rss_max=0
  settle=$(( seconds / 5 < 60 ? seconds / 5 : 60 ))
  while kill -0 "$tool_pid" 2>/dev/null; do
    for _ in $(seq 20); do kill -0 "$tool_pid" 2>/dev/null && sleep 0.5; done
    kill -0 "$tool_pid" 2>/dev/null || break
    elapsed=$((SECONDS - started_s))
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$tool_pid/status" 2>/dev/null || true)"
    if [ -n "$rss" ]; then
      [ -n "$rss_first" ] || rss_first="$rss"
      if [ -z "$rss_settled" ] && [ "$elapsed" -ge "$settle" ]; then rss_settled="$rss"; fi
      [ "$rss" -gt "$rss_max" ] && rss_max="$rss"
      echo "  t=${elapsed}s rss=${rss} kB"
    fi
    if [ "$elapsed" -gt $((seconds + 60)) ]; then
      echo "  not all words after $elapsed s: SIGTERM" >&2
      kill -TERM "$tool_pid"
    fi
  done
  tool_status=0
  wait "$tool_pid" || tool_status=$?
  tool_pid=""
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  cat "$work/result.txt"

  # Word for word: the log's deltas summed modulo 2^32 against the simulator's words after skip.
  logged="$(wc -l <"$work/stream.dat")"
  mismatched="$(awk -v from="$skip" -v n="$logged" 'NR > from && NR <= from + n' \
    "$work/words.txt" | paste -d' ' - "$work/stream.dat" |
    awk '{ w = (w + $2) % 4294967296; if ($1 + 0 != w) bad++ } END { print bad + 0 }')"
  expect_missing="$(pulses_left_out "$skip" "$logged" "$drop_every")"
  summary="$work/stream.summary.json"
  missing="$(sed -n 's/^ *"missing_pulses": \([0-9]*\),*$/\1/p' "$summary" 2>/dev/null || true)"
  lost="$(sed -n 's/^ *"lost_words": \([0-9]*\),*$/\1/p' "$summary" 2>/dev/null || true)"
  rss_settled="${rss_settled:-${rss_first:-0}}"
  growth=$((rss_max - rss_settled))
  verdict=pass
  [ "$tool_status" -eq 0 ] || verdict=fail
  [ "$logged" -eq "$expect" ] && [ "$mismatched" -eq 0 ] || verdict=fail
  [ "${missing:-x}" = "$expect_missing" ] && [ "${lost:-x}" = 0 ] || verdict=fail
  [ "$growth" -le 65536 ] || verdict=fail
  echo "SOAK logger=k390tool transport=$transport rate=$rate seconds=$seconds words=$words" \
       "logged=$logged expected=$expect mismatched=$mismatched lost=${lost:-?}" \
       "missing=${missing:-?} expected_missing=$expect_missing run_s=$((SECONDS - started_s))" \
       "rss_first_kB=${rss_first:-?} rss_settled_kB=$rss_settled rss_max_kB=$rss_max" \
       "growth_after_settling_kB=$growth verdict=$verdict"
  [ "$verdict" = pass ]
}

quiet() { local out; if ! out="$("$@" 2>&1)"; then echo "$out" >&2; exit 1; fi; }
quiet cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DK390_TESTS=OFF \
  -DK390_BENCHMARKS=ON -DK390_SANITIZE=OFF
if [ "$logger" = "tool" ]; then
  quiet ninja -C "$build" k390sim k390tool
  soak_tool
  exit 0
fi
quiet ninja -C "$build" k390sim perf_stream

work="$(mktemp -d)"
sim_pid=""
window_pid=""
cleanup() {
  for pid in "$window_pid" "$sim_pid"; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

drop_every="${DROP_EVERY:-7}"
jitter="${JITTER:-0}"
words="$(sim_words "$rate" "$seconds" "$drop_every")"
"$build/bin/k390sim" --port 0 --freq "$rate" --udp-port "$udp_port" --words "$words" \
  --words-per-datagram "$words_per_datagram" --drop-every "$drop_every" \
  --jitter-ticks "$jitter" --log-words "$work/words.txt" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port="$(sim_port "$work")"

stream_window_command "$window" "$build"

echo "soak: $transport, $rate words/s for $seconds s ($words words), $words_per_datagram words per" \
     "datagram, window $window, receive buffer asked ${rcvbuf} (rmem_max" \
     "$(cat /proc/sys/net/core/rmem_max)), load $(cut -d' ' -f1-3 /proc/loadavg)"
"${window_cmd[@]}" --port "$port" --udp-port "$udp_port" --transport "$transport" \
  --rcvbuf "$rcvbuf" --samples 3000 --seconds "$seconds" --expect-words "$words" \
  --sim-log "$work/words.txt" --summary-out "$work/stream.summary.json" >"$work/result.txt" \
  2> >(grep -v -e propagateSizeHints -e ^QStandardPaths -e "Failed to set fd limit" >&2) &
window_pid=$!

# The window process is perf_stream itself (xvfb-run and dbus-run-session only wrap it).
rss_of_window() {
  local pid
  pid="$(pgrep -n -x perf_stream 2>/dev/null || true)"
  [ -n "$pid" ] && awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true
}
settle=$(( seconds / 5 < 60 ? seconds / 5 : 60 ))
start_s=$SECONDS
rss_first=""
rss_settled=""
rss_max=0
while kill -0 "$window_pid" 2>/dev/null; do
  sleep 5
  rss="$(rss_of_window)"
  [ -n "$rss" ] || continue
  elapsed=$((SECONDS - start_s))
  [ -n "$rss_first" ] || rss_first="$rss"
  if [ -z "$rss_settled" ] && [ "$elapsed" -ge "$settle" ]; then rss_settled="$rss"; fi
  [ "$rss" -gt "$rss_max" ] && rss_max="$rss"
  echo "  t=${elapsed}s rss=${rss} kB"
done
wait "$window_pid" || true
window_pid=""
cat "$work/result.txt"

result="$(grep '^RESULT' "$work/result.txt" || true)"
missing="$(sed -n 's/.* missing=\([0-9]*\).*/\1/p' <<<"$result")"
complete="$(sed -n 's/.* complete=\([a-z]*\).*/\1/p' <<<"$result")"
skip="$(sed -n 's/.* start=\([0-9]*\).*/\1/p' <<<"$result")"
logged="$(sed -n 's/.* log=\([0-9]*\).*/\1/p' <<<"$result")"
# The pulses the simulator left out between the first and the last logged word, as for the tool.
expect_missing="$(pulses_left_out "${skip:-0}" "${logged:-0}" "$drop_every")"
summary="$work/stream.summary.json"
summary_missing="$(sed -n 's/^ *"missing_pulses": \([0-9]*\),*$/\1/p' "$summary" 2>/dev/null || true)"
summary_words="$(sed -n 's/^ *"words": \([0-9]*\),*$/\1/p' "$summary" 2>/dev/null || true)"
rss_settled="${rss_settled:-${rss_first:-0}}"
growth=$((rss_max - rss_settled))
verdict=pass
[ "$complete" = "yes" ] || verdict=fail
[ "$growth" -le 65536 ] || verdict=fail
[ "${summary_missing:-x}" = "$expect_missing" ] && [ "${summary_words:-x}" = "${logged:-y}" ] ||
  verdict=fail
echo "SOAK transport=$transport rate=$rate seconds=$seconds words=$words missing=${missing:-?}" \
     "summary_words=${summary_words:-?} summary_missing=${summary_missing:-?}" \
     "expected_missing=$expect_missing" \
     "rss_first_kB=${rss_first:-?} rss_settled_kB=$rss_settled rss_max_kB=$rss_max" \
     "growth_after_settling_kB=$growth verdict=$verdict"
[ "$verdict" = pass ]
