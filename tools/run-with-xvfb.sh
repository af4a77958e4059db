#!/bin/sh
# Runs a command with one private Xvfb display for all the Wine programs it starts, also
# where a display is there: tests read the screen back and must see only their own
# windows, at the size they need, and open nothing on the user's screen. Afterwards, whatever the command's outcome, the Wine
# server of each prefix named in TARNEVOX_WINE_PREFIXES (separated by spaces) is ended,
# and with it every Wine process of that prefix (services, device drivers, desktop).
. "$(dirname "$0")/wine-lib.sh"

cleanup() {
  for prefix in ${TARNEVOX_WINE_PREFIXES:-}; do end_wine /usr/lib/wine/wineserver "$prefix"; done
  stop_xvfb  # after Wine, whose programs are its clients
}
trap cleanup EXIT
start_xvfb 1280x1100 || exit 1
# Tells cmake/wine-run.sh that this display is a private one.
export TARNEVOX_PRIVATE_DISPLAY="$DISPLAY"
# In the background, so that a signal to this script is acted on at once. (A command in
# the background ignores SIGINT, so it is ended with SIGTERM either way.)
"$@" &
child=$!
trap 'kill -TERM $child 2>/dev/null; exit 143' TERM
trap 'kill -TERM $child 2>/dev/null; exit 130' INT
status=0
wait $child || status=$?
exit $status
