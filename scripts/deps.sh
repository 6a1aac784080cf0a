#!/usr/bin/env bash
# Makes sure the Debian packages a job needs are present: installs the
# missing ones when run as root, otherwise names them and fails.
#   scripts/deps.sh            everything the tests need (scripts/test.sh)
#   scripts/deps.sh demo       only what building and running the demo needs
#   scripts/deps.sh PKG...     the packages named
set -euo pipefail
# Building the library and the tolvane command.
build=(cmake ninja-build g++ libssl-dev)
# The tests besides: Clang and its sanitizer runtimes, GoogleTest, the openssl
# command, pkg-config, Debian's package tools (dpkg-dev works out the
# packages' dependencies, lintian checks them), and python3-websockets and
# chromium as real WebSocket clients of the server.
tests=(clang libclang-rt-14-dev libgtest-dev openssl pkg-config dpkg-dev lintian python3-websockets chromium)
case "${1:-all}" in
  demo) packages=("${build[@]}") ;;
  all) packages=("${build[@]}" "${tests[@]}") ;;
  *) packages=("$@") ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
else
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
