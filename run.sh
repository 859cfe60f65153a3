#!/usr/bin/env bash
# Installs what is missing, builds a release build into build/release, starts the instrument
# simulator k390sim on 127.0.0.1 and opens the window against it. The simulator stops when the
# window closes.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DK390_TESTS=OFF \
  -DK390_BENCHMARKS=OFF > /dev/null
cmake --build build/release

bin=build/release/bin
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open." >&2
  echo "Run it from a desktop session, or under a virtual display: xvfb-run -a ./run.sh" >&2
  echo "Headless figures of the example capture instead:" >&2
  "$bin/k390tool" figures --flight-ms 1 examples/example.JIT >&2
  exit 1
fi

port=${K390_PORT:-38253}
"$bin/k390sim" --bind 127.0.0.1 --port "$port" --freq 1000 --jitter-ticks 3 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT

# Point the window's settings file at the simulator, keeping every other key.
scripts/set-setting.sh "$bin/K390cap.ini" IP 127.0.0.1
scripts/set-setting.sh "$bin/K390cap.ini" PORT "$port"
scripts/set-setting.sh --if-absent "$bin/K390cap.ini" STREAM UDP
scripts/set-setting.sh --if-absent "$bin/K390cap.ini" ANALYSIS TRUE

"$bin/K390cap"
