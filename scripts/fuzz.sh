#!/usr/bin/env bash
# fuzz.sh [seconds]: builds the libFuzzer targets of fuzz/ with clang (address and
# undefined-behaviour sanitizers) into build-fuzz and runs each for that many seconds
# (default 60), growing a working corpus in build-fuzz/corpus/<target> from the seeds in
# fuzz/corpus/<target>. Inputs that fail land in build-fuzz/artifacts/.
# fuzz.sh --runs N: runs each target for N inputs from the seeds alone, with a fixed random
# seed (the check scripts/test.sh makes). Either way the exit status is 1 when a target fails.
# TW_JOBS sets the build's parallelism (default: every processor).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build-fuzz
runs=""
seconds=60
case "${1:-}" in
  --runs) runs=${2:?"--runs needs a count"} ;;
  "") ;;
  *) seconds=$1 ;;
esac

source "$root/scripts/ccache.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" -DTW_FUZZ=ON -DTW_TESTS=OFF \
  -DTW_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-g -O1" \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" >/dev/null
cmake --build "$dir" -j"${TW_JOBS:-$(nproc)}" --target fuzz

mkdir -p "$dir/artifacts" "$dir/logs"
# Targets that need files make them under TMPDIR; a target that fails leaves them here.
export TMPDIR=$dir/tmp
rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
status=0
for seeds in "$root"/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  program=$dir/fuzz/fuzz_$name
  log=$dir/logs/$name.log
  # The targets' own output (trace lines, reports) is closed off; failures still show.
  args=(-timeout=30 -rss_limit_mb=2048 -close_fd_mask=3 -artifact_prefix="$dir/artifacts/$name-")
  if [ -n "$runs" ]; then
    work=$(mktemp -d)
    args+=(-runs="$runs" -seed=1 "$work" "$seeds")
  else
    work=$dir/corpus/$name
    mkdir -p "$work"
    args+=(-max_total_time="$seconds" "$work" "$seeds")
  fi
  start=$(date +%s%N)
  if "$program" "${args[@]}" >"$log" 2>&1; then result=ok; else result=FAILED; status=1; fi
  tenths=$((($(date +%s%N) - start) / 100000000))
  if [ -n "$runs" ]; then rm -rf "$work"; fi
  executed=$(grep -oE '^(#[0-9]+)[[:space:]]+DONE' "$log" | grep -oE '[0-9]+' | tail -1 || true)
  printf 'fuzz %-15s %-6s %8s inputs %5d.%d s\n' "$name" "$result" "${executed:-?}" \
    $((tenths / 10)) $((tenths % 10))
  if [ "$result" != ok ]; then tail -n 40 "$log"; fi
done
exit $status
