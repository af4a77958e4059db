#!/bin/sh
# make release: the shipping plug-in built afresh in build/release from the checked-out
# sources, then dist/tarnevox-VERSION-setup.exe, dist/tarnevox-VERSION.zip and
# dist/SHA256SUMS. Time stamps come from the last commit, so two builds of one commit,
# in any folder and on any day, give the same bytes.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
    { echo "release: no commit to take the time from; set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: note: the work tree has uncommitted changes; the files are built from them"
fi

rm -rf build/release dist
cmake --preset release >/dev/null
cmake --build --preset release
mkdir -p dist
cp build/release/dist/tarnevox-*-setup.exe build/release/dist/tarnevox-*.zip dist/
(cd dist && sha256sum -- *-setup.exe *.zip >SHA256SUMS)
echo "== dist/ (built from commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown))"
ls -l dist
cat dist/SHA256SUMS
echo "vis_tarnevox.dll: $(sha256sum build/release/bin/vis_tarnevox.dll | cut -d' ' -f1)"
