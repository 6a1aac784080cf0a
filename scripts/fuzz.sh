#!/usr/bin/env bash
# Fuzzes one target of tests/fuzz with libFuzzer: scripts/fuzz.sh TARGET [SECONDS]
# (60 s by default) builds what it needs (preset "fuzz"), runs the target over
# its checked-in corpus and then fuzzes it. Inputs it finds are kept in
# build/fuzz/runs/TARGET/corpus, a failing input as a crash-, leak- or
# timeout- file beside it, whose path is printed. Exits non-zero on a crash,
# a leak or a hang (an input running over 10 s).
# scripts/fuzz.sh --list prints the target names, one a line.
set -euo pipefail
cd "$(dirname "$0")/.."

targets() { sed -n 's/^set(TOLVANE_FUZZ_TARGETS \(.*\))$/\1/p' tests/fuzz/CMakeLists.txt | tr ' ' '\n'; }
if [[ ${1:-} == --list ]]; then
  targets
  exit 0
fi
if [[ $# -lt 1 || $# -gt 2 ]] || ! targets | grep -qx "$1" || [[ ! ${2:-60} =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh TARGET [SECONDS] | --list" >&2
  exit 2
fi
name=$1
seconds=${2:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "fuzz_$name"
work=build/fuzz/runs/$name
mkdir -p "$work/corpus"
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$work/")
[[ -f tests/fuzz/dict/$name.dict ]] && args+=(-dict="tests/fuzz/dict/$name.dict")
touch "$work/.started"
status=0
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "build/fuzz/tests/fuzz/fuzz_$name" "${args[@]}" "$work/corpus" "tests/fuzz/corpus/$name" || status=$?
if [[ $status -ne 0 ]]; then
  find "$work" -maxdepth 1 -type f -newer "$work/.started" -regex '.*/\(crash\|leak\|timeout\|oom\)-.*' |
    while read -r input; do echo "fuzz_$name failed; reproducer: $input (replay: build/fuzz/tests/fuzz/fuzz_$name $input)"; done
  exit "$status"
fi
