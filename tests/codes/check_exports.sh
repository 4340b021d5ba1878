#!/bin/sh
# Checks that KOBLIB_CODES exports exactly the functions its header
# declares (KOBC_API), nothing more and nothing less.
#   check_exports.sh elf <header> <shared object>
#   check_exports.sh dll <header> <i686 build dir>   (exit 77 without one)
set -u
mode=${1:-} header=${2:-} target=${3:-}
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
[ -f "$header" ] || { echo "$header: no header"; exit 1; }
# "KOBC_API <type> <name>(": the name before the first parenthesis.
sed -n 's/^KOBC_API[^(]*[ *]\(kobc_[a-z_0-9]*\)(.*/\1/p' "$header" | sort -u >"$tmp/expected"
[ -s "$tmp/expected" ] || { echo "$header declares no functions"; exit 1; }
case $mode in
elf)
    [ -f "$target" ] || { echo "$target: not built"; exit 1; }
    nm -D --defined-only "$target" | awk '{ print $NF }' |
        grep -v -x -e _init -e _fini -e _edata -e _end -e __bss_start | sort -u >"$tmp/actual"
    ;;
dll)
    [ -n "$target" ] || { echo "no 32-bit Windows build: skipped"; exit 77; }
    dll=$target/bin/KOBLIB_CODES.dll
    [ -f "$dll" ] || { echo "$dll: not built"; exit 1; }
    objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
    command -v "$objdump" >/dev/null || { echo "$objdump not found: skipped"; exit 77; }
    "$objdump" -p "$dll" | awk '
        /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
        names && /^[ \t]*$/ { names = 0 }
        names { print $NF }' | sort -u >"$tmp/actual"
    ;;
*)
    echo "usage: $0 elf|dll <header> <library | i686 build dir>"
    exit 2
    ;;
esac
missing=$(comm -23 "$tmp/expected" "$tmp/actual")
extra=$(comm -13 "$tmp/expected" "$tmp/actual")
if [ -z "$missing" ] && [ -z "$extra" ]; then
    echo "$target: $(wc -l <"$tmp/expected") exports as declared"
    exit 0
fi
echo "$target: exports differ from $header"
[ -n "$missing" ] && printf 'missing:\n%s\n' "$missing"
[ -n "$extra" ] && printf 'not declared:\n%s\n' "$extra"
exit 1
