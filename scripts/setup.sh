#!/usr/bin/env bash
# Installs what building and testing KOBLIB needs on Debian 12 (as root).
# Usage: scripts/setup.sh [demo|all]   (demo: only what the demo needs)
set -euo pipefail
what=${1:-all}
pkgs=(cmake g++ make pkg-config libudev-dev libssl-dev)
if [ "$what" = all ]; then
  pkgs+=(googletest libgtest-dev libgmock-dev libbenchmark-dev binutils
         g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 wine64
         qemu-system-x86 busybox-static cpio libhidapi-hidraw0)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
