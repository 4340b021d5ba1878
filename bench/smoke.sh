#!/bin/sh
# A short run of each benchmark: the figures are printed, and the run
# fails only when a program fails or prints no figure.
set -e
path=$1 worker=$2 latency=$3 decode=$4
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$path" 0.1 1,8,63 | tee "$out"
"$worker" 500 0.5 | tee -a "$out"
"$latency" 200 | tee -a "$out"
"$decode" 0.1 20000 | tee -a "$out"
if [ -n "$5" ]; then "$5" --benchmark_min_time=0.01 | tee -a "$out"; fi
grep -q ': ' "$out"
