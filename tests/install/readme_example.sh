#!/usr/bin/env bash
# The host example of README.md, taken from the README as it stands, built
# against an installed tree with CMake and with pkg-config (warnings are
# errors) and run against `tolvane server --echo` with the installed example
# configurations: the exchange must succeed.
# usage: readme_example.sh README PREFIX LIBDIR WORK CXX [SANITIZE]
set -euo pipefail
readme=$1 prefix=$2 libdir=$3 work=$4 cxx=$5 sanitize=${6:-}
rm -rf "$work" && mkdir -p "$work/src"
flags="-Wall -Wextra -Werror${sanitize:+ -fsanitize=$sanitize}"

# Each code block marked <!-- file: NAME --> becomes the file NAME.
awk -v dir="$work/src" '
  /^<!-- file: .* -->$/ { name = $3; next }
  name != "" && /^```/ { if (out) { close(out); out = ""; name = "" } else out = dir "/" name; next }
  out { print > out }' "$readme"
for f in terminal.cpp CMakeLists.txt; do
  [ -s "$work/src/$f" ] || { echo "README has no $f block" >&2; exit 1; }
done

cmake -S "$work/src" -B "$work/cmake" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
      "-DCMAKE_CXX_FLAGS=$flags" >/dev/null
cmake --build "$work/cmake" >/dev/null
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++17 $flags "$work/src/terminal.cpp" $(pkg-config --cflags --libs tolvane) -o "$work/terminal-pc"

# The example configurations on a free port.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
examples="$prefix/share/doc/tolvane/examples"
for side in client server; do
  mkdir -p "$work/$side"
  sed "s/^port=.*/port=$port/" "$examples/$side/NetWork.ini" > "$work/$side/NetWork.ini"
done
export LD_LIBRARY_PATH="$prefix/$libdir"
"$prefix/bin/tolvane" server --echo --config "$work/server/NetWork.ini" --log "$work/server/Log" \
    </dev/null >"$work/server.out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
timeout 10 bash -c "until grep -q listening '$work/server.out'; do sleep 0.1; done" \
  || { echo "echo server did not start:"; cat "$work/server.out"; exit 1; } >&2
for host in "$work/cmake/terminal" "$work/terminal-pc"; do
  out=$(timeout 30 "$host" "$work/client" "$work/client/Log")
  [ "$out" = "answer: hello" ] || { echo "$host printed: $out" >&2; exit 1; }
done
echo "README example exchanged with the echo server"
