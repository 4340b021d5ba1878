#!/usr/bin/env bash
# Checks that every C and C++ file of the tree is formatted with the
# repository's .clang-format (clang-format 14, Debian 12's): lists the files
# that are not, and fails. Exit 77 (skipped) without that clang-format.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
command -v clang-format >/dev/null || { echo "skipped: clang-format not installed"; exit 77; }
major=$(clang-format --version | sed -n 's/.*version \([0-9]*\).*/\1/p')
# Other versions format some constructs differently.
[ "$major" = 14 ] || { echo "skipped: clang-format $major, the tree is kept with 14"; exit 77; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp')
else
  mapfile -t files < <(find include lib sim example tools lirc tests bench \
                         \( -name '*.c' -o -name '*.h' -o -name '*.cpp' \) | sort)
fi
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "not formatted (run: clang-format -i FILE):"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "${#files[@]} files formatted"
