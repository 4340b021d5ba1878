#!/usr/bin/env bash
# Checks the lock rules written into the code (os/thread_annotations.h):
# compiles the library's and the virtual device's Linux sources with
# clang -fsyntax-only -Wthread-safety -Werror, and fails on any finding.
# Exit 77 (skipped) without clang.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
clang=${CLANG:-clang++}
command -v "$clang" >/dev/null || { echo "skipped: $clang not installed"; exit 77; }
mapfile -t files < <(find lib sim -name '*.cpp' ! -name '*_win32.cpp' | sort)
failed=0
for f in "${files[@]}"; do
  "$clang" -std=c++17 -fsyntax-only -Wthread-safety -Werror -DKOBLIB_BUILDING \
    -Iinclude -Ilib -Isim -Isim/bootloader "$f" || failed=1
done
[ $failed -eq 0 ] || { echo "thread-safety findings above"; exit 1; }
echo "${#files[@]} files checked with -Wthread-safety"
