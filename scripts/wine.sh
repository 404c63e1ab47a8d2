#!/usr/bin/env bash
# wine.sh start DIR [N] | stop DIR: N private Wine prefixes (default 1), each with its own
# persistent wineserver and its own Xvfb display, so that N Winelib programs can run at once
# without sharing focus, activation or screenshots. `start` prints the environment to eval:
# TW_WINE_SLOTS (DIR, where slot I has prefix pI and display file displayI),
# TW_WINE_RESOURCES (a ctest resource file with one "winedisplay" per slot), and
# WINEPREFIX/TW_WINE_DISPLAY of slot 0 for a program run outside ctest. `stop` ends every
# slot's wineserver (and every Wine process in it) and X server, and removes the directory.
set -euo pipefail
cmd=$1 dir=$2
ws=/usr/lib/wine/wineserver
[ -x "$ws" ] || ws=$(command -v wineserver || true)
[ -n "$ws" ] || exit 0

start_slot() {
  local i=$1
  mkdir -p "$dir/p$i"
  # The prefix's desktop belongs to the display it was started on, so each slot keeps one
  # X server for the whole run instead of a short-lived one per program.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display$i" >/dev/null 2>&1 &
  echo $! >"$dir/xvfb$i.pid"
  for _ in $(seq 300); do
    [ -s "$dir/display$i" ] && break
    kill -0 "$(cat "$dir/xvfb$i.pid")" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$dir/display$i" ] || { echo "wine.sh: Xvfb did not start" >&2; return 1; }
  local display=:$(tr -d '[:space:]' <"$dir/display$i")
  echo "$display" >"$dir/display$i"
  # The prefix is filled once here, not by the first of several programs starting together.
  # A fill that fails (it can on a loaded machine) leaves a prefix on which every program
  # stops with "could not load kernel32.dll": it is made again from nothing, and a slot that
  # still has none fails the start.
  local tries=0
  while :; do
    WINEPREFIX=$dir/p$i WINEDEBUG=-all "$ws" -p
    WINEPREFIX=$dir/p$i WINEDEBUG=-all DISPLAY=$display "$(dirname "$ws")/wine64" wineboot -i \
      >/dev/null 2>&1 || true
    [ -e "$dir/p$i/drive_c/windows/system32/kernel32.dll" ] && return 0
    tries=$((tries + 1))
    if [ "$tries" -ge 3 ]; then
      echo "wine.sh: the Wine prefix of slot $i could not be made" >&2
      return 1
    fi
    WINEPREFIX=$dir/p$i "$ws" -k 2>/dev/null || true
    WINEPREFIX=$dir/p$i "$ws" -w 2>/dev/null || true
    rm -rf "$dir/p$i"
    mkdir -p "$dir/p$i"
  done
}

case "$cmd" in
  start)
    n=${3:-1}
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    pids=()
    for ((i = 0; i < n; i++)); do
      start_slot "$i" &
      pids+=($!)
    done
    failed=0
    for p in "${pids[@]}"; do wait "$p" || failed=1; done
    if [ "$failed" -ne 0 ]; then
      bash "$0" stop "$dir"
      exit 1
    fi
    {
      printf '{"version":{"major":1,"minor":0},"local":[{"winedisplay":['
      for ((i = 0; i < n; i++)); do
        ((i == 0)) || printf ','
        printf '{"id":"%d","slots":1}' "$i"
      done
      printf ']}]}\n'
    } >"$dir/resources.json"
    echo "TW_WINE_SLOTS=$dir TW_WINE_RESOURCES=$dir/resources.json" \
      "WINEPREFIX=$dir/p0 TW_WINE_DISPLAY=$(cat "$dir/display0")"
    ;;
  stop)
    for p in "$dir"/p*; do
      [ -d "$p" ] || continue
      WINEPREFIX=$p "$ws" -k 2>/dev/null || true
      WINEPREFIX=$p "$ws" -w 2>/dev/null || true
    done
    for f in "$dir"/xvfb*.pid; do
      [ -s "$f" ] && kill "$(cat "$f")" 2>/dev/null || true
    done
    rm -rf "$dir"
    ;;
esac
