#!/bin/sh
# The picture of the setup program's folder page in docs/installing.md: the 64-bit build's setup (the
# same script as the release's, compiled for amd64, since 32-bit programs cannot run on
# every machine here) under wine64 on a private Xvfb, where a top-level window shows,
# with a stand-in player in the usual folder, moved past its licence page.
#   tools/installer-picture.sh [OUT.png]     default out/installer.png
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/tools/wine-lib.sh"
build=$repo/build/x86_64
out=${1:-$repo/out/installer.png}
setup=$(ls "$build"/dist/tarnevox-*-x64-setup.exe)
version=$(basename "$setup" | sed 's/^tarnevox-\(.*\)-x64-setup.exe$/\1/')
wine=/usr/lib/wine/wine64
export WINEPREFIX=$build/picture-prefix WINEDEBUG=-all
trap 'end_wine /usr/lib/wine/wineserver "$WINEPREFIX"; stop_xvfb; rm -rf "$WINEPREFIX"' EXIT
start_xvfb 800x600
rm -rf "$WINEPREFIX"
prepare_prefix "$wine" /usr/lib/wine/wineserver
player="$WINEPREFIX/drive_c/Program Files/Winamp"
mkdir -p "$player/Plugins"
cp "$build/bin/tarnevox-host.exe" "$player/winamp.exe"

"$wine" "$setup" >/dev/null 2>&1 &
"$wine" "$build/bin/installer_helper.exe" next "Tarnevox $version Setup"
sleep 2
mkdir -p "$(dirname "$out")"
window=$(xwininfo -root -tree | sed -n "s/^ *\(0x[0-9a-f]*\) \"Tarnevox $version Setup.*/\1/p" | head -n 1)
import -window "$window" "$out"
echo "wrote $out"
