#!/usr/bin/env bash
# Runs a Windows program under Wine in a Wine prefix of its own:
#   wine-run.sh LOADER PREFIX PROGRAM [ARG...]
#   wine-run.sh LOADER PREFIX --start | --stop
# LOADER is the Wine loader (/usr/lib/wine/wine64 for 64-bit programs), PREFIX
# the prefix folder (made on first use, with the null display driver so that
# hidden windows work without a display). CMake uses this as the emulator of
# the Windows test programs; ctest runs --start before the tests and --stop
# after them.
#
# Wine's background processes (services, the desktop process explorer, ...)
# hold on to the output of the program that started them. A test program that
# starts them keeps ctest's pipe open after it ended, and ctest waits until
# they go. So no program may ever start them: before the first program the
# prefix's Wine server and its background processes start with none of the
# caller's descriptors open, and they stay up until --stop:
# - the server never ends by itself (-p without a time): one that ends after
#   its last program does so in stages while still answering, so a program
#   started then brings up a new server and background processes of its own;
# - a hidden notepad keeps the desktop in use: the desktop process ends a
#   second after its last window program, and every test that makes a window
#   would start it anew (and wait for it);
# - the server that made the prefix is ended at once: it keeps a second
#   service manager, with which the desktop takes some 10 s to start and as
#   long to end.
# A lock on PREFIX.lock serialises this between concurrent callers.
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

# Closes every descriptor above 2 (ctest, for one, passes its log file and
# more on).
close_fds() {
  local fd
  for fd in $(ls "/proc/$BASHPID/fd"); do
    [ "$fd" -gt 2 ] && eval "exec $fd>&-"
  done
}
# Runs a command with input and output on /dev/null and no other descriptor.
quiet() { ( close_fds; exec "$@" ) </dev/null >/dev/null 2>&1; }
stop_server() { quiet "$server" -k || true; quiet "$server" -w || true; }

mkdir -p "$prefix"  # the server needs the folder; the first program fills it
exec 9>"$prefix.lock"
flock 9
if [ "${1:-}" = --stop ]; then
  stop_server
  exit 0
fi
if [ ! -f "$prefix/.tolvane-ready" ]; then
  quiet "$server" -p || true
  quiet "$loader" wineboot --init
  quiet "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
  stop_server
  touch "$prefix/.tolvane-ready"
fi
# Status 0: this call started the server; 2: one was already running.
if quiet "$server" -p; then
  ( close_fds; exec setsid "$loader" notepad ) </dev/null >/dev/null 2>&1 &
  quiet "$loader" cmd /c exit
fi
flock -u 9
exec 9>&-

[ "${1:-}" = --start ] && exit 0
exec "$loader" "$@"
