#!/usr/bin/env bash
# Makes sure the Debian packages the build and tests need are present (or the
# packages named as arguments): installs the missing ones when run as root,
# otherwise names them and fails.
set -euo pipefail
# python3-websockets and chromium are the real WebSocket clients of the server
# tests; dpkg-dev works out the Debian packages' dependencies.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libssl-dev openssl pkg-config dpkg-dev
          python3-websockets chromium)
[ $# -eq 0 ] || packages=("$@")
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
