#!/bin/sh
# Runs one Windows program under wine64 with the build tree's own Wine prefix.
# The prefix is created on first use (under a lock, since CTest runs tests in parallel);
# without a display, the program gets a private Xvfb.
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
ready="$WINEPREFIX/.tarnevox-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" sh -c '
    if [ ! -f "'"$ready"'" ]; then
      '"$wine"' wineboot --init >/dev/null 2>&1 || true
      # Xvfb has no window manager: without this, Wine waits 2 s for one whenever a
      # top-level window with a caption is destroyed.
      '"$wine"' reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -w || true
      touch "'"$ready"'"
    fi'
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1100x24" "$wine" "$@"
fi
exec "$wine" "$@"
