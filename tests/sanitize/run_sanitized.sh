#!/usr/bin/env bash
# Builds the library and its tests with the given sanitizers in DIR and
# runs the unit and integration suites there; any sanitizer report fails
# the test that raised it.
#   run_sanitized.sh SRC DIR SANITIZERS     (for example address,undefined)
set -euo pipefail
src=$1 dir=$2 sanitizers=$3
cmake -S "$src" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOBLIB_SANITIZE="$sanitizers" \
  -DKOBLIB_WINDOWS_BUILDS=OFF -DKOBLIB_BUILD_BENCH=OFF -DKOBLIB_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j2 >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$src/tests/sanitize/tsan.supp"
# ThreadSanitizer maps its shadow memory at fixed places, which a kernel
# with full address randomisation may already have used: run without it.
wrap=()
if [ "$sanitizers" = thread ] && setarch "$(uname -m)" -R true 2>/dev/null; then
  wrap=(setarch "$(uname -m)" -R)
fi
cd "$dir"
exec "${wrap[@]}" ctest --output-on-failure -j2 --timeout 900 -L "^(unit|integration|stress)$"
