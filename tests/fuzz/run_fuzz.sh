#!/usr/bin/env bash
# Builds and runs the libFuzzer harnesses in a clang build of their own.
#   run_fuzz.sh build   SRC DIR               configure and build them
#   run_fuzz.sh regress SRC DIR NAME          run NAME over its corpus and
#                                             regression inputs, once each
#   run_fuzz.sh fuzz    SRC DIR NAME SECONDS  fuzz NAME for SECONDS from its
#                                             corpus (new inputs go to DIR)
# Exits 77 (skipped) only when clang or its fuzzer runtime is missing; a
# finding (a crash, a failed check, a sanitizer report, a leak, a hang or
# running out of memory) exits 1, so that its test fails.
set -euo pipefail
mode=$1 src=$2 dir=$3
if ! command -v clang++ >/dev/null ||
   ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
  echo "SKIP: clang++ with libFuzzer (clang, libclang-rt-14-dev) is not installed"
  exit 77
fi
if [ "$mode" = build ]; then
  cmake -S "$src" -B "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOBLIB_FUZZ=ON -DKOBLIB_WINDOWS_BUILDS=OFF \
    -DKOBLIB_BUILD_BENCH=OFF -DKOBLIB_SANITIZE="address,undefined,fuzzer-no-link" >/dev/null
  exec cmake --build "$dir" --target koblib_fuzzers -j2
fi
name=$4
fuzzer=$dir/bin/fuzz_$name
here=$src/tests/fuzz
[ -x "$fuzzer" ] || { echo "no $fuzzer: run the fuzz.build test first"; exit 1; }
# Any sanitizer report is a failure, undefined behaviour included.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# libFuzzer's own exit code for a finding is 77, the skip code.
findings="-error_exitcode=1 -timeout_exitcode=1"
if [ "$mode" = regress ]; then
  exec "$fuzzer" $findings -runs=0 "$here/corpus/$name" "$here/regressions/$name"
fi
work=$dir/corpus/$name
mkdir -p "$work"
# A single input that runs a minute is a hang.
exec "$fuzzer" $findings -max_total_time="$5" -print_final_stats=1 -timeout=60 -rss_limit_mb=4096 \
  -artifact_prefix="$dir/crash-$name-" "$work" "$here/corpus/$name"
