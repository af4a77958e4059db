#!/bin/sh
# Runs a command with one private Xvfb display for all the Wine programs it starts,
# unless a display is already there. Afterwards, whatever the command's outcome, the Wine
# server of each prefix named in TARNEVOX_WINE_PREFIXES (separated by spaces) is ended,
# and with it every Wine process of that prefix (services, device drivers, desktop).
. "$(dirname "$0")/wine-lib.sh"

cleanup() {
  for prefix in ${TARNEVOX_WINE_PREFIXES:-}; do end_wine /usr/lib/wine/wineserver "$prefix"; done
  stop_xvfb  # after Wine, whose programs are its clients
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb 1280x1100 || exit 1
fi
# In the background, so that a signal to this script is acted on at once. (A command in
# the background ignores SIGINT, so it is ended with SIGTERM either way.)
"$@" &
child=$!
trap 'kill -TERM $child 2>/dev/null; exit 143' TERM
trap 'kill -TERM $child 2>/dev/null; exit 130' INT
status=0
wait $child || status=$?
exit $status
