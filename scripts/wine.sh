#!/usr/bin/env bash
# wine.sh start DIR | stop DIR: one private Wine prefix and one persistent wineserver for a
# whole test run, on one Xvfb display. `start` prints the environment to eval; `stop` ends
# the wineserver of that prefix (and every Wine process in it), the X server, and removes
# the directory.
set -euo pipefail
cmd=$1 dir=$2
ws=/usr/lib/wine/wineserver
[ -x "$ws" ] || ws=$(command -v wineserver || true)
[ -n "$ws" ] || exit 0
case "$cmd" in
  start)
    mkdir -p "$dir/prefix"
    # One X server for the run as well: the prefix's desktop belongs to the display it was
    # started on, so tests that each brought their own short-lived display would find it gone.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 300); do
      [ -s "$dir/display" ] && break
      kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null || break
      sleep 0.1
    done
    [ -s "$dir/display" ] || { echo "wine.sh: Xvfb did not start" >&2; exit 1; }
    display=:$(tr -d '[:space:]' <"$dir/display")
    WINEPREFIX=$dir/prefix WINEDEBUG=-all "$ws" -p
    # The prefix is filled once here, not by the first of several tests starting together.
    WINEPREFIX=$dir/prefix WINEDEBUG=-all DISPLAY=$display "$(dirname "$ws")/wine64" wineboot -i \
      >/dev/null 2>&1 || true
    echo "WINEPREFIX=$dir/prefix TW_WINE_DISPLAY=$display"
    ;;
  stop)
    if [ -d "$dir/prefix" ]; then
      WINEPREFIX=$dir/prefix "$ws" -k 2>/dev/null || true
      WINEPREFIX=$dir/prefix "$ws" -w 2>/dev/null || true
    fi
    if [ -s "$dir/xvfb.pid" ]; then
      kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    fi
    rm -rf "$dir"
    ;;
esac
