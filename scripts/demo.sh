#!/usr/bin/env bash
# The main job: builds the library and the tolvane command, then runs
# `tolvane demo` (loopback echo peer, every header mode, TLS). It needs only
# the build tools: its own build (preset "demo") leaves out the tests and the
# benchmark, and the tests' packages are not installed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo --target tolvane_cli
exec build/demo/tools/tolvane demo
