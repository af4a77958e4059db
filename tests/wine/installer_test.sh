#!/bin/sh
# The setup program as a user runs it: a stand-in player folder (the stand-in host as
# winamp.exe, with the registry entry a player's installer writes), then refusals that
# must change nothing, a silent install over an older plug-in that the player then draws
# with, settings in another folder, activation, uninstalls, Winamp named only by its
# other registry values, and WACUP (the stand-in host as wacup.exe) beside it and alone.
#   installer_test.sh SETUP BIN VERSION BITS
# BITS is the setup's: 32 in the chroot's 32-bit Wine (wine32-root.sh with ROOT sh ...),
# 64 under wine64; TARNEVOX_WINE names the Wine loader, WINEPREFIX a prefix that this
# test makes afresh.
set -u
setup=$1
bin=$2
version=$3
view=/reg:$4
wine=$TARNEVOX_WINE
server=$(dirname "$wine")/wineserver

# A prefix of its own, so nothing of this test reaches the other tests.
export WINEPREFIX="${WINEPREFIX%/}-setup"
export WINEDEBUG=-all
rm -rf "$WINEPREFIX"
trap '"$server" -k 2>/dev/null; "$server" -w 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
"$wine" wineboot --init >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
drive=$WINEPREFIX/drive_c
appdata=$drive/users/$(id -un)/AppData/Roaming
player="$drive/Players/Win amp"
player_win='C:\Players\Win amp'
uninstall_keys='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
stop=$WINEPREFIX/stop-helper
failures=0

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

win() {
  "$wine" "$@" 2>/dev/null
}

# Runs the setup with the arguments given; prints and returns its exit code.
run_setup() {
  status=0
  win "$setup" "$@" || status=$?
  echo "setup $*: exit code $status"
  return $status
}

# The uninstaller runs on from a copy of itself in the temporary folder, so the test
# waits until every program of the prefix has ended.
run_uninstaller() {
  win "$1" /S
  "$server" -w
}

# Every file of the player, the settings folder and the visualization folder, with its
# hash, and our entry in the list of programs.
state() {
  (cd "$drive" && find Players "vis plugins" "users/$(id -un)/AppData/Roaming/Winamp" \
    -type f 2>/dev/null | sort | while read -r f; do sha256sum "$f"; done)
  win reg query "$uninstall_keys\\Tarnevox" $view || echo "no entry"
}

entry() {
  win reg query "$uninstall_keys\\Tarnevox" /v "$1" $view | sed -n "s/^ *$1 *REG_[A-Z]* *//p" |
    tr -d '\r'
}

# Starts the helper in the background and waits for it to be in place.
start_helper() {
  rm -f "$stop" "$WINEPREFIX/helper.out"
  "$wine" "$bin/installer_helper.exe" "$@" "$stop" >"$WINEPREFIX/helper.out" 2>&1 &
  for i in $(seq 1 200); do
    grep -q ready "$WINEPREFIX/helper.out" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "installer_helper $1 did not get ready"
}

stop_helper() {
  touch "$stop"
  wait
}

# The stand-in player in FOLDER, started as PROGRAM, draws with the plug-in PLUGIN.
draws_with() {  # FOLDER PROGRAM PLUGIN
  frames=$WINEPREFIX/frames
  rm -rf "$frames"
  mkdir -p "$frames"
  output=$(cd "$1" && WINEDLLOVERRIDES="d3d9=n,b" TARNEVOX_CAPTURE_DIR="$frames" \
    win "./$2" --module 1 --signal beat --seconds 3 --size 300x150 "$3")
  echo "$output"
  calls=$(echo "$output" | sed -n 's/.*: \([0-9]*\) render calls.*/\1/p')
  [ "${calls:-0}" -gt 0 ] || fail "$2: no render calls"
  colours=$(convert "$frames/latest.ppm" -format '%k' info: 2>/dev/null || echo 0)
  echo "captured frame: $colours colours"
  [ "$colours" -gt 1 ] || fail "$2: the captured frame is flat or missing"
}

mkdir -p "$player/Plugins" "$drive/vis plugins" "$appdata"
cp "$bin/tarnevox-host.exe" "$player/winamp.exe"
# The capturing d3d9.dll beside the player, for its pictures.
cp "$bin/capture/d3d9.dll" "$player/d3d9.dll"
echo "ini of the player" >"$player/winamp.ini"
before_install=$(state)

echo "== No player anywhere"
run_setup /S && fail "setup succeeded without a player"
[ "$(state)" = "$before_install" ] || fail "a setup without a player changed something"

win reg add "$uninstall_keys\\Winamp" /v UninstallString /d "\"$player_win\\UninstWA.exe\"" \
  /f $view >/dev/null
player_alone=$(state)
# An older plug-in in place, which the player may hold.
printf 'an older vis_tarnevox.dll\n' >"$player/Plugins/vis_tarnevox.dll"
before_install=$(state)

# A silent setup while a helper process holds something: the exit code, and nothing changed.
refused_while() {  # code what helper-arguments...
  code=$1
  what=$2
  shift 2
  echo "== Refused: $what"
  start_helper "$@"
  run_setup /S
  [ $? -eq "$code" ] || fail "setup with $what did not exit with $code"
  stop_helper
  [ "$(state)" = "$before_install" ] || fail "a setup refused for $what changed something"
}
refused_while 3 "the player running" window "Winamp v1.x"
refused_while 4 "the old plug-in held open by another program" \
  hold "$player_win\\Plugins\\vis_tarnevox.dll"

echo "== Silent install over the older plug-in, twice"
run_setup /S || fail "silent install failed"
run_setup /S || fail "second silent install failed"
cmp "$player/Plugins/vis_tarnevox.dll" "$bin/vis_tarnevox.dll" ||
  fail "the installed plug-in is not the built one"
[ -f "$player/Plugins/uninstall-tarnevox.exe" ] || fail "no uninstaller"
[ "$(entry DisplayVersion)" = "$version" ] || fail "entry's version is '$(entry DisplayVersion)'"
[ "$(entry InstallLocation)" = "$player_win\\Plugins" ] ||
  fail "entry's install location is '$(entry InstallLocation)'"
[ "$(entry QuietUninstallString)" = "\"$player_win\\Plugins\\uninstall-tarnevox.exe\" /S" ] ||
  fail "entry's quiet uninstall command is '$(entry QuietUninstallString)'"
entries=$(win reg query "$uninstall_keys" $view | grep -c -i '\\Tarnevox')
[ "$entries" -eq 1 ] || fail "$entries entries in the list of programs"
grep -q visplugin "$player/winamp.ini" && fail "a silent install without /ACTIVATE activated"

echo "== The player draws with the installed plug-in"
draws_with "$player" winamp.exe "$player_win\\Plugins\\vis_tarnevox.dll"

echo "== Silent uninstall"
run_uninstaller "$player/Plugins/uninstall-tarnevox.exe"
[ "$(state)" = "$player_alone" ] ||
  fail "after the uninstall the player's files or the list of programs differ from before"

echo "== Settings in the application-data folder, another visualization folder, activation"
printf '[Winamp]\r\ninidir={26}\\Winamp\r\n' >"$player/paths.ini"
mkdir -p "$appdata/Winamp"
printf '[Winamp]\r\nVisDir=C:\\vis plugins\r\n' >"$appdata/Winamp/winamp.ini"
run_setup /S /ACTIVATE || fail "silent install with /ACTIVATE failed"
cmp "$drive/vis plugins/vis_tarnevox.dll" "$bin/vis_tarnevox.dll" ||
  fail "the plug-in is not in the folder that VisDir names"
[ ! -e "$player/Plugins/vis_tarnevox.dll" ] || fail "the plug-in went to Plugins despite VisDir"
grep -q '^visplugin_name=vis_tarnevox.dll' "$appdata/Winamp/winamp.ini" &&
  grep -q '^visplugin_num=0' "$appdata/Winamp/winamp.ini" ||
  fail "activation did not write both keys: $(cat "$appdata/Winamp/winamp.ini")"
run_uninstaller "$drive/vis plugins/uninstall-tarnevox.exe"
grep -q '^visplugin_name=\s*$' "$appdata/Winamp/winamp.ini" ||
  fail "uninstall did not clear our visualization: $(cat "$appdata/Winamp/winamp.ini")"
[ ! -e "$drive/vis plugins/vis_tarnevox.dll" ] || fail "the plug-in is still in the VisDir folder"

echo "== Uninstall after the user chose another visualization"
run_setup /S /ACTIVATE || fail "silent install with /ACTIVATE failed"
sed -i 's/^visplugin_name=.*/visplugin_name=vis_other.dll\r/' "$appdata/Winamp/winamp.ini"
run_uninstaller "$drive/vis plugins/uninstall-tarnevox.exe"
grep -q '^visplugin_name=vis_other.dll' "$appdata/Winamp/winamp.ini" ||
  fail "uninstall changed another visualization: $(cat "$appdata/Winamp/winamp.ini")"

# Without paths.ini Winamp's settings are the winamp.ini beside it, not the one (with
# VisDir) left in %APPDATA%\Winamp: the plug-in goes to Plugins.
rm "$player/paths.ini"
win reg delete "$uninstall_keys\\Winamp" /f $view >/dev/null
found_by() {  # KEY VALUE-SWITCH...: only that registry value names Winamp's folder
  echo "== Winamp named only by $*"
  win reg add "$@" /d "$player_win" /f $view >/dev/null
  run_setup /S || fail "silent install with Winamp named only by $* failed"
  cmp "$player/Plugins/vis_tarnevox.dll" "$bin/vis_tarnevox.dll" ||
    fail "with Winamp named only by $*, the plug-in is not in its Plugins folder"
  draws_with "$player" winamp.exe "$player_win\\Plugins\\vis_tarnevox.dll"
  run_uninstaller "$player/Plugins/uninstall-tarnevox.exe"
}
found_by "$uninstall_keys\\Winamp" /v InstallLocation
win reg delete "$uninstall_keys\\Winamp" /f $view >/dev/null
found_by 'HKCU\Software\Winamp' /ve

echo "== WACUP beside Winamp: the silent setup takes Winamp; then WACUP alone"
wacup="$drive/Players/My WACUP"
wacup_win='C:\Players\My WACUP'
mkdir -p "$wacup/Plugins" "$appdata/WACUP"
cp "$bin/tarnevox-host.exe" "$wacup/wacup.exe"
cp "$bin/capture/d3d9.dll" "$wacup/d3d9.dll"
printf '[Winamp]\r\nvisplugin_name=vis_other.dll\r\n' >"$appdata/WACUP/winamp.ini"
win reg add "$uninstall_keys\\WACUP" /v UninstallString /d "$wacup_win\\Uninstall.exe" /f $view \
  >/dev/null
run_setup /S || fail "silent install with both players failed"
[ -e "$player/Plugins/vis_tarnevox.dll" ] && [ ! -e "$wacup/Plugins/vis_tarnevox.dll" ] ||
  fail "with both players installed, the silent setup did not take Winamp, found first"
run_uninstaller "$player/Plugins/uninstall-tarnevox.exe"
win reg delete 'HKCU\Software\Winamp' /f $view >/dev/null
run_setup /S /ACTIVATE || fail "silent install into WACUP failed"
cmp "$wacup/Plugins/vis_tarnevox.dll" "$bin/vis_tarnevox.dll" ||
  fail "the plug-in is not in WACUP's Plugins folder"
grep -q '^visplugin_name=vis_tarnevox.dll' "$appdata/WACUP/winamp.ini" &&
  [ ! -e "$wacup/winamp.ini" ] || fail "activation did not go to WACUP's settings in %APPDATA%"
draws_with "$wacup" wacup.exe "$wacup_win\\Plugins\\vis_tarnevox.dll"
run_uninstaller "$wacup/Plugins/uninstall-tarnevox.exe"
grep -q '^visplugin_name=\s*$' "$appdata/WACUP/winamp.ini" &&
  [ ! -e "$wacup/Plugins/vis_tarnevox.dll" ] || fail "WACUP's plug-in or visualization stayed"

echo "$failures failures"
[ "$failures" -eq 0 ]
