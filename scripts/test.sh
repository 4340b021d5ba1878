#!/usr/bin/env bash
# Sets up, builds (Linux, and Windows i686 + x86_64 with MinGW-w64) and
# runs every test suite: unit, integration, wine, vm, lirc.
# Extra arguments go to ctest (for example: -L unit).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/setup.sh" all
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
cd "$build"
ctest --output-on-failure -j2 --timeout 600 "$@"
