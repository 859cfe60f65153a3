# Shared by the capture-rate and soak scripts; sourced, not run.

# sim_port DIR: waits up to 5 s for the k390sim started with its output in DIR/sim.out and its
# errors in DIR/sim.err to print its port, then prints the port; exits 1 when it never does.
sim_port() {
  local port=""
  for _ in $(seq 100); do
    port="$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$1/sim.out")"
    [ -n "$port" ] && break
    sleep 0.05
  done
  if [ -z "$port" ]; then
    echo "k390sim did not start" >&2
    cat "$1/sim.err" >&2
    exit 1
  fi
  echo "$port"
}

# stream_window_command WINDOW BUILD: sets window_cmd to perf_stream on a virtual display with a
# desktop accessibility bus (WINDOW=xvfb) or offscreen.
stream_window_command() {
  if [ "$1" = "xvfb" ]; then
    window_cmd=(xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session --
      env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$2/bin/perf_stream" --on-screen)
  else
    window_cmd=("$2/bin/perf_stream")
  fi
}
