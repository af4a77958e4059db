#!/bin/sh
# What drawing costs the stand-in host under Wine, for this tree's plug-in beside the
# plug-in of an earlier commit, in one run: CPU seconds per second and frames per second
# of the host process while a module draws in frames of 275 x 116, 600 x 400,
# 1024 x 1024 and 1600 x 300 client pixels; how long a resized frame waits for its
# first frame at the new size; and the pace of frames on displays of 60, 144 and 240 Hz
# whose Present waits for the vertical blank or returns at once. A measurement, not a
# test: the figures depend on the machine and on what else runs on it. Each cost and
# resize row is run twice, with Wine's Direct3D as it is and with its command thread off
# (see below); all of it takes about six minutes.
#
#   tools/measure-frames.sh BEFORE
#
# BEFORE is a commit (its x86-64 plug-in is built in a scratch folder under
# ${TMPDIR:-/tmp}, nothing of it enters this tree) or the path of a plug-in DLL. This
# tree's x86_64 build must exist (make x86_64). Frames are counted by the capturing
# d3d9.dll in its count mode; CPU time is read from /proc for the host's process, which
# holds the render thread, Wine's Direct3D thread and Mesa's rasterizer threads.
#
# A host that hangs is ended after a while and fails the run: under Debian's Wine a
# resize while Direct3D draws can deadlock inside libX11, rarely, with any plug-in.
#
# The pace is measured with the render loop of each tree against the recording Direct3D
# stand-in (tests/wine/fake_pace_run.cpp, built here against each tree's engine), which
# reports the rate and, for a Present that waits, returns at the next blank (blanks on
# whole periods of the performance counter). Nothing is drawn, so only the loop's pacing
# counts. A refresh period counts as one without a new frame when no Present was made in
# it. With a DLL for BEFORE there is no earlier engine to build, and those columns stay
# empty.
#
# Settings: MEASURE_SECONDS (per row and plug-in, default 5, after 2 s to settle),
# MEASURE_MODULE (default 1, the spectrum), MEASURE_PARTS (default "cost resize pace"),
# MEASURE_SIZES (default "275x116 600x400 1024x1024 1600x300"), MEASURE_RATES (default
# "60 144 240").
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
x86_64=$repo/build/x86_64
bundle=$x86_64/bin/capture
seconds=${MEASURE_SECONDS:-5}
module=${MEASURE_MODULE:-1}
parts=${MEASURE_PARTS:-cost resize pace}
sizes=${MEASURE_SIZES:-275x116 600x400 1024x1024 1600x300}
rates=${MEASURE_RATES:-60 144 240}
settle=2


[ $# -eq 1 ] || { echo "usage: $0 BEFORE (a commit or a plug-in DLL)" >&2; exit 2; }
for file in "$bundle/tarnevox-host.exe" "$bundle/vis_tarnevox.dll" "$bundle/d3d9.dll"; do
  [ -f "$file" ] || { echo "measure: $file is missing; run make x86_64 first" >&2; exit 1; }
done

# A private X server large enough for the widest frame, whatever display there is, and
# the build tree's Wine prefix, whose processes end with the script.
. "$repo/tools/wine-lib.sh"
prefix=$x86_64/wineprefix
log_dir=$(mktemp -d "${TMPDIR:-/tmp}/tarnevox-measure-log.XXXXXX")
cleanup() {
  end_wine /usr/lib/wine/wineserver "$prefix"
  stop_xvfb
  rm -rf "$log_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
start_xvfb 1800x1200

# The plug-in to compare with.
if [ -f "$1" ]; then
  before=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
else
  commit=$(git -C "$repo" rev-parse --short "$1^{commit}")
  scratch=${TMPDIR:-/tmp}/tarnevox-measure-$commit
  before=$scratch/build/bin/vis_tarnevox.dll
  if [ ! -f "$before" ]; then
    echo "building the plug-in of $commit in $scratch" >&2
    rm -rf "$scratch"
    mkdir -p "$scratch/src"
    git -C "$repo" archive -o "$scratch/src.tar" "$commit"
    tar -x -f "$scratch/src.tar" -C "$scratch/src"
    cmake -S "$scratch/src" -B "$scratch/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      --toolchain "$scratch/src/cmake/toolchain-x86_64-mingw.cmake" \
      -DTARNEVOX_TESTS=OFF -DTARNEVOX_TOOLS=OFF -DTARNEVOX_BENCHMARKS=OFF >/dev/null
    cmake --build "$scratch/build" -j 2 --target vis_tarnevox tarnevox_shell >/dev/null
  fi
fi
after=$bundle/vis_tarnevox.dll

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
ticks_per_second=$(getconf CLK_TCK)
# The prefix is made on first use by the runner the tests use.
TARNEVOX_BUILD_DIR=$x86_64 "$repo/cmake/wine-run.sh" "$bundle/tarnevox-host.exe" --list \
  "$bundle/vis_tarnevox.dll" >/dev/null

# Starts the host on a plug-in in the background: $1 DLL, $2 size, $3 seconds, then
# further host options. Sets host_pid (wine64 becomes the host's process) and a watchdog
# against a host that hangs; the frames are logged in $log_dir/presents.log.
start_host() {
  dll=$1 size=$2 run_seconds=$3
  shift 3
  rm -f "$log_dir/presents.log" "$log_dir/host.out"
  cd "$bundle"
  TARNEVOX_CAPTURE_DIR=$(windows_path "$log_dir") TARNEVOX_CAPTURE_MODE=count \
    TARNEVOX_CAPTURE_EVERY=10 WINEDLLOVERRIDES="d3d9=n,b" WINEPREFIX="$prefix" WINEDEBUG=-all \
    WINE_D3D_CONFIG=$d3d_config \
    /usr/lib/wine/wine64 tarnevox-host.exe --module "$module" --signal beat --size "$size" \
    --seconds "$run_seconds" "$@" "$(windows_path "$dll")" >"$log_dir/host.out" 2>&1 &
  host_pid=$!
  cd - >/dev/null
  (sleep $((run_seconds + 30)); kill "$host_pid" 2>/dev/null) >/dev/null 2>&1 &
  watchdog=$!
}

# Waits for the host; false when it failed or the watchdog had to end it.
wait_host() {
  status=0
  wait "$host_pid" || status=$?
  kill "$watchdog" 2>/dev/null || true
  return $status
}

# The host process's CPU time in clock ticks: user and system time of all its threads.
cpu_ticks() {
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$host_pid/stat"
}

# "N T": the present count and its time in ms from the latest line of the log.
latest_present() {
  grep '^present ' "$log_dir/presents.log" | tail -n 1 \
    | sed -n 's/^present \([0-9]*\) at \([0-9.]*\) ms.*/\1 \2/p'
}

now() { date +%s.%N; }

# One row's figures for a plug-in and a size: "cpu fps".
measure() {
  start_host "$1" "$2" $((settle + seconds + 2))
  for _ in $(seq 1 100); do
    [ -s "$log_dir/presents.log" ] && break
    sleep 0.1
  done
  sleep "$settle"
  ticks0=$(cpu_ticks) wall0=$(now) present0=$(latest_present)
  sleep "$seconds"
  ticks1=$(cpu_ticks) wall1=$(now) present1=$(latest_present)
  wait_host || { echo "measure: the host failed or hung on $2" >&2; exit 1; }
  # The rate the system reported, logged when the plug-in asked for it (an earlier one may not).
  sed -n 's/^display mode .* at \([0-9]*\) Hz.*/\1/p' "$log_dir/presents.log" | head -n 1 \
    >"$log_dir/reported-rate"
  echo "$ticks0 $ticks1 $wall0 $wall1 $present0 $present1" | awk -v hz="$ticks_per_second" '{
    cpu = ($2 - $1) / hz / ($4 - $3)
    fps = ($7 - $5) / ($8 - $6) * 1000
    printf "%.2f %.0f\n", cpu, fps }'
}

# The fake-device pace program built against the engine of a tree: $1 its sources, $2
# its x86-64 build folder (with libtarnevox_shell.a and libtarnevox_core.a), $3 the
# program to write. The program and the stand-in are this tree's.
build_pace_run() {
  flags="-O2 -DWIN32_LEAN_AND_MEAN -DNOMINMAX -DUNICODE -D_UNICODE"
  x86_64-w64-mingw32-gcc-posix $flags -std=c11 -c -o "$3.o" "$repo/tests/wine/fake_d3d9.c"
  x86_64-w64-mingw32-g++-posix $flags -std=c++20 -I"$1" -o "$3" \
    "$repo/tests/wine/fake_pace_run.cpp" "$3.o" "$2/libtarnevox_shell.a" "$2/libtarnevox_core.a" \
    -static -lgdi32
}

# One pace row's figures: "frames/s, % of refresh periods without a new frame, longest
# gap in ms, the loop's own waits per frame"; $1 the program (empty: all "-"), $2 the
# rate, $3 wait or once.
pace() {
  [ -n "$1" ] || { echo "- - - -"; return; }
  WINEPREFIX="$prefix" WINEDEBUG=-all timeout $((seconds + 60)) /usr/lib/wine/wine64 "$1" \
    "$2" "$3" "$seconds" | tr -d '\r'
}

# Milliseconds from the host's resize of the frame to the first frame logged at the new
# size, or "never" when no frame of that size came.
resize_latency() {
  from=$1 to=$2
  start_host "$after" "$from" 5 --resize "$to@3"
  wait_host || { echo "measure: the host failed or hung resizing $from to $to" >&2; exit 1; }
  resized=$(tr -d '\r' <"$log_dir/host.out" | sed -n 's/^resized the frame to .* at \([0-9.]*\) ms$/\1/p')
  awk -v t="$resized" -v size="$to" '
    $0 ~ ", " size "$" && $4 + 0 >= t + 0 { printf "%.0f ms\n", $4 - t; found = 1; exit }
    END { if (!found) print "never" }' "$log_dir/presents.log"
}

# Wine's Direct3D runs its OpenGL calls on a command thread of its own, which spins while it
# waits for work, for as long as frames keep coming: about a core whatever is drawn. The
# same rows again with that thread off show what the drawing itself costs.
configs="threaded: single:csmt=0"
label() { [ "$1" = single ] && echo single-threaded || echo "$1"; }
has_part() { case " $parts " in *" $1 "*) return 0 ;; esac; return 1; }
echo "Module $module, $seconds s per row after $settle s to settle; CPU of the host process."

if has_part cost; then
  echo
  echo "| client area | Wine's Direct3D | before: CPU s/s | before: frames/s | after: CPU s/s | after: frames/s |"
  echo "|---|---|---|---|---|---|"
  for size in $sizes; do
    for config in $configs; do
      name=${config%%:*} d3d_config=${config#*:}
      figures_before=$(measure "$before" "$size") || exit 1
      figures_after=$(measure "$after" "$size") || exit 1
      set -- $figures_before $figures_after
      echo "| $(echo "$size" | sed 's/x/ x /') | $(label "$name") | $1 | $2 | $3 | $4 |"
      eval "cpu_before_${name}_$size=$1 cpu_after_${name}_$size=$3"
    done
  done
  echo
  echo "The display's refresh rate as Wine reported it to the plug-in: $(cat "$log_dir/reported-rate") Hz (0: unknown)."
  case " $sizes " in *" 275x116 "*" 1024x1024 "*)
    for config in $configs; do
      name=${config%%:*}
      eval "set -- \$cpu_before_${name}_275x116 \$cpu_before_${name}_1024x1024 \
        \$cpu_after_${name}_275x116 \$cpu_after_${name}_1024x1024"
      awk -v name="$(label "$name")" -v b="$1" -v bb="$2" -v a="$3" -v ab="$4" 'BEGIN {
        printf "%s: 275 x 116 costs %.0f %% of 1024 x 1024 before, %.0f %% after.\n", name,
          b / bb * 100, a / ab * 100 }'
    done ;;
  esac
fi

if has_part resize; then
  echo
  echo "| resize (after) | Wine's Direct3D | first frame at the new size |"
  echo "|---|---|---|"
  for pair in 600x400:275x116 275x116:1024x1024 1024x1024:1600x300; do
    from=${pair%%:*} to=${pair#*:}
    for config in $configs; do
      name=${config%%:*} d3d_config=${config#*:}
      echo "| $(echo "$from to $to" | sed 's/x/ x /g') | $(label "$name") | $(resize_latency "$from" "$to") |"
    done
  done
fi

if has_part pace; then
  pace_after=$log_dir/pace-after.exe pace_before=
  build_pace_run "$repo" "$x86_64" "$pace_after"
  if [ -n "${scratch:-}" ]; then
    pace_before=$log_dir/pace-before.exe
    [ -f "$scratch/build/libtarnevox_shell.a" ] ||
      cmake --build "$scratch/build" -j 2 --target tarnevox_shell >/dev/null
    build_pace_run "$scratch/src" "$scratch/build" "$pace_before"
  fi
  echo
  echo "| display | Present | before: frames/s | before: refreshes without a new frame | before: longest gap | before: waits of the loop per frame | after: frames/s | after: refreshes without a new frame | after: longest gap | after: waits of the loop per frame |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  for rate in $rates; do
    for kind in wait once; do
      figures_before=$(pace "$pace_before" "$rate" "$kind") || exit 1
      figures_after=$(pace "$pace_after" "$rate" "$kind") || exit 1
      set -- $figures_before $figures_after
      [ $# -eq 8 ] || { echo "measure: no pace figures at $rate Hz" >&2; exit 1; }
      label=$([ "$kind" = wait ] && echo "waits for the blank" || echo "returns at once")
      echo "| $rate Hz | $label | $1 | $2 % | $3 ms | $4 | $5 | $6 % | $7 ms | $8 |"
    done
  done
fi
