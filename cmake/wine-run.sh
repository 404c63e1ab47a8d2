#!/bin/sh
# wine-run PROGRAM.exe [args]: runs a Winelib program on a private X display (xvfb-run -a).
# It uses the Wine prefix and persistent wineserver of the test run when WINEPREFIX names
# one (scripts/test.sh makes them); otherwise it makes its own and removes it on the way
# out, wineserver included.
set -u
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ -z "${WINELOADER:-}" ]; then
  for w in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)" "$(command -v wine 2>/dev/null)"; do
    if [ -n "$w" ] && [ -x "$w" ]; then WINELOADER=$w; break; fi
  done
  export WINELOADER
fi
own=
if [ -z "${WINEPREFIX:-}" ]; then
  own=$(mktemp -d -t tw-wine.XXXXXX)
  export WINEPREFIX=$own/prefix
  mkdir -p "$WINEPREFIX"
fi
ws=$(dirname "$WINELOADER")/wineserver
[ -x "$ws" ] || ws=wineserver
if [ -n "$own" ]; then
  trap '"$ws" -k 2>/dev/null; "$ws" -w 2>/dev/null; rm -rf "$own"' EXIT
  "$ws" -p
fi
# The test run's own display goes with its prefix; otherwise a private one for this program.
if [ -n "${TW_WINE_DISPLAY:-}" ] && [ -z "$own" ]; then
  DISPLAY=$TW_WINE_DISPLAY "$@"
else
  xvfb-run -a -s "-screen 0 1024x768x24" "$@"
fi
