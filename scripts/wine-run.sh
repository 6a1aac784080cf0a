#!/usr/bin/env bash
# Runs a Windows program under Wine in a Wine prefix of its own:
#   wine-run.sh LOADER PREFIX PROGRAM [ARG...]
# LOADER is the Wine loader (/usr/lib/wine/wine64 for 64-bit programs), PREFIX
# the prefix folder (made on first use, with the null display driver so that
# hidden windows work without a display). CMake uses this as the emulator of
# the Windows test programs.
#
# Before the program runs, the prefix's Wine server and its background
# processes (services, explorer, ...) must already be up with their input and
# output closed: started by the program itself they would inherit its output
# and hold, for example, ctest's pipe open long after the program ended. So
# the first caller starts the server (kept 30 s after its last program) and
# one throwaway program, under a lock that concurrent callers share.
# `wine-run.sh LOADER PREFIX --start` does only that.
set -euo pipefail
loader=$1 prefix=$2
shift 2
wine_dir=$(dirname "$loader")
server=$wine_dir/wineserver64
[ "$(basename "$loader")" = wine64 ] || server=$wine_dir/wineserver32
[ -x "$server" ] || server=$(command -v wineserver)

export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts when the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

quiet() { "$@" </dev/null >/dev/null 2>&1 9>&-; }

mkdir -p "$prefix"  # the server needs the folder; the first program fills it
exec 9>"$prefix.lock"
flock 9
# Status 0: this call started the server; 2: one was already running.
if quiet "$server" -p30; then
  if [ ! -f "$prefix/.tolvane-ready" ]; then
    quiet "$loader" wineboot --init
    quiet "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    touch "$prefix/.tolvane-ready"
  fi
  quiet "$loader" cmd /c exit
fi
flock -u 9
exec 9>&-

[ "${1:-}" = --start ] && exit 0
exec "$loader" "$@"
