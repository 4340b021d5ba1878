#!/bin/sh
# Checks that a built library exports exactly its interface and nothing else.
#   check_exports.sh elf KOBLIB|KOBLIB_SIM <shared object>
#       the defined dynamic symbols, by name
#   check_exports.sh dll KOBLIB <i686 build dir>
#       the export table of <dir>/bin/KOBLIB.dll, by name and ordinal;
#       exit 77 (skipped) when there is no Windows build
set -u

# The 24 exports with their ordinals: 1 to 6 fixed, the rest in this order.
API='1 kob_learnCCF
2 kob_modulation
3 kob_program_wake_from_suspend
4 kob_upgrade
5 kob_upgrade_is_kob
6 kob_upgrade_list_comports
7 kob_blink
8 kob_bootloader
9 kob_close
10 kob_digitalIO
11 kob_disable_wake_from_suspend
12 kob_enable_wake_from_suspend
13 kob_hash
14 kob_ir_compare
15 kob_list
16 kob_open
17 kob_open_ex
18 kob_open_no_cb
19 kob_raw_learn_start
20 kob_raw_learn_stop
21 kob_request_wakeup_info
22 kob_sendCCF
23 kob_stopCCF
24 kob_version'

# The controls of the virtual devices, in KOBLIB_SIM only.
SIM='25 kobsim_attach
26 kobsim_detach
27 kobsim_receive
28 kobsim_buttons
29 kobsim_input
30 kobsim_outputs
31 kobsim_configure
32 kobsim_dropped'

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# compare <what> <expected file> <actual file>: prints the differences.
compare() {
    sort "$2" >"$tmp/e"
    sort "$3" >"$tmp/a"
    missing=$(comm -23 "$tmp/e" "$tmp/a")
    extra=$(comm -13 "$tmp/e" "$tmp/a")
    if [ -z "$missing" ] && [ -z "$extra" ]; then
        echo "$1: $(wc -l <"$tmp/e") exports as expected"
        return 0
    fi
    echo "$1: exports differ"
    [ -n "$missing" ] && printf 'missing:\n%s\n' "$missing"
    [ -n "$extra" ] && printf 'not expected:\n%s\n' "$extra"
    return 1
}

mode=${1:-}
name=${2:-}
target=${3:-}

expected_list() {
    if [ "$name" = KOBLIB_SIM ]; then printf '%s\n%s\n' "$API" "$SIM"; else printf '%s\n' "$API"; fi
}

case $mode in
elf)
    [ -f "$target" ] || { echo "$target: not built"; exit 1; }
    expected_list | awk '{ print $2 }' >"$tmp/expected"
    # Every defined dynamic symbol counts, except those the linker adds to
    # every shared object.
    nm -D --defined-only "$target" | awk '{ print $NF }' |
        grep -v -x -e _init -e _fini -e _edata -e _end -e __bss_start >"$tmp/actual"
    compare "$target" "$tmp/expected" "$tmp/actual"
    ;;
dll)
    if [ -z "$target" ]; then
        echo "no 32-bit Windows build: skipped"
        exit 77
    fi
    dll=$target/bin/$name.dll
    [ -f "$dll" ] || { echo "$dll: not built"; exit 1; }
    objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
    command -v "$objdump" >/dev/null || { echo "$objdump not found: skipped"; exit 77; }
    "$objdump" -p "$dll" >"$tmp/headers" || exit 1
    expected_list >"$tmp/expected"
    # "ordinal name" of every named export. Entries of the name table read
    # "[index] name" or "[index] +base[ordinal] name"; ordinal = index + base.
    awk '
        /Ordinal Base/ { base = $NF }
        /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
        names && /^[ \t]*$/ { names = 0 }
        names {
            line = $0
            gsub(/[][]/, " ", line)
            n = split(line, f, " ")
            ordinal = f[1] + base
            if (f[2] == "+base") ordinal = f[3]
            print ordinal, f[n]
        }
    ' "$tmp/headers" >"$tmp/actual"
    status=0
    compare "$dll (ordinal name)" "$tmp/expected" "$tmp/actual" || status=1
    # Every entry of the address table has a name: nothing is exported by
    # ordinal alone.
    awk '
        /^Export Address Table -- / { table = 1; next }
        table && /^[ \t]*$/ { table = 0 }
        table && /\+base\[/ { line = $0; gsub(/[][]/, " ", line); split(line, f, " "); print f[3] }
    ' "$tmp/headers" >"$tmp/ordinals"
    awk '{ print $1 }' "$tmp/expected" >"$tmp/expected_ordinals"
    compare "$dll (ordinals)" "$tmp/expected_ordinals" "$tmp/ordinals" || status=1
    exit $status
    ;;
*)
    echo "usage: $0 elf KOBLIB|KOBLIB_SIM <library> | dll KOBLIB <i686 build dir>"
    exit 2
    ;;
esac
