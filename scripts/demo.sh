#!/usr/bin/env bash
# The main job: builds KOBLIB_SIM and runs KOBLIB_EXAMPLE_SIM against the
# virtual KOB-1, sending the example code of the usage text.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-demo}
"$here/scripts/setup.sh" demo
cmake -S "$here" -B "$build" -DKOBLIB_BUILD_TESTS=OFF -DKOBLIB_BUILD_BENCH=OFF \
  -DKOBLIB_WINDOWS_BUILDS=OFF >/dev/null
cmake --build "$build" -j2 --target KOBLIB_EXAMPLE_SIM >/dev/null
code=$("$build/bin/KOBLIB_EXAMPLE_SIM" | sed -n 's/^e\.g\. KOBLIB_EXAMPLE 2 0 "\(.*\)"$/\1/p')
exec "$build/bin/KOBLIB_EXAMPLE_SIM" 2 0 "$code"
