#!/usr/bin/env bash
# Builds the library, the virtual device and the clients with gcc's
# coverage instrumentation in a build directory of its own, runs the unit,
# integration, LIRC and MQTT suites there, and prints line and branch coverage
# per room of the tree. A figure to read, not a gate: no threshold.
#   scripts/coverage.sh [--report] [BUILD_DIR]   (default: build-coverage)
# --report: only the report, from the counters of the last run.
# Failed tests are reported but do not stop the report. The LIRC plugin
# runs inside lircd, which the tests stop with a signal: its counters are
# not written, so the lirc room counts only the helpers its unit tests run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
report_only=no
[ "${1:-}" = --report ] && { report_only=yes; shift; }
build=${1:-$here/build-coverage}
command -v gcovr >/dev/null || { echo "gcovr not installed (scripts/setup.sh all)" >&2; exit 1; }
if [ $report_only = no ]; then
# -O0 so that lines map to code one to one; absolute source paths in the
# notes files, which gcovr reads from the build directory. No compiler
# cache: one that rewrites paths relative to a base leaves gcovr without
# the sources.
flags="--coverage -O0 -fprofile-abs-path"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DCMAKE_MODULE_LINKER_FLAGS=--coverage \
  -DKOBLIB_WINDOWS_BUILDS=OFF -DKOBLIB_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
# Counters of an earlier run would add to this one's.
find "$build" -name '*.gcda' -delete
status=0
(cd "$build" && ctest --output-on-failure -j2 --timeout 900 -L "^(unit|integration|lirc|mqtt)$") \
  >"$build/coverage-ctest.log" 2>&1 || status=$?
tail -n 3 "$build/coverage-ctest.log"
[ $status -eq 0 ] || echo "some tests failed (rc $status): see $build/coverage-ctest.log" >&2
fi
# Exception edges and branches the compiler proved unreachable are noise
# in C++ branch figures: left out.
# The tests themselves (tests/ and every room's own tests/) and the build's generated sources are left out.
gcovr -r "$here" --object-directory "$build" --exclude "$here/(.*/)?tests/" --exclude "$here/bench/" \
  --exclude "$build/" --exclude-unreachable-branches --exclude-throw-branches \
  --gcov-ignore-parse-errors -j 2 --json-summary "$build/coverage-summary.json" >/dev/null 2>&1
python3 - "$build/coverage-summary.json" <<'PY'
import json, sys
rooms = {}
for f in json.load(open(sys.argv[1]))["files"]:
    parts = f["filename"].split("/")
    room = "/".join(parts[:2]) if parts[0] in ("lib", "tools") and len(parts) > 2 else parts[0]
    r = rooms.setdefault(room, [0, 0, 0, 0])
    r[0] += f["line_covered"]; r[1] += f["line_total"]
    r[2] += f["branch_covered"]; r[3] += f["branch_total"]
def pct(a, b):
    return "%5.1f%%" % (100.0 * a / b) if b else "    -"
print("| room | lines | line coverage | branches | branch coverage |")
print("|---|---:|---:|---:|---:|")
total = [0, 0, 0, 0]
for room in sorted(rooms):
    r = rooms[room]
    total = [t + x for t, x in zip(total, r)]
    print("| %s | %d/%d | %s | %d/%d | %s |" % (room, r[0], r[1], pct(r[0], r[1]), r[2], r[3], pct(r[2], r[3])))
print("| all | %d/%d | %s | %d/%d | %s |" % (total[0], total[1], pct(total[0], total[1]), total[2], total[3], pct(total[2], total[3])))
PY
