#!/bin/sh
# A short run of each benchmark: the figures are printed, and the run
# fails only when a program fails or prints no figure.
set -e
path=$1 latency=$2
"$path" 0.1 1,8,63 | tee /tmp/koblib_bench_smoke.$$
grep -q ': ' /tmp/koblib_bench_smoke.$$
rm -f /tmp/koblib_bench_smoke.$$
"$latency" 200
