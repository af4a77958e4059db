#!/bin/sh
# Runs a command with one private Xvfb display for all the Wine programs it starts,
# unless a display is already there.
if [ -n "${DISPLAY:-}" ]; then exec "$@"; fi
for n in $(seq 90 140); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1100x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT INT TERM
for i in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
DISPLAY=":$display" "$@"
