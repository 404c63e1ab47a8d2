#!/bin/sh
# wine-run PROGRAM.exe [args]: runs a Winelib program on a private X display (xvfb-run -a).
# Under ctest with a resource file of display slots (scripts/test.sh), it takes the Wine prefix,
# wineserver and display of the slot ctest gave it, so programs on different slots run at
# once. Otherwise it uses the test run's prefix when WINEPREFIX names one, or makes its own
# and removes it on the way out, wineserver included.
set -u
slot=${CTEST_RESOURCE_GROUP_0_WINEDISPLAY:-}
if [ -n "$slot" ] && [ -n "${TW_WINE_SLOTS:-}" ]; then
  slot=${slot#id:}
  slot=${slot%%,*}
  if [ -d "$TW_WINE_SLOTS/p$slot" ] && [ -s "$TW_WINE_SLOTS/display$slot" ]; then
    export WINEPREFIX=$TW_WINE_SLOTS/p$slot
    TW_WINE_DISPLAY=$(cat "$TW_WINE_SLOTS/display$slot")
    export TW_WINE_DISPLAY
  else
    echo "wine-run: no Wine slot $slot under $TW_WINE_SLOTS" >&2
    exit 1
  fi
fi
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
