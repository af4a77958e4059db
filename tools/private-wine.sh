#!/bin/sh
# A private copy of Wine whose X11 driver shows a child window's Direct3D frames on the X
# screen, as a user sees them in the host's frame (clipped, scaled, resized).
#
# Debian's Wine 8 hands a child window without an X window of its own X drawable 0, so
# what Direct3D presents there goes nowhere. The copy's winex11.so has the upstream
# fallback restored: the drawable is the top-level window's. Nothing of the system's Wine
# is changed; the copy lives in the build tree and uses a prefix and an X server of its own.
#
#   private-wine.sh build DIR              make the copy in DIR (once)
#   private-wine.sh run DIR PROGRAM ARGS   run a Windows program with it
#   private-wine.sh with DIR COMMAND ARGS  run a command that starts Windows programs with
#                                          "$TARNEVOX_WINE" and may read the screen
#
# run and with use a private Xvfb of 1800x1200 (TARNEVOX_PRIVATE_SCREEN to change), or the
# X display named in TARNEVOX_PRIVATE_WINE_DISPLAY (the demo's live picture on the user's
# screen), and the prefix DIR/prefix, one run at a time, and end every process they
# started. With TARNEVOX_PRIVATE_MONITORS set ("1800x1200+0+0 1280x1024+1800+0": width x
# height + left + top each) Wine sees those monitors side by side on one private X screen
# that holds them all (tools/fake-xinerama.c, built with the system's C compiler).
#
# Both exit with 77, after one line on stderr, when the system's winex11.so is not the one
# the patch was made for (Debian's 8.0~repack-4, amd64): the caller skips.
set -eu
script=$0
. "$(dirname "$0")/wine-lib.sh"

system_unix=/usr/lib/x86_64-linux-gnu/wine/x86_64-unix
expected_sha=c5e787f9337ab2768486aab5fdb4ee320756140ab53a0e16353181c881f0660b
patch_offset=$((0x42d58))
original_bytes="48 8b 44 24 38 4c 39 f0 0f 85 4b ff ff ff eb b4"
# Store the top-level window in the escape's drawable, then jump to the ExtEscape call.
patched_bytes="4c 89 74 24 38 eb bd 90 90 90 90 90 90 90 90 90"

skip() {
  echo "private Wine skipped: $*" >&2
  exit 77
}

bytes_at() {  # file offset count
  od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'
}

# Makes the copy, unless one of the system's present Wine is there already (the marker
# holds the hash it was made from: after an upgrade of Wine the copy would not match the
# Windows half of Wine, which it links to).
build() {
  dir=$1
  [ -x /usr/lib/wine/wine64 ] || skip "no /usr/lib/wine/wine64"
  [ -f "$system_unix/winex11.so" ] || skip "no $system_unix/winex11.so"
  sha=$(sha256sum "$system_unix/winex11.so" | cut -d' ' -f1)
  [ "$sha" = "$expected_sha" ] ||
    skip "winex11.so is not Debian's 8.0~repack-4 build (sha256 $sha), so its patch does not apply"
  [ "$(cat "$dir/.ready" 2>/dev/null)" = "$sha" ] && return 0
  [ "$(bytes_at "$system_unix/winex11.so" $patch_offset 16)" = "$original_bytes" ] ||
    skip "winex11.so does not hold the expected code at the patch offset"

  rm -rf "$dir.tmp"
  mkdir -p "$dir.tmp/usr/lib/wine" "$dir.tmp/usr/lib/x86_64-linux-gnu/wine" "$dir.tmp/usr/share"
  # The loader finds ntdll.so at ../x86_64-linux-gnu/wine/x86_64-unix from its own folder,
  # and the rest relative to ntdll.so, so the copy keeps the system's layout.
  cp /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 "$dir.tmp/usr/lib/wine/"
  printf '#!/bin/sh\nexec "$(dirname "$0")/wineserver64" -p0 "$@"\n' >"$dir.tmp/usr/lib/wine/wineserver"
  chmod +x "$dir.tmp/usr/lib/wine/wineserver"
  cp -r "$system_unix" "$dir.tmp/usr/lib/x86_64-linux-gnu/wine/"
  for sub in x86_64-windows i386-windows; do
    ln -s "/usr/lib/x86_64-linux-gnu/wine/$sub" "$dir.tmp/usr/lib/x86_64-linux-gnu/wine/$sub"
  done
  ln -s /usr/share/wine "$dir.tmp/usr/share/wine"

  copy="$dir.tmp/usr/lib/x86_64-linux-gnu/wine/x86_64-unix/winex11.so"
  # shellcheck disable=SC2086  # one byte per word
  printf "$(printf '\\%03o' $(for b in $patched_bytes; do printf '%d ' "0x$b"; done))" |
    dd of="$copy" bs=1 seek=$patch_offset conv=notrunc status=none
  [ "$(bytes_at "$copy" $patch_offset 16)" = "$patched_bytes" ] || {
    echo "private Wine: the patch did not take" >&2
    exit 1
  }
  echo "$sha" >"$dir.tmp/.ready"
  rm -rf "$dir"
  mv "$dir.tmp" "$dir"
}

# Runs "$@" with DISPLAY, WINEPREFIX and TARNEVOX_WINE set for the copy in DIR.
within() {
  dir=$1
  shift
  mkdir -p "$(dirname "$dir")"
  # One run at a time: the prefix's desktop belongs to one X server.
  exec 9>"$dir.lock"
  flock 9
  # In a process of its own, where a failing step stops the build.
  sh "$0" build "$dir" 9>&- || exit $?

  wine="$dir/usr/lib/wine/wine64"
  server="$dir/usr/lib/wine/wineserver"
  export WINEPREFIX="$dir/prefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
  unset WINESERVER WINELOADER

  # The prefix's server and Wine's own service processes end with the run, then Xvfb.
  trap 'end_wine "$server" "$WINEPREFIX"; stop_xvfb' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  if [ -n "${TARNEVOX_PRIVATE_WINE_DISPLAY:-}" ]; then
    export DISPLAY="$TARNEVOX_PRIVATE_WINE_DISPLAY"
  else
    screen=${TARNEVOX_PRIVATE_SCREEN:-1800x1200}
    layout_options=""
    if [ -n "${TARNEVOX_PRIVATE_MONITORS:-}" ]; then
      screen=$(layout_screen "$TARNEVOX_PRIVATE_MONITORS")
      [ -n "$screen" ] || { echo "private Wine: no monitors in '$TARNEVOX_PRIVATE_MONITORS'" >&2; exit 2; }
      build_fake_xinerama "$dir/monitors" || skip "cannot build tools/fake-xinerama.c"
      # Without RandR, Wine takes its monitors from Xinerama, that is from the library.
      layout_options="-extension RANDR"
      export TARNEVOX_MONITORS="$TARNEVOX_PRIVATE_MONITORS"
      export LD_LIBRARY_PATH="$dir/monitors/64${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    fi
    # shellcheck disable=SC2086  # one option per word
    start_xvfb "$screen" +extension Composite +extension GLX $layout_options || exit 1
  fi
  [ -f "$WINEPREFIX/.tarnevox-ready" ] || prepare_prefix "$wine" "$server" 9>&-
  export TARNEVOX_WINE="$wine"
  status=0
  "$@" 9>&- || status=$?
  exit $status
}

# Wine's server and desktop keep the first program's output open until they end, so the
# program writes to a file that is shown once it has ended.
run_program() {
  log=$(mktemp)
  status=0
  "$TARNEVOX_WINE" "$@" </dev/null >"$log" 2>&1 || status=$?
  cat "$log"
  rm -f "$log"
  return $status
}

case "${1:-}" in
  build) [ $# -eq 2 ] || { echo "usage: $0 build DIR" >&2; exit 2; }; build "$2" ;;
  run)
    [ $# -ge 3 ] || { echo "usage: $0 run DIR PROGRAM [ARGS]" >&2; exit 2; }
    dir=$2
    shift 2
    within "$dir" run_program "$@" ;;
  with)
    [ $# -ge 3 ] || { echo "usage: $0 with DIR COMMAND [ARGS]" >&2; exit 2; }
    shift
    within "$@" ;;
  *) echo "usage: $0 build DIR | run DIR PROGRAM [ARGS] | with DIR COMMAND [ARGS]" >&2; exit 2 ;;
esac
