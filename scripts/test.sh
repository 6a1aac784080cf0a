#!/usr/bin/env bash
# Builds and runs the whole suite three times: with GCC, under
# AddressSanitizer + UndefinedBehaviorSanitizer (GCC) and under
# ThreadSanitizer (Clang, which also builds the benchmark, so that everything
# compiles warning-free with both compilers). Then runs every fuzz target over
# its corpus and fuzzes it for 20 s, and builds both Windows DLLs: the 64-bit
# one's suite runs under Wine, the 32-bit one's exports and imports are
# checked (scripts/build-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

run() {
  local preset=$1
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: test"
  ctest --preset "$preset"
}

run gcc
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run asan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run tsan
echo "== fuzz: every target over its corpus, then 20 s of fuzzing"
for target in $(scripts/fuzz.sh --list); do
  scripts/fuzz.sh "$target" 20 >"build/fuzz-$target.log" 2>&1 || {
    tail -n 40 "build/fuzz-$target.log"
    echo "fuzz target $target failed (log: build/fuzz-$target.log)"
    exit 1
  }
  grep -h '^stat::number_of_executed_units' "build/fuzz-$target.log" | sed "s/^/  $target: /"
done
echo "== Windows: both targets built, the x86_64 suite under Wine"
scripts/build-windows.sh
echo "All test runs passed."
