#!/usr/bin/env bash
# take-pictures.sh [BUILD_DIR]
# Retakes the pictures in docs/ from live captures (only those K390_PICTURES names, e.g.
# K390_PICTURES="tie stability", when it is set): builds the window and the simulator (release,
# into BUILD_DIR, default build-doc), then for each picture starts k390sim on 127.0.0.1, opens the
# real window under a virtual X display with a settings file next to a copy of the executable,
# drives it with xdotool as an operator would, and grabs the screen cropped to the window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" != "--inside-display" ]; then
  build=${1:-build-doc}
  scripts/install-deps.sh
  if ! command -v xdotool > /dev/null; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends xdotool
  fi
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DK390_TESTS=OFF \
    -DK390_BENCHMARKS=OFF > /dev/null
  cmake --build "$build" --target K390cap k390sim
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside-display "$root/$build/bin"
fi

bin=$2
work=$(mktemp -d)
sim_pid=""
win_pid=""
stop_all() {
  local pid
  for pid in $win_pid $sim_pid; do
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
  done
  win_pid="" sim_pid=""
}
trap 'stop_all; rm -rf "$work"' EXIT

# A free UDP port of 127.0.0.1 for the stream: the simulator sends there and the window's
# settings file names it (UDPPORT), so that another program on the usual port does no harm.
udp_port=$(python3 -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')

# start_sim OPTION...: k390sim on a free port of 127.0.0.1; sets sim_port.
start_sim() {
  "$bin/k390sim" --bind 127.0.0.1 --port 0 --udp-port "$udp_port" "$@" > "$work/sim.out" \
    2> "$work/sim.log" &
  sim_pid=$!
  sim_port=""
  for _ in $(seq 100); do
    sim_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/sim.out")
    [ -n "$sim_port" ] && return 0
    sleep 0.1
  done
  echo "take-pictures.sh: k390sim did not start" >&2
  cat "$work/sim.log" >&2
  exit 1
}

# start_window KEY=VALUE...: a copy of the window in a fresh folder whose settings file points
# at the simulator and holds the given keys; sets wid to its X window.
start_window() {
  local dir
  dir=$(mktemp -d "$work/window.XXXX")
  cp "$bin/K390cap" "$dir/"
  {
    printf '[SETTINGS]\r\nIP=127.0.0.1\r\nPORT=%s\r\nUDPPORT=%s\r\n' "$sim_port" "$udp_port"
    for setting in "$@"; do printf '%s\r\n' "$setting"; done
  } > "$dir/K390cap.ini"
  "$dir/K390cap" > "$work/window.log" 2>&1 &
  win_pid=$!
  wid=$(xdotool search --sync --onlyvisible --name 'K390 Vantrix' | head -n 1)
  xdotool windowmove --sync "$wid" 0 0 || true
  sleep 1.5
}

# click X Y: a left click at a point of the window's client area.
click() {
  xdotool mousemove --window "$wid" "$1" "$2" click 1
  sleep 0.4
}

# Keeps the pointer off the controls so that no hover highlight shows in the picture.
park_pointer() {
  xdotool mousemove 1275 795
  sleep 0.5
}

# grab FILE: the screen cropped to the window.
grab() {
  local x y w h
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  x=$X y=$Y w=$WIDTH h=$HEIGHT
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
}

# Places in the window's client area (1148 x 703), from its layout.
autosample=(994 684)
sample_button=(1093 684)
flight_time=(1088 390)
load_button=(1087 579)
save_button=(1087 610)
histogram_item=(936 605)
stream_box=(900 684)
# The selector grows upwards from its bottom edge, one line per item past the third: with
# ANALYSIS (and no Histogram) it holds six items, the last two Proving and Spectrum.
tie_item=(936 554)
stability_item=(936 571)
proving_item=(936 588)
spectrum_item=(936 605)
# With both HISTOGRAM and ANALYSIS it holds seven.
declare -A view_item=([interval]="936 503" [frequency]="936 520" [histogram]="936 537"
  [tie]="936 554" [stability]="936 571" [proving]="936 588" [spectrum]="936 605")
# With a dual block shown, the channel choice at the left of the strip over the readout.
channel_choice=(90 588)

# capture_with_autosample SECONDS: AutoSample on for a while, then off; waits for the last reply.
capture_with_autosample() {
  click "${autosample[@]}"
  sleep "$1"
  click "${autosample[@]}"
  sleep 1
}

# choose_file BUTTON_X BUTTON_Y PATH: clicks Load or Save and names the file in its dialog.
choose_file() {
  click "$1" "$2"
  sleep 1
  xdotool type --delay 20 "$3"
  xdotool key Return
  sleep 1.5
}

# show_view VIEW: clicks the view's item of the seven-item selector and lets the pass draw.
show_view() {
  # shellcheck disable=SC2086
  click ${view_item[$1]}
  sleep 1
}

# type_flight_time MS: types the flight time into its box.
type_flight_time() {
  click "${flight_time[@]}"
  xdotool key ctrl+a BackSpace
  xdotool type --delay 60 "$1"
  sleep 0.5
}

# click_ch1_point lowest|highest: clicks the lowest or highest drawn point of the Ch1 trace, so
# that its label shows. The trace's colour is exact because the chart draws without smoothing.
click_ch1_point() {
  grab "$work/shot.png"
  # The plot region of the chart area: left of the legend and the graph selector, below the title.
  local region="820x520+60+100" point
  point=$(convert "$work/shot.png" -crop "$region" +repage txt:- |
    awk -v want="$1" -F'[,: ]+' '/#004080/ {
        y = $2 + 0
        if (!seen || (want == "lowest" && y > best_y) || (want == "highest" && y < best_y)) {
          best_x = $1 + 0; best_y = y; seen = 1
        }
      }
      END { if (seen) print best_x + 60, best_y + 100 }')
  if [ -z "$point" ]; then
    echo "take-pictures.sh: no Ch1 trace on the chart" >&2
    exit 1
  fi
  # shellcheck disable=SC2086
  click $point
}

# click_highest_colour COLOUR: clicks the highest pixel of a colour in the left half of the plot,
# where the first points of the stability curves are (the legend is on the right).
click_highest_colour() {
  grab "$work/shot.png"
  local region="450x520+60+100" point
  point=$(convert "$work/shot.png" -crop "$region" +repage txt:- |
    awk -v want="$1" -F'[,: ]+' 'index($0, want) {
        y = $2 + 0
        if (!seen || y < best_y) { best_x = $1 + 0; best_y = y; seen = 1 }
      }
      END { if (seen) print best_x + 60, best_y + 100 }')
  if [ -z "$point" ]; then
    echo "take-pictures.sh: no $1 pixel on the chart" >&2
    exit 1
  fi
  # shellcheck disable=SC2086
  click $point
}

mkdir -p "$root/docs"

# want NAME: true when NAME is among the pictures K390_PICTURES lists (all when it is unset).
want() {
  [ -z "${K390_PICTURES:-}" ] || [[ " $K390_PICTURES " == *" $1 "* ]]
}

# The window after a dual-channel AutoSample run: every figure box filled, Ch1, its average and
# Ch2 (a slightly slower train) on the chart, and the label of one Ch1 point.
if want window; then
  start_sim --freq 1000 --ch2-freq 999.5 --jitter-ticks 3 --seed 7
  start_window SAMPLES=60 VSCALE=40 VSCALEUNITS=BITS DUALCHANNEL=TRUE HISTOGRAM=TRUE \
    STREAM=UDP FILTERLEN=5
  capture_with_autosample 3
  type_flight_time 250
  click_ch1_point lowest
  park_pointer
  grab "$root/docs/window.png"
  stop_all
fi

# The smoothing filter on a single channel: the smoothed trace titled "Filter".
if want filter; then
  start_sim --freq 1000 --jitter-ticks 5 --seed 3
  start_window SAMPLES=120 VSCALE=25 VSCALEUNITS=BITS FILTERLEN=9
  capture_with_autosample 3
  park_pointer
  grab "$root/docs/filter.png"
  stop_all
fi

# The histogram view, selected before the capture: a view switch after a reply finds no data.
if want histogram; then
  start_sim --freq 1000 --jitter-ticks 8 --seed 5
  start_window SAMPLES=2000 VSCALE%=1 VSCALEUNITS=PERCENT HISTOGRAM=TRUE
  click "${histogram_item[@]}"
  capture_with_autosample 4
  park_pointer
  grab "$root/docs/histogram.png"
  stop_all
fi

# The TIE view of the stream window, the simulator dropping every 500th pulse: the missing
# pulses marked on the trace and counted in red in the readout.
if want tie; then
  start_sim --freq 1000 --jitter-ticks 4 --seed 11 --drop-every 500
  start_window SAMPLES=2000 VSCALE=40 VSCALEUNITS=BITS STREAM=UDP ANALYSIS=TRUE
  click "${tie_item[@]}"
  click "${stream_box[@]}"
  sleep 4
  park_pointer
  grab "$root/docs/tie.png"
  click "${stream_box[@]}"
  stop_all
fi

# The Stability view of an AutoSample capture of 3000 samples, the first MDEV point clicked.
if want stability; then
  start_sim --freq 1000 --jitter-ticks 6 --seed 13
  start_window SAMPLES=3000 VSCALE=40 VSCALEUNITS=BITS ANALYSIS=TRUE
  click "${stability_item[@]}"
  capture_with_autosample 4
  click_highest_colour "#008C00"
  park_pointer
  grab "$root/docs/stability.png"
  stop_all
fi

# The charts' right-click menu over the Stability view of an AutoSample capture.
if want chart-menu; then
  start_sim --freq 1000 --jitter-ticks 6 --seed 13
  start_window SAMPLES=3000 VSCALE=40 VSCALEUNITS=BITS ANALYSIS=TRUE
  click "${stability_item[@]}"
  capture_with_autosample 4
  xdotool mousemove --window "$wid" 420 260 click 3
  sleep 1
  grab "$root/docs/chart-menu.png"
  xdotool key Escape
  stop_all
fi

# The Stability view while a 20 kHz stream runs: the whole run's OADEV and MDEV, deeper than the
# window's 3000 intervals reach, and the Run line under the readout.
if want run-stability; then
  start_sim --freq 20000 --jitter-ticks 6 --seed 17
  start_window SAMPLES=3000 VSCALE=40 VSCALEUNITS=BITS STREAM=UDP ANALYSIS=TRUE
  click "${stability_item[@]}"
  click "${stream_box[@]}"
  sleep 15
  park_pointer
  grab "$root/docs/run-stability.png"
  click "${stream_box[@]}"
  stop_all
fi

# Every view after a Sample, a Load and a stream, into docs/views/: the simulator drops every
# 500th pulse, so that the missing pulses show in the readout, the TIE view and the Run line.
views=(interval frequency histogram tie stability)
view_settings=(SAMPLES=2000 VSCALE=40 VSCALEUNITS=BITS HISTOGRAM=TRUE ANALYSIS=TRUE STREAM=UDP)
if want views; then
  mkdir -p "$root/docs/views"
  start_sim --freq 1000 --jitter-ticks 4 --seed 23 --drop-every 500
  start_window "${view_settings[@]}"
  # A reply is drawn in the view in front, so each view gets a Sample of its own.
  for view in "${views[@]}"; do
    show_view "$view"
    click "${sample_button[@]}"
    sleep 3
    park_pointer
    grab "$root/docs/views/sample-$view.png"
  done
  # The last capture saved and loaded again: a Load redraws in every view it is switched to.
  choose_file "${save_button[@]}" "$work/capture.JIT"
  choose_file "${load_button[@]}" "$work/capture.JIT"
  for view in "${views[@]}"; do
    show_view "$view"
    park_pointer
    grab "$root/docs/views/load-$view.png"
  done
  # The stream window is drawn at every tick in the view in front; the Run line counts the run.
  click "${stream_box[@]}"
  sleep 3
  for view in "${views[@]}"; do
    show_view "$view"
    sleep 2
    park_pointer
    grab "$root/docs/views/stream-$view.png"
  done
  click "${stream_box[@]}"
  stop_all
fi

# The Proving and Spectrum views of a 1 kHz stream over TCP with a rotor pattern of 7 positions
# and a 37 Hz sinusoid, each after the stop: the whole run read back from its log.
for view in proving spectrum; do
  want "$view" || continue
  start_sim --freq 1000 --jitter-ticks 60 --seed 7 --pattern-positions 7 --pattern-pp-ticks 400 \
    --sine-hz 37 --sine-ticks 200
  start_window SAMPLES=3000 VSCALE=40 VSCALEUNITS=BITS STREAM=TCP ANALYSIS=TRUE
  item="${view}_item[@]"
  click "${!item}"
  type_flight_time 500
  click "${stream_box[@]}"
  sleep 25
  click "${stream_box[@]}"
  sleep 6
  park_pointer
  grab "$root/docs/$view.png"
  stop_all
done

# Two channels: an AutoSample run of dual blocks from a quadrature pair with a pulse dropped on
# channel 2 every 500 and an extra one on channel 1 every 700, the Stability view of the
# channel 2 minus channel 1 difference with a TDEV and an MTIE mask loaded from the chart menu.
if want channels; then
  start_sim --freq 1000 --ch2-ratio 1 --ch2-phase 90 --ch2-drop-every 500 --ch1-extra-every 700
  start_window SAMPLES=3000 VSCALE=40 VSCALEUNITS=BITS DUALCHANNEL=TRUE ANALYSIS=TRUE
  printf 'deviation,tau_s,limit\ntdev,0.001,1e-7\ntdev,1,1e-7\n' > "$work/limits.csv"
  printf 'mtie,0.001,1e-6\nmtie,0.05,1e-6\nmtie,0.2,4e-7\nmtie,10,4e-7\n' >> "$work/limits.csv"
  click "${stability_item[@]}"
  capture_with_autosample 4
  # The channel choice: the last of its items.
  click "${channel_choice[@]}"
  xdotool key End Return
  sleep 1
  # The chart menu's "Load limit lines...", its sixth entry.
  xdotool mousemove --window "$wid" 420 260 click 3
  sleep 1
  xdotool key Down Down Down Down Down Down Return
  sleep 1
  xdotool type --delay 20 "$work/limits.csv"
  xdotool key Return
  sleep 1.5
  park_pointer
  grab "$root/docs/channels.png"
  stop_all
fi

echo "take-pictures.sh: wrote the pictures in docs/"
