#!/bin/sh
# Builds the release of one commit twice, from two clones in folders of different names
# and path lengths, the second with the clock three days ahead (faketime), and compares
# every file of dist/ and the DLL byte for byte. Not part of make test (a few minutes).
#
#   tools/check-reproducible.sh [COMMIT]    default: HEAD
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$repo" rev-parse "${1:-HEAD}")
if ! command -v faketime >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq faketime
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
first=$work/a
second="$work/a much longer folder name/b"
for clone in "$first" "$second"; do
  mkdir -p "$(dirname "$clone")"
  git clone -q "$repo" "$clone"
  git -C "$clone" checkout -q "$commit"
done

echo "== Release of $commit in $first"
make -C "$first" release >"$work/first.log" 2>&1 || { cat "$work/first.log"; exit 1; }
echo "== The same in $second, three days later"
# Only the clock moves: by default libfaketime also shifts the file times that stat()
# reports to some programs (makensis among them), which no real later day does.
NO_FAKE_STAT=1 faketime -f '+3d' make -C "$second" release >"$work/second.log" 2>&1 ||
  { cat "$work/second.log"; exit 1; }
date_seen=$(faketime -f '+3d' date -u +%F)
echo "(the second build's clock read $date_seen)"

status=0
for file in dist/SHA256SUMS dist/tarnevox-*-setup.exe dist/tarnevox-*.zip \
  build/release/bin/vis_tarnevox.dll; do
  for a in "$first"/$file; do
    name=${a#"$first"/}
    if cmp -s "$a" "$second/$name"; then
      echo "same bytes: $name ($(wc -c <"$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16)...)"
    else
      echo "DIFFERENT: $name"
      cmp -l "$a" "$second/$name" | head -n 20
      status=1
    fi
  done
done
exit $status
