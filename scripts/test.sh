#!/usr/bin/env bash
# Sets up, builds (Linux, and Windows i686 + x86_64 with MinGW-w64) and
# runs every test suite: unit, integration, wine, vm, lirc.
# Extra arguments go to ctest (for example: -L unit).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/setup.sh" all
# Compiler cache for the several builds below (plain, Windows, sanitizers,
# fuzzing): a second run, or another clone of the same tree, rebuilds
# little.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$here}
fi
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
cd "$build"
ctest --output-on-failure -j2 --timeout 600 "$@"
