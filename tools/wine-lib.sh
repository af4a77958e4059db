# Shell functions shared by the scripts that run Windows programs under Wine. Sourced.

# Starts a private Xvfb on a display number it picks itself (free, with no race against
# another run), with the screen given ("1280x1100", say) and any further options. Sets
# XVFB_PID and exports DISPLAY; returns non-zero when the server does not come up.
start_xvfb() {
  screen=$1
  shift
  number_file=$(mktemp)
  Xvfb -displayfd 5 -screen 0 "${screen}x24" -nolisten tcp "$@" 5>"$number_file" \
    >/dev/null 2>&1 9>&- &
  XVFB_PID=$!
  for i in $(seq 1 100); do
    [ -s "$number_file" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  number=$(cat "$number_file")
  rm -f "$number_file"
  [ -n "$number" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$number"
}

stop_xvfb() {
  [ -n "${XVFB_PID:-}" ] || return 0
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
}

# Ends the Wine server of a prefix, and with it every Wine process of the prefix
# (services, device drivers, the desktop). wineserver PREFIX
end_wine() {
  [ -d "$2" ] || return 0
  WINEPREFIX=$2 "$1" -k >/dev/null 2>&1 || true
  WINEPREFIX=$2 "$1" -w >/dev/null 2>&1 || true
}

# Makes the prefix in WINEPREFIX with the given wine loader and server, and marks it
# ready. The caller holds a lock, as parallel tests may ask at the same time. wine server
prepare_prefix() {
  "$1" wineboot --init >/dev/null 2>&1 || true
  # Xvfb has no window manager: without this, Wine waits 2 s for one whenever a top-level
  # window with a caption is destroyed.
  "$1" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
  "$2" -w || true
  touch "$WINEPREFIX/.tarnevox-ready"
}

# The X screen's size that holds every monitor of the layout "$1" ("1800x1200+0+0
# 1280x1024+1800+0": width x height + left + top each).
layout_screen() {
  echo "$1" | tr ' ' '\n' | awk -F'[x+]' 'NF == 4 {
      if ($1 + $3 > w) w = $1 + $3
      if ($2 + $4 > h) h = $2 + $4
    } END { if (w > 0) printf "%dx%d\n", w, h }'
}

# Builds tools/fake-xinerama.c into DIR/64 and DIR/32 (both widths: a 64-bit prefix runs
# 64-bit service processes beside 32-bit programs); the loader skips the one of the
# other width on LD_LIBRARY_PATH. It needs nothing but the C library, so no 32-bit
# development files either. DIR
build_fake_xinerama() {
  source=$(dirname "$script")/fake-xinerama.c
  for bits in 64 32; do
    mkdir -p "$1/$bits"
    cc -m$bits -shared -fPIC -nostdlib -O2 -o "$1/$bits/libXinerama.so.1" "$source" || return 1
  done
}
