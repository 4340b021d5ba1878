#!/usr/bin/env bash
# KOBLIB_EXAMPLE_SIM from the outside: its command lines, its output for
# each mode against the virtual KOB-1, and its exit status.
# Usage: example_test.sh <program> [runner...]   (runner: e.g. the Wine wrapper)
set -u
program=$1
shift
run() { "$@" "$program" "${args[@]}"; }
failures=0
check() {  # check <name> <condition-exit-status>
  if [ "$2" -eq 0 ]; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
strip() { tr -d '\r'; }

code='0000 006E 0022 0022 0156 00A9 0015 0012 0015 003E 0015 003E 0015 003E 0015 0012 0015 003E 0015 003E 0015 0012 0015 003E 0015 0012 0015 0015 0015 0015 0015 003E 0015 0012 0015 0015 0015 003E 0015 0012 0015 003E 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 003E 0015 0015 0015 003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 05EF 0156 00A9 0015 0015 0015 003E 0015 003E 0015 003E 0015 0015 0015 003E 0015 003E 0015 0015 0015 003E 0015 0015 0015 0015 0015 0015 0015 003E 0015 0015 0015 0015 0015 003E 0015 0015 0015 003E 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 003E 0015 0015 0015 003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 05EF'
usage="KOBLIB EXAMPLE Applicationq
To listen for IR signals type KOBLIB_EXAMPLE listen
To set digital IO KOBLIB_EXAMPLE CMD VAL
To send an IR code type KOBLIB_EXAMPLE <BITMASK> <REPEAT> \"<IRCODE>\"
e.g. KOBLIB_EXAMPLE 2 0 \"$code\""

for n in 0 4 5; do
  args=()
  for ((k = 0; k < n; k++)); do args+=("a$k"); done
  out=$(run "$@" </dev/null | strip; exit "${PIPESTATUS[0]}"); status=$?
  [ "$out" = "$usage" ]; check "usage text with $n arguments" $?
  check "exit status 0 with $n arguments" "$status"
done

# Listening ends at a lowercase q (and at the end of input); Q and other
# keys do not end it. Any single argument listens.
for word in listen x; do
  args=("$word")
  out=$(printf 'Qa!q' | run "$@" | strip; exit "${PIPESTATUS[1]}"); status=$?
  echo "$out" | grep -qx '(SIM-0001) 0 - KOB arrived'; check "$word: arrival" $?
  [ "$(echo "$out" | tail -1)" = '(SIM-0001) 1 - KOB removed' ]; check "$word: removal last" $?
  check "$word: exit 0" "$status"
done

args=(44 5)
out=$(run "$@" </dev/null | strip)
echo "$out" | grep -qx 'DigitalIO (SIM-0001) : 44 5'; check "digital I/O answer" $?

args=(2 0 "$code")
out=$(run "$@" </dev/null | strip)
echo "$out" | grep -qxF "Sending $code"; check "Sending line" $?
echo "$out" | grep -qx '(SIM-0001) IR Sent: 0'; check "IR Sent" $?
# The leader as the receiver reports it, by the CCF clock (a word w stands
# for 0x400000 / w Hz): periods to whole microseconds, then to 4 us ticks.
read -ra words <<<"$code"
leader=
for k in 4 5; do
  us=$(( (16#${words[k]} * 16#${words[1]} * 2000000 + 4194304) / 8388608 ))
  leader+=$(printf ' %04X' $(( (us + 2) / 4 )))
done
frames=$(echo "$out" | grep -cE "^\(SIM-0001\) [0-9a-f]{32} \(raw=FFFF$leader ")
[ "$frames" -eq 1 ]; check "first looped-back frame with its digest" $?
received=$(echo "$out" | grep -cE '^\(SIM-0001\) [0-9a-f]{32} \(raw=([0-9A-F]{4} )+\)$')
[ "$received" -eq 2 ]; check "two frames (once, one repeat)" $?
digests=$(echo "$out" | grep -oE '^\(SIM-0001\) [0-9a-f]{32}' | sort -u | wc -l)
[ "$digests" -eq 1 ]; check "both frames have one digest" $?

echo "$failures failed"
[ "$failures" -eq 0 ]
