#!/usr/bin/env bash
# The demo (the main job) verifies every echo, keeps what the library prints
# out of its table and removes its scratch folder.
# usage: demo_leaves_nothing.sh TOLVANE WORK
set -euo pipefail
tool=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
out=$(TMPDIR="$work" "$tool" demo)
echo "$out"
grep -q "all echoes verified" <<<"$out"
if grep -q verify_callback_server <<<"$out"; then echo "library output in the table" >&2; exit 1; fi
if [ -n "$(ls -A "$work")" ]; then echo "left behind: $(ls "$work")" >&2; exit 1; fi
