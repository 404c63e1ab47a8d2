#!/usr/bin/env bash
# build.sh DIR [cmake args...]: configures (once) and builds the tree into DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
source "$root/scripts/ccache.sh"
cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j"${TW_JOBS:-$(nproc)}"
