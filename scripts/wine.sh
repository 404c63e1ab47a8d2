#!/usr/bin/env bash
# wine.sh start DIR | stop DIR: one private Wine prefix and one persistent wineserver for a
# whole test run. `start` prints the environment to eval; `stop` ends the wineserver of
# that prefix (and every Wine process in it) and removes the directory.
set -euo pipefail
cmd=$1 dir=$2
ws=/usr/lib/wine/wineserver
[ -x "$ws" ] || ws=$(command -v wineserver || true)
[ -n "$ws" ] || exit 0
case "$cmd" in
  start)
    mkdir -p "$dir/prefix"
    WINEPREFIX=$dir/prefix WINEDEBUG=-all "$ws" -p
    # The prefix is filled once here, not by the first of several tests starting together.
    WINEPREFIX=$dir/prefix WINEDEBUG=-all DISPLAY= "$(dirname "$ws")/wine64" wineboot -i \
      >/dev/null 2>&1 || true
    echo "WINEPREFIX=$dir/prefix"
    ;;
  stop)
    if [ -d "$dir/prefix" ]; then
      WINEPREFIX=$dir/prefix "$ws" -k 2>/dev/null || true
      WINEPREFIX=$dir/prefix "$ws" -w 2>/dev/null || true
    fi
    rm -rf "$dir"
    ;;
esac
