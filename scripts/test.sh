#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test twice: a normal build and a
# build with AddressSanitizer and UndefinedBehaviorSanitizer, and beside the latter each fuzz
# target (clang, libFuzzer) for a few thousand inputs so that they keep building and holding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON -DTW_BENCH=OFF
# One private PostgreSQL cluster serves every test of both runs (TW_PG_PORT); it is stopped
# on every way out.
pgdir=$(mktemp -d /tmp/tw-pg.XXXXXX)
# Private Wine prefixes, each with its persistent wineserver and display, serve the Winelib
# tests (normal build only), several at once; they are removed on every way out as well.
winedir=$(mktemp -d -t tw-wine.XXXXXX)
# The fuzz targets run beside the sanitizer suite (one of them takes a minute on its own); a
# run that ends early ends them too.
fuzzpid=""
# Their summary waits in the sanitizer build until the suite has printed its own.
fuzzlog=$root/build-asan/fuzz-summary.log
trap 'if [ -n "$fuzzpid" ]; then kill -- -"$fuzzpid" 2>/dev/null || true; fi
  bash scripts/pg.sh stop "$pgdir" || true; bash scripts/wine.sh stop "$winedir" || true' EXIT
pgenv=$(bash scripts/pg.sh start "$pgdir")
eval "$pgenv"
export TW_PG_PORT TW_PG_DIR
wineenv=$(bash scripts/wine.sh start "$winedir" 4)
status=0
(
  eval "$wineenv"
  export WINEPREFIX TW_WINE_DISPLAY TW_WINE_SLOTS
  spec=()
  [ -z "${TW_WINE_RESOURCES:-}" ] || spec=(--resource-spec-file "$TW_WINE_RESOURCES")
  cd build && ctest -j"$jobs" "${spec[@]}" --output-on-failure --timeout 300
) || status=1
# A process group of its own, so that the trap ends the build and the target it runs.
set -m
bash scripts/fuzz.sh --runs 4000 >"$fuzzlog" 2>&1 &
fuzzpid=$!
set +m
(cd build-asan && ctest -j"$jobs" --output-on-failure --timeout 300) || status=1
fuzzstatus=0
wait "$fuzzpid" || fuzzstatus=$?
fuzzpid=""
cat "$fuzzlog"
[ "$fuzzstatus" -eq 0 ] || status=1
exit $status
