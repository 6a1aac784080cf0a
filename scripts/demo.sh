#!/usr/bin/env bash
# The main job: builds the library and the tolvane command, then runs
# `tolvane demo` (loopback echo peer, every header mode, TLS).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset gcc >/dev/null
cmake --build --preset gcc --target tolvane_cli
exec build/gcc/tools/tolvane demo
