#!/bin/sh
# Makes the two release files of a built plug-in in OUT: tarnevox-VERSION-setup.exe and
# tarnevox-VERSION.zip. The same plug-in and sources give the same bytes: every file
# time is SOURCE_DATE_EPOCH (by default the last commit's time), the zip holds no owner
# or extra time fields and its members come in a fixed order.
#
#   package.sh VERSION DLL OUT PUBLISHER COPYRIGHT [TARGET [SUFFIX]]
# TARGET is the setup program's (x86-unicode, the default, or amd64-unicode); SUFFIX goes
# after the version in both names.
set -eu
[ $# -ge 5 ] || { echo "usage: $0 VERSION DLL OUT PUBLISHER COPYRIGHT [TARGET [SUFFIX]]" >&2; exit 2; }
version=$1
dll=$2
out=$3
target=${6:-x86-unicode}
name=tarnevox-$version${7:-}
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || true)}
if [ -z "$epoch" ]; then
  epoch=315532800
  echo "package.sh: neither SOURCE_DATE_EPOCH nor a commit; file times are 1980-01-01" >&2
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$out/stage
rm -rf "$stage"
mkdir -p "$stage"
cp "$dll" "$stage/vis_tarnevox.dll"
# Text files with Windows line ends, for Notepad.
sed "s/@VERSION@/$version/g; s/\$/\r/" "$here/readme.txt" >"$stage/README.txt"
sed 's/$/\r/' "$repo/LICENSE" >"$stage/LICENSE.txt"
chmod 644 "$stage"/*
touch -d "@$epoch" "$stage"/*

zip=$out/$name.zip
rm -f "$zip"
(cd "$stage" && TZ=UTC zip -q -X -9 "$zip" vis_tarnevox.dll README.txt LICENSE.txt)

makensis -V2 -INPUTCHARSET UTF8 -DTARGET="$target" -DVERSION="$version" -DDLL="$stage/vis_tarnevox.dll" \
  -DLICENSE="$stage/LICENSE.txt" -DOUTFILE="$out/$name-setup.exe" \
  -DPUBLISHER="$4" -DCOPYRIGHT="$5" "$here/tarnevox.nsi"
rm -rf "$stage"
