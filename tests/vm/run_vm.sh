#!/usr/bin/env bash
# Boots a Debian kernel in qemu (TCG) with a small initramfs, runs one
# program inside it and turns the verdict line that the VM prints on its
# serial console into this script's exit status.
#
# Usage: run_vm.sh [--work DIR] [--modules "m1 m2"] [--lib NAME]...
#                  [--timeout SECONDS] PROGRAM [ARG...]
#   --work DIR      where the initramfs and the console log go
#   --modules LIST  kernel modules to load inside, in this order; their
#                   dependencies are loaded first
#   --lib NAME      a shared library that the program loads at run time
#                   (for example libhidapi-hidraw.so.0), copied in with its
#                   own dependencies; one the host lacks is left out
#   --timeout S     hard limit for the whole VM run (default 240)
#   --boot-timeout S  limit for the guest to reach its init, which prints
#                   a first line at once (default 40); a guest that stays
#                   silent longer is a failure, not a wait for --timeout
# Environment: KOBLIB_VM_CACHE, the kernel cache (default
# ${XDG_CACHE_HOME:-~/.cache}/koblib-vm); KOBLIB_VM_ACCEL=tcg|kvm picks
# the accelerator (default: KVM when /dev/kvm is usable and a KVM guest
# reaches its init within a few seconds, else TCG); KOBLIB_VM_APPEND,
# extra kernel arguments (for example to test a boot that hangs).
#
# Exit status: 0 when the program passed; 77 (skipped) when qemu, busybox,
# cpio or a kernel cannot be had, or the program itself skipped; 1 on a
# failure, a time-out or a missing verdict. qemu never outlives this script.
set -uo pipefail

readonly verdict_tag="KOBLIB-VM-EXIT"
readonly booted_tag="KOBLIB-VM-INIT"
work=""
modules=""
libs=()
timeout_s=240
boot_timeout_s=40

while [ $# -gt 0 ]; do
  case "$1" in
    --work) work=$2; shift 2 ;;
    --modules) modules=$2; shift 2 ;;
    --lib) libs+=("$2"); shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --boot-timeout) boot_timeout_s=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "run_vm.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: run_vm.sh [options] PROGRAM [ARG...]" >&2; exit 2; }
program=$(readlink -f "$1")
shift
program_args=("$@")

skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

# ---------------------------------------------------------------- tools
qemu=$(command -v qemu-system-x86_64) || skip "qemu-system-x86_64 not installed (package qemu-system-x86)"
busybox=""
for candidate in /bin/busybox /usr/bin/busybox; do
  if [ -x "$candidate" ] && ! ldd "$candidate" >/dev/null 2>&1; then busybox=$candidate; break; fi
done
[ -n "$busybox" ] || skip "no static busybox (package busybox-static)"
command -v cpio >/dev/null || skip "cpio not installed"
[ -x "$program" ] || fail "program $program not found"

# --------------------------------------------------------------- kernel
cache=${KOBLIB_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/koblib-vm}
mkdir -p "$cache" || skip "cannot create the kernel cache $cache"

# Modules any VM test may ask for; the cache keeps them and their
# dependencies, uncompressed.
readonly wanted_modules="hid hid-generic uhid usb-common usbcore usbhid udc-core dummy_hcd
  configfs libcomposite usb_f_hid"

# Copies module $1 and its dependencies from the extracted tree $2 into
# the cache directory $3 as NAME.ko plus NAME.dep (its dependency list).
copy_module() {
  local name=$1 tree=$2 dest=$3 file dep
  [ -f "$dest/$name.ko" ] && return 0
  file=$(find "$tree" \( -name "$name.ko" -o -name "$name.ko.xz" -o -name "${name//-/_}.ko" \
           -o -name "${name//-/_}.ko.xz" -o -name "${name//_/-}.ko" -o -name "${name//_/-}.ko.xz" \) \
           -print -quit)
  [ -n "$file" ] || { echo "module $name not in the kernel package" >&2; return 1; }
  case "$file" in
    *.xz) xz -dc "$file" >"$dest/$name.ko.part" || return 1 ;;
    *) cp "$file" "$dest/$name.ko.part" || return 1 ;;
  esac
  mv "$dest/$name.ko.part" "$dest/$name.ko"
  grep -a -o 'depends=[A-Za-z0-9_,-]*' "$dest/$name.ko" | head -n1 | cut -d= -f2 | tr ',' ' ' \
    >"$dest/$name.dep"
  for dep in $(cat "$dest/$name.dep"); do copy_module "$dep" "$tree" "$dest" || return 1; done
}

# Prints the cache directory of a ready kernel, fetching one if needed.
fetch_kernel() {
  local package dir tmp deb
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
            awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  if [ -n "$package" ] && [ -f "$cache/$package/ready" ]; then echo "$cache/$package"; return 0; fi
  if [ -z "$package" ]; then
    # No package lists: any kernel fetched before will do.
    dir=$(ls -d "$cache"/linux-image-*/ 2>/dev/null | sort -V | tail -n1)
    if [ -n "$dir" ] && [ -f "$dir/ready" ]; then echo "${dir%/}"; return 0; fi
    echo "no linux-image-amd64 in the package lists (run apt-get update)" >&2
    return 1
  fi
  tmp=$(mktemp -d "$cache/fetch.XXXXXX") || return 1
  echo "fetching $package (once; cached in $cache)" >&2
  if ! (cd "$tmp" && apt-get download "$package" >/dev/null 2>&1); then
    # The lists may name a version the mirror no longer has.
    if [ "$(id -u)" -eq 0 ] && apt-get update -qq >/dev/null 2>&1 &&
       (cd "$tmp" && apt-get download "$package" >/dev/null 2>&1); then :; else
      echo "apt-get download $package failed" >&2
      rm -rf "$tmp"
      return 1
    fi
  fi
  deb=$(ls "$tmp"/*.deb)
  mkdir -p "$tmp/tree" "$tmp/out"
  if ! dpkg-deb -x "$deb" "$tmp/tree"; then rm -rf "$tmp"; return 1; fi
  local vmlinuz
  vmlinuz=$(ls "$tmp"/tree/boot/vmlinuz-* 2>/dev/null | head -n1)
  [ -n "$vmlinuz" ] || { echo "no vmlinuz in $deb" >&2; rm -rf "$tmp"; return 1; }
  cp "$vmlinuz" "$tmp/out/vmlinuz"
  local m
  for m in $wanted_modules; do
    copy_module "$m" "$tmp/tree/lib/modules" "$tmp/out" || { rm -rf "$tmp"; return 1; }
  done
  touch "$tmp/out/ready"
  rm -rf "${cache:?}/$package"
  mv "$tmp/out" "$cache/$package"
  rm -rf "$tmp"
  # Kernels the package lists no longer name are not needed again.
  for dir in "$cache"/linux-image-*; do
    [ "$dir" = "$cache/$package" ] || rm -rf "$dir"
  done
  echo "$cache/$package"
}

exec 9>"$cache/.lock"
flock -w 900 9 || skip "the kernel cache $cache stays locked"
kernel_dir=$(fetch_kernel) || skip "no kernel to boot"
flock -u 9

# ------------------------------------------------------------ initramfs
[ -n "$work" ] || work=$(mktemp -d "${TMPDIR:-/tmp}/koblib-vm.XXXXXX")
root="$work/root"
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,lib/modules,opt/koblib/bin,opt/koblib/lib} || exit 1
cp "$busybox" "$root/bin/busybox"

# Module load order: dependencies first, each once.
order=()
add_module() {
  local name=$1 dep have
  for have in "${order[@]}"; do [ "$have" = "$name" ] && return 0; done
  [ -f "$kernel_dir/$name.ko" ] || fail "module $name not in the kernel cache $kernel_dir"
  for dep in $(cat "$kernel_dir/$name.dep"); do add_module "$dep"; done
  order+=("$name")
  cp "$kernel_dir/$name.ko" "$root/lib/modules/"
}
for m in $modules; do add_module "$m"; done
printf '%s\n' "${order[@]}" >"$root/lib/modules/order"

# The program, the run-time libraries, and everything they link.
copy_with_deps() {
  local file=$1 dep
  cp -L "$file" "$root/opt/koblib/lib/$(basename "$file")" 2>/dev/null
  for dep in $(ldd "$file" 2>/dev/null | awk '/=> \// { print $3 } /^[ \t]*\/[^ ]+ \(/ { print $1 }'); do
    case "$dep" in
      */ld-linux*) mkdir -p "$root/$(dirname "$dep")"; cp -L "$dep" "$root/$dep" ;;
      *) [ -f "$root/opt/koblib/lib/$(basename "$dep")" ] || cp -L "$dep" "$root/opt/koblib/lib/" ;;
    esac
  done
}
cp "$program" "$root/opt/koblib/bin/"
copy_with_deps "$program"
rm -f "$root/opt/koblib/lib/$(basename "$program")"
for lib in "${libs[@]}"; do
  path=$(ldconfig -p 2>/dev/null | awk -v n="$lib" '$1 == n && /x86-64/ { print $NF; exit }')
  if [ -n "$path" ]; then copy_with_deps "$path"; else echo "note: $lib not installed; left out"; fi
done
# Debug information only slows the VM's start.
if command -v strip >/dev/null; then
  for f in "$root"/opt/koblib/bin/* "$root"/opt/koblib/lib/*; do
    strip --strip-debug "$f" 2>/dev/null || true
  done
fi
# The dynamic loader also at the path the program names.
interp=$(readelf -l "$program" 2>/dev/null | sed -n 's/.*interpreter: \(.*\)]/\1/p')
if [ -n "$interp" ] && [ ! -e "$root$interp" ]; then
  mkdir -p "$root/$(dirname "$interp")"
  cp -L "$interp" "$root$interp"
fi

args=""
for a in "${program_args[@]}"; do args+=" '${a//\'/\'\\\'\'}'"; done
cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox echo "$booted_tag"
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
for m in \$(cat /lib/modules/order); do
  insmod /lib/modules/\$m.ko || echo "insmod \$m failed"
done
[ -d /sys/kernel/config ] && mount -t configfs configfs /sys/kernel/config
cd /tmp
export KOBLIB_VM=1 GTEST_COLOR=no
LD_LIBRARY_PATH=/opt/koblib/lib /opt/koblib/bin/$(basename "$program")$args
echo "$verdict_tag \$?"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio" || fail "cpio failed"

# ----------------------------------------------------------------- boot
log="$work/console.log"
qemu_pid=""
watchdog_pid=""
tail_pid=""
stop_vm() {
  [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
  watchdog_pid=""
  if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill -KILL "$qemu_pid" 2>/dev/null
    wait "$qemu_pid" 2>/dev/null
  fi
  qemu_pid=""
  [ -n "$tail_pid" ] && { kill "$tail_pid" 2>/dev/null; wait "$tail_pid" 2>/dev/null; }
  tail_pid=""
}
trap stop_vm EXIT
trap 'exit 1' INT TERM HUP

last_lines() {
  echo "last console lines (accelerator $1):"
  if [ -s "$log" ]; then tr -d '\r' <"$log" | tail -n 15 | sed 's/^/  | /'; else echo "  (none: the guest printed nothing)"; fi
}

# Boots once with accelerator $1 ("kvm" or "tcg"); the guest must reach
# its init within $2 seconds. Sets vm_status to qemu's exit status, 137
# when the hard limit stopped it, or "silent" when init was not reached.
boot() {
  local accel=$1 boot_limit=$2 waited=0
  : >"$log"
  local start
  start=$(date +%s)
  "$qemu" -machine pc -accel "$accel" -m 512 -smp 1 -nodefaults -no-user-config \
    -display none -serial "file:$log" -no-reboot \
    -kernel "$kernel_dir/vmlinuz" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 ${KOBLIB_VM_APPEND:-}" </dev/null &
  qemu_pid=$!
  # The hard limit: kills qemu even if this script itself is killed.
  (
    trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
    sleep "$timeout_s" &
    sleeper=$!
    wait "$sleeper" && kill -KILL "$qemu_pid" 2>/dev/null
  ) </dev/null >/dev/null 2>&1 &
  watchdog_pid=$!
  tail -n +1 -f --pid="$qemu_pid" "$log" 2>/dev/null | tr -d '\r' &
  tail_pid=$!
  # A guest that never reaches init (a hanging accelerator, a kernel that
  # stops) is found here within the boot limit.
  while ! grep -q "^$booted_tag" "$log" 2>/dev/null; do
    kill -0 "$qemu_pid" 2>/dev/null || break
    if [ "$waited" -ge $((boot_limit * 5)) ]; then
      stop_vm
      vm_status=silent
      echo "(VM with $accel did not reach its init within ${boot_limit} s)"
      return
    fi
    sleep 0.2
    waited=$((waited + 1))
  done
  wait "$qemu_pid"
  vm_status=$?
  qemu_pid=""
  wait "$tail_pid" 2>/dev/null
  tail_pid=""
  [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
  watchdog_pid=""
  echo "(VM ran $(($(date +%s) - start)) s with $accel)"
}

# The accelerator: KVM only where /dev/kvm can be opened and a KVM guest
# proves itself by reaching init quickly; a KVM that hangs is remembered
# in the kernel cache for this host kernel, so that later runs go to TCG
# at once.
kvm_broken="$cache/kvm-unusable"
case "${KOBLIB_VM_ACCEL:-auto}" in
  tcg) candidates=(tcg) ;;
  kvm) [ -r /dev/kvm ] && [ -w /dev/kvm ] || fail "KOBLIB_VM_ACCEL=kvm but /dev/kvm cannot be opened"
       candidates=(kvm) ;;
  auto) candidates=(tcg)
        if [ -r /dev/kvm ] && [ -w /dev/kvm ] &&
           [ "$(cat "$kvm_broken" 2>/dev/null)" != "$(uname -r)" ]; then candidates=(kvm tcg); fi ;;
  *) fail "KOBLIB_VM_ACCEL must be tcg or kvm, not '$KOBLIB_VM_ACCEL'" ;;
esac
for accel in "${candidates[@]}"; do
  limit=$boot_timeout_s
  # A working KVM reaches init in about a second; a probe of a few
  # seconds decides whether TCG has to take over.
  [ "$accel" = kvm ] && [ ${#candidates[@]} -gt 1 ] && limit=10
  echo "(VM accelerator: $accel)"
  boot "$accel" "$limit"
  [ "$vm_status" = silent ] || break
  if [ "$accel" = kvm ] && [ ${#candidates[@]} -gt 1 ]; then
    last_lines kvm
    echo "KVM guest stayed silent: falling back to TCG"
  fi
done
# Remember a KVM that hung only when TCG then booted the same guest.
if [ ${#candidates[@]} -gt 1 ] && [ "$accel" = tcg ] && [ "$vm_status" != silent ]; then
  uname -r >"$kvm_broken" 2>/dev/null && echo "(KVM is not used again on this host kernel: $kvm_broken)"
fi

if [ "$vm_status" = silent ]; then
  last_lines "$accel"
  fail "the VM ($accel) did not reach its init within ${limit} s"
fi
if [ "$vm_status" -eq 137 ]; then
  last_lines "$accel"
  fail "time-out: the VM ($accel) was stopped after ${timeout_s} s"
fi
verdict=$(tr -d '\r' <"$log" | sed -n "s/^$verdict_tag \([0-9]*\)\$/\1/p" | tail -n1)
if [ -z "$verdict" ]; then
  last_lines "$accel"
  fail "no verdict on the console (qemu exit $vm_status, accelerator $accel)"
fi
case "$verdict" in
  0) exit 0 ;;
  77) echo "skipped inside the VM"; exit 77 ;;
  *) fail "the program exited with $verdict" ;;
esac
