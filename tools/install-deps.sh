#!/bin/sh
# Installs, through apt-get, the Debian 12 packages that building and testing need,
# when any of them is missing. Run as root (or with sudo available).
set -e
packages="cmake ninja-build make g++ clang libclang-rt-14-dev googletest libbenchmark-dev
  libfftw3-dev libsndfile1-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-i686-dev mingw-w64-x86-64-dev
  binutils-mingw-w64 nsis zip wine64 xvfb xauth libgl1-mesa-dri libglx-mesa0 x11-utils
  libx11-dev libxcomposite-dev imagemagick util-linux debootstrap"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
