#!/bin/sh
# What `make demo` shows: the shipping DLL's export and imports, its modules, and both
# visualizations running in the stand-in host under Wine. The frames come from the
# capturing d3d9.dll beside the host (a child window's frames never reach an X screen
# under Debian's Wine) and end up as out/waveform.png, out/spectrum.png and
# out/tarnevox.gif, drawn at the size of the host's frame (768 x 384 client pixels). Then
# the spectrum runs in a player's small frame (275 x 116) under the private Wine copy of
# tools/private-wine.sh, which does show them, for out/frame-small.png (skipped, with a
# message, where that copy cannot be made), and once more in full screen on a monitor of
# 1280 x 720 for out/full-screen.png. Everything runs on a private Xvfb, except that on a
# desktop (DISPLAY set) the two modules run with that private Wine copy on the user's
# screen, so the frame shows them live while their frames are captured.
#
# Settings: TARNEVOX_DEMO_I686 and TARNEVOX_DEMO_X86_64 (build trees, default
# build/i686 and build/x86_64), TARNEVOX_DEMO_OUT (default out), TARNEVOX_DEMO_SECONDS
# (per module; default 3, or 8 on a live display).
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
i686=${TARNEVOX_DEMO_I686:-$repo/build/i686}
x86_64=${TARNEVOX_DEMO_X86_64:-$repo/build/x86_64}
out=${TARNEVOX_DEMO_OUT:-$repo/out}

# Under a private Xvfb, with every Wine process of the build tree's prefix ended before
# the demo returns. The user's display, if any, is remembered for the live part.
if [ -z "${TARNEVOX_DEMO_WRAPPED:-}" ]; then
  export TARNEVOX_DEMO_DISPLAY="${DISPLAY:-}"
  TARNEVOX_DEMO_WRAPPED=1 TARNEVOX_WINE_PREFIXES="$x86_64/wineprefix" \
    exec "$repo/tools/run-with-xvfb.sh" "$0" "$@"
fi

started=$(date +%s)
shipping=$i686/bin/vis_tarnevox.dll
bundle=$x86_64/bin/capture
for file in "$shipping" "$bundle/tarnevox-host.exe" "$bundle/vis_tarnevox.dll" "$bundle/d3d9.dll"; do
  [ -f "$file" ] || { echo "demo: $file is missing; run make i686 x86_64 first" >&2; exit 1; }
done

# The build tree's own Wine prefix, as the tests use it.
wine() {
  TARNEVOX_BUILD_DIR=$x86_64 WINEDEBUG=-all "$repo/cmake/wine-run.sh" "$@"
}

echo "== The shipping plug-in: ${shipping#$repo/}"
dump=$(i686-w64-mingw32-objdump -p "$shipping")
printf '%s\n' "$dump" | sed -n 's/^.*file format /File format: /p'
echo "Exports:"
printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] /  /p'
echo "Imports:"
printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: /  /p'

echo
echo "== Its modules, as the stand-in host lists them (the same sources built for x86-64)"
wine "$bundle/tarnevox-host.exe" --list "$bundle/vis_tarnevox.dll"

# Debian's Wine would show the frame black on the user's screen (a child window's
# Direct3D frames go nowhere); the private copy shows them.
live=""
if [ -n "${TARNEVOX_DEMO_DISPLAY:-}" ]; then
  if why=$("$repo/tools/private-wine.sh" build "$x86_64/private-wine" 2>&1); then
    live=1
  else
    echo
    echo "No live picture on $TARNEVOX_DEMO_DISPLAY: $(printf '%s' "$why" | tail -n 1)"
  fi
fi
if [ -n "$live" ]; then
  seconds=${TARNEVOX_DEMO_SECONDS:-8}
else
  seconds=${TARNEVOX_DEMO_SECONDS:-3}
fi

# The stand-in host with the capturing d3d9.dll, live on the user's screen or not.
run_host() {
  if [ -n "$live" ]; then
    TARNEVOX_PRIVATE_WINE_DISPLAY=$TARNEVOX_DEMO_DISPLAY \
      "$repo/tools/private-wine.sh" run "$x86_64/private-wine" "$bundle/tarnevox-host.exe" "$@"
  else
    wine "$bundle/tarnevox-host.exe" "$@"
  fi
}

# A frame of the README pictures' shape; the plug-in draws at exactly this size.
frame_size=768x384
mkdir -p "$out"
frames=$out/.frames
rm -rf "$frames"
gif_frames=""
for module in 0 1; do
  name=waveform
  [ "$module" = 1 ] && name=spectrum
  echo
  where=""
  [ -n "$live" ] && where=", live on $TARNEVOX_DEMO_DISPLAY"
  echo "== Module $module running for $seconds s on the beat signal$where"
  dir=$frames/$name
  mkdir -p "$dir"
  # Every third frame, the first 30: enough for the fading start to settle.
  TARNEVOX_CAPTURE_DIR=$dir TARNEVOX_CAPTURE_MODE=sequence TARNEVOX_CAPTURE_EVERY=3 \
  TARNEVOX_CAPTURE_LIMIT=30 WINEDLLOVERRIDES="d3d9=n,b" \
    run_host --module "$module" --signal beat --seconds "$seconds" --size "$frame_size" \
    "$bundle/vis_tarnevox.dll"
  last=$(ls "$dir" | sort | tail -n 1)
  [ -n "$last" ] || { echo "demo: no frames were captured for $name" >&2; exit 1; }
  convert "$dir/$last" "$out/$name.png"
  echo "wrote ${out#$repo/}/$name.png from $(ls "$dir" | wc -l) captured frames"
  # The animation leaves out the first frames, drawn before the skin colours arrived.
  for file in $(ls "$dir" | sort | tail -n 20); do
    gif_frames="$gif_frames $dir/$file[384x192]"
  done
done

# shellcheck disable=SC2086  # one argument per frame
convert -delay 8 -loop 0 $gif_frames -layers Optimize "$out/tarnevox.gif"
echo "wrote ${out#$repo/}/tarnevox.gif"
rm -rf "$frames"

# A player's small frame as the X screen shows it. Only the private Wine copy shows a
# child window's frames on the screen; it gets an X server and a prefix of its own.
echo
echo "== The spectrum in a frame of 275 x 116 client pixels, as the X screen shows it"
shot_status=0
"$repo/tools/private-wine.sh" with "$x86_64/private-wine" sh -c '
  "$TARNEVOX_WINE" "$1/tarnevox-host.exe" --module 1 --signal beat --size 275x116 \
    --seconds 6 "$1/vis_tarnevox.dll" >/dev/null 2>&1 &
  for i in $(seq 1 100); do
    frame=$(xwininfo -root -tree | sed -n "s/^ *\(0x[0-9a-f]*\) \"Tarnevox\":.*/\1/p" | head -n 1)
    [ -n "$frame" ] && break
    sleep 0.1
  done
  [ -n "$frame" ] || { echo "demo: the frame did not appear" >&2; exit 1; }
  sleep 2.5
  import -window "$frame" "$2" || exit 1
  wait' sh "$x86_64/bin" "$out/frame-small.png" || shot_status=$?
case $shot_status in
  0) echo "wrote ${out#$repo/}/frame-small.png" ;;
  77) echo "no ${out#$repo/}/frame-small.png: this Wine cannot show a child window's frames" ;;
  *) echo "demo: the small frame could not be shown" >&2; exit 1 ;;
esac

# Full screen as the X screen shows it: a double-click on the picture, on a monitor of
# 1280 x 720, shot once the full-screen window is there and the reset has been drawn.
echo
echo "== The spectrum in full screen after a double-click, on a monitor of 1280 x 720"
shot_status=0
TARNEVOX_PRIVATE_SCREEN=1280x720 "$repo/tools/private-wine.sh" with "$x86_64/private-wine" sh -c '
  "$TARNEVOX_WINE" "$1/tarnevox-host.exe" --module 1 --signal beat --size 275x116 \
    --full-screen 1 --seconds 8 "$1/vis_tarnevox.dll" >/dev/null 2>&1 &
  for i in $(seq 1 100); do
    xwininfo -root -tree | grep -q "\"Tarnevox\": .* 1280x720+0+0" && break
    sleep 0.1
  done
  xwininfo -root -tree | grep -q "\"Tarnevox\": .* 1280x720+0+0" ||
    { echo "demo: no full-screen window appeared" >&2; exit 1; }
  sleep 3
  import -window root "$2" || exit 1
  wait' sh "$x86_64/bin" "$out/full-screen.png" || shot_status=$?
case $shot_status in
  0) echo "wrote ${out#$repo/}/full-screen.png" ;;
  77) echo "no ${out#$repo/}/full-screen.png: this Wine cannot show a child window's frames" ;;
  *) echo "demo: full screen could not be shown" >&2; exit 1 ;;
esac

echo
echo "demo took $(( $(date +%s) - started )) s"
