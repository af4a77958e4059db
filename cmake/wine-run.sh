#!/bin/sh
# Runs one Windows program under wine64 with the build tree's own Wine prefix.
# The prefix is created on first use (under a lock, since CTest runs tests in parallel).
# The program gets a private Xvfb of its own unless tools/run-with-xvfb.sh made one for
# the run: never the user's display.
set -e
build_dir=${TARNEVOX_BUILD_DIR:-$(pwd)}
while [ ! -f "$build_dir/CMakeCache.txt" ] && [ "$build_dir" != "/" ]; do
  build_dir=$(dirname "$build_dir")
done
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko prompts: this machine cannot download them and nothing here needs them.
export WINEDLLOVERRIDES="mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
wine=/usr/lib/wine/wine64
# The marker is written only once the prefix is complete and its server has ended, so a
# test that finds it never races the one that builds it (and the waiting builder never
# waits for other tests, which cannot have started yet).
. "$(dirname "$0")/../tools/wine-lib.sh"
if [ ! -f "$WINEPREFIX/.tarnevox-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 8>"$WINEPREFIX.lock"
  flock 8
  [ -f "$WINEPREFIX/.tarnevox-ready" ] || prepare_prefix "$wine" /usr/lib/wine/wineserver 8>&-
  exec 8>&-
fi
# Wine starts its server and its desktop process (explorer) from whichever program needs
# them first, and they keep that program's output open until they end, after every other
# test. So the program writes to a file, which is copied to the output once it has ended.
/usr/lib/wine/wineserver -p 10 </dev/null >/dev/null 2>&1 || true
log=$(mktemp)
status=0
if [ -n "${DISPLAY:-}" ] && [ "$DISPLAY" = "${TARNEVOX_PRIVATE_DISPLAY:-}" ]; then
  "$wine" "$@" </dev/null >"$log" 2>&1 || status=$?
else
  xvfb-run -a -s "-screen 0 1280x1100x24" "$wine" "$@" </dev/null >"$log" 2>&1 || status=$?
fi
cat "$log"
rm -f "$log"
exit $status
