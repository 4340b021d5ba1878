#!/usr/bin/env bash
# Installs what building and testing KOBLIB needs on Debian 12 (as root).
# Usage: scripts/setup.sh [demo|all]   (demo: only what the demo needs)
set -euo pipefail
# lirc: the LIRC plugin's tests run their own lircd instances on their own
# sockets; a system lircd that the package may start (systemd units on
# /run/lirc) is neither used nor in their way.
what=${1:-all}
pkgs=(cmake g++ make pkg-config libudev-dev libssl-dev)
if [ "$what" = all ]; then
  pkgs+=(googletest libgtest-dev libgmock-dev libbenchmark-dev binutils srecord
         g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 wine64
         qemu-system-x86 busybox-static cpio libhidapi-hidraw0
         liblirc-dev lirc)
  pkgs+=(python3 python3-pytest python3-pip python3-setuptools python3-wheel libcli11-dev nlohmann-json3-dev clang libclang-rt-14-dev clang-format ccache gcovr)
  # stress-ng: CPU hogs beside the suites, to check that their tests hold on a loaded machine.
  pkgs+=(stress-ng)
  # kob-mqtt and its tests: a real broker, its clients, certificates.
  pkgs+=(libmosquitto-dev mosquitto mosquitto-clients openssl)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
# The VM suite fetches the kernel package with apt: it needs package lists.
lists_needed=no
[ "$what" = all ] && ! apt-cache show linux-image-amd64 >/dev/null 2>&1 && lists_needed=yes
if [ ${#missing[@]} -gt 0 ] || [ $lists_needed = yes ]; then
  $sudo apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >/dev/null
fi
