#!/usr/bin/env bash
# Builds Tolvane for Windows with Debian's mingw-w64 cross compilers:
#   scripts/build-windows.sh [win64|win32]...     (both when none is named)
# and installs each target into build/<target>/prefix:
#   bin/Tolvane.dll  bin/tolvane.exe  include/tolvane/Tolvane.h  lib/libTolvane.dll.a
# win64 (x86_64) then runs the test suite under wine64 (ctest starts the Wine
# prefix's server before the first test and ends it after the last). win32
# (i686) is built warning-free; its tests run only where a 32-bit Wine is
# installed.
# TOLVANE_WINDOWS_TESTS=checks runs only the checks made on the Linux side
# (the DLL's exports and imports), not the suite under Wine.
# TLS: each target first gets its static OpenSSL from Debian's source package
# (scripts/build-openssl-windows.sh into build/<target>/openssl; a later run
# finds it up to date in seconds). TOLVANE_WINDOWS_TLS=off builds the DLLs
# without TLS instead.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(win64 win32)
packages=(cmake ninja-build googletest)
[ "${TOLVANE_WINDOWS_TLS:-on}" = off ] || packages+=(dpkg-dev make patch perl)
for target in "${targets[@]}"; do
  case $target in
    win64) packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64) ;;
    win32) packages+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686) ;;
    *) echo "usage: $0 [win64|win32]..." >&2; exit 2 ;;
  esac
done
scripts/deps.sh "${packages[@]}"

for target in "${targets[@]}"; do
  build=build/$target
  tls=(-DTOLVANE_WITH_TLS=OFF)
  if [ "${TOLVANE_WINDOWS_TLS:-on}" != off ]; then
    triple=x86_64-w64-mingw32
    [ "$target" = win64 ] || triple=i686-w64-mingw32
    echo "== $target: OpenSSL"
    scripts/build-openssl-windows.sh "$triple" "$build/openssl"
    tls=(-DTOLVANE_WITH_TLS=ON "-DTOLVANE_WINDOWS_OPENSSL_ROOT=$PWD/$build/openssl")
  fi
  echo "== $target: configure and build"
  cmake --preset "$target" "${tls[@]}" >/dev/null
  cmake --build --preset "$target"
  rm -rf "$build/prefix"
  cmake --install "$build" >/dev/null
  for file in bin/Tolvane.dll bin/tolvane.exe include/tolvane/Tolvane.h lib/libTolvane.dll.a; do
    [ -f "$build/prefix/$file" ] || { echo "$target: $file was not installed" >&2; exit 1; }
  done
  echo "== $target: installed into $build/prefix"
  # The package: the installed tree as a ZIP, build/<target>/Tolvane-<version>-<target>.zip.
  cpack --config "$build/CPackConfig.cmake" -B "$build" >/dev/null
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  [ -f "$build/Tolvane-$version-$target.zip" ] || { echo "$target: no package $build/Tolvane-$version-$target.zip" >&2; exit 1; }
  echo "== $target: packaged as $build/Tolvane-$version-$target.zip"

  if [ "${TOLVANE_WINDOWS_TESTS:-all}" = checks ]; then
    echo "== $target: checks of the DLL (the suite under Wine is left out)"
    ctest --preset "$target" -R '^windows\.'
    continue
  fi
  loader=$(sed -n 's/^TOLVANE_WINE_LOADER:FILEPATH=//p' "$build/CMakeCache.txt")
  if [ -x "$loader" ]; then
    # ctest starts the prefix's Wine server before the first test and ends
    # it after the last (tests wine.start and wine.stop).
    echo "== $target: test under Wine ($loader)"
  else
    echo "== $target: test programs built, not run: they need a 32-bit Wine ($loader, package wine32:i386)," \
         "which Debian 12 cannot install beside the current 64-bit system libraries; only the checks made on" \
         "the Linux side run"
  fi
  ctest --preset "$target"
done
echo "Windows builds done: ${targets[*]}"
