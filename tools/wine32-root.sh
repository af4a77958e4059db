#!/bin/sh
# A Debian chroot with 32-bit Wine, in which the 32-bit build's Windows programs run
# with the shipping DLL. The machine's own Wine is 64-bit only, and its i386 packages
# cannot be installed beside the amd64 ones (the security suite's i386 index does not
# match), so the chroot is made from Debian's main suite alone, where both agree. Two
# releases: Debian 12's, with the same Wine 8 as the machine's (the default), and, with
# --wine 10, Debian 13's Wine 10, in both widths, as today's distributions ship it.
# Nothing of the machine is changed.
#
#   wine32-root.sh [--wine 10] build ROOT              make the chroot in ROOT (once; again
#                                          when its package list or this script's version
#                                          changes)
#   wine32-root.sh [--wine 10] prepare ROOT            build, make the Wine prefix, print
#                                          Wine's version
#   wine32-root.sh [--wine 10] run ROOT PROGRAM ARGS   run a Windows program with the
#                                          chroot's Wine
#   wine32-root.sh [--wine 10] with ROOT COMMAND ARGS  run a command in the chroot, with
#                                          "$TARNEVOX_WINE" set to its Wine loader
#
# ROOT lives in a build tree (build/i686/wine32-root; with Wine 10, a ROOT named
# wine32-root means its sibling wine10-root, see chosen_root); the folder
# that holds it is bound into the chroot at the same path, writable, so programs, DLLs and
# files of that tree keep their paths (give them as absolute paths, or relative ones from
# a working folder in the tree). No other folder of the machine is writable in it. Each
# run is one at a time, in mount and PID namespaces of its own: /proc, /dev, a private
# /tmp, the build tree and an Xvfb of its own exist only for it, and when it ends, also
# when it is killed, every mount and every process it started end with it. The prefix is
# ROOT's /wineprefix (a 64-bit prefix, in which 32-bit programs run as on 64-bit Windows).
# TARNEVOX_DEBIAN_MIRROR names another Debian mirror for the build. For run and with:
# TARNEVOX_PRIVATE_MONITORS ("1800x1200+0+0 1280x1024+1800+0") makes Wine see those
# monitors side by side on one X screen (tools/fake-xinerama.c), and TARNEVOX_LOG_PIXELS
# the system DPI the prefix has for the run (96 unless set; 144 is a scale of 150 %).
#
# Every verb exits 77, after one line on stderr, where the chroot cannot be made or the
# machine cannot run 32-bit programs: the caller skips.
set -eu
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
. "$(dirname "$script")/wine-lib.sh"

# The release, chosen once and handed down to this script's own later runs.
if [ "${1:-}" = --wine ]; then
  export TARNEVOX_CHROOT_WINE="${2:-}"
  shift 2 || true
fi
case ${TARNEVOX_CHROOT_WINE:=8} in
  8) suite=bookworm; extras=imagemagick-6.q16 ;;
  10) suite=trixie; extras="imagemagick-7.q16 xauth" ;;
  *) echo "wine32-root.sh: no chroot with Wine '$TARNEVOX_CHROOT_WINE' (8 or 10)" >&2; exit 2 ;;
esac

# Bumped whenever a change here needs the chroot made again.
version=1
mirror=${TARNEVOX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# Wine for both halves of a 64-bit prefix, the X and OpenGL libraries its display driver
# and Direct3D load (Mesa's llvmpipe), Xvfb, and ImageMagick's import for screenshots.
x_libraries="libgl1 libglx-mesa0 libgl1-mesa-dri libxcomposite1 libxcursor1 libxfixes3
  libxi6 libxinerama1 libxrandr2 libxrender1 libxxf86vm1"
packages="wine wine64 wine32:i386 xvfb $extras $x_libraries
  $(for p in $x_libraries; do printf '%s:i386 ' "$p"; done)"

skip() {
  echo "Wine $TARNEVOX_CHROOT_WINE chroot skipped: $*" >&2
  exit 77
}

stamp_of() {
  # shellcheck disable=SC2086  # one package a line
  printf '%s\n' "$version" "$suite" $packages | sha256sum | cut -d' ' -f1
}

needs_tools() {
  [ "$(id -u)" -eq 0 ] || skip "it needs root (debootstrap, chroot, mount namespaces)"
  for tool in debootstrap unshare setpriv flock chroot; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (tools/install-deps.sh installs it)"
  done
  unshare --mount --propagation private true 2>/dev/null ||
    skip "mount namespaces cannot be made here"
  runs_32bit_programs || skip "this machine does not run 32-bit programs (the kernel refuses them)"
}

# Asked before the chroot is made, which would be in vain: some virtual machines' kernels
# refuse every 32-bit program. The smallest one, built here byte by byte: an ELF header,
# one loaded segment and three instructions (xor ebx,ebx; mov eax,1; int 0x80: exit 0).
runs_32bit_programs() {
  probe=$(mktemp)
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\270\001\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  return $status
}

# Runs a command in ROOT in a mount namespace of its own, with /proc and /dev, so that
# nothing stays mounted when it ends. ROOT COMMAND ARGS
in_root() {
  unshare --mount --propagation private sh -c '
    set -e
    root=$1
    shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" "$@"' sh "$@"
}

# Makes the chroot unless the one there has the present stamp. The caller holds the lock
# and runs this in namespaces of its own, so a killed build leaves no process and no mount.
make_root() {
  root=$1
  stamp=$(stamp_of)
  [ "$(cat "$root/.tarnevox-ready" 2>/dev/null)" = "$stamp" ] && return 0
  log=$root.log
  started=$(date +%s)
  echo "Making the Wine $TARNEVOX_CHROOT_WINE chroot ($suite) in $root (a few minutes; log: $log)" >&2
  # Nothing is mounted under either in this new namespace; should anything be, rm stays
  # off it.
  rm -rf --one-file-system "$root.new"
  debootstrap --variant=minbase "$suite" "$root.new" "$mirror" >"$log" 2>&1 ||
    skip "debootstrap could not make the chroot (log: $log)"
  # No service starts inside, and apt keeps no package files.
  printf '#!/bin/sh\nexit 101\n' >"$root.new/usr/sbin/policy-rc.d"
  chmod +x "$root.new/usr/sbin/policy-rc.d"
  # shellcheck disable=SC2086  # one package a word
  in_root "$root.new" sh -c '
    set -e
    dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
    apt-get clean' sh $packages >>"$log" 2>&1 ||
    skip "apt-get could not install Wine in the chroot (log: $log)"
  echo "$stamp" >"$root.new/.tarnevox-ready"
  rm -rf --one-file-system "$root"
  mv "$root.new" "$root"
  echo "Made the Wine $TARNEVOX_CHROOT_WINE chroot in $(( $(date +%s) - started )) s" >&2
}

# Runs "$@" in mount and PID namespaces of their own, which end with this shell however
# it ends: their first process is killed when it goes (also by SIGKILL), and every other
# process in them with it; their mounts go with the last of them.
contained() {
  setpriv --pdeathsig KILL unshare --mount --propagation private --pid --fork --kill-child \
    "$@" </dev/null &
  child=$!
  status=0
  wait $child || status=$?
  return $status
}

# Takes the lock of ROOT (an absolute path), one build or run at a time, and makes the
# chroot unless it is there. The lock goes with the last process of the run.
lock_and_build() {
  needs_tools
  trap 'exit 143' TERM
  trap 'exit 130' INT
  trap 'exit 129' HUP
  exec 9>"$1.lock"
  flock 9
  contained sh "$script" make-root "$1" || exit $?
}

# The chroot of the release chosen: a tree's Wine 10 chroot lives beside its Wine 8 one,
# so that the same test list runs in either (the test preset i686-wine10 chooses 10
# through the environment). ROOT
chosen_root() {
  mkdir -p "$(dirname "$1")"
  name=$(basename "$1")
  [ "$TARNEVOX_CHROOT_WINE" = 10 ] && [ "$name" = wine32-root ] && name=wine10-root
  echo "$(cd "$(dirname "$1")" && pwd)/$name"
}

# Runs "$@" in the chroot. ROOT VERB ARGS, VERB being run or with.
within() {
  root=$(chosen_root "$1")
  shift
  # The folder that holds ROOT is bound into the chroot writable: a build tree, nothing more.
  [ -f "$(dirname "$root")/CMakeCache.txt" ] ||
    { echo "wine32-root.sh: $root is not in a build tree" >&2; exit 2; }
  lock_and_build "$root"
  "$root/usr/lib/i386-linux-gnu/ld-linux.so.2" --version >/dev/null 2>&1 ||
    skip "this machine does not run 32-bit programs"
  # Built here, where there is a compiler, into the tree that the chroot sees.
  if [ -n "${TARNEVOX_PRIVATE_MONITORS:-}" ]; then
    build_fake_xinerama "$root-monitors" || skip "cannot build tools/fake-xinerama.c"
  fi
  contained sh "$script" enter "$root" "$PWD" "$@" || exit $?
}

# The first process of the run's namespaces: mounts what the chroot needs, then enters it.
# ROOT CWD VERB ARGS
enter() {
  root=$1
  tree=$(dirname "$root")
  cwd=$2
  shift 2
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
  mkdir -p "$root$tree" "$root/opt/tarnevox"
  mount --bind "$tree" "$root$tree"
  mount --bind "$(dirname "$script")" "$root/opt/tarnevox"
  mount -o remount,bind,ro "$root/opt/tarnevox"
  case $cwd in "$tree" | "$tree"/*) ;; *) cwd=/ ;; esac
  # Not exec: as the namespace's first process it must outlive everything it starts.
  status=0
  TARNEVOX_ROOT=$root TARNEVOX_CWD=$cwd PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    chroot "$root" sh "/opt/tarnevox/$(basename "$script")" chrooted "$@" || status=$?
  exit $status
}

# Inside the chroot: an Xvfb and the prefix, the command, then the Wine server ends.
chrooted() {
  verb=$1
  shift
  cd "$TARNEVOX_CWD"
  wine=/usr/lib/wine/wine
  server=/usr/lib/wine/wineserver
  export WINEPREFIX=/wineprefix
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono or Gecko prompts: nothing can download them and nothing here needs them.
  export WINEDLLOVERRIDES="mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
  unset WINESERVER WINELOADER DISPLAY
  trap 'end_wine "$server" "$WINEPREFIX"; stop_xvfb' EXIT
  if [ -n "${TARNEVOX_PRIVATE_MONITORS:-}" ]; then
    screen=$(layout_screen "$TARNEVOX_PRIVATE_MONITORS")
    [ -n "$screen" ] || { echo "no monitors in '$TARNEVOX_PRIVATE_MONITORS'" >&2; exit 2; }
    export TARNEVOX_MONITORS="$TARNEVOX_PRIVATE_MONITORS"
    export LD_LIBRARY_PATH="$TARNEVOX_ROOT-monitors/64:$TARNEVOX_ROOT-monitors/32"
    # Without RandR, Wine takes its monitors from Xinerama, that is from the library.
    start_xvfb "$screen" -extension RANDR || exit 1
  else
    start_xvfb 1280x1100 || exit 1
  fi
  if [ ! -f "$WINEPREFIX/.tarnevox-ready" ]; then
    started=$(date +%s)
    prepare_prefix "$wine" "$server" 9>&-
    echo "Made the chroot's Wine prefix in $(( $(date +%s) - started )) s" >&2
  fi
  # The system DPI is read as each program starts; changed only when it differs.
  dpi=${TARNEVOX_LOG_PIXELS:-96}
  if [ "$(cat "$WINEPREFIX/.tarnevox-dpi" 2>/dev/null || echo 96)" != "$dpi" ]; then
    "$wine" reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f \
      >/dev/null 2>&1 9>&- || exit 1
    echo "$dpi" >"$WINEPREFIX/.tarnevox-dpi"
  fi
  status=0
  case $verb in
    run) "$wine" "$@" 9>&- || status=$? ;;
    with) TARNEVOX_WINE=$wine "$@" 9>&- || status=$? ;;
  esac
  exit $status
}

usage="usage: $0 [--wine 10] build ROOT | prepare ROOT | run ROOT PROGRAM [ARGS] | with ROOT COMMAND [ARGS]"
case "${1:-}" in
  build)
    [ $# -eq 2 ] || { echo "$usage" >&2; exit 2; }
    lock_and_build "$(chosen_root "$2")" ;;
  prepare)
    [ $# -eq 2 ] || { echo "$usage" >&2; exit 2; }
    within "$2" with sh -c 'echo "Wine chroot ready: $("$TARNEVOX_WINE" --version)"' ;;
  run | with)
    [ $# -ge 3 ] || { echo "$usage" >&2; exit 2; }
    verb=$1
    root=$2
    shift 2
    within "$root" "$verb" "$@" ;;
  make-root) make_root "$2" ;;
  enter) shift; enter "$@" ;;
  chrooted) shift; chrooted "$@" ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
