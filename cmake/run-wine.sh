#!/usr/bin/env bash
# Runs a Windows program under wine64 in a private, headless prefix.
# Exit 77 (skipped) when wine64 is not installed.
set -u
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || { echo "wine64 not installed: skipped"; exit 77; }
prefix=${KOBLIB_WINEPREFIX:-${TMPDIR:-/tmp}/koblib-wineprefix-$(id -u)}
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$prefix"
# First use: make the prefix once, under a lock, with the null graphics
# driver so that nothing needs an X server.
(
  flock 9
  if [ ! -f "$prefix/.koblib-ready" ]; then
    "$WINE" wineboot -i >/dev/null 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
    touch "$prefix/.koblib-ready"
  fi
) 9>"$prefix.lock"
exec "$WINE" "$@"
