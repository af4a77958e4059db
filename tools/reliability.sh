#!/bin/sh
# The reliability measurements behind the figures of docs/reliability.md (not part of `make test`):
#   1. each module drawing MINUTES minutes in a player, the process's counts every minute;
#   2. CYCLES starts and stops in the three kinds of host, the counts every 100 cycles;
#   3. the analysis fuzzer for FUZZ_RUNS inputs, floating-point exceptions trapped.
# Usage: tools/reliability.sh [MINUTES [CYCLES [FUZZ_RUNS]]]   (defaults 30, 2000, 10000000)
# Logs go to out/reliability/. Takes about MINUTES x 2 + CYCLES / 2 s + FUZZ_RUNS / 15000 s.
set -eu
cd "$(dirname "$0")/.."
minutes=${1:-30}
cycles=${2:-2000}
fuzz_runs=${3:-10000000}
logs=out/reliability
mkdir -p "$logs"

make x86_64 >/dev/null
endurance() {
  TARNEVOX_WINE_PREFIXES="$PWD/build/x86_64/wineprefix" TARNEVOX_BUILD_DIR="$PWD/build/x86_64" \
    tools/run-with-xvfb.sh cmake/wine-run.sh build/x86_64/bin/endurance_test.exe "$@"
}
echo "long run: $minutes minutes per module -> $logs/long-run.txt"
TARNEVOX_LONG_RUN_MINUTES=$minutes endurance --gtest_filter='*LongRun*' >"$logs/long-run.txt" 2>&1 ||
  { tail -5 "$logs/long-run.txt"; exit 1; }
grep 'from minute' "$logs/long-run.txt" || true

echo "cycles: $cycles starts and stops -> $logs/cycles.txt"
TARNEVOX_ENDURANCE_CYCLES=$cycles endurance --gtest_filter='*StartsAndStops*' >"$logs/cycles.txt" 2>&1 ||
  { tail -5 "$logs/cycles.txt"; exit 1; }
grep -E '^after (one|1000|'"$cycles"') ' "$logs/cycles.txt" || true

echo "fuzzer: $fuzz_runs inputs -> $logs/fuzz.txt"
make deps >/dev/null
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target analysis_fuzz >/dev/null
mkdir -p build/fuzz/corpus
build/fuzz/bin/analysis_fuzz -max_len=1152 -len_control=0 -runs="$fuzz_runs" -print_final_stats=1 \
  build/fuzz/corpus >"$logs/fuzz.txt" 2>&1 || { tail -20 "$logs/fuzz.txt"; exit 1; }
grep -E 'stat::number_of_executed_units|Done' "$logs/fuzz.txt" || true
