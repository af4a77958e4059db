#!/bin/sh
# Runs a command with one private Xvfb display for all the Wine programs it starts,
# unless a display is already there. Afterwards, whatever the command's outcome, the Wine
# server of each prefix named in TARNEVOX_WINE_PREFIXES (separated by spaces) is ended,
# and with it every Wine process of that prefix (services, device drivers, desktop).
end_wine() {
  for prefix in ${TARNEVOX_WINE_PREFIXES:-}; do
    [ -d "$prefix" ] || continue
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  done
}

if [ -n "${DISPLAY:-}" ]; then
  trap end_wine EXIT
  trap 'exit 130' INT TERM
  status=0
  "$@" || status=$?
  exit $status
fi
for n in $(seq 90 140); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1100x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
# Wine goes before the X server its programs are connected to.
trap 'end_wine; kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
trap 'exit 130' INT TERM
for i in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
status=0
DISPLAY=":$display" "$@" || status=$?
exit $status
