#!/usr/bin/env bash
# Runs a fuzz target over its seed corpus, then a short run from a fixed seed (new inputs go
# to a throwaway folder, so the run is the same every time and leaves nothing behind).
set -eu
target=$1 corpus=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$target" -runs=0 "$corpus" 2>&1 | tail -1
"$target" -seed=1 -runs=40000 -max_total_time=5 -rss_limit_mb=1024 -timeout=10 "$work" "$corpus" 2>&1 | tail -1
