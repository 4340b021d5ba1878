#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds and runs a host
# program against it through find_package and through pkg-config.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in include/koblib.h include/koblib_codes.h lib/udev/rules.d/70-kob1.rules; do
  [ -f "$work/prefix/$f" ] || { echo "missing $f"; exit 1; }
done
ls "$work"/prefix/lib*/libKOBLIB.so* "$work"/prefix/lib*/libKOBLIB_CODES.so >/dev/null
export PKG_CONFIG_PATH=$(echo "$work"/prefix/lib*/pkgconfig)
cmake -S "$source" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
libdir=$(dirname "$(ls "$work"/prefix/lib*/libKOBLIB.so | head -1)")
for program in consumer_cmake consumer_pkgconfig; do
  LD_LIBRARY_PATH=$libdir "$work/consumer/$program"
done
